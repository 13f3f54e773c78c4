#include "preview/RangeMath.h"
#include "app/TimeCode.h"
#include <cmath>
#include <limits>

const char* const kRangeLengthPrefix = "The length of the marked rang is ";
const char* const kRangeOrderError = "The End Time should be later than the Start Time.";

int RoundHalfEvenInt(double x)
{
    if (std::isnan(x))
        return 0;
    constexpr double lo = double(std::numeric_limits<int>::min());
    constexpr double hi = double(std::numeric_limits<int>::max());
    if (x <= lo)
        return std::numeric_limits<int>::min();
    if (x >= hi)
        return std::numeric_limits<int>::max();
    const double f = std::floor(x);
    const double rest = x - f;
    double r = f;
    if (rest > 0.5)
        r = f + 1;
    else if (rest == 0.5)
        r = std::fmod(f, 2.0) == 0.0 ? f : f + 1;
    return int(r);
}

static double Share(int barWidth, int sel, int max)
{
    if (max == 0)
        return sel <= 0 ? 0.0 : double(barWidth);
    return double(barWidth) * double(sel) / double(max);
}

int StartMarkLeft(int barLeft, int barWidth, int selStart, int max)
{
    return RoundHalfEvenInt(double(barLeft) + Share(barWidth, selStart, max));
}

int EndMarkLeft(int barLeft, int barWidth, int selEnd, int max, int markWidth)
{
    return RoundHalfEvenInt(double(barLeft) + Share(barWidth, selEnd, max) - double(markWidth));
}

bool MarksOverlap(int startLeft, int startWidth, int endLeft, int endWidth)
{
    const bool apart = qint64(startLeft) + startWidth < endLeft || qint64(endLeft) + endWidth < startLeft;
    return !apart;
}

QString RangeLengthText(int selStart, int selEnd, double lengthSeconds)
{
    if (selStart < selEnd)
        return QLatin1String(kRangeLengthPrefix) + FormatTimeCode(lengthSeconds);
    return QLatin1String(kRangeOrderError);
}

QString MarkedLengthText(double start, double end)
{
    if (start < end)
        return QLatin1String(kRangeLengthPrefix) + FormatExactTimeCode(end - start);
    return QLatin1String(kRangeOrderError);
}

int KeepInside(int left, int width, int areaWidth)
{
    return int(qBound(qint64(0), qint64(left), qMax(qint64(0), qint64(areaWidth) - width)));
}

int TickStep(int frequency, int hour, qint64 range, int pixels)
{
    if (range <= 0 || pixels <= 0)
        return 0;
    for (const int step : {frequency, hour}) {
        if (step <= 0)
            continue;
        // Spacing in pixels: pixels * step / range, compared without rounding.
        if (qint64(pixels) * step >= qint64(kMinTickSpacing) * range)
            return step;
    }
    return 0;
}
