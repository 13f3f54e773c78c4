#include "preview/TimelineZoom.h"

#include <algorithm>
#include <cmath>

namespace TimelineZoom {

namespace {
TimelineView Inside(TimelineView v, qint64 sourceUs)
{
    sourceUs = std::max<qint64>(sourceUs, 1);
    v.spanUs = std::clamp<qint64>(v.spanUs, 1, sourceUs);
    v.startUs = std::clamp<qint64>(v.startUs, 0, sourceUs - v.spanUs);
    return v;
}
} // namespace

TimelineView Whole(qint64 sourceUs)
{
    return {0, std::max<qint64>(sourceUs, 1)};
}

bool IsWhole(const TimelineView& view, qint64 sourceUs)
{
    return view.startUs <= 0 && view.spanUs >= sourceUs;
}

qint64 MinimumSpan(qint64 frameUs, int widthPx)
{
    if (frameUs <= 0)
        return 100000;
    return std::max(2 * frameUs, frameUs * std::max(widthPx, 1) / kFramePixels);
}

TimelineView Zoom(const TimelineView& view, qint64 anchorUs, double factor, qint64 sourceUs, qint64 minSpanUs)
{
    const TimelineView v = Inside(view, sourceUs);
    if (!(factor > 0) || !std::isfinite(factor))
        return v;
    double share = double(anchorUs - v.startUs) / double(v.spanUs);
    if (share < 0 || share > 1) {
        share = 0.5;
    }
    const double wanted = std::round(double(v.spanUs) * factor);
    const qint64 lo = std::min(std::max<qint64>(minSpanUs, 1), std::max<qint64>(sourceUs, 1));
    const qint64 span = qint64(std::clamp(wanted, double(lo), double(std::max<qint64>(sourceUs, 1))));
    const qint64 start = anchorUs - qint64(std::llround(share * double(span)));
    return Inside({start, span}, sourceUs);
}

TimelineView Follow(const TimelineView& view, qint64 positionUs, qint64 sourceUs)
{
    TimelineView v = Inside(view, sourceUs);
    if (positionUs >= v.startUs && positionUs < v.endUs())
        return v;
    if (positionUs >= v.endUs() && positionUs < v.endUs() + v.spanUs)
        v.startUs = v.endUs(); // playing on: the next page
    else
        v.startUs = positionUs - v.spanUs / 2;
    return Inside(v, sourceUs);
}

double XOfTime(const TimelineView& view, qint64 tUs, int left, int width)
{
    if (view.spanUs <= 0)
        return left;
    return left + double(tUs - view.startUs) * width / double(view.spanUs);
}

qint64 TimeOfX(const TimelineView& view, double x, int left, int width)
{
    if (width <= 0)
        return view.startUs;
    const double t = view.startUs + (x - left) * double(view.spanUs) / width;
    return std::clamp<qint64>(std::llround(t), view.startUs, view.endUs());
}

} // namespace TimelineZoom
