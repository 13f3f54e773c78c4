// Which decoded frame answers a seek: the last one starting at or before the target, also
// with unknown durations, gaps, a search that began too late and frames left undecoded.
#include "preview/FramePicker.h"
#include <QtTest/QtTest>

namespace {

QList<double> Steady(double from, double to, double step = 0.04)
{
    QList<double> v;
    for (double t = from; t <= to + 1e-9; t += step)
        v << t;
    return v;
}

// Feeds the frames as a decoder gives them; "answer T", "after T", "overshoot", "retry" or
// "nothing" for what the picker made of them.
QString Pick(const QList<double>& frames, double duration, double target, bool expectEarlier,
             const QList<double>& skippedUndecoded)
{
    TFramePicker p;
    p.Start(target, expectEarlier);
    for (double s : skippedUndecoded)
        p.NoteSkippable(s);
    double held = -1;
    auto t = [](double v) { return QString::number(v, 'f', 2); };
    for (double f : frames) {
        switch (p.Feed(f, duration)) {
        case TFramePicker::Step::Pass:
            return "pass " + t(f);
        case TFramePicker::Step::Hold:
            held = f;
            break;
        case TFramePicker::Step::HeldThenPass:
            return "answer " + t(held);
        case TFramePicker::Step::After:
            return "after " + t(f);
        case TFramePicker::Step::Overshoot:
            return "overshoot";
        case TFramePicker::Step::Retry:
            return "retry";
        }
    }
    switch (p.Finish()) {
    case TFramePicker::End::Held:
        return "answer " + t(held);
    case TFramePicker::End::Retry:
        return "retry";
    case TFramePicker::End::Nothing:
        break;
    }
    return "nothing";
}

} // namespace

class FramePickerTest : public QObject {
    Q_OBJECT
private slots:
    void picks_data()
    {
        QTest::addColumn<QList<double>>("frames");
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("target");
        QTest::addColumn<bool>("expectEarlier");
        QTest::addColumn<QList<double>>("skipped");
        QTest::addColumn<QString>("result");
        const QList<double> run = Steady(0, 0.4);
        QTest::newRow("inside a frame, durations known") << run << 0.04 << 0.13 << true << QList<double>() << "answer 0.12";
        QTest::newRow("inside a frame, durations unknown") << run << 0.0 << 0.13 << true << QList<double>() << "answer 0.12";
        QTest::newRow("on a frame's start") << run << 0.04 << 0.12 << true << QList<double>() << "answer 0.12";
        QTest::newRow("a hair before a start") << run << 0.0 << 0.12 - 1e-9 << true << QList<double>() << "answer 0.12";
        QTest::newRow("just before the next start") << run << 0.0 << 0.159 << true << QList<double>() << "answer 0.12";
        QTest::newRow("before the first frame") << Steady(0.08, 0.4) << 0.04 << 0.0 << false << QList<double>()
                                                << "after 0.08";
        QTest::newRow("search began past the target") << Steady(0.2, 0.4) << 0.04 << 0.1 << true << QList<double>()
                                                      << "overshoot";
        QTest::newRow("past the last frame") << Steady(0, 0.2) << 0.04 << 5.0 << true << QList<double>() << "answer 0.20";
        QTest::newRow("past the last, durations unknown") << Steady(0, 0.2) << 0.0 << 5.0 << true << QList<double>()
                                                          << "answer 0.20";
        QTest::newRow("a gap in the frames") << QList<double> {0, 0.04, 1.0} << 0.0 << 0.5 << true << QList<double>()
                                             << "answer 0.04";
        QTest::newRow("a frame in the gap went undecoded")
            << QList<double> {0, 0.04, 1.0} << 0.0 << 0.5 << true << QList<double> {0.08} << "retry";
        QTest::newRow("an undecoded frame before the one")
            << QList<double> {0, 0.04, 1.0} << 0.0 << 0.5 << true << QList<double> {0.02} << "answer 0.04";
        QTest::newRow("undecoded at the end of the stream")
            << QList<double> {0, 0.04} << 0.0 << 0.5 << true << QList<double> {0.08} << "retry";
        // Where a 25 fps part meets a 30 fps one, the stated 40 ms reaches past the next start.
        QTest::newRow("stated duration past the next start")
            << QList<double> {0, 0.04, 0.0733, 0.1067} << 0.04 << 0.075 << true << QList<double>() << "answer 0.07";
        QTest::newRow("no frames at all") << QList<double>() << 0.04 << 1.0 << true << QList<double>() << "nothing";
    }

    void picks()
    {
        QFETCH(QList<double>, frames);
        QFETCH(double, duration);
        QFETCH(double, target);
        QFETCH(bool, expectEarlier);
        QFETCH(QList<double>, skipped);
        QFETCH(QString, result);
        QCOMPARE(Pick(frames, duration, target, expectEarlier, skipped), result);
    }

    void withoutATargetEveryFramePasses()
    {
        TFramePicker p;
        QVERIFY(p.Feed(1.0, 0.04) == TFramePicker::Step::Pass);
        p.Start(2.0, false);
        QVERIFY(p.Feed(2.5, 0.04) == TFramePicker::Step::After);
        QVERIFY(!p.Active());
        QVERIFY(p.Feed(2.54, 0.04) == TFramePicker::Step::Pass);
        QVERIFY(!p.MaySkip(0.0, 0.04));
    }

    // Only packets well before the target and before the frames wanted ahead of it.
    void whatMayGoUndecoded_data()
    {
        QTest::addColumn<double>("pts");
        QTest::addColumn<double>("frameDuration");
        QTest::addColumn<int>("keep");
        QTest::addColumn<bool>("skip");
        QTest::newRow("two frames before") << 0.919 << 0.04 << 0 << true;
        QTest::newRow("closer than two frames") << 0.921 << 0.04 << 0 << false;
        QTest::newRow("after the target") << 1.5 << 0.04 << 0 << false;
        QTest::newRow("among frames kept for steps back") << 0.45 << 0.04 << 12 << false;
        QTest::newRow("before frames kept for steps back") << 0.43 << 0.04 << 12 << true;
        QTest::newRow("rate unknown") << 0.81 << 0.0 << 0 << false;
        QTest::newRow("rate unknown, further back") << 0.79 << 0.0 << 0 << true;
    }

    void whatMayGoUndecoded()
    {
        QFETCH(double, pts);
        QFETCH(double, frameDuration);
        QFETCH(int, keep);
        QFETCH(bool, skip);
        TFramePicker p;
        p.Start(1.0, true);
        QCOMPARE(p.MaySkip(pts, frameDuration, keep), skip);
    }
};

QTEST_APPLESS_MAIN(FramePickerTest)
#include "frame_picker.moc"
