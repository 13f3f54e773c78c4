#include "segments/SegmentsPanel.h"
#include "app/Dialogs.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTableWidget>

namespace {
enum Column { kNumber, kStart, kEnd, kName };
} // namespace

TSegmentsPanel::TSegmentsPanel(QWidget* parent) : QWidget(parent, Qt::Tool)
{
    setObjectName(QStringLiteral("SegmentsPanel"));
    setWindowTitle(QStringLiteral("Segments"));
    auto* layout = new QVBoxLayout(this);

    m_table = new QTableWidget(0, 4, this);
    m_table->setObjectName(QStringLiteral("tblSegments"));
    m_table->setAccessibleName(QStringLiteral("Segments"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("#"), QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Name")});
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    layout->addWidget(m_table, 1);

    auto* edits = new QHBoxLayout;
    const auto button = [this](QBoxLayout* row, const char* name, const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tip);
        row->addWidget(b);
        return b;
    };
    m_add = button(edits, "btnAddSegment", QStringLiteral("Add Range"), QStringLiteral("Add the marked range to the list (Insert)"));
    m_setMarks = button(edits, "btnSegmentToMarks", QStringLiteral("Set to Marks"),
                        QStringLiteral("Give the selected segment the marked range"));
    m_remove = button(edits, "btnRemoveSegment", QStringLiteral("Remove"), QStringLiteral("Remove the selected segment"));
    m_up = button(edits, "btnSegmentUp", QStringLiteral("Up"), QStringLiteral("Move the selected segment up"));
    m_down = button(edits, "btnSegmentDown", QStringLiteral("Down"), QStringLiteral("Move the selected segment down"));
    layout->addLayout(edits);

    auto* files = new QHBoxLayout;
    QPushButton* open = button(files, "btnOpenProject", QStringLiteral("Open Project..."), QStringLiteral("Open a segments project"));
    QPushButton* save = button(files, "btnSaveProject", QStringLiteral("Save Project..."),
                               QStringLiteral("Save the source, its marks and segments as a project"));
    QPushButton* import = button(files, "btnImportCsv", QStringLiteral("Import CSV..."),
                                 QStringLiteral("Read segments from a CSV file (start,end,name)"));
    QPushButton* exportCsv = button(files, "btnExportCsv", QStringLiteral("Export CSV..."),
                                    QStringLiteral("Write the segments as a CSV file (start,end,name)"));
    QPushButton* exportChapters = button(files, "btnExportChapters", QStringLiteral("Export Chapters..."),
                                         QStringLiteral("Write the segments as chapters (FFmpeg metadata file)"));
    layout->addLayout(files);

    auto* output = new QGroupBox(QStringLiteral("Output"), this);
    auto* outputLayout = new QHBoxLayout(output);
    m_separate = new QRadioButton(QStringLiteral("Separate files"), output);
    m_separate->setObjectName(QStringLiteral("rdbSegmentsSeparate"));
    m_joined = new QRadioButton(QStringLiteral("Joined into one"), output);
    m_joined->setObjectName(QStringLiteral("rdbSegmentsJoined"));
    m_chapters = new QCheckBox(QStringLiteral("Chapters at joins"), output);
    m_chapters->setObjectName(QStringLiteral("chkSegmentChapters"));
    m_separate->setChecked(true);
    outputLayout->addWidget(m_separate);
    outputLayout->addWidget(m_joined);
    outputLayout->addWidget(m_chapters);
    outputLayout->addStretch(1);
    layout->addWidget(output);

    auto* run = new QHBoxLayout;
    m_run = button(run, "btnSplitSegments", QStringLiteral("Split Segments"),
                   QStringLiteral("Cut the segments with the output profile into the output path"));
    m_stop = button(run, "btnStopSegments", QStringLiteral("Stop"), QStringLiteral("Stop cutting the segments"));
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    run->addWidget(m_progress, 1);
    layout->addLayout(run);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("labSegmentsStatus"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    auto* add = new QShortcut(QKeySequence(Qt::Key_Insert), this);
    connect(add, &QShortcut::activated, this, &TSegmentsPanel::AddMarkedRange);

    connect(m_add, &QPushButton::clicked, this, &TSegmentsPanel::AddMarkedRange);
    connect(m_setMarks, &QPushButton::clicked, this, &TSegmentsPanel::SetSelectedToMarks);
    connect(m_remove, &QPushButton::clicked, this, &TSegmentsPanel::RemoveSelected);
    connect(m_up, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { MoveSelected(1); });
    connect(m_chapters, &QCheckBox::toggled, this, &TSegmentsPanel::UpdateButtons);
    connect(m_joined, &QRadioButton::toggled, this, &TSegmentsPanel::UpdateButtons);
    connect(open, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open Project"), DefaultFolder(),
                                                          QStringLiteral("Segments projects (*.vtsegments);;All Files (*)"));
        if (!path.isEmpty())
            OpenProject(path);
    });
    connect(save, &QPushButton::clicked, this, [this] {
        const QFileInfo src(source ? source() : QString());
        const QString suggested = src.fileName().isEmpty() ? DefaultFolder() : src.absolutePath() + QLatin1Char('/') + src.completeBaseName() + QStringLiteral(".vtsegments");
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Project"), suggested,
                                                          QStringLiteral("Segments projects (*.vtsegments)"));
        if (!path.isEmpty())
            SaveProject(path);
    });
    connect(import, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Import CSV"), DefaultFolder(),
                                                          QStringLiteral("CSV files (*.csv);;All Files (*)"));
        if (!path.isEmpty())
            ImportCsv(path);
    });
    connect(exportCsv, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), DefaultFolder(),
                                                          QStringLiteral("CSV files (*.csv)"));
        if (!path.isEmpty())
            ExportCsv(path);
    });
    connect(exportChapters, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Chapters"), DefaultFolder(),
                                                          QStringLiteral("FFmpeg metadata (*.txt *.ffmeta)"));
        if (!path.isEmpty())
            ExportChapters(path);
    });
    connect(m_run, &QPushButton::clicked, this, &TSegmentsPanel::RunSegments);
    connect(m_stop, &QPushButton::clicked, this, &TSegmentsPanel::StopSegments);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &TSegmentsPanel::OnSelectionChanged);
    connect(m_table, &QTableWidget::cellChanged, this, &TSegmentsPanel::OnItemChanged);
    resize(600, 430);
    UpdateButtons();
}

TSegmentsPanel::~TSegmentsPanel() = default;

void TSegmentsPanel::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    Q_EMIT shownChanged(true);
}

void TSegmentsPanel::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    Q_EMIT shownChanged(false);
}

int TSegmentsPanel::Selected() const
{
    const QList<QTableWidgetItem*> items = m_table->selectedItems();
    return items.isEmpty() ? -1 : items.first()->row();
}

SegmentOutput TSegmentsPanel::Output() const { return m_joined->isChecked() ? SegmentOutput::Joined : SegmentOutput::Separate; }
bool TSegmentsPanel::ChaptersAtJoins() const { return m_chapters->isChecked(); }

void TSegmentsPanel::SetOutput(SegmentOutput output, bool chapters)
{
    (output == SegmentOutput::Joined ? m_joined : m_separate)->setChecked(true);
    m_chapters->setChecked(chapters);
}

QString TSegmentsPanel::Status() const { return m_status->text(); }

void TSegmentsPanel::Say(const QString& text, bool error)
{
    m_status->setText(text);
    if (error)
        ShowMessage(this, MsgIcon::Information, QStringLiteral("Segments"), text);
}

QString TSegmentsPanel::DefaultFolder() const
{
    const QString s = source ? source() : QString();
    return s.isEmpty() ? QString() : QFileInfo(s).absolutePath();
}

void TSegmentsPanel::Refill(int select)
{
    m_filling = true;
    m_table->setRowCount(m_list.Count());
    for (int i = 0; i < m_list.Count(); ++i) {
        const Segment& s = m_list.At(i);
        auto* number = new QTableWidgetItem(QString::number(i + 1));
        number->setFlags(number->flags() & ~Qt::ItemIsEditable);
        m_table->setItem(i, kNumber, number);
        m_table->setItem(i, kStart, new QTableWidgetItem(FormatSegmentTime(s.start)));
        m_table->setItem(i, kEnd, new QTableWidgetItem(FormatSegmentTime(s.end)));
        m_table->setItem(i, kName, new QTableWidgetItem(s.name));
    }
    m_table->resizeColumnToContents(kNumber);
    m_table->resizeColumnToContents(kStart);
    m_table->resizeColumnToContents(kEnd);
    m_filling = false;
    if (select >= 0 && select < m_list.Count())
        m_table->selectRow(select);
    else
        m_table->clearSelection();
    OnSelectionChanged();
}

void TSegmentsPanel::OnSelectionChanged()
{
    if (m_filling)
        return;
    QList<QPair<double, double>> ranges;
    for (const Segment& s : m_list.Items())
        ranges.append({s.start, s.end});
    const int i = Selected();
    Q_EMIT rangesChanged(ranges, i);
    UpdateButtons();
    if (i >= 0)
        Q_EMIT showSegment(m_list.At(i).start, m_list.At(i).end);
}

void TSegmentsPanel::OnItemChanged(int row, int column)
{
    if (m_filling || row < 0 || row >= m_list.Count())
        return;
    const QString text = m_table->item(row, column)->text();
    if (column == kName) {
        RenameSegment(row, text);
        return;
    }
    if (column != kStart && column != kEnd)
        return;
    const std::optional<double> t = ParseSegmentTime(text);
    const Segment& s = m_list.At(row);
    const double start = column == kStart && t ? *t : s.start;
    const double end = column == kEnd && t ? *t : s.end;
    if (!t || !m_list.SetTimes(row, start, end))
        Say(QStringLiteral("\"%1\" does not make segment %2 a range: the end must lie after the start (HH:MM:SS.mmm or seconds).")
                .arg(text.left(40))
                .arg(row + 1),
            true);
    QMetaObject::invokeMethod(this, [this, row] { Refill(row); }, Qt::QueuedConnection);
}

void TSegmentsPanel::UpdateButtons()
{
    const int i = Selected();
    const bool idle = !m_job;
    m_add->setEnabled(idle);
    m_setMarks->setEnabled(idle && i >= 0);
    m_remove->setEnabled(idle && i >= 0);
    m_up->setEnabled(idle && i > 0);
    m_down->setEnabled(idle && i >= 0 && i + 1 < m_list.Count());
    m_chapters->setEnabled(m_joined->isChecked());
    m_run->setEnabled(idle && !m_list.IsEmpty());
    m_stop->setEnabled(!idle);
    m_table->setEnabled(idle);
}

bool TSegmentsPanel::AddMarkedRange()
{
    if (m_job)
        return false;
    const std::optional<std::pair<double, double>> r = marks ? marks() : std::nullopt;
    if (!r || !m_list.Add(Segment{r->first, r->second, QString()})) {
        Say(m_list.Count() >= kMaxSegments ? QStringLiteral("The list holds %1 segments, the most it can.").arg(kMaxSegments)
                                           : QStringLiteral("Mark a range first: its End Time must be later than its Start Time."),
            true);
        return false;
    }
    Say(QStringLiteral("Segment %1 added: %2 - %3.")
            .arg(m_list.Count())
            .arg(FormatSegmentTime(r->first), FormatSegmentTime(r->second)),
        false);
    Refill(m_list.Count() - 1);
    return true;
}

bool TSegmentsPanel::SetSelectedToMarks()
{
    const int i = Selected();
    const std::optional<std::pair<double, double>> r = marks ? marks() : std::nullopt;
    if (i < 0 || !r || !m_list.SetTimes(i, r->first, r->second)) {
        Say(QStringLiteral("Select a segment and mark a range first."), true);
        return false;
    }
    Refill(i);
    return true;
}

bool TSegmentsPanel::RemoveSelected()
{
    const int i = Selected();
    if (!m_list.Remove(i))
        return false;
    Refill(std::min(i, m_list.Count() - 1));
    return true;
}

bool TSegmentsPanel::MoveSelected(int by)
{
    const int i = Selected();
    if (!m_list.Move(i, i + by))
        return false;
    Refill(i + by);
    return true;
}

bool TSegmentsPanel::RenameSegment(int i, const QString& name)
{
    if (!m_list.Rename(i, name))
        return false;
    if (m_table->item(i, kName) && m_table->item(i, kName)->text() != m_list.At(i).name)
        QMetaObject::invokeMethod(this, [this, i] { Refill(i); }, Qt::QueuedConnection);
    return true;
}

void TSegmentsPanel::SetSegments(const QList<Segment>& segments)
{
    if (!m_list.Assign(segments))
        return;
    Refill(-1);
}

bool TSegmentsPanel::SaveProject(const QString& path)
{
    SegmentProject p;
    p.sourcePath = source ? source() : QString();
    if (const std::optional<std::pair<double, double>> r = marks ? marks() : std::nullopt) {
        p.markStart = r->first;
        p.markEnd = r->second;
    }
    p.segments = m_list.Items();
    p.output = Output();
    p.chaptersAtJoins = ChaptersAtJoins();
    QString error;
    if (!WriteSegmentFile(path, SegmentProjectJson(p), &error)) {
        Say(error, true);
        return false;
    }
    Say(QStringLiteral("Project saved: %1").arg(path), false);
    return true;
}

bool TSegmentsPanel::OpenProject(const QString& path)
{
    QString error;
    const std::optional<QByteArray> content = ReadSegmentFile(path, &error);
    const SegmentProjectRead read = content ? ParseSegmentProject(*content) : SegmentProjectRead{};
    if (!read.project) {
        Say(QStringLiteral("%1 cannot be opened: %2").arg(path, content ? read.error : error), true);
        return false;
    }
    const SegmentProject& p = *read.project;
    const QString open = source ? source() : QString();
    if (!p.sourcePath.isEmpty() && QFileInfo(p.sourcePath) != QFileInfo(open)) {
        if (!QFileInfo(p.sourcePath).isFile()) {
            Say(QStringLiteral("The project's source %1 is not there; its segments are shown for the open video.").arg(p.sourcePath), true);
        } else {
            m_projectSource = p.sourcePath;
            Q_EMIT openSource(p.sourcePath, p.markStart, p.markEnd);
            m_projectSource.clear();
        }
    }
    m_list.Assign(p.segments);
    SetOutput(p.output, p.chaptersAtJoins);
    Refill(-1);
    Say(QStringLiteral("Project opened: %1 (%2 segments)").arg(path).arg(m_list.Count()), false);
    return true;
}

bool TSegmentsPanel::ImportCsv(const QString& path)
{
    QString error;
    const std::optional<QByteArray> content = ReadSegmentFile(path, &error);
    const SegmentReadResult read = content ? ParseSegmentCsv(*content) : SegmentReadResult{{}, error};
    if (!read.error.isEmpty() || read.segments.size() + m_list.Count() > kMaxSegments) {
        Say(QStringLiteral("%1 cannot be imported: %2").arg(path, read.error.isEmpty() ? QStringLiteral("too many segments") : read.error), true);
        return false;
    }
    QList<Segment> all = m_list.Items();
    all += read.segments;
    m_list.Assign(all);
    Refill(-1);
    Say(QStringLiteral("%1 segments imported from %2").arg(read.segments.size()).arg(path), false);
    return true;
}

bool TSegmentsPanel::ExportCsv(const QString& path)
{
    QString error;
    if (!WriteSegmentFile(path, SegmentCsv(m_list.Items()), &error)) {
        Say(error, true);
        return false;
    }
    Say(QStringLiteral("Segments exported: %1").arg(path), false);
    return true;
}

bool TSegmentsPanel::ExportChapters(const QString& path)
{
    QString error;
    if (!WriteSegmentFile(path, ChapterMetadata(SegmentChapters(m_list.Items())), &error)) {
        Say(error, true);
        return false;
    }
    Say(QStringLiteral("Chapters exported: %1").arg(path), false);
    return true;
}

void TSegmentsPanel::SourceChanged(const QString& path)
{
    if (!m_projectSource.isEmpty() && QFileInfo(m_projectSource) == QFileInfo(path))
        return;
    if (m_list.IsEmpty())
        return;
    m_list.Clear();
    Refill(-1);
    Say(QStringLiteral("A new video: the segments of the last one were cleared."), false);
}

void TSegmentsPanel::RunSegments()
{
    if (m_job || m_list.IsEmpty())
        return;
    QString why;
    std::optional<SegmentJobOrder> order = makeOrder ? makeOrder(&why) : std::nullopt;
    if (!order) {
        Say(why, true);
        return;
    }
    order->segments = m_list.Items();
    order->output = Output();
    order->chaptersAtJoins = ChaptersAtJoins();
    m_job = std::make_unique<SegmentJob>(*order);
    m_job->SetOverwriteQuestion(overwriteQuestion);
    connect(m_job.get(), &SegmentJob::segmentStarted, this, [this](int i, int n, const QString&) {
        m_status->setText(QStringLiteral("Segment %1 of %2...").arg(i).arg(n));
    });
    connect(m_job.get(), &SegmentJob::joining, this, [this](const QString& output) {
        m_status->setText(QStringLiteral("Joining into %1...").arg(QFileInfo(output).fileName()));
    });
    connect(m_job.get(), &SegmentJob::progress, this, [this](int, int total) { m_progress->setValue(total); });
    connect(m_job.get(), &SegmentJob::ended, this, [this](SegmentJob::Outcome outcome) {
        SegmentJob* job = m_job.release();
        job->deleteLater();
        QString text;
        switch (outcome) {
        case SegmentJob::Outcome::Completed:
            text = job->Written().isEmpty() ? QStringLiteral("Nothing was written.")
                                            : QStringLiteral("Done: %1").arg(job->Written().join(QStringLiteral(", ")));
            if (!job->Notes().isEmpty())
                text += QLatin1Char('\n') + job->Notes().join(QLatin1Char('\n'));
            Say(text, false);
            break;
        case SegmentJob::Outcome::Cancelled:
            m_progress->setValue(0);
            Say(QStringLiteral("Stopped; no partial output is left."), false);
            break;
        default:
            m_progress->setValue(0);
            Say(job->FailureReason(), true);
            break;
        }
        UpdateButtons();
        Q_EMIT jobEnded(outcome);
    });
    m_progress->setValue(0);
    UpdateButtons();
    Q_EMIT jobStarted();
    m_job->Start();
}

void TSegmentsPanel::StopSegments()
{
    if (m_job)
        m_job->Cancel();
}
