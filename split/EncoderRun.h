#pragma once
#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// One run of the encoder for one section: output and error merged on one channel, no
// shell, standard input empty. The encoder gets a process group of its own, so stopping
// it takes down everything it started (ffmpeg) at once; it also dies with the program.
class EncoderRun : public QObject {
    Q_OBJECT
public:
    explicit EncoderRun(QObject* parent = nullptr);
    ~EncoderRun() override; // stops the encoder

    // Starts the program without waiting for it. False when no process could be made at
    // all; a program that is missing or not executable shows later as FailedToStart(),
    // with activity().
    bool Start(const QString& program, const QStringList& arguments);
    bool FailedToStart() const { return m_startFailed; }

    // Up to maxBytes of output that has arrived; empty when none is waiting.
    QByteArray Read(qint64 maxBytes);
    bool HasOutput() const;
    // The encoder has ended and all its output has been read.
    bool AtEnd() const;

    // Ends the encoder and its whole process group now, and waits a moment until none of
    // them is left; a member that takes longer is seen to from the event loop, so the
    // caller never waits long. Also ends what an encoder that ended by itself left behind
    // in its group.
    void Stop();
    // Stops the encoder and its group where they are, and lets them go on.
    void Pause();
    void Resume();

    qint64 ProcessId() const { return m_pid; }
    int ChunksRead() const { return m_chunks; }
    bool StoppedByUs() const { return m_stopped; }
    // The encoder ended by itself with a failure: a status other than 0, or a signal.
    bool Failed() const;
    int ExitCode() const;
    bool Crashed() const { return m_process.exitStatus() == QProcess::CrashExit; }
    // After Crashed(): the signal that ended it, "SIGKILL (Killed)".
    QString EndingSignal() const;
    // After Start() failed: the system refused the arguments as too long (E2BIG).
    bool ArgumentsTooLong() const;
    // The last line of output that is not progress, for reports.
    QString LastErrorLine() const;
    // What the encoder noted for the user ("wmaspi.dll: note: <text>" lines), the texts in order.
    QStringList Notes() const { return m_notes; }

Q_SIGNALS:
    void activity(); // output arrived or the encoder ended

private:
    void Remember(const QByteArray& chunk);
    static bool GroupAlive(qint64 group);

    QProcess m_process;
    qint64 m_pid = 0;
    bool m_stopped = false;
    bool m_finished = false;
    bool m_groupGone = false;
    bool m_startFailed = false;
    bool m_paused = false;
    int m_chunks = 0;
    QByteArray m_tail; // the last bytes of output, for the error line
    QByteArray m_line; // the line being read, for the notes
    QStringList m_notes;
};
