// Every supported type opens, plays and is cut: one short clip of each, made by ffmpeg in
// its usual codecs, opened by a drop, played, and cut through the real encoder.
#include "split_support.h"

#include "app/PathUtils.h"
#include "preview/DSTrackBar.h"
#include <QLabel>
#include <QProcess>
#include <memory>

namespace {

constexpr int kWait = 30000;

// ffmpeg's switches for a clip of each type: picture and sound in codecs such files carry;
// H.264 with key frames every half second, as broadcast and camera streams have them.
QStringList CodecsFor(const QString& ext)
{
    const QString h264 = "-c:v libx264 -preset ultrafast -g 12 -pix_fmt yuv420p -c:a aac";
    const QMap<QString, QString> codecs = {
        {"avi", "-c:v mpeg4 -c:a libmp3lame"},
        {"mpg", "-c:v mpeg1video -c:a mp2 -f mpeg"},
        {"mpeg", "-c:v mpeg2video -c:a mp2 -f mpeg"},
        {"vob", "-c:v mpeg2video -c:a ac3 -f vob"},
        {"wmv", "-c:v wmv2 -c:a wmav2 -f asf"},
        {"asf", "-c:v wmv2 -c:a wmav2 -f asf"},
        {"webm", "-c:v libvpx -b:v 300k -c:a libvorbis"},
        {"ogv", "-c:v libtheora -c:a libvorbis"},
        {"flv", "-c:v flv -c:a libmp3lame -ar 44100"},
        {"ts", h264 + " -f mpegts"},
        {"m2ts", h264 + " -f mpegts -mpegts_m2ts_mode 1"},
        {"mts", h264 + " -f mpegts -mpegts_m2ts_mode 1"},
        {"m4v", h264 + " -f mp4"}};
    return codecs.value(ext, h264).split(' '); // mp4, mov, mkv, 3gp
}

// Sound files: the sound alone, in the codec each type carries.
const QMap<QString, QString> kSoundCodecs = {{"mp3", "-c:a libmp3lame"}, {"m4a", "-c:a aac"},
                                             {"flac", "-c:a flac"},       {"wav", "-c:a pcm_s16le"},
                                             {"ogg", "-c:a libvorbis"},   {"opus", "-c:a libopus"}};

bool MakeTypedClip(const QString& path, const QString& ext)
{
    if (kSoundCodecs.contains(ext)) {
        QProcess p;
        p.start("ffmpeg", QStringList {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                       "sine=frequency=440:sample_rate=48000:duration=2"}
                              + kSoundCodecs.value(ext).split(' ') + QStringList {path});
        return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    QProcess p;
    p.start("ffmpeg", QStringList{"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                  "testsrc=size=176x144:rate=25:duration=2", "-f", "lavfi", "-i",
                                  "sine=frequency=440:sample_rate=44100:duration=2", "-shortest"}
                          + CodecsFor(ext) + QStringList{path});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class AppFormatsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(BuiltAppDir() + "wmaspi.dll"));
        for (const QString& ext : SupportedExtensions())
            QVERIFY2(MakeTypedClip(m_media.filePath("clip" + ext), ext.mid(1)), qPrintable(ext));
    }

    void eachTypeOpensPlaysAndCuts_data()
    {
        QTest::addColumn<QString>("ext");
        for (const QString& ext : SupportedExtensions())
            QTest::newRow(qPrintable(ext)) << ext;
    }
    void eachTypeOpensPlaysAndCuts()
    {
        QFETCH(QString, ext);
        const QString clip = m_media.filePath("clip" + ext);
        TempAppDir app;
        FormsFixture forms(app.path());
        MessageLog log;
        ShellLog shell;
        QTemporaryDir out;
        MainForm->EncoderPath = BuiltAppDir() + "wmaspi.dll";

        // Opens, as a drop on the window, once the player has it.
        MainForm->WMDropFiles({clip});
        QTRY_VERIFY_WITH_TIMEOUT(!MainForm->OpeningSource(), 60000);
        QVERIFY2(log.shown.isEmpty(), qPrintable(log.lastText()));
        QCOMPARE(MainForm->edtSource->text(), clip);
        const qint32 length = MainForm->FilterGraph->SourceLength();
        QVERIFY2(qAbs(length - 2000) <= 300, qPrintable(QString::number(length)));

        const bool sound = kSoundCodecs.contains(ext.mid(1));
        // Plays: frames come (for a sound file, its time) and time goes on.
        if (sound)
            QTRY_VERIFY_WITH_TIMEOUT(MainForm->FilterGraph->Engine()->Position() >= 0.2, kWait);
        else
            QTRY_VERIFY_WITH_TIMEOUT(MainForm->FilterGraph->CurrentFrameTime() >= 0.2, kWait);
        QVERIFY(MainForm->Playing());
        QVERIFY2(log.shown.isEmpty(), qPrintable(log.lastText()));
        if (sound) {
            // Cut with the sound profile.
            QVERIFY(SelectProfile("MP3 - Audio only"));
            QVERIFY(PrepareJob(clip, "00:00:00.4", "00:00:01.6", 0, out.path()));
            PressStart();
            QCOMPARE(log.lastText(), QStringLiteral("Splitting is completed successfully.\n\n1 file was written to %1.")
                                         .arg(MainForm->edtOutputDir->text()));
            const QString output = out.filePath("clip_Clip1.mp3");
            QVERIFY2(QFile::exists(output), qPrintable(output));
            QVERIFY2(qAbs(ProbeDuration(output) - 1.2) <= 0.2, qPrintable(QString::number(ProbeDuration(output))));
            QCOMPARE(ProbeStreams(output), QStringList {"audio=mp3"});
            return;
        }

        // Cut: 0.4 s to 1.6 s, re-encoded to H.264 + AAC.
        QVERIFY(SelectProfile("MP4 - H.264"));
        QVERIFY(PrepareJob(clip, "00:00:00.4", "00:00:01.6", 0, out.path()));
        PressStart();
        QCOMPARE(log.lastText(), QStringLiteral("Splitting is completed successfully.\n\n1 file was written to %1.")
                                         .arg(MainForm->edtOutputDir->text()));
        const QString output = out.filePath("clip_Clip1.mp4");
        QVERIFY2(QFile::exists(output), qPrintable(output));
        const double seconds = ProbeDuration(output);
        QVERIFY2(qAbs(seconds - 1.2) <= 0.2, qPrintable(QString::number(seconds)));
        const QStringList streams = ProbeStreams(output);
        QVERIFY2(streams.contains("video=h264") && streams.contains("audio=aac"), qPrintable(streams.join(' ')));
    }
};

VT_TEST_MAIN(AppFormatsTest)
#include "app_formats.moc"
