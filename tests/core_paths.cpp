#include "app/PathUtils.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <unistd.h>

class TestPaths : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.path() + "/" + name; }
    QString touch(const QString& name, const QByteArray& content = "x") const
    {
        QFile f(path(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(content);
        return path(name);
    }

private slots:
    void extensions_data();
    void extensions();
    void existence();
    void openFilter();
    void stripExtension();
    void folders();
    void sourceFromArgument();
    void listFiles();
};

void TestPaths::extensions_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("supported");
    QTest::newRow("upper case") << "/v/CLIP.AVI" << ".AVI" << true;
    QTest::newRow("mixed case") << "/v/Clip.Mp4" << ".Mp4" << true;
    QTest::newRow("every type") << "a.mpeg" << ".mpeg" << true;
    QTest::newRow("vob") << "a.vob" << ".vob" << true;
    QTest::newRow("asf") << "a.asf" << ".asf" << true;
    QTest::newRow("several dots") << "/v/my.holiday.mov" << ".mov" << true;
    QTest::newRow("mkv") << "/v/clip.MKV" << ".MKV" << true;
    QTest::newRow("m2ts") << "/v/clip.m2ts" << ".m2ts" << true;
    QTest::newRow("other type") << "/v/clip.rmvb" << ".rmvb" << false;
    QTest::newRow("no dot") << "/v/clip" << "" << false;
    QTest::newRow("dot in folder only") << "/v.avi/clip" << "" << false;
    QTest::newRow("trailing dot") << "/v/clip." << "." << false;
    QTest::newRow("extension alone") << "/v/.avi" << ".avi" << true;
    QTest::newRow("type without dot") << "/v/avi" << "" << false;
    QTest::newRow("longer look-alike") << "/v/clip.avix" << ".avix" << false;
    QTest::newRow("empty") << "" << "" << false;
}

void TestPaths::extensions()
{
    QFETCH(QString, path);
    QFETCH(QString, extension);
    QFETCH(bool, supported);
    QCOMPARE(ExtractExtension(path), extension);
    QCOMPARE(HasSupportedExtension(path), supported);
}

void TestPaths::existence()
{
    const QString file = touch("CLIP.AVI");
    QVERIFY(SourceExists(file));
    QVERIFY(QDir().mkpath(path("folder.avi")));
    QVERIFY(HasSupportedExtension(path("folder.avi")));
    QVERIFY(!SourceExists(path("folder.avi")));
    QVERIFY(FolderExists(path("folder.avi")));
    QVERIFY(!FolderExists(file));
    QVERIFY(!SourceExists(path("missing.avi")));
    QVERIFY(!SourceExists(QString()));
    QVERIFY(!FolderExists(QString()));
}

void TestPaths::openFilter()
{
    // The eight classic types, then the containers common on Linux, then sound files.
    QCOMPARE(SupportedExtensions(),
             QStringList({".avi", ".mpg", ".mpeg", ".mp4", ".wmv", ".mov", ".vob", ".asf", ".mkv", ".webm", ".m4v",
                          ".ts", ".m2ts", ".mts", ".flv", ".3gp", ".ogv", ".mp3", ".m4a", ".flac", ".wav", ".ogg",
                          ".opus"}));
    QCOMPARE(BuildOpenFilter({".avi", ".mpg", ".mpeg", ".mp4", ".wmv", ".mov", ".vob", ".asf"}),
             QStringLiteral("All Support Files(*.avi;*.mpg;*.mpeg;*.mp4;*.wmv;*.mov;*.vob;*.asf;)|"
                            "*.avi;*.mpg;*.mpeg;*.mp4;*.wmv;*.mov;*.vob;*.asf;|AVI Files (*.avi)|*.avi|"
                            "MPG Files (*.mpg)|*.mpg|MPEG Files (*.mpeg)|*.mpeg|MP4 Files (*.mp4)|*.mp4|"
                            "WMV Files (*.wmv)|*.wmv|MOV Files (*.mov)|*.mov|VOB Files (*.vob)|*.vob|"
                            "ASF Files (*.asf)|*.asf|All Files (*.*)|*.*"));
    QVERIFY(BuildOpenFilter().startsWith(
        "All Support Files(*.avi;*.mpg;*.mpeg;*.mp4;*.wmv;*.mov;*.vob;*.asf;*.mkv;*.webm;*.m4v;*.ts;*.m2ts;*.mts;"
        "*.flv;*.3gp;*.ogv;*.mp3;*.m4a;*.flac;*.wav;*.ogg;*.opus;)|"));
    QVERIFY(BuildOpenFilter().endsWith("|3GP Files (*.3gp)|*.3gp|OGV Files (*.ogv)|*.ogv|MP3 Files (*.mp3)|*.mp3|"
                                       "M4A Files (*.m4a)|*.m4a|FLAC Files (*.flac)|*.flac|WAV Files (*.wav)|*.wav|"
                                       "OGG Files (*.ogg)|*.ogg|OPUS Files (*.opus)|*.opus|All Files (*.*)|*.*"));
    QCOMPARE(BuildOpenFilter({".mkv"}), QStringLiteral("All Support Files(*.mkv;)|*.mkv;|MKV Files (*.mkv)|*.mkv|"
                                                       "All Files (*.*)|*.*"));
}

void TestPaths::stripExtension()
{
    QCOMPARE(StripExtension("MP4 - H.264 + AAC.apf"), QStringLiteral("MP4 - H.264 + AAC"));
    QCOMPARE(StripExtension("a.b.c.mp4"), QStringLiteral("a.b.c"));
    QCOMPARE(StripExtension("clip"), QStringLiteral("clip"));
    QCOMPARE(StripExtension("clip."), QStringLiteral("clip"));
    QCOMPARE(StripExtension(".avi"), QString());
}

void TestPaths::folders()
{
    QCOMPARE(WithTrailingBackslash("/"), QStringLiteral("/"));
    QCOMPARE(WithTrailingBackslash("/out"), QStringLiteral("/out/"));
    QCOMPARE(WithTrailingBackslash("/out/"), QStringLiteral("/out/"));
    QCOMPARE(ExtractFolder("/a.mp4"), QStringLiteral("/"));
    QCOMPARE(WithTrailingBackslash(ExtractFolder("/a.mp4")), QStringLiteral("/"));
    QCOMPARE(ExtractFolder("/videos/a.mp4"), QStringLiteral("/videos"));
    QCOMPARE(ExtractFolder("/videos.x/sub/a"), QStringLiteral("/videos.x/sub"));
    QCOMPARE(ExtractFolder("a.mp4"), QString());
    QCOMPARE(ExtractFileName("/videos/a.b.mp4"), QStringLiteral("a.b.mp4"));
    QCOMPARE(ExtractFileName("a.mp4"), QStringLiteral("a.mp4"));
    QCOMPARE(ExtractFileName("/videos/"), QString());
}

void TestPaths::sourceFromArgument()
{
    const QString clip = touch("clip.mp4");
    const QString upper = touch("CLIP2.AVI");
    QCOMPARE(SourceFromArgument(clip), clip);
    QCOMPARE(SourceFromArgument(upper), upper);
    QCOMPARE(SourceFromArgument(QString()), QString());
    QCOMPARE(SourceFromArgument(path("missing.mp4")), QString());
    QCOMPARE(SourceFromArgument(touch("clip.rmvb")), QString());
    QCOMPARE(SourceFromArgument(touch("noext")), QString());
    QVERIFY(QDir().mkpath(path("dir.mp4")));
    QCOMPARE(SourceFromArgument(path("dir.mp4")), QString());
}

void TestPaths::listFiles()
{
    const QString clip = touch("from list.mp4");
    const QByteArray content = (clip + "\r\n/second/line.avi\n").toUtf8();
    const QString list = touch("list.TMP", content);
    QCOMPARE(SourceFromArgument(list), clip);
    // The list file is left as it was.
    QVERIFY(QFile::exists(list));
    QFile f(list);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), content);

    QCOMPARE(SourceFromArgument(touch("empty.tmp", "")), QString());
    QCOMPARE(SourceFromArgument(touch("blank-first.tmp", ("\n" + clip + "\n").toUtf8())), QString());
    QCOMPARE(SourceFromArgument(touch("no-break.tmp", clip.toUtf8())), clip);
    QCOMPARE(SourceFromArgument(touch("unsupported.tmp", touch("x.rmvb").toUtf8())), QString());
    QCOMPARE(SourceFromArgument(touch("missing.tmp", path("gone.mp4").toUtf8())), QString());
    QCOMPARE(SourceFromArgument(path("no-such-list.tmp")), QString());
    // A list naming another list is not followed.
    QCOMPARE(SourceFromArgument(touch("nested.tmp", list.toUtf8())), QString());
    // A folder named like a list file cannot be read as one.
    QVERIFY(QDir().mkpath(path("folder.tmp")));
    QCOMPARE(SourceFromArgument(path("folder.tmp")), QString());
    // A list without read permission (the super-user reads it anyway).
    const QString locked = touch("locked.tmp", clip.toUtf8());
    QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
    QCOMPARE(SourceFromArgument(locked), geteuid() == 0 ? clip : QString());
    QVERIFY(QFile::exists(locked));
}

QTEST_APPLESS_MAIN(TestPaths)
#include "core_paths.moc"
