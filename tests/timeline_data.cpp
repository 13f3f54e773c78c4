// The timeline's own arithmetic: key-frame neighbours, sound peaks, the stored file and the
// zoom of the track bar.
#include "preview/KeyFrameIndex.h"
#include "preview/TimelineData.h"
#include "preview/TimelineZoom.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QtEndian>
#include <QtTest/QtTest>
#include <cmath>

Q_DECLARE_METATYPE(TimelineView)

namespace {

constexpr qint64 S = 1000000; // one second in microseconds

// Planar samples of `seconds` at `rate`: each channel's value at time t (from `from`).
template <typename F>
void Feed(PeakReducer& r, int rate, int channels, double from, double seconds, F value, int chunk = 1001)
{
    const int total = int(std::lround(seconds * rate));
    std::vector<std::vector<float>> planes(size_t(channels), std::vector<float>(size_t(chunk), 0.0f));
    for (int done = 0; done < total; done += chunk) {
        const int n = std::min(chunk, total - done);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < n; ++i)
                planes[size_t(c)][size_t(i)] = value(c, from + double(done + i) / rate);
        std::vector<const float*> p;
        for (auto& pl : planes)
            p.push_back(pl.data());
        r.add(qint64(std::llround((from + double(done) / rate) * S)), rate, p.data(), channels, n);
    }
}

TimelineData Sample()
{
    TimelineData d;
    d.durationUs = 12 * S;
    d.frameUs = 40000;
    d.keys = KeyFrameIndex({0, 2 * S, 4 * S, 9 * S + 120000});
    d.peaks = QByteArray("\x80\x7f\x00\x00\xf0\x10", 6);
    d.thumbWidth = 4;
    d.thumbHeight = 3;
    for (int i = 0; i < 3; ++i)
        d.thumbs.push_back({qint64(i) * 4 * S, QByteArray(36, char('a' + i))});
    d.complete = true;
    return d;
}

TimelineSourceId SampleId()
{
    return {QStringLiteral("/videos/holiday.mp4"), 123456789, 1700000000000};
}

// The stored file with its checksum made right again after a change: what a hostile file
// would look like.
QByteArray Resealed(QByteArray b)
{
    const QByteArray sum = QCryptographicHash::hash(b.mid(28), QCryptographicHash::Md5);
    b.replace(12, 16, sum);
    return b;
}

// Offset of the key count in a stored file of SampleId().
int KeyCountOffset()
{
    return 28 + 4 + int(SampleId().path.toUtf8().size()) + 8 * 4;
}

} // namespace

class TimelineDataTest : public QObject {
    Q_OBJECT
private slots:
    void keyFrameNeighbours_data()
    {
        QTest::addColumn<qint64>("t");
        QTest::addColumn<qint64>("previous"); // -1: none
        QTest::addColumn<qint64>("next");
        QTest::newRow("before the first") << qint64(-5000) << qint64(-1) << qint64(0);
        QTest::newRow("on the first") << qint64(0) << qint64(-1) << 1 * S;
        QTest::newRow("between") << 1500000LL << 1 * S << 2500000LL;
        QTest::newRow("on one") << 1 * S << qint64(0) << 2500000LL;
        QTest::newRow("a hair before one") << 1 * S - 300 << qint64(0) << 2500000LL;
        QTest::newRow("a hair after one") << 1 * S + 300 << qint64(0) << 2500000LL;
        QTest::newRow("a frame after one") << 1 * S + 40000 << 1 * S << 2500000LL;
        QTest::newRow("on the last") << 7 * S << 2500000LL << qint64(-1);
        QTest::newRow("past the last") << 9 * S << 7 * S << qint64(-1);
    }
    void keyFrameNeighbours()
    {
        QFETCH(qint64, t);
        QFETCH(qint64, previous);
        QFETCH(qint64, next);
        // Given unsorted and twice: the index sorts and keeps each once.
        const KeyFrameIndex keys({7 * S, 0, 2500000, 1 * S, 2500000});
        QCOMPARE(keys.size(), 4);
        QCOMPARE(keys.previous(t).value_or(-1), previous);
        QCOMPARE(keys.next(t).value_or(-1), next);
        const std::optional<double> p = keys.previous(double(t) / S);
        QCOMPARE(p ? qint64(std::llround(*p * S)) : -1, previous);
        const auto [first, last] = keys.within(t, t + 2 * S);
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(i >= first && i < last, keys.times()[size_t(i)] >= t && keys.times()[size_t(i)] < t + 2 * S);
    }

    // 44.1 kHz does not divide into the 5 ms stretches: the stretches still keep time.
    void peaksOfToneAndSilence_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("48 kHz stereo") << 48000 << 2;
        QTest::newRow("44.1 kHz mono") << 44100 << 1;
        QTest::newRow("8 kHz 6 channels") << 8000 << 6;
    }
    void peaksOfToneAndSilence()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        PeakReducer r;
        const auto tone = [](double amp) {
            return [amp](int, double t) { return float(amp * std::sin(2 * M_PI * 330 * t)); };
        };
        Feed(r, rate, channels, 0.0, 0.3, tone(0.5));                             // 0 .. 0.3 s
        Feed(r, rate, channels, 0.3, 0.2, [](int, double) { return 0.0f; });     // silence
        Feed(r, rate, channels, 0.5, 0.25, [](int c, double) { return c == 0 ? -1.0f : 0.2f; }); // one channel full
        // 0.75 .. 1.0 s: no sound at all (a gap), then a quiet tone again.
        Feed(r, rate, channels, 1.0, 0.5, tone(0.25));
        const QByteArray peaks = r.peaks();
        QCOMPARE(peaks.size() / 2, 300);
        const auto at = [&](double seconds) {
            const int i = int(seconds * kPeaksPerSecond);
            return std::pair<int, int>(qint8(peaks[2 * i]), qint8(peaks[2 * i + 1]));
        };
        struct Expect {
            double t;
            int min, max;
        };
        const Expect expected[] = {{0.1, -64, 64}, {0.27, -64, 64}, {0.35, 0, 0}, {0.48, 0, 0},
                                   {0.6, -127, channels > 1 ? 25 : -127}, {0.8, 0, 0}, {0.97, 0, 0},
                                   {1.2, -32, 32}, {1.49, -32, 32}};
        for (const Expect& e : expected) {
            const auto [lo, hi] = at(e.t);
            QVERIFY2(std::abs(lo - e.min) <= 2 && std::abs(hi - e.max) <= 2,
                     qPrintable(QStringLiteral("%1 s: %2..%3").arg(e.t).arg(lo).arg(hi)));
        }
        // Drawn in columns: a column takes the extremes of all it covers.
        const std::vector<PeakColumn> cols = PeakColumns(peaks, 0, 1500000, 6); // 0.25 s each
        QCOMPARE(int(cols.size()), 6);
        const int colMax[] = {64, 64, channels > 1 ? 25 : -127, 0, 32, 32};
        for (int c = 0; c < 6; ++c) {
            QVERIFY(cols[size_t(c)].known);
            QVERIFY2(std::abs(cols[size_t(c)].max - colMax[c]) <= 2, qPrintable(QString::number(c)));
        }
        // Past the sound's end nothing is known; a column narrower than a stretch takes it.
        const std::vector<PeakColumn> late = PeakColumns(peaks, 1400000, 200000, 200);
        QVERIFY(late.front().known);
        QVERIFY(!late.back().known);
        // Brought up to date from a column on: those columns as a whole drawing makes them.
        const std::vector<PeakColumn> tail = PeakColumns(peaks, 0, 1500000, 6, 4);
        QVERIFY(!tail[3].known);
        for (int c = 4; c < 6; ++c)
            QVERIFY(tail[size_t(c)].known && tail[size_t(c)].min == cols[size_t(c)].min
                    && tail[size_t(c)].max == cols[size_t(c)].max);
    }

    // The peaks handed to the window while reading are views of the reducer's bytes: they
    // keep their values when later sound outgrows the room reserved.
    void peakViewsKeptWhenOutgrown()
    {
        PeakReducer r;
        r.reserve(50);
        auto tone = [](int, double t) { return float(0.5 * std::sin(2 * M_PI * 440 * t)); };
        Feed(r, 48000, 2, 0, 0.2, tone);
        const QByteArray early = r.view();
        const QByteArray kept(early.constData(), early.size());
        QVERIFY(kept.size() >= 2 * 39);
        Feed(r, 48000, 2, 0.2, 30, tone); // far past the room reserved
        QCOMPARE(QByteArray(early.constData(), early.size()), kept);
        const QByteArray late = r.view();
        QVERIFY(late.size() >= 2 * 6000);
        QCOMPARE(late.left(kept.size()), kept);
        QCOMPARE(r.peaks().left(late.size()), late);
    }

    void storedFileRoundTrip()
    {
        const TimelineData d = Sample();
        const std::optional<TimelineData> back = ReadTimelineCache(WriteTimelineCache(SampleId(), d), SampleId());
        QVERIFY(back);
        QCOMPARE(back->durationUs, d.durationUs);
        QCOMPARE(back->frameUs, d.frameUs);
        QVERIFY(back->keys == d.keys);
        QCOMPARE(back->peaks, d.peaks);
        QCOMPARE(back->thumbWidth, 4);
        QCOMPARE(int(back->thumbs.size()), 3);
        for (size_t i = 0; i < 3; ++i) {
            QCOMPARE(back->thumbs[i].timeUs, d.thumbs[i].timeUs);
            QCOMPARE(back->thumbs[i].rgb, d.thumbs[i].rgb);
        }
        QCOMPARE(back->thumbAt(5 * S), 1);
        QCOMPARE(back->thumbAt(-1), 0);
    }

    // Written to a device that refuses the bytes, the stored file is reported as not written
    // (it would otherwise be committed half empty).
    void storedFileWriteFailureReported()
    {
        QByteArray bytes;
        QBuffer readOnly(&bytes);
        QVERIFY(readOnly.open(QIODevice::ReadOnly));
        QVERIFY(!WriteTimelineCache(SampleId(), Sample(), &readOnly));
        QBuffer fine(&bytes);
        QVERIFY(fine.open(QIODevice::WriteOnly));
        QVERIFY(WriteTimelineCache(SampleId(), Sample(), &fine));
        QVERIFY(ReadTimelineCache(bytes, SampleId()));
    }

    // Pictures decoded at their own times: found by the time they cover, kept in order, and
    // trimmed from the end farther from the stretch shown.
    void picturesAtTheirOwnTimes()
    {
        TimelineFrames f;
        const QByteArray rgb(100, 'x');
        for (qint64 t : {400000LL, 0LL, 200000LL, 240000LL, 1000000LL})
            f.add({t, t + 40000, rgb});
        f.add({200000, 240000, QByteArray(100, 'y')}); // the same time again replaces it
        QCOMPARE(f.size(), 5);
        struct Case {
            qint64 t;
            qint64 at;     // -1: none covers it
            qint64 latest; // -1: none starts before it
        };
        for (const Case& c : {Case {-1, -1, -1}, Case {0, 0, 0}, Case {39999, 0, 0}, Case {40000, -1, 0},
                              Case {239999, 200000, 200000}, Case {240000, 240000, 240000},
                              Case {500000, -1, 400000}, Case {1039999, 1000000, 1000000}}) {
            const TimelineFrame* at = f.at(c.t);
            const TimelineFrame* latest = f.latest(c.t);
            QVERIFY2(at ? at->timeUs == c.at : c.at == -1, qPrintable(QString::number(c.t)));
            QVERIFY2(latest ? latest->timeUs == c.latest : c.latest == -1, qPrintable(QString::number(c.t)));
        }
        QCOMPARE(f.at(210000)->rgb, QByteArray(100, 'y'));
        // Room for three near 300 ms: 1 s goes first, then 0.
        f.trim(3 * (100 + 40), 300000);
        QCOMPARE(f.size(), 3);
        QVERIFY(!f.latest(199999));
        QVERIFY(f.at(200000) && f.at(240000) && f.at(400000));
        QVERIFY(!f.at(1000000));
        f.trim(0, 0);
        QCOMPARE(f.size(), 0);
    }

    void damagedStoredFileRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("otherSource");
        const QByteArray good = WriteTimelineCache(SampleId(), Sample());
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("cut short") << good.left(good.size() - 7) << false;
        QTest::newRow("header only") << good.left(28) << false;
        QByteArray flipped = good;
        flipped[good.size() / 2] = char(flipped[good.size() / 2] ^ 0x20);
        QTest::newRow("one bit changed") << flipped << false;
        QByteArray magic = good;
        magic[0] = 'X';
        QTest::newRow("not ours") << magic << false;
        QByteArray version = good;
        version[8] = 2;
        QTest::newRow("later version") << version << false;
        QTest::newRow("bytes after the end") << Resealed(good + QByteArray(5, '\0')) << false;
        // Sealed again after the change, as someone's own file would be: the fields bound it.
        QByteArray keys = good;
        qToLittleEndian<quint32>(0xfffffff0u, keys.data() + KeyCountOffset());
        QTest::newRow("key count past the end") << Resealed(keys) << false;
        QByteArray order = good;
        qToLittleEndian<qint64>(5 * S, order.data() + KeyCountOffset() + 4 + 8 * 2); // third after the fourth
        qToLittleEndian<qint64>(4 * S, order.data() + KeyCountOffset() + 4 + 8 * 3);
        QTest::newRow("keys out of order") << Resealed(order) << false;
        QByteArray side = good;
        const int peaksAt = KeyCountOffset() + 4 + 8 * 4;
        const int sizeAt = peaksAt + 4 + 6;
        qToLittleEndian<quint32>(100000u, side.data() + sizeAt);
        QTest::newRow("picture too wide") << Resealed(side) << false;
        QByteArray count = good;
        qToLittleEndian<quint32>(3000000u, count.data() + sizeAt + 8);
        QTest::newRow("picture count past the end") << Resealed(count) << false;
        QByteArray odd = good;
        qToLittleEndian<quint32>(5u, odd.data() + peaksAt);
        QTest::newRow("odd peak bytes") << Resealed(odd) << false;
        QTest::newRow("the file changed since") << good << true;
    }
    void damagedStoredFileRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, otherSource);
        TimelineSourceId id = SampleId();
        if (otherSource)
            id.mtimeMs += 1000;
        QVERIFY(!ReadTimelineCache(bytes, id));
    }

    void zoom_data()
    {
        QTest::addColumn<TimelineView>("view");
        QTest::addColumn<qint64>("anchor");
        QTest::addColumn<double>("factor");
        QTest::addColumn<TimelineView>("expected");
        // A 100 s source of 25 pictures a second on 384 pixels: 32 pictures at the closest.
        const TimelineView whole {0, 100 * S};
        QTest::newRow("in, around the middle") << whole << 50 * S << 0.5 << TimelineView {25 * S, 50 * S};
        QTest::newRow("in, the anchor keeps its place") << whole << 10 * S << 0.5 << TimelineView {5 * S, 50 * S};
        QTest::newRow("in to single pictures") << whole << 30 * S << 1e-9 << TimelineView {29616000, 1280000};
        QTest::newRow("out to the whole source") << TimelineView {40 * S, 10 * S} << 45 * S << 1e9 << whole;
        QTest::newRow("out, kept inside the end")
            << TimelineView {80 * S, 20 * S} << 99 * S << 2.0 << TimelineView {60 * S, 40 * S};
        QTest::newRow("anchor off the stretch: in its middle")
            << TimelineView {0, 10 * S} << 50 * S << 0.5 << TimelineView {47500000, 5 * S};
        QTest::newRow("a stretch outside the source") << TimelineView {200 * S, 500 * S} << 0LL << 1.0 << whole;
    }
    void zoom()
    {
        QFETCH(TimelineView, view);
        QFETCH(qint64, anchor);
        QFETCH(double, factor);
        QFETCH(TimelineView, expected);
        const qint64 source = 100 * S;
        const qint64 closest = TimelineZoom::MinimumSpan(40000, 384);
        QCOMPARE(closest, 1280000);
        const TimelineView v = TimelineZoom::Zoom(view, anchor, factor, source, closest);
        QCOMPARE(v.startUs, expected.startUs);
        QCOMPARE(v.spanUs, expected.spanUs);
        QCOMPARE(TimelineZoom::IsWhole(v, source), expected.spanUs == source);
        if (v.spanUs == closest) {
            // Single pictures: each one its 12 pixels, and a pixel's time back on the picture.
            QCOMPARE(TimelineZoom::XOfTime(v, v.startUs + 40000, 8, 384) - TimelineZoom::XOfTime(v, v.startUs, 8, 384),
                     12.0);
            QCOMPARE(TimelineZoom::TimeOfX(v, 8 + 36, 8, 384), v.startUs + 3 * 40000);
        }
    }

    void zoomLimits()
    {
        QCOMPARE(TimelineZoom::MinimumSpan(40000, 10), 80000);  // two pictures at least
        QCOMPARE(TimelineZoom::MinimumSpan(0, 384), 100000);    // picture length unknown
        // A source shorter than the closest stretch shows whole.
        QCOMPARE(TimelineZoom::Zoom({0, 50000}, 0, 0.5, 50000, 1280000), (TimelineView {0, 50000}));
    }

    void followThePicture_data()
    {
        QTest::addColumn<qint64>("position");
        QTest::addColumn<qint64>("start");
        QTest::newRow("on the stretch") << 25 * S << 20 * S;
        QTest::newRow("just past it: the next page") << 30 * S << 30 * S;
        QTest::newRow("far past: centred") << 70 * S << 65 * S;
        QTest::newRow("before it: centred") << 3 * S << 0LL;
        QTest::newRow("near the end: inside") << 99 * S << 90 * S;
    }
    void followThePicture()
    {
        QFETCH(qint64, position);
        QFETCH(qint64, start);
        const TimelineView v = TimelineZoom::Follow({20 * S, 10 * S}, position, 100 * S);
        QCOMPARE(v.startUs, start);
        QCOMPARE(v.spanUs, 10 * S);
    }
};

QTEST_APPLESS_MAIN(TimelineDataTest)
#include "timeline_data.moc"
