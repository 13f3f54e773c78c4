#include "queue/QueueForm.h"
#include "app/PathUtils.h"
#include "split/CutPoints.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

enum Column { kSource, kRange, kSections, kProfile, kStatus, kMessage, kColumns };

QString RangeText(const QueueJob& j)
{
    if (!j.segments.isEmpty()) { // from the earliest segment to the latest, whatever their order
        double from = j.segments.first().start, to = j.segments.first().end;
        for (const Segment& s : j.segments) {
            from = std::min(from, s.start);
            to = std::max(to, s.end);
        }
        return FormatCutTime(from) + QStringLiteral(" - ") + FormatCutTime(to);
    }
    if (!j.start && !j.end)
        return QStringLiteral("whole");
    return FormatCutTime(j.start.value_or(0)) + QStringLiteral(" - ") + (j.end ? FormatCutTime(*j.end) : QStringLiteral("end"));
}

QString SectionsText(const QueueJob& j)
{
    if (!j.segments.isEmpty()) {
        const QString n = j.segments.size() == 1 ? QStringLiteral("1 segment") : QStringLiteral("%1 segments").arg(j.segments.size());
        return n + (j.segmentOutput == SegmentOutput::Joined ? QStringLiteral(", joined") : QStringLiteral(", separate"));
    }
    switch (j.sections.mode) {
    case SectionMode::Length: return QStringLiteral("every %1").arg(FormatCutTime(j.sections.every));
    case SectionMode::Size: return QStringLiteral("at most %1").arg(FormatByteSize(j.sections.maxBytes));
    case SectionMode::Chapters: return QStringLiteral("chapters");
    case SectionMode::Points: return QStringLiteral("%1 split points").arg(j.sections.points.size());
    case SectionMode::Equal: break;
    }
    return j.count > 1 ? QStringLiteral("%1 equal").arg(j.count) : QStringLiteral("one file");
}

QString StatusText(const QueueJob& j)
{
    if (j.status == QueueJob::Status::Running)
        return QStringLiteral("running %1%").arg(j.progress);
    return StatusName(j.status);
}

} // namespace

TQueueForm::TQueueForm(const QString& file, const QString& encoderPath, QWidget* parent)
    : QWidget(parent, Qt::Window), m_file(file), m_runner(m_queue, encoderPath)
{
    setObjectName(QStringLiteral("QueueForm"));
    setWindowTitle(QStringLiteral("Queue"));
    setAcceptDrops(true);
    resize(760, 340);

    lstJobs = new QTableWidget(0, kColumns, this);
    lstJobs->setObjectName(QStringLiteral("lstJobs"));
    lstJobs->setHorizontalHeaderLabels({QStringLiteral("Source"), QStringLiteral("Range"), QStringLiteral("Sections"),
                                        QStringLiteral("Profile"), QStringLiteral("Status"), QStringLiteral("Outcome")});
    lstJobs->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstJobs->setSelectionMode(QAbstractItemView::SingleSelection);
    lstJobs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstJobs->verticalHeader()->hide();
    lstJobs->horizontalHeader()->setStretchLastSection(true);
    lstJobs->setAccessibleName(QStringLiteral("Jobs"));

    auto button = [this](const char* name, const QString& caption, const QString& tip) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(tip);
        return b;
    };
    btnAddFiles = button("btnAddFiles", QStringLiteral("Add Files..."), QStringLiteral("Add videos with the main window's profile and sections (or drop them here)"));
    btnRun = button("btnRun", QStringLiteral("Run"), QStringLiteral("Run the waiting jobs one after another"));
    btnPause = button("btnPause", QStringLiteral("Pause"), QStringLiteral("Hold the running job where it is"));
    btnSkip = button("btnSkip", QStringLiteral("Skip"), QStringLiteral("Stop the selected job (its unfinished section is removed) and go on"));
    btnRemove = button("btnRemove", QStringLiteral("Remove"), QStringLiteral("Take the selected job out of the queue"));
    btnUp = button("btnUp", QStringLiteral("Up"), QStringLiteral("Run the selected job earlier"));
    btnDown = button("btnDown", QStringLiteral("Down"), QStringLiteral("Run the selected job later"));
    btnClearDone = button("btnClearDone", QStringLiteral("Clear Finished"), QStringLiteral("Take the jobs that ran out of the queue"));
    labState = new QLabel(this);
    labState->setObjectName(QStringLiteral("labState"));

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {btnAddFiles, btnRun, btnPause, btnSkip, btnRemove, btnUp, btnDown, btnClearDone})
        buttons->addWidget(b);
    buttons->addStretch(1);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(lstJobs, 1);
    outer->addWidget(labState);
    outer->addLayout(buttons);

    connect(btnAddFiles, &QPushButton::clicked, this, [this] {
        AddFiles(QFileDialog::getOpenFileNames(this, QStringLiteral("Add to Queue")));
    });
    connect(btnRun, &QPushButton::clicked, this, [this] {
        m_runner.SetAlwaysReplace(m_replaceRule && m_replaceRule());
        m_runner.Start();
    });
    connect(btnPause, &QPushButton::clicked, this, [this] {
        if (m_runner.IsPaused())
            m_runner.Resume();
        else
            m_runner.Pause();
    });
    connect(btnSkip, &QPushButton::clicked, this, [this] {
        if (const std::optional<qint64> id = Selected())
            m_runner.Skip(*id);
    });
    connect(btnRemove, &QPushButton::clicked, this, [this] {
        if (const std::optional<qint64> id = Selected())
            m_queue.Remove(*id);
    });
    for (QPushButton* b : {btnUp, btnDown})
        connect(b, &QPushButton::clicked, this, [this, b] {
            const std::optional<qint64> id = Selected();
            if (id && m_queue.Move(*id, b == btnUp ? -1 : 1))
                lstJobs->selectRow(int(m_queue.IndexOf(*id)));
        });
    connect(btnClearDone, &QPushButton::clicked, this, [this] { m_queue.RemoveFinished(); });
    connect(lstJobs, &QTableWidget::itemSelectionChanged, this, &TQueueForm::ShowState);

    connect(&m_queue, &JobQueue::changed, this, [this] {
        Refresh();
        Save();
    });
    connect(&m_queue, &JobQueue::jobChanged, this, [this](qint64 id) {
        RefreshRow(id);
        ShowState();
        const QueueJob* j = m_queue.Find(id);
        // Progress alone is not worth a write; a change of status is.
        if (!j || j->status != QueueJob::Status::Running || j->progress == 0)
            Save();
    });
    connect(&m_runner, &QueueRunner::runningChanged, this, &TQueueForm::ShowState);

    int dropped = 0;
    QString error;
    QStringList problems;
    if (!m_queue.Load(m_file, &dropped, &error, &problems))
        m_loadNote = error;
    else if (dropped > 0)
        m_loadNote = QStringLiteral("%1 entries of %2 could not be read and were left out (%3).")
                         .arg(dropped)
                         .arg(m_file, problems.join(QStringLiteral("; ")));
    Refresh();
}

TQueueForm::~TQueueForm()
{
    // A job still running waits again at the next start.
    m_runner.Stop();
    Save();
}

void TQueueForm::AddJob(const QueueJob& job)
{
    m_queue.Add(job);
}

void TQueueForm::AddFiles(const QStringList& paths)
{
    for (const QString& p : paths)
        if (SourceExists(p) && m_maker)
            if (const std::optional<QueueJob> job = m_maker(p))
                m_queue.Add(*job);
}

void TQueueForm::dragEnterEvent(QDragEnterEvent* e)
{
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void TQueueForm::dropEvent(QDropEvent* e)
{
    QStringList paths;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    AddFiles(paths);
    e->acceptProposedAction();
}

void TQueueForm::Refresh()
{
    const std::optional<qint64> keep = Selected();
    lstJobs->setRowCount(int(m_queue.Size()));
    for (int row = 0; row < int(m_queue.Size()); ++row) {
        for (int c = 0; c < kColumns; ++c)
            if (!lstJobs->item(row, c))
                lstJobs->setItem(row, c, new QTableWidgetItem);
        RefreshRow(m_queue.Jobs().at(row).id);
    }
    if (keep && m_queue.IndexOf(*keep) >= 0)
        lstJobs->selectRow(int(m_queue.IndexOf(*keep)));
    lstJobs->resizeColumnsToContents();
    // Room for "running 100%" before any job runs.
    lstJobs->setColumnWidth(kStatus, std::max(lstJobs->columnWidth(kStatus),
                                              lstJobs->fontMetrics().horizontalAdvance(QStringLiteral("running 100%")) + 12));
    ShowState();
}

void TQueueForm::RefreshRow(qint64 id)
{
    const qsizetype row = m_queue.IndexOf(id);
    if (row < 0 || row >= lstJobs->rowCount() || !lstJobs->item(int(row), kSource))
        return;
    const QueueJob& j = m_queue.Jobs().at(row);
    const QString texts[kColumns] = {QFileInfo(j.sourcePath).fileName(), RangeText(j), SectionsText(j), j.profileName,
                                     StatusText(j), j.message};
    for (int c = 0; c < kColumns; ++c)
        lstJobs->item(int(row), c)->setText(texts[c]);
    lstJobs->item(int(row), kSource)->setData(Qt::UserRole, id);
    lstJobs->item(int(row), kSource)->setToolTip(j.sourcePath);
    lstJobs->item(int(row), kMessage)->setToolTip(j.message);
}

void TQueueForm::ShowState()
{
    const bool running = m_runner.IsRunning();
    btnRun->setEnabled(!running && m_queue.NextWaiting().has_value());
    btnPause->setEnabled(running);
    btnPause->setText(m_runner.IsPaused() ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    const std::optional<qint64> id = Selected();
    const QueueJob* j = id ? m_queue.Find(*id) : nullptr;
    const bool waiting = j && j->status == QueueJob::Status::Waiting;
    const bool current = j && j->status == QueueJob::Status::Running;
    btnSkip->setEnabled(waiting || current);
    btnRemove->setEnabled(j && !current);
    btnUp->setEnabled(j && m_queue.IndexOf(*id) > 0);
    btnDown->setEnabled(j && m_queue.IndexOf(*id) + 1 < m_queue.Size());
    int waitingCount = 0;
    for (const QueueJob& q : m_queue.Jobs())
        waitingCount += q.status == QueueJob::Status::Waiting ? 1 : 0;
    labState->setText((m_runner.IsPaused() ? QStringLiteral("Paused. ") : running ? QStringLiteral("Running. ") : QString())
                      + QStringLiteral("%1 of %2 jobs waiting.").arg(waitingCount).arg(m_queue.Size())
                      + (m_loadNote.isEmpty() ? QString() : QLatin1Char(' ') + m_loadNote));
}

void TQueueForm::Save()
{
    if (!m_file.isEmpty())
        m_queue.Save(m_file);
}

std::optional<qint64> TQueueForm::Selected() const
{
    const QList<QTableWidgetItem*> items = lstJobs->selectedItems();
    for (const QTableWidgetItem* item : items)
        if (item->column() == kSource)
            return item->data(Qt::UserRole).toLongLong();
    return std::nullopt;
}
