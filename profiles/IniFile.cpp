#include "profiles/IniFile.h"
#include "app/VtError.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>
#include <optional>

namespace {

// The longest value a read hands back; longer values are cut.
constexpr qsizetype kMaxValueLength = 2047;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

QByteArrayView TrimBlanks(QByteArrayView s)
{
    while (!s.isEmpty() && IsBlank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && IsBlank(s.back()))
        s.chop(1);
    return s;
}

// One line of the file as positions in its content: its text, then its line break
// ("\n", "\r\n", a "\r" ending the file, or nothing on a last line without one).
// Reads and writes work on these positions, so no line is ever copied.
struct Line {
    qsizetype start = 0;
    qsizetype length = 0;
    qsizetype breakLength = 0;
    qsizetype end() const { return start + length; }
    qsizetype next() const { return start + length + breakLength; }
};

Line LineAt(const QByteArray& content, qsizetype pos)
{
    Line line;
    line.start = pos;
    const qsizetype nl = content.indexOf('\n', pos);
    qsizetype end = nl < 0 ? content.size() : nl;
    line.breakLength = nl < 0 ? 0 : 1;
    if (end > pos && content.at(end - 1) == '\r') {
        --end;
        ++line.breakLength;
    }
    line.length = end - pos;
    return line;
}

enum class LineKind { Other, Section, Entry };

struct Parsed {
    LineKind kind = LineKind::Other;
    QByteArrayView name;  // section name or key, blanks removed
    QByteArrayView value; // entry value, blanks removed, quotes kept
};

Parsed ParseLine(QByteArrayView raw)
{
    Parsed p;
    // A byte-order mark, as some editors put before the first line, is not part of it.
    if (raw.startsWith("\xEF\xBB\xBF"))
        raw = raw.sliced(3);
    while (!raw.isEmpty() && IsBlank(raw.front()))
        raw = raw.sliced(1);
    if (raw.isEmpty())
        return p;
    const char first = raw.front();
    if (first == '[') {
        const qsizetype close = raw.indexOf(']', 1);
        p.kind = LineKind::Section;
        p.name = TrimBlanks(raw.sliced(1, (close < 0 ? raw.size() : close) - 1));
        return p;
    }
    if (first == ';' || first == '#')
        return p; // comment
    const qsizetype eq = raw.indexOf('=');
    if (eq < 0)
        return p;
    p.kind = LineKind::Entry;
    p.name = TrimBlanks(raw.first(eq));
    p.value = TrimBlanks(raw.sliced(eq + 1));
    return p;
}

bool IsAscii(QByteArrayView s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// A name asked for, with its bytes as they would stand in the file.
struct Name {
    explicit Name(const QString& text) : text(text), utf8(text.toUtf8()), ascii(IsAscii(utf8)) {}
    QString text;
    QByteArray utf8;
    bool ascii;
};

bool SameName(QByteArrayView inFile, const Name& asked)
{
    if (asked.utf8.compare(inFile, Qt::CaseInsensitive) == 0)
        return true;
    // Letters beyond ASCII need the full comparison; plain names are settled above.
    if (asked.ascii && IsAscii(inFile))
        return false;
    return QString::fromUtf8(inFile).compare(asked.text, Qt::CaseInsensitive) == 0;
}

// Where a section and a key are in the file: the first occurrence of each counts.
struct Location {
    std::optional<Line> section;   // the section's header line
    std::optional<Line> lastEntry; // the last entry line of that section, when the key is missing
    std::optional<Line> key;       // the key's line
    QByteArrayView value;
};

Location Locate(const QByteArray& content, const QString& section, const QString& key)
{
    const Name sectionName(section);
    const Name keyName(key);
    Location loc;
    for (qsizetype pos = 0; pos < content.size();) {
        const Line line = LineAt(content, pos);
        pos = line.next();
        const Parsed p = ParseLine(QByteArrayView(content).sliced(line.start, line.length));
        if (p.kind == LineKind::Section) {
            if (loc.section)
                break; // the section ends at the next header
            if (SameName(p.name, sectionName))
                loc.section = line;
        } else if (p.kind == LineKind::Entry && loc.section) {
            if (SameName(p.name, keyName)) {
                loc.key = line;
                loc.value = p.value;
                break;
            }
            loc.lastEntry = line;
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

// The line break that must follow a line before another line goes after it.
QByteArray BreakBefore(const QByteArray& content, const Line& line, const QByteArray& eol)
{
    if (line.breakLength == 0)
        return eol;
    if (line.breakLength == 1 && content.at(line.end()) == '\r')
        return "\r\n"; // a carriage return alone at the end is not a line break here
    return content.mid(line.end(), line.breakLength);
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
    const QByteArray content = file.readAll();
    file.close();
    const Location loc = Locate(content, section, key);
    if (!loc.key)
        return CutValue(def);
    QByteArrayView v = loc.value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.sliced(1, v.size() - 2);
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

    // New lines follow the file's own line breaks.
    const qsizetype firstBreak = content.indexOf('\n');
    const QByteArray eol = firstBreak > 0 && content.at(firstBreak - 1) == '\r' ? "\r\n" : "\n";
    const QByteArray entry = OneLine(key) + '=' + OneLine(value);
    const Location loc = Locate(content, section, key);
    QByteArray data;
    if (loc.key) {
        const Line& l = *loc.key;
        qsizetype indent = l.start;
        while (indent < l.end() && IsBlank(content.at(indent)))
            ++indent;
        data = content.left(indent) + entry + content.mid(l.end());
    } else if (loc.section) {
        const Line& after = loc.lastEntry ? *loc.lastEntry : *loc.section;
        data = content.left(after.end()) + BreakBefore(content, after, eol) + entry + eol + content.mid(after.next());
    } else {
        if (!content.isEmpty()) {
            Line last = LineAt(content, 0);
            while (last.next() < content.size())
                last = LineAt(content, last.next());
            data = content.left(last.end()) + BreakBefore(content, last, eol);
        }
        data += '[' + OneLine(section) + ']' + eol + entry + eol;
    }

    // The new content goes to a temporary file beside the original, which then takes
    // its place: a failure part-way never leaves a truncated file.
    QSaveFile out(full);
    if (!out.open(QIODevice::WriteOnly))
        throw refused;
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
