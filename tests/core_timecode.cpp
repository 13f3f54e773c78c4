#include "app/TimeCode.h"
#include <QtTest/QtTest>

class TestTimeCode : public QObject {
    Q_OBJECT
private slots:
    void format_data();
    void format();
    void parse_data();
    void parse();
    void parseWithComma();
    void roundTrips();
    void exactFormat_data();
    void exactFormat();
    void losslessReadsBackExactly();
};

void TestTimeCode::format_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << 0.0 << "00:00:00";
    QTest::newRow("fraction dropped, not rounded") << 59.9 << "00:00:59";
    QTest::newRow("just under a second") << 0.999 << "00:00:00";
    QTest::newRow("hms") << 3725.0 << "01:02:05";
    QTest::newRow("99:59:59") << 99 * 3600.0 + 59 * 60 + 59 << "99:59:59";
    QTest::newRow("hours beyond two digits") << 100 * 3600.0 << "100:00:00";
    QTest::newRow("very long") << 1234567.0 * 3600 << "1234567:00:00";
    QTest::newRow("minus one hour") << -3600.0 << "-01:00:00";
    QTest::newRow("negative truncates toward zero") << -0.5 << "00:00:00";
    QTest::newRow("negative minutes and seconds") << -61.7 << "00:-01:-01";
    QTest::newRow("minus two") << -2.0 << "00:00:-02";
    QTest::newRow("not a number") << qQNaN() << "00:00:00";
}

void TestTimeCode::format()
{
    QFETCH(double, seconds);
    QFETCH(QString, expected);
    QCOMPARE(FormatTimeCode(seconds), expected);
}

void TestTimeCode::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("short parts") << "1:2:3" << 3723.0;
    QTest::newRow("minutes above 59") << "00:90:00" << 5400.0;
    QTest::newRow("fraction") << "00:00:10.5" << 10.5;
    QTest::newRow("seconds above 59") << "00:00:75" << 75.0;
    QTest::newRow("long hours") << "123:00:00" << 442800.0;
    QTest::newRow("blanks before parts") << "  1: 2: 3" << 3723.0;
    QTest::newRow("blanks after seconds") << "0:0:4  " << 4.0;
    QTest::newRow("signs") << "+1:-1:+1" << 3541.0;
    QTest::newRow("negative hours") << "-1:00:00" << -3600.0;
    QTest::newRow("exponent") << "0:0:1.5e1" << 15.0;
    QTest::newRow("exponent with sign") << "0:0:25E-1" << 2.5;
    QTest::newRow("trailing separator") << "0:0:7." << 7.0;
    QTest::newRow("sign then fraction") << "0:0:-.5" << -0.5;
    QTest::newRow("minus two") << "00:00:-2" << -2.0;
    QTest::newRow("leading zeros") << "0000000000001:00:00" << 3600.0;
    QTest::newRow("seconds too small to hold") << "0:0:1e-400" << 0.0;
    QTest::newRow("small seconds with many digits") << "0:0:1000e-402" << 0.0;
    QTest::newRow("small fraction") << "0:0:0.0001e-399" << 0.0;
    QTest::newRow("largest 32-bit whole part") << "596523:14:07" << 2147483647.0;
    QTest::newRow("smallest 32-bit whole part") << "-596523:-14:-08" << -2147483648.0;

    // Not time codes.
    QTest::newRow("leading dot in seconds") << "00:00:.5" << -1.0;
    // Minutes and seconds, or seconds alone, as the command line takes them.
    QTest::newRow("minutes and seconds") << "10:00" << 600.0;
    QTest::newRow("minutes and seconds with a fraction") << "1:30.25" << 90.25;
    QTest::newRow("plain seconds") << "100" << 100.0;
    QTest::newRow("plain seconds with a fraction") << "5.5" << 5.5;
    QTest::newRow("plain seconds between blanks") << " 90 " << 90.0;
    QTest::newRow("plain fraction without its whole part") << ".5" << -1.0;
    QTest::newRow("empty minutes of two parts") << ":30" << -1.0;
    QTest::newRow("letters") << "five" << -1.0;
    QTest::newRow("blank inside plain seconds") << "5 5" << -1.0;
    QTest::newRow("further colon in seconds") << "1:2:3:4" << -1.0;
    QTest::newRow("blank after hours") << "1 :2:3" << -1.0;
    QTest::newRow("blank after minutes") << "1:2 :3" << -1.0;
    QTest::newRow("empty") << "" << -1.0;
    QTest::newRow("empty hours") << ":2:3" << -1.0;
    QTest::newRow("empty minutes") << "1::3" << -1.0;
    QTest::newRow("empty seconds") << "1:2:" << -1.0;
    QTest::newRow("sign only") << "-:2:3" << -1.0;
    QTest::newRow("fractional hours") << "1.5:0:0" << -1.0;
    QTest::newRow("hex hours") << "$1:0:0" << -1.0;
    QTest::newRow("letters in seconds") << "0:0:5s" << -1.0;
    QTest::newRow("exponent without digits") << "0:0:5e" << -1.0;
    QTest::newRow("dot only") << "0:0:-." << -1.0;
    QTest::newRow("overflowing exponent") << "0:0:1e999" << -1.0;
    QTest::newRow("overflowing digits") << "0:0:" + QString(400, QLatin1Char('9')) + "e-10" << -1.0;
    QTest::newRow("minus one is the error value") << "00:00:-1" << -1.0;
    QTest::newRow("hours beyond 32 bits") << "99999999999:00:00" << -1.0;
    QTest::newRow("hours times 3600 beyond 32 bits") << "596524:00:00" << -1.0;
    QTest::newRow("minutes beyond 32 bits") << "0:4294967296:00" << -1.0;
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("\u0661:0:0") << -1.0;
}

void TestTimeCode::parse()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(ParseTimeCode(text, QLatin1Char('.')), expected);
}

void TestTimeCode::parseWithComma()
{
    const QChar comma(QLatin1Char(','));
    QCOMPARE(ParseTimeCode("00:00:10,5", comma), 10.5);
    QCOMPARE(ParseTimeCode("0:1:2,25e1", comma), 82.5);
    // With a comma separator the point is just an unknown character.
    QCOMPARE(ParseTimeCode("00:00:10.5", comma), -1.0);
    QCOMPARE(ParseTimeCode("00:00:.5", comma), -1.0);
    // Only a point is refused as the first character of the seconds.
    QCOMPARE(ParseTimeCode("00:00:,5", comma), 0.5);
    QCOMPARE(ParseTimeCode("00:00:10,5", QLatin1Char('.')), -1.0);
    // The user's separator is used when none is given.
    const QString typed = QStringLiteral("00:00:10") + UserDecimalSeparator() + QStringLiteral("5");
    QCOMPARE(ParseTimeCode(typed), 10.5);
}

void TestTimeCode::roundTrips()
{
    QCOMPARE(FormatTimeCode(ParseTimeCode("1:2:3", QLatin1Char('.'))), QStringLiteral("01:02:03"));
    QCOMPARE(FormatTimeCode(ParseTimeCode("00:90:00", QLatin1Char('.'))), QStringLiteral("01:30:00"));
    QCOMPARE(FormatTimeCode(ParseTimeCode("00:00:10.5", QLatin1Char('.'))), QStringLiteral("00:00:10"));
    for (double v : {0.0, 1.0, 59.0, 3599.0, 86399.0, 360000.0, 7654321.0})
        QCOMPARE(ParseTimeCode(FormatTimeCode(v), QLatin1Char('.')), v);
}

// Marks to the millisecond: whole seconds as before, fractions with three digits.
void TestTimeCode::exactFormat_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "00:00:00";
    QTest::newRow("whole") << 3725.0 << "01:02:05";
    QTest::newRow("half") << 10.5 << "00:00:10.500";
    QTest::newRow("0.7 held as 0.69999...") << 0.7 << "00:00:00.700";
    QTest::newRow("a frame at 30 fps") << 31.0 / 30.0 << "00:00:01.033";
    QTest::newRow("rounds up to a whole second") << 59.9996 << "00:01:00";
    QTest::newRow("hours") << 100 * 3600 + 0.25 << "100:00:00.250";
    QTest::newRow("negative under a second") << -0.5 << "00:00:-00.500";
    QTest::newRow("negative") << -90.5 << "00:-01:-30.500";
}

void TestTimeCode::exactFormat()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(FormatExactTimeCode(seconds, QLatin1Char('.')), text);
    // What is shown reads back as the time to the millisecond.
    QVERIFY(qAbs(ParseTimeCode(text, QLatin1Char('.')) - seconds) <= 0.0005 + 1e-9);
    // The user's separator is used for the fraction.
    if (text.contains(QLatin1Char('.')))
        QCOMPARE(FormatExactTimeCode(seconds, QLatin1Char(',')), QString(text).replace('.', ','));
}

void TestTimeCode::losslessReadsBackExactly()
{
    for (const double s : {0.0, 1.0 / 3.0, 31.0 / 30.0, 3725.0 + 2.0 / 3.0, 1e-5, 12345678.123456789, -2.5, 7200.0})
        for (const QChar sep : {QLatin1Char('.'), QLatin1Char(',')}) {
            const QString text = LosslessTimeCode(s, sep);
            QCOMPARE(ParseTimeCode(text, sep), s);
        }
}

QTEST_APPLESS_MAIN(TestTimeCode)
#include "core_timecode.moc"
