#include "app/TimeCode.h"
#include "switches/ProfileSwitches.h"
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

QChar UserDecimalSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    return point.isEmpty() ? QLatin1Char('.') : point.at(0);
}

namespace {

QString TwoDigits(qint64 v)
{
    // A negative part keeps its sign in front of the zero-filled digits: -01, not 0-1.
    const QString digits = QString::number(v < 0 ? -v : v).rightJustified(2, QLatin1Char('0'));
    return v < 0 ? QLatin1Char('-') + digits : digits;
}

bool IsBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }
bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Hours and minutes: leading blanks, optional sign, decimal digits, nothing else.
// Values beyond 32 bits are refused, so the caller's arithmetic cannot overflow.
bool ReadWhole(const QString& text, qint64& out)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && IsBlank(text.at(i)))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i == n)
        return false;
    qint64 value = 0;
    for (; i < n; ++i) {
        if (!IsDigit(text.at(i)))
            return false;
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return false;
    }
    out = negative ? -value : value;
    return out >= std::numeric_limits<qint32>::min() && out <= std::numeric_limits<qint32>::max();
}

// Seconds: blanks around, optional sign, digits with an optional fraction after the
// given separator, an optional exponent. The text is rebuilt with "." so the
// conversion itself does not depend on any locale.
bool ReadDecimal(const QString& text, QChar separator, double& out)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && IsBlank(text.at(i)))
        ++i;
    QByteArray plain;
    if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        plain += char(text.at(i++).unicode());
    int mantissaDigits = 0;
    // Decimal position of the first non-zero digit (1 for the units), to tell a value
    // too small for a double from one too large.
    qint64 magnitude = 0;
    bool nonZero = false;
    while (i < n && IsDigit(text.at(i))) {
        nonZero = nonZero || text.at(i) != QLatin1Char('0');
        if (nonZero)
            ++magnitude;
        plain += char(text.at(i++).unicode());
        ++mantissaDigits;
    }
    if (i < n && text.at(i) == separator) {
        plain += '.';
        ++i;
        while (i < n && IsDigit(text.at(i))) {
            nonZero = nonZero || text.at(i) != QLatin1Char('0');
            if (!nonZero)
                --magnitude;
            plain += char(text.at(i++).unicode());
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    qint64 exponent = 0;
    if (i < n && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        plain += 'e';
        ++i;
        bool negativeExponent = false;
        if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
            negativeExponent = text.at(i) == QLatin1Char('-');
            plain += char(text.at(i++).unicode());
        }
        int exponentDigits = 0;
        while (i < n && IsDigit(text.at(i))) {
            exponent = qMin<qint64>(exponent * 10 + (text.at(i).unicode() - '0'), 1'000'000'000);
            plain += char(text.at(i++).unicode());
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return false;
        if (negativeExponent)
            exponent = -exponent;
    }
    while (i < n && IsBlank(text.at(i)))
        ++i;
    if (i != n)
        return false;
    bool ok = false;
    out = plain.toDouble(&ok);
    if (ok)
        return std::isfinite(out);
    // The syntax is sound, so the number is out of a double's range: a value too small
    // to hold is zero seconds; one too large gives no usable time.
    out = 0;
    return magnitude + exponent < 0;
}

} // namespace

QString FormatTimeCode(double seconds)
{
    // Out-of-range and NaN inputs would make the conversion undefined; pin them.
    qint64 t = 0;
    if (std::isnan(seconds))
        t = 0;
    else if (seconds >= 9.2e18)
        t = std::numeric_limits<qint64>::max();
    else if (seconds <= -9.2e18)
        t = std::numeric_limits<qint64>::min() + 1;
    else
        t = static_cast<qint64>(std::trunc(seconds));
    const qint64 h = t / 3600;
    const qint64 m = (t - 3600 * h) / 60;
    const qint64 s = t - 3600 * h - 60 * m;
    return TwoDigits(h) + QLatin1Char(':') + TwoDigits(m) + QLatin1Char(':') + TwoDigits(s);
}

std::optional<TypedTime> ReadTypedTime(const QString& text, QChar decimalSeparator)
{
    const QChar separator = decimalSeparator.isNull() ? UserDecimalSeparator() : decimalSeparator;
    // Up to two ":" split the text; whatever follows the second belongs to the seconds,
    // where a further ":" makes it unreadable.
    QStringList parts;
    qsizetype from = 0;
    for (int i = 0; i < 2; ++i) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'), from);
        if (colon < 0)
            break;
        parts << text.mid(from, colon - from);
        from = colon + 1;
    }
    parts << text.mid(from);

    TypedTime t;
    t.parts = int(parts.size());
    const QString& secondsPart = parts.last();
    // A fraction without its whole part is no time (a stray point is too easily typed).
    if (secondsPart.startsWith(QLatin1Char('.')))
        return std::nullopt;
    if (!ReadDecimal(secondsPart, separator, t.seconds))
        return std::nullopt;
    if (t.parts >= 2 && !ReadWhole(parts.at(t.parts - 2), t.minutes))
        return std::nullopt;
    if (t.parts == 3 && !ReadWhole(parts.at(0), t.hours))
        return std::nullopt;
    // Hours and minutes are added as one 32-bit whole number; anything larger is no time.
    const qint64 whole = 3600 * t.hours + 60 * t.minutes;
    if (whole < std::numeric_limits<qint32>::min() || whole > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return t;
}

double ParseTimeCode(const QString& text, QChar decimalSeparator)
{
    const std::optional<TypedTime> t = ReadTypedTime(text, decimalSeparator);
    return t ? t->Total() : -1;
}

QString FormatPositionTime(double seconds, QChar decimalSeparator)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const qint64 totalMs = std::llround(std::min(seconds, 9.0e12) * 1000.0);
    const qint64 whole = totalMs / 1000;
    const QChar separator = decimalSeparator.isNull() ? UserDecimalSeparator() : decimalSeparator;
    return FormatTimeCode(double(whole)) + separator + QString::number(totalMs % 1000).rightJustified(3, QLatin1Char('0'));
}

QString FormatExactTimeCode(double seconds, QChar decimalSeparator)
{
    if (std::isnan(seconds))
        return FormatTimeCode(0);
    // Beyond this a millisecond count no longer fits; such times carry no fraction anyway.
    constexpr double limit = 9.0e15;
    if (seconds >= limit / 1000 || seconds <= -limit / 1000)
        return FormatTimeCode(seconds);
    const qint64 totalMs = std::llround(seconds * 1000.0);
    if (totalMs % 1000 == 0)
        return FormatTimeCode(double(totalMs / 1000));
    const QChar separator = decimalSeparator.isNull() ? UserDecimalSeparator() : decimalSeparator;
    if (totalMs > 0) {
        QString text = QString::fromStdString(vt_switches::FormatClock(double(totalMs) / 1000.0));
        text[text.size() - 4] = separator; // the point before the milliseconds
        return text;
    }
    const qint64 whole = totalMs / 1000; // toward zero, as the whole-second form does
    const qint64 ms = totalMs < 0 ? -(totalMs % 1000) : totalMs % 1000;
    const qint64 h = whole / 3600;
    const qint64 m = (whole - 3600 * h) / 60;
    const qint64 s = whole - 3600 * h - 60 * m;
    // The seconds carry the sign of the whole time, so a time under one second keeps it.
    const QString secondsPart = (totalMs < 0 ? QStringLiteral("-") : QString())
        + QString::number(s < 0 ? -s : s).rightJustified(2, QLatin1Char('0')) + separator
        + QString::number(ms).rightJustified(3, QLatin1Char('0'));
    return TwoDigits(h) + QLatin1Char(':') + TwoDigits(m) + QLatin1Char(':') + secondsPart;
}

QString LosslessTimeCode(double seconds, QChar decimalSeparator)
{
    if (!std::isfinite(seconds))
        return FormatTimeCode(seconds);
    const QChar separator = decimalSeparator.isNull() ? UserDecimalSeparator() : decimalSeparator;
    QString digits = QString::number(seconds, 'g', 17);
    digits.replace(QLatin1Char('.'), separator);
    return QStringLiteral("00:00:") + digits;
}
