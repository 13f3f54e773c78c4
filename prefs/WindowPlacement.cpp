#include "prefs/WindowPlacement.h"
#include "prefs/PreferencesStore.h"

#include <algorithm>
#include <limits>

namespace {
const QString kWindow = QStringLiteral("Window");
// Far beyond any desktop; a larger number is a damaged or hostile file, not a window.
constexpr qint32 kLimit = 100000;
// How much of the window's top must show on a screen for the stored place to be kept.
constexpr int kGrabWidth = 64;
constexpr int kGrabHeight = 24;
} // namespace

WindowPlacement ReadWindowPlacement(const PreferencesStore& store)
{
    constexpr qint32 missing = std::numeric_limits<qint32>::min();
    const qint32 left = store.GetInteger(kWindow, QStringLiteral("Left"), missing);
    const qint32 top = store.GetInteger(kWindow, QStringLiteral("Top"), missing);
    const qint32 width = store.GetInteger(kWindow, QStringLiteral("Width"), missing);
    const qint32 height = store.GetInteger(kWindow, QStringLiteral("Height"), missing);
    WindowPlacement p;
    const auto inRange = [](qint32 v, qint32 low) { return v >= low && v <= kLimit; };
    if (!inRange(left, -kLimit) || !inRange(top, -kLimit) || !inRange(width, 1) || !inRange(height, 1))
        return p;
    p.geometry = QRect(left, top, width, height);
    p.maximized = store.GetFlag(kWindow, QStringLiteral("Maximized"), false);
    return p;
}

void WriteWindowPlacement(PreferencesStore& store, const WindowPlacement& placement)
{
    if (!placement.IsStored())
        return;
    store.PutInteger(kWindow, QStringLiteral("Left"), placement.geometry.x());
    store.PutInteger(kWindow, QStringLiteral("Top"), placement.geometry.y());
    store.PutInteger(kWindow, QStringLiteral("Width"), placement.geometry.width());
    store.PutInteger(kWindow, QStringLiteral("Height"), placement.geometry.height());
    store.PutFlag(kWindow, QStringLiteral("Maximized"), placement.maximized);
}

QRect FitWindowPlacement(const WindowPlacement& stored, QSize minimum, const QList<QRect>& screens,
                         const QRect& primary)
{
    if (!stored.IsStored())
        return QRect();
    QRect r = stored.geometry;
    // The screen the window's top lies on, if any.
    const QRect grab(r.x(), r.y(), std::min(r.width(), kGrabWidth * 4), kGrabHeight);
    QRect home;
    for (const QRect& s : screens) {
        const QRect shared = s.intersected(grab);
        if (shared.width() >= std::min(kGrabWidth, grab.width()) && shared.height() >= kGrabHeight) {
            home = s;
            break;
        }
    }
    const QRect area = home.isValid() ? home : primary;
    // At least the smallest size; no larger than the screen unless the smallest size is.
    r.setWidth(std::max(minimum.width(), std::min(r.width(), area.width())));
    r.setHeight(std::max(minimum.height(), std::min(r.height(), area.height())));
    if (!home.isValid()) {
        r.moveCenter(primary.center());
        return r;
    }
    // Kept on its screen where it now fits, e.g. after the desktop shrank.
    if (r.right() > area.right())
        r.moveRight(area.right());
    if (r.bottom() > area.bottom())
        r.moveBottom(area.bottom());
    if (r.left() < area.left())
        r.moveLeft(area.left());
    if (r.top() < area.top())
        r.moveTop(area.top());
    return r;
}
