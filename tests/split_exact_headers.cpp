// The headers exact cuts read and mend where copied MPEG-2, MPEG-4 Part 2 and AV1 video joins
// pictures encoded again, on elementary streams ffmpeg makes: the GOP a copy starts with and
// its closing, the video object layer's quantiser type and low_delay (and setting that one bit
// without touching the others), where an AV1 sequence header lies; H.264 sequence parameter
// sets (fields, macroblock pairs, how many pictures a decoder holds back, rewriting that) and
// field pictures told from frames.
#include "../encoder/h264_sps.h"
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

const uint8_t* Data(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

// Units written bit by bit, as an encoder would, to make H.264 headers no encoder here writes.
struct UnitWriter {
    ::Bytes bytes;
    int bits = 0;
    UnitWriter& U(unsigned v, int n)
    {
        for (int k = n - 1; k >= 0; --k, ++bits) {
            if (bits % 8 == 0)
                bytes.push_back(0);
            bytes.back() |= uint8_t(((v >> k) & 1) << (7 - bits % 8));
        }
        return *this;
    }
    UnitWriter& Ue(unsigned v)
    {
        int n = 0;
        while (((v + 1ull) >> n) > 1)
            ++n;
        U(0, n);
        return U(v + 1, n + 1);
    }
    ::Bytes Done() { return U(1, 1).bytes; }
};

// A Main profile SPS of 720x576 (id 0): frames only, or fields and frames (of macroblock pairs
// where mbaff), with a bitstream restriction holding back `reorder` pictures.
::Bytes MadeSps(bool frameMbsOnly, bool mbaff, int reorder)
{
    UnitWriter w;
    w.U(0x67, 8).U(77, 8).U(0, 8).U(30, 8).Ue(0); // header, profile, constraints, level, id
    w.Ue(0).Ue(0).Ue(0);                             // frame_num 4 bits, order count type 0, lsb 4 bits
    w.Ue(4).U(0, 1).Ue(44).Ue(frameMbsOnly ? 35 : 17).U(frameMbsOnly, 1);
    if (!frameMbsOnly)
        w.U(mbaff, 1);
    w.U(1, 1).U(0, 1).U(1, 1);                       // direct 8x8, no cropping, VUI
    w.U(0, 1).U(0, 1).U(0, 1).U(0, 1).U(0, 1).U(0, 1).U(0, 1).U(0, 1); // up to pic_struct_present
    w.U(1, 1).U(1, 1).Ue(0).Ue(0).Ue(16).Ue(16).Ue(unsigned(reorder)).Ue(4);
    return w.Done();
}

// The first slice of a picture on PPS 0: an IDR frame, or one field of it.
::Bytes MadeSlice(bool field, bool bottom)
{
    UnitWriter w;
    w.U(0x65, 8).Ue(0).Ue(7).Ue(0).U(0, 4);
    if (field)
        w.U(1, 1).U(bottom, 1);
    else
        w.U(0, 1);
    return w.Ue(0).Done();
}

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
        Mpeg2Headers h = DescribeMpeg2(Data(gop), size_t(gop.size()));
        QVERIFY(h.gopHeader);
        QCOMPARE(h.pictureType, 1);
        QCOMPARE(h.temporalReference, closed ? 0 : 2); // an open GOP shows two B-pictures before it
        QCOMPARE(h.pictureStructure, 3);
        QCOMPARE(h.closedGop, closed);
        QVERIFY(!h.brokenLink);
        QCOMPARE(DescribeMpeg2(Data(stream), size_t(stream.size())).sequenceHeader, true);

        const QByteArray before = gop;
        QVERIFY(CloseMpeg2Gop(reinterpret_cast<uint8_t*>(gop.data()), size_t(gop.size())));
        h = DescribeMpeg2(Data(gop), size_t(gop.size()));
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
        const Mpeg4Layer layer = ReadMpeg4Layer(Data(stream), size_t(stream.size()));
        QVERIFY(layer.ok);
        QCOMPARE(layer.quantType, quantType);
        QCOMPARE(layer.lowDelay, bFrames ? 0 : 1);
        const Mpeg4Headers h = DescribeMpeg4(Data(stream), size_t(stream.size()));
        QVERIFY(h.volHeader);
        QCOMPARE(h.vopType, 0);
        QVERIFY(!PackedMpeg4(Data(stream), size_t(stream.size())));

        // low_delay turned over, everything else read as before.
        SetMpeg4LowDelay(reinterpret_cast<uint8_t*>(stream.data()), size_t(stream.size()), bFrames != 0);
        const Mpeg4Layer set = ReadMpeg4Layer(Data(stream), size_t(stream.size()));
        QVERIFY(set.ok);
        QCOMPARE(set.lowDelay, bFrames ? 1 : 0);
        QCOMPARE(set.quantType, quantType);
        QCOMPARE(set.lowDelayBit, layer.lowDelayBit);
    }

    // Field pictures (PAFF) are told from frames, also those of macroblock pairs (MBAFF), by
    // the slice and the SPS its PPS names, whether the sets come before or with the picture.
    void h264FieldPictures_data()
    {
        QTest::addColumn<bool>("frameMbsOnly");
        QTest::addColumn<bool>("mbaff");
        QTest::addColumn<bool>("field");
        QTest::addColumn<bool>("setsInPacket");
        QTest::newRow("progressive frame") << true << false << false << false;
        QTest::newRow("MBAFF frame") << false << true << false << false;
        QTest::newRow("PAFF frame") << false << false << false << true;
        QTest::newRow("PAFF top field") << false << false << true << false;
        QTest::newRow("PAFF bottom field, sets in the packet") << false << false << true << true;
        QTest::newRow("field of an MBAFF stream") << false << true << true << false;
    }
    void h264FieldPictures()
    {
        QFETCH(bool, frameMbsOnly);
        QFETCH(bool, mbaff);
        QFETCH(bool, field);
        QFETCH(bool, setsInPacket);
        const ::Bytes sps = MadeSps(frameMbsOnly, mbaff, 2);
        const H264Sps read = ReadH264Sps(sps);
        QVERIFY(read.ok);
        QCOMPARE(read.frameMbsOnly, frameMbsOnly);
        QCOMPARE(read.mbAdaptive, mbaff);
        QCOMPARE(read.reorderFrames, 2);
        QCOMPARE(read.decBuffering, 4);
        QCOMPARE(read.log2MaxFrameNum, 4);
        UnitWriter ppsWriter;
        const ::Bytes pps = ppsWriter.U(0x68, 8).Ue(0).Ue(0).U(0, 1).U(0, 1).Ue(0).Done();
        const ::Bytes slice = MadeSlice(field, setsInPacket);
        H264FieldWatch watch;
        std::vector<NalUnit> units{NalUnit{slice.data(), slice.size()}};
        if (setsInPacket)
            units.insert(units.begin(), {NalUnit{sps.data(), sps.size()}, NalUnit{pps.data(), pps.size()}});
        else {
            watch.Learn(NalUnit{sps.data(), sps.size()});
            watch.Learn(NalUnit{pps.data(), pps.size()});
        }
        QCOMPARE(watch.FieldPicture(units), field);
        QCOMPARE(H264FieldSlice(slice.data(), slice.size(), read), frameMbsOnly ? 0 : int(field));
        // Without its parameter sets nothing is taken for a field.
        QVERIFY(!H264FieldWatch().FieldPicture({NalUnit{slice.data(), slice.size()}}));
    }

    // An encoder's SPS told to hold back as many pictures as the source's: FFmpeg reads the
    // rewritten set and finds the stream's pictures the same; every other field stays.
    void h264Reordering()
    {
        QTemporaryDir dir;
        const QByteArray stream = Made(dir.path(), "frames.h264", {"-c:v", "libx264", "-bf", "0", "-flags", "+ildct+ilme",
                                                                   "-x264-params", "tff=1", "-f", "h264"});
        QVERIFY(!stream.isEmpty());
        const std::vector<NalUnit> units = SplitNalUnits(Data(stream), size_t(stream.size()), 0);
        QVERIFY(!units.empty());
        const ::Bytes sps(units[0].data, units[0].data + units[0].size);
        const H264Sps before = ReadH264Sps(sps);
        QVERIFY(before.ok);
        QCOMPARE(before.reorderFrames, 0);
        QVERIFY(!before.frameMbsOnly && before.mbAdaptive);

        std::vector<::Bytes> encoderSets{sps, ::Bytes(units[1].data, units[1].data + units[1].size)};
        MatchH264Reordering({MadeSps(true, false, 2)}, encoderSets);
        const H264Sps after = ReadH264Sps(encoderSets[0]);
        QVERIFY(after.ok);
        QCOMPARE(after.reorderFrames, 2);
        QCOMPARE(after.decBuffering, std::max(before.decBuffering, 4));
        QCOMPARE(after.reorderBit, before.reorderBit);
        QCOMPARE(after.id, before.id);
        QCOMPARE(after.mbAdaptive, before.mbAdaptive);
        QCOMPARE(after.log2MaxFrameNum, before.log2MaxFrameNum);
        QCOMPARE(encoderSets[1], ::Bytes(units[1].data, units[1].data + units[1].size)); // the PPS untouched
        // Already holding back enough: the set as it was.
        ::Bytes same = encoderSets[0];
        QCOMPARE(WithH264Reordering(same, 1, 1), same);

        // The stream with the rewritten SPS: FFmpeg holds back 2 pictures and decodes the same.
        QByteArray rewritten("\0\0\0\1", 4);
        rewritten += QByteArray(reinterpret_cast<const char*>(encoderSets[0].data()), qsizetype(encoderSets[0].size()));
        const qsizetype rest = stream.indexOf(QByteArray("\0\0\0\1", 4), 4);
        QVERIFY(rest > 0);
        rewritten += stream.mid(rest);
        QFile out(dir.path() + "/rewritten.h264");
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(rewritten);
        out.close();
        auto probe = [](const QStringList& args) {
            QProcess p;
            p.start(args[0], args.mid(1));
            p.waitForFinished(120000);
            return p.readAllStandardOutput().trimmed() + p.readAllStandardError().trimmed();
        };
        QCOMPARE(probe({"ffprobe", "-v", "error", "-show_entries", "stream=has_b_frames", "-of", "csv=p=0", out.fileName()}),
                 QByteArray("2"));
        const QStringList md5{"-f", "md5", "-"};
        const QByteArray original = probe(QStringList{"ffmpeg", "-v", "error", "-i", dir.path() + "/frames.h264"} + md5);
        QVERIFY(original.startsWith("MD5="));
        QCOMPARE(probe(QStringList{"ffmpeg", "-v", "error", "-i", out.fileName()} + md5), original);
    }

    void packedMpeg4UserData()
    {
        const QByteArray packed("\0\0\1\xB2" "DivX503b1393p", 17);
        const QByteArray unpacked("\0\0\1\xB2" "DivX503b1393", 16);
        QVERIFY(PackedMpeg4(Data(packed), size_t(packed.size())));
        QVERIFY(!PackedMpeg4(Data(unpacked), size_t(unpacked.size())));

        // Taken off in every DivX string, in the headers and before a picture, nothing else moved.
        const QByteArray vop("\0\0\1\xB6\x10", 5);
        const QByteArray other("\0\0\1\xB2" "Lavcp", 9);
        QByteArray stream = packed + other + packed + QByteArray(1, '\0') + vop;
        QVERIFY(UnmarkPackedMpeg4(reinterpret_cast<uint8_t*>(stream.data()), size_t(stream.size())));
        QCOMPARE(stream, unpacked + QByteArray(1, '\0') + other + unpacked + QByteArray(2, '\0') + vop);
        QVERIFY(!PackedMpeg4(Data(stream), size_t(stream.size())));
        QVERIFY(!UnmarkPackedMpeg4(reinterpret_cast<uint8_t*>(stream.data()), size_t(stream.size())));
    }

    void av1SequenceHeaders()
    {
        // Low-overhead OBUs: each temporal unit starts with a delimiter, the first with the
        // sequence header after it.
        const QByteArray stream = Made(m_dir.path(), "av1.obu", {"-c:v", "libaom-av1", "-cpu-used", "8", "-crf", "40",
                                                                 "-frames:v", "3", "-f", "obu"});
        QVERIFY(!stream.isEmpty());
        QCOMPARE(int(Av1HeaderPlace(Data(stream), size_t(stream.size()))), 2);
        QVERIFY(Av1HasSequenceHeader(Data(stream), size_t(stream.size())));
        const QByteArray afterHeader = stream.mid(2);
        QCOMPARE(int(Av1HeaderPlace(Data(afterHeader), size_t(afterHeader.size()))), 0);
        // An av1C record: its 4 bytes, then the sequence header OBU as the stream has it.
        const QByteArray av1c = QByteArray("\x81\x00\x0c\x00", 4) + afterHeader;
        const std::vector<uint8_t> header = Av1SequenceHeaderOf(Data(av1c), size_t(av1c.size()));
        QVERIFY(!header.empty());
        QCOMPARE((header[0] >> 3) & 15, 1);
        QVERIFY(afterHeader.startsWith(QByteArray(reinterpret_cast<const char*>(header.data()), qsizetype(header.size()))));
        // Cut short: nothing is read past the end.
        QVERIFY(!Av1HasSequenceHeader(Data(stream), 3));
    }
};

QTEST_GUILESS_MAIN(SplitExactHeadersTest)
#include "split_exact_headers.moc"
