#include "segments/SegmentList.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStringList>
#include <cmath>

// ---- the list

bool IsValidSegmentRange(double start, double end)
{
    return std::isfinite(start) && std::isfinite(end) && start >= 0 && end > start && end <= kMaxSegmentTime;
}

QString CleanSegmentName(const QString& name)
{
    QString out;
    out.reserve(std::min<qsizetype>(name.size(), kMaxSegmentName));
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            continue;
        out += c;
    }
    out = out.trimmed();
    if (out.size() > kMaxSegmentName) {
        out.truncate(kMaxSegmentName);
        if (out.back().isHighSurrogate()) // never half a character
            out.chop(1);
    }
    return out;
}

bool SegmentList::Add(const Segment& segment, int at)
{
    if (!IsValidSegmentRange(segment.start, segment.end) || m_items.size() >= kMaxSegments)
        return false;
    if (at < -1 || at > m_items.size())
        return false;
    Segment s = segment;
    s.name = CleanSegmentName(s.name);
    m_items.insert(at < 0 ? m_items.size() : at, s);
    return true;
}

bool SegmentList::Remove(int i)
{
    if (i < 0 || i >= m_items.size())
        return false;
    m_items.removeAt(i);
    return true;
}

bool SegmentList::Move(int from, int to)
{
    if (from < 0 || from >= m_items.size() || to < 0 || to >= m_items.size())
        return false;
    m_items.move(from, to);
    return true;
}

bool SegmentList::Rename(int i, const QString& name)
{
    if (i < 0 || i >= m_items.size())
        return false;
    m_items[i].name = CleanSegmentName(name);
    return true;
}

bool SegmentList::SetTimes(int i, double start, double end)
{
    if (i < 0 || i >= m_items.size() || !IsValidSegmentRange(start, end))
        return false;
    m_items[i].start = start;
    m_items[i].end = end;
    return true;
}

bool SegmentList::Assign(const QList<Segment>& segments)
{
    SegmentList made;
    for (const Segment& s : segments)
        if (!made.Add(s))
            return false;
    *this = made;
    return true;
}

// ---- times

std::optional<double> ParseSegmentTime(const QString& input)
{
    const QString text = input.trimmed();
    static const QRegularExpression seconds(QStringLiteral("^\\d{1,9}(\\.\\d{1,9})?$"));
    static const QRegularExpression clock(QStringLiteral("^(?:(\\d{1,6}):)?([0-5]?\\d):([0-5]?\\d(?:\\.\\d{1,9})?)$"));
    if (seconds.match(text).hasMatch())
        return text.toDouble();
    const QRegularExpressionMatch m = clock.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const double h = m.captured(1).isEmpty() ? 0.0 : m.captured(1).toDouble();
    return h * 3600.0 + m.captured(2).toDouble() * 60.0 + m.captured(3).toDouble();
}

QString FormatSegmentTime(double seconds)
{
    const qint64 ms = std::llround(std::max(0.0, seconds) * 1000.0);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// ---- CSV

namespace {

// The rows of a CSV text (RFC 4180: quoted fields may hold commas, quotes and line breaks).
// False with the line number when a quote is left open or stray text follows one.
bool CsvRows(const QString& text, QList<QPair<int, QStringList>>& rows, int& badLine)
{
    QStringList row;
    QString field;
    bool quoted = false, wasQuoted = false, rowHasText = false;
    int line = 1, rowLine = 1;
    const auto endField = [&] {
        row << (wasQuoted ? field : field.trimmed());
        field.clear();
        wasQuoted = false;
    };
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text.at(k);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (k + 1 < text.size() && text.at(k + 1) == QLatin1Char('"')) {
                    field += c;
                    ++k;
                } else {
                    quoted = false;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            if (!field.trimmed().isEmpty() || wasQuoted) {
                badLine = line;
                return false;
            }
            field.clear();
            quoted = wasQuoted = rowHasText = true;
        } else if (c == QLatin1Char(',')) {
            endField();
            rowHasText = true;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && k + 1 < text.size() && text.at(k + 1) == QLatin1Char('\n'))
                ++k;
            endField();
            if (rowHasText || row.size() > 1 || !row.first().isEmpty())
                rows.append({rowLine, row});
            row.clear();
            rowHasText = false;
            rowLine = ++line;
        } else {
            if (wasQuoted && !c.isSpace()) {
                badLine = line;
                return false;
            }
            field += c;
            rowHasText = true;
        }
    }
    if (quoted) {
        badLine = rowLine;
        return false;
    }
    endField();
    if (rowHasText || row.size() > 1 || !row.first().isEmpty())
        rows.append({rowLine, row});
    return true;
}

QString CsvField(const QString& s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n'))
        && !s.contains(QLatin1Char('\r')) && s.trimmed() == s)
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString Seconds(double s) { return QString::number(s, 'f', 6).remove(QRegularExpression(QStringLiteral("\\.?0+$"))); }

} // namespace

SegmentReadResult ParseSegmentCsv(const QByteArray& bytes)
{
    SegmentReadResult r;
    if (bytes.size() > kMaxSegmentFile) {
        r.error = QStringLiteral("the file is larger than %1 bytes").arg(kMaxSegmentFile);
        return r;
    }
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QList<QPair<int, QStringList>> rows;
    int badLine = 0;
    if (!CsvRows(text, rows, badLine)) {
        r.error = QStringLiteral("line %1: a quoted name is not closed properly").arg(badLine);
        return r;
    }
    SegmentList list;
    for (qsizetype k = 0; k < rows.size(); ++k) {
        const int line = rows[k].first;
        const QStringList& f = rows[k].second;
        const std::optional<double> start = ParseSegmentTime(f.value(0));
        if (k == 0 && !start && f.size() >= 2 && !ParseSegmentTime(f.value(1)))
            continue; // a header such as "start,end,name"
        if (f.size() < 2 || f.size() > 3) {
            r.error = QStringLiteral("line %1: expected start,end,name").arg(line);
            return r;
        }
        const std::optional<double> end = ParseSegmentTime(f.value(1));
        if (!start || !end) {
            r.error = QStringLiteral("line %1: \"%2\" is no time (seconds or HH:MM:SS.mmm)")
                          .arg(line)
                          .arg(CleanSegmentName(!start ? f.value(0) : f.value(1)).left(40));
            return r;
        }
        if (list.Count() >= kMaxSegments) {
            r.error = QStringLiteral("line %1: more than %2 segments").arg(line).arg(kMaxSegments);
            return r;
        }
        if (!list.Add(Segment{*start, *end, f.value(2)})) {
            r.error = QStringLiteral("line %1: the end must lie after the start, within %2 seconds")
                          .arg(line)
                          .arg(kMaxSegmentTime, 0, 'g', 10);
            return r;
        }
    }
    r.segments = list.Items();
    return r;
}

QByteArray SegmentCsv(const QList<Segment>& segments)
{
    QString out = QStringLiteral("start,end,name\n");
    for (const Segment& s : segments)
        out += Seconds(s.start) + QLatin1Char(',') + Seconds(s.end) + QLatin1Char(',') + CsvField(s.name) + QLatin1Char('\n');
    return out.toUtf8();
}

// ---- project

namespace {
const char* const kProjectFormat = "veltrane-segments";
constexpr int kProjectVersion = 1;
constexpr int kMaxPath = 4096;

std::optional<double> TimeValue(const QJsonValue& v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d < 0 || d > kMaxSegmentTime)
        return std::nullopt;
    return d;
}
} // namespace

QByteArray SegmentProjectJson(const SegmentProject& p)
{
    QJsonObject o;
    o[QStringLiteral("format")] = QLatin1String(kProjectFormat);
    o[QStringLiteral("version")] = kProjectVersion;
    o[QStringLiteral("source")] = p.sourcePath;
    if (p.markStart)
        o[QStringLiteral("start")] = *p.markStart;
    if (p.markEnd)
        o[QStringLiteral("end")] = *p.markEnd;
    QJsonArray list;
    for (const Segment& s : p.segments)
        list.append(QJsonObject{{QStringLiteral("start"), s.start}, {QStringLiteral("end"), s.end}, {QStringLiteral("name"), s.name}});
    o[QStringLiteral("segments")] = list;
    o[QStringLiteral("output")] = p.output == SegmentOutput::Joined ? QStringLiteral("joined") : QStringLiteral("separate");
    o[QStringLiteral("chapters")] = p.chaptersAtJoins;
    if (!p.profile.isEmpty())
        o[QStringLiteral("profile")] = p.profile;
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

SegmentProjectRead ParseSegmentProject(const QByteArray& json)
{
    SegmentProjectRead r;
    const auto fail = [&r](const QString& why) {
        r.error = why;
        return r;
    };
    if (json.size() > kMaxSegmentFile)
        return fail(QStringLiteral("the file is larger than %1 bytes").arg(kMaxSegmentFile));
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError)
        return fail(QStringLiteral("not a project file (%1 at byte %2)").arg(pe.errorString()).arg(pe.offset));
    if (!doc.isObject())
        return fail(QStringLiteral("not a project file"));
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("format")).toString() != QLatin1String(kProjectFormat))
        return fail(QStringLiteral("not a project file of Veltrane's segments"));
    const QJsonValue version = o.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != std::floor(version.toDouble()) || version.toDouble() < 1)
        return fail(QStringLiteral("the project's version is missing"));
    if (version.toDouble() > kProjectVersion)
        return fail(QStringLiteral("the project was written by a later version of Veltrane"));

    SegmentProject p;
    const QJsonValue source = o.value(QStringLiteral("source"));
    if (!source.isString() || source.toString().size() > kMaxPath)
        return fail(QStringLiteral("the project names no source"));
    p.sourcePath = source.toString();
    for (const QChar c : p.sourcePath)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return fail(QStringLiteral("the project's source path holds control characters"));
    for (const auto& [key, target] : {std::pair{QStringLiteral("start"), &p.markStart}, std::pair{QStringLiteral("end"), &p.markEnd}}) {
        const QJsonValue v = o.value(key);
        if (v.isUndefined() || v.isNull())
            continue;
        *target = TimeValue(v);
        if (!*target)
            return fail(QStringLiteral("the project's marked %1 is no time").arg(key));
    }
    const QJsonValue segments = o.value(QStringLiteral("segments"));
    if (!segments.isArray())
        return fail(QStringLiteral("the project holds no list of segments"));
    const QJsonArray list = segments.toArray();
    if (list.size() > kMaxSegments)
        return fail(QStringLiteral("the project holds more than %1 segments").arg(kMaxSegments));
    SegmentList made;
    for (qsizetype k = 0; k < list.size(); ++k) {
        const QJsonObject s = list.at(k).toObject();
        const std::optional<double> start = TimeValue(s.value(QStringLiteral("start")));
        const std::optional<double> end = TimeValue(s.value(QStringLiteral("end")));
        const QJsonValue name = s.value(QStringLiteral("name"));
        if (!start || !end || !(name.isString() || name.isUndefined()) || !made.Add(Segment{*start, *end, name.toString()}))
            return fail(QStringLiteral("segment %1 of the project is not a range of times").arg(k + 1));
    }
    p.segments = made.Items();
    const QString output = o.value(QStringLiteral("output")).toString(QStringLiteral("separate"));
    if (output == QLatin1String("joined"))
        p.output = SegmentOutput::Joined;
    else if (output != QLatin1String("separate"))
        return fail(QStringLiteral("the project's output is neither \"separate\" nor \"joined\""));
    p.chaptersAtJoins = o.value(QStringLiteral("chapters")).toBool(false);
    p.profile = CleanSegmentName(o.value(QStringLiteral("profile")).toString());
    r.project = p;
    return r;
}

std::optional<QByteArray> ReadSegmentFile(const QString& path, QString* error)
{
    const QFileInfo info(path);
    QFile f(path);
    if (!info.isFile() || !f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1 cannot be read").arg(path);
        return std::nullopt;
    }
    // Read one byte past the limit rather than trusting the size (a file may grow).
    QByteArray content = f.read(kMaxSegmentFile + 1);
    if (content.size() > kMaxSegmentFile) {
        if (error)
            *error = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxSegmentFile);
        return std::nullopt;
    }
    return content;
}

bool WriteSegmentFile(const QString& path, const QByteArray& content, QString* error)
{
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.commit())
        return true;
    if (error)
        *error = QStringLiteral("%1 cannot be written: %2").arg(path, f.errorString());
    return false;
}

// ---- chapters

namespace {
QString EscapeMetadata(const QString& s)
{
    QString out;
    for (const QChar c : s) {
        if (c == QLatin1Char('=') || c == QLatin1Char(';') || c == QLatin1Char('#') || c == QLatin1Char('\\')
            || c == QLatin1Char('\n'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}
} // namespace

QByteArray ChapterMetadata(const QList<Chapter>& chapters)
{
    QString out = QStringLiteral(";FFMETADATA1\n");
    for (const Chapter& c : chapters) {
        out += QStringLiteral("\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\n")
                   .arg(std::llround(c.start * 1000.0))
                   .arg(std::llround(c.end * 1000.0));
        if (!c.title.isEmpty())
            out += QStringLiteral("title=") + EscapeMetadata(c.title) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QList<Chapter> SegmentChapters(const QList<Segment>& segments)
{
    QList<Chapter> out;
    for (qsizetype i = 0; i < segments.size(); ++i)
        out.append({segments[i].start, segments[i].end,
                    segments[i].name.isEmpty() ? QStringLiteral("Segment %1").arg(i + 1) : segments[i].name});
    return out;
}

QList<Chapter> JoinChapters(const QList<Segment>& segments, const QList<double>& lengths)
{
    QList<Chapter> out;
    double at = 0;
    for (qsizetype i = 0; i < segments.size() && i < lengths.size(); ++i) {
        out.append({at, at + lengths[i], segments[i].name.isEmpty() ? QStringLiteral("Segment %1").arg(i + 1) : segments[i].name});
        at += lengths[i];
    }
    return out;
}

// ---- output names

QString SegmentFileName(const QString& name)
{
    QString out;
    for (const QChar c : CleanSegmentName(name)) {
        if (QStringLiteral("\\/:*?\"<>|%").contains(c) || c.category() == QChar::Other_Control)
            out += QLatin1Char('_');
        else
            out += c;
    }
    while (out.startsWith(QLatin1Char('.')) || out.startsWith(QLatin1Char('-')))
        out.remove(0, 1);
    out.truncate(120);
    while (out.endsWith(QLatin1Char('.')) || out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    if (!out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1);
    return out;
}

QStringList SegmentOutputNames(const QString& baseName, const QList<Segment>& segments)
{
    QStringList names;
    QSet<QString> taken; // file names compare without case on some file systems
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QString own = SegmentFileName(segments[i].name);
        const QString first = own.isEmpty() ? baseName + QStringLiteral("_Clip") + QString::number(i + 1)
                                            : baseName + QLatin1Char('_') + own;
        QString name = first;
        for (int n = 2; taken.contains(name.toLower()); ++n)
            name = first + QStringLiteral(" (%1)").arg(n);
        taken.insert(name.toLower());
        names << name;
    }
    return names;
}

QString JoinedOutputName(const QString& baseName) { return baseName + QStringLiteral("_Joined"); }
