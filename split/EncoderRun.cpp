#include "split/EncoderRun.h"

#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {
constexpr qsizetype kTailBytes = 8192;
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
    if (m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(5000);
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
    if (m_pid <= 0 || m_finished || m_process.state() == QProcess::NotRunning)
        return;
    m_stopped = true;
    // The whole group: the encoder and the ffmpeg it started.
    ::kill(-static_cast<pid_t>(m_pid), SIGKILL);
    m_process.kill();
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
