#pragma once
// Which stretch of the source the track bar and the strip under it show, and how zooming
// moves it. Times in microseconds.
#include <QtGlobal>

struct TimelineView {
    qint64 startUs = 0;
    qint64 spanUs = 0;
    qint64 endUs() const { return startUs + spanUs; }
    bool operator==(const TimelineView&) const = default;
};

namespace TimelineZoom {

// Pixels one picture takes at the closest zoom.
constexpr int kFramePixels = 12;
// One zoom step (a wheel notch, a + or a -) halves or doubles the stretch shown.
constexpr double kStep = 2.0;

TimelineView Whole(qint64 sourceUs);
// The shortest stretch shown on `widthPx` pixels: kFramePixels per picture, two pictures at
// least; a source without a known picture length zooms to a tenth of a second.
qint64 MinimumSpan(qint64 frameUs, int widthPx);
// The stretch scaled by `factor` (< 1 closer) around `anchorUs`, which keeps its place on
// the bar (an anchor outside the stretch is put in its middle). Between MinimumSpan and
// the whole source, and inside the source.
TimelineView Zoom(const TimelineView& view, qint64 anchorUs, double factor, qint64 sourceUs, qint64 minSpanUs);
// The stretch paged so that the position lies on it (a position that leaves it on the
// right starts the next page); an unchanged stretch when it already does.
TimelineView Follow(const TimelineView& view, qint64 positionUs, qint64 sourceUs);
bool IsWhole(const TimelineView& view, qint64 sourceUs);

// Pixel of a time on [left, left + width), and back (clamped to the stretch).
double XOfTime(const TimelineView& view, qint64 tUs, int left, int width);
qint64 TimeOfX(const TimelineView& view, double x, int left, int width);

} // namespace TimelineZoom
