#include "app/AppPaths.h"
#include "about/ProgramInfo.h"
#include "app/PathUtils.h"
#include "app/VtError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

// Where the install puts the shared files and the encoder, seen from the executable's
// folder; the build passes the real ones (they follow GNUInstallDirs).
#ifndef VT_BIN_TO_DATA
#define VT_BIN_TO_DATA "../share/veltrane"
#endif
#ifndef VT_BIN_TO_LIBEXEC
#define VT_BIN_TO_LIBEXEC "../libexec/veltrane"
#endif

namespace {

const QString kPreferences = QStringLiteral("Preferences.ini");
const QString kProfiles = QStringLiteral("Profiles/");
const QString kEncoder = QStringLiteral("wmaspi.dll");
const QString kUserFolder = QStringLiteral("Veltrane/");
const QString kSeedRecord = QStringLiteral("seeded-profiles.txt");

QString Folder(const QString& path) { return WithTrailingBackslash(QDir::cleanPath(path)); }

QString XdgHome(const char* variable, const QString& fallback)
{
    // The base-directory rules: an unset, empty or relative value counts as unset.
    const QString value = QFile::decodeName(qgetenv(variable));
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1Char('/') + fallback;
}

QStringList ReadRecord(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList names;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QString name = QString::fromUtf8(line).trimmed();
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

void WriteWhole(const QString& path, const QByteArray& content)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size() || !f.commit())
        throw EVeltraneError(QStringLiteral("Unable to write to %1").arg(path));
}

} // namespace

AppPaths PortableAppPaths(const QString& folder)
{
    AppPaths p;
    p.portable = true;
    p.appDir = WithTrailingBackslash(folder);
    p.preferencesFile = p.appDir + kPreferences;
    p.profileRoot = p.appDir;
    p.profilesDir = p.appDir + kProfiles;
    p.encoderPath = p.appDir + kEncoder;
    p.helpDir = p.appDir;
    p.helpFile = p.helpDir + HelpFileName();
    p.defaultOutputDir = p.appDir;
    return p;
}

AppPaths InstalledAppPaths(const QString& exeDir, const QString& configHome, const QString& dataHome)
{
    AppPaths p;
    p.portable = false;
    p.appDir = WithTrailingBackslash(exeDir);
    // A copy that keeps its shared files beside the executable (a read-only folder) still
    // finds them there.
    const QString shared = Folder(p.appDir + QStringLiteral(VT_BIN_TO_DATA));
    const QString shippedDir = FolderExists(shared) ? shared : p.appDir;
    const QString libexec = Folder(p.appDir + QStringLiteral(VT_BIN_TO_LIBEXEC));
    p.encoderPath = SourceExists(libexec + kEncoder) ? libexec + kEncoder : p.appDir + kEncoder;
    p.defaultPreferencesFile = shippedDir + kPreferences;
    p.shippedProfilesDir = shippedDir + kProfiles;
    p.helpDir = shippedDir;
    p.helpFile = p.helpDir + HelpFileName();

    p.preferencesFile = Folder(configHome) + kUserFolder + kPreferences;
    p.profileRoot = Folder(dataHome) + kUserFolder;
    p.profilesDir = p.profileRoot + kProfiles;
    p.seedRecordFile = p.profileRoot + kSeedRecord;

    // Outputs go where the user keeps videos, never into the program's own folder.
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    p.defaultOutputDir = WithTrailingBackslash(FolderExists(videos) ? videos : QDir::homePath());
    return p;
}

bool IsPortableFolder(const QString& folder)
{
    const QString dir = WithTrailingBackslash(folder);
    return SourceExists(dir + kPreferences) && FolderExists(dir + kProfiles) && QFileInfo(dir).isWritable();
}

QString ConfigHome() { return XdgHome("XDG_CONFIG_HOME", QStringLiteral(".config")); }
QString DataHome() { return XdgHome("XDG_DATA_HOME", QStringLiteral(".local/share")); }

AppPaths ResolveAppPaths(const QString& exeDir)
{
    if (IsPortableFolder(exeDir))
        return PortableAppPaths(exeDir);
    return InstalledAppPaths(exeDir, ConfigHome(), DataHome());
}

QStringList PrepareUserFiles(const AppPaths& paths)
{
    if (paths.portable)
        return {};
    QString failure;
    const QString configDir = QFileInfo(paths.preferencesFile).path();
    if (!QDir().mkpath(configDir))
        failure = QStringLiteral("Unable to create the folder %1").arg(configDir);
    if (!QDir().mkpath(paths.profilesDir))
        throw EVeltraneError(QStringLiteral("Unable to create the folder %1").arg(paths.profilesDir));

    QDir shipped(paths.shippedProfilesDir, QStringLiteral("*.apf"), QDir::Name, QDir::Files);
    QStringList record = ReadRecord(paths.seedRecordFile);
    const QSet<QString> offered(record.begin(), record.end());
    QSet<QString> present; // the user's profiles, letter case aside, as the profile list sees them
    for (const QString& name : QDir(paths.profilesDir).entryList(QDir::Files))
        present.insert(name.toLower());

    QStringList added;
    bool recordChanged = false;
    for (const QString& name : shipped.entryList()) {
        if (offered.contains(name))
            continue;
        if (!present.contains(name.toLower())) {
            QFile source(shipped.filePath(name));
            try {
                if (!source.open(QIODevice::ReadOnly))
                    throw EVeltraneError(QStringLiteral("Unable to read %1").arg(source.fileName()));
                WriteWhole(paths.profilesDir + name, source.readAll());
            } catch (const EVeltraneError& e) {
                if (failure.isEmpty())
                    failure = e.message();
                continue; // offered again at the next start
            }
            added << name;
        }
        record << name;
        recordChanged = true;
    }
    if (recordChanged) {
        try {
            WriteWhole(paths.seedRecordFile, (record.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        } catch (const EVeltraneError& e) {
            if (failure.isEmpty())
                failure = e.message();
        }
    }
    if (!failure.isEmpty())
        throw EVeltraneError(failure);
    return added;
}
