#include "split/CommandLine.h"
#include "app/PathUtils.h"
#include "app/VtError.h"
#include "profiles/IniFile.h"
#include "profiles/ProfileFormat.h"
#include "switches/ProfileSwitches.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

// The decimal digits and exponent of |value| rounded to `significant` digits:
// value = 0.d1d2d3... x 10^(exponent). Returns false for a value that is no finite number.
bool DecimalDigits(double value, int significant, std::string& digits, int& exponent)
{
    if (!std::isfinite(value))
        return false;
    // to_chars, unlike printf, never writes the user's decimal comma.
    char buf[64];
    const auto written =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, significant - 1);
    // buf: d.ddddde+XX
    const std::string s(buf, written.ptr);
    const auto e = s.find('e');
    digits.clear();
    for (std::size_t k = 0; k < e; ++k)
        if (s[k] != '.')
            digits += s[k];
    exponent = std::stoi(s.substr(e + 1)) + 1;
    return true;
}

} // namespace

QString FormatLength(double seconds)
{
    std::string digits;
    int exponent = 0;
    if (!DecimalDigits(seconds, 15, digits, exponent))
        return QString::number(seconds);
    if (seconds == 0)
        return QStringLiteral("0");
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    // Always plain positional notation: ffmpeg reads no exponent in a duration.
    std::string text;
    if (exponent <= 0) {
        text = "0." + std::string(-exponent, '0') + digits;
    } else if (exponent >= static_cast<int>(digits.size())) {
        text = digits + std::string(exponent - digits.size(), '0');
    } else {
        text = digits.substr(0, exponent) + "." + digits.substr(exponent);
    }
    if (seconds < 0)
        text.insert(text.begin(), '-');
    return QString::fromStdString(text);
}

QString BuildProfileSwitches(const QString& profilePath, const GridValueLookup& gridValue)
{
    if (!SourceExists(profilePath))
        return QString();

    TIniFile ini(profilePath);
    const QString mainSection = QStringLiteral("Main");
    const qint32 count = ProfileParameterCount(ini);
    QString switches;
    for (qint32 k = 0; k < count; ++k) {
        const QString name = ini.GetText(mainSection, QString::number(k), QString());
        const qint32 sort = ini.GetInteger(name, QStringLiteral("Sort"), -1);
        const bool readOnly = ini.GetFlag(name, QStringLiteral("ReadOnly"), false);
        const QString cmd = ini.GetText(name, QStringLiteral("cmd"), QString());
        const bool isList = ini.GetFlag(name, QStringLiteral("List"), true);
        const QString caption = ini.GetText(name, QStringLiteral("Caption"), QString());
        const QString value = ini.GetText(name, QStringLiteral("Value"), QString());

        // A "Sort" outside 1..3 names no grid: such a parameter has an empty grid value.
        const QString shown = (sort >= 1 && sort <= 3 && gridValue) ? gridValue(sort, name) : QString();

        QString effective;
        if (isList) {
            const QStringList captions = SplitItems(caption);
            const QStringList values = SplitItems(value);
            int found = -1;
            for (int i = 0; i < captions.size(); ++i) {
                if (captions.at(i).compare(shown, Qt::CaseInsensitive) == 0) {
                    found = i;
                    break;
                }
            }
            if (found < 0)
                effective = shown;
            else if (found < values.size())
                effective = values.at(found);
            else
                throw EListIndexError(found);
        } else if (readOnly) {
            effective = value;
        } else {
            effective = shown;
        }

        if (cmd.isEmpty() || effective.isEmpty())
            continue;
        if (effective == QLatin1String("\\"))
            effective.clear();
        switches += QLatin1Char(' ') + cmd + QLatin1Char(' ') + effective;
    }
    ini.Release();
    return switches;
}

QString FormatSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > 9.0e12)
        return FormatLength(seconds);
    qint64 us = std::llround(seconds * 1e6);
    const bool negative = us < 0;
    if (negative)
        us = -us;
    QString text = QString::number(us / 1000000);
    qint64 fraction = us % 1000000;
    if (fraction != 0) {
        QString digits = QStringLiteral("%1").arg(fraction, 6, 10, QLatin1Char('0'));
        while (digits.endsWith(QLatin1Char('0')))
            digits.chop(1);
        text += QLatin1Char('.') + digits;
    }
    return negative && us != 0 ? QLatin1Char('-') + text : text;
}

QString BuildSectionCommandLine(const QString& source, double start, double length, const QString& switches,
                                const QString& output, const QStringList& extra)
{
    QString added;
    for (const QString& e : extra)
        added += QLatin1Char(' ') + e;
    return QStringLiteral(" -y -i \"") + source + QStringLiteral("\" -ss ") + FormatSeconds(start)
           + QStringLiteral(" -t ") + FormatSeconds(length) + added + switches + QStringLiteral(" \"") + output
           + QLatin1Char('"');
}

QStringList BuildSectionArguments(const QString& source, double start, double length, const QString& switches,
                                  const QString& output, const QStringList& extra)
{
    QStringList args{QStringLiteral("-y"), QStringLiteral("-i"), source, QStringLiteral("-ss"),
                     FormatSeconds(start), QStringLiteral("-t"), FormatSeconds(length)};
    args += extra;
    args += SplitCommandLine(switches);
    args << output;
    return args;
}

QStringList SplitCommandLine(const QString& commandLine)
{
    QStringList args;
    for (const std::string& a : vt_switches::SplitArguments(commandLine.toStdString()))
        args << QString::fromStdString(a);
    return args;
}
