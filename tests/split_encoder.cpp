// The encoder program on its own, with a stand-in ffmpeg beside it that records what it
// was given and plays back machine-readable progress.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <csignal>

namespace {

QString BuiltAppDirectory()
{
    const QByteArray env = qgetenv("VT_APP_DIR");
    return env.isEmpty() ? QDir::currentPath() + "/app" : QString::fromLocal8Bit(env);
}
QString BuiltEncoder() { return BuiltAppDirectory() + "/wmaspi.dll"; }

const char* const kFakeFfmpeg = R"(#!/bin/sh
here=$(dirname "$0")
for a in "$@"; do printf '%s\n' "$a"; done > "$here/ffmpeg_args.txt"
if [ -n "$FAKE_HANG" ]; then exec sleep 1000; fi
printf 'frame=1\nout_time_us=N/A\nprogress=continue\nout_time_us=-2000\nout_time_us=1500000\n'
printf 'progress=continue\nout_time_us=12345678\nprogress=end\n'
echo "[libx264] something went wrong" >&2
exit ${FAKE_STATUS:-0}
)";

bool ProcessGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() && text.at(close + 2) == 'Z';
}

} // namespace

class SplitEncoderTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString encoder() const { return m_dir.path() + "/wmaspi.dll"; }
    QStringList ffmpegArgs() const
    {
        QFile f(m_dir.path() + "/ffmpeg_args.txt");
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out = QString::fromUtf8(f.readAll()).split('\n');
        out.removeLast();
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::copy(BuiltEncoder(), encoder()));
        QVERIFY(QFile::copy(BuiltAppDirectory() + "/veltrane-exact.so", m_dir.path() + "/veltrane-exact.so"));
        QFile f(m_dir.path() + "/ffmpeg");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kFakeFfmpeg);
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void seeksBeforeTheInputAndReportsProgress()
    {
        QProcess p;
        p.start(encoder(), {"-y", "-i", "/videos/a \"b\" c.mp4", "-ss", "43.3", "-t", "33.3333333333333", "-c:v",
                            "libx264", "-an", m_dir.path() + "/a_Clip2.mp4"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(ffmpegArgs(), QStringList({"-nostdin", "-hide_banner", "-nostats", "-loglevel", "error", "-progress",
                                            "pipe:1", "-y", "-ss", "43.3", "-i", "/videos/a \"b\" c.mp4", "-ss", "0", "-t",
                                            "33.3333333333333", "-c:v", "libx264", "-an", m_dir.path() + "/a_Clip2.mp4"}));
        // Each position on a line of its own with a blank behind the number, and after
        // ffmpeg's success the section's whole length, so the bars reach the end; nothing else.
        QCOMPARE(p.readAllStandardOutput(), QByteArray("time=1.500000 \ntime=12.345678 \ntime=33.333333 \n"));
        QVERIFY(p.readAllStandardError().contains("[libx264] something went wrong"));
    }

    void copiedVideoEndsBeforeTheNextKeyFrame_data()
    {
        QTest::addColumn<QStringList>("profile");
        QTest::addColumn<QStringList>("ffmpeg"); // what ffmpeg gets after -progress pipe:1
        // Copied or encoded, the sound and subtitles come from a reading of their own with their
        // time stamps as the source has them.
        QTest::newRow("everything copied: the video read on its own")
            << QStringList{"-c:v", "copy", "-c:a", "copy"}
            << QStringList{"-y", "-ss", "8", "-fflags", "+genpts", "-t", "3.9", "-an", "-sn", "-dn", "-i", "/a.mp4", "-y", "-ss", "8", "-fflags", "+genpts", "-vn",
                           "-i", "/a.mp4", "-t", "4", "-copypriorss", "0", "-c:v", "copy", "-c:a", "copy", "/o.mp4"};
        QTest::newRow("a filter of the profile's stays as it is")
            << QStringList{"-c", "copy", "-bsf:a", "aac_adtstoasc"}
            << QStringList{"-y", "-ss", "8", "-fflags", "+genpts", "-t", "3.9", "-an", "-sn", "-dn", "-i", "/a.mp4", "-y", "-ss", "8", "-fflags", "+genpts", "-vn",
                           "-i", "/a.mp4", "-t", "4", "-copypriorss", "0", "-c", "copy", "-bsf:a",
                           "aac_adtstoasc", "-bsf:s", "setts=duration=(DURATION+(4/TB-PTS)-abs(DURATION-(4/TB-PTS)))/2",
                           "/o.mp4"};
        // Copied subtitles end with the section; a filter of the profile's for them runs after.
        QTest::newRow("copied subtitles with a filter of their own")
            << QStringList{"-c:v", "copy", "-c:s", "copy", "-bsf:s", "null"}
            << QStringList{"-y", "-ss", "8", "-fflags", "+genpts", "-t", "3.9", "-an", "-sn", "-dn", "-i", "/a.mp4", "-y", "-ss", "8", "-fflags", "+genpts", "-vn",
                           "-i", "/a.mp4", "-t", "4", "-copypriorss", "0", "-c:v", "copy", "-c:s", "copy",
                           "-bsf:s", "null", "-bsf:s", "setts=duration=(DURATION+(4/TB-PTS)-abs(DURATION-(4/TB-PTS)))/2,null",
                           "/o.mp4"};
        QTest::newRow("sound encoded: the video read on its own")
            << QStringList{"-c:v", "copy", "-c:a", "aac"}
            << QStringList{"-y", "-ss", "8", "-fflags", "+genpts", "-t", "3.9", "-an", "-sn", "-dn", "-i", "/a.mp4", "-y", "-ss", "8", "-fflags", "+genpts", "-vn",
                           "-i", "/a.mp4", "-t", "4", "-copypriorss", "0", "-c:v", "copy", "-c:a", "aac", "/o.mp4"};
        // An intra refresh into MP4: the video copied from the recovery point before, its time
        // stamps moved so that the section starts at 0, the sound read from the start.
        QTest::newRow("copied from an earlier key frame")
            << QStringList{"-decode_from", "6.5", "-c:v", "copy", "-c:a", "copy"}
            << QStringList{"-y", "-fflags", "+genpts", "-ss", "6.500000", "-itsoffset", "-1.500000", "-t", "3.9", "-an", "-sn",
                           "-dn", "-i", "/a.mp4", "-y", "-fflags", "+genpts", "-ss", "8", "-vn", "-i", "/a.mp4", "-t", "4",
                           "-copypriorss", "0", "-c:v", "copy", "-c:a", "copy", "-copypriorss:v", "1",
                           "-avoid_negative_ts", "disabled", "/o.mp4"};
        QTest::newRow("streams mapped by the profile: left to ffmpeg")
            << QStringList{"-map", "0", "-c", "copy"}
            << QStringList{"-y", "-ss", "8", "-fflags", "+genpts", "-i", "/a.mp4", "-t", "4", "-copypriorss", "0", "-map", "0", "-c",
                           "copy", "-bsf:s", "setts=duration=(DURATION+(4/TB-PTS)-abs(DURATION-(4/TB-PTS)))/2", "/o.mp4"};
    }
    void copiedVideoEndsBeforeTheNextKeyFrame()
    {
        QFETCH(QStringList, profile);
        QFETCH(QStringList, ffmpeg);
        QProcess p;
        p.start(encoder(), QStringList{"-y", "-i", "/a.mp4", "-ss", "8", "-t", "4", "-video_end_dts", "3.9",
                                       "-copypriorss", "0"}
                               + profile + QStringList{"/o.mp4"});
        QVERIFY(p.waitForFinished(30000));
        // The stand-in ffmpeg writes no file: the sync samples before the start cannot be
        // unmarked then, and the section fails rather than start on pictures not yet whole.
        const bool unmarks = profile.contains("-decode_from");
        QCOMPARE(p.exitCode(), unmarks ? 1 : 0);
        QCOMPARE(p.readAllStandardError().contains("cannot hide the pictures before the section's start"), unmarks);
        QCOMPARE(ffmpegArgs().mid(7), ffmpeg);
    }

    void reencodedVideoDecodesFromACleanPlace_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("ffmpeg"); // what ffmpeg gets after -progress pipe:1
        QTest::newRow("from an earlier key frame, the rest dropped")
            << QStringList{"-decode_from", "6.5", "-c:v", "libx264"}
            << QStringList{"-y", "-ss", "6.500000", "-i", "/a.ts", "-ss", "3.500000", "-t", "4", "-c:v", "libx264", "/o.mkv"};
        QTest::newRow("from the source's start") << QStringList{"-decode_from", "0", "-c:v", "libx264"}
                                                 << QStringList{"-y", "-i", "/a.ts", "-ss", "10.000000", "-t", "4", "-c:v",
                                                                "libx264", "/o.mkv"};
        // Copied video cannot begin anywhere but on its key frame: the point is left alone.
        QTest::newRow("copied video") << QStringList{"-decode_from", "6.5", "-c:v", "copy"}
                                      << QStringList{"-y", "-ss", "10", "-fflags", "+genpts", "-i", "/a.ts", "-t", "4", "-c:v", "copy",
                                                     "/o.mkv"};
    }
    void reencodedVideoDecodesFromACleanPlace()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, ffmpeg);
        QProcess p;
        p.start(encoder(), QStringList{"-y", "-i", "/a.ts", "-ss", "10", "-t", "4"} + options + QStringList{"/o.mkv"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(ffmpegArgs().mid(7), ffmpeg);
    }

    void cutValuesAreChecked_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("value");
        // The decode time ends up in a filter's expression: nothing but a number gets there.
        for (const char* bad : {"3.9,drop", "1)+gte(n\\,0", "", "1e3"})
            QTest::newRow(bad) << "-video_end_dts" << QString(bad);
        QTest::newRow("cut points") << "-cut_points" << "fast";
        QTest::newRow("cut end") << "-cut_end" << "1";
        QTest::newRow("cut start") << "-cut_start" << "exact";
    }
    void cutValuesAreChecked()
    {
        QFETCH(QString, option);
        QFETCH(QString, value);
        QFile::remove(m_dir.path() + "/ffmpeg_args.txt");
        QProcess p;
        p.start(encoder(), {"-y", "-i", "/a.mp4", "-ss", "8", "-t", "4", option, value, "-c", "copy", "/o.mp4"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains(option.toUtf8()));
        QVERIFY(!QFile::exists(m_dir.path() + "/ffmpeg_args.txt"));
    }

    void namesFfmpegWouldMisreadAreFiles()
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start(encoder(), {"-y", "-i", "http:clip.mp4", "-ss", "0.0", "-t", "5", "-output.mp4"});
        QVERIFY(p.waitForFinished(30000));
        const QStringList args = ffmpegArgs();
        QVERIFY(args.contains("file:http:clip.mp4"));
        QCOMPARE(args.last(), QString("file:-output.mp4"));
    }

    void exitStatusIsFfmpegs()
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("FAKE_STATUS", "3");
        p.setProcessEnvironment(env);
        p.start(encoder(), {"-y", "-i", "/a.mp4", "-ss", "0.0", "-t", "1", "/b.mp4"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 3);
        QVERIFY(!p.readAllStandardOutput().contains("time=1.000000")); // a failure does not reach the end
    }

    // The encoder alone in its folder: without ffmpeg, or without the exact-cut module.
    void withoutAPartItSaysSo_data()
    {
        QTest::addColumn<bool>("exact");
        QTest::addColumn<QByteArray>("says");
        QTest::newRow("no ffmpeg") << false << QByteArray("ffmpeg was not found");
        QTest::newRow("no exact-cut module") << true << QByteArray("veltrane-exact.so");
    }
    void withoutAPartItSaysSo()
    {
        QFETCH(bool, exact);
        QFETCH(QByteArray, says);
        QTemporaryDir alone;
        QVERIFY(QFile::copy(BuiltEncoder(), alone.path() + "/wmaspi.dll"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!exact)
            env.insert("PATH", alone.path() + "/nothing-here");
        p.setProcessEnvironment(env);
        QStringList args{"-y", "-i", "/a.mp4", "-ss", "0.0", "-t", "1", "-c:v", "copy"};
        if (exact)
            args << "-cut_points" << "exact";
        args << "/b.mp4";
        p.start(alone.path() + "/wmaspi.dll", args);
        QVERIFY(p.waitForFinished(30000));
        QVERIFY(p.exitCode() != 0);
        QVERIFY2(p.readAllStandardError().contains(says), says.constData());
    }

    void refusesSwitchesThatReachBeyondTheOutput_data()
    {
        QTest::addColumn<QStringList>("switches");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("says");
        const QString out = "out.mp4";
        QTest::newRow("value with a blank") << QStringList{"-metadata", "title=My", "Clip"} << out
                                            << "-metadata has a value with a blank in it: \"Clip\"";
        QTest::newRow("no option at all") << QStringList{"second.mp4"} << out << "\"second.mp4\" is no option";
        QTest::newRow("value for a bare switch") << QStringList{"-an", "x.mp4"} << out << "-an takes no value";
        QTest::newRow("value missing") << QStringList{"-c:v"} << out << "-c:v has no value";
        QTest::newRow("double dash") << QStringList{"--", "x.mp4"} << out << "option --";
        QTest::newRow("second input") << QStringList{"-i", "/etc/passwd"} << out << "-i \"/etc/passwd\"";
        QTest::newRow("ladspa") << QStringList{"-af", "ladspa=file=/tmp/x.so:p=0"} << out << "filter ladspa";
        QTest::newRow("lv2") << QStringList{"-af", "lv2=p=urn"} << out << "filter lv2";
        QTest::newRow("frei0r") << QStringList{"-vf", "frei0r=filter_name=/tmp/x.so"} << out << "filter frei0r";
        QTest::newRow("movie inside a graph")
            << QStringList{"-vf", "scale=2:2,movie=/etc/x[m];[in][m]overlay"} << out << "filter movie";
        QTest::newRow("amovie") << QStringList{"-af", "amovie=/x.wav"} << out << "filter amovie";
        QTest::newRow("subtitles") << QStringList{"-vf", "subtitles=/etc/passwd"} << out << "filter subtitles";
        QTest::newRow("named text file") << QStringList{"-vf", "drawtext=text=a:textfile=/etc/passwd"} << out
                                         << "no option \"textfile\"";
        QTest::newRow("quoted text") << QStringList{"-vf", "drawtext=text='a\\:b':fontsize=20:font=Sans"} << out
                                     << "quotes are not accepted";
        QTest::newRow("font file by position") << QStringList{"-vf", "drawtext=/etc/passwd"} << out
                                               << "by position to the filter drawtext";
        QTest::newRow("commands from a file") << QStringList{"-vf", "sendcmd=f=/tmp/c"} << out << "filter sendcmd";
        QTest::newRow("listening socket") << QStringList{"-af", "azmq"} << out << "filter azmq";
        QTest::newRow("complex graph") << QStringList{"-filter_complex", "movie=/x"} << out << "filter movie";
        QTest::newRow("graph from a file") << QStringList{"-filter_script:v", "/tmp/g"} << out << "-filter_script:v";
        QTest::newRow("complex graph from a file") << QStringList{"-filter_complex_script", "/tmp/g"} << out
                                                   << "-filter_complex_script";
        QTest::newRow("any value from a file") << QStringList{"-/vf", "/tmp/g"} << out << "-/vf";
        QTest::newRow("attachment") << QStringList{"-attach", "/etc/passwd"} << out << "-attach";
        QTest::newRow("attachment dumped") << QStringList{"-dump_attachment:t:0", "/tmp/x"} << out
                                           << "-dump_attachment";
        QTest::newRow("pass log elsewhere") << QStringList{"-passlogfile", "/tmp/x"} << out << "outside the output folder";
        QTest::newRow("pass log in the current folder") << QStringList{"-pass", "1"} << out << "-passlogfile";
        QTest::newRow("many files") << QStringList{"-f", "segment"} << out << "format segment";
        QTest::newRow("tee") << QStringList{"-f", "tee"} << out << "format tee";
        QTest::newRow("network") << QStringList{"-f", "rtsp"} << out << "format rtsp";
        QTest::newRow("device") << QStringList{"-f", "alsa"} << out << "format alsa";
        QTest::newRow("other input mapped") << QStringList{"-map", "1:a"} << out << "only the source, input 0";
        QTest::newRow("other input's metadata") << QStringList{"-map_metadata", "1"} << out << "-map_metadata";
        QTest::newRow("statistics file") << QStringList{"-vstats_file", "/tmp/v"} << out << "-vstats_file";
        QTest::newRow("report") << QStringList{"-report"} << out << "-report";
        QTest::newRow("progress elsewhere") << QStringList{"-progress", "/tmp/p"} << out << "-progress";
        QTest::newRow("preset file") << QStringList{"-fpre", "/tmp/p.ffpreset"} << out << "-fpre";
        QTest::newRow("hardware device") << QStringList{"-init_hw_device", "vaapi=va:/dev/dri/renderD128"} << out
                                         << "hardware device";
        QTest::newRow("library") << QStringList{"-omx_libname", "/tmp/x.so"} << out << "loads a library";
        QTest::newRow("playlist option") << QStringList{"-hls_segment_filename", "/tmp/%d.ts"} << out << "-hls_";
        QTest::newRow("encoder's stats file") << QStringList{"-x264-params", "keyint=60:stats=/tmp/s"} << out
                                              << "key stats";
        QTest::newRow("protocol in a value") << QStringList{"-metadata", "http://x/y"} << out << "protocol http";
        QTest::newRow("help instead of work") << QStringList{"-h", "full"} << out << "ends ffmpeg";
        QTest::newRow("playlist output") << QStringList{"-c", "copy"} << "out.m3u8" << "output type .m3u8";
        QTest::newRow("pattern output") << QStringList{"-frames:v", "9"} << "a%03d.png" << "\"%\"";
    }

    void refusesSwitchesThatReachBeyondTheOutput()
    {
        QFETCH(QStringList, switches);
        QFETCH(QString, output);
        QFETCH(QString, says);
        QFile::remove(m_dir.path() + "/ffmpeg_args.txt");
        QProcess p;
        p.setWorkingDirectory(QDir::tempPath()); // not the output folder
        p.start(encoder(), QStringList{"-y", "-i", "/a.mp4", "-ss", "0.0", "-t", "1"} + switches
                               + QStringList{m_dir.path() + "/" + output});
        QVERIFY(p.waitForFinished(30000));
        const QString error = QString::fromUtf8(p.readAllStandardError()).trimmed();
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(error.startsWith("wmaspi.dll: the ") && error.contains(says) && !error.contains('\n'),
                 qPrintable(error));
        QVERIFY(!QFile::exists(m_dir.path() + "/ffmpeg_args.txt")); // ffmpeg never ran
    }

    void passesOrdinaryProfileSwitches_data()
    {
        QTest::addColumn<QStringList>("switches");
        QTest::newRow("codecs and filters") << QStringList{"-c:v", "libx264", "-preset", "fast", "-vf", "yadif", "-af",
                                                           "volume=0.5", "-bitexact", "-an", "-movflags", "+faststart"};
        QTest::newRow("text drawn by name") << QStringList{"-vf", "drawtext=text=ab:fontsize=20:font=Sans"};
        QTest::newRow("metadata") << QStringList{"-metadata", "comment=http://x", "-metadata:s:a:0", "language=eng"};
        QTest::newRow("the source's streams") << QStringList{"-map", "0:v", "-map", "0:a?", "-map_metadata", "-1"};
        QTest::newRow("switched off booleans") << QStringList{"-nostdin", "-noautorotate", "-sn"};
        QTest::newRow("expression with colons") << QStringList{"-force_key_frames", "expr:gte(t,n_forced*2)"};
        QTest::newRow("encoder's own list") << QStringList{"-x264-params", "keyint=60:min-keyint=60"};
        QTest::newRow("two passes logged beside the output") << QStringList{"-pass", "1", "-passlogfile", "@DIR@/log"};
    }

    void passesOrdinaryProfileSwitches()
    {
        QFETCH(QStringList, switches);
        switches.replaceInStrings("@DIR@", m_dir.path());
        QProcess p;
        p.start(encoder(), QStringList{"-y", "-i", "/a.mp4", "-ss", "0.0", "-t", "1"} + switches
                               + QStringList{m_dir.path() + "/out.mp4"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QStringList args = ffmpegArgs();
        QCOMPARE(args.mid(args.size() - switches.size() - 1, switches.size()), switches);
    }

    void ffmpegGoesWhenTheEncoderGoes_data()
    {
        QTest::addColumn<bool>("exact");
        QTest::newRow("copied or encoded") << false;
        // The video cut on exact frames: ffmpeg reads it from the encoder through a pipe.
        QTest::newRow("exact cuts") << true;
    }
    void ffmpegGoesWhenTheEncoderGoes()
    {
        QFETCH(bool, exact);
        const QString clip = m_dir.path() + "/clip.mp4";
        if (exact && !QFile::exists(clip)) {
            QProcess make; // the real ffmpeg, on the PATH
            make.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=160x120:duration=4",
                                  "-c:v", "libx264", "-g", "50", clip});
            QVERIFY(make.waitForFinished(60000) && make.exitCode() == 0);
        }
        const QStringList args = exact ? QStringList{"-y", "-i", clip, "-ss", "0.52", "-t", "2.9", "-c:v", "copy",
                                                     "-cut_points", "exact", "/b.mp4"}
                                       : QStringList{"-y", "-i", "/a.mp4", "-ss", "0.0", "-t", "1", "/b.mp4"};
        for (const int sig : {SIGKILL, SIGTERM}) {
            QFile::remove(m_dir.path() + "/ffmpeg_args.txt");
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("FAKE_HANG", "1");
            p.setProcessEnvironment(env);
            p.start(encoder(), args);
            QVERIFY(p.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir.path() + "/ffmpeg_args.txt"), 30000);
            QCOMPARE(ffmpegArgs().contains("pipe:0"), exact);
            // The stand-in's process is the encoder's only child.
            qint64 child = 0;
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    const QString list = QStringLiteral("/proc/%1/task/%1/children").arg(p.processId());
                    QFile f(list);
                    if (!f.open(QIODevice::ReadOnly))
                        return false;
                    child = f.readAll().trimmed().toLongLong();
                    return child > 0;
                }(),
                30000);
            ::kill(static_cast<pid_t>(p.processId()), sig);
            QVERIFY(p.waitForFinished(30000));
            QTRY_VERIFY_WITH_TIMEOUT(ProcessGone(child), 10000);
            if (sig == SIGTERM) {
                // Passed on to ffmpeg, whose end the encoder then reports as its own.
                QCOMPARE(p.exitStatus(), QProcess::NormalExit);
                QCOMPARE(p.exitCode(), 128 + SIGTERM);
            }
        }
    }
};

QTEST_GUILESS_MAIN(SplitEncoderTest)
#include "split_encoder.moc"
