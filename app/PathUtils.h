#pragma once
#include <QString>
#include <QStringList>

// Path helpers. "Backslash" in the names is the platform's separator: "/" here.
QChar PathSeparator();

// The text of the last component from its last "." on; empty when it has none.
QString ExtractExtension(const QString& path);
// The text before the last separator; for a file at the root, the root itself ("/").
QString ExtractFolder(const QString& path);
// The last component of a path.
QString ExtractFileName(const QString& path);
// The name cut before its last "."; a name without "." is returned whole.
QString StripExtension(const QString& fileName);
// Appends the separator unless the path already ends in one.
QString WithTrailingBackslash(const QString& folder);
// A file (not a folder) exists at the path.
bool SourceExists(const QString& path);
// A folder exists at the path.
bool FolderExists(const QString& path);

// The video types the program accepts, in the order the open dialog offers them.
QStringList SupportedExtensions();
// The lower-cased extension of path is one of exts.
bool HasSupportedExtension(const QString& path, const QStringList& exts = SupportedExtensions());
// The open dialog's filter string, built from the supported extensions.
QString BuildOpenFilter(const QStringList& exts = SupportedExtensions());
// The file the program's first argument names: the argument itself, or the first line of a
// ".tmp" list file; a relative name is taken from the current folder and made absolute.
// Empty when nothing is named (no argument, a list file that cannot be read or is empty).
QString ArgumentCandidate(const QString& argument);
// The candidate when it is an existing file of a supported type; empty otherwise.
QString SourceFromArgument(const QString& argument, const QStringList& exts = SupportedExtensions());
// The message for a dropped or named file of a type the program does not open.
QString UnsupportedFileMessage(const QString& path, const QStringList& exts = SupportedExtensions());
