// One reading of a profile's switches, as the program and the encoder program both use it:
// how a switch text splits, which stream a codec switch names, what the switches do to the
// streams, and the HH:MM:SS.mmm times both write.
#include "switches/ProfileSwitches.h"

#include <QtTest/QtTest>

using namespace vt_switches;

namespace {

QStringList Split(const QString& text)
{
    QStringList out;
    for (const std::string& a : SplitArguments(text.toStdString()))
        out << QString::fromStdString(a);
    return out;
}

std::vector<std::string> Args(const QString& text) { return SplitArguments(text.toStdString()); }

} // namespace

class SwitchesReading : public QObject {
    Q_OBJECT
private slots:
    void splits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("blanks and tabs") << " -c:v\tcopy   -an " << QStringList{"-c:v", "copy", "-an"};
        QTest::newRow("quoted blank") << "-metadata \"title=a b\" x" << QStringList{"-metadata", "title=a b", "x"};
        QTest::newRow("empty quotes are an argument") << "-a \"\" -b" << QStringList{"-a", "", "-b"};
        QTest::newRow("quote inside a word") << "ti\"tle x\"y" << QStringList{"title xy"};
        QTest::newRow("unclosed quote runs to the end") << "-x \"a b" << QStringList{"-x", "a b"};
        QTest::newRow("not UTF-8 broken") << "-metadata title=Größe" << QStringList{"-metadata", "title=Größe"};
        QTest::newRow("nothing") << "  " << QStringList{};
    }
    void splits()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, arguments);
        QCOMPARE(Split(text), arguments);
    }

    void namesStreams_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("target");
        const int none = int(CodecTarget::None), every = int(CodecTarget::Every), video = int(CodecTarget::Video),
                  audio = int(CodecTarget::Audio), sub = int(CodecTarget::Subtitle);
        for (const char* o : {"-c", "-codec"})
            QTest::newRow(o) << o << every;
        for (const char* o : {"-vcodec", "-c:v", "-c:V", "-c:v:0", "-c:V:0", "-codec:v", "-codec:V:0"})
            QTest::newRow(o) << o << video;
        for (const char* o : {"-acodec", "-c:a", "-c:a:0", "-codec:a"})
            QTest::newRow(o) << o << audio;
        for (const char* o : {"-scodec", "-c:s", "-c:s:0"})
            QTest::newRow(o) << o << sub;
        for (const char* o : {"-c:v:1", "-c:a:2", "-c:0", "-c:d", "-c:", "-cv", "-copyts", "-vn", "-c:v:01"})
            QTest::newRow(o) << o << none;
    }
    void namesStreams()
    {
        QFETCH(QString, option);
        QFETCH(int, target);
        QCOMPARE(int(CodecSwitchTarget(option.toStdString())), target);
    }

    void readsTreatment_data()
    {
        QTest::addColumn<QString>("switches");
        QTest::addColumn<QString>("expected"); // letters: V A S copied, v a s left out, f filtered, m maps, x exact
        QTest::newRow("shipped MKV copy") << "-c:v copy -c:a copy -avoid_negative_ts make_zero" << "VA";
        QTest::newRow("everything") << "-c copy" << "VAS";
        QTest::newRow("the last one counts") << "-c copy -c:v libx264 -c:s srt" << "A";
        QTest::newRow("capital V with index") << "-c:V:0 copy" << "V";
        QTest::newRow("another video stream") << "-c:v:1 copy" << "";
        QTest::newRow("a value that reads copy") << "-metadata title=copy -c:v libx264" << "";
        QTest::newRow("left out") << "-c copy -vn -an -sn" << "VASvas";
        QTest::newRow("sound filtered") << "-c copy -af volume=2" << "VASf";
        QTest::newRow("graph") << "-c:v copy -filter_complex anull" << "Vf";
        QTest::newRow("maps") << "-map 0 -c copy" << "VASm";
        QTest::newRow("exact cuts, the last counts") << "-c:v copy -cut_points keyframes -cut_points exact" << "Vx";
        QTest::newRow("key-frame cuts") << "-c:v copy -cut_points exact -cut_points keyframes" << "V";
        QTest::newRow("codec switch without value") << "-c:v" << "";
    }
    void readsTreatment()
    {
        QFETCH(QString, switches);
        QFETCH(QString, expected);
        const StreamTreatment t = ReadStreamTreatment(Args(switches));
        QString got;
        got += t.videoCopied ? "V" : "";
        got += t.audioCopied ? "A" : "";
        got += t.subtitleCopied ? "S" : "";
        got += t.videoOff ? "v" : "";
        got += t.audioOff ? "a" : "";
        got += t.subtitlesOff ? "s" : "";
        got += t.audioFiltered ? "f" : "";
        got += t.mapsStreams ? "m" : "";
        got += t.exactCuts ? "x" : "";
        QCOMPARE(got, expected);
    }

    void formatsClock_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "00:00:00.000";
        QTest::newRow("rounds to the millisecond") << 3723.4565 << "01:02:03.457";
        QTest::newRow("rounding carries into the minute") << 59.9996 << "00:01:00.000";
        QTest::newRow("past 99 hours") << 360000.25 << "100:00:00.250";
        QTest::newRow("negative") << -1.0 << "00:00:00.000";
        QTest::newRow("not a number") << std::nan("") << "00:00:00.000";
    }
    void formatsClock()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(FormatClock(seconds)), text);
    }
};

QTEST_GUILESS_MAIN(SwitchesReading)
#include "switches_reading.moc"
