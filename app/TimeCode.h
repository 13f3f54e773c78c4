#pragma once
#include <QString>
#include <optional>

// Times are shown as HH:MM:SS and typed as HH:MM:SS, MM:SS or seconds. Formatting drops
// fractions (never rounds);
// parsing returns seconds, or exactly -1 for a text that is no time code.
QString FormatTimeCode(double seconds);

// A typed time: HH:MM:SS, MM:SS or plain seconds, each with an optional fraction of the
// seconds ("01:02:03.5", "90:00", "5.5"). Parts are not limited (00:90:00 is 5400 s) and may
// carry a sign; the seconds may carry an exponent.
struct TypedTime {
    int parts = 1; // 3: hours, minutes, seconds; 2: minutes, seconds; 1: seconds
    qint64 hours = 0;
    qint64 minutes = 0;
    double seconds = 0;
    double Total() const { return double(3600 * hours + 60 * minutes) + seconds; }
};
// decimalSeparator: the character the seconds may use for their fraction; a null QChar
// means the system locale's. Nothing for a text that is no time.
std::optional<TypedTime> ReadTypedTime(const QString& text, QChar decimalSeparator = QChar());

// The forms a time field accepts, for the tool tip of one whose text cannot be read.
inline QString AcceptedTimeForms()
{
    return QStringLiteral("seconds (90 or 5.5), MM:SS (01:30) or HH:MM:SS.mmm (00:01:30.500)");
}

// ReadTypedTime's total, or exactly -1 for a text that is no time.
double ParseTimeCode(const QString& text, QChar decimalSeparator = QChar());

// The position of the picture shown: always HH:MM:SS with milliseconds (rounded to the
// nearest), never negative.
QString FormatPositionTime(double seconds, QChar decimalSeparator = QChar());

// A mark's time to the millisecond: HH:MM:SS for whole seconds, HH:MM:SS.mmm otherwise
// (rounded to the nearest millisecond). The fraction uses the given separator (null: the
// user's), so the text reads back through ParseTimeCode.
QString FormatExactTimeCode(double seconds, QChar decimalSeparator = QChar());

// A time code that ParseTimeCode reads back as exactly `seconds` (all the seconds in the
// last part, with every digit a double needs). For handing an exact time on as text.
QString LosslessTimeCode(double seconds, QChar decimalSeparator = QChar());

// The user's decimal separator (system locale).
QChar UserDecimalSeparator();
