// Profile file rules that need no window: item lists, the folder listing, finding a
// profile whatever the case of its extension, reading with defaults, and writing values
// without touching anything else in the file.
#include "app/VtError.h"
#include "profiles/IniFile.h"
#include "profiles/ProfileFormat.h"
#include "split/CommandLine.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <sys/stat.h>

namespace {
void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}
QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestProfileFormat : public QObject {
    Q_OBJECT
private slots:
    void splitItems_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("each item ends with a comma") << "a,b,c," << QStringList{"a", "b", "c"};
        QTest::newRow("text after the last comma is lost") << "a,b,c" << QStringList{"a", "b"};
        QTest::newRow("no comma, no items") << "abc" << QStringList{};
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("blanks and empty items kept") << " a,,b ," << QStringList{" a", "", "b "};
        QTest::newRow("a lone backslash is an item") << ",\\," << QStringList{"", "\\"};
    }
    void splitItems()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, items);
        QCOMPARE(SplitItems(text), items);
    }

    void listingFiltersSortsAndLeavesTheCurrentFolder()
    {
        QTemporaryDir dir;
        const QString f = dir.path() + "/";
        for (const char* n : {"b.apf", "A.APF", "c.Apf", "my.profile.apf", ".hidden.apf", "notes.txt", "apf"})
            writeFile(f + n, "x");
        QDir().mkpath(f + "folder.apf");
        const QString before = QDir::currentPath();
        const QStringList names = ListFilesByExtension(f, ".apf");
        QCOMPARE(names, (QStringList{"A.APF", "b.apf", "c.Apf", "my.profile.apf"}));
        QCOMPARE(QDir::currentPath(), before);
        QCOMPARE(ListFilesByExtension(f, ".TXT"), QStringList{"notes.txt"});
    }

    void listingAMissingFolderFails()
    {
        QTemporaryDir dir;
        const QString missing = dir.path() + "/Profiles/";
        try {
            ListFilesByExtension(missing, ".apf");
            QFAIL("no error for a missing folder");
        } catch (const EVeltraneError& e) {
            QVERIFY2(e.message().contains(missing), qPrintable(e.message()));
        }
    }

    void profilePathIgnoresCaseOnlyWhenItMust()
    {
        QTemporaryDir dir;
        const QString app = dir.path() + "/";
        writeFile(app + "Profiles/Upper.APF", "x");
        writeFile(app + "Profiles/Plain.apf", "x");
        writeFile(app + "Profiles/Both.apf", "x");
        writeFile(app + "Profiles/Both.APF", "y");
        QCOMPARE(ProfilePath(app, "Upper"), app + "Profiles/Upper.APF");
        QCOMPARE(ProfilePath(app, "upper"), app + "Profiles/Upper.APF");
        QCOMPARE(ProfilePath(app, "Plain"), app + "Profiles/Plain.apf");
        QCOMPARE(ProfilePath(app, "Both"), app + "Profiles/Both.apf"); // the exact name wins
        QCOMPARE(ProfilePath(app, "Missing"), app + "Profiles/Missing.apf");
        QCOMPARE(ProfilePath(app, ""), app + "Profiles/.apf");
        QCOMPARE(ProfilePath(dir.path() + "/nowhere/", "X"), dir.path() + "/nowhere/Profiles/X.apf");
    }

    void readingUsesTheDefaults()
    {
        QTemporaryDir dir;
        const QString p = dir.path() + "/p.apf";
        writeFile(p, "[Main]\nPara=2\n0=Bare\n1=Full\n[full]\nsort=3\nReadOnly=1\nList=0\nCaption=c\nValue=v\nIndex=4\ncmd=-x\n");
        const ProfileContent c = ReadProfile(p);
        QCOMPARE(c.type, QString("mp4"));
        QCOMPARE(c.parameters.size(), 2);
        const ProfileParameter& bare = c.parameters[0];
        QCOMPARE(bare.name, QString("Bare"));
        QCOMPARE(bare.sort, -1);
        QCOMPARE(bare.readOnly, false);
        QCOMPARE(bare.list, true);
        QCOMPARE(bare.index, 0);
        QVERIFY(bare.caption.isEmpty() && bare.value.isEmpty() && bare.cmd.isEmpty());
        const ProfileParameter& full = c.parameters[1];
        QCOMPARE(full.sort, 3);
        QVERIFY(full.readOnly);
        QVERIFY(!full.list);
        QCOMPARE(full.caption, QString("c"));
        QCOMPARE(full.value, QString("v"));
        QCOMPARE(full.index, 4);
        QCOMPARE(full.cmd, QString("-x"));

        QVERIFY(ReadProfile(dir.path() + "/none.apf").parameters.isEmpty());
    }

    void itemAtReportsTheBadIndex()
    {
        const QStringList items{"a", "b"};
        QCOMPARE(ItemAt(items, 1), QString("b"));
        for (int bad : {-1, 2}) {
            try {
                ItemAt(items, bad);
                QFAIL("no error");
            } catch (const EListIndexError& e) {
                QCOMPARE(e.message(), QString("List index out of bounds (%1)").arg(bad));
            }
        }
        QCOMPARE(FindItem(items, "B"), 1);
        QCOMPARE(FindItem(items, "c"), -1);
    }

    void savingWritesOnlyValues()
    {
        QTemporaryDir dir;
        const QString p = dir.path() + "/p.apf";
        const QByteArray original = "; my notes\n"
                                    "[Main]\nType=mkv\nPara=5\n0=Size\n1=Name\n2=Fixed\n3=Gone\n4=Locked List\n"
                                    "[Size]\nSort=1\nCaption=Original Size,Custom Size,640x480,\nValue=,,640x480,\nIndex=2\ncmd=-s\n"
                                    "[Name]\nSort=3\nList=0\nCaption=old\nValue=old\ncmd=-n\nExtra=keep me\n"
                                    "[Fixed]\nSort=3\nList=0\nReadOnly=1\nCaption=shown\nValue=used\ncmd=-f\n"
                                    "[Gone]\nSort=2\nCaption=a,b,\nIndex=1\n"
                                    "[Locked List]\nSort=2\nReadOnly=1\nCaption=x,y,\nIndex=0\n"
                                    "[Other]\nKey=value\n";
        writeFile(p, original);
        QHash<QString, GridRowValue> rows;
        rows["Size"] = {"custom size", {"Original Size", "Custom Size", "640x480"}}; // letter case ignored
        rows["Name"] = {"new text", {}};
        rows["Fixed"] = {"typed over", {}};
        rows["Locked List"] = {"y", {"x", "y"}};
        SaveProfileValuesTo(p, [&](int, const QString& name) -> std::optional<GridRowValue> {
            if (!rows.contains(name))
                return std::nullopt;
            return rows.value(name);
        });
        QByteArray expected = original;
        expected.replace("Index=2\ncmd=-s", "Index=1\ncmd=-s");
        expected.replace("Caption=old\nValue=old", "Caption=new text\nValue=new text");
        QCOMPARE(readFile(p), expected);
    }

    void unlistedValueGetsALoadableIndex()
    {
        QCOMPARE(IndexForUnlistedValue({"1280x720", "Original Size", "Custom Size"}), 1);
        QCOMPARE(IndexForUnlistedValue({"a", "b"}), 0);
        QCOMPARE(IndexForUnlistedValue({}), -1);

        QTemporaryDir dir;
        const QString p = dir.path() + "/p.apf";
        writeFile(p, "[Main]\nPara=1\n0=Video Size\n[Video Size]\nSort=1\nCaption=1280x720,Original Size,Custom Size,\nIndex=2\n");
        SaveProfileValuesTo(p, [](int, const QString&) {
            return std::optional<GridRowValue>(GridRowValue{"640x480", {"1280x720", "Original Size", "Custom Size"}});
        });
        QCOMPARE(TIniFile(p).GetInteger("Video Size", "Index", -9), 1);
    }

    void copyReplacesOrRefuses()
    {
        QTemporaryDir dir;
        const QString src = dir.path() + "/a.apf";
        const QString dst = dir.path() + "/b.apf";
        writeFile(src, "[Main]\nPara=0\n");
        writeFile(dst, "old content that is longer than the new one\n");
        CopyProfileFile(src, dst);
        QCOMPARE(readFile(dst), QByteArray("[Main]\nPara=0\n"));

        // A read-only target stays as it is, also for the super-user.
        QFile::setPermissions(dst, QFile::ReadOwner);
        writeFile(src, "[Main]\nPara=0\nType=mkv\n");
        QVERIFY_THROWS_EXCEPTION(EVeltraneError, CopyProfileFile(src, dst));
        QCOMPARE(readFile(dst), QByteArray("[Main]\nPara=0\n"));
        QCOMPARE(QFile::permissions(dst) & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner);
        QVERIFY_THROWS_EXCEPTION(EVeltraneError, CopyProfileFile(src, dir.path() + "/no/such/folder/c.apf"));
        // A pipe as the source is refused at once instead of waiting for a writer.
        const QString pipe = dir.path() + "/pipe.apf";
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
        QVERIFY_THROWS_EXCEPTION(EVeltraneError, CopyProfileFile(pipe, dir.path() + "/d.apf"));
        QVERIFY(!QFile::exists(dir.path() + "/d.apf"));
    }

    void damagedProfilesAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        const QByteArray two = "0=A\n1=B\n[A]\nSort=1\nList=0\nCaption=a\ncmd=-a\n";
        QTest::newRow("huge count") << "file" << "[Main]\nPara=2147483647\n" + two << "damaged";
        QTest::newRow("count beyond its sections") << "file" << "[Main]\nPara=200000\n" + two << "damaged";
        QTest::newRow("count up to its sections") << "file" << "[Main]\nPara=2\n" + two << "";
        QByteArray many = "[Main]\nPara=10001\n";
        for (int i = 0; i <= 10001; ++i)
            many += "[S" + QByteArray::number(i) + "]\nSort=1\n";
        QTest::newRow("more parameters than accepted") << "file" << many << "has 10001 parameters; at most 10000";
        QTest::newRow("pipe") << "fifo" << QByteArray() << "not a regular file";
        QTest::newRow("endless device") << "device" << QByteArray() << "not a regular file";
    }

    void damagedProfilesAreRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString p = dir.path() + "/p.apf";
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(p).constData(), 0644), 0);
        else if (kind == "device")
            QVERIFY(QFile::link("/dev/zero", p));
        else
            writeFile(p, content);
        const auto row = [](int, const QString&) { return std::optional<GridRowValue>(GridRowValue{"x", {}}); };
        // Loading, building the switches and saving all read the count first.
        const std::function<void()> uses[] = {
            [&] { QCOMPARE(ReadProfile(p).parameters.size(), 2); },
            [&] { QCOMPARE(BuildProfileSwitches(p, [](int, const QString&) { return QString("x"); }), QString(" -a x")); },
            [&] { SaveProfileValuesTo(p, row); }};
        for (const auto& use : uses) {
            QString message;
            try {
                use();
            } catch (const EVeltraneError& e) {
                message = e.message();
            }
            QVERIFY2(error.isEmpty() ? message.isEmpty() : message.contains(p) && message.contains(error),
                     qPrintable(message));
        }
    }
};

QTEST_APPLESS_MAIN(TestProfileFormat)
#include "profiles_format.moc"
