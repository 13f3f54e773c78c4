#pragma once
// Helpers for the split job suites that drive the main window: a job driver that acts from
// inside the running job, and a job's fields put on the window.
#include "TestSupport.h"
#include "split_fake.h"
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

// A job runs from the event loop after imgStartClick has returned; the steps of a test run
// from a timer the same loop serves while PressStart waits. Each step waits for its
// condition, then acts.
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
            if (MainForm && MainForm->JobState() != JobController::State::Idle)
                MainForm->StopEncoder();
        }
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_timeoutMs;
    bool m_timedOut = false;
    QList<QPair<std::function<bool()>, std::function<void()>>> m_steps;
    std::function<void()> m_watch;
};

// Presses Start as the user does and serves the event loop until the job is over and the
// window has shown its end (the completion, a failure, a cancel).
inline void PressStart(int timeoutMs = 600000)
{
    RunGuarded([] { MainForm->imgStartClick(); });
    QElapsedTimer t;
    t.start();
    while (MainForm->JobState() != JobController::State::Idle && t.elapsed() < timeoutMs)
        QTest::qWait(5);
}

// Puts the fields of the main window for a job on `source`, a clip the player can load.
inline bool PrepareJob(const QString& source, const QString& start, const QString& end, int sections,
                       const QString& outputDir)
{
    OpenSourceAndWait(source);
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
