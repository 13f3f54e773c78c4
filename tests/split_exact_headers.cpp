// The headers exact cuts read and mend where copied MPEG-2, MPEG-4 Part 2 and AV1 video joins
// pictures encoded again, on elementary streams ffmpeg makes: the GOP a copy starts with and
// its closing, the video object layer's quantiser type and low_delay (and setting that one bit
// without touching the others), where an AV1 sequence header lies.
#include "../encoder/picture_headers.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QtTest>

namespace {

QByteArray Made(const QString& dir, const QString& name, const QStringList& args)
{
    const QString path = dir + "/" + name;
    QProcess p;
    p.start("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                  "testsrc2=size=176x144:rate=25:duration=2"}
                          + args + QStringList{path});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return {};
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The stream from the n-th (0 = first) occurrence of a start code on.
QByteArray From(const QByteArray& stream, const QByteArray& code, int n)
{
    qsizetype at = -1;
    for (int k = 0; k <= n; ++k) {
        at = stream.indexOf(code, at + 1);
        if (at < 0)
            return {};
    }
    return stream.mid(at);
}

const uint8_t* Bytes(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

} // namespace

class SplitExactHeadersTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void mpeg2Gops_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("closed");
        QTest::newRow("open GOPs (B-pictures)") << QStringList{"-c:v", "mpeg2video", "-g", "12", "-bf", "2"} << false;
        QTest::newRow("closed GOPs") << QStringList{"-c:v", "mpeg2video", "-g", "12", "-bf", "2", "-flags", "+cgop",
                                                   "-sc_threshold", "1000000000"}
                                     << true;
    }
    void mpeg2Gops()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, closed);
        const QByteArray stream = Made(m_dir.path(), QString("gops%1.m2v").arg(closed), args + QStringList{"-f", "mpeg2video"});
        QVERIFY(!stream.isEmpty());
        // The second GOP: the first is closed whatever follows.
        QByteArray gop = From(stream, QByteArray("\0\0\1\xB8", 4), 1);
        QVERIFY(!gop.isEmpty());
        Mpeg2Headers h = DescribeMpeg2(Bytes(gop), size_t(gop.size()));
        QVERIFY(h.gopHeader);
        QCOMPARE(h.pictureType, 1);
        QCOMPARE(h.temporalReference, closed ? 0 : 2); // an open GOP shows two B-pictures before it
        QCOMPARE(h.pictureStructure, 3);
        QCOMPARE(h.closedGop, closed);
        QVERIFY(!h.brokenLink);
        QCOMPARE(DescribeMpeg2(Bytes(stream), size_t(stream.size())).sequenceHeader, true);

        const QByteArray before = gop;
        QVERIFY(CloseMpeg2Gop(reinterpret_cast<uint8_t*>(gop.data()), size_t(gop.size())));
        h = DescribeMpeg2(Bytes(gop), size_t(gop.size()));
        QVERIFY(h.closedGop && !h.brokenLink);
        int changed = 0;
        for (qsizetype k = 0; k < gop.size(); ++k)
            changed += gop[k] != before[k];
        QCOMPARE(changed, closed ? 0 : 1); // that one bit, nothing else
    }

    void mpeg4Layers_data()
    {
        QTest::addColumn<int>("quantType");
        QTest::addColumn<int>("bFrames");
        QTest::newRow("H.263 quantisers, no B-frames") << 0 << 0;
        QTest::newRow("H.263 quantisers, B-frames") << 0 << 2;
        QTest::newRow("MPEG quantisers, B-frames") << 1 << 2;
        QTest::newRow("MPEG quantisers, no B-frames") << 1 << 0;
    }
    void mpeg4Layers()
    {
        QFETCH(int, quantType);
        QFETCH(int, bFrames);
        QByteArray stream = Made(m_dir.path(), QString("layer%1%2.m4v").arg(quantType).arg(bFrames),
                                 {"-c:v", "mpeg4", "-mpeg_quant", QString::number(quantType), "-bf",
                                  QString::number(bFrames), "-g", "12", "-f", "m4v"});
        QVERIFY(!stream.isEmpty());
        const Mpeg4Layer layer = ReadMpeg4Layer(Bytes(stream), size_t(stream.size()));
        QVERIFY(layer.ok);
        QCOMPARE(layer.quantType, quantType);
        QCOMPARE(layer.lowDelay, bFrames ? 0 : 1);
        const Mpeg4Headers h = DescribeMpeg4(Bytes(stream), size_t(stream.size()));
        QVERIFY(h.volHeader);
        QCOMPARE(h.vopType, 0);
        QVERIFY(!PackedMpeg4(Bytes(stream), size_t(stream.size())));

        // low_delay turned over, everything else read as before.
        SetMpeg4LowDelay(reinterpret_cast<uint8_t*>(stream.data()), size_t(stream.size()), bFrames != 0);
        const Mpeg4Layer set = ReadMpeg4Layer(Bytes(stream), size_t(stream.size()));
        QVERIFY(set.ok);
        QCOMPARE(set.lowDelay, bFrames ? 1 : 0);
        QCOMPARE(set.quantType, quantType);
        QCOMPARE(set.lowDelayBit, layer.lowDelayBit);
    }

    void packedMpeg4UserData()
    {
        const QByteArray packed("\0\0\1\xB2" "DivX503b1393p", 17);
        const QByteArray unpacked("\0\0\1\xB2" "DivX503b1393", 16);
        QVERIFY(PackedMpeg4(Bytes(packed), size_t(packed.size())));
        QVERIFY(!PackedMpeg4(Bytes(unpacked), size_t(unpacked.size())));
    }

    void av1SequenceHeaders()
    {
        // Low-overhead OBUs: each temporal unit starts with a delimiter, the first with the
        // sequence header after it.
        const QByteArray stream = Made(m_dir.path(), "av1.obu", {"-c:v", "libaom-av1", "-cpu-used", "8", "-crf", "40",
                                                                 "-frames:v", "3", "-f", "obu"});
        QVERIFY(!stream.isEmpty());
        QCOMPARE(int(Av1HeaderPlace(Bytes(stream), size_t(stream.size()))), 2);
        QVERIFY(Av1HasSequenceHeader(Bytes(stream), size_t(stream.size())));
        const QByteArray afterHeader = stream.mid(2);
        QCOMPARE(int(Av1HeaderPlace(Bytes(afterHeader), size_t(afterHeader.size()))), 0);
        // An av1C record: its 4 bytes, then the sequence header OBU as the stream has it.
        const QByteArray av1c = QByteArray("\x81\x00\x0c\x00", 4) + afterHeader;
        const std::vector<uint8_t> header = Av1SequenceHeaderOf(Bytes(av1c), size_t(av1c.size()));
        QVERIFY(!header.empty());
        QCOMPARE((header[0] >> 3) & 15, 1);
        QVERIFY(afterHeader.startsWith(QByteArray(reinterpret_cast<const char*>(header.data()), qsizetype(header.size()))));
        // Cut short: nothing is read past the end.
        QVERIFY(!Av1HasSequenceHeader(Bytes(stream), 3));
    }
};

QTEST_GUILESS_MAIN(SplitExactHeadersTest)
#include "split_exact_headers.moc"
