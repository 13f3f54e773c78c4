// The main window's frame: the regions follow the window's size, the preview can fill the
// screen, and the window opens where it was last closed.
//
// The smallest size is the form as drawn (scaled to the font); every pixel beyond it goes
// to the picture, so at that size the window looks exactly as it always did. The
// controls under the picture keep their order and move down with it; the job region keeps
// its width, its fields stay at the top and the Split/Stop faces at the bottom.
#include "app/Dialogs.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "app/Navigation.h"
#include "prefs/PreferencesStore.h"
#include "prefs/WindowPlacement.h"
#include "preview/DSTrackBar.h"
#include "preview/VideoWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <cmath>

namespace {

// How a control follows the window's growth beyond its smallest size.
enum class Grow { None, Picture, All }; // not at all; as the picture grows; as the window

struct TAnchor {
    QPointer<QWidget> w;
    QRect base;
    double moveX = 0;  // share of the extra width it moves right by
    bool widen = false; // takes the extra width
    Grow moveY = Grow::None;
    Grow heighten = Grow::None;
};

// A background picture drawn for the smallest size and cut into bands: each band keeps its
// pixels or is stretched by the growth it is tied to, so frames, corners and the logo keep
// their shapes at any size.
enum class Band { Fixed, Width, Picture, Strips, All };

struct TBackdrop {
    QPointer<QLabel> label;
    QPixmap original;
    QSize base;
    QVector<int> xCuts; // inner edges of the columns, in the picture as drawn at the smallest size
    QVector<Band> columns;
    QVector<int> yCuts;
    QVector<Band> rows;
};

QPixmap Restretch(const TBackdrop& b, const std::function<int(Band)>& growth)
{
    const QImage base = b.original.toImage().scaled(b.base, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const auto edges = [](int size, const QVector<int>& cuts) {
        QVector<int> e{0};
        e += cuts;
        e << size;
        return e;
    };
    const QVector<int> xs = edges(b.base.width(), b.xCuts);
    const QVector<int> ys = edges(b.base.height(), b.yCuts);
    int width = 0, height = 0;
    for (int i = 0; i + 1 < xs.size(); ++i)
        width += xs[i + 1] - xs[i] + growth(b.columns.value(i));
    for (int j = 0; j + 1 < ys.size(); ++j)
        height += ys[j + 1] - ys[j] + growth(b.rows.value(j));
    QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    // Nearest pixels: a stretched band never takes colour from its neighbour.
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    int ty = 0;
    for (int j = 0; j + 1 < ys.size(); ++j) {
        const int sh = ys[j + 1] - ys[j];
        const int th = sh + growth(b.rows.value(j));
        int tx = 0;
        for (int i = 0; i + 1 < xs.size(); ++i) {
            const int sw = xs[i + 1] - xs[i];
            const int tw = sw + growth(b.columns.value(i));
            p.drawImage(QRect(tx, ty, tw, th), base, QRect(xs[i], ys[j], sw, sh));
            tx += tw;
        }
        ty += th;
    }
    p.end();
    return QPixmap::fromImage(out);
}

struct TStrip {
    QPointer<QWidget> w;
    int height = 0; // at the default font
};

} // namespace

class TMainFrame : public QObject {
public:
    explicit TMainFrame(TMainForm* form) : QObject(form), f(form) {}

    void Record()
    {
        base = f->size();
        const auto add = [this](QWidget* w, double moveX, bool widen, Grow moveY, Grow heighten) {
            anchors.append({w, w->geometry(), moveX, widen, moveY, heighten});
        };
        add(f->panToolbar, 0, true, Grow::None, Grow::None);
        add(f->Image1, 0, true, Grow::None, Grow::None);
        add(f->panLeft, 0, true, Grow::None, Grow::All);
        add(f->Image2, 0, true, Grow::None, Grow::All);
        for (QWidget* w : {static_cast<QWidget*>(f->VideoWindow), f->panbanner, static_cast<QWidget*>(f->imgBanner)})
            add(w, 0, true, Grow::None, Grow::Picture);
        add(f->labProgramName, 1, false, Grow::Picture, Grow::None);
        add(f->tkbProgress, 0, true, Grow::Picture, Grow::None);
        add(f->labCurrent, 1, false, Grow::Picture, Grow::None);
        add(f->labLeft, 0, false, Grow::Picture, Grow::None);
        add(f->labMiddle, 0.5, false, Grow::Picture, Grow::None);
        add(f->labRight, 1, false, Grow::Picture, Grow::None);
        for (QToolButton* b : {f->sbtnPlayPreview, f->sbtnPausePreview, f->sbtnStopPreview, f->sbtnSelStart,
                               f->sbtnSelEnd, f->sbtnErase})
            add(b, 0, false, Grow::All, Grow::None);
        add(f->panRight, 1, false, Grow::None, Grow::All);
        add(f->Image4, 0, false, Grow::None, Grow::All);
        add(f->imgStart, 0, false, Grow::All, Grow::None);
        add(f->imgCancel, 0, false, Grow::All, Grow::None);
        // The queue's buttons flank the Split face and go down with it.
        for (QWidget* w : {static_cast<QWidget*>(f->btnAddToQueue), static_cast<QWidget*>(f->btnQueue)})
            if (w)
                add(w, 0, false, Grow::All, Grow::None);
        add(f->panProgress, 0, false, Grow::None, Grow::All);
        add(f->imgProgressBack, 0, false, Grow::None, Grow::All);
        const double k = f->LayoutScale;
        const auto at = [k](int x) { return qRound(x * k); };
        const auto backdrop = [this](QLabel* l, QVector<int> xCuts, QVector<Band> columns, QVector<int> yCuts,
                                     QVector<Band> rows) {
            backdrops.append({l, l->pixmap(), l->size(), xCuts, columns, yCuts, rows});
        };
        // The logo stays at the right; the plain middle of the bar widens.
        backdrop(f->Image1, {at(420), at(580)}, {Band::Fixed, Band::Width, Band::Fixed}, {}, {Band::Fixed});
        // The picture's frame grows with it; the bar's and the buttons' frames keep their
        // heights, with the strips' room between them.
        backdrop(f->Image2, {at(240), at(440)}, {Band::Fixed, Band::Width, Band::Fixed},
                 {at(20), at(230), at(311), at(312)}, {Band::Fixed, Band::Picture, Band::Fixed, Band::Strips, Band::Fixed});
        // The fields' card grows down to the Split face's glow, which moves with the face.
        backdrop(f->Image4, {}, {Band::Fixed}, {at(250), at(260)}, {Band::Fixed, Band::All, Band::Fixed});
        backdrop(f->imgProgressBack, {}, {Band::Fixed}, {at(150), at(270)}, {Band::Fixed, Band::All, Band::Fixed});
        bannerPicture = f->imgBanner->pixmap();
        markTop = f->labStart->y();
        stripTop = at(311);
        stripMargin = f->VideoWindow->x();
        jobStripTop = f->bbtnBrowse->geometry().bottom() + 1 + qRound(8 * f->LayoutScale);
        jobStripLeft = f->edtSource->x();
        faceTop = f->imgStart->y();
    }

    int StripsHeight(const QList<TStrip>& strips) const
    {
        int h = 0;
        for (const TStrip& s : strips)
            if (s.w && !s.w->isHidden())
                h += Height(s);
        return h;
    }

    int Height(const TStrip& s) const { return qRound(s.height * f->LayoutScale); }

    QSize Minimum() const
    {
        return base + QSize(0, std::max(StripsHeight(previewStrips), StripsHeight(jobStrips)));
    }

    void Arrange()
    {
        if (!base.isValid())
            return; // not set up yet
        if (full) {
            f->panLeft->setGeometry(f->rect());
            f->Image2->setGeometry(f->panLeft->rect());
            f->VideoWindow->setGeometry(f->panLeft->rect());
            return;
        }
        const int dw = std::max(0, f->width() - base.width());
        const int dh = std::max(0, f->height() - base.height());
        const int left = StripsHeight(previewStrips);
        const int picture = std::max(0, dh - left);
        const auto grow = [&](Grow g) { return g == Grow::All ? dh : g == Grow::Picture ? picture : 0; };
        for (const TAnchor& a : std::as_const(anchors)) {
            if (!a.w)
                continue;
            a.w->setGeometry(a.base.x() + qRound(a.moveX * dw), a.base.y() + grow(a.moveY),
                             a.base.width() + (a.widen ? dw : 0), a.base.height() + grow(a.heighten));
        }
        // The frame number sits on the scale's row, which has only now reached its place.
        if (f->Navigator)
            f->Navigator->PlaceFrameLabel();
        // The marks lie under the bar at their places on it.
        f->labStart->move(f->labStart->x(), markTop + picture);
        f->labEnd->move(f->labEnd->x(), markTop + picture);
        if (!f->labStart->isHidden())
            f->PlaceStartMark();
        if (!f->labEnd->isHidden())
            f->PlaceEndMark();

        const auto growth = [&](Band b) {
            switch (b) {
            case Band::Width: return dw;
            case Band::Picture: return picture;
            case Band::Strips: return left;
            case Band::All: return dh;
            case Band::Fixed: break;
            }
            return 0;
        };
        for (const TBackdrop& b : std::as_const(backdrops))
            if (b.label)
                b.label->setPixmap(dw == 0 && dh == 0 ? b.original : Restretch(b, growth));
        // The banner keeps its shape: it covers the picture's place and is cut at the sides.
        if ((dw == 0 && picture == 0) || f->imgBanner->size().isEmpty()) {
            f->imgBanner->setPixmap(bannerPicture);
        } else {
            const QSize size = f->imgBanner->size();
            const QPixmap cover = bannerPicture.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
            f->imgBanner->setPixmap(cover.copy(QRect(QPoint((cover.width() - size.width()) / 2,
                                                             (cover.height() - size.height()) / 2),
                                                      size)));
        }

        int y = stripTop + picture;
        for (const TStrip& s : std::as_const(previewStrips)) {
            if (!s.w || s.w->isHidden())
                continue;
            s.w->setGeometry(stripMargin, y, f->panLeft->width() - 2 * stripMargin, Height(s));
            y += Height(s);
        }
        const int jobBottom = faceTop + dh - qRound(8 * f->LayoutScale);
        const int jobWidth = f->panRight->width() - 2 * jobStripLeft;
        const int shares = int(std::count_if(jobStrips.cbegin(), jobStrips.cend(),
                                             [](const TStrip& s) { return s.w && !s.w->isHidden(); }));
        if (shares > 0) {
            // The extra height is shared out evenly on top of each strip's own.
            const int extra = std::max(0, jobBottom - jobStripTop - StripsHeight(jobStrips)) / shares;
            int top = jobStripTop;
            for (const TStrip& s : std::as_const(jobStrips)) {
                if (!s.w || s.w->isHidden())
                    continue;
                s.w->setGeometry(jobStripLeft, top, jobWidth, Height(s) + extra);
                top += Height(s) + extra;
            }
        }
    }

    void SetFullScreen(bool on)
    {
        if (on == full || (on && !f->SourceLoaded))
            return;
        if (on) {
            stateBefore = f->windowState() & ~Qt::WindowFullScreen;
            // The keys stay with the window; a control hidden with the focus would lose them.
            f->VideoWindow->setFocus(Qt::OtherFocusReason);
            hidden.clear();
            QList<QWidget*> cover = {f->panToolbar, f->panRight};
            for (QWidget* w : f->panLeft->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                if (w != f->VideoWindow && w != f->Image2)
                    cover << w;
            for (QWidget* w : cover) {
                if (!w->isHidden()) {
                    w->hide();
                    hidden << w;
                }
            }
            full = true;
            // Above what the keys may show meanwhile (a mark pressed with I).
            f->VideoWindow->raise();
            f->setMinimumSize(0, 0);
            f->setWindowState(stateBefore | Qt::WindowFullScreen);
            f->show();
            Arrange();
        } else {
            full = false;
            f->VideoWindow->stackUnder(f->panbanner);
            for (const QPointer<QWidget>& w : std::as_const(hidden))
                if (w)
                    w->show();
            hidden.clear();
            f->setWindowState(stateBefore);
            f->setMinimumSize(Minimum());
            Arrange();
        }
        leave->setEnabled(full);
    }

    TMainForm* f;
    QSize base;
    QList<TAnchor> anchors;
    QList<TBackdrop> backdrops;
    QPixmap bannerPicture;
    QList<TStrip> previewStrips;
    QList<TStrip> jobStrips;
    int markTop = 0;
    int stripTop = 0;
    int stripMargin = 0;
    int jobStripTop = 0;
    int jobStripLeft = 0;
    int faceTop = 0;
    bool full = false;
    Qt::WindowStates stateBefore;
    QList<QPointer<QWidget>> hidden;
    QShortcut* leave = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched == f->VideoWindow && e->type() == QEvent::MouseButtonDblClick
            && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
            SetFullScreen(!full);
            return true;
        }
        // The desktop took the window out of full screen (its own keys, another window).
        if (watched == f && e->type() == QEvent::WindowStateChange && full
            && !(f->windowState() & Qt::WindowFullScreen))
            SetFullScreen(false);
        return QObject::eventFilter(watched, e);
    }
};

void TMainForm::SetupFrame()
{
    if (!m_frame) // strips may have come first
        m_frame = new TMainFrame(this);
    m_frame->Record();
    setMinimumSize(m_frame->Minimum());
    VideoWindow->installEventFilter(m_frame);
    installEventFilter(m_frame);

    // F and a double click on the picture fill the screen with it; Esc (or F) comes back.
    // The player's keys are the window's, so they act there as well.
    auto* toggle = new QShortcut(QKeySequence(Qt::Key_F), this);
    toggle->setAutoRepeat(false);
    connect(toggle, &QShortcut::activated, this, [this] { RunGuarded([this] { ToggleFullScreen(); }); });
    m_frame->leave = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_frame->leave->setAutoRepeat(false);
    m_frame->leave->setEnabled(false);
    connect(m_frame->leave, &QShortcut::activated, this, [this] { RunGuarded([this] { SetFullScreen(false); }); });
    Shortcuts << toggle << m_frame->leave;
    VideoWindow->setToolTip(QStringLiteral("Double click or F: full screen; Esc leaves it"));
}

QSize TMainForm::SmallestSize() const
{
    return m_frame ? m_frame->Minimum() : size();
}

void TMainForm::AddPreviewStrip(QWidget* strip, int height)
{
    if (!m_frame)
        m_frame = new TMainFrame(this);
    strip->setParent(panLeft);
    m_frame->previewStrips.append({strip, height});
    strip->show();
    AfterStripsChanged();
}

void TMainForm::AddJobStrip(QWidget* strip, int minHeight)
{
    strip->setParent(panRight);
    // Under the progress panel, which covers the job fields while a job runs.
    strip->stackUnder(panProgress);
    if (!m_frame)
        m_frame = new TMainFrame(this);
    m_frame->jobStrips.append({strip, minHeight});
    strip->show();
    AfterStripsChanged();
}

void TMainForm::AfterStripsChanged()
{
    if (!m_frame || m_frame->full || !m_frame->base.isValid())
        return; // placed once the frame is set up
    const QSize least = m_frame->Minimum();
    setMinimumSize(least);
    // The window grows by what it now needs, so the picture keeps its size.
    if (width() < least.width() || height() < least.height())
        resize(std::max(width(), least.width()), std::max(height(), least.height()));
    m_frame->Arrange();
}

bool TMainForm::IsFullScreen() const
{
    return m_frame && m_frame->full;
}

void TMainForm::SetFullScreen(bool on)
{
    m_frame->SetFullScreen(on);
}

void TMainForm::ToggleFullScreen()
{
    m_frame->SetFullScreen(!m_frame->full);
}

void TMainForm::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (m_frame)
        m_frame->Arrange();
}

bool TMainForm::RestorePlacement()
{
    const WindowPlacement stored = ReadWindowPlacement(PreferencesStore(Paths));
    QList<QRect> screens;
    for (QScreen* s : QGuiApplication::screens())
        screens << s->availableGeometry();
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect r = FitWindowPlacement(stored, minimumSize(), screens, primary ? primary->availableGeometry() : QRect());
    if (r.isNull())
        return false;
    setGeometry(r);
    if (stored.maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
    m_placed = true;
    return true;
}

void TMainForm::SavePlacement()
{
    if (!m_shownOnce)
        return; // never placed on a screen: nothing to remember
    WindowPlacement p;
    // The size to come back to: not the full screen's or the maximised one.
    p.geometry = (windowState() & (Qt::WindowFullScreen | Qt::WindowMaximized)) ? normalGeometry() : geometry();
    if (!p.geometry.isValid())
        p.geometry = geometry();
    p.maximized = (m_frame && m_frame->full ? m_frame->stateBefore : windowState()) & Qt::WindowMaximized;
    PreferencesStore store(Paths);
    WriteWindowPlacement(store, p);
}
