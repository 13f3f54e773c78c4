#pragma once
#include <QString>
#include <QStringList>

// Where the program's files live. Two layouts:
//  - portable: the executable's folder holds Preferences.ini and Profiles/ and may be
//    written; everything is found there (the build's app/ folder, a copied folder);
//  - installed: <prefix>/bin/veltrane with the encoder under <prefix>/libexec/veltrane/ and
//    the shipped files under <prefix>/share/veltrane/; the user's preferences live in
//    $XDG_CONFIG_HOME/Veltrane/, the user's profiles in $XDG_DATA_HOME/Veltrane/Profiles/.
// Every folder below ends in "/".
struct AppPaths {
    bool portable = true;
    QString appDir;                 // the executable's folder (or the folder named by the caller)
    QString preferencesFile;        // the user's Preferences.ini, read and written
    QString defaultPreferencesFile; // the shipped Preferences.ini behind it; empty when portable
    QString profileRoot;            // the folder that holds the user's "Profiles/"
    QString profilesDir;            // profileRoot + "Profiles/"
    QString shippedProfilesDir;     // where new profiles are seeded from; empty when portable
    QString seedRecordFile;         // names of the shipped profiles already offered to the user
    QString encoderPath;            // the encoder program
    QString helpDir;                // the folder of the help page
    QString helpFile;               // helpDir + the help page's name
    QString defaultOutputDir;       // "Output Dir" when no preferences file names one
};

// Everything beside the given folder, as the build's app/ folder has it.
AppPaths PortableAppPaths(const QString& folder);

// An installed program whose executable lies in exeDir; the user's files go under the
// given configuration and data homes (each without the "Veltrane" part).
AppPaths InstalledAppPaths(const QString& exeDir, const QString& configHome, const QString& dataHome);

// True when folder holds Preferences.ini and a Profiles/ folder and may be written.
bool IsPortableFolder(const QString& folder);

// $XDG_CONFIG_HOME and $XDG_DATA_HOME, or their defaults under the home folder when unset,
// empty or relative.
QString ConfigHome();
QString DataHome();

// The layout the executable in exeDir runs in: portable when IsPortableFolder(exeDir),
// installed otherwise.
AppPaths ResolveAppPaths(const QString& exeDir);

// Readies the user's folders of an installed program (nothing to do when portable):
// creates the configuration and profile folders, copies each shipped profile that was
// never offered before and is not there yet, and records it as offered, so that a profile
// the user edited is never overwritten and one the user deleted does not come back.
// Returns the names of the profiles copied. Throws EVeltraneError naming the file or folder
// when something cannot be created or written; what could be done is done first.
QStringList PrepareUserFiles(const AppPaths& paths);
