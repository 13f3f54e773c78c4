#include "profiles/IniFile.h"
#include "app/VtError.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <atomic>
#include <cstring>
#include <limits>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The longest value a read hands back; longer values are cut.
constexpr qsizetype kMaxValueLength = 2047;

// Counts the writes of every store of the program: a store whose copy of its file is
// older than the last write reads the file again.
std::atomic<quint64> g_writes{1};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

QByteArrayView TrimBlanks(QByteArrayView s)
{
    while (!s.isEmpty() && IsBlank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && IsBlank(s.back()))
        s.chop(1);
    return s;
}

QString TrimBlanks(const QString& s)
{
    qsizetype from = 0, to = s.size();
    while (from < to && IsBlank(s.at(from)))
        ++from;
    while (to > from && IsBlank(s.at(to - 1)))
        --to;
    return s.mid(from, to - from);
}

bool IsAscii(QByteArrayView s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// ---- encodings

bool IsValidUtf8(QByteArrayView text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const e = s + text.size();
    while (s < e) {
        // Plain ASCII, eight bytes at a time.
        while (e - s >= 8) {
            quint64 w;
            std::memcpy(&w, s, 8);
            if (w & 0x8080808080808080ULL)
                break;
            s += 8;
        }
        if (s >= e)
            break;
        const unsigned char c = *s;
        if (c < 0x80) {
            ++s;
            continue;
        }
        int length;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (e - s < length)
            return false;
        for (int i = 1; i < length; ++i) {
            if ((s[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i] & 0x3F);
        }
        if (length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)))
            return false;
        if (length == 4 && (cp < 0x10000 || cp > 0x10FFFF))
            return false;
        s += length;
    }
    return true;
}

// Windows-1252 between 0x80 and 0x9F; the five unassigned bytes stand for themselves,
// as Windows reads them, so every byte reads back to the byte it was.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString FromCp1252(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        *d++ = QChar(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
    }
    return out;
}

// The Windows-1252 bytes of text; nothing when a character has no byte there.
std::optional<QByteArray> ToCp1252(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out += char(u);
            continue;
        }
        int found = -1;
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == u)
                found = i;
        if (found < 0)
            return std::nullopt;
        out += char(0x80 + found);
    }
    return out;
}

// ---- lines

// The position of the last "\n" before end, or -1.
qsizetype LastLineFeed(const QByteArray& text, qsizetype end)
{
#ifdef __GLIBC__
    const void* hit = ::memrchr(text.constData(), '\n', size_t(end));
    return hit ? static_cast<const char*>(hit) - text.constData() : -1;
#else
    return end > 0 ? text.lastIndexOf('\n', end - 1) : -1;
#endif
}

// One line of the file as positions in its content: its text, then its line break
// ("\r\n", "\n", "\r", or nothing on a last line without one).
struct Line {
    qsizetype start = 0;
    qsizetype length = 0;
    qsizetype breakLength = 0;
    qsizetype end() const { return start + length; }
    qsizetype next() const { return start + length + breakLength; }
};

// Walks the lines of a text forward. It remembers where the next "\n" is and searches
// for a "\r" only up to it, so every byte is looked at about once whatever kind of line
// breaks the file has. lastLf is the position of the text's last "\n" (-1 for none).
class LineScanner {
public:
    LineScanner(const QByteArray& text, qsizetype lastLf) : m_text(text), m_lastLf(lastLf) {}

    Line At(qsizetype pos)
    {
        Line line;
        line.start = pos;
        const qsizetype size = m_text.size();
        if (m_lf == -2 || (m_lf >= 0 && m_lf < pos))
            m_lf = pos <= m_lastLf ? m_text.indexOf('\n', pos) : -1;
        const qsizetype limit = m_lf < 0 ? size : m_lf;
        if (m_cr == -2 || m_cr < pos) {
            const void* hit = std::memchr(m_text.constData() + pos, '\r', size_t(limit - pos));
            m_cr = hit ? static_cast<const char*>(hit) - m_text.constData() : limit; // limit: none before it
        }
        const qsizetype brk = qMin(m_cr, limit);
        if (brk >= size) {
            line.length = size - pos;
            return line;
        }
        line.length = brk - pos;
        line.breakLength = (m_text.at(brk) == '\r' && brk + 1 < size && m_text.at(brk + 1) == '\n') ? 2 : 1;
        return line;
    }

private:
    const QByteArray& m_text;
    const qsizetype m_lastLf;
    qsizetype m_lf = -2; // the next "\n" at or after the last position; -1: none left; -2: not searched
    qsizetype m_cr = -2; // the next "\r" before m_lf (or m_lf itself when there is none)
};

enum class LineKind { Other, Section, Entry };

struct Parsed {
    LineKind kind = LineKind::Other;
    QByteArrayView name;  // section name or key, blanks removed
    QByteArrayView value; // entry value, blanks removed, quotes kept
};

Parsed ParseLine(QByteArrayView raw)
{
    Parsed p;
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

// ---- names

// A hash of a name that is the same for names equal without regard to letter case.
class NameHash {
public:
    void Add(char32_t c)
    {
        if (c < 0x80)
            c = (c >= 'A' && c <= 'Z') ? c + 32 : c; // what case folding does to ASCII
        else
            c = QChar::toCaseFolded(c);
        m_h ^= c;
        m_h *= 0x100000001b3ULL;
    }
    quint64 Value() const { return m_h; }

private:
    quint64 m_h = 0xcbf29ce484222325ULL;
};

quint64 HashOf(const QString& text)
{
    NameHash h;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i).unicode(), text.at(i + 1).unicode());
            ++i;
        }
        h.Add(c);
    }
    return h.Value();
}

// A name asked for: trimmed of blanks, with what the comparisons need.
struct Name {
    explicit Name(const QString& asked)
        : text(TrimBlanks(asked)), utf8(text.toUtf8()), ascii(IsAscii(utf8)), hash(HashOf(text))
    {
    }
    QString text;
    QByteArray utf8;
    bool ascii;
    quint64 hash;
};

} // namespace

// ---- the file as read

// The first line of each name hash, in one table with open addressing: made in one pass
// over a section, it costs a few nanoseconds an entry even for a million of them. A slot
// keeps the upper half of the hash and the line's offset in the file (which is smaller
// than TIniFile::MaxFileBytes), so that even a large table stays small.
class FirstLineIndex {
public:
    void Add(quint64 hash, qsizetype line) { m_lines.push_back({hash, quint32(line)}); }

    // After the last Add: the table for Find.
    void Build()
    {
        size_t capacity = 16;
        int bits = 4;
        while (capacity < m_lines.size() + m_lines.size() / 3) {
            capacity <<= 1;
            ++bits;
        }
        m_mask = capacity - 1;
        m_slots.assign(capacity, Slot{});
        // The entries go in by the part of the table they land in, first lines first
        // within each part: the table is then filled from front to back rather than at
        // random, which keeps a large one in the processor's cache.
        const int partBits = qMin(bits, 12);
        const int shift = bits - partBits;
        std::vector<quint32> starts((size_t(1) << partBits) + 1, 0);
        for (const Entry& e : m_lines)
            ++starts[((size_t(e.hash) & m_mask) >> shift) + 1];
        for (size_t p = 1; p < starts.size(); ++p)
            starts[p] += starts[p - 1];
        std::vector<Entry> ordered(m_lines.size());
        for (const Entry& e : m_lines)
            ordered[starts[(size_t(e.hash) & m_mask) >> shift]++] = e;
        m_lines.clear();
        m_lines.shrink_to_fit();
        for (const Entry& e : ordered) {
            const quint32 check = quint32(e.hash >> 32);
            size_t i = size_t(e.hash) & m_mask;
            while (m_slots[i].line != 0 && !(m_slots[i].check == check && m_slots[i].low == quint32(e.hash)))
                i = (i + 1) & m_mask;
            if (m_slots[i].line == 0)
                m_slots[i] = Slot{check, quint32(e.hash), e.line}; // the first line of a hash stays
        }
    }

    // The first line with that hash, or -1.
    qsizetype Find(quint64 hash) const
    {
        const quint32 check = quint32(hash >> 32);
        for (size_t i = size_t(hash) & m_mask; m_slots[i].line != 0; i = (i + 1) & m_mask)
            if (m_slots[i].check == check && m_slots[i].low == quint32(hash))
                return m_slots[i].line;
        return -1;
    }

private:
    struct Entry {
        quint64 hash;
        quint32 line;
    };
    struct Slot {
        quint32 check = 0;
        quint32 low = 0;
        quint32 line = 0; // 0: empty (an entry never starts a file: its section's header does)
    };
    std::vector<Entry> m_lines;
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
};

struct SectionInfo {
    Line header;
    qsizetype nameStart = 0; // the name between the brackets, blanks removed
    qsizetype nameLength = 0;
    qsizetype bodyEnd = 0; // where the next section's header line starts, or the end
    // The first entry line of each key (by name hash) and the last entry line, made on the
    // first look-up.
    mutable std::shared_ptr<FirstLineIndex> keys;
    mutable qsizetype lastEntry = -1;
};

struct IniContent {
    bool exists = false;
    QString problem; // why an existing file cannot be used; empty when it can
    QByteArray bytes;
    qsizetype start = 0; // past a byte-order mark
    qsizetype lastLf = -1;
    bool utf8 = true;

    std::vector<SectionInfo> sections;
    QHash<quint64, int> sectionByName; // the first section of each name hash

    QString Decode(QByteArrayView raw) const { return utf8 ? QString::fromUtf8(raw) : FromCp1252(raw); }

    quint64 HashOfRaw(QByteArrayView raw) const
    {
        NameHash h;
        for (const char c : raw) {
            if (static_cast<unsigned char>(c) >= 0x80)
                return HashOf(Decode(raw));
            h.Add(static_cast<unsigned char>(c));
        }
        return h.Value();
    }

    bool Same(QByteArrayView raw, const Name& asked) const
    {
        if (asked.ascii && IsAscii(raw))
            return asked.utf8.compare(raw, Qt::CaseInsensitive) == 0;
        return Decode(raw).compare(asked.text, Qt::CaseInsensitive) == 0;
    }

    QByteArrayView NameOf(const SectionInfo& s) const { return QByteArrayView(bytes).sliced(s.nameStart, s.nameLength); }
    Line LineAt(qsizetype pos) const { return LineScanner(bytes, lastLf).At(pos); }
    Parsed ParsedAt(const Line& line) const { return ParseLine(QByteArrayView(bytes).sliced(line.start, line.length)); }

    void Parse()
    {
        sections.clear();
        sectionByName.clear();
        start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        utf8 = IsValidUtf8(QByteArrayView(bytes).sliced(start));
        lastLf = LastLineFeed(bytes, bytes.size());
        // Only section headers are noted now; entries are found when asked for. A header
        // is a line whose first character after blanks is "[": the search goes from one
        // "[" to the next, not line by line.
        const char* const base = bytes.constData();
        const qsizetype size = bytes.size();
        for (qsizetype pos = start; pos < size;) {
            const void* hit = std::memchr(base + pos, '[', size_t(size - pos));
            if (!hit)
                break;
            const qsizetype bracket = static_cast<const char*>(hit) - base;
            qsizetype lineStart = bracket;
            while (lineStart > start && IsBlank(base[lineStart - 1]))
                --lineStart;
            if (lineStart > start && base[lineStart - 1] != '\n' && base[lineStart - 1] != '\r') {
                pos = bracket + 1;
                continue;
            }
            const Line line = LineAt(lineStart);
            pos = line.next();
            const Parsed parsed = ParsedAt(line);
            if (!sections.empty())
                sections.back().bodyEnd = line.start;
            SectionInfo s;
            s.header = line;
            s.nameStart = parsed.name.data() - base;
            s.nameLength = parsed.name.size();
            s.bodyEnd = size;
            const quint64 hash = HashOfRaw(parsed.name);
            if (!sectionByName.contains(hash))
                sectionByName.insert(hash, int(sections.size()));
            sections.push_back(std::move(s));
        }
    }

    const SectionInfo* FindSection(const Name& name) const
    {
        const auto it = sectionByName.constFind(name.hash);
        if (it == sectionByName.constEnd())
            return nullptr;
        if (Same(NameOf(sections[*it]), name))
            return &sections[*it];
        // Two names share a hash: look at every header.
        for (const SectionInfo& s : sections)
            if (Same(NameOf(s), name))
                return &s;
        return nullptr;
    }

    void IndexKeys(const SectionInfo& section) const
    {
        if (section.keys)
            return;
        auto keys = std::make_shared<FirstLineIndex>();
        LineScanner scan(bytes, lastLf);
        const char* const base = bytes.constData();
        section.lastEntry = -1;
        // ParseLine's rules, written out: this loop may run over a million lines.
        for (qsizetype pos = section.header.next(); pos < section.bodyEnd;) {
            const Line line = scan.At(pos);
            pos = line.next();
            const char* p = base + line.start;
            const char* const e = p + line.length;
            while (p < e && IsBlank(*p))
                ++p;
            if (p == e || *p == ';' || *p == '#' || *p == '[')
                continue;
            const auto* eq = static_cast<const char*>(std::memchr(p, '=', size_t(e - p)));
            if (!eq)
                continue;
            const char* k = eq;
            while (k > p && IsBlank(k[-1]))
                --k;
            keys->Add(HashOfRaw(QByteArrayView(p, k - p)), line.start);
            section.lastEntry = line.start;
        }
        keys->Build();
        section.keys = std::move(keys);
    }

    // The line of the first entry of key in the section, if there is one.
    std::optional<Line> FindEntry(const SectionInfo& section, const Name& key) const
    {
        IndexKeys(section);
        const qsizetype at = section.keys->Find(key.hash);
        if (at < 0)
            return std::nullopt;
        const Line line = LineAt(at);
        if (Same(ParsedAt(line).name, key))
            return line;
        // Two keys share a hash: settle it line by line.
        LineScanner scan(bytes, lastLf);
        for (qsizetype pos = section.header.next(); pos < section.bodyEnd;) {
            const Line l = scan.At(pos);
            pos = l.next();
            const Parsed p = ParsedAt(l);
            if (p.kind == LineKind::Entry && Same(p.name, key))
                return l;
        }
        return std::nullopt;
    }

    // The section's last entry line, or its header line when it has no entries.
    Line LastLineOf(const SectionInfo& section) const
    {
        IndexKeys(section);
        return section.lastEntry < 0 ? section.header : LineAt(section.lastEntry);
    }

    // Puts text in place of bytes [pos, pos + length) inside one section (or past the last
    // one) and brings what was read up to date without reading the file again.
    void Replace(qsizetype pos, qsizetype length, const QByteArray& text)
    {
        bytes.replace(pos, length, text);
        const qsizetype delta = text.size() - length;
        if (lastLf >= pos + length)
            lastLf += delta;
        else if (lastLf >= pos)
            lastLf = LastLineFeed(bytes, pos);
        const qsizetype newLf = text.lastIndexOf('\n');
        if (newLf >= 0)
            lastLf = qMax(lastLf, pos + newLf);
        for (SectionInfo& s : sections) {
            if (s.bodyEnd < pos || (s.bodyEnd == pos && pos + length < bytes.size() - delta))
                continue; // wholly before the change
            if (s.header.start >= pos + length) {
                s.header.start += delta;
                s.nameStart += delta;
            } else {
                s.header = LineAt(s.header.start); // its line break may have been added
            }
            s.bodyEnd += delta;
            s.keys.reset(); // made again when next asked
            s.lastEntry = -1;
        }
    }
};

namespace {

QString FullPath(const QString& path)
{
    return QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
}

QString SizeText(qint64 bytes) { return QString::number(bytes / (1024 * 1024)) + QStringLiteral(" MB"); }

// Reads the whole file without ever waiting on it: anything but a regular file (a pipe,
// a device, a folder) is refused before it is opened, and the opening itself cannot
// block should the name have been swapped for a pipe in between.
std::shared_ptr<IniContent> Load(const QString& path)
{
    auto content = std::make_shared<IniContent>();
    IniContent& c = *content;
    const QString notRegular = QStringLiteral("it is not a regular file");
    const QString tooLarge = QStringLiteral("it is larger than ") + SizeText(TIniFile::MaxFileBytes);
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            c.exists = true;
            c.problem = QString::fromLocal8Bit(std::strerror(errno));
        }
        return content;
    }
    c.exists = true;
    if (!S_ISREG(st.st_mode)) {
        c.problem = notRegular;
        return content;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            c.exists = false;
        else
            c.problem = QString::fromLocal8Bit(std::strerror(errno));
        return content;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        c.problem = notRegular;
        return content;
    }
    if (st.st_size > TIniFile::MaxFileBytes) {
        ::close(fd);
        c.problem = tooLarge;
        return content;
    }
    QByteArray data;
    data.resize(qsizetype(st.st_size) + 1);
    qsizetype got = 0;
    for (;;) {
        if (got == data.size()) {
            if (got > TIniFile::MaxFileBytes) {
                c.problem = tooLarge; // it grew while we read
                break;
            }
            data.resize(qMin<qint64>(qint64(data.size()) * 2, TIniFile::MaxFileBytes + 1));
        }
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            c.problem = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (!c.problem.isEmpty())
        return content;
    data.truncate(got);
    c.bytes = std::move(data);
#else
    const QFileInfo info(path);
    if (!info.exists())
        return content;
    c.exists = true;
    if (!info.isFile()) {
        c.problem = notRegular;
        return content;
    }
    if (info.size() > TIniFile::MaxFileBytes) {
        c.problem = tooLarge;
        return content;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        c.problem = file.errorString();
        return content;
    }
    c.bytes = file.read(TIniFile::MaxFileBytes + 1);
    if (c.bytes.size() > TIniFile::MaxFileBytes) {
        c.bytes.clear();
        c.problem = tooLarge;
        return content;
    }
#endif
    c.Parse();
    return content;
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

bool HasAnyWriteBit(const QFileInfo& fi)
{
    return fi.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
}

// A file or folder is writable only when the system allows it and its permission bits
// do not forbid it; the second test keeps a read-only file read-only for the super-user too.
bool MayWrite(const QFileInfo& fi) { return fi.isWritable() && HasAnyWriteBit(fi); }

// A line break is never part of a name or value: it would split the entry.
QString OneLine(QString s)
{
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

// The line break that must follow a line before another line goes after it.
QByteArray BreakAfter(const QByteArray& content, const Line& line, const QByteArray& eol)
{
    return line.breakLength == 0 ? eol : content.mid(line.end(), line.breakLength);
}

// Writes one entry into the content read from the file, as the file would read after the
// write: the first occurrence of the section and the key counts; a missing key goes after
// the last entry of its section, a missing section to the end of the file.
void Apply(IniContent& c, const QString& section, const QString& key, const QString& value)
{
    const Name sectionName(OneLine(section));
    const Name keyName(OneLine(key));
    const QString text = OneLine(value);
    QByteArray keyBytes, sectionBytes, valueBytes;
    const auto encode = [&] {
        if (c.utf8) {
            keyBytes = keyName.text.toUtf8();
            sectionBytes = sectionName.text.toUtf8();
            valueBytes = text.toUtf8();
            return true;
        }
        const auto k = ToCp1252(keyName.text), s = ToCp1252(sectionName.text), v = ToCp1252(text);
        if (!k || !s || !v)
            return false;
        keyBytes = *k;
        sectionBytes = *s;
        valueBytes = *v;
        return true;
    };
    if (!encode()) {
        // Text that Windows-1252 cannot hold: the whole file moves to UTF-8, which keeps
        // every character of it, rather than losing the new text.
        c.bytes = c.bytes.left(c.start) + FromCp1252(QByteArrayView(c.bytes).sliced(c.start)).toUtf8();
        c.Parse();
        encode();
    }

    // New lines follow the file's own line breaks.
    QByteArray eol = "\n";
    if (c.start < c.bytes.size()) {
        const Line first = c.LineAt(c.start);
        if (first.breakLength > 0)
            eol = c.bytes.mid(first.end(), first.breakLength);
    }
    if (const SectionInfo* s = c.FindSection(sectionName)) {
        if (const std::optional<Line> line = c.FindEntry(*s, keyName)) {
            // In place, in the file's own spelling of the key; an indent stays.
            qsizetype indent = line->start;
            while (indent < line->end() && IsBlank(c.bytes.at(indent)))
                ++indent;
            const QByteArray fileKey = c.ParsedAt(*line).name.toByteArray();
            c.Replace(indent, line->end() - indent, fileKey + '=' + valueBytes);
        } else {
            const Line after = c.LastLineOf(*s);
            c.Replace(after.end(), after.breakLength,
                      BreakAfter(c.bytes, after, eol) + keyBytes + '=' + valueBytes + eol);
        }
        return;
    }
    const bool endsWithBreak = c.start < c.bytes.size() && (c.bytes.endsWith('\n') || c.bytes.endsWith('\r'));
    const QByteArray head = c.start < c.bytes.size() && !endsWithBreak ? eol : QByteArray();
    c.Replace(c.bytes.size(), 0, head + '[' + sectionBytes + ']' + eol + keyBytes + '=' + valueBytes + eol);
    c.Parse(); // a section more
}

} // namespace

QByteArray ReadSettingsFile(const QString& path)
{
    const QString full = FullPath(path);
    const std::shared_ptr<IniContent> c = Load(full);
    if (!c->exists)
        throw EVeltraneError(QStringLiteral("Unable to read %1: it does not exist").arg(full));
    if (!c->problem.isEmpty())
        throw EVeltraneError(QStringLiteral("Unable to read %1: %2").arg(full, c->problem));
    return c->bytes;
}

void CheckReplaceable(const QString& path)
{
    const QString full = FullPath(path);
    const QFileInfo target(full);
    const QFileInfo folder(target.absolutePath());
    bool ok = folder.isDir() && MayWrite(folder);
    if (ok && target.exists())
        ok = target.isFile() && MayWrite(target);
    if (!ok)
        throw EVeltraneError(QStringLiteral("Unable to write to ") + full);
}

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
TIniFile::~TIniFile() = default;

const IniContent& TIniFile::Content() const
{
    const quint64 now = g_writes.load();
    if (!m_content || (m_generation != now && !m_held)) {
        m_content = Load(FullPath(m_path));
        m_generation = now;
    }
    return *m_content;
}

QString TIniFile::GetText(const QString& section, const QString& key, const QString& def) const
{
    const IniContent& c = Content();
    if (!c.problem.isEmpty())
        return CutValue(def);
    const SectionInfo* s = c.FindSection(Name(section));
    if (!s)
        return CutValue(def);
    const std::optional<Line> found = c.FindEntry(*s, Name(key));
    if (!found)
        return CutValue(def);
    QByteArrayView v = c.ParsedAt(*found).value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.sliced(1, v.size() - 2);
    return CutValue(c.Decode(v));
}

qint32 TIniFile::GetInteger(const QString& section, const QString& key, qint32 def) const
{
    return ConvertWholeNumber(GetText(section, key, QString())).value_or(def);
}

bool TIniFile::GetFlag(const QString& section, const QString& key, bool def) const
{
    return GetInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::CheckReadable() const
{
    const IniContent& c = Content();
    if (!c.problem.isEmpty())
        throw EVeltraneError(QStringLiteral("Unable to read %1: %2").arg(FullPath(m_path), c.problem));
}

int TIniFile::SectionCount() const
{
    return int(qMin<size_t>(Content().sections.size(), size_t(std::numeric_limits<int>::max())));
}

void TIniFile::PutText(const QString& section, const QString& key, const QString& value)
{
    const QString full = FullPath(m_path);
    CheckReplaceable(full);
    if (!m_held) {
        // Always the file as it is now, never an older copy: writes keep what others wrote.
        std::shared_ptr<IniContent> current = Load(full);
        if (!current->problem.isEmpty())
            throw EVeltraneError(QStringLiteral("Unable to write to ") + full); // its other lines would be lost
        m_content = std::move(current);
    }
    Apply(*m_content, section, key, value);
    m_held = true;
    if (!m_holding)
        Flush();
}

void TIniFile::HoldWrites() { m_holding = true; }

void TIniFile::Release()
{
    if (m_held)
        Flush();
}

void TIniFile::Flush()
{
    // The new content goes to a temporary file beside the original, which then takes
    // its place: a failure part-way never leaves a truncated file.
    const QString full = FullPath(m_path);
    QSaveFile out(full);
    if (!out.open(QIODevice::WriteOnly) || out.write(m_content->bytes) != m_content->bytes.size() || !out.commit()) {
        m_held = false;
        m_content.reset(); // the next read looks at the file again
        throw EVeltraneError(QStringLiteral("Unable to write to ") + full);
    }
    m_held = false;
    // Every other store reads its file again; this one knows what it wrote.
    m_generation = ++g_writes;
}

void TIniFile::PutInteger(const QString& section, const QString& key, qint32 value)
{
    PutText(section, key, QString::number(value));
}

void TIniFile::PutFlag(const QString& section, const QString& key, bool value)
{
    PutText(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
