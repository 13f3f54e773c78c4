#pragma once
// The segments of the open source, beside its single marked range: a list to add the marked
// range to, show and change a segment's marks, name, reorder and remove them; the choice of
// separate files or one joined file; the project and CSV files; and the job that cuts them.
// It knows nothing of the main window: what it needs from there comes through the hooks.
#include "segments/SegmentJob.h"
#include "segments/SegmentList.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;

class TSegmentsPanel : public QWidget {
    Q_OBJECT
public:
    explicit TSegmentsPanel(QWidget* parent = nullptr);
    ~TSegmentsPanel() override;

    // ---- hooks the window fills in
    // The marked range in seconds, when one is marked.
    std::function<std::optional<std::pair<double, double>>()> marks;
    // The open source's path (empty: none).
    std::function<QString()> source;
    // The job's order from the window's profile and output folder, or why there is none.
    std::function<std::optional<SegmentJobOrder>(QString* why)> makeOrder;
    std::function<SplitJob::Overwrite(const JobSection&)> overwriteQuestion;

    const SegmentList& List() const { return m_list; }
    int Selected() const; // -1: none
    SegmentOutput Output() const;
    bool ChaptersAtJoins() const;
    void SetOutput(SegmentOutput output, bool chapters);
    bool JobRunning() const { return m_job != nullptr; }
    SegmentJob* Job() const { return m_job.get(); }

    // ---- actions (the buttons run these, after a file dialog where one is needed); false
    // with a message shown when they fail
    bool AddMarkedRange();
    bool SetSelectedToMarks();
    bool RemoveSelected();
    bool MoveSelected(int by);
    bool RenameSegment(int i, const QString& name);
    bool SaveProject(const QString& path);
    bool OpenProject(const QString& path);
    bool ImportCsv(const QString& path);
    bool ExportCsv(const QString& path);
    bool ExportChapters(const QString& path);
    void RunSegments();
    void StopSegments();
    // A new source: the list belongs to the old one and is emptied (unless a project that
    // names this source is being opened).
    void SourceChanged(const QString& path);
    void SetSegments(const QList<Segment>& segments);
    // What the last action said (also shown in the panel).
    QString Status() const;

Q_SIGNALS:
    // A segment was chosen: the window marks it and shows its start.
    void showSegment(double start, double end);
    // The list or its selection changed: the stretches to draw on the timeline.
    void rangesChanged(const QList<QPair<double, double>>& ranges, int selected);
    // A project names another source than the open one: the window opens it; the marks
    // (when set) follow.
    void openSource(const QString& path, std::optional<double> start, std::optional<double> end);
    void shownChanged(bool shown);
    void jobStarted();
    void jobEnded(SegmentJob::Outcome outcome);

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void Refill(int select);
    void OnSelectionChanged();
    void OnItemChanged(int row, int column);
    void Say(const QString& text, bool error);
    void UpdateButtons();
    QString DefaultFolder() const;

    SegmentList m_list;
    QTableWidget* m_table = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_setMarks = nullptr;
    QPushButton* m_remove = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QRadioButton* m_separate = nullptr;
    QRadioButton* m_joined = nullptr;
    QCheckBox* m_chapters = nullptr;
    QPushButton* m_run = nullptr;
    QPushButton* m_stop = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    std::unique_ptr<SegmentJob> m_job;
    bool m_filling = false;
    QString m_projectSource; // a project being opened names this source
};
