#include "profiles/IniFile.h"
#include "app/VtError.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <limits>

namespace {

// The longest value a read hands back; longer values are cut.
constexpr qsizetype kMaxValueLength = 2047;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

QByteArray TrimBlanks(const QByteArray& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && IsBlank(s.at(b)))
        ++b;
    while (e > b && IsBlank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b);
}

// One line of the file: its text and the line break that followed it ("" for a last
// line without one). Joining raw + eol for every line gives back the file byte for byte.
struct Line {
    QByteArray raw;
    QByteArray eol;
};

QList<Line> SplitLines(const QByteArray& content)
{
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < content.size()) {
        const qsizetype nl = content.indexOf('\n', pos);
        Line line;
        if (nl < 0) {
            line.raw = content.mid(pos);
            pos = content.size();
            if (line.raw.endsWith('\r')) {
                line.raw.chop(1);
                line.eol = "\r";
            }
        } else {
            line.raw = content.mid(pos, nl - pos);
            line.eol = "\n";
            if (line.raw.endsWith('\r')) {
                line.raw.chop(1);
                line.eol = "\r\n";
            }
            pos = nl + 1;
        }
        lines.append(line);
    }
    return lines;
}

QByteArray JoinLines(const QList<Line>& lines)
{
    QByteArray out;
    for (const Line& l : lines)
        out += l.raw + l.eol;
    return out;
}

enum class LineKind { Other, Section, Entry };

struct Parsed {
    LineKind kind = LineKind::Other;
    QByteArray name;  // section name or key, blanks removed
    QByteArray value; // entry value, blanks removed, quotes kept
};

Parsed ParseLine(const QByteArray& raw)
{
    Parsed p;
    qsizetype start = 0;
    // A byte-order mark, as some editors put before the first line, is not part of it.
    if (raw.startsWith("\xEF\xBB\xBF"))
        start = 3;
    while (start < raw.size() && IsBlank(raw.at(start)))
        ++start;
    if (start == raw.size())
        return p;
    const char first = raw.at(start);
    if (first == '[') {
        const qsizetype close = raw.indexOf(']', start + 1);
        const qsizetype end = close < 0 ? raw.size() : close;
        p.kind = LineKind::Section;
        p.name = TrimBlanks(raw.mid(start + 1, end - start - 1));
        return p;
    }
    if (first == ';' || first == '#')
        return p; // comment
    const qsizetype eq = raw.indexOf('=', start);
    if (eq < 0)
        return p;
    p.kind = LineKind::Entry;
    p.name = TrimBlanks(raw.mid(start, eq - start));
    p.value = TrimBlanks(raw.mid(eq + 1));
    return p;
}

bool SameName(const QByteArray& inFile, const QString& asked)
{
    return QString::fromUtf8(inFile).compare(asked, Qt::CaseInsensitive) == 0;
}

// Where a section and a key are in the file: the first occurrence of each counts.
struct Location {
    qsizetype section = -1;   // the section's header line
    qsizetype lastEntry = -1; // the last entry line of that section
    qsizetype key = -1;       // the key's line
    QByteArray value;
};

Location Locate(const QList<Line>& lines, const QString& section, const QString& key)
{
    Location loc;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Parsed p = ParseLine(lines.at(i).raw);
        if (p.kind == LineKind::Section) {
            if (loc.section >= 0)
                break; // the section ends at the next header
            if (SameName(p.name, section))
                loc.section = i;
        } else if (p.kind == LineKind::Entry && loc.section >= 0) {
            loc.lastEntry = i;
            if (loc.key < 0 && SameName(p.name, key)) {
                loc.key = i;
                loc.value = p.value;
            }
        }
    }
    return loc;
}

QString CutValue(const QString& v)
{
    if (v.size() <= kMaxValueLength)
        return v;
    QString cut = v.left(kMaxValueLength);
    if (cut.at(cut.size() - 1).isHighSurrogate())
        cut.chop(1); // never leave half a character behind
    return cut;
}

QString FullPath(const QString& path)
{
    return QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
}

bool HasAnyWriteBit(const QFileInfo& fi)
{
    return fi.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
}

// A file or folder is writable only when the system allows it and its permission bits
// do not forbid it; the second test keeps a read-only file read-only for the super-user too.
bool MayWrite(const QFileInfo& fi) { return fi.isWritable() && HasAnyWriteBit(fi); }

// A line break is never part of a name or value: it would split the entry.
QByteArray OneLine(const QString& s)
{
    QByteArray b = s.toUtf8();
    b.replace('\r', ' ');
    b.replace('\n', ' ');
    return b;
}

// Makes sure a line is followed by a line break before another line goes after it.
void EndLine(Line& line, const QByteArray& eol)
{
    if (line.eol.isEmpty())
        line.eol = eol;
    else if (line.eol == "\r")
        line.eol = "\r\n"; // a carriage return alone at the end is not a line break here
}

} // namespace

std::optional<qint32> ConvertWholeNumber(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < n && text.at(i) == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i < n && (text.at(i) == QLatin1Char('x') || text.at(i) == QLatin1Char('X'))) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text.at(i) == QLatin1Char('0')
               && (text.at(i + 1) == QLatin1Char('x') || text.at(i + 1) == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return std::nullopt;
    const qint64 limit = qint64(std::numeric_limits<qint32>::max()) + (negative ? 1 : 0);
    qint64 value = 0;
    for (; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<qint32>(negative ? -value : value);
}

TIniFile::TIniFile(const QString& path) : m_path(path) {}

QString TIniFile::GetText(const QString& section, const QString& key, const QString& def) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return CutValue(def);
    const QList<Line> lines = SplitLines(file.readAll());
    file.close();
    const Location loc = Locate(lines, section, key);
    if (loc.key < 0)
        return CutValue(def);
    QByteArray v = loc.value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return CutValue(QString::fromUtf8(v));
}

qint32 TIniFile::GetInteger(const QString& section, const QString& key, qint32 def) const
{
    return ConvertWholeNumber(GetText(section, key, QString())).value_or(def);
}

bool TIniFile::GetFlag(const QString& section, const QString& key, bool def) const
{
    return GetInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::PutText(const QString& section, const QString& key, const QString& value)
{
    const QString full = FullPath(m_path);
    const EVeltraneError refused(QStringLiteral("Unable to write to ") + full);

    const QFileInfo target(full);
    const QFileInfo folder(target.absolutePath());
    if (!folder.isDir() || !MayWrite(folder))
        throw refused;

    QByteArray content;
    if (target.exists()) {
        if (target.isDir() || !MayWrite(target))
            throw refused;
        QFile in(full);
        if (!in.open(QIODevice::ReadOnly))
            throw refused; // rewriting a file we cannot read would lose its other lines
        content = in.readAll();
    }

    QList<Line> lines = SplitLines(content);
    // New lines follow the file's own line breaks.
    QByteArray eol = "\n";
    for (const Line& l : lines) {
        if (l.eol.endsWith('\n')) {
            eol = l.eol;
            break;
        }
    }
    const QByteArray entry = OneLine(key) + '=' + OneLine(value);
    const Location loc = Locate(lines, section, key);
    if (loc.key >= 0) {
        Line& l = lines[loc.key];
        qsizetype indent = 0;
        while (indent < l.raw.size() && IsBlank(l.raw.at(indent)))
            ++indent;
        l.raw = l.raw.left(indent) + entry;
    } else if (loc.section >= 0) {
        const qsizetype after = loc.lastEntry >= 0 ? loc.lastEntry : loc.section;
        EndLine(lines[after], eol);
        lines.insert(after + 1, Line{entry, eol});
    } else {
        if (!lines.isEmpty())
            EndLine(lines.last(), eol);
        lines.append(Line{'[' + OneLine(section) + ']', eol});
        lines.append(Line{entry, eol});
    }

    // The new content goes to a temporary file beside the original, which then takes
    // its place: a failure part-way never leaves a truncated file.
    QSaveFile out(full);
    if (!out.open(QIODevice::WriteOnly))
        throw refused;
    const QByteArray data = JoinLines(lines);
    if (out.write(data) != data.size() || !out.commit())
        throw refused;
}

void TIniFile::PutInteger(const QString& section, const QString& key, qint32 value)
{
    PutText(section, key, QString::number(value));
}

void TIniFile::PutFlag(const QString& section, const QString& key, bool value)
{
    PutText(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
