#pragma once
// The queue window: the jobs in their order with each one's progress and outcome; run,
// pause, skip, remove and reorder them; drop several files on it to add them. The queue is
// kept in a file beside the preferences and read again at the next start.
#include "queue/JobQueue.h"
#include "queue/QueueRunner.h"

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTableWidget;

class TQueueForm : public QWidget {
    Q_OBJECT
public:
    // file: where the queue is kept; encoderPath: the encoder the jobs run.
    TQueueForm(const QString& file, const QString& encoderPath, QWidget* parent = nullptr);
    ~TQueueForm() override;

    // Makes the job for a dropped or picked file (the main window's profile and sections);
    // nothing leaves the file out.
    using JobMaker = std::function<std::optional<QueueJob>(const QString& source)>;
    void SetJobMaker(JobMaker maker) { m_maker = std::move(maker); }
    // Whether existing outputs are replaced, asked each time the queue is run.
    void SetReplaceRule(std::function<bool()> rule) { m_replaceRule = std::move(rule); }

    JobQueue& Queue() { return m_queue; }
    QueueRunner& Runner() { return m_runner; }
    void AddJob(const QueueJob& job);
    void AddFiles(const QStringList& paths);
    // What loading the file said (empty when it was read whole).
    const QString& LoadNote() const { return m_loadNote; }

    QTableWidget* lstJobs = nullptr;
    QPushButton* btnAddFiles = nullptr;
    QPushButton* btnRun = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnSkip = nullptr;
    QPushButton* btnRemove = nullptr;
    QPushButton* btnUp = nullptr;
    QPushButton* btnDown = nullptr;
    QPushButton* btnClearDone = nullptr;
    QLabel* labState = nullptr;

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void Refresh();
    void RefreshRow(qint64 id);
    void ShowState();
    void Save();
    std::optional<qint64> Selected() const;

    QString m_file;
    JobQueue m_queue;
    QueueRunner m_runner;
    JobMaker m_maker;
    std::function<bool()> m_replaceRule;
    QString m_loadNote;
};
