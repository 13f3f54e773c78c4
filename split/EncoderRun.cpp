#include "split/EncoderRun.h"

#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {
constexpr qsizetype kTailBytes = 8192;
// How long Stop waits for the encoder and the programs it started to be gone.
constexpr int kStopWaitMs = 5000;
}

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
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError) { emit activity(); });
}

EncoderRun::~EncoderRun()
{
    Stop();
}

bool EncoderRun::Start(const QString& program, const QStringList& arguments)
{
    m_process.start(program, arguments, QIODevice::ReadOnly);
    if (!m_process.waitForStarted(30000))
        return false;
    m_pid = m_process.processId();
    return true;
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
    // A killed member is gone once it is reaped; ffmpeg, left without its parent, is
    // reaped by the system at once.
    while (GroupAlive() && waited.elapsed() < kStopWaitMs)
        QThread::msleep(2);
    // Once gone, its id may serve another group: never signal it again.
    m_groupGone = !GroupAlive();
}

bool EncoderRun::GroupAlive() const
{
    return m_pid > 0 && (::kill(-static_cast<pid_t>(m_pid), 0) == 0 || errno == EPERM);
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
