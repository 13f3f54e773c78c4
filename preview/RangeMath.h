#pragma once
#include <QString>

// Arithmetic of the marked range and the preview's position display, apart from widgets.

// Nearest whole number, a half going to the even neighbour (10.5 -> 10, 11.5 -> 12);
// independent of the floating-point rounding mode, clamped to the int range.
int RoundHalfEvenInt(double x);

// Left edge of the start mark: B + W x selStart / Max, rounded half to even.
// With Max 0 a position at or before 0 stands at the bar's left edge, any later one at its
// right end; nothing divides by zero.
int StartMarkLeft(int barLeft, int barWidth, int selStart, int max);
// Left edge of the end mark, whose right edge stands at the end of the range.
int EndMarkLeft(int barLeft, int barWidth, int selEnd, int max, int markWidth);
// Whether two marks leave no gap between them (the end mark then goes lower).
bool MarksOverlap(int startLeft, int startWidth, int endLeft, int endWidth);
// Pixels the end mark drops below the start mark when the two would overlap.
constexpr int kOverlapDrop = 10;

// The length label: "The length of the marked rang is HH:MM:SS" when start < end,
// else the error text. length is in seconds (the fraction is dropped by the time code).
QString RangeLengthText(int selStart, int selEnd, double lengthSeconds);
inline QString RangeLengthText(int selStart, int selEnd)
{
    return RangeLengthText(selStart, selEnd, double(selEnd) - double(selStart));
}
extern const char* const kRangeLengthPrefix; // "The length of the marked rang is "
extern const char* const kRangeOrderError;   // "The End Time should be later than the Start Time."

// The length label from the exact marks (seconds): the length to the millisecond when
// start < end, else the error text.
QString MarkedLengthText(double start, double end);

// A left edge that keeps a label of `width` inside an area of `areaWidth` starting at 0
// (a label wider than the area stands at 0).
int KeepInside(int left, int width, int areaWidth);

// The scale of the position bar: the step, in positions, between the tick marks drawn
// inside a bar of `range` positions over `pixels`. Every `frequency` positions (a minute)
// while those stay at least kMinTickSpacing pixels apart, else every `hour` positions,
// else none (0).
int TickStep(int frequency, int hour, qint64 range, int pixels);
constexpr int kMinTickSpacing = 5;
