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
// The source named by the program's first argument: the argument itself, or the first
// line of a ".tmp" list file. Empty when nothing usable is named.
QString SourceFromArgument(const QString& argument, const QStringList& exts = SupportedExtensions());
