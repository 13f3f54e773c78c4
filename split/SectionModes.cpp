#include "split/SectionModes.h"
#include "app/TimeCode.h"
#include "split/CommandLine.h"
#include "split/CutPoints.h"
#include "split/JobPlan.h"
#include "split/OutputNames.h"
#include "split/SourceProbe.h"

#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPointTolerance = 0.001;
// A size plan leaves this share of the limit free for what the estimate cannot see.
constexpr double kSizeMargin = 0.01;
// Re-encoded sections are only estimated from bit rates: a wider margin.
constexpr double kRateMargin = 0.08;
// ffprobe reads this far beyond the range for the key frame the last copied section ends on.
constexpr double kReadBeyond = 60.0;

std::optional<double> PlainNumber(const QString& text)
{
    bool ok = false;
    const double v = QLocale::c().toDouble(text, &ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

// A number with ffmpeg's k/M/G suffixes (1000s), as in -b:v 2M.
double RateValue(const QString& text)
{
    static const QRegularExpression rate(QStringLiteral("^(\\d+(?:\\.\\d+)?)([kKmMgG]?)$"));
    const QRegularExpressionMatch m = rate.match(text);
    if (!m.hasMatch())
        return 0;
    double v = m.captured(1).toDouble();
    const QString unit = m.captured(2).toLower();
    if (unit == QLatin1String("k"))
        v *= 1e3;
    else if (unit == QLatin1String("m"))
        v *= 1e6;
    else if (unit == QLatin1String("g"))
        v *= 1e9;
    return v;
}

} // namespace

std::optional<qint64> ParseByteSize(const QString& text)
{
    static const QRegularExpression size(
        QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)\\s*(?:([kKmMgGtT])(?:i?[bB])?|[bB])?\\s*(?:-\\s*(\\d{1,12}))?\\s*$"));
    const QRegularExpressionMatch m = size.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    long double v = m.captured(1).toDouble();
    const QString unit = m.captured(2).toLower();
    switch (unit.isEmpty() ? char16_t(0) : unit.at(0).unicode()) {
    case 't': v *= 1024.0L;
        [[fallthrough]];
    case 'g': v *= 1024.0L;
        [[fallthrough]];
    case 'm': v *= 1024.0L;
        [[fallthrough]];
    case 'k': v *= 1024.0L;
        break;
    default: break;
    }
    v = std::floor(v);
    if (!m.captured(3).isEmpty())
        v -= m.captured(3).toLongLong();
    if (!(v >= 1024.0L) || v > static_cast<long double>(std::numeric_limits<qint64>::max() / 2))
        return std::nullopt;
    return static_cast<qint64>(v);
}

QString FormatByteSize(qint64 bytes)
{
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double v = double(bytes);
    if (v < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    int u = -1;
    while (v >= 1024 && u < 3) {
        v /= 1024;
        ++u;
    }
    // Never rounded up past the limit it describes: 4G-1 reads 3.99 GiB, not 4.00.
    const double shown = std::floor(v * 100.0) / 100.0;
    QString number = QLocale::c().toString(shown, 'f', shown == std::floor(shown) ? 0 : 2);
    return number + QLatin1Char(' ') + QLatin1String(units[u]);
}

std::optional<QList<double>> ParseTimeList(const QString& text, QString* error)
{
    static const QRegularExpression clock(QStringLiteral("^(?:(\\d{1,6}):)?([0-5]?\\d):([0-5]?\\d(?:\\.\\d+)?)$"));
    static const QRegularExpression plain(QStringLiteral("^\\d{1,9}(?:\\.\\d+)?$"));
    QList<double> times;
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString& raw : items) {
        const QString t = raw.trimmed();
        std::optional<double> v;
        if (const QRegularExpressionMatch m = clock.match(t); m.hasMatch()) {
            if (const std::optional<double> s = PlainNumber(m.captured(3)))
                v = m.captured(1).toLongLong() * 3600.0 + m.captured(2).toLongLong() * 60.0 + *s;
        } else if (plain.match(t).hasMatch()) {
            v = PlainNumber(t);
        }
        if (!v) {
            if (error)
                *error = t.isEmpty() ? QStringLiteral("an empty entry") : QStringLiteral("\"%1\" is not a time").arg(t);
            return std::nullopt;
        }
        times << *v;
    }
    return times;
}

QList<double> BoundariesAtPoints(double start, double end, const QList<double>& points)
{
    QList<double> inner;
    for (double p : points)
        if (std::isfinite(p) && p > start + kPointTolerance && p < end - kPointTolerance)
            inner << p;
    std::sort(inner.begin(), inner.end());
    QList<double> bounds{start};
    for (double p : inner)
        if (p > bounds.last() + kPointTolerance)
            bounds << p;
    bounds << end;
    return bounds;
}

ChapterSections BoundariesAtChapters(double start, double end, const QList<Chapter>& chapters)
{
    QList<double> starts;
    for (const Chapter& c : chapters)
        starts << c.start;
    ChapterSections out;
    out.bounds = BoundariesAtPoints(start, end, starts);
    for (qsizetype i = 0; i + 1 < out.bounds.size(); ++i) {
        // The chapter the section begins in: the latest one that starts at or before it.
        const double at = out.bounds.at(i) + kPointTolerance;
        QString title;
        double best = -std::numeric_limits<double>::infinity();
        for (const Chapter& c : chapters)
            if (c.start <= at && c.start > best && at < c.end + kPointTolerance) {
                best = c.start;
                title = c.title;
            }
        out.titles << title;
    }
    return out;
}

double EstimateBytes(const QList<SizedPacket>& packets, double from, double to, const SizeModel& model)
{
    double bytes = 0;
    qint64 count = 0;
    for (const SizedPacket& p : packets)
        if (p.time >= from - kSameTime && p.time < to - kSameTime) {
            bytes += double(p.bytes);
            ++count;
        }
    return model.scale * (bytes + model.perPacket * double(count)) + model.fixed;
}

SizePlan PlanSizeLimitedSections(const QList<SizedPacket>& packets, double start, double end, qint64 maxBytes,
                                 bool keyFrames, const SizeModel& model)
{
    SizePlan plan;
    const double budget = double(maxBytes) * (1.0 - (keyFrames ? kSizeMargin : kRateMargin));
    if (!(end > start)) {
        plan.problem = QStringLiteral("The range is empty.");
        return plan;
    }
    if (!keyFrames) {
        if (!(model.bytesPerSecond > 0)) {
            plan.problem = QStringLiteral("The bit rate of the output cannot be estimated (neither the profile nor "
                                          "the source states one).");
            return plan;
        }
        const double length = (budget - model.fixed) / (model.scale * model.bytesPerSecond);
        if (!(length >= 0.04)) {
            plan.problem = QStringLiteral("%1 holds less than a frame at the output's bit rate.").arg(FormatByteSize(maxBytes));
            return plan;
        }
        plan.bounds << start;
        for (double at = start + length; at < end - kPointTolerance; at += length)
            plan.bounds << at;
        plan.bounds << end;
        return plan;
    }

    // Prefix sums over the packets in time order: any stretch's estimate in two look-ups.
    QList<SizedPacket> sorted = packets;
    std::stable_sort(sorted.begin(), sorted.end(), [](const SizedPacket& a, const SizedPacket& b) { return a.time < b.time; });
    QList<double> times, sums{0.0};
    QList<double> keys;
    times.reserve(sorted.size());
    sums.reserve(sorted.size() + 1);
    for (const SizedPacket& p : sorted) {
        times << p.time;
        sums << sums.last() + double(p.bytes) + model.perPacket;
        if (p.key)
            keys << p.time;
    }
    auto index = [&](double t) { return qsizetype(std::lower_bound(times.cbegin(), times.cend(), t - kSameTime) - times.cbegin()); };
    auto estimate = [&](double from, double to) { return model.scale * (sums.at(index(to)) - sums.at(index(from))) + model.fixed; };

    // A copy begins at the key frame at or before the start, and its last section runs on to
    // the key frame at or after the end: those are the bytes it holds.
    const auto firstAfterStart = std::upper_bound(keys.cbegin(), keys.cend(), start + kSameTime);
    double cursor = firstAfterStart == keys.cbegin() ? start : *(firstAfterStart - 1);
    const auto atEnd = std::lower_bound(keys.cbegin(), keys.cend(), end - kSameTime);
    const double stop = atEnd == keys.cend() ? std::numeric_limits<double>::infinity() : *atEnd;

    plan.bounds << start;
    while (estimate(cursor, stop) > budget) {
        // The last key frame before the end that keeps [cursor, key) within the budget.
        auto lo = std::upper_bound(keys.cbegin(), keys.cend(), cursor + kPointTolerance);
        auto hi = std::lower_bound(keys.cbegin(), keys.cend(), end - kPointTolerance);
        if (lo >= hi || estimate(cursor, *lo) > budget) {
            const double next = lo < keys.cend() ? *lo : end;
            plan.problem = QStringLiteral("The stretch from %1 to the next key frame at %2 alone is larger than %3: "
                                          "copied sections can only end on key frames.")
                               .arg(FormatCutTime(cursor), FormatCutTime(next), FormatByteSize(maxBytes));
            plan.bounds.clear();
            return plan;
        }
        const auto fits = std::partition_point(lo, hi, [&](double k) { return estimate(cursor, k) <= budget; });
        cursor = *(fits - 1);
        plan.bounds << cursor;
    }
    plan.bounds << end;
    return plan;
}

void LearnFromOversizedSection(SizeModel& model, double estimated, qint64 written, double seconds, qint64 maxBytes)
{
    Q_UNUSED(maxBytes);
    if (estimated > 0 && written > 0)
        model.scale *= std::max(1.02, double(written) / estimated * 1.03);
    else
        model.scale *= 1.1;
    if (seconds > 0 && model.bytesPerSecond > 0)
        model.bytesPerSecond = std::max(model.bytesPerSecond, double(written) / seconds / model.scale);
}

double ProfileBytesPerSecond(const QString& switches)
{
    const QStringList words = switches.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    double video = 0, audio = 0;
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        const QString& w = words.at(i);
        if (w == QLatin1String("-b:v") || w == QLatin1String("-vb") || w == QLatin1String("-b"))
            video = RateValue(words.at(i + 1));
        else if (w == QLatin1String("-b:a") || w == QLatin1String("-ab"))
            audio = RateValue(words.at(i + 1));
        else if (w == QLatin1String("-maxrate"))
            video = std::max(video, RateValue(words.at(i + 1)));
    }
    if (!(video > 0))
        return 0;
    return (video + (audio > 0 ? audio : 192000.0)) / 8.0;
}

bool ApplySectionRequest(JobPlan& plan, const SectionRequest& request, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    switch (request.mode) {
    case SectionMode::Equal: break;
    case SectionMode::Length: {
        if (!(request.every >= 0.001) || !std::isfinite(request.every))
            return fail(QStringLiteral("The section length must be at least a millisecond."));
        constexpr double kRemainderTolerance = 0.0005; // as for --every: a sliver stays with the section before
        const double sections = std::ceil((plan.end - plan.start - kRemainderTolerance) / request.every);
        if (sections > kMostNamedSections)
            return fail(QStringLiteral("Sections of that length would be more than %1.").arg(kMostNamedSections));
        plan.equalSections = true;
        plan.count = qint32(std::max(1.0, sections));
        plan.sectionLength = request.every;
        plan.lastEndsAtEnd = true;
        break;
    }
    case SectionMode::Points:
        ApplyBounds(plan, BoundariesAtPoints(plan.start, plan.end, request.points), plan.titles);
        break;
    case SectionMode::Chapters:
    case SectionMode::Size:
        if (request.mode == SectionMode::Size && request.maxBytes < 1024)
            return fail(QStringLiteral("The size limit must be at least 1 KiB."));
        plan.pending = request;
        plan.equalSections = true;
        plan.count = 0;
        return true;
    }
    if (!NamePlanSections(plan))
        return fail(QStringLiteral("A name template names at most %1 sections.").arg(kMostNamedSections));
    return true;
}

void ApplyBounds(JobPlan& plan, const QList<double>& bounds, const QStringList& titles)
{
    plan.bounds = bounds.size() >= 2 ? bounds : QList<double>();
    plan.titles = titles;
    plan.equalSections = true;
    plan.count = plan.bounds.isEmpty() ? 0 : qint32(std::min<qsizetype>(plan.bounds.size() - 1, std::numeric_limits<qint32>::max()));
    if (!plan.bounds.isEmpty()) {
        plan.start = plan.bounds.first();
        plan.end = plan.bounds.last();
    }
    plan.pending.reset();
    NamePlanSections(plan);
}

bool NamePlanSections(JobPlan& plan)
{
    plan.names.clear();
    if (IsDefaultNameTemplate(plan.nameTemplate) || plan.count <= 0)
        return true;
    if (plan.count > kMostNamedSections)
        return false;
    QList<NameFields> fields;
    fields.reserve(plan.count);
    const JobPlan plain = [&] {
        JobPlan p = plan;
        p.cuts.reset();
        return p;
    }();
    for (qint32 i = 1; i <= plan.count; ++i) {
        const JobSection s = plain.Section(i);
        fields << NameFields{plan.baseName, i, plan.titles.value(i - 1), s.start, s.end, plan.profileName};
    }
    plan.names = NameSections(plan.nameTemplate, fields, plan.extension);
    return true;
}

namespace {

// The packets of the range with their sizes, and what the model needs from the source.
bool ProbeSizes(const QString& ffprobe, const SplitJobOrder& order, QList<SizedPacket>& packets, double& sourceRate,
                QString* error, const std::atomic<bool>* cancel)
{
    const JobPlan& plan = order.plan;
    const QString from = FormatSeconds(std::max(0.0, plan.start - 30.0));
    const QString to = QStringLiteral("%1").arg(FormatSeconds(plan.end + kReadBeyond));
    const QStringList args{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-hide_banner"),
                           QStringLiteral("-of"), QStringLiteral("compact=p=1:nk=0"), QStringLiteral("-show_entries"),
                           QStringLiteral("format=start_time,bit_rate:stream=index,codec_type:stream_disposition="
                                          "attached_pic:packet=stream_index,pts_time,dts_time,size,flags"),
                           QStringLiteral("-read_intervals"), from + QLatin1Char('%') + to};
    // Every packet of the range is listed: a long film takes ffprobe a while to read.
    constexpr int kSizeProbeLimitMs = 30 * 60 * 1000;
    const FfprobeRun run = RunFfprobe(ffprobe, args, order.sourcePath, cancel, kSizeProbeLimitMs);
    if (!run.ok) {
        if (error)
            *error = run.error;
        return false;
    }
    const ProfileStreams profile = AnalyseProfileSwitches(order.profileSwitches);
    struct StreamInfo {
        QString type;
        bool picture = false;
    };
    QHash<int, StreamInfo> streams;
    double formatStart = 0;
    struct Raw {
        int stream;
        double time;
        qint64 bytes;
        bool key;
    };
    QList<Raw> raw;
    for (const QByteArray& line : run.output.split('\n')) {
        QHash<QByteArray, QByteArray> f;
        for (const QByteArray& field : line.split('|').mid(1)) {
            const qsizetype eq = field.indexOf('=');
            if (eq > 0)
                f.insert(field.left(eq), field.mid(eq + 1));
        }
        if (line.startsWith("packet|")) {
            bool okT = false, okB = false;
            double t = f.value("pts_time").toDouble(&okT);
            if (!okT)
                t = f.value("dts_time").toDouble(&okT);
            const qint64 bytes = f.value("size").toLongLong(&okB);
            if (okT && okB && std::isfinite(t) && bytes >= 0)
                raw.append(Raw{f.value("stream_index").toInt(), t, bytes, f.value("flags").contains('K')});
        } else if (line.startsWith("stream|")) {
            streams.insert(f.value("index").toInt(),
                           StreamInfo{QString::fromLatin1(f.value("codec_type")), f.value("disposition:attached_pic") == "1"});
        } else if (line.startsWith("format|")) {
            bool ok = false;
            const double s = f.value("start_time").toDouble(&ok);
            formatStart = ok && std::isfinite(s) ? s : 0;
            const double rate = f.value("bit_rate").toDouble(&ok);
            sourceRate = ok && std::isfinite(rate) && rate > 0 ? rate / 8.0 : 0;
        }
    }
    // The cut stream: the first video that is no cover picture, unless the profile leaves
    // the video out; then every copied sound packet is a place to cut.
    int cutStream = -1;
    if (!profile.videoOff)
        for (auto it = streams.cbegin(); it != streams.cend(); ++it)
            if (it->type == QLatin1String("video") && !it->picture && (cutStream < 0 || it.key() < cutStream))
                cutStream = it.key();
    for (const Raw& r : raw) {
        const StreamInfo s = streams.value(r.stream);
        const bool counted = (s.type == QLatin1String("video") && !profile.videoOff)
                             || (s.type == QLatin1String("audio") && !profile.audioOff) || s.type == QLatin1String("subtitle");
        if (!counted)
            continue;
        const bool key = cutStream >= 0 ? (r.stream == cutStream && r.key) : s.type == QLatin1String("audio");
        packets.append(SizedPacket{r.time - formatStart, r.bytes, key});
    }
    return true;
}

} // namespace

bool ResolveSections(SplitJobOrder& order, QString* error, const std::atomic<bool>* cancel)
{
    JobPlan& plan = order.plan;
    if (!plan.pending)
        return true;
    const SectionRequest request = *plan.pending;
    const QString ffprobe = FindFfprobe(order.encoderPath);
    if (ffprobe.isEmpty()) {
        if (error)
            *error = QStringLiteral("ffprobe was not found beside the encoder or on the PATH; it reads the source.");
        return false;
    }
    if (request.mode == SectionMode::Chapters) {
        TrackList list;
        if (!ProbeTracks(ffprobe, order.sourcePath, list, error, cancel))
            return false;
        const ChapterSections sections = BoundariesAtChapters(plan.start, plan.end, list.chapters);
        if (list.chapters.isEmpty()) {
            if (error)
                *error = QStringLiteral("The source has no chapters.");
            return false;
        }
        ApplyBounds(plan, sections.bounds, sections.titles);
        return true;
    }
    if (request.mode == SectionMode::Size) {
        SizeLimit limit;
        limit.maxBytes = request.maxBytes;
        const ProfileStreams profile = AnalyseProfileSwitches(order.profileSwitches);
        // Copied video and copied sound without video are cut where the packets allow; what
        // is encoded again is estimated from the bit rate.
        limit.keyFrames = profile.videoCopied || profile.exactCuts || (profile.videoOff && profile.audioCopied);
        const QString container = plan.extension.mid(1).toLower();
        // MPEG transport streams wrap every packet in 188-byte cells with headers of their own.
        if (container == QLatin1String("ts") || container == QLatin1String("m2ts") || container == QLatin1String("mts"))
            limit.model.scale = 1.12;
        double sourceRate = 0;
        if (!ProbeSizes(ffprobe, order, limit.packets, sourceRate, error, cancel))
            return false;
        limit.model.bytesPerSecond = ProfileBytesPerSecond(order.profileSwitches);
        if (!(limit.model.bytesPerSecond > 0))
            limit.model.bytesPerSecond = sourceRate;
        const SizePlan sized = PlanSizeLimitedSections(limit.packets, plan.start, plan.end, limit.maxBytes,
                                                       limit.keyFrames, limit.model);
        if (!sized.problem.isEmpty()) {
            if (error)
                *error = sized.problem;
            return false;
        }
        if (!limit.keyFrames)
            limit.packets.clear(); // only the bit rate counts from here on
        plan.sizeLimit = limit;
        ApplyBounds(plan, sized.bounds);
        return true;
    }
    plan.pending.reset();
    return true;
}
