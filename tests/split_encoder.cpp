// The encoder program on its own, with a stand-in ffmpeg beside it that records what it
// was given and plays back machine-readable progress.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <csignal>

namespace {

QString BuiltEncoder()
{
    const QByteArray env = qgetenv("VT_APP_DIR");
    return (env.isEmpty() ? QDir::currentPath() + "/app" : QString::fromLocal8Bit(env)) + "/wmaspi.dll";
}

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
                            "libx264", "-an", "/out/a_Clip2.mp4"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(ffmpegArgs(), QStringList({"-nostdin", "-hide_banner", "-nostats", "-loglevel", "error", "-progress",
                                            "pipe:1", "-y", "-ss", "43.3", "-i", "/videos/a \"b\" c.mp4", "-t",
                                            "33.3333333333333", "-c:v", "libx264", "-an", "/out/a_Clip2.mp4"}));
        // Each position on a line of its own with a blank behind the number; nothing else.
        QCOMPARE(p.readAllStandardOutput(), QByteArray("time=1.500000 \ntime=12.345678 \n"));
        QVERIFY(p.readAllStandardError().contains("[libx264] something went wrong"));
    }

    void copiedVideoEndsBeforeTheNextKeyFrame_data()
    {
        QTest::addColumn<QStringList>("profile");
        QTest::addColumn<QStringList>("ffmpeg"); // what ffmpeg gets after -progress pipe:1
        const QString scale = "0.975000000000";
        QTest::newRow("everything copied: one reading, the rest stretched to the video's end")
            << QStringList{"-c:v", "copy", "-c:a", "copy"}
            << QStringList{"-y", "-ss", "8", "-itsscale:a", scale, "-itsscale:s", scale, "-i", "/a.mp4", "-t", "3.9",
                           "-copypriorss", "0", "-c:v", "copy", "-c:a", "copy", "-bsf:a", "setts=ts=TS/" + scale,
                           "-bsf:s", "setts=ts=TS/" + scale, "/o.mp4"};
        QTest::newRow("a filter of the profile's runs after ours")
            << QStringList{"-c", "copy", "-bsf:a", "aac_adtstoasc"}
            << QStringList{"-y", "-ss", "8", "-itsscale:a", scale, "-itsscale:s", scale, "-i", "/a.mp4", "-t", "3.9",
                           "-copypriorss", "0", "-c", "copy", "-bsf:a", "aac_adtstoasc", "-bsf:a",
                           "setts=ts=TS/" + scale + ",aac_adtstoasc", "-bsf:s", "setts=ts=TS/" + scale, "/o.mp4"};
        QTest::newRow("sound encoded: the video read on its own")
            << QStringList{"-c:v", "copy", "-c:a", "aac"}
            << QStringList{"-y", "-ss", "8", "-t", "3.9", "-an", "-sn", "-dn", "-i", "/a.mp4", "-y", "-ss", "8", "-vn",
                           "-i", "/a.mp4", "-t", "4", "-copypriorss", "0", "-c:v", "copy", "-c:a", "aac", "/o.mp4"};
        QTest::newRow("streams mapped by the profile: left to ffmpeg")
            << QStringList{"-map", "0", "-c", "copy"}
            << QStringList{"-y", "-ss", "8", "-i", "/a.mp4", "-t", "4", "-copypriorss", "0", "-map", "0", "-c", "copy",
                           "/o.mp4"};
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
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(ffmpegArgs().mid(7), ffmpeg);
    }

    void cutValuesAreNumbers()
    {
        // The value ends up in a filter's expression: nothing but a number gets there.
        for (const QString& bad : {QString("3.9,drop"), QString("1)+gte(n\\,0"), QString(""), QString("1e3")}) {
            QFile::remove(m_dir.path() + "/ffmpeg_args.txt");
            QProcess p;
            p.start(encoder(), {"-y", "-i", "/a.mp4", "-ss", "8", "-t", "4", "-video_end_dts", bad, "-c", "copy", "/o.mp4"});
            QVERIFY(p.waitForFinished(30000));
            QCOMPARE(p.exitCode(), 2);
            QVERIFY(p.readAllStandardError().contains("-video_end_dts"));
            QVERIFY2(!QFile::exists(m_dir.path() + "/ffmpeg_args.txt"), qPrintable(bad));
        }
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
    }

    void withoutFfmpegItSaysSo()
    {
        QTemporaryDir alone;
        QVERIFY(QFile::copy(BuiltEncoder(), alone.path() + "/wmaspi.dll"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", alone.path() + "/nothing-here");
        p.setProcessEnvironment(env);
        p.start(alone.path() + "/wmaspi.dll", {"-y", "-i", "/a.mp4", "-ss", "0.0", "-t", "1", "/b.mp4"});
        QVERIFY(p.waitForFinished(30000));
        QVERIFY(p.exitCode() != 0);
        QVERIFY(p.readAllStandardError().contains("ffmpeg"));
    }

    void ffmpegGoesWhenTheEncoderGoes()
    {
        for (const int sig : {SIGKILL, SIGTERM}) {
            QFile::remove(m_dir.path() + "/ffmpeg_args.txt");
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("FAKE_HANG", "1");
            p.setProcessEnvironment(env);
            p.start(encoder(), {"-y", "-i", "/a.mp4", "-ss", "0.0", "-t", "1", "/b.mp4"});
            QVERIFY(p.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir.path() + "/ffmpeg_args.txt"), 30000);
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
