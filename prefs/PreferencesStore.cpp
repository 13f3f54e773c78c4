#include "prefs/PreferencesStore.h"
#include "app/AppPaths.h"
#include "app/VtError.h"

#include <QFileInfo>

namespace {
const QString kMain = QStringLiteral("Main");
}

PreferencesStore::PreferencesStore(const AppPaths& paths)
    : PreferencesStore(paths.preferencesFile, paths.defaultPreferencesFile)
{
}

PreferencesStore::PreferencesStore(const QString& file, const QString& defaultsFile)
    : m_user(file)
{
    if (!defaultsFile.isEmpty())
        m_defaults.emplace(defaultsFile);
}

QString PreferencesStore::Unusable() const
{
    try {
        m_user.CheckReadable();
    } catch (const EVeltraneError& e) {
        return e.message();
    }
    const QFileInfo info(m_user.FileName());
    if (info.exists() && info.size() > 0 && m_user.SectionCount() == 0)
        return QStringLiteral("Unable to read %1: it holds no settings").arg(info.absoluteFilePath());
    return QString();
}

QString PreferencesStore::GetText(const QString& section, const QString& key, const QString& def) const
{
    const QString fallback = !m_defaults ? def : m_defaults->GetText(section, key, def);
    return m_user.GetText(section, key, fallback);
}

qint32 PreferencesStore::GetInteger(const QString& section, const QString& key, qint32 def) const
{
    const qint32 fallback = !m_defaults ? def : m_defaults->GetInteger(section, key, def);
    return m_user.GetInteger(section, key, fallback);
}

bool PreferencesStore::GetFlag(const QString& section, const QString& key, bool def) const
{
    const bool fallback = !m_defaults ? def : m_defaults->GetFlag(section, key, def);
    return m_user.GetFlag(section, key, fallback);
}

void PreferencesStore::PutText(const QString& section, const QString& key, const QString& value)
{
    m_user.PutText(section, key, value);
}

void PreferencesStore::PutInteger(const QString& section, const QString& key, qint32 value)
{
    m_user.PutInteger(section, key, value);
}

void PreferencesStore::PutFlag(const QString& section, const QString& key, bool value)
{
    m_user.PutFlag(section, key, value);
}

PreferenceValues ReadPreferenceValues(const PreferencesStore& store, const QString& section,
                                      const QString& defaultOutputDir)
{
    const PreferenceValues d;
    PreferenceValues v;
    v.preview = store.GetFlag(section, QStringLiteral("Preview"), d.preview);
    v.overwrite = store.GetFlag(section, QStringLiteral("Overwrite"), d.overwrite);
    v.aptotic = store.GetFlag(section, QStringLiteral("Aptotic"), d.aptotic);
    v.outputDir = store.GetText(section, QStringLiteral("Output Dir"), defaultOutputDir);
    v.autoOpenDir = store.GetFlag(section, QStringLiteral("Auto Open Dir"), d.autoOpenDir);
    v.autoExit = store.GetFlag(section, QStringLiteral("Auto Exit"), d.autoExit);
    v.autoTurnOff = store.GetFlag(section, QStringLiteral("Auto Turn Off"), d.autoTurnOff);
    v.profile = store.GetInteger(kMain, QStringLiteral("Profile"), d.profile);
    // Like the profile, the name template is the user's own and not part of the defaults.
    v.nameTemplate = store.GetText(kMain, QStringLiteral("Name Template"), QString());
    return v;
}

PreferenceValues ShippedPreferenceValues(const QString& defaultOutputDir)
{
    PreferenceValues v;
    v.aptotic = false;
    v.outputDir = defaultOutputDir;
    v.profile = 3; // MP4 - H.264 + AAC
    return v;
}

void WritePreferenceValues(PreferencesStore& store, const PreferenceValues& v)
{
    store.PutFlag(kMain, QStringLiteral("Preview"), v.preview);
    store.PutFlag(kMain, QStringLiteral("Overwrite"), v.overwrite);
    store.PutFlag(kMain, QStringLiteral("Aptotic"), v.aptotic);
    store.PutText(kMain, QStringLiteral("Output Dir"), v.outputDir);
    store.PutFlag(kMain, QStringLiteral("Auto Open Dir"), v.autoOpenDir);
    store.PutFlag(kMain, QStringLiteral("Auto Exit"), v.autoExit);
    store.PutFlag(kMain, QStringLiteral("Auto Turn Off"), v.autoTurnOff);
    store.PutInteger(kMain, QStringLiteral("Profile"), v.profile);
    // Written once it was ever set, so files of older versions keep their eight keys.
    const QString unset = QStringLiteral("\x01");
    if (!v.nameTemplate.isEmpty() || store.GetText(kMain, QStringLiteral("Name Template"), unset) != unset)
        store.PutText(kMain, QStringLiteral("Name Template"), v.nameTemplate);
}

QString ReadVersionText(const PreferencesStore& store)
{
    return store.GetText(kMain, QStringLiteral("Version"), QStringLiteral("1.8"));
}
