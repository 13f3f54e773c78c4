// The main window for the keyboard and for screen readers: the focus order, the window's
// shortcuts, Enter on buttons, accessible names and tool tips; drops on any control; the
// player's position while paused; and the fixed layout sized from the font.
#include "app/Dialogs.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "app/Navigation.h"
#include "split/SectionModeRow.h"
#include "app/TimeCode.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "preview/VideoWindow.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTextEdit>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace {

bool IsTextField(const QWidget* w)
{
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w)
        || qobject_cast<const QTextEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w);
}

// Whether the focused control uses the key itself, so the window's shortcut for it waits.
// A text field uses every key; a button its Space; the profile list its Space, Home, End
// and the letters that pick an entry.
bool ControlOwnsKey(const QWidget* w, const QKeyEvent* k)
{
    if (!w)
        return false;
    if (IsTextField(w))
        return true;
    const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
    const bool plain = mods == Qt::NoModifier || mods == Qt::ShiftModifier;
    if (k->key() == Qt::Key_Space && plain) {
        const auto* image = qobject_cast<const TImage*>(w);
        return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w)
            || (image && image->IsButton());
    }
    // Arrows move between the split modes, as in any group of radio buttons.
    if (qobject_cast<const QRadioButton*>(w))
        return mods == Qt::NoModifier
            && (k->key() == Qt::Key_Left || k->key() == Qt::Key_Right || k->key() == Qt::Key_Up
                || k->key() == Qt::Key_Down);
    if (qobject_cast<const QComboBox*>(w)) {
        if (k->key() == Qt::Key_Home || k->key() == Qt::Key_End)
            return true;
        return plain && !k->text().isEmpty() && k->text().at(0).isPrint();
    }
    return false;
}

} // namespace

// Watches the window and every control on it: key ownership, Enter on buttons, file drops,
// the focus moving between Split and Stop; and, attached to the player, whether it plays.
class TInputRouter : public QObject, public TGraphComponent {
public:
    explicit TInputRouter(TMainForm* form) : QObject(form), m_form(form) {}

    void ControlEvent(TControlEvent event, int param) override
    {
        if (event == TControlEvent::Play)
            m_form->m_playing = true;
        else if (event == TControlEvent::Pause || event == TControlEvent::Stop
                 || (event == TControlEvent::Active && param == 0))
            m_form->m_playing = false;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::ShortcutOverride:
            // Arrives at the window after the focused control left it unclaimed.
            if (watched == m_form && ControlOwnsKey(QApplication::focusWidget(), static_cast<QKeyEvent*>(e))) {
                e->accept();
                return true;
            }
            break;
        case QEvent::KeyPress:
            if (watched == m_form) {
                // Enter presses the focused button, as Space does.
                auto* k = static_cast<QKeyEvent*>(e);
                auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
                if (button && button->window() == m_form && button->isEnabled()
                    && (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) && !k->isAutoRepeat()) {
                    button->animateClick();
                    return true;
                }
            }
            break;
        case QEvent::DragEnter:
        case QEvent::DragMove:
            // A file dragged over any control is a file for the window, never text for a field.
            if (watched != m_form && static_cast<QDropEvent*>(e)->mimeData()->hasUrls()) {
                static_cast<QDropEvent*>(e)->acceptProposedAction();
                return true;
            }
            break;
        case QEvent::Drop:
            if (watched != m_form && static_cast<QDropEvent*>(e)->mimeData()->hasUrls()) {
                auto* drop = static_cast<QDropEvent*>(e);
                drop->acceptProposedAction();
                const QList<QUrl> urls = drop->mimeData()->urls();
                RunGuarded([&] { m_form->DropUrls(urls); });
                return true;
            }
            break;
        case QEvent::Hide:
            // Split turns into Stop when a job starts, and back when it ends: the keyboard
            // focus goes along.
            if (watched == m_form->imgStart || watched == m_form->imgCancel)
                m_focusTo = static_cast<QWidget*>(watched)->hasFocus()
                    ? (watched == m_form->imgStart ? m_form->imgCancel : m_form->imgStart)
                    : nullptr;
            break;
        case QEvent::Show:
            if (watched == m_focusTo) {
                m_focusTo = nullptr;
                if (m_form->isActiveWindow() || !QApplication::focusWidget()
                    || QApplication::focusWidget()->window() == m_form)
                    static_cast<QWidget*>(watched)->setFocus(Qt::OtherFocusReason);
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, e);
    }

private:
    TMainForm* m_form;
    QWidget* m_focusTo = nullptr;
};

void TMainForm::SetupKeyboard()
{
    m_inputRouter = new TInputRouter(this);
    installEventFilter(m_inputRouter);
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(m_inputRouter);
    FilterGraph->Attach(m_inputRouter);

    // The picture takes the focus when clicked, so the shortcuts act after typing a time. It
    // holds the focus at start too: on a button, Space would press that button instead of
    // playing.
    VideoWindow->setFocusPolicy(Qt::ClickFocus);
    VideoWindow->setFocus(Qt::OtherFocusReason);

    // Focus order: toolbar, preview region, then the job region in its own order.
    const QList<QWidget*> order = {sbtnOpen,      sbtnSettings, sbtnAbout,     sbtnHelp,     sbtnSegments, tkbProgress,
                                   sbtnPlayPreview, sbtnPausePreview, sbtnStopPreview, sbtnSelStart, sbtnSelEnd,
                                   sbtnErase,     edtSource,    rdbStartEnd,   edtStart,     edtEnd,
                                   rdbEqual,      edtSectionQty, SectionModes->rdbSections, SectionModes->cmbSectionMode,
                                   SectionModes->edtSectionValue, cmbProfile,   btnTracks,    BitBtn1,      edtOutputDir,
                                   bbtnBrowse,    imgStart,     imgCancel,    btnAddToQueue, btnQueue};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));

    // Shortcuts of the window; none acts while a text field has the focus.
    struct Binding {
        QKeySequence keys;
        void (TMainForm::*action)();
        bool repeats;
    };
    const Binding bindings[] = {
        {QKeySequence(Qt::Key_Space), &TMainForm::TogglePlay, false},
        {QKeySequence(Qt::Key_I), &TMainForm::sbtnSelStartClick, false},
        {QKeySequence(Qt::Key_O), &TMainForm::sbtnSelEndClick, false},
        {QKeySequence(Qt::Key_Left), nullptr, true},
        {QKeySequence(Qt::Key_Right), nullptr, true},
        {QKeySequence(Qt::SHIFT | Qt::Key_Left), nullptr, true},
        {QKeySequence(Qt::SHIFT | Qt::Key_Right), nullptr, true},
        {QKeySequence(Qt::Key_Home), &TMainForm::SeekToStart, false},
        {QKeySequence(Qt::Key_End), &TMainForm::SeekToEnd, false},
        {QKeySequence(Qt::CTRL | Qt::Key_O), &TMainForm::sbtnOpenClick, false},
        {QKeySequence(Qt::Key_F1), &TMainForm::sbtnHelpClick, false},
        {QKeySequence(Qt::Key_X), &TMainForm::ToggleSplitPoint, false},
        {QKeySequence(Qt::CTRL | Qt::Key_J), &TMainForm::AddToQueue, false},
    };
    for (const Binding& b : bindings) {
        auto* shortcut = new QShortcut(b.keys, this);
        shortcut->setAutoRepeat(b.repeats);
        Shortcuts << shortcut;
        const QKeySequence keys = b.keys;
        const auto action = b.action;
        connect(shortcut, &QShortcut::activated, this, [this, keys, action] {
            RunGuarded([&] {
                if (action == &TMainForm::sbtnOpenClick && !sbtnOpen->isEnabled())
                    return;
                if (action) {
                    (this->*action)();
                } else if (keys == QKeySequence(Qt::Key_Left) || keys == QKeySequence(Qt::Key_Right)) {
                    StepFrame(keys == QKeySequence(Qt::Key_Right) ? 1 : -1);
                } else {
                    SeekBy(keys == QKeySequence(Qt::SHIFT | Qt::Key_Right) ? 1.0 : -1.0);
                }
            });
        });
    }

    // Zoom of the track bar around the picture shown (Ctrl+wheel over the bar does the same).
    const std::pair<QKeySequence, int> zoomKeys[] = {
        {QKeySequence(Qt::Key_Plus), 1}, {QKeySequence(Qt::Key_Equal), 1}, {QKeySequence(Qt::KeypadModifier | Qt::Key_Plus), 1},
        {QKeySequence(Qt::Key_Minus), -1}, {QKeySequence(Qt::KeypadModifier | Qt::Key_Minus), -1}};
    for (const auto& [keys, steps] : zoomKeys) {
        auto* shortcut = new QShortcut(keys, this);
        Shortcuts << shortcut;
        connect(shortcut, &QShortcut::activated, tkbProgress, [this, steps = steps] { tkbProgress->Zoom(steps); });
    }

    // Tool tips name the shortcuts; accessible names follow the captions and labels.
    const auto tip = [](QWidget* w, const QString& text) { w->setToolTip(text); };
    tip(sbtnOpen, QStringLiteral("Open a video (Ctrl+O)"));
    tip(sbtnSettings, QStringLiteral("Settings"));
    tip(sbtnAbout, QStringLiteral("About Veltrane"));
    tip(sbtnHelp, QStringLiteral("Help (F1)"));
    tip(sbtnPlayPreview, QStringLiteral("Play (Space)"));
    tip(sbtnPausePreview, QStringLiteral("Pause (Space)"));
    tip(sbtnStopPreview, QStringLiteral("Stop; the picture and the position stay"));
    tip(sbtnSelStart, QStringLiteral("Start the marked range at the frame shown (I)"));
    tip(sbtnSelEnd, QStringLiteral("End the marked range at the frame shown (O)"));
    tip(sbtnErase, QStringLiteral("Clear the marked range"));
    tip(tkbProgress, QStringLiteral("Position: Left/Right one frame (paused), Shift+Left/Right one second, "
                                    "Ctrl+Left/Right key frame before/after, Home/End start/end, [ and ] the "
                                    "marks, Ctrl+G go to a time; zoom: + and - or Ctrl+wheel. Key frames are marked"));
    tip(imgStart, QStringLiteral("Split the marked range (Space or Enter when focused)"));
    tip(imgCancel, QStringLiteral("Stop the splitting"));
    tip(BitBtn1, QStringLiteral("Show and edit the options of the output profile"));
    tip(btnTracks, QStringLiteral("Choose which video, sound and subtitle tracks of the source the cuts keep"));
    tip(bbtnBrowse, QStringLiteral("Choose the output folder"));

    tkbProgress->setAccessibleName(QStringLiteral("Position"));
    VideoWindow->setAccessibleName(QStringLiteral("Video picture"));
    labCurrent->setAccessibleDescription(QStringLiteral("Current position"));
    pgbCurrent->setAccessibleName(QStringLiteral("Current section progress"));
    pgbTotal->setAccessibleName(QStringLiteral("Total progress"));
    BitBtn1->setAccessibleName(BitBtn1->text());
    bbtnBrowse->setAccessibleName(bbtnBrowse->text());
    rdbStartEnd->setAccessibleName(rdbStartEnd->text().trimmed());
    rdbEqual->setAccessibleName(rdbEqual->text().trimmed());
    chkPreview->setAccessibleName(chkPreview->text());
    const QList<QPair<QLabel*, QWidget*>> labelled = {{Label2, edtSource},     {Label4, edtStart},
                                                      {Label5, edtEnd},        {Label7, edtSectionQty},
                                                      {Label10, cmbProfile},   {Label3, edtOutputDir}};
    for (const auto& [label, field] : labelled) {
        label->setBuddy(field);
        QString name = label->text().trimmed();
        if (name.endsWith(QLatin1Char(':')) || name.endsWith(QLatin1Char('.')))
            name.chop(1);
        field->setAccessibleName(name.left(1).toUpper() + name.mid(1)); // "Equal sections"
    }
}

// ---- the player from the keyboard

bool TMainForm::Playing() const
{
    return m_playing;
}

void TMainForm::TogglePlay()
{
    if (!sbtnPlayPreview->isEnabled())
        return;
    if (Playing())
        sbtnPausePreviewClick();
    else
        sbtnPlayPreviewClick();
}

void TMainForm::StepFrame(int direction)
{
    // The position label follows the frame once it is shown.
    if (!SourceLoaded || !tkbProgress->isEnabled() || Playing())
        return;
    FilterGraph->StepFrame(direction);
}

void TMainForm::SeekBy(double seconds)
{
    Navigator->SeekBy(seconds);
}

void TMainForm::SeekToStart()
{
    Navigator->SeekTo(0);
}

void TMainForm::SeekToEnd()
{
    Navigator->SeekTo(FilterGraph->SourceLength() / 1000.0);
}

// ---- size from the font

void TMainForm::FitLayoutToFont()
{
    // The layout is drawn for a font of about 9 points. With a larger one every region grows
    // by the same factor, so each caption, time and profile name fits and the regions keep
    // their places.
    // Style sheets give some controls their fonts: measure with those.
    for (QWidget* w : findChildren<QWidget*>())
        w->ensurePolished();
    double k = 1.0;
    const auto need = [&k](const QWidget* w, QSize wanted) {
        if (w->width() > 0)
            k = std::max(k, double(wanted.width()) / w->width());
        if (w->height() > 0)
            k = std::max(k, double(wanted.height()) / w->height());
    };
    const auto textWidth = [](const QWidget* w, const QString& text) {
        return w->fontMetrics().horizontalAdvance(text);
    };
    for (QLabel* l : findChildren<QLabel*>()) {
        if (l == labStart || l == labEnd || !l->pixmap().isNull() || l->text().isEmpty())
            continue; // marks size themselves; pictures are scaled
        need(l, l->sizeHint());
    }
    // A button's caption is cut when it is wider than the button less its frame and padding
    // (and, beside it, its picture).
    for (QToolButton* b : findChildren<QToolButton*>())
        need(b, QSize(textWidth(b, b->text()) + 10, b->iconSize().height() + b->fontMetrics().height() + 10));
    for (QPushButton* b : findChildren<QPushButton*>()) {
        if (b->isFlat()) // a caption without a frame (Tracks): its text is all it needs
            need(b, QSize(textWidth(b, b->text()) + 8, b->fontMetrics().height()));
        else
            need(b, QSize(textWidth(b, b->text()) + b->iconSize().width() + 18, b->sizeHint().height()));
    }
    for (QRadioButton* b : findChildren<QRadioButton*>())
        need(b, b->sizeHint());
    need(cmbProfile, cmbProfile->sizeHint());
    // Texts that come later: the length label's two forms, a mark to the millisecond,
    // progress and times.
    const int frame = 12; // a field's frame and inner margins
    need(labLength, QSize(std::max(textWidth(labLength, QLatin1String("The End Time should be later than the Start Time.")),
                                   textWidth(labLength, QLatin1String("The length of the marked rang is 00:00:00.000"))),
                          labLength->sizeHint().height()));
    for (QLineEdit* e : {edtStart, edtEnd})
        need(e, QSize(textWidth(e, QStringLiteral("00:00:00.000")) + frame, e->sizeHint().height()));
    need(edtSectionQty, QSize(textWidth(edtSectionQty, QStringLiteral("9999")) + frame, edtSectionQty->sizeHint().height()));
    for (QLineEdit* e : {edtSource, edtOutputDir})
        need(e, QSize(e->width(), e->sizeHint().height()));
    for (QLabel* l : {labCurProgress, labTotalProgress})
        need(l, QSize(textWidth(l, QStringLiteral("100%")) + 2, l->height()));
    need(labCurrent, QSize(textWidth(labCurrent, QStringLiteral("00:00:00.000")) + 2, labCurrent->height()));
    for (QLabel* l : {labElapsed, labRemaining})
        need(l, QSize(textWidth(l, QStringLiteral("000:00:00")) + 2, l->fontMetrics().height()));
    need(labProcessing, QSize(textWidth(labProcessing, QStringLiteral("Splitting: Section 999")),
                              labProcessing->fontMetrics().height()));

    // A hair over is rounding, not a caption that would be cut.
    if (k < 1.005)
        return;
    LayoutScale = k;
    // Edges are scaled, not sizes, so controls that meet still meet.
    const auto scaled = [k](const QRect& r) {
        const QPoint topLeft(qRound(r.x() * k), qRound(r.y() * k));
        const QPoint end(qRound((r.x() + r.width()) * k), qRound((r.y() + r.height()) * k));
        return QRect(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y()));
    };
    // The form's own layout: the regions and what lies on them, not the inner parts of a
    // combo box, a field or the video surface.
    const QList<QWidget*> containers = {this, panToolbar, panLeft, panRight, panProgress, panbanner};
    for (QWidget* parent : containers) {
        for (QWidget* w : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (w->isWindow())
                continue;
            if (w == imgStart || w == imgCancel) {
                // The faces are pictures of a fixed size: centred where the layout puts them.
                const QRect r = scaled(w->geometry());
                w->move(r.center() - QPoint(w->width() / 2, w->height() / 2));
                continue;
            }
            w->setGeometry(scaled(w->geometry()));
        }
    }
    resize(qRound(width() * k), qRound(height() * k));
}
