#pragma once
#include <QString>

// Times are shown and typed as HH:MM:SS. Formatting drops fractions (never rounds);
// parsing returns seconds, or exactly -1 for a text that is no time code.
QString FormatTimeCode(double seconds);

// decimalSeparator: the character the seconds part may use for its fraction;
// a null QChar means the system locale's.
double ParseTimeCode(const QString& text, QChar decimalSeparator = QChar());

// The user's decimal separator (system locale).
QChar UserDecimalSeparator();
