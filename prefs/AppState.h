#pragma once
#include "app/AppPaths.h"
#include "prefs/PreferencesStore.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// The profile a job takes its values from: the file they were loaded from, the output
// type it names, and the value chosen for each of its parameters (edited in the profile
// dialog, saved or not).
struct ProfileChoice {
    QString path; // empty: no profile loaded yet
    QString extension = QStringLiteral(".mp4");
    QHash<int, QHash<QString, QString>> values; // by "Sort" (1 video, 2 audio, 3 advanced), then name
    QString Value(int sort, const QString& name) const { return values.value(sort).value(name); }
};

// What the program's windows share, held apart from every widget: where its files are,
// the preferences in force, the profiles on offer, the one picked in the main window and
// the values chosen for the loaded one. Each window reads and writes this, and hears of
// changes from it; none reaches into another window's controls.
class AppState : public QObject {
    Q_OBJECT
public:
    explicit AppState(QObject* parent = nullptr) : QObject(parent) {}

    AppPaths paths;
    QString versionText;
    QStringList profileNames; // the profile list, in its order

    // The preferences in force, as the Settings dialog shows them. Set: in force from now
    // on. Confirm (at start, and OK): in force, and the main window takes its part of
    // them (the fixed output folder, the preview flag).
    const PreferenceValues& Preferences() const { return m_preferences; }
    void SetPreferences(const PreferenceValues& values);
    void ConfirmPreferences(const PreferenceValues& values);

    // Position of the profile picked in the main window's list (-1: none).
    int ProfileIndex() const { return m_profileIndex; }
    void SetProfileIndex(int index);
    QString ProfileName(int index) const;

    const ProfileChoice& Profile() const { return m_profile; }
    void SetProfile(const ProfileChoice& profile) { m_profile = profile; }

    // The tracks the user left out of a source's cuts (their indices in the source), kept
    // per source for as long as the program runs, so reopening a file keeps the choice.
    QList<int> DroppedTracks(const QString& source) const { return m_droppedTracks.value(source); }
    void SetDroppedTracks(const QString& source, const QList<int>& dropped);

    // The values of the preferences file's "Main" section, or of "Default"; the profile
    // position always comes from "Main". A file that is there but cannot be read gives
    // the defaults; CheckPreferencesReadable then throws, naming it.
    PreferenceValues ReadPreferences(bool fromDefault) const;
    void CheckPreferencesReadable() const;
    // Writes the given values, with the picked profile's position, to "Main". A refused
    // write throws; nothing in force changes then.
    void WritePreferences(const PreferenceValues& values) const;

Q_SIGNALS:
    void preferencesConfirmed();
    void profileIndexChanged(int index);

private:
    PreferenceValues m_preferences;
    int m_profileIndex = -1;
    ProfileChoice m_profile;
    QHash<QString, QList<int>> m_droppedTracks;
};
