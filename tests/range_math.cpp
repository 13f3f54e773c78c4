// Rounding, mark placement and the length text of the marked range.
#include "preview/RangeMath.h"
#include <QtTest/QtTest>
#include <cfenv>
#include <limits>

class RangeMathTest : public QObject {
    Q_OBJECT
private slots:
    void halvesGoToTheEvenNeighbour_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("expected");
        QTest::newRow("10.5") << 10.5 << 10;
        QTest::newRow("11.5") << 11.5 << 12;
        QTest::newRow("0.5") << 0.5 << 0;
        QTest::newRow("-0.5") << -0.5 << 0;
        QTest::newRow("-1.5") << -1.5 << -2;
        QTest::newRow("-2.5") << -2.5 << -2;
        QTest::newRow("2.4999") << 2.4999 << 2;
        QTest::newRow("2.5001") << 2.5001 << 3;
        QTest::newRow("90.7") << 90.7 << 91;
        QTest::newRow("whole") << 3723.0 << 3723;
        QTest::newRow("huge") << 1e300 << std::numeric_limits<int>::max();
        QTest::newRow("-huge") << -1e300 << std::numeric_limits<int>::min();
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 0;
    }
    void halvesGoToTheEvenNeighbour()
    {
        QFETCH(double, x);
        QFETCH(int, expected);
        QCOMPARE(RoundHalfEvenInt(x), expected);
        // Whatever rounding mode the process runs in.
        const int mode = std::fegetround();
        std::fesetround(FE_UPWARD);
        QCOMPARE(RoundHalfEvenInt(x), expected);
        std::fesetround(mode);
    }

    void marksStandAtTheirShareOfTheBar()
    {
        // Bar at 6, 384 wide, Max 768: every odd second lands on a half pixel.
        QCOMPARE(StartMarkLeft(6, 384, 0, 768), 6);
        QCOMPARE(StartMarkLeft(6, 384, 5, 768), 8);   // 8.5 -> 8
        QCOMPARE(StartMarkLeft(6, 384, 7, 768), 10);  // 9.5 -> 10
        QCOMPARE(StartMarkLeft(6, 384, 768, 768), 390);
        // The end mark's right edge stands at the end of the range.
        QCOMPARE(EndMarkLeft(6, 384, 768, 768, 70), 320);
        QCOMPARE(EndMarkLeft(6, 384, 5, 768, 70), -62); // -61.5 -> -62
        // Beyond Max (a bar whose Max has not caught up yet): past the bar, not clamped.
        QCOMPARE(StartMarkLeft(6, 384, 20, 10), 774);
        // Max 0: no division; the start of the range at the left edge, later ones at the end.
        QCOMPARE(StartMarkLeft(6, 384, 0, 0), 6);
        QCOMPARE(StartMarkLeft(6, 384, 1, 0), 390);
        QCOMPARE(EndMarkLeft(6, 384, 1, 0, 70), 320);
        QCOMPARE(EndMarkLeft(6, 384, 0, 0, 70), -64);
    }

    void marksOverlapUnlessAGapIsLeft()
    {
        QVERIFY(!MarksOverlap(10, 50, 61, 50)); // start ends left of the end mark
        QVERIFY(MarksOverlap(10, 50, 60, 50));  // touching counts as overlapping
        QVERIFY(MarksOverlap(10, 50, 30, 50));
        QVERIFY(!MarksOverlap(100, 50, 10, 50)); // end mark wholly left of the start mark
        QVERIFY(MarksOverlap(100, 50, 50, 50));
    }

    void lengthText()
    {
        QCOMPARE(RangeLengthText(10, 91, 80.7), QStringLiteral("The length of the marked rang is 00:01:20"));
        QCOMPARE(RangeLengthText(10, 91), QStringLiteral("The length of the marked rang is 00:01:21"));
        QCOMPARE(RangeLengthText(10, 10), QStringLiteral("The End Time should be later than the Start Time."));
        QCOMPARE(RangeLengthText(91, 10), QStringLiteral("The End Time should be later than the Start Time."));
        QCOMPARE(RangeLengthText(0, 3723), QStringLiteral("The length of the marked rang is 01:02:03"));
    }

    void lengthFromTheExactMarks()
    {
        QCOMPARE(MarkedLengthText(10, 90.7), QStringLiteral("The length of the marked rang is 00:01:20.700"));
        QCOMPARE(MarkedLengthText(1.0 / 30, 31.0 / 30), QStringLiteral("The length of the marked rang is 00:00:01"));
        QCOMPARE(MarkedLengthText(10.4, 10.6), QStringLiteral("The length of the marked rang is 00:00:00.200"));
        QCOMPARE(MarkedLengthText(10, 10), QStringLiteral("The End Time should be later than the Start Time."));
    }

    void marksKeptInside()
    {
        QCOMPARE(KeepInside(-62, 70, 460), 0);
        QCOMPARE(KeepInside(400, 70, 460), 390);
        QCOMPARE(KeepInside(50, 500, 460), 0); // wider than the area: at its left edge
    }

    // Minute ticks while they stay 5 px apart, then hour ticks, then none.
    void tickSteps_data()
    {
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<int>("step");
        QTest::newRow("an hour") << 3599 << 370 << 60;
        QTest::newRow("75 minutes") << 4500 << 370 << 3600;
        QTest::newRow("two hours") << 7200 << 370 << 3600;
        QTest::newRow("two hours, wide") << 7200 << 600 << 60;
        QTest::newRow("100 hours") << 360000 << 370 << 0;
        QTest::newRow("empty") << 0 << 370 << 0;
    }
    void tickSteps()
    {
        QFETCH(int, range);
        QFETCH(int, pixels);
        QFETCH(int, step);
        QCOMPARE(TickStep(60, 3600, range, pixels), step);
        QCOMPARE(TickStep(0, 0, range, pixels), 0); // no Frequency: no ticks
    }
};

QTEST_APPLESS_MAIN(RangeMathTest)
#include "range_math.moc"
