// The turn of a phone's video added to a Matroska file that ffmpeg wrote: read back by
// FFmpeg's own demuxer as the very display matrix the source had, every packet unchanged, the
// header's CRC-32 elements right, nothing said at -v error; files that do not have the
// expected layout, or are damaged, left byte for byte as they were. And the encoder's join
// keeps the turn of its Matroska pieces.
#include "encoder/mkv_projection.h"

#include "CoreTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest/QtTest>

using Matrix = std::array<std::int32_t, 9>;
Q_DECLARE_METATYPE(Matrix)

namespace {

constexpr std::int32_t k1 = 0x10000, kW = 1 << 30;

struct Ran {
    bool ok = false;
    QByteArray out, err;
};

Ran Run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    Ran r;
    r.ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QByteArray Bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool Write(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// The matrix of an MP4's video track set, as a phone writes it.
bool SetTrackMatrix(const QString& mp4, const Matrix& m)
{
    QByteArray data = Bytes(mp4);
    for (qsizetype at = data.indexOf("tkhd"); at >= 0; at = data.indexOf("tkhd", at + 4)) {
        const qsizetype matrix = at + (data.at(at + 4) == 1 ? 56 : 44);
        if (matrix + 44 > data.size())
            return false;
        if (qFromBigEndian<quint32>(data.constData() + matrix + 36) == 0) // no width: the sound's
            continue;
        for (int k = 0; k < 9; ++k)
            qToBigEndian<qint32>(m[size_t(k)], data.data() + matrix + 4 * k);
        return Write(mp4, data);
    }
    return false;
}

// The display matrix FFmpeg reads from a file's first video stream; none without one.
std::optional<Matrix> ProbedMatrix(const QString& file, QByteArray* said = nullptr)
{
    const Ran r = Run("ffprobe", {"-v", "error", "-select_streams", "V:0", "-show_entries", "stream_side_data",
                                  "-of", "compact", file});
    if (said)
        *said = r.err;
    return DisplayMatrixInProbeOutput(r.out.toStdString());
}

QByteArray Packets(const QString& file)
{
    const Ran r = Run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-map", "0", "-c", "copy", "-f", "framemd5", "-"});
    return r.ok ? r.out : QByteArray("failed: " + r.err);
}

// ---- a small EBML reader of its own, for the header's CRC-32 elements

struct Ebml {
    quint64 id = 0, size = 0;
    qsizetype data = 0; // where its data begins
    bool ok = false;
};

Ebml ReadEbml(const QByteArray& b, qsizetype at)
{
    Ebml e;
    const auto vint = [&](qsizetype& k, bool keepMarker, quint64& v) {
        if (k >= b.size())
            return false;
        const uchar first = uchar(b[k]);
        int length = 1;
        while (length <= 8 && !(first & (0x80 >> (length - 1))))
            ++length;
        if (length > 8 || k + length > b.size())
            return false;
        v = keepMarker ? first : first & (0xFF >> length);
        for (int i = 1; i < length; ++i)
            v = v << 8 | uchar(b[k + i]);
        k += length;
        return true;
    };
    qsizetype k = at;
    e.ok = vint(k, true, e.id) && vint(k, false, e.size);
    e.data = k;
    return e;
}

// Bit by bit, as the standard (IEEE 802.3, reflected) defines it.
quint32 Crc32(const char* data, qsizetype size)
{
    quint32 c = 0xFFFFFFFF;
    for (qsizetype k = 0; k < size; ++k) {
        c ^= uchar(data[k]);
        for (int bit = 0; bit < 8; ++bit)
            c = (c >> 1) ^ (c & 1 ? 0xEDB88320 : 0);
    }
    return ~c;
}

// The level-1 elements before the first cluster whose CRC-32 does not match; how many were
// checked in checked.
QStringList WrongCrcs(const QByteArray& b, int& checked)
{
    QStringList wrong;
    checked = 0;
    const Ebml header = ReadEbml(b, 0);
    const Ebml segment = ReadEbml(b, header.data + qsizetype(header.size));
    if (!header.ok || !segment.ok || segment.id != 0x18538067)
        return {"no segment"};
    for (qsizetype at = segment.data; at < b.size();) {
        const Ebml e = ReadEbml(b, at);
        if (!e.ok || e.id == 0x1F43B675)
            break;
        const qsizetype end = e.data + qsizetype(e.size);
        const Ebml first = ReadEbml(b, e.data);
        if (first.ok && first.id == 0xBF && first.size == 4 && end <= b.size()) {
            ++checked;
            const qsizetype after = first.data + 4;
            if (qFromLittleEndian<quint32>(b.constData() + first.data) != Crc32(b.constData() + after, end - after))
                wrong << QString::number(e.id, 16);
        }
        at = end;
    }
    return wrong;
}

// The SeekHead's entries that do not point at an element of the kind they name.
QStringList WrongSeeks(const QByteArray& b, int& checked)
{
    QStringList wrong;
    checked = 0;
    const Ebml header = ReadEbml(b, 0);
    const Ebml segment = ReadEbml(b, header.data + qsizetype(header.size));
    const Ebml seekHead = ReadEbml(b, segment.data);
    if (!segment.ok || !seekHead.ok || seekHead.id != 0x114D9B74)
        return {"no SeekHead"};
    for (qsizetype at = seekHead.data; at < seekHead.data + qsizetype(seekHead.size);) {
        const Ebml seek = ReadEbml(b, at);
        if (!seek.ok)
            return {"damaged"};
        at = seek.data + qsizetype(seek.size);
        if (seek.id != 0x4DBB)
            continue;
        quint64 id = 0, position = 0;
        for (qsizetype k = seek.data; k < at;) {
            const Ebml part = ReadEbml(b, k);
            quint64 value = 0;
            for (qsizetype i = 0; i < qsizetype(part.size); ++i)
                value = value << 8 | uchar(b[part.data + i]);
            (part.id == 0x53AB ? id : position) = value;
            k = part.data + qsizetype(part.size);
        }
        ++checked;
        const Ebml pointed = ReadEbml(b, segment.data + qsizetype(position));
        if (!pointed.ok || pointed.id != id)
            wrong << QString::number(id, 16);
    }
    return wrong;
}

qsizetype Find(const QByteArray& b, const char* hex, qsizetype from = 0)
{
    return b.indexOf(QByteArray::fromHex(hex), from);
}

} // namespace

class MkvProjectionTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString Path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const Ran made = Run("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=s=96x64:r=25:d=1", "-f",
                                        "lavfi", "-i", "sine=d=1", "-c:v", "libx264", "-preset", "ultrafast", "-g", "10",
                                        "-c:a", "aac", Path("clip.mp4")});
        QVERIFY2(made.ok, made.err.constData());
        const Ran webm = Run("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=s=64x48:r=10:d=1", "-c:v",
                                        "libvpx", "-deadline", "realtime", Path("clip.webm")});
        QVERIFY2(webm.ok, webm.err.constData());
    }

    // What the display matrices of the sources mean.
    void turnOfMatrix_data()
    {
        QTest::addColumn<Matrix>("matrix");
        QTest::addColumn<bool>("turns");
        QTest::addColumn<double>("roll");
        QTest::addColumn<bool>("hflip");
        QTest::newRow("upright") << Matrix{k1, 0, 0, 0, k1, 0, 0, 0, kW} << true << 0.0 << false;
        QTest::newRow("90 clockwise (phone)") << Matrix{0, k1, 0, -k1, 0, 0, 0, 0, kW} << true << -90.0 << false;
        QTest::newRow("90 counter-clockwise") << Matrix{0, -k1, 0, k1, 0, 0, 0, 0, kW} << true << 90.0 << false;
        QTest::newRow("180") << Matrix{-k1, 0, 0, 0, -k1, 0, 0, 0, kW} << true << 180.0 << false;
        QTest::newRow("mirrored") << Matrix{-k1, 0, 0, 0, k1, 0, 0, 0, kW} << true << 0.0 << true;
        QTest::newRow("mirrored, 90") << Matrix{0, k1, 0, k1, 0, 0, 0, 0, kW} << true << 90.0 << true;
        QTest::newRow("upside down (mirrored, 180)") << Matrix{k1, 0, 0, 0, -k1, 0, 0, 0, kW} << true << 180.0 << true;
        QTest::newRow("turned, twice the size, moved") << Matrix{0, 2 * k1, 0, -2 * k1, 0, 0, 640 * k1, 0, kW} << true << -90.0 << false;
        QTest::newRow("sheared") << Matrix{k1, k1 / 2, 0, 0, k1, 0, 0, 0, kW} << false << 0.0 << false;
        QTest::newRow("stretched") << Matrix{2 * k1, 0, 0, 0, k1, 0, 0, 0, kW} << false << 0.0 << false;
        QTest::newRow("perspective") << Matrix{k1, 0, 5, 0, k1, 0, 0, 0, kW} << false << 0.0 << false;
        QTest::newRow("nothing") << Matrix{0, 0, 0, 0, 0, 0, 0, 0, 0} << false << 0.0 << false;
    }

    void turnOfMatrix()
    {
        QFETCH(Matrix, matrix);
        QFETCH(bool, turns);
        QFETCH(double, roll);
        QFETCH(bool, hflip);
        const std::optional<VideoTurn> turn = TurnOfDisplayMatrix(matrix);
        QCOMPARE(turn.has_value(), turns);
        if (turns) {
            QCOMPARE(turn->roll, roll);
            QCOMPARE(turn->hflip, hflip);
        }
    }

    void matrixInProbeOutput_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("found");
        QTest::newRow("compact, escaped line breaks")
            << QByteArray("stream|side_data|side_data_type=Display Matrix|displaymatrix=\\n00000000:            0       65536"
                          "           0\\n00000001:       -65536           0           0\\n00000002:            0           0"
                          "  1073741824\\n|rotation=-90\n")
            << true;
        QTest::newRow("default, line breaks")
            << QByteArray("[SIDE_DATA]\ndisplaymatrix=\n00000000:            0       65536           0\n00000001:"
                          "       -65536           0           0\n00000002:            0           0  1073741824\n\n")
            << true;
        QTest::newRow("none") << QByteArray("stream|side_data|side_data_type=Stereo 3D\n") << false;
        QTest::newRow("cut short") << QByteArray("displaymatrix=\\n00000000:            0       65536           0\\n") << false;
        QTest::newRow("too large") << QByteArray("displaymatrix=\\n00000000: 0 99999999999 0\\n00000001: -65536 0 0\\n"
                                                 "00000002: 0 0 1073741824\\n")
                                   << false;
    }

    void matrixInProbeOutput()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, found);
        const std::optional<Matrix> m = DisplayMatrixInProbeOutput(text.toStdString());
        QCOMPARE(m.has_value(), found);
        if (found)
            QCOMPARE(*m, (Matrix{0, k1, 0, -k1, 0, 0, 0, 0, kW}));
    }

    // A source's matrix through the Projection and back, read by FFmpeg.
    void turnAdded_data()
    {
        QTest::addColumn<Matrix>("matrix");
        QTest::addColumn<QString>("container");
        QTest::newRow("90 clockwise (phone)") << Matrix{0, k1, 0, -k1, 0, 0, 0, 0, kW} << "mkv";
        QTest::newRow("90 counter-clockwise") << Matrix{0, -k1, 0, k1, 0, 0, 0, 0, kW} << "mkv";
        QTest::newRow("180") << Matrix{-k1, 0, 0, 0, -k1, 0, 0, 0, kW} << "mkv";
        QTest::newRow("mirrored") << Matrix{-k1, 0, 0, 0, k1, 0, 0, 0, kW} << "mkv";
        QTest::newRow("mirrored, 90") << Matrix{0, k1, 0, k1, 0, 0, 0, 0, kW} << "mkv";
        QTest::newRow("upside down (mirrored, 180)") << Matrix{k1, 0, 0, 0, -k1, 0, 0, 0, kW} << "mkv";
        QTest::newRow("90, WebM") << Matrix{0, k1, 0, -k1, 0, 0, 0, 0, kW} << "webm";
    }

    void turnAdded()
    {
        QFETCH(Matrix, matrix);
        QFETCH(QString, container);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression("[^a-z0-9]+"), "_");
        const QString source = Path(tag + "." + (container == "webm" ? "webm" : "mp4"));
        const QString out = Path(tag + ".out." + container);
        QVERIFY(QFile::copy(Path(container == "webm" ? "clip.webm" : "clip.mp4"), source));
        if (container != "webm")
            QVERIFY(SetTrackMatrix(source, matrix));
        QVERIFY(Run("ffmpeg", {"-nostdin", "-v", "error", "-i", source, "-map", "0", "-c", "copy", out}).ok);
        QVERIFY2(!ProbedMatrix(out), "this FFmpeg writes the turn itself now");
        const QByteArray before = Bytes(out), packets = Packets(out);

        const std::optional<VideoTurn> turn = TurnOfDisplayMatrix(matrix);
        QVERIFY(turn);
        std::string why;
        QVERIFY2(AddVideoTurn(out.toStdString(), *turn, why), why.c_str());

        const QByteArray after = Bytes(out);
        QCOMPARE(after.size(), before.size());
        // The clusters stay where they were.
        const qsizetype cluster = Find(before, "1f43b675");
        QVERIFY(cluster > 0);
        QCOMPARE(Find(after, "1f43b675"), cluster);
        QVERIFY(after.mid(cluster) == before.mid(cluster));
        QByteArray said;
        const std::optional<Matrix> read = ProbedMatrix(out, &said);
        QVERIFY2(said.isEmpty(), said.constData());
        QVERIFY(read);
        QCOMPARE(*read, matrix);
        QCOMPARE(Packets(out), packets);
        int checked = 0;
        const QStringList wrong = WrongCrcs(after, checked);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(' ')));
        QCOMPARE(checked, container == "webm" ? 0 : 4); // SeekHead, Info, Tracks, Tags
        const QStringList misplaced = WrongSeeks(after, checked);
        QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced.join(' ')));
        QCOMPARE(checked, 4); // Info, Tracks, Tags, Cues
        const MatroskaVideoTrack back = ReadMatroskaVideoTrack(out.toStdString());
        QVERIFY(back.matroska && back.video && back.projection && back.turn);
        QCOMPARE(*back.turn, *turn);
    }

    // Files that are not what the patch expects are left byte for byte as they were.
    void leftAlone_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("not Matroska (MP4)") << "mp4";
        QTest::newRow("turned already") << "twice";
        QTest::newRow("no free space (no Void)") << "novoid";
        QTest::newRow("track headers' CRC-32 wrong") << "crc";
        QTest::newRow("a track's size past its parent (WebM, no CRC-32)") << "size";
        QTest::newRow("SeekHead pointing elsewhere (WebM)") << "seek";
        QTest::newRow("cut off inside the track headers") << "cut";
        QTest::newRow("sound only") << "audio";
    }

    void leftAlone()
    {
        QFETCH(QString, damage);
        const QString out = Path("alone_" + damage + (damage == "size" || damage == "seek" ? ".webm" : ".mkv"));
        if (damage == "mp4") {
            QVERIFY(QFile::copy(Path("clip.mp4"), out));
        } else {
            QStringList args{"-nostdin", "-v", "error", "-i", Path(damage == "size" || damage == "seek" ? "clip.webm" : "clip.mp4"),
                             "-c", "copy"};
            if (damage == "audio")
                args << "-vn";
            QVERIFY(Run("ffmpeg", args << out).ok);
        }
        QByteArray data = Bytes(out);
        const qsizetype tracks = Find(data, "1654ae6b");
        QVERIFY(damage == "mp4" || tracks > 0);
        std::string why;
        if (damage == "twice")
            QVERIFY(AddVideoTurn(out.toStdString(), VideoTurn{90, false}, why));
        else if (damage == "novoid")
            data[Find(data, "ec01000000")] = char(0xF1); // an element of no meaning to a reader
        else if (damage == "crc")
            data[tracks + 8] = char(data[tracks + 8] ^ 0x20);
        else if (damage == "size")
            data[Find(data, "ae01", tracks) + 8] = char(data[Find(data, "ae01", tracks) + 8] + 1); // the entry's size
        else if (damage == "seek")
            data[Find(data, "53ab841549a96653ac") + 10] = char(data[Find(data, "53ab841549a96653ac") + 10] + 1);
        else if (damage == "cut")
            data.truncate(tracks + 40);
        if (damage != "twice" && damage != "mp4")
            QVERIFY(Write(out, data));
        const QByteArray before = Bytes(out);

        why.clear();
        QVERIFY(!AddVideoTurn(out.toStdString(), VideoTurn{-90, true}, why));
        QVERIFY(!why.empty());
        QVERIFY(Bytes(out) == before);
    }

    // The encoder's join: Matroska pieces turned, the whole turned as they were.
    void joinKeepsTurn()
    {
        const QString folder = Path("join");
        QVERIFY(QDir().mkpath(folder));
        const QString source = folder + "/source.mp4";
        QVERIFY(QFile::copy(Path("clip.mp4"), source));
        const Matrix phone{0, k1, 0, -k1, 0, 0, 0, 0, kW};
        QVERIFY(SetTrackMatrix(source, phone));
        const QString wmaspi = BuiltAppDir() + "wmaspi.dll";
        for (const char* piece : {"a", "b"}) {
            const Ran cut = Run(wmaspi, {"-y", "-i", source, "-ss", piece[0] == 'a' ? "0" : "0.4", "-t", "0.4", "-map", "0",
                                         "-c", "copy", folder + "/" + piece + ".mkv"});
            QVERIFY2(cut.ok, cut.err.constData());
            QVERIFY2(cut.err.isEmpty(), cut.err.constData());
            QCOMPARE(ProbedMatrix(folder + "/" + piece + ".mkv"), std::optional<Matrix>(phone));
        }
        QVERIFY(Write(folder + "/list.txt", "ffconcat version 1.0\nfile 'a.mkv'\nfile 'b.mkv'\n"));
        const Ran joined = Run(wmaspi, {"-join", folder + "/list.txt", folder + "/whole.mkv"});
        QVERIFY2(joined.ok, joined.err.constData());
        QVERIFY2(joined.err.isEmpty(), joined.err.constData());
        QCOMPARE(ProbedMatrix(folder + "/whole.mkv"), std::optional<Matrix>(phone));
    }
};

QTEST_GUILESS_MAIN(MkvProjectionTest)
#include "encoder_mkv_projection.moc"
