// The installed program: `cmake --install` into a throw-away prefix, the layout and the
// desktop files, then the installed program started with a throw-away home, keeping the
// user's preferences and profiles in the XDG folders.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <csignal>

namespace {

QByteArray Read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList Listing(const QString& dir) { return QDir(dir).entryList(QDir::Files, QDir::Name); }

// Width and height from a PNG file's header.
QSize PngSize(const QString& path)
{
    const QByteArray h = Read(path);
    if (h.size() < 24 || !h.startsWith("\x89PNG"))
        return {};
    auto be32 = [&h](int at) { return int(quint8(h[at]) << 24 | quint8(h[at + 1]) << 16 | quint8(h[at + 2]) << 8 | quint8(h[at + 3])); };
    return QSize(be32(16), be32(20));
}

// The caught-signal mask of a running process: set once it would close on SIGTERM.
bool CatchesTerm(qint64 pid)
{
    for (const QByteArray& line : Read(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    return false;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT
    QTemporaryDir m_tmp;
    QString m_prefix;
    QString m_shared;

    // Starts the installed program, lets it come up, and ends it the way a session does.
    void runOnce(const QProcessEnvironment& env)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(m_prefix + "/bin/veltrane", {});
        QVERIFY2(p.waitForStarted(), qPrintable(p.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(CatchesTerm(p.processId()), 60000);
        p.terminate();
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }

    QProcessEnvironment environment(const QString& home, const QString& config = {}, const QString& data = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("XDG_CONFIG_HOME");
        env.remove("XDG_DATA_HOME");
        if (!config.isEmpty())
            env.insert("XDG_CONFIG_HOME", config);
        if (!data.isEmpty())
            env.insert("XDG_DATA_HOME", data);
        return env;
    }

private slots:
    void initTestCase()
    {
        m_prefix = m_tmp.path() + "/prefix";
        m_shared = m_prefix + "/share/veltrane/";
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(VT_CMAKE_COMMAND, {"--install", VT_BUILD_DIR_PATH, "--prefix", m_prefix});
        QVERIFY(install.waitForFinished(300000));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    }

    void layout()
    {
        for (const QString exe : {"bin/veltrane", "bin/veltrane-cli", "libexec/veltrane/wmaspi.dll"})
            QVERIFY2(QFileInfo(m_prefix + "/" + exe).isExecutable(), qPrintable(exe));
        QVERIFY(!QFile::exists(m_prefix + "/bin/wmaspi.dll")); // the encoder is not on PATH
        for (const QString module : {"veltrane-media.so", "veltrane-exact.so", "veltrane-probe.so"}) // loaded from beside it
            QVERIFY2(QFile::exists(m_prefix + "/libexec/veltrane/" + module), qPrintable(module));
        QCOMPARE(Listing(m_shared), QStringList({"Preferences.ini", "Veltrane.html"}));
        QCOMPARE(Listing(m_shared + "Profiles"), Listing(VT_APP_DIR_PATH "/Profiles"));
        QVERIFY(Listing(m_shared + "Profiles").size() >= 7);
        const QString icons = m_prefix + "/share/icons/hicolor/";
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            QCOMPARE(PngSize(icons + QStringLiteral("%1x%1/apps/org.veltrane.Veltrane.png").arg(size)), QSize(size, size));
        }
        QVERIFY(Read(icons + "scalable/apps/org.veltrane.Veltrane.svg").contains("<svg"));

        const QByteArray desktop = Read(m_prefix + "/share/applications/org.veltrane.Veltrane.desktop");
        for (const char* line : {"Exec=veltrane %f\n", "Icon=org.veltrane.Veltrane\n", "GenericName=Video Splitter\n",
                                 "Categories=AudioVideo;Video;AudioVideoEditing;\n"})
            QVERIFY2(desktop.contains(line), line);
        for (const char* type : {"video/x-msvideo;", "video/mpeg;", "video/mp4;", "video/x-ms-wmv;", "video/quicktime;",
                                 "application/vnd.ms-asf;", "video/x-matroska;", "video/webm;", "video/mp2t;",
                                 "video/x-flv;", "video/3gpp;", "video/ogg;"})
            QVERIFY2(desktop.contains(type), type);
        const QByteArray metainfo = Read(m_prefix + "/share/metainfo/org.veltrane.Veltrane.metainfo.xml");
        QVERIFY(metainfo.contains("<release version=\"" VT_VERSION "\""));
    }

    void validators_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry") << "desktop-file-validate"
                                       << QStringList{"share/applications/org.veltrane.Veltrane.desktop"};
        QTest::newRow("metainfo") << "appstreamcli"
                                  << QStringList{"validate", "--no-net", "share/metainfo/org.veltrane.Veltrane.metainfo.xml"};
    }
    void validators()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        const QString exe = QStandardPaths::findExecutable(tool);
        if (exe.isEmpty())
            QSKIP(qPrintable(tool + " is not installed"));
        QProcess v;
        v.setWorkingDirectory(m_prefix);
        v.setProcessChannelMode(QProcess::MergedChannels);
        v.start(exe, arguments);
        QVERIFY(v.waitForFinished(120000));
        QVERIFY2(v.exitCode() == 0, v.readAll().constData());
    }

    void userFilesLiveInXdgFolders()
    {
        const QString home = m_tmp.path() + "/home";
        QVERIFY(QDir().mkpath(home));
        const QByteArray shippedPrefs = Read(m_shared + "Preferences.ini");
        const QStringList shipped = Listing(m_shared + "Profiles");

        // First start with the XDG variables unset: their defaults under the home folder.
        runOnce(environment(home));
        const QString profiles = home + "/.local/share/Veltrane/Profiles/";
        QCOMPARE(Listing(profiles), shipped);
        for (const QString& name : shipped)
            QCOMPARE(Read(profiles + name), Read(m_shared + "Profiles/" + name));
        const QByteArray prefs = Read(home + "/.config/Veltrane/Preferences.ini");
        // The shipped defaults, and an output folder of the user's, never the program's.
        for (const QByteArray& line : {QByteArray("Overwrite=0"), QByteArray("Auto Exit=0"),
                                       QByteArray("Auto Turn Off=0"), "Output Dir=" + home.toUtf8() + "/"})
            QVERIFY2(prefs.contains(line + '\n'), line.constData());
        QCOMPARE(Read(m_shared + "Preferences.ini"), shippedPrefs); // the install is left alone
        QVERIFY(!QFile::exists(m_prefix + "/bin/Preferences.ini"));

        // The user edits one profile and deletes another; a later version ships a new one.
        const QString edited = profiles + shipped.first();
        QFile f(edited);
        QVERIFY(f.open(QIODevice::Append));
        f.write("; the user's edit\n");
        f.close();
        const QByteArray editedContent = Read(edited);
        QVERIFY(QFile::remove(profiles + shipped.last()));
        QFile::copy(m_shared + "Profiles/" + shipped.first(), m_shared + "Profiles/Zz - New.apf");

        runOnce(environment(home));
        QCOMPARE(Read(edited), editedContent);
        QVERIFY(!QFile::exists(profiles + shipped.last()));
        QVERIFY(QFile::exists(profiles + "Zz - New.apf"));

        // With the variables set, the files go where they point.
        const QString config = m_tmp.path() + "/config";
        const QString data = m_tmp.path() + "/data";
        runOnce(environment(home, config, data));
        QVERIFY(Read(config + "/Veltrane/Preferences.ini").contains("[Main]"));
        QCOMPARE(Listing(data + "/Veltrane/Profiles").size(), shipped.size() + 1);
    }

    // The installed command line finds the encoder in libexec/ and the user's XDG files.
    void commandLineUsesTheUserFiles()
    {
        const QString home = m_tmp.path() + "/cli-home";
        const QString clip = home + "/clip.mp4";
        QVERIFY(QDir().mkpath(home));
        QVERIFY(QProcess::execute("ffmpeg", {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                             "testsrc=duration=2", "-c:v", "libx264", clip}) == 0);
        QProcess cli;
        cli.setProcessEnvironment(environment(home));
        cli.start(m_prefix + "/bin/veltrane-cli", {"--dry-run", "--sections", "2", clip});
        QVERIFY(cli.waitForFinished(60000));
        const QByteArray out = cli.readAllStandardOutput();
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        QVERIFY(out.contains(QDir::cleanPath(m_prefix + "/libexec/veltrane/wmaspi.dll").toUtf8() + " -y -i " + clip.toUtf8()));
        QVERIFY(out.contains("-> " + home.toUtf8() + "/clip_Clip2.mp4\n"));
        QCOMPARE(Listing(home + "/.local/share/Veltrane/Profiles"), Listing(m_shared + "Profiles"));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "install_layout.moc"
