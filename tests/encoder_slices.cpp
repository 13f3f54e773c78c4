// H.264 slice headers read and written again, on streams x264 makes (CABAC and CAVLC, P and B
// pictures, macroblock pairs, weighted prediction): unchanged they come out byte for byte; and
// a copy resumed at an open GOP's I-picture, renumbered from it, decodes to the source's
// pictures from there on, without a word from the decoder.
#include "../encoder/h264_resume.h"
#include "../encoder/h264_slices.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QtTest>

namespace {

struct Ran {
    bool ok = false;
    QByteArray out, err;
};

Ran Run(const QStringList& args)
{
    QProcess p;
    p.start("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y"} + args);
    Ran r;
    r.ok = p.waitForFinished(180000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// An access unit of an Annex B stream: its units, without start codes.
using Unit = QByteArray;
using Access = QList<Unit>;

QList<Unit> Units(const QByteArray& stream)
{
    QList<Unit> units;
    qsizetype at = stream.indexOf(QByteArray("\0\0\1", 3));
    while (at >= 0) {
        const qsizetype from = at + 3;
        qsizetype next = stream.indexOf(QByteArray("\0\0\1", 3), from);
        qsizetype end = next < 0 ? stream.size() : next;
        while (end > from && stream.at(end - 1) == 0)
            --end; // the zero before a four-byte start code
        units << stream.mid(from, end - from);
        at = next;
    }
    return units;
}

// One slice a picture (x264 here): a unit before a slice belongs to the slice after it.
QList<Access> AccessUnits(const QList<Unit>& units)
{
    QList<Access> all;
    Access current;
    for (const Unit& u : units) {
        current << u;
        const int type = u.at(0) & 0x1f;
        if (type == 1 || type == 5) {
            all << current;
            current.clear();
        }
    }
    return all;
}

std::vector<NalUnit> AsNal(const Access& a)
{
    std::vector<NalUnit> out;
    for (const Unit& u : a)
        out.push_back(NalUnit{reinterpret_cast<const uint8_t*>(u.constData()), size_t(u.size())});
    return out;
}

QByteArray AnnexB(const std::vector<Bytes>& units)
{
    QByteArray out;
    for (const Bytes& u : units)
        out += QByteArray("\0\0\0\1", 4) + QByteArray(reinterpret_cast<const char*>(u.data()), qsizetype(u.size()));
    return out;
}

// The md5 of each decoded picture, in the order shown.
QStringList Hashes(const QString& file, QByteArray* errors = nullptr)
{
    const Ran r = Run({"-i", file, "-map", "0:v", "-f", "framemd5", "-"});
    if (errors)
        *errors = r.err;
    QStringList hashes;
    for (const QByteArray& line : r.out.split('\n'))
        if (!line.startsWith('#') && line.count(',') >= 5)
            hashes << QString::fromLatin1(line.split(',').last().trimmed());
    return hashes;
}

const QString kPicture = "testsrc2=size=192x108:rate=25:duration=6";

} // namespace

class EncoderSlicesTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QByteArray Make(const QString& name, const QStringList& x264)
    {
        const QString path = m_dir.path() + "/" + name;
        const Ran r = Run(QStringList{"-f", "lavfi", "-i", kPicture, "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt",
                                      "yuv420p"}
                          + x264 + QStringList{"-f", "h264", path});
        QFile f(path);
        return r.ok && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void rewritesUnchanged_data()
    {
        QTest::addColumn<QStringList>("x264");
        QTest::addColumn<int>("weighted"); // slices with a prediction weight table at least
        QTest::newRow("CABAC, P and B, pyramid")
            << QStringList{"-bf", "3", "-x264-params", "keyint=25:open-gop=1:scenecut=0:weightp=0"} << 0;
        QTest::newRow("CAVLC") << QStringList{"-coder", "0", "-bf", "2", "-x264-params", "keyint=30:weightp=0"} << 0;
        QTest::newRow("interlaced (macroblock pairs)")
            << QStringList{"-flags", "+ildct+ilme", "-bf", "2", "-x264-params", "tff=1:keyint=25:weightp=0"} << 0;
        QTest::newRow("weighted prediction, several slices")
            << QStringList{"-vf", "fade=in:0:40", "-bf", "3", "-x264-params", "weightp=2:weightb=1:slices=3:ref=4"} << 1;
        QTest::newRow("CAVLC, weighted")
            << QStringList{"-vf", "fade=in:0:40", "-coder", "0", "-x264-params", "weightp=2:weightb=1:ref=3"} << 1;
    }

    void rewritesUnchanged()
    {
        QFETCH(QStringList, x264);
        QFETCH(int, weighted);
        const QByteArray stream = Make(QString("same%1.h264").arg(QTest::currentDataTag()).remove(' '), x264);
        QVERIFY(!stream.isEmpty());
        H264ParameterSets sets;
        int slices = 0, withWeights = 0, marked = 0, listed = 0;
        for (const Unit& u : Units(stream)) {
            const NalUnit n{reinterpret_cast<const uint8_t*>(u.constData()), size_t(u.size())};
            const int type = u.at(0) & 0x1f;
            sets.Learn(n);
            if (type != 1 && type != 5)
                continue;
            H264Slice s;
            QVERIFY(ReadH264Slice(n.data, n.size, sets, s));
            const Bytes again = WriteH264Slice(s);
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(again.data()), qsizetype(again.size())), u);
            ++slices;
            withWeights += s.header.weights ? 1 : 0;
            marked += s.header.mmcos.empty() ? 0 : 1;
            listed += s.header.listChanged[0] || s.header.listChanged[1] ? 1 : 0;
        }
        QVERIFY(slices >= 150);
        if (weighted)
            QVERIFY(withWeights > 0);
        qInfo("%d slices, %d weighted, %d with memory management, %d with list changes", slices, withWeights, marked, listed);
    }

    // The copy from an open GOP's I-picture, its leading pictures left out: every picture
    // from it on decodes as in the source. Each open GOP with leading pictures in turn.
    void resumesAtOpenGop_data()
    {
        QTest::addColumn<QStringList>("x264");
        const QString open = "open-gop=1:scenecut=0:keyint=";
        QTest::newRow("pyramid B, keyint 25") << QStringList{"-bf", "3", "-x264-params", open + "25:min-keyint=25"};
        QTest::newRow("pyramid B, keyint 37") << QStringList{"-bf", "3", "-x264-params", open + "37:min-keyint=37"};
        QTest::newRow("5 B, 4 references, temporal direct")
            << QStringList{"-bf", "5", "-x264-params", open + "48:min-keyint=48:ref=4:direct=temporal"};
        QTest::newRow("strict pyramid, 16 references, adaptive B")
            << QStringList{"-bf", "8", "-x264-params", open + "30:min-keyint=30:ref=16:b-pyramid=strict:b-adapt=2"};
        QTest::newRow("CAVLC, weighted") << QStringList{"-vf", "fade=in:0:60", "-coder", "0", "-bf", "3", "-x264-params",
                                                        open + "30:min-keyint=30:weightp=2:ref=3"};
        QTest::newRow("interlaced") << QStringList{"-flags", "+ildct+ilme", "-bf", "2", "-x264-params", open + "25:min-keyint=25:tff=1"};
        QTest::newRow("B without pyramid, several slices")
            << QStringList{"-bf", "2", "-x264-params", open + "20:min-keyint=20:b-pyramid=none:slices=2"};
    }

    void resumesAtOpenGop()
    {
        QFETCH(QStringList, x264);
        const QString name = QString("open%1").arg(QTest::currentDataTag()).remove(' ').remove(',');
        const QByteArray stream = Make(name + ".h264", x264);
        QVERIFY(!stream.isEmpty());
        const QStringList source = Hashes(m_dir.path() + "/" + name + ".h264");
        QCOMPARE(source.size(), 150);

        const QList<Access> all = AccessUnits(Units(stream));
        // Parameter sets and the order count of every picture (type 0 here), to find the
        // open I-pictures and the pictures shown before them.
        H264ParameterSets sets;
        QList<int> pocs;
        QList<bool> openI, reference;
        int msb = 0, prevLsb = 0;
        for (const Access& a : all) {
            for (const Unit& u : a)
                sets.Learn(NalUnit{reinterpret_cast<const uint8_t*>(u.constData()), size_t(u.size())});
            H264Slice s;
            QVERIFY(ReadH264Slice(reinterpret_cast<const uint8_t*>(a.last().constData()), size_t(a.last().size()), sets, s));
            const int maxLsb = 1 << s.header.log2MaxPocLsb, lsb = int(s.header.pocLsb);
            if (s.header.Idr())
                msb = prevLsb = 0;
            int m = msb;
            if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2)
                m += maxLsb;
            else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2)
                m -= maxLsb;
            if (s.header.refIdc) {
                msb = m;
                prevLsb = lsb;
            }
            pocs << m + lsb;
            openI << (!s.header.Idr() && s.header.Kind() == kH264I);
            reference << (s.header.refIdc != 0);
        }
        // Pictures a slice each, or several slices for one (first_mb_in_slice 0 starts one),
        // with the order count of its first slice.
        QList<Access> pictures;
        QList<int> firstSlice;
        for (int k = 0; k < all.size(); ++k) {
            H264Slice s;
            const Unit& u = all[k].last();
            QVERIFY(ReadH264Slice(reinterpret_cast<const uint8_t*>(u.constData()), size_t(u.size()), sets, s));
            if (s.header.firstMb == 0 || pictures.isEmpty()) {
                pictures << all[k];
                firstSlice << k;
            } else {
                pictures.last() += all[k];
            }
        }
        QList<int> p;
        QList<bool> o, r;
        for (const int k : firstSlice) {
            p << pocs[k];
            o << openI[k];
            r << reference[k];
        }
        pocs = p;
        openI = o;
        reference = r;
        QCOMPARE(pictures.size(), 150);

        QVERIFY(!H264ResumableOpenPicture(AsNal(pictures[0])));
        int tried = 0, leftOutReferences = 0;
        for (int at = 1; at + 1 < pictures.size(); ++at) {
            // The copy may resume at the open GOPs' I-pictures only: not at the first (IDR)
            // picture, nor at the others.
            QCOMPARE(H264ResumableOpenPicture(AsNal(pictures[at])), openI[at]);
            if (!openI[at] || pocs[at + 1] > pocs[at])
                continue; // no leading pictures: nothing is left out
            H264Resume resume;
            for (const Access& a : pictures.mid(0, at))
                for (const Unit& u : a)
                    resume.Learn(NalUnit{reinterpret_cast<const uint8_t*>(u.constData()), size_t(u.size())});
            QByteArray copy;
            int shownBefore = 0;
            for (int k = 0; k < pictures.size(); ++k) {
                const bool leading = k > at && pocs[k] < pocs[at];
                shownBefore += k < at || leading ? 1 : 0;
                if (k < at)
                    continue;
                std::vector<Bytes> out;
                std::string why;
                QVERIFY2(resume.Picture(AsNal(pictures[k]), !leading, out, why), why.c_str());
                QCOMPARE(out.empty(), leading);
                copy += AnnexB(out);
                leftOutReferences += leading && reference[k] ? 1 : 0;
            }
            const QString file = m_dir.path() + "/" + name + QString("-from%1.h264").arg(at);
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(copy);
            f.close();
            QByteArray errors;
            const QStringList copied = Hashes(file, &errors);
            QVERIFY2(errors.isEmpty(), qPrintable(QString("from picture %1: %2").arg(at).arg(errors.constData())));
            // The source's pictures shown from the I-picture on (x264 decodes none before it
            // that shows after it).
            QVERIFY2(copied == source.mid(shownBefore), qPrintable(QString("from picture %1").arg(at)));
            ++tried;
        }
        QVERIFY(tried > 0);
        qInfo("%d copies, %d reference pictures left out", tried, leftOutReferences);
    }
};

QTEST_GUILESS_MAIN(EncoderSlicesTest)
#include "encoder_slices.moc"
