#pragma once
#include <QString>
#include <QStringList>
#include <QHash>
#include <QPair>
#include <QVector>
#include <functional>
#include <optional>

// Item list: each item is followed by ","; text after the last "," is no item.
QStringList SplitItems(const QString& text);

// Names (without folder) of the files in folder whose extension, ignoring letter case,
// equals ext (given with its dot, e.g. ".apf"). Hidden files and sub-folders are never
// listed; the names come in alphabetical order ignoring letter case. The process's
// current folder is left alone. Throws EVeltraneError when the folder cannot be listed.
QStringList ListFilesByExtension(const QString& folder, const QString& ext);

// appDir + "Profiles/" + name + ".apf" when that file exists; otherwise the file in
// Profiles/ whose name matches name + ".apf" ignoring letter case (so "Name.APF" is
// found); otherwise the plain path. appDir ends in the separator.
QString ProfilePath(const QString& appDir, const QString& name);

// One profile parameter as the file holds it, every key read with its default.
struct ProfileParameter {
    QString name;
    int sort = -1;         // 1 video, 2 audio, 3 advanced
    bool readOnly = false;
    bool list = true;
    QString caption;
    QString value;
    int index = 0;
    QString cmd;
};

struct ProfileContent {
    QString type;                       // "Type", default "mp4"
    QVector<ProfileParameter> parameters; // in the order of "Main" keys 0 .. Para-1
};

class TIniFile;

// The most parameters a profile may have.
constexpr qint32 kMaxProfileParameters = 10000;

// The profile's parameter count ("Para" in "Main", default 0). Throws EVeltraneError,
// naming the file, when the file cannot be read, claims more parameters than it has
// sections (each parameter has a section of its own), or has more than kMaxProfileParameters.
qint32 ProfileParameterCount(const TIniFile& ini);

// Reads a profile file through the INI store. A missing file reads as the defaults; a
// damaged one throws as ProfileParameterCount does.
ProfileContent ReadProfile(const QString& path);

// What the profile dialog's grids show right after a profile is loaded into them, keyed
// by grid ("Sort" 1..3) and parameter name: a list row shows the "Caption" item at
// "Index", a text row its "Caption"; the first row of a name counts, and a parameter of no
// grid has no row. Throws EListIndexError at the first bad "Index", where loading stops.
QHash<QPair<int, QString>, QString> LoadedGridValues(const ProfileContent& content);

// The item at index; throws EListIndexError when index is not a position in items.
QString ItemAt(const QStringList& items, int index);

// Position of text among items ignoring letter case, first match first; -1 when absent.
int FindItem(const QStringList& items, const QString& text);

// What a grid shows for one parameter: its text and, for a pick-list row, its items.
struct GridRowValue {
    QString value;
    QStringList items;
};
using GridRowLookup = std::function<std::optional<GridRowValue>(int sort, const QString& name)>;

// The "Index" stored for a list row whose text is not among its items (a custom video
// size): the position of "Original Size" when the list has it, else 0; -1 for an empty list.
int IndexForUnlistedValue(const QStringList& items);

// Writes the current values of the profile's editable parameters into the file at path:
// "Index" for list parameters, "Caption" and "Value" for text parameters. Read-only
// parameters, parameters without a row and every other key stay as they are.
// Throws EVeltraneError when the file cannot be written.
void SaveProfileValuesTo(const QString& path, const GridRowLookup& rowOf);

// Copies a profile file to target, replacing a file already there. The target is
// written whole or not at all; a read-only target is refused, also for the super-user.
// Throws EVeltraneError "Unable to read <source>: …" or "Unable to write to <target>"
// when the copy cannot be made.
void CopyProfileFile(const QString& source, const QString& target);
