// Where the program's files live (portable folder or installed program), the seeding of
// the user's profiles, and the preferences read with the shipped defaults behind them.
#include "app/AppPaths.h"
#include "app/VtError.h"
#include "prefs/PreferencesStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <sys/stat.h>

namespace {

void Write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

QByteArray Read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Sets or clears an environment variable for the life of the object.
struct EnvGuard {
    QByteArray name, saved;
    bool had;
    EnvGuard(const char* n, const QByteArray& value, bool set) : name(n), saved(qgetenv(n)), had(qEnvironmentVariableIsSet(n))
    {
        set ? qputenv(n, value) : qunsetenv(n);
    }
    ~EnvGuard() { had ? qputenv(name, saved) : qunsetenv(name); }
};

} // namespace

class TestAppPaths : public QObject {
    Q_OBJECT
    QTemporaryDir m_tmp;
    QString dir(const QString& name) const { return m_tmp.path() + "/" + name + "/"; }

private slots:
    void layouts()
    {
        // A folder with both files is portable; one file missing makes it an installed copy.
        const QString portable = dir("portable");
        Write(portable + "Preferences.ini", "[Main]\n");
        QDir().mkpath(portable + "Profiles");
        QVERIFY(IsPortableFolder(portable));
        const AppPaths p = ResolveAppPaths(portable);
        QVERIFY(p.portable);
        QCOMPARE(p.preferencesFile, portable + "Preferences.ini");
        QCOMPARE(p.profilesDir, portable + "Profiles/");
        QCOMPARE(p.profileRoot, portable);
        QCOMPARE(p.encoderPath, portable + "wmaspi.dll");
        QCOMPARE(p.helpFile, portable + "Veltrane.html");
        QCOMPARE(p.defaultOutputDir, portable);
        QVERIFY(p.defaultPreferencesFile.isEmpty());
        QVERIFY(PrepareUserFiles(p).isEmpty());

        const QString bin = dir("prefix/bin");
        Write(bin + "Preferences.ini", "x"); // a stray file: no Profiles/, so not portable
        QVERIFY(!IsPortableFolder(bin));
        Write(dir("prefix/libexec/veltrane") + "wmaspi.dll", "x");
        QDir().mkpath(dir("prefix/share/veltrane/Profiles"));
        const AppPaths i = InstalledAppPaths(bin, "/home/u/.config", "/home/u/.local/share/");
        QVERIFY(!i.portable);
        QCOMPARE(i.preferencesFile, QString("/home/u/.config/Veltrane/Preferences.ini"));
        QCOMPARE(i.profilesDir, QString("/home/u/.local/share/Veltrane/Profiles/"));
        QCOMPARE(i.encoderPath, dir("prefix/libexec/veltrane") + "wmaspi.dll");
        QCOMPARE(i.defaultPreferencesFile, dir("prefix/share/veltrane") + "Preferences.ini");
        QCOMPARE(i.shippedProfilesDir, dir("prefix/share/veltrane") + "Profiles/");
        QCOMPARE(i.helpFile, dir("prefix/share/veltrane") + "Veltrane.html");
        QVERIFY(!i.defaultOutputDir.startsWith(m_tmp.path())); // never the program's folder

        // A copy whose folder holds everything but cannot be written finds its files beside it.
        const AppPaths b = InstalledAppPaths(portable, "/c", "/d");
        QCOMPARE(b.encoderPath, portable + "wmaspi.dll");
        QCOMPARE(b.shippedProfilesDir, portable + "Profiles/");
        QCOMPARE(b.preferencesFile, QString("/c/Veltrane/Preferences.ini"));
    }

    void xdgHomes_data()
    {
        QTest::addColumn<bool>("set");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("data");
        QTest::newRow("unset") << false << QByteArray() << "/h/.config" << "/h/.local/share";
        QTest::newRow("empty") << true << QByteArray() << "/h/.config" << "/h/.local/share";
        QTest::newRow("relative") << true << QByteArray("rel/x") << "/h/.config" << "/h/.local/share";
        QTest::newRow("absolute") << true << QByteArray("/x/y") << "/x/y" << "/x/y";
    }
    void xdgHomes()
    {
        QFETCH(bool, set);
        QFETCH(QByteArray, value);
        const EnvGuard home("HOME", "/h", true);
        const EnvGuard config("XDG_CONFIG_HOME", value, set);
        const EnvGuard data("XDG_DATA_HOME", value, set);
        QTEST(ConfigHome(), "config");
        QTEST(DataHome(), "data");
    }

    void seedingKeepsTheUsersChoices()
    {
        const QString bin = dir("seed/bin");
        const QString shipped = dir("seed/share/veltrane/Profiles");
        QDir().mkpath(bin);
        Write(shipped + "A.apf", "shipped A");
        Write(shipped + "B.apf", "shipped B");
        Write(shipped + "notes.txt", "not a profile");
        const AppPaths p = InstalledAppPaths(bin, dir("seed/config"), dir("seed/data"));
        Write(p.profilesDir + "b.APF", "the user's own B"); // same profile, other letter case

        QCOMPARE(PrepareUserFiles(p), QStringList{"A.apf"});
        QVERIFY(QFileInfo(QFileInfo(p.preferencesFile).path()).isDir());
        QCOMPARE(Read(p.profilesDir + "A.apf"), QByteArray("shipped A"));
        QVERIFY(!QFile::exists(p.profilesDir + "B.apf"));
        QVERIFY(!QFile::exists(p.profilesDir + "notes.txt"));

        // Edited, deleted, and a later version ships a new profile.
        Write(p.profilesDir + "A.apf", "edited");
        QVERIFY(QFile::remove(p.profilesDir + "b.APF"));
        Write(shipped + "C.apf", "shipped C");
        QCOMPARE(PrepareUserFiles(p), QStringList{"C.apf"});
        QCOMPARE(Read(p.profilesDir + "A.apf"), QByteArray("edited"));
        QVERIFY(!QFile::exists(p.profilesDir + "B.apf"));
        QVERIFY(PrepareUserFiles(p).isEmpty());
        QCOMPARE(QDir(p.profilesDir).entryList(QDir::Files), QStringList({"A.apf", "C.apf"}));
    }

    void seedingFailuresNameTheFile()
    {
        const QString bin = dir("fail/bin");
        QDir().mkpath(bin);
        Write(dir("fail/share/veltrane/Profiles") + "A.apf", "shipped A");
        AppPaths p = InstalledAppPaths(bin, dir("fail/config"), dir("fail/data"));
        // The record cannot be written: the profile is still copied, and the error names it.
        QDir().mkpath(p.seedRecordFile);
        try {
            PrepareUserFiles(p);
            QFAIL("no error");
        } catch (const EVeltraneError& e) {
            QCOMPARE(e.message(), "Unable to write to " + p.seedRecordFile);
        }
        QCOMPARE(Read(p.profilesDir + "A.apf"), QByteArray("shipped A"));

        // The profile folder cannot be made.
        p.profilesDir = dir("fail/blocked") + "Profiles/";
        Write(dir("fail/blocked") + "Profiles", "a file in the way");
        QVERIFY_THROWS_EXCEPTION(EVeltraneError, PrepareUserFiles(p));
    }

    // A preferences file that cannot serve is said, naming it and why; one that can, or none, is not.
    void unusablePreferencesAreSaid_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("says"); // empty: nothing to say
        QTest::newRow("settings") << "file" << QByteArray("[Main]\nAptotic=1\n") << "";
        QTest::newRow("empty") << "file" << QByteArray() << "";
        QTest::newRow("missing") << "none" << QByteArray() << "";
        QTest::newRow("junk") << "file" << QByteArray("\x7f""ELF\x02\x01\x01 binary junk \xff\xfe") << "it holds no settings";
        QTest::newRow("pipe") << "fifo" << QByteArray() << "not a regular file";
        QTest::newRow("device") << "device" << QByteArray() << "not a regular file";
    }
    void unusablePreferencesAreSaid()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QFETCH(QString, says);
        QTemporaryDir d;
        const QString file = d.path() + "/Preferences.ini";
        if (kind == "file")
            Write(file, content);
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0644), 0);
        else if (kind == "device")
            QVERIFY(QFile::link("/dev/zero", file));
        const QString why = PreferencesStore(file, QString()).Unusable();
        if (says.isEmpty())
            QVERIFY2(why.isEmpty(), qPrintable(why));
        else
            QVERIFY2(why.contains(file) && why.contains(says), qPrintable(why));
    }

    // What the command line takes for preferences it cannot read is what the program ships.
    void shippedValuesAreTheShippedFile()
    {
        const QString shipped = QStringLiteral(VT_SHIPPED_PREFERENCES);
        QVERIFY(QFile::exists(shipped));
        const PreferenceValues file = ReadPreferenceValues(PreferencesStore(shipped, QString()), "Main", "/fallback/");
        const PreferenceValues v = ShippedPreferenceValues("/fallback/");
        QCOMPARE(v.preview, file.preview);
        QCOMPARE(v.overwrite, file.overwrite);
        QCOMPARE(v.aptotic, file.aptotic);
        QCOMPARE(v.outputDir, file.outputDir);
        QCOMPARE(v.autoOpenDir, file.autoOpenDir);
        QCOMPARE(v.autoExit, file.autoExit);
        QCOMPARE(v.autoTurnOff, file.autoTurnOff);
        QCOMPARE(v.profile, file.profile);
        QVERIFY(!v.aptotic); // never the program's own folder
    }

    void preferencesFallBackToShippedThenBuiltIn()
    {
        const QString user = dir("prefs") + "user.ini";
        const QString shipped = dir("prefs") + "shipped.ini";
        Write(shipped, "[Main]\nVersion=2.0\nOverwrite=1\nAptotic=0\nAuto Exit=1\nProfile=3\n"
                       "[Default]\nPreview=0\nOutput Dir=/shipped/\n");
        Write(user, "[Main]\nAuto Exit=0\nAptotic=yes\nOutput Dir=/mine/\n");

        const PreferencesStore layered(user, shipped);
        const PreferenceValues m = ReadPreferenceValues(layered, "Main", "/fallback/");
        QCOMPARE(m.autoExit, false);   // the user's value wins
        QCOMPARE(m.overwrite, true);   // missing from the user's file: shipped
        QCOMPARE(m.aptotic, false);    // unreadable in the user's file: shipped
        QCOMPARE(m.outputDir, QString("/mine/"));
        QCOMPARE(m.autoTurnOff, false); // in neither: built in
        QCOMPARE(m.profile, 3);
        QCOMPARE(ReadVersionText(layered), QString("2.0"));
        const PreferenceValues d = ReadPreferenceValues(layered, "Default", "/fallback/");
        QCOMPARE(d.preview, false);
        QCOMPARE(d.outputDir, QString("/shipped/"));
        QCOMPARE(d.profile, 3); // always the position of [Main]

        // No file at all: nothing that acts on its own is armed.
        const PreferencesStore none(dir("prefs") + "missing.ini", QString());
        const PreferenceValues n = ReadPreferenceValues(none, "Main", "/fallback/");
        QCOMPARE(n.overwrite, false);
        QCOMPARE(n.autoExit, false);
        QCOMPARE(n.autoTurnOff, false);
        QCOMPARE(n.preview && n.aptotic && n.autoOpenDir, true);
        QCOMPARE(n.outputDir, QString("/fallback/"));
        QCOMPARE(ReadVersionText(none), QString("1.8"));

        // Writes land in the user's file only.
        PreferencesStore writer(user, shipped);
        PreferenceValues w = m;
        w.autoTurnOff = true;
        WritePreferenceValues(writer, w);
        QVERIFY(Read(user).contains("Auto Turn Off=1"));
        QVERIFY(!Read(shipped).contains("Auto Turn Off"));
    }
};

QTEST_GUILESS_MAIN(TestAppPaths)
#include "core_apppaths.moc"
