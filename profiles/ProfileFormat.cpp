#include "profiles/ProfileFormat.h"
#include "app/VtError.h"
#include "profiles/IniFile.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

namespace {
const QString kMain = QStringLiteral("Main");
const QString kProfilesFolder = QStringLiteral("Profiles/");
const QString kProfileExt = QStringLiteral(".apf");
} // namespace

QStringList SplitItems(const QString& text)
{
    QStringList items;
    QString rest = text;
    int comma;
    while ((comma = rest.indexOf(QLatin1Char(','))) >= 0) {
        items << rest.left(comma);
        rest = rest.mid(comma + 1);
    }
    return items;
}

QStringList ListFilesByExtension(const QString& folder, const QString& ext)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        throw EVeltraneError(QStringLiteral("Unable to list the folder %1: it does not exist").arg(folder));
    if (!info.isReadable())
        throw EVeltraneError(QStringLiteral("Unable to list the folder %1: it cannot be read").arg(folder));

    const QString wanted = ext.toLower();
    QStringList names;
    // Without QDir::Hidden and QDir::System, dot-files and special files stay out.
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort)) {
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0 && name.mid(dot).toLower() == wanted)
            names << name;
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b; // names differing in case only: a fixed order
    });
    return names;
}

QString ProfilePath(const QString& appDir, const QString& name)
{
    const QString folder = appDir + kProfilesFolder;
    const QString plain = folder + name + kProfileExt;
    const QFileInfo plainInfo(plain);
    if (plainInfo.exists() && !plainInfo.isDir())
        return plain;
    // Our file system tells case apart; a profile listed as "Name.APF" must still be found.
    const QString wanted = name + kProfileExt;
    const QDir dir(folder);
    if (!name.isEmpty() && dir.exists()) {
        QStringList matches;
        for (const QString& entry : dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
            if (QString::compare(entry, wanted, Qt::CaseInsensitive) == 0)
                matches << entry;
        if (!matches.isEmpty())
            return folder + matches.first();
    }
    return plain;
}

qint32 ProfileParameterCount(const TIniFile& ini)
{
    ini.CheckReadable();
    const qint32 count = ini.GetInteger(kMain, QStringLiteral("Para"), 0);
    const int sections = ini.SectionCount();
    if (count > sections)
        throw EVeltraneError(QStringLiteral("The profile %1 is damaged: it names %2 parameters but holds only %3 sections")
                                 .arg(QFileInfo(ini.FileName()).absoluteFilePath())
                                 .arg(count)
                                 .arg(sections));
    // No window shows so many rows, nor does the system pass so many switches to a program;
    // reading them all would only take minutes and memory.
    if (count > kMaxProfileParameters)
        throw EVeltraneError(QStringLiteral("The profile %1 has %2 parameters; at most %3 are accepted")
                                 .arg(QFileInfo(ini.FileName()).absoluteFilePath())
                                 .arg(count)
                                 .arg(kMaxProfileParameters));
    return count;
}

ProfileContent ReadProfile(const QString& path)
{
    const TIniFile ini(path);
    ProfileContent content;
    const int count = ProfileParameterCount(ini);
    content.type = ini.GetText(kMain, QStringLiteral("Type"), QStringLiteral("mp4"));
    content.parameters.reserve(qMax(count, 0));
    for (int i = 0; i < count; ++i) {
        ProfileParameter p;
        p.name = ini.GetText(kMain, QString::number(i), QString());
        p.sort = ini.GetInteger(p.name, QStringLiteral("Sort"), -1);
        p.readOnly = ini.GetFlag(p.name, QStringLiteral("ReadOnly"), false);
        p.list = ini.GetFlag(p.name, QStringLiteral("List"), true);
        p.caption = ini.GetText(p.name, QStringLiteral("Caption"), QString());
        p.value = ini.GetText(p.name, QStringLiteral("Value"), QString());
        p.index = ini.GetInteger(p.name, QStringLiteral("Index"), 0);
        p.cmd = ini.GetText(p.name, QStringLiteral("cmd"), QString());
        content.parameters.append(p);
    }
    return content;
}

QHash<QPair<int, QString>, QString> LoadedGridValues(const ProfileContent& content)
{
    QHash<QPair<int, QString>, QString> shown;
    for (const ProfileParameter& p : content.parameters) {
        if (p.sort < 1 || p.sort > 3)
            continue;
        const QString value = p.list ? ItemAt(SplitItems(p.caption), p.index) : p.caption;
        if (!shown.contains({p.sort, p.name}))
            shown.insert({p.sort, p.name}, value);
    }
    return shown;
}

QString ItemAt(const QStringList& items, int index)
{
    if (index < 0 || index >= items.size())
        throw EListIndexError(index);
    return items.at(index);
}

int FindItem(const QStringList& items, const QString& text)
{
    for (int i = 0; i < items.size(); ++i)
        if (QString::compare(items.at(i), text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int IndexForUnlistedValue(const QStringList& items)
{
    if (items.isEmpty())
        return -1;
    const int original = items.indexOf(QStringLiteral("Original Size"));
    return original >= 0 ? original : 0;
}

void SaveProfileValuesTo(const QString& path, const GridRowLookup& rowOf)
{
    TIniFile ini(path);
    const int count = ProfileParameterCount(ini);
    // All values go to the file in one write at the end: a large profile is written once.
    ini.HoldWrites();
    for (int i = 0; i < count; ++i) {
        const QString name = ini.GetText(kMain, QString::number(i), QString());
        const int sort = ini.GetInteger(name, QStringLiteral("Sort"), -1);
        if (ini.GetFlag(name, QStringLiteral("ReadOnly"), false))
            continue;
        const bool list = ini.GetFlag(name, QStringLiteral("List"), true);
        const std::optional<GridRowValue> row = rowOf(sort, name);
        if (!row)
            continue; // no grid shows it: nothing was edited
        if (list) {
            int index = FindItem(row->items, row->value);
            // A text that is not an item (a custom size) gets a position that loads again.
            if (index < 0)
                index = IndexForUnlistedValue(row->items);
            if (index >= 0)
                ini.PutInteger(name, QStringLiteral("Index"), index);
        } else {
            ini.PutText(name, QStringLiteral("Caption"), row->value);
            ini.PutText(name, QStringLiteral("Value"), row->value);
        }
    }
    ini.Release();
}

void CopyProfileFile(const QString& source, const QString& target)
{
    const QByteArray content = ReadSettingsFile(source);
    CheckReplaceable(target);
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size() || !out.commit())
        throw EVeltraneError(QStringLiteral("Unable to write to %1").arg(target));
}
