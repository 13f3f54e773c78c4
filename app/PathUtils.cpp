#include "app/PathUtils.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

QChar PathSeparator() { return QDir::separator(); }

QString ExtractFileName(const QString& path)
{
    const int cut = path.lastIndexOf(PathSeparator());
    return cut < 0 ? path : path.mid(cut + 1);
}

QString ExtractExtension(const QString& path)
{
    const QString name = ExtractFileName(path);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

QString ExtractFolder(const QString& path)
{
    const int cut = path.lastIndexOf(PathSeparator());
    if (cut < 0)
        return QString();
    // A file at the root keeps the root's single separator.
    return cut == 0 ? path.left(1) : path.left(cut);
}

QString StripExtension(const QString& fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

QString WithTrailingBackslash(const QString& folder)
{
    if (folder.endsWith(PathSeparator()))
        return folder;
    return folder + PathSeparator();
}

bool SourceExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool FolderExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

QStringList SupportedExtensions()
{
    // The eight classic types first, then the containers common on Linux, then sound files
    // (cut with a sound profile).
    return {".avi", ".mpg", ".mpeg", ".mp4", ".wmv", ".mov", ".vob", ".asf", ".mkv", ".webm", ".m4v", ".ts",
            ".m2ts", ".mts", ".flv", ".3gp", ".ogv", ".mp3", ".m4a", ".flac", ".wav", ".ogg", ".opus"};
}

bool HasSupportedExtension(const QString& path, const QStringList& exts)
{
    const QString ext = ExtractExtension(path).toLower();
    return !ext.isEmpty() && exts.contains(ext);
}

QString BuildOpenFilter(const QStringList& exts)
{
    QString filter;
    QString patterns;
    for (const QString& e : exts) {
        const QString d = e.mid(1).toUpper();
        filter += d + " Files (*" + e + ")|*" + e + "|";
        patterns += "*" + e + ";";
    }
    return "All Support Files(" + patterns + ")|" + patterns + "|" + filter + "All Files (*.*)|*.*";
}

QString ArgumentCandidate(const QString& argument)
{
    QString candidate = argument;
    if (ExtractExtension(argument).toLower() == QLatin1String(".tmp")) {
        QFile list(argument);
        if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
            return QString();
        QTextStream in(&list);
        if (in.atEnd())
            return QString();
        candidate = in.readLine();
    }
    if (candidate.isEmpty())
        return QString();
    // The output folder comes from the source's folder: it must be a real one, not "".
    return QDir::cleanPath(QFileInfo(candidate).absoluteFilePath());
}

QString SourceFromArgument(const QString& argument, const QStringList& exts)
{
    const QString candidate = ArgumentCandidate(argument);
    if (SourceExists(candidate) && HasSupportedExtension(candidate, exts))
        return candidate;
    return QString();
}

QString UnsupportedFileMessage(const QString& path, const QStringList& exts)
{
    return QStringLiteral("\"%1\" is not a video type Veltrane opens. Supported types: %2.")
        .arg(QDir::toNativeSeparators(path), exts.join(QStringLiteral(", ")));
}
