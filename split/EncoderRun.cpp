#include "split/EncoderRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

namespace {
constexpr qsizetype kTailBytes = 8192;
// How long Stop waits for the encoder and the programs it started to be gone; after that
// the event loop looks again every kReapEveryMs, for kReapForMs at most.
constexpr int kStopWaitMs = 200;
constexpr int kReapEveryMs = 20;
constexpr int kReapForMs = 30000;
} // namespace

EncoderRun::EncoderRun(QObject* parent) : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setChildProcessModifier([] {
        // Runs in the child between fork and exec: a group of its own, so one kill reaches
        // ffmpeg too, and death with the program should the program itself go down.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    connect(&m_process, &QProcess::readyRead, this, &EncoderRun::activity);
    connect(&m_process, &QProcess::finished, this, [this] {
        m_finished = true;
        emit activity();
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            m_startFailed = true;
        emit activity();
    });
}

EncoderRun::~EncoderRun()
{
    Stop();
}

bool EncoderRun::Start(const QString& program, const QStringList& arguments)
{
    m_process.start(program, arguments, QIODevice::ReadOnly);
    if (m_process.state() == QProcess::NotRunning) {
        m_startFailed = true;
        return false;
    }
    // Known from the fork on; the group bears the same number.
    m_pid = m_process.processId();
    return m_pid > 0;
}

QString EncoderRun::EndingSignal() const
{
    // QProcess gives a crashed process's signal as its exit code.
    const int sig = m_process.exitCode();
    const char* abbreviation = ::sigabbrev_np(sig);
    if (!abbreviation)
        return QStringLiteral("signal %1").arg(sig);
    return QStringLiteral("signal SIG%1 (%2)").arg(QString::fromLatin1(abbreviation), QString::fromLocal8Bit(::strsignal(sig)));
}

bool EncoderRun::ArgumentsTooLong() const
{
    return m_process.error() == QProcess::FailedToStart
           && m_process.errorString().contains(QString::fromLocal8Bit(std::strerror(E2BIG)));
}

QByteArray EncoderRun::Read(qint64 maxBytes)
{
    const QByteArray chunk = m_process.read(maxBytes);
    if (!chunk.isEmpty())
        ++m_chunks;
    Remember(chunk);
    return chunk;
}

bool EncoderRun::HasOutput() const { return m_process.bytesAvailable() > 0; }

bool EncoderRun::AtEnd() const
{
    return m_process.state() == QProcess::NotRunning && m_process.bytesAvailable() == 0;
}

void EncoderRun::Stop()
{
    if (m_pid <= 0 || m_groupGone)
        return;
    if (!m_finished && m_process.state() != QProcess::NotRunning) {
        m_stopped = true;
        m_process.kill();
    }
    // The whole group: the encoder and the ffmpeg it started, or whatever an encoder that
    // ended by itself left running. Its id cannot be taken by another group while any of
    // them lives, so this reaches ours only.
    ::kill(-static_cast<pid_t>(m_pid), SIGKILL);
    QElapsedTimer waited;
    waited.start();
    if (m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(kStopWaitMs);
    // A killed member takes a moment to end.
    while (GroupAlive(m_pid) && waited.elapsed() < kStopWaitMs)
        QThread::msleep(2);
    // Once gone, its id may serve another group: never signal it again.
    m_groupGone = !GroupAlive(m_pid);
    if (m_groupGone || !QCoreApplication::instance())
        return;
    // A member caught in the kernel (a slow disk) ends once it leaves it: looked after from
    // the event loop, and signalled only while the group is still there.
    auto* reaper = new QTimer(QCoreApplication::instance());
    auto* age = new QElapsedTimer;
    age->start();
    const qint64 group = m_pid;
    m_groupGone = true; // this object signals it no more
    QObject::connect(reaper, &QTimer::timeout, reaper, [reaper, age, group] {
        if (GroupAlive(group) && age->elapsed() < kReapForMs) {
            ::kill(-static_cast<pid_t>(group), SIGKILL);
            return;
        }
        delete age;
        reaper->deleteLater();
    });
    reaper->start(kReapEveryMs);
}

void EncoderRun::Pause()
{
    // Until the encoder has been reaped its group cannot be anyone else's.
    if (m_pid > 0 && !m_groupGone && !m_finished && !m_paused)
        m_paused = ::kill(-static_cast<pid_t>(m_pid), SIGSTOP) == 0;
}

void EncoderRun::Resume()
{
    if (!std::exchange(m_paused, false) || m_groupGone)
        return;
    if (!m_finished || GroupAlive(m_pid))
        ::kill(-static_cast<pid_t>(m_pid), SIGCONT);
}

bool EncoderRun::GroupAlive(qint64 group)
{
    if (group <= 0 || (::kill(-static_cast<pid_t>(group), 0) != 0 && errno == ESRCH))
        return false;
    // Members may be left as zombies until the system reaps them; only a member that has
    // not ended counts.
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return true;
    bool alive = false;
    while (const dirent* e = ::readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        char path[sizeof "/proc//stat" + sizeof e->d_name];
        std::snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
        if (n <= 0)
            continue;
        buf[n] = '\0';
        // "pid (name) state ppid pgrp ...": the name may hold anything, so read after its last ')'.
        const char* close = std::strrchr(buf, ')');
        char state = 0;
        long ppid = 0, pgrp = 0;
        if (close && std::sscanf(close + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3 && pgrp == group
            && state != 'Z' && state != 'X') {
            alive = true;
            break;
        }
    }
    ::closedir(proc);
    return alive;
}

bool EncoderRun::Failed() const
{
    if (m_stopped || m_process.state() != QProcess::NotRunning)
        return false;
    return m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0;
}

int EncoderRun::ExitCode() const { return m_process.exitCode(); }

void EncoderRun::Remember(const QByteArray& chunk)
{
    m_tail += chunk;
    if (m_tail.size() > kTailBytes)
        m_tail = m_tail.right(kTailBytes);
    static const QByteArray kNote("wmaspi.dll: note: ");
    for (const char c : chunk) {
        if (c != '\n') {
            if (m_line.size() < kTailBytes)
                m_line += c;
            continue;
        }
        if (m_line.startsWith(kNote))
            m_notes << QString::fromUtf8(m_line.mid(kNote.size()).trimmed());
        m_line.clear();
    }
}

QString EncoderRun::LastErrorLine() const
{
    const QList<QByteArray> lines = m_tail.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QByteArray line = it->trimmed();
        if (line.isEmpty() || line.startsWith("time="))
            continue;
        return QString::fromLocal8Bit(line);
    }
    return QString();
}
