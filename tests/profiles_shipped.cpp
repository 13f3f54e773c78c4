// Every profile that ships with the program, at its stored choices and at each other
// item of each of its lists, goes through the encoder program (and so ffmpeg) on a tiny
// clip with exactly the arguments a split job would give it; the result is checked with
// ffprobe.
#include "TestSupport.h"
#include "app/PathUtils.h"
#include "profiles/CustomSizeForm.h"
#include "profiles/OutputSettingsForm.h"
#include "profiles/ProfileFormat.h"
#include "profiles/ValueListEditor.h"
#include "split/CommandLine.h"
#include <QDir>
#include <algorithm>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

struct Stream {
    QString type, codec;
    int width = 0, height = 0, sampleRate = 0, channels = 0;
};

// The streams of a file, and its duration in seconds (0 when unknown).
QList<Stream> probe(const QString& path, double* duration)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries",
                        "stream=codec_type,codec_name,width,height,sample_rate,channels:format=duration", "-of", "json",
                        path});
    QList<Stream> out;
    *duration = 0;
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return out;
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    *duration = root["format"].toObject()["duration"].toString().toDouble();
    for (const QJsonValue& v : root["streams"].toArray()) {
        const QJsonObject o = v.toObject();
        out << Stream{o["codec_type"].toString(), o["codec_name"].toString(), o["width"].toInt(),
                      o["height"].toInt(), o["sample_rate"].toString().toInt(), o["channels"].toInt()};
    }
    return out;
}

// The value that follows a switch among the switches, or "\" for a switch alone.
QString switchValue(const QStringList& args, const QString& sw)
{
    const int i = args.lastIndexOf(sw);
    if (i < 0)
        return QString();
    if (i + 1 >= args.size() || args[i + 1].startsWith('-'))
        return QStringLiteral("\\");
    return args[i + 1];
}

QString codecOf(const QString& encoder, const QString& copied)
{
    static const QHash<QString, QString> names{{"libx264", "h264"},   {"libx265", "hevc"},      {"libvpx-vp9", "vp9"},
                                               {"mpeg4", "mpeg4"},    {"wmv2", "wmv2"},         {"aac", "aac"},
                                               {"libopus", "opus"},   {"libmp3lame", "mp3"},    {"wmav2", "wmav2"}};
    if (encoder == "copy")
        return copied;
    return names.value(encoder, encoder);
}

} // namespace

class TestShippedProfiles : public QObject {
    Q_OBJECT
    QTemporaryDir m_work;
    QString m_clip;
    int m_runs = 0;
    QString m_sourceAudio = "aac"; // what a copy of the source's sound turns out as

    // Runs one choice of the loaded profile on source (the plain clip when empty);
    // returns a description of what went wrong.
    QString runOnce(const QString& profile, const QString& label, const QString& source = QString(),
                    int* subtitles = nullptr)
    {
        const QString switches = BuildProfileSwitches(profile, [](int sort, const QString& name) {
            const TValueListEditor* grid = opSettingForm->GridForSort(sort);
            return grid ? grid->Value(name) : QString();
        });
        const QString out = m_work.path() + "/out" + opSettingForm->OutputExtension;
        QFile::remove(out);
        const QString line = BuildSectionCommandLine(source.isEmpty() ? m_clip : source, 0, 0.2, switches, out);
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(BuiltAppDir() + "wmaspi.dll", SplitCommandLine(line));
        ++m_runs;
        const QString what = label + " [" + switches + "]: ";
        if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return what + "the encoder failed: " + QString::fromLocal8Bit(p.readAll()).right(400);

        const QStringList args = SplitCommandLine(switches);
        double duration = 0;
        const QList<Stream> streams = probe(out, &duration);
        const Stream* video = nullptr;
        const Stream* audio = nullptr;
        for (const Stream& s : streams) {
            if (s.type == "video" && !video)
                video = &s;
            if (s.type == "audio" && !audio)
                audio = &s;
        }
        if (switchValue(args, "-vn") == "\\") {
            if (video)
                return what + "a video stream despite -vn";
        } else {
            if (!video)
                return what + "no video stream";
            const QString want = codecOf(switchValue(args, "-c:v"), "h264");
            if (!switchValue(args, "-c:v").isEmpty() && video->codec != want)
                return what + "video codec " + video->codec + ", expected " + want;
            const QString size = switchValue(args, "-s");
            if (!size.isEmpty() && QString("%1x%2").arg(video->width).arg(video->height) != size)
                return what + QString("video size %1x%2").arg(video->width).arg(video->height);
        }
        if (switchValue(args, "-an") == "\\") {
            if (audio)
                return what + "an audio stream despite -an";
        } else {
            if (!audio)
                return what + "no audio stream";
            const QString want = codecOf(switchValue(args, "-c:a"), m_sourceAudio);
            if (!switchValue(args, "-c:a").isEmpty() && audio->codec != want)
                return what + "audio codec " + audio->codec + ", expected " + want;
            const QString rate = switchValue(args, "-ar");
            if (!rate.isEmpty() && audio->sampleRate != rate.toInt())
                return what + "sample rate " + QString::number(audio->sampleRate);
            const QString channels = switchValue(args, "-ac");
            if (!channels.isEmpty() && audio->channels != channels.toInt())
                return what + "channels " + QString::number(audio->channels);
        }
        if (duration <= 0)
            return what + "no duration";
        if (subtitles)
            *subtitles = std::count_if(streams.begin(), streams.end(), [](const Stream& s) { return s.type == "subtitle"; });
        return QString();
    }

private slots:
    void initTestCase()
    {
        m_clip = m_work.path() + "/clip.mp4";
        QVERIFY(MakeClip(m_clip, 1, "160x120", 25));
    }

    void everyProfileAtEveryChoice_data()
    {
        QTest::addColumn<QString>("name");
        const QStringList files = ListFilesByExtension(BuiltAppDir() + "Profiles/", ".apf");
        QVERIFY(files.size() >= 6);
        for (const QString& f : files)
            QTest::newRow(qPrintable(f)) << StripExtension(f);
    }

    void everyProfileAtEveryChoice()
    {
        QFETCH(QString, name);
        MessageLog log;
        TempAppDir app;
        FormsFixture forms(app.path());
        const QString path = ProfilePath(app.path(), name);
        RunGuarded([&] { opSettingForm->LoadProfile(path); });
        QVERIFY2(log.shown.isEmpty(), qPrintable(log.lastText()));

        QElapsedTimer clock;
        clock.start();
        const int runsBefore = m_runs;
        QStringList problems;
        const QString stored = runOnce(path, "stored choices");
        if (!stored.isEmpty())
            problems << stored;

        for (const ProfileParameter& p : ReadProfile(path).parameters) {
            TValueListEditor* grid = opSettingForm->GridForSort(p.sort);
            QVERIFY2(grid && grid->FindRow(p.name) >= 0, qPrintable(p.name));
            if (!p.list)
                continue;
            const QStringList captions = SplitItems(p.caption);
            QCOMPARE(SplitItems(p.value).size(), captions.size());
            if (p.name == "Video Size")
                QCOMPARE(captions.value(p.index), QString("Original Size"));
            for (int i = 0; i < captions.size(); ++i) {
                if (i == p.index)
                    continue;
                grid->SetValue(p.name, captions[i]);
                // "Custom Size" opens the size dialog; closing it puts "Original Size" back,
                // so that choice never reaches the encoder.
                if (SizeForm->isVisible())
                    SizeForm->close();
                const QString problem = runOnce(path, p.name + " = " + captions[i]);
                if (!problem.isEmpty())
                    problems << problem;
                grid->SetValue(p.name, captions[p.index]);
            }
        }
        qInfo() << m_runs - runsBefore << "encodes in" << clock.elapsed() / 1000 << "s";
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("\n")));
    }

    // Sources as they come: with a subtitle track, MP4 (mov_text) or Matroska (SubRip), or
    // with 5.1 AC-3 sound as on films. Every profile, at its stored choices, still writes
    // its file, and Matroska and WebM, whose muxers take subtitles by default, keep them.
    void storedChoicesOnOtherSources_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        const QStringList files = ListFilesByExtension(BuiltAppDir() + "Profiles/", ".apf");
        for (const QString& f : files)
            for (const char* kind : {"subtitled.mp4", "subtitled.mkv", "surround.mkv"})
                QTest::newRow(qPrintable(f + " from " + kind)) << StripExtension(f) << QString(kind);
    }

    void storedChoicesOnOtherSources()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        const QString source = m_work.path() + "/" + kind;
        if (!QFile::exists(source)) {
            QStringList args{"-nostdin", "-loglevel", "error", "-y", "-i", m_clip};
            if (kind.startsWith("subtitled")) {
                const QString srt = m_work.path() + "/sub.srt";
                QFile text(srt);
                QVERIFY(text.open(QIODevice::WriteOnly));
                text.write("1\n00:00:00,000 --> 00:00:00,800\nhello\n");
                text.close();
                args << "-i" << srt << "-map" << "0" << "-map" << "1" << "-c:v" << "copy" << "-c:a" << "copy"
                     << "-c:s" << (kind.endsWith(".mp4") ? "mov_text" : "srt");
            } else {
                args << "-f" << "lavfi" << "-i" << "sine=duration=1,aformat=channel_layouts=5.1(side)" << "-map"
                     << "0:v" << "-map" << "1:a" << "-c:v" << "copy" << "-c:a" << "ac3" << "-shortest";
            }
            QProcess p;
            p.start("ffmpeg", args << source);
            QVERIFY(p.waitForFinished(120000) && p.exitCode() == 0);
        }

        MessageLog log;
        TempAppDir app;
        FormsFixture forms(app.path());
        const QString path = ProfilePath(app.path(), name);
        RunGuarded([&] { opSettingForm->LoadProfile(path); });
        QVERIFY2(log.shown.isEmpty(), qPrintable(log.lastText()));
        int subtitles = 0;
        m_sourceAudio = kind.startsWith("surround") ? "ac3" : "aac";
        const QString problem = runOnce(path, "stored choices", source, &subtitles);
        m_sourceAudio = "aac";
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        const QString type = opSettingForm->OutputExtension;
        if (kind.startsWith("subtitled") && (type == ".mkv" || type == ".webm"))
            QCOMPARE(subtitles, 1);
    }

    void cleanupTestCase()
    {
        qInfo() << m_runs << "encodes";
    }
};

VT_TEST_MAIN(TestShippedProfiles)
#include "profiles_shipped.moc"
