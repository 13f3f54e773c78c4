#include "app/VtError.h"
#include "profiles/IniFile.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <sys/stat.h>
#include <unistd.h>

// A byte string literal that may hold NUL bytes.
#define BYTES(s) QByteArray(s, sizeof(s) - 1)

namespace {
QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

// Runs a write that must be refused and returns the error text.
template <typename Fn> QString Refusal(Fn fn)
{
    try {
        fn();
    } catch (const EVeltraneError& e) {
        return e.message();
    }
    return QString();
}
} // namespace

class TestIniFile : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.path() + "/" + name; }

private slots:
    void convertWholeNumber_data();
    void convertWholeNumber();
    void readsSyntax();
    void readsFirstOccurrence();
    void readsDefaults();
    void readsNumbersAndFlags();
    void cutsLongValues();
    void survivesOddFiles();
    void replacesInPlace();
    void readsPastByteOrderMark();
    void keepsCrLf();
    void addsKeyAfterLastEntry();
    void addsKeyToEmptySection();
    void appendsSection();
    void writesFirstOccurrence();
    void writesTypedValues();
    void keepsLineBreaksOutOfEntries();
    void readingCreatesNothing();
    void twoStoresShareTheFile();
    void keepsPermissions();
    void writesThroughLinks();
    void refusesReadOnlyFile();
    void refusesReadOnlyFolder();
    void refusesMissingFolder();
    void roundTripsOddFiles();
    void readsFilesFromElsewhere_data();
    void readsFilesFromElsewhere();
    void writesBackInTheFilesOwnWay();
    void refusesWhatIsNoRegularFile_data();
    void refusesWhatIsNoRegularFile();
    void readsItsFileOnce();
    void heldWritesEndAsSingleOnes_data();
    void heldWritesEndAsSingleOnes();
};

void TestIniFile::convertWholeNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("decimal") << "42" << true << 42;
    QTest::newRow("leading blanks") << "   7" << true << 7;
    QTest::newRow("plus") << "+7" << true << 7;
    QTest::newRow("minus") << "-1" << true << -1;
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("0x") << "0x1F" << true << 31;
    QTest::newRow("0X") << "0X1f" << true << 31;
    QTest::newRow("dollar") << "$1F" << true << 31;
    QTest::newRow("x") << "x1f" << true << 31;
    QTest::newRow("X") << "X10" << true << 16;
    QTest::newRow("negative hex") << "-$10" << true << -16;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("hex max") << "$7FFFFFFF" << true << 2147483647;
    QTest::newRow("hex min") << "-0x80000000" << true << int(-2147483648LL);
    QTest::newRow("zero") << "0" << true << 0;

    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks only") << "   " << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("0x alone") << "0x" << false << 0;
    QTest::newRow("dollar alone") << "$" << false << 0;
    QTest::newRow("trailing blank") << "12 " << false << 0;
    QTest::newRow("word") << "yes" << false << 0;
    QTest::newRow("true") << "true" << false << 0;
    QTest::newRow("fraction") << "1.5" << false << 0;
    QTest::newRow("hex letters without mark") << "1F" << false << 0;
    QTest::newRow("two signs") << "--1" << false << 0;
    QTest::newRow("blank after sign") << "- 1" << false << 0;
    QTest::newRow("too large") << "2147483648" << false << 0;
    QTest::newRow("too small") << "-2147483649" << false << 0;
    QTest::newRow("hex too large") << "$FFFFFFFF" << false << 0;
    QTest::newRow("far too large") << "99999999999999999999999" << false << 0;
    QTest::newRow("double mark") << "0x$1" << false << 0;
}

void TestIniFile::convertWholeNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const std::optional<qint32> r = ConvertWholeNumber(text);
    QCOMPARE(r.has_value(), valid);
    if (valid)
        QCOMPARE(*r, value);
}

void TestIniFile::readsSyntax()
{
    const QString p = path("syntax.ini");
    WriteAll(p, "[main]\n"
                "type=avi\n"
                "  Spaced Key  =   spaced value  \n"
                "dq=\"  quoted  \"\n"
                "sq='single'\n"
                "mixed=\"mixed'\n"
                "lone=\"\n"
                "empty=\n"
                "inner=a \"b\" c\n"
                "eq=a=b\n"
                "[ Other ]\n"
                "k=v\n"
                "[\xc3\x9c" "bersicht]\n"
                "Gr\xc3\xb6\xc3\x9f" "e=1\n");
    const TIniFile ini(p);
    QCOMPARE(ini.GetText("Main", "Type", "x"), QStringLiteral("avi"));
    QCOMPARE(ini.GetText("MAIN", "spaced key", "x"), QStringLiteral("spaced value"));
    QCOMPARE(ini.GetText("Main", "dq", "x"), QStringLiteral("  quoted  "));
    QCOMPARE(ini.GetText("Main", "sq", "x"), QStringLiteral("single"));
    QCOMPARE(ini.GetText("Main", "mixed", "x"), QStringLiteral("\"mixed'"));
    QCOMPARE(ini.GetText("Main", "lone", "x"), QStringLiteral("\""));
    QCOMPARE(ini.GetText("Main", "empty", "x"), QString());
    QCOMPARE(ini.GetText("Main", "inner", "x"), QStringLiteral("a \"b\" c"));
    QCOMPARE(ini.GetText("Main", "eq", "x"), QStringLiteral("a=b"));
    QCOMPARE(ini.GetText("other", "K", "x"), QStringLiteral("v"));
    // Letters beyond ASCII match without regard to case as well.
    QCOMPARE(ini.GetText(QString::fromUtf8("\u00fcBERSICHT"), QString::fromUtf8("GR\u00d6\u00dfE"), "x"), QStringLiteral("1"));
    QCOMPARE(ini.GetText(QString::fromUtf8("\u00fcbersicht"), QString::fromUtf8("Grosse"), "x"), QStringLiteral("x"));
    // A key belongs to its own section only.
    QCOMPARE(ini.GetText("Main", "k", "none"), QStringLiteral("none"));
    QCOMPARE(ini.GetText("Other", "type", "none"), QStringLiteral("none"));
}

void TestIniFile::readsFirstOccurrence()
{
    const QString p = path("dups.ini");
    WriteAll(p, "[A]\nkey=first\nKEY=second\n[B]\nkey=b\n[a]\nkey=third\nonly=later\n");
    const TIniFile ini(p);
    QCOMPARE(ini.GetText("A", "key", ""), QStringLiteral("first"));
    // The second "A" section is never looked at.
    QCOMPARE(ini.GetText("A", "only", "def"), QStringLiteral("def"));
}

void TestIniFile::readsDefaults()
{
    const QString p = path("defaults.ini");
    WriteAll(p, "top=before any section\n[Main]\nKey=1\n");
    const TIniFile ini(p);
    QCOMPARE(ini.GetText("Main", "Missing", "def"), QStringLiteral("def"));
    QCOMPARE(ini.GetText("Nowhere", "Key", "def"), QStringLiteral("def"));
    QCOMPARE(ini.GetText("", "top", "def"), QStringLiteral("def"));
    const TIniFile none(path("does-not-exist.ini"));
    QCOMPARE(none.GetText("Main", "Key", "def"), QStringLiteral("def"));
    QCOMPARE(none.GetInteger("Main", "Key", 5), 5);
    QCOMPARE(none.GetFlag("Main", "Key", true), true);
    QCOMPARE(none.GetFlag("Main", "Key", false), false);
}

void TestIniFile::readsNumbersAndFlags()
{
    const QString p = path("numbers.ini");
    WriteAll(p, "[N]\nempty=\nyes=yes\ntrue=true\ntwo=2\nzero=0\nhex=0x1F\ndollar=$1F\nbare=0x\n"
                "neg=-12\nquoted=\"17\"\nbig=4294967296\nspaced=  9  \n");
    const TIniFile ini(p);
    QCOMPARE(ini.GetText("N", "empty", "d"), QString());
    QCOMPARE(ini.GetInteger("N", "empty", 7), 7);
    QCOMPARE(ini.GetFlag("N", "empty", true), true);
    QCOMPARE(ini.GetFlag("N", "empty", false), false);
    QCOMPARE(ini.GetFlag("N", "yes", false), false);
    QCOMPARE(ini.GetFlag("N", "true", false), false);
    QCOMPARE(ini.GetFlag("N", "true", true), true);
    QCOMPARE(ini.GetFlag("N", "two", false), true);
    QCOMPARE(ini.GetFlag("N", "zero", true), false);
    QCOMPARE(ini.GetInteger("N", "hex", 0), 31);
    QCOMPARE(ini.GetInteger("N", "dollar", 0), 31);
    QCOMPARE(ini.GetInteger("N", "bare", 3), 3);
    QCOMPARE(ini.GetInteger("N", "neg", 0), -12);
    QCOMPARE(ini.GetInteger("N", "quoted", 0), 17);
    QCOMPARE(ini.GetInteger("N", "big", -5), -5);
    QCOMPARE(ini.GetInteger("N", "spaced", 0), 9);
}

void TestIniFile::cutsLongValues()
{
    const QString p = path("long.ini");
    const QByteArray huge(100000, 'v');
    WriteAll(p, "[S]\nhuge=" + huge + "\nexact=" + QByteArray(2047, 'e') + "\nafter=ok\n");
    const TIniFile ini(p);
    QCOMPARE(ini.GetText("S", "huge", ""), QString(2047, QLatin1Char('v')));
    QCOMPARE(ini.GetText("S", "exact", "").size(), 2047);
    QCOMPARE(ini.GetText("S", "after", ""), QStringLiteral("ok"));
    // A character outside the basic plane is not cut in half.
    WriteAll(p, "[S]\nv=" + QByteArray(2046, 'a') + "\xF0\x9F\x8E\xAC" + "\n");
    const QString v = TIniFile(p).GetText("S", "v", "");
    QCOMPARE(v, QString(2046, QLatin1Char('a')));
}

void TestIniFile::survivesOddFiles()
{
    const QString p = path("odd.ini");
    WriteAll(p, BYTES("garbage without equals\n[Main\nnul=a\0b\n; Key=commented\nKey=1\n"
                      "[]\n=no key\n\xff\xfe bad utf8=\xff\n[Last]\nfinal=no newline"));
    const TIniFile ini(p);
    // "[Main" without its bracket still opens a section.
    QCOMPARE(ini.GetText("Main", "Key", "d"), QStringLiteral("1"));
    QCOMPARE(ini.GetText("Main", "nul", "d"), QString::fromUtf8("a\0b", 3));
    QCOMPARE(ini.GetText("Last", "final", "d"), QStringLiteral("no newline"));
    QCOMPARE(ini.GetInteger("Main", "nul", 4), 4);
    // A folder given as the file reads as missing.
    QCOMPARE(TIniFile(m_dir.path()).GetText("Main", "Key", "d"), QStringLiteral("d"));
}

void TestIniFile::replacesInPlace()
{
    const QString p = path("replace.ini");
    const QByteArray before = "; settings\n\n[Other]\nKey=other\n[Main]\n  OutputDir = \"/old\"   \nNext=2\n\n"
                              "# tail comment\n";
    WriteAll(p, before);
    TIniFile ini(p);
    ini.PutText(" main ", "outputdir", "/new folder"); // the file's spelling of the key stays
    QCOMPARE(ReadAll(p), QByteArray("; settings\n\n[Other]\nKey=other\n[Main]\n  OutputDir=/new folder\nNext=2\n\n"
                                    "# tail comment\n"));
    QCOMPARE(ini.GetText("Main", "OutputDir", ""), QStringLiteral("/new folder"));
    QCOMPARE(ini.GetText("Other", "Key", ""), QStringLiteral("other"));
}

void TestIniFile::readsPastByteOrderMark()
{
    const QString p = path("bom.ini");
    WriteAll(p, "\xEF\xBB\xBF[Main]\r\nVersion=2.0\r\n");
    TIniFile ini(p);
    QCOMPARE(ini.GetText("Main", "Version", ""), QStringLiteral("2.0"));
    ini.PutText("Main", "Profile", "3");
    QCOMPARE(ReadAll(p), QByteArray("\xEF\xBB\xBF[Main]\r\nVersion=2.0\r\nProfile=3\r\n"));
}

void TestIniFile::keepsCrLf()
{
    const QString p = path("crlf.ini");
    WriteAll(p, "[Main]\r\nA=1\r\n\r\n[Video]\r\nB=2\r\n");
    TIniFile ini(p);
    ini.PutText("Main", "A", "9");
    ini.PutText("Main", "C", "3");
    ini.PutText("Audio", "D", "4");
    QCOMPARE(ReadAll(p), QByteArray("[Main]\r\nA=9\r\nC=3\r\n\r\n[Video]\r\nB=2\r\n[Audio]\r\nD=4\r\n"));
}

void TestIniFile::addsKeyAfterLastEntry()
{
    const QString p = path("add.ini");
    WriteAll(p, "[Main]\nA=1\n; between\nB=2\n\n; about next\n[Next]\nC=3\n");
    TIniFile ini(p);
    ini.PutInteger("MAIN", "New", 5);
    QCOMPARE(ReadAll(p), QByteArray("[Main]\nA=1\n; between\nB=2\nNew=5\n\n; about next\n[Next]\nC=3\n"));
    // The last section, ending without a line break.
    WriteAll(p, "[Main]\nA=1");
    ini.PutText("Main", "B", "2");
    QCOMPARE(ReadAll(p), QByteArray("[Main]\nA=1\nB=2\n"));
}

void TestIniFile::addsKeyToEmptySection()
{
    const QString p = path("empty-section.ini");
    WriteAll(p, "[Main]\n; nothing yet\n[Next]\nC=3\n");
    TIniFile ini(p);
    ini.PutText("Main", "A", "1");
    QCOMPARE(ReadAll(p), QByteArray("[Main]\nA=1\n; nothing yet\n[Next]\nC=3\n"));
}

void TestIniFile::appendsSection()
{
    const QString p = path("append.ini");
    WriteAll(p, "[Main]\nA=1");
    TIniFile ini(p);
    ini.PutText("Default", "Profile", "MP4");
    QCOMPARE(ReadAll(p), QByteArray("[Main]\nA=1\n[Default]\nProfile=MP4\n"));
    WriteAll(p, "top=1\n");
    ini.PutText("Main", "B", " padded ");
    QCOMPARE(ReadAll(p), QByteArray("top=1\n[Main]\nB= padded \n"));
    // Blanks around a written value are not part of it when read back.
    QCOMPARE(ini.GetText("Main", "B", ""), QStringLiteral("padded"));
}

void TestIniFile::writesFirstOccurrence()
{
    const QString p = path("dup-write.ini");
    WriteAll(p, "[A]\nk=1\nk=2\n[a]\nk=3\n");
    TIniFile ini(p);
    ini.PutText("A", "K", "x");
    ini.PutText("a", "new", "y");
    QCOMPARE(ReadAll(p), QByteArray("[A]\nk=x\nk=2\nnew=y\n[a]\nk=3\n"));
}

void TestIniFile::writesTypedValues()
{
    const QString p = path("typed.ini");
    TIniFile ini(p);
    ini.PutInteger("Main", "Neg", -1);
    ini.PutFlag("Main", "On", true);
    ini.PutFlag("Main", "Off", false);
    ini.PutText("Main", "Name", QString::fromUtf8("Clip \u00e9t\u00e9"));
    QCOMPARE(ReadAll(p), QByteArray("[Main]\nNeg=-1\nOn=1\nOff=0\nName=Clip \xc3\xa9t\xc3\xa9\n"));
    QCOMPARE(ini.GetInteger("Main", "Neg", 0), -1);
    QCOMPARE(ini.GetFlag("Main", "On", false), true);
    QCOMPARE(ini.GetFlag("Main", "Off", true), false);
    QCOMPARE(ini.GetText("Main", "Name", ""), QString::fromUtf8("Clip \u00e9t\u00e9"));
    ini.PutFlag("Main", "On", false);
    QCOMPARE(ini.GetFlag("Main", "On", true), false);
}

void TestIniFile::keepsLineBreaksOutOfEntries()
{
    const QString p = path("breaks.ini");
    WriteAll(p, "[Main]\nA=1\n");
    TIniFile ini(p);
    ini.PutText("Main", "A", "two\nlines\r\n[Evil]");
    QCOMPARE(ReadAll(p).count('\n'), 2);
    QCOMPARE(ini.GetText("Evil", "", "none"), QStringLiteral("none"));
    QCOMPARE(ini.GetText("Main", "A", ""), QStringLiteral("two lines  [Evil]"));
}

void TestIniFile::readingCreatesNothing()
{
    const QString p = path("never.ini");
    {
        TIniFile ini(p);
        ini.GetText("Main", "A", "");
        ini.GetInteger("Main", "A", 0);
        ini.GetFlag("Main", "A", false);
        ini.Release();
    }
    QVERIFY(!QFile::exists(p));
    TIniFile ini(p);
    ini.PutText("Main", "A", "1");
    QCOMPARE(ReadAll(p), QByteArray("[Main]\nA=1\n"));
}

void TestIniFile::twoStoresShareTheFile()
{
    const QString p = path("shared.ini");
    TIniFile one(p);
    TIniFile two(p);
    one.PutText("Main", "A", "1");
    QCOMPARE(two.GetText("Main", "A", ""), QStringLiteral("1"));
    two.PutText("Main", "A", "2");
    two.PutText("Main", "B", "3");
    QCOMPARE(one.GetText("Main", "A", ""), QStringLiteral("2"));
    QCOMPARE(one.GetText("Main", "B", ""), QStringLiteral("3"));
}

void TestIniFile::keepsPermissions()
{
    const QString p = path("perm.ini");
    WriteAll(p, "[Main]\nA=1\n");
    const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(p, perms));
    TIniFile(p).PutText("Main", "A", "2");
    const auto ownerGroupOther = QFileDevice::Permissions::fromInt(0x7077); // without the "user" copy
    QCOMPARE(QFile::permissions(p) & ownerGroupOther, perms);
    // No temporary file is left beside it.
    QCOMPARE(QDir(m_dir.path()).entryList({"perm*"}, QDir::Files | QDir::Hidden), QStringList{"perm.ini"});
}

void TestIniFile::writesThroughLinks()
{
    const QString real = path("real.ini");
    const QString link = path("link.ini");
    WriteAll(real, "[Main]\nA=1\n");
    QVERIFY(QFile::link(real, link));
    TIniFile(link).PutText("Main", "A", "2");
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(ReadAll(real), QByteArray("[Main]\nA=2\n"));
}

void TestIniFile::refusesReadOnlyFile()
{
    QTemporaryDir dir;
    const QString p = dir.path() + "/ro.ini";
    const QByteArray content = "[Main]\nA=1\n";
    WriteAll(p, content);
    QVERIFY(QFile::setPermissions(p, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    TIniFile ini(p);
    // The permission bits count even when the tests run as the super-user.
    QCOMPARE(Refusal([&] { ini.PutText("Main", "A", "2"); }), "Unable to write to " + p);
    QCOMPARE(Refusal([&] { ini.PutInteger("Main", "New", 2); }), "Unable to write to " + p);
    QCOMPARE(Refusal([&] { ini.PutFlag("Other", "F", true); }), "Unable to write to " + p);
    QCOMPARE(ReadAll(p), content);
    QCOMPARE(ini.GetText("Main", "A", ""), QStringLiteral("1"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"ro.ini"});
    QFile::setPermissions(p, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TestIniFile::refusesReadOnlyFolder()
{
    QTemporaryDir dir;
    const QString p = dir.path() + "/in-ro-folder.ini";
    const QByteArray content = "[Main]\nA=1\n";
    WriteAll(p, content);
    TIniFile ini(p);
    ini.PutText("Main", "A", "0"); // writes before the failure stay
    const auto roDir = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup | QFileDevice::ExeGroup;
    QVERIFY(QFile::setPermissions(dir.path(), roDir));
    const QString existing = Refusal([&] { ini.PutText("Main", "A", "2"); });
    const QString fresh = Refusal([&] { TIniFile(dir.path() + "/new.ini").PutText("Main", "A", "2"); });
    QFile::setPermissions(dir.path(), roDir | QFileDevice::WriteOwner);
    QCOMPARE(existing, "Unable to write to " + p);
    QCOMPARE(fresh, "Unable to write to " + dir.path() + "/new.ini");
    QCOMPARE(ReadAll(p), QByteArray("[Main]\nA=0\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"in-ro-folder.ini"});
}

void TestIniFile::refusesMissingFolder()
{
    const QString p = path("no-such-folder/x.ini");
    QCOMPARE(Refusal([&] { TIniFile(p).PutText("Main", "A", "1"); }), "Unable to write to " + p);
    QVERIFY(!QFileInfo::exists(path("no-such-folder")));
    // A relative name is reported with its full path.
    const QString here = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    const QString rel = Refusal([&] { TIniFile("missing/y.ini").PutText("Main", "A", "1"); });
    QDir::setCurrent(here);
    QCOMPARE(rel, "Unable to write to " + m_dir.path() + "/missing/y.ini");
}

void TestIniFile::roundTripsOddFiles()
{
    const QString p = path("odd-write.ini");
    const QByteArray head = BYTES("\xef\xbb\xbf; saved by hand\n\tindented junk\n[Main]\r\nnul=a\0b\n");
    const QByteArray tail = BYTES("[Unknown]\n\xff\xfe=\xff\n\n  \nlast line without break");
    const QByteArray huge = "[Big]\nv=" + QByteArray(300000, 'z') + "\n";
    WriteAll(p, head + huge + tail);
    TIniFile ini(p);
    ini.PutText("Main", "nul", "c");
    ini.PutText("Big", "w", "1");
    QCOMPARE(ReadAll(p), QByteArray("\xef\xbb\xbf; saved by hand\n\tindented junk\n[Main]\r\nnul=c\n"
                                    "[Big]\nv=" + QByteArray(300000, 'z') + "\nw=1\n") + tail);
    // New lines take the file's first line break.
    ini.PutText("Tail", "k", "v");
    QCOMPARE(ReadAll(p).right(tail.size() + 12), tail + "\n[Tail]\nk=v\n");
}

void TestIniFile::readsFilesFromElsewhere_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("CR line ends") << QByteArray("[Main]\rType=avi\rPara=2\r") << "Main" << "Para" << "2";
    QTest::newRow("mixed line ends") << QByteArray("[Main]\r\nA=1\rB=2\nC=3") << "Main" << "B" << "2";
    QTest::newRow("Windows-1252 value") << QByteArray("[Main]\nOutput Dir=/Vid\xe9os\x80\n") << "Main" << "Output Dir"
                                        << QString::fromUtf8("/Vid\u00e9os\u20ac");
    QTest::newRow("Windows-1252 name") << QByteArray("[R\xe9sum\xe9]\nk=v\n") << QString::fromUtf8("R\u00c9SUM\u00c9")
                                       << "K" << "v";
    QTest::newRow("UTF-8 stays UTF-8") << QByteArray("[Main]\nk=Vid\xc3\xa9os\n") << "Main" << "k"
                                       << QString::fromUtf8("Vid\u00e9os");
    QTest::newRow("mark at the start skipped") << QByteArray("\xEF\xBB\xBF[Main]\nk=1\n") << "Main" << "k" << "1";
    QTest::newRow("mark in a value kept") << QByteArray("[Main]\nk=\xEF\xBB\xBFx\n") << "Main" << "k"
                                          << QString::fromUtf8("\uFEFFx");
    QTest::newRow("mark on a later line is text") << QByteArray("[A]\nk=1\n\xEF\xBB\xBF[Main]\nk=2\n") << "Main"
                                                  << "k" << "none";
    QTest::newRow("blanks around asked names") << QByteArray("[Main]\nType=avi\n") << " Main " << "\tType " << "avi";
}

void TestIniFile::readsFilesFromElsewhere()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString p = path("elsewhere.ini");
    WriteAll(p, content);
    QCOMPARE(TIniFile(p).GetText(section, key, "none"), value);
}

void TestIniFile::writesBackInTheFilesOwnWay()
{
    const QString p = path("own-way.ini");
    // Windows-1252 stays Windows-1252, the other lines byte for byte.
    WriteAll(p, "[Main]\r\nOutput Dir=/Vid\xe9os\r\n");
    TIniFile(p).PutText("Main", "Name", QString::fromUtf8("Cl\u00e9"));
    QCOMPARE(ReadAll(p), QByteArray("[Main]\r\nOutput Dir=/Vid\xe9os\r\nName=Cl\xe9\r\n"));
    // Text it cannot hold moves the whole file to UTF-8 rather than losing a character.
    TIniFile(p).PutText("Main", "Name", QString::fromUtf8("\u65e5\u672c"));
    QCOMPARE(ReadAll(p), QByteArray("[Main]\r\nOutput Dir=/Vid\xc3\xa9os\r\nName=\xe6\x97\xa5\xe6\x9c\xac\r\n"));
    QCOMPARE(TIniFile(p).GetText("Main", "Output Dir", ""), QString::fromUtf8("/Vid\u00e9os"));

    // CR-only line ends are kept; a name asked with blanks finds its section and key.
    WriteAll(p, "[Main]\rOutput Dir=a\r[Next]\rk=1\r");
    TIniFile ini(p);
    ini.PutText(" Main ", " output dir ", "b");
    ini.PutText("Main", "New", "c");
    QCOMPARE(ReadAll(p), QByteArray("[Main]\rOutput Dir=b\rNew=c\r[Next]\rk=1\r"));
}

void TestIniFile::refusesWhatIsNoRegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("pipe") << "fifo" << "not a regular file";
    QTest::newRow("folder") << "folder" << "not a regular file";
    QTest::newRow("endless device") << "device" << "not a regular file";
    QTest::newRow("sparse giant") << "giant" << "larger than 256 MB";
}

void TestIniFile::refusesWhatIsNoRegularFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString p = dir.path() + "/Preferences.ini";
    const QByteArray native = QFile::encodeName(p);
    if (kind == "fifo")
        QCOMPARE(::mkfifo(native.constData(), 0644), 0);
    else if (kind == "folder")
        QVERIFY(QDir().mkdir(p));
    else if (kind == "device")
        QVERIFY(QFile::link("/dev/zero", p));
    else
        WriteAll(p, "[Main]\nk=1\n");
    if (kind == "giant") // 300 MB that take no room on the disk
        QCOMPARE(::truncate(native.constData(), 300LL * 1024 * 1024), 0);

    // Reading neither blocks nor runs on: the defaults come back at once.
    TIniFile ini(p);
    QCOMPARE(ini.GetText("Main", "k", "def"), QStringLiteral("def"));
    QCOMPARE(ini.SectionCount(), 0);
    const QString why = Refusal([&] { ini.CheckReadable(); });
    QVERIFY2(why.startsWith("Unable to read " + p + ": ") && why.contains(reason), qPrintable(why));
    QCOMPARE(Refusal([&] { ini.PutText("Main", "k", "2"); }), "Unable to write to " + p);
    // Nothing was put in its place.
    QCOMPARE(QFileInfo(p).isFile(), kind == "giant");
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"Preferences.ini"});
}

void TestIniFile::readsItsFileOnce()
{
    const QString p = path("once.ini");
    WriteAll(p, "[Main]\nA=1\nB=2\n");
    TIniFile ini(p);
    QCOMPARE(ini.GetText("Main", "A", ""), QStringLiteral("1"));
    // Later reads answer from that one reading, not from the disk.
    QVERIFY(QFile::remove(p));
    QCOMPARE(ini.GetText("Main", "B", ""), QStringLiteral("2"));
    QCOMPARE(TIniFile(p).GetText("Main", "B", "gone"), QStringLiteral("gone"));
}

void TestIniFile::heldWritesEndAsSingleOnes_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("writes"); // section, key, value, ...
    QTest::newRow("replace, add, append") << QByteArray("[Main]\r\nA=1\r\n\r\n[Video]\r\nB=2\r\n")
                                          << QStringList{"Main", "A", "9", "Main", "C", "3", "Audio", "D", "4",
                                                         "Video", "B", "long value", "Main", "c", "5"};
    QTest::newRow("later sections first") << QByteArray("[A]\nk=1\n[B]\nk=2\n[C]\nk=3")
                                          << QStringList{"C", "k", "x", "B", "new", "y", "A", "k", "", "C", "n", "z"};
    QTest::newRow("empty section and no last break") << QByteArray("[Main]\n; nothing yet\n[Next]\nC=3")
                                                     << QStringList{"Main", "A", "1", "Next", "D", "4", "Main", "B", "2"};
    QTest::newRow("CR only, mark, new sections") << QByteArray("\xEF\xBB\xBF[Main]\rA=1\r")
                                                 << QStringList{"X", "k", "1", "Y", "k", "2", "X", "j", "3", "Main", "A", "0"};
    QTest::newRow("empty file") << QByteArray() << QStringList{"Main", "A", "1", "Main", "A", "2", "Main", "B", "3"};
    QTest::newRow("empty section after a longer line") << QByteArray("[A]\nk=1\n[B]\n[C]\nx=1\n")
                                                       << QStringList{"A", "k", "a longer value", "B", "new", "1",
                                                                      "C", "x", "2", "B", "new", "3"};
}

void TestIniFile::heldWritesEndAsSingleOnes()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, writes);
    const QString single = path("single.ini");
    const QString held = path("held.ini");
    WriteAll(single, content);
    WriteAll(held, content);
    TIniFile store(held);
    store.HoldWrites();
    for (qsizetype i = 0; i + 2 < writes.size(); i += 3) {
        TIniFile(single).PutText(writes[i], writes[i + 1], writes[i + 2]);
        store.PutText(writes[i], writes[i + 1], writes[i + 2]);
        // The store reads what it holds; the file waits for Release.
        QCOMPARE(store.GetText(writes[i], writes[i + 1], "none"), writes[i + 2]);
        QCOMPARE(ReadAll(held), content);
    }
    store.Release();
    QCOMPARE(ReadAll(held), ReadAll(single));
}

QTEST_APPLESS_MAIN(TestIniFile)
#include "core_inifile.moc"
