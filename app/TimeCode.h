#pragma once
#include <QString>

// Times are shown and typed as HH:MM:SS. Formatting drops fractions (never rounds);
// parsing returns seconds, or exactly -1 for a text that is no time code.
QString FormatTimeCode(double seconds);

// decimalSeparator: the character the seconds part may use for its fraction;
// a null QChar means the system locale's.
double ParseTimeCode(const QString& text, QChar decimalSeparator = QChar());

// A mark's time to the millisecond: HH:MM:SS for whole seconds, HH:MM:SS.mmm otherwise
// (rounded to the nearest millisecond). The fraction uses the given separator (null: the
// user's), so the text reads back through ParseTimeCode.
QString FormatExactTimeCode(double seconds, QChar decimalSeparator = QChar());

// A time code that ParseTimeCode reads back as exactly `seconds` (all the seconds in the
// last part, with every digit a double needs). For handing an exact time on as text.
QString LosslessTimeCode(double seconds, QChar decimalSeparator = QChar());

// The user's decimal separator (system locale).
QChar UserDecimalSeparator();
