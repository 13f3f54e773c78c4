#include "CoreTestSupport.h"
#include "profiles/ProfileFormat.h"
#include "split/CommandLine.h"
#include <QDir>
#include <QFile>
#include <QProcess>

QString BuiltAppDir()
{
    const QByteArray env = qgetenv("VT_APP_DIR");
    return (env.isEmpty() ? QStringLiteral(VT_DEFAULT_APP_DIR) : QString::fromLocal8Bit(env)) + "/";
}

QString BuildDir()
{
    const QByteArray env = qgetenv("VT_BUILD_DIR");
    return env.isEmpty() ? QStringLiteral(VT_DEFAULT_BUILD_DIR) : QString::fromLocal8Bit(env);
}

static void copyTree(const QString& from, const QString& to)
{
    QDir src(from);
    QDir().mkpath(to);
    for (const QFileInfo& fi : src.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (fi.isDir())
            copyTree(fi.filePath(), to + "/" + fi.fileName());
        else
            QFile::copy(fi.filePath(), to + "/" + fi.fileName());
    }
}

TempAppDir::TempAppDir(bool withAssets)
{
    if (withAssets) {
        copyTree(BuiltAppDir() + "Profiles", path() + "Profiles");
        QFile::copy(BuiltAppDir() + "Preferences.ini", path() + "Preferences.ini");
    }
}

QString TempAppDir::path() const { return m_dir.path() + "/"; }

void TempAppDir::write(const QString& name, const QByteArray& content) const
{
    QFile f(file(name));
    QDir().mkpath(QFileInfo(f).absolutePath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

QByteArray TempAppDir::read(const QString& name) const
{
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool MakeClip(const QString& path, double seconds, const QString& size, int fps)
{
    QProcess p;
    p.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                       QString("testsrc=size=%1:rate=%2:duration=%3").arg(size).arg(fps).arg(seconds), "-f",
                       "lavfi", "-i", QString("sine=frequency=440:duration=%1").arg(seconds), "-c:v", "libx264",
                       "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-g", QString::number(fps), "-c:a", "aac",
                       "-shortest", path});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

double ProbeDuration(const QString& path)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "default=nw=1:nk=1", path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return -1;
    bool ok = false;
    const double d = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed().toDouble(&ok);
    return ok ? d : -1;
}

QStringList ProbeStreams(const QString& path)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type,codec_name", "-of", "csv=p=0", path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    QStringList out;
    for (const QString& line : QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.trimmed().split(',');
        if (f.size() >= 2)
            out << f[1] + "=" + f[0];
    }
    return out;
}

QString StoredProfileSwitches(const QString& profileFile, const QString& cutPoints)
{
    const ProfileContent content = ReadProfile(profileFile);
    return BuildProfileSwitches(profileFile, [&](int, const QString& name) {
        if (name == QLatin1String("Cut points") && !cutPoints.isEmpty())
            return cutPoints;
        for (const ProfileParameter& p : content.parameters)
            if (p.name == name)
                return p.list ? SplitItems(p.caption).value(p.index) : p.value;
        return QString();
    });
}
