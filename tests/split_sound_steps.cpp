// Copied sound that AVI times in whole packets: the length that ends a section's sound on a
// packet, worked out as ffmpeg rounds the seek (core only, no ffmpeg run).
#include "encoder/section_cut.h"
#include "encoder/sound_ticks.h"

#include <QtTest/QtTest>
#include <cmath>

namespace {

// ffmpeg's rescaling of a seek into the stream's steps: to the nearest, halves away from zero.
long long Steps(long long us, const SoundTicks& t)
{
    const long double x = static_cast<long double>(us + t.originUs) * t.den / (t.num * 1e6L);
    return std::llround(x);
}

} // namespace

class SplitSoundStepsTest : public QObject {
    Q_OBJECT

private slots:
    void length_data()
    {
        QTest::addColumn<long long>("num");
        QTest::addColumn<long long>("den");
        QTest::addColumn<long long>("originUs");
        QTest::addColumn<long long>("seekUs");
        QTest::addColumn<long long>("lengthUs");
        QTest::addColumn<QString>("length");
        // MP3 at 44.1 kHz in AVI: 1152 samples a packet. The packet across 4.32 s lies mostly
        // after it: it goes to the next section, this one ends half a packet before it.
        QTest::newRow("MP3, join inside a packet") << 32LL << 1225LL << 0LL << 960000LL << 3360000LL << "3.330612";
        QTest::newRow("MP3, the next section") << 32LL << 1225LL << 0LL << 4320000LL << 2880000LL << "2.886530";
        QTest::newRow("halves round up") << 1LL << 10LL << 0LL << 50000LL << 200000LL << "0.150000";
        QTest::newRow("the source's start counts") << 1LL << 10LL << 50000LL << 0LL << 200000LL << "0.150000";
        QTest::newRow("no whole packet") << 32LL << 1225LL << 0LL << 1000000LL << 5000LL << "";
        QTest::newRow("no steps known") << 0LL << 0LL << 0LL << 1000000LL << 3000000LL << "";
    }
    void length()
    {
        QFETCH(long long, num);
        QFETCH(long long, den);
        QFETCH(long long, originUs);
        QFETCH(long long, seekUs);
        QFETCH(long long, lengthUs);
        QFETCH(QString, length);
        QCOMPARE(QString::fromStdString(CoarseSoundLength(SoundTicks{num, den, originUs}, seekUs, lengthUs)), length);
    }

    // Sections one after the other, each read from its own seek as ffmpeg does it: every packet
    // of the range lands in exactly one of them, whatever the joins.
    void everyPacketOnce_data()
    {
        QTest::addColumn<long long>("num");
        QTest::addColumn<long long>("den");
        QTest::newRow("MP3 44.1 kHz") << 32LL << 1225LL;
        QTest::newRow("MP3 48 kHz") << 3LL << 125LL;
        QTest::newRow("AC-3") << 4LL << 125LL;
    }
    void everyPacketOnce()
    {
        QFETCH(long long, num);
        QFETCH(long long, den);
        const SoundTicks ticks{num, den, 0};
        // Joins a frame of 25, 30000/1001 and 24 a second apart, and an irregular step.
        for (const long long stepUs : {40000LL, 33367LL, 41667LL, 123457LL}) {
            QList<long long> joins;
            for (long long at = 1300000; at < 30000000; at += stepUs * 7)
                joins << at;
            QHash<long long, int> held;
            for (int i = 0; i + 1 < joins.size(); ++i) {
                const long long seek = joins[i], lengthUs = joins[i + 1] - joins[i];
                const std::string s = CoarseSoundLength(ticks, seek, lengthUs);
                QVERIFY(!s.empty());
                const long long endUs = std::llround(std::stod(s) * 1e6);
                const long long first = Steps(seek, ticks);
                for (long long k = first; k < first + 10000; ++k) {
                    // ffmpeg: a packet before the seek is left out; one at or after the length ends the sound.
                    const long long atUs = std::llround(static_cast<long double>(k - first) * num * 1e6L / den);
                    if (atUs >= endUs)
                        break;
                    ++held[k];
                }
            }
            const long long firstPacket = Steps(joins.first(), ticks), endPacket = Steps(joins.last(), ticks);
            QCOMPARE(qsizetype(held.size()), qsizetype(endPacket - firstPacket));
            for (long long k = firstPacket; k < endPacket; ++k)
                QVERIFY2(held.value(k) == 1, qPrintable(QString("packet %1 is in %2 sections (joins %3 us apart)")
                                                            .arg(k).arg(held.value(k)).arg(stepUs * 7)));
        }
    }
};

QTEST_GUILESS_MAIN(SplitSoundStepsTest)
#include "split_sound_steps.moc"
