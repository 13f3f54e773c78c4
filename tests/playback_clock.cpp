// The playback clock: runs with the system's time only while running, at its rate; the
// sound output's reports set it only while playing at normal speed in the current epoch.
#include "preview/PlaybackClock.h"
#include <QtTest/QtTest>

class PlaybackClockTest : public QObject {
    Q_OBJECT
    int64_t m_ns = 0;
    void advance(double seconds) { m_ns += int64_t(seconds * 1e9); }

private slots:
    void runsOnlyWhileRunning()
    {
        TPlaybackClock c([this] { return m_ns; });
        c.Set(5);
        advance(1);
        QCOMPARE(c.Now(), 5.0);
        c.Run(true);
        advance(0.5);
        QCOMPARE(c.Now(), 5.5);
        c.Run(true); // running again changes nothing
        advance(0.5);
        QCOMPARE(c.Now(), 6.0);
        c.Run(false);
        advance(3);
        QCOMPARE(c.Now(), 6.0);
        c.SetRate(2);
        c.Run(true);
        advance(1);
        QCOMPARE(c.Now(), 8.0);
        c.Set(1); // a seek while running goes on from there
        advance(0.25);
        QCOMPARE(c.Now(), 1.5);
    }

    void theSoundSetsIt_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("epoch"); // of the report; the clock is in epoch 3
        QTest::addColumn<double>("heard");
        QTest::addColumn<double>("after");
        QTest::newRow("behind") << true << 1.0 << 3 << 9.5 << 9.5;
        QTest::newRow("ahead") << true << 1.0 << 3 << 10.2 << 10.2;
        QTest::newRow("within the jitter") << true << 1.0 << 3 << 10.003 << 10.0;
        QTest::newRow("from before the last seek") << true << 1.0 << 2 << 3.0 << 10.0;
        QTest::newRow("while paused") << false << 1.0 << 3 << 9.0 << 10.0;
        QTest::newRow("at another speed") << true << 2.0 << 3 << 9.0 << 10.0;
    }

    void theSoundSetsIt()
    {
        QFETCH(bool, running);
        QFETCH(double, rate);
        QFETCH(int, epoch);
        QFETCH(double, heard);
        QFETCH(double, after);
        TPlaybackClock c([this] { return m_ns; });
        c.SetEpoch(3);
        c.SetRate(rate);
        c.Set(10);
        c.Run(running);
        c.Sync(heard, epoch);
        QCOMPARE(c.Now(), after);
        // It runs on from the position heard.
        advance(1);
        QCOMPARE(c.Now(), running ? after + rate : after);
    }
};

QTEST_APPLESS_MAIN(PlaybackClockTest)
#include "playback_clock.moc"
