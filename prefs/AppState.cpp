#include "prefs/AppState.h"
#include "app/VtError.h"

namespace {
const QString kMain = QStringLiteral("Main");
const QString kDefault = QStringLiteral("Default");
} // namespace

void AppState::SetPreferences(const PreferenceValues& values)
{
    m_preferences = values;
    m_preferences.profile = m_profileIndex;
}

void AppState::ConfirmPreferences(const PreferenceValues& values)
{
    SetPreferences(values);
    emit preferencesConfirmed();
}

void AppState::SetProfileIndex(int index)
{
    if (index < -1)
        index = -1;
    if (index == m_profileIndex)
        return;
    m_profileIndex = index;
    m_preferences.profile = index;
    emit profileIndexChanged(index);
}

QString AppState::ProfileName(int index) const
{
    return index >= 0 && index < profileNames.size() ? profileNames[index] : QString();
}

PreferenceValues AppState::ReadPreferences(bool fromDefault) const
{
    const PreferencesStore store(paths);
    return ReadPreferenceValues(store, fromDefault ? kDefault : kMain, paths.defaultOutputDir);
}

void AppState::CheckPreferencesReadable() const
{
    // Junk reads as the defaults like an unreadable file: both are said, with the reason.
    if (const QString why = PreferencesStore(paths).Unusable(); !why.isEmpty())
        throw EVeltraneError(why);
}

void AppState::WritePreferences(const PreferenceValues& values) const
{
    PreferenceValues v = values;
    v.profile = m_profileIndex;
    PreferencesStore store(paths);
    WritePreferenceValues(store, v);
}

void AppState::SetDroppedTracks(const QString& source, const QList<int>& dropped)
{
    if (dropped.isEmpty())
        m_droppedTracks.remove(source);
    else
        m_droppedTracks.insert(source, dropped);
}
