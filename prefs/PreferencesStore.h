#pragma once
#include "profiles/IniFile.h"
#include <QString>
#include <optional>

struct AppPaths;

// The preferences file with the shipped defaults behind it: a key the user's file lacks
// (or holds in a form that cannot be read) is taken from the shipped Preferences.ini of an
// installed program, and only then from the built-in default. Writes go to the user's file.
class PreferencesStore {
public:
    explicit PreferencesStore(const AppPaths& paths);
    PreferencesStore(const QString& file, const QString& defaultsFile);
    const QString& FileName() const { return m_user.FileName(); }

    QString GetText(const QString& section, const QString& key, const QString& def) const;
    qint32 GetInteger(const QString& section, const QString& key, qint32 def) const;
    bool GetFlag(const QString& section, const QString& key, bool def) const;

    // Throw EVeltraneError "Unable to write to <path>" when the file cannot be written.
    void PutText(const QString& section, const QString& key, const QString& value);
    void PutInteger(const QString& section, const QString& key, qint32 value);
    void PutFlag(const QString& section, const QString& key, bool value);

    // The user's file exists but cannot be read as a settings file: throws, naming it.
    void CheckReadable() const { m_user.CheckReadable(); }
    // Why the user's file is there but cannot serve (unreadable, a pipe or device, or text
    // without a single section), naming it; empty when it can, or when there is none.
    QString Unusable() const;

private:
    TIniFile m_user;
    std::optional<TIniFile> m_defaults; // none: the built-in defaults alone
};

// The values the Settings dialog shows and a split job reads.
struct PreferenceValues {
    bool preview = true;
    bool overwrite = false;   // ask before replacing an existing output
    bool aptotic = true;      // the fixed output folder is in use
    QString outputDir;
    bool autoOpenDir = true;
    bool autoExit = false;
    bool autoTurnOff = false; // a power-off nobody asked for would lose the user's other work
    qint32 profile = 0;       // position in the profile list
    QString nameTemplate;     // output names; empty: NAME_ClipN
};

// Reads the seven values of a section ("Main", or "Default" for Load Default) and the
// profile position, which always comes from "Main". defaultOutputDir stands in for a
// missing "Output Dir".
PreferenceValues ReadPreferenceValues(const PreferencesStore& store, const QString& section,
                                      const QString& defaultOutputDir);

// The values of the shipped Preferences.ini's "Main": what stands in for preferences that
// cannot be read where no shipped file lies behind them (a portable copy's own file is the
// shipped one). Outputs go beside the source, never into the program's folder.
PreferenceValues ShippedPreferenceValues(const QString& defaultOutputDir);

// Writes all eight values to "Main" in the order Preview, Overwrite, Aptotic, Output Dir,
// Auto Open Dir, Auto Exit, Auto Turn Off, Profile, then the Name Template once one was set.
// A refused write throws; the keys written before it stay.
void WritePreferenceValues(PreferencesStore& store, const PreferenceValues& values);

// The version text the caption and the About dialog show.
QString ReadVersionText(const PreferencesStore& store);
