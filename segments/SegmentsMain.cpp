// The main window's part of the segments: the toolbar button that shows the segments panel,
// the key that adds the marked range to it, and what the panel takes from the window (the
// marks, the source, the profile and output folder) and gives back (marks to show, the
// segments drawn on the track bar).
#include "app/Dialogs.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "app/Navigation.h"
#include "app/PathUtils.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "profiles/ProfileFormat.h"
#include "segments/SegmentsPanel.h"
#include "split/CommandLine.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QScreen>
#include <QShortcut>
#include <memory>
#include <QStyle>
#include <QToolButton>

#include <algorithm>

void TMainForm::SetupSegments()
{
    sbtnSegments = new QToolButton(panToolbar);
    sbtnSegments->setObjectName(QStringLiteral("sbtnSegments"));
    sbtnSegments->setText(QStringLiteral("Segments"));
    sbtnSegments->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    sbtnSegments->setIconSize(QSize(32, 32));
    sbtnSegments->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    sbtnSegments->setGeometry(394, 3, 92, 58); // scaled with the toolbar when the font needs it
    sbtnSegments->setStyleSheet(sbtnHelp->styleSheet());
    sbtnSegments->setFont(sbtnHelp->font());
    sbtnSegments->setCheckable(true);
    sbtnSegments->setToolTip(QStringLiteral("Show the segments: several ranges of the video, as separate files or joined into one"));
    sbtnSegments->setAccessibleName(QStringLiteral("Segments"));
    sbtnSegments->setFocusPolicy(Qt::TabFocus);
    sbtnSegments->show();

    // A window of its own, not a child of this one: the layout sized to the font measures this
    // window's controls only. It goes when this window goes.
    Segments = new TSegmentsPanel(nullptr);
    connect(this, &QObject::destroyed, Segments, [panel = Segments] { delete panel; });
    Segments->marks = [this]() -> std::optional<std::pair<double, double>> {
        if (!SourceLoaded)
            return std::nullopt;
        const double start = StartSecondsForJob();
        const double end = std::min(EndSecondsForJob(), FilterGraph->SourceLength() / 1000.0);
        if (!(start >= 0) || !(end > start))
            return std::nullopt;
        return std::pair{start, end};
    };
    Segments->source = [this] { return SourceLoaded ? edtSource->text() : QString(); };
    Segments->makeOrder = [this](QString* why) -> std::optional<SegmentJobOrder> {
        if (Job->IsActive()) {
            *why = QStringLiteral("A split job is running; the segments wait until it has ended.");
            return std::nullopt;
        }
        const QString source = edtSource->text();
        if (!SourceLoaded || !SourceExists(source)) {
            *why = QStringLiteral("Please specify a valid input video file.");
            return std::nullopt;
        }
        const QString profilePath = ProfilePath(Paths.profileRoot, cmbProfile->currentText());
        if (!SourceExists(profilePath)) {
            *why = QStringLiteral("Please select a valid output profile.");
            return std::nullopt;
        }
        if (!FolderExists(edtOutputDir->text())) {
            *why = QStringLiteral("Please specify a valid output path.");
            return std::nullopt;
        }
        const ProfileChoice& profile = State.Profile();
        SegmentJobOrder order;
        order.base.sourcePath = source;
        order.base.profileSwitches = BuildProfileSwitches(
            profilePath, [&profile](int sort, const QString& name) { return profile.Value(sort, name); });
        order.base.encoderPath = EncoderPath;
        order.outputFolder = WithTrailingBackslash(edtOutputDir->text());
        order.baseName = StripExtension(ExtractFileName(source));
        order.extension = profile.extension;
        order.nameTemplate = State.Preferences().nameTemplate;
        order.profileName = cmbProfile->currentText();
        return order;
    };
    Segments->overwriteQuestion = [this](const JobSection&) {
        if (State.Preferences().overwrite)
            return SplitJob::Overwrite::Replace;
        return ShowMessage(Segments, MsgIcon::Question, QStringLiteral("Overwrite"),
                           QStringLiteral("The output file is existent. Overwrite it?"), MsgButtons::YesNo)
                       == MsgResult::Yes
                   ? SplitJob::Overwrite::Replace
                   : SplitJob::Overwrite::Skip;
    };

    connect(sbtnSegments, &QToolButton::toggled, Segments, [this](bool on) {
        if (on) {
            // Beside the window where there is room, else over its right-hand part.
            const QRect frame = frameGeometry();
            const QRect room = screen() ? screen()->availableGeometry() : QRect();
            const int width = Segments->frameGeometry().width();
            int x = frame.right() + 8;
            if (room.isValid() && x + width > room.right())
                x = frame.left() - width - 8 >= room.left() ? frame.left() - width - 8 : std::max(room.left(), room.right() - width);
            Segments->move(x, frame.top());
            Segments->show();
            Segments->raise();
        } else {
            Segments->hide();
        }
    });
    // Closing the panel's own window unchecks the button.
    connect(Segments, &TSegmentsPanel::shownChanged, sbtnSegments, &QToolButton::setChecked);
    connect(Segments, &TSegmentsPanel::rangesChanged, tkbProgress, &TDSTrackBar::SetRanges);
    connect(Segments, &TSegmentsPanel::showSegment, this, [this](double start, double end) {
        if (!SourceLoaded)
            return;
        ApplyStartTime(start);
        ApplyEndTime(end);
        if (tkbProgress->isEnabled() && !Playing())
            Navigator->SeekTo(start);
    });
    connect(Segments, &TSegmentsPanel::openSource, this, [this](const QString& path, std::optional<double> start, std::optional<double> end) {
        // The opening finishes later and clears the marks then: the project's marks follow it.
        auto ready = std::make_shared<QMetaObject::Connection>();
        auto failed = std::make_shared<QMetaObject::Connection>();
        *ready = connect(FilterGraph, &TFilterGraph::SourceReady, this, [this, ready, failed, start, end] {
            disconnect(*ready);
            disconnect(*failed);
            if (start)
                ApplyStartTime(*start);
            if (end)
                ApplyEndTime(*end);
        });
        *failed = connect(FilterGraph, &TFilterGraph::SourceFailed, this, [ready, failed] {
            disconnect(*ready);
            disconnect(*failed);
        });
        try {
            OpenSource(path);
        } catch (...) {
            disconnect(*ready);
            disconnect(*failed);
            return; // the window says why the video cannot be shown, as for any other
        }
    });
    connect(edtSource, &QLineEdit::textChanged, Segments, &TSegmentsPanel::SourceChanged);
    // One job at a time: the Split button waits while the segments are cut.
    connect(Segments, &TSegmentsPanel::jobStarted, this, [this] { imgStart->setEnabled(false); });
    connect(Segments, &TSegmentsPanel::jobEnded, this, [this] { imgStart->setEnabled(JobState() == JobController::State::Idle); });

    // Insert adds the marked range, unless a text field takes the key.
    auto* add = new QShortcut(QKeySequence(Qt::Key_Insert), this);
    connect(add, &QShortcut::activated, this, [this] {
        if (qobject_cast<QLineEdit*>(QApplication::focusWidget()))
            return;
        if (Segments->AddMarkedRange() && !sbtnSegments->isChecked())
            sbtnSegments->setChecked(true);
    });
    Shortcuts.append(add);
}
