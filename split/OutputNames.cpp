#include "split/OutputNames.h"

#include <QRegularExpression>
#include <QSet>
#include <cmath>

namespace {

constexpr int kMaxStemBytes = 200;

bool IsReservedDeviceName(const QString& stem)
{
    // Windows refuses these as names whatever follows the first dot, in any letter case.
    static const QRegularExpression reserved(QStringLiteral("^(con|prn|aux|nul|com[0-9]|lpt[0-9])(\\..*)?$"),
                                             QRegularExpression::CaseInsensitiveOption);
    return reserved.match(stem).hasMatch();
}

QString CutToBytes(const QString& text, int maxBytes)
{
    if (text.toUtf8().size() <= maxBytes)
        return text;
    QString out;
    int bytes = 0;
    for (qsizetype i = 0; i < text.size();) {
        // One code point at a time, so a pair of surrogates is never split.
        const qsizetype step = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString cp = text.mid(i, step);
        const int size = int(cp.toUtf8().size());
        if (bytes + size > maxBytes)
            break;
        out += cp;
        bytes += size;
        i += step;
    }
    return out;
}

} // namespace

QString NameTime(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const qint64 ms = std::llround(seconds * 1000.0);
    const qint64 s = ms / 1000;
    QString text = QStringLiteral("%1-%2-%3")
                       .arg(s / 3600, 2, 10, QLatin1Char('0'))
                       .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
                       .arg(s % 60, 2, 10, QLatin1Char('0'));
    if (ms % 1000 != 0)
        text += QStringLiteral(".%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
    return text;
}

QString ExpandNameTemplate(const QString& nameTemplate, const NameFields& f)
{
    QString out;
    for (qsizetype i = 0; i < nameTemplate.size(); ++i) {
        const QChar c = nameTemplate.at(i);
        if ((c == QLatin1Char('{') || c == QLatin1Char('}')) && i + 1 < nameTemplate.size() && nameTemplate.at(i + 1) == c) {
            out += c;
            ++i;
            continue;
        }
        const qsizetype close = c == QLatin1Char('{') ? nameTemplate.indexOf(QLatin1Char('}'), i + 1) : -1;
        if (close < 0) {
            out += c;
            continue;
        }
        const QString field = nameTemplate.mid(i + 1, close - i - 1);
        const QString key = field.section(QLatin1Char(':'), 0, 0);
        const QString arg = field.section(QLatin1Char(':'), 1);
        QString value;
        bool known = true;
        if (key == QLatin1String("source"))
            value = f.source;
        else if (key == QLatin1String("n")) {
            bool ok = false;
            const int width = arg.isEmpty() ? 0 : arg.toInt(&ok);
            value = QStringLiteral("%1").arg(f.number, (ok && width > 0 && width <= 9) ? width : 0, 10, QLatin1Char('0'));
        } else if (key == QLatin1String("title"))
            value = f.title;
        else if (key == QLatin1String("start"))
            value = NameTime(f.start);
        else if (key == QLatin1String("end"))
            value = NameTime(f.end);
        else if (key == QLatin1String("profile"))
            value = f.profile;
        else
            known = false;
        out += known ? value : nameTemplate.mid(i, close - i + 1);
        i = close;
    }
    return out;
}

QString SanitizeFileName(const QString& name, int maxBytes)
{
    static const QString refused = QStringLiteral("/\\<>:\"|?*%");
    QString s;
    s.reserve(name.size());
    for (const QChar c : name)
        s += (c.unicode() < 0x20 || c.unicode() == 0x7f || refused.contains(c)) ? QLatin1Char('_') : c;
    // A leading dot hides the file; a leading dash reads as an option to many programs.
    while (!s.isEmpty() && (s.front() == QLatin1Char('.') || s.front() == QLatin1Char('-') || s.front().isSpace()))
        s.remove(0, 1);
    s = CutToBytes(s, maxBytes);
    // Windows drops trailing dots and blanks, so two names could become one.
    while (!s.isEmpty() && (s.back() == QLatin1Char('.') || s.back().isSpace()))
        s.chop(1);
    if (s.isEmpty())
        s = QStringLiteral("_");
    if (IsReservedDeviceName(s))
        s.prepend(QLatin1Char('_'));
    return s;
}

bool IsDefaultNameTemplate(const QString& nameTemplate)
{
    return nameTemplate.isEmpty() || nameTemplate == kDefaultNameTemplate;
}

QStringList NameSections(const QString& nameTemplate, const QList<NameFields>& fields, const QString& extension)
{
    QStringList names;
    names.reserve(fields.size());
    if (IsDefaultNameTemplate(nameTemplate)) {
        // Exactly as before: no change to a base name the user already has files under.
        for (const NameFields& f : fields)
            names << f.source + QStringLiteral("_Clip") + QString::number(f.number) + extension;
        return names;
    }
    QSet<QString> taken; // folded to lower case: FAT32 and NTFS do not tell case apart
    for (const NameFields& f : fields) {
        const QString stem = SanitizeFileName(ExpandNameTemplate(nameTemplate, f));
        QString name = stem + extension;
        for (int k = 2; taken.contains(name.toLower()); ++k) {
            // Room is made for the number, so a name cut at the limit still changes.
            const QString suffix = QStringLiteral("_") + QString::number(k);
            name = SanitizeFileName(stem, kMaxStemBytes - int(suffix.size())) + suffix + extension;
        }
        taken.insert(name.toLower());
        names << name;
    }
    return names;
}
