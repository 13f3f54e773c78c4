// The sandbox ffmpeg runs in, whatever the switch policy lets through: a stand-in ffmpeg
// beside the encoder tries what a hostile profile would make ffmpeg do. Each attempt fails
// under the encoder and succeeds when the stand-in is run directly, so it is the sandbox
// that stops it.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/landlock.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QString BuiltAppDirectory()
{
    const QByteArray env = qgetenv("VT_APP_DIR");
    return env.isEmpty() ? QDir::currentPath() + "/app" : QString::fromLocal8Bit(env);
}

// Does what TRY names and exits 0 when it worked; says what happened on standard error
// (its standard output is the encoder's progress pipe).
const char* const kStandIn = R"(#!/bin/bash
case "$TRY" in
write) echo hostile > "$TARGET" ;;
read) cat "$TARGET" > /dev/null ;;
connect) exec 3<>"/dev/tcp/127.0.0.1/$TARGET" ;;
*) exit 99 ;;
esac
status=$?
echo "stand-in: $TRY $TARGET: status $status" >&2
exit $status
)";

int LandlockVersion()
{
    const long v = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return v > 0 ? int(v) : 0;
}

// A loopback listener that is never served: a connection shows as one waiting to be accepted.
class Listener {
public:
    Listener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_fd, 8) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        m_port = ntohs(a.sin_port);
    }
    ~Listener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Port() const { return m_port; }
    // Takes every waiting connection; how many there were.
    int Accepted()
    {
        int n = 0;
        for (int c; (c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++n)
            ::close(c);
        return n;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace

class EncoderSandboxTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_app;       // the encoder and the stand-in
    QTemporaryDir m_out;       // the output folder
    QTemporaryDir m_elsewhere; // where nothing of the job belongs
    QString m_source;

    // Runs the stand-in, through the encoder or directly; its exit status.
    int run(bool underEncoder, const QString& attempt, const QString& target, QByteArray* error = nullptr)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TRY", attempt);
        env.insert("TARGET", target);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_elsewhere.path());
        if (underEncoder)
            p.start(m_app.path() + "/wmaspi.dll",
                    {"-y", "-i", m_source, "-ss", "0.0", "-t", "1", "-c", "copy", m_out.path() + "/a_Clip1.mp4"});
        else
            p.start(m_app.path() + "/ffmpeg", QStringList{});
        if (!p.waitForFinished(30000))
            return -1;
        if (error)
            *error = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        if (LandlockVersion() == 0)
            QSKIP("this kernel offers no Landlock (built without it, or not enabled at boot: lsm=...,landlock); "
                  "the encoder runs ffmpeg without the file-system sandbox and says so");
        QVERIFY(QFile::copy(BuiltAppDirectory() + "/wmaspi.dll", m_app.path() + "/wmaspi.dll"));
        QFile f(m_app.path() + "/ffmpeg");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kStandIn);
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_source = m_elsewhere.path() + "/source.mp4";
        QFile source(m_source);
        QVERIFY(source.open(QIODevice::WriteOnly));
        source.write("not really a video");
    }

    void ffmpegIsWalledIn_data()
    {
        QTest::addColumn<QString>("attempt");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("allowed"); // under the encoder
        QTest::newRow("write outside the output folder") << "write" << "@ELSEWHERE@/written.txt" << false;
        QTest::newRow("write beside the encoder") << "write" << "@APP@/written.txt" << false;
        QTest::newRow("read a file of no business") << "read" << "@ELSEWHERE@/secret.txt" << false;
        QTest::newRow("connect to a loopback listener") << "connect" << "@PORT@" << false;
        // What the job needs still works.
        QTest::newRow("write in the output folder") << "write" << "@OUT@/a_Clip1.mp4" << true;
        QTest::newRow("read the source") << "read" << "@SOURCE@" << true;
        QTest::newRow("read a system library") << "read" << "/etc/ld.so.cache" << true;
    }
    void ffmpegIsWalledIn()
    {
        QFETCH(QString, attempt);
        QFETCH(QString, target);
        QFETCH(bool, allowed);
        Listener listener;
        QVERIFY(listener.Port() > 0);
        target.replace("@ELSEWHERE@", m_elsewhere.path())
            .replace("@APP@", m_app.path())
            .replace("@OUT@", m_out.path())
            .replace("@SOURCE@", m_source)
            .replace("@PORT@", QString::number(listener.Port()));
        const QString secret = m_elsewhere.path() + "/secret.txt";
        QFile s(secret);
        QVERIFY(s.open(QIODevice::WriteOnly));
        s.write("secret\n");
        s.close();

        QByteArray error;
        const int sandboxed = run(true, attempt, target, &error);
        QVERIFY2(!error.contains("wmaspi.dll: sandbox:") || LandlockVersion() < 3, error.constData());
        const bool wroteOrConnected = attempt == "write" ? QFile::exists(target)
                                                         : attempt == "connect" && listener.Accepted() > 0;
        if (allowed) {
            QVERIFY2(sandboxed == 0, error.constData());
        } else {
            QVERIFY2(sandboxed != 0, error.constData());
            QVERIFY2(!wroteOrConnected, qPrintable(target));
        }

        // Run directly, the same attempt works: the sandbox, not the stand-in, stopped it.
        QCOMPARE(run(false, attempt, target, &error), 0);
        if (attempt == "connect")
            QCOMPARE(listener.Accepted(), 1);
        if (attempt == "write")
            QVERIFY(QFile::remove(target));
    }
};

QTEST_GUILESS_MAIN(EncoderSandboxTest)
#include "encoder_sandbox.moc"
