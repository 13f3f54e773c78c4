#pragma once
// Output names from a template with fields. The default template gives the names the
// program always gave, NAME_ClipN, character for character; any other template's names are
// made safe for a file system (FAT32 sticks included) and never repeat within a job.
#include <QList>
#include <QString>
#include <QStringList>

// The fields, each in braces:
//   {source}   the source's file name without its extension
//   {n}        the section's (or segment's) number from 1; {n:3} pads it to 3 digits
//   {title}    the section's name (a chapter's title, a segment's name); empty when it has none
//   {start}    where the section begins, HH-MM-SS (with .mmm when not on a whole second)
//   {end}      where it ends, the same way
//   {profile}  the output profile's name
// "{{" and "}}" stand for a brace; any other text in braces is kept as it stands.
inline const QString kDefaultNameTemplate = QStringLiteral("{source}_Clip{n}");

struct NameFields {
    QString source;  // the source's base name
    qint64 number = 0;
    QString title;
    double start = 0;
    double end = 0;
    QString profile;
};

// The template with the fields filled in, not yet made safe.
QString ExpandNameTemplate(const QString& nameTemplate, const NameFields& fields);

// One file name (without its extension) made safe: no path separators, control characters or
// characters FAT32 and Windows refuse (< > : " | ? * \ %), no leading dot or dash, no
// trailing dot or blank, no reserved device name (CON, NUL, COM1, ...), at most maxBytes
// bytes of UTF-8 (cut on a character's edge). Never empty.
QString SanitizeFileName(const QString& name, int maxBytes = 200);

// The file names (extension appended) of a job's sections, one per entry of `fields`: the
// default template as it always was; any other made safe and unique (without regard to
// case, as FAT32 and NTFS folders compare them) by a "_2", "_3", ... before the extension.
QStringList NameSections(const QString& nameTemplate, const QList<NameFields>& fields, const QString& extension);

// Whether the template is the default one (empty counts as default).
bool IsDefaultNameTemplate(const QString& nameTemplate);

// A time as the {start} and {end} fields write it.
QString NameTime(double seconds);
