#pragma once
// Helpers for the split job suites: a job driver that acts from inside the running job,
// the stand-in encoder's script and log, and process checks through /proc.
#include "TestSupport.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "prefs/SettingsForm.h"
#include "preview/FilterGraph.h"
#include "split/EncoderRun.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

// A job runs inside imgStartClick until it ends; the steps of a test therefore run from a
// timer that the job's own loop serves. Each step waits for its condition, then acts.
class JobDriver : public QObject {
public:
    explicit JobDriver(int timeoutMs = 120000) : m_timeoutMs(timeoutMs)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
    }
    void Then(std::function<bool()> when, std::function<void()> act)
    {
        m_steps.append({std::move(when), std::move(act)});
    }
    // Also called on every tick, e.g. to record the highest value seen.
    void Watch(std::function<void()> watch) { m_watch = std::move(watch); }
    void Start()
    {
        m_clock.start();
        m_timer.start();
    }
    void Stop() { m_timer.stop(); }
    bool Done() const { return m_steps.isEmpty(); }
    bool TimedOut() const { return m_timedOut; }
    int Pending() const { return int(m_steps.size()); }

private:
    void Tick()
    {
        if (m_watch)
            m_watch();
        while (!m_steps.isEmpty() && m_steps.first().first()) {
            const auto act = m_steps.takeFirst().second;
            if (act)
                act();
        }
        if (!m_steps.isEmpty() && m_clock.elapsed() > m_timeoutMs && !m_timedOut) {
            // Never hang the suite: give up and end the job.
            m_timedOut = true;
            m_steps.clear();
            if (MainForm && MainForm->JobState == 1) {
                MainForm->JobState = 2;
                MainForm->StopEncoder();
            }
        }
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_timeoutMs;
    bool m_timedOut = false;
    QList<QPair<std::function<bool()>, std::function<void()>>> m_steps;
    std::function<void()> m_watch;
};

// One run of the stand-in encoder as its log tells it.
struct FakeRun {
    qint64 pid = 0;
    qint64 childPid = 0;
    QStringList args;
};

class FakeEncoder {
public:
    FakeEncoder()
    {
        qputenv("VT_FAKE_LOG", LogPath().toLocal8Bit());
        qputenv("VT_FAKE_SCRIPT", ScriptPath().toLocal8Bit());
        SetScript(QString());
    }
    ~FakeEncoder()
    {
        qunsetenv("VT_FAKE_LOG");
        qunsetenv("VT_FAKE_SCRIPT");
    }
    static QString Program() { return QStringLiteral(VT_FAKE_ENCODER_PATH); }
    QString LogPath() const { return m_dir.path() + "/log.txt"; }
    QString ScriptPath() const { return m_dir.path() + "/script.txt"; }
    // An empty script: write the output file and end well.
    void SetScript(const QString& text)
    {
        QFile f(ScriptPath());
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write((text.isEmpty() ? QStringLiteral("output\nexit 0\n") : text).toUtf8());
    }
    // Lets a "wait NAME" of the script go on.
    void Go(const QString& name) const
    {
        QFile f(m_dir.path() + "/" + name);
        f.open(QIODevice::WriteOnly);
    }
    QList<FakeRun> Runs() const
    {
        QList<FakeRun> runs;
        QFile f(LogPath());
        if (!f.open(QIODevice::ReadOnly))
            return runs;
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw);
            if (line.startsWith("run ")) {
                runs.append(FakeRun{});
                runs.last().pid = line.section("pid=", 1).toLongLong();
            } else if (runs.isEmpty()) {
                continue;
            } else if (line.startsWith("arg ")) {
                QString a = line.mid(4);
                a.replace("\\n", "\n").replace("\\\\", "\\");
                runs.last().args << a;
            } else if (line.startsWith("child=")) {
                runs.last().childPid = line.mid(6).toLongLong();
            }
        }
        return runs;
    }

private:
    QTemporaryDir m_dir;
};

// A process that has ended but not been reaped yet counts as gone.
inline bool ProcessAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() && text.at(close + 2) != 'Z';
}

// The processes whose parent is pid.
inline QList<qint64> ChildrenOf(qint64 pid)
{
    QList<qint64> out;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& e : entries) {
        bool ok = false;
        const qint64 p = e.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(p));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 1 && f.at(1).toLongLong() == pid)
            out << p;
    }
    return out;
}

// Puts the fields of the main window for a job on `source`, a clip the player can load.
inline bool PrepareJob(const QString& source, const QString& start, const QString& end, int sections,
                       const QString& outputDir)
{
    MainForm->OpenSource(source);
    QElapsedTimer t;
    t.start();
    while (MainForm->FilterGraph->SourceLength() <= 0 && t.elapsed() < 60000)
        QTest::qWait(20);
    if (MainForm->FilterGraph->SourceLength() <= 0)
        return false;
    MainForm->edtStart->setText(start);
    MainForm->edtEnd->setText(end);
    if (sections > 0) {
        MainForm->rdbEqual->setChecked(true);
        MainForm->edtSectionQty->setText(QString::number(sections));
    } else {
        MainForm->rdbStartEnd->setChecked(true);
    }
    MainForm->edtOutputDir->setText(outputDir);
    SettingForm->chkOverwrite->setChecked(true);
    SettingForm->chkTurnoff->setChecked(false);
    SettingForm->chkExit->setChecked(false);
    SettingForm->chkOpenDir->setChecked(false);
    return true;
}

// Selects a shipped profile by the start of its name and loads it into the grids.
inline bool SelectProfile(const QString& prefix)
{
    for (int i = 0; i < MainForm->cmbProfile->count(); ++i) {
        if (MainForm->cmbProfile->itemText(i).startsWith(prefix)) {
            MainForm->cmbProfile->setCurrentIndex(i);
            MainForm->cmbProfileChange();
            return true;
        }
    }
    return false;
}
