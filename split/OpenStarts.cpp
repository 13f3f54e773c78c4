#include "split/OpenStarts.h"
#include "split/CommandLine.h"
#include "split/SourceProbe.h"
#include "split/SourceReaderLoad.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// A frame time from ffprobe and a key frame's time from the look-up may differ by rounding.
constexpr double kSameFrame = 0.001;
// Key frames this close to the source's start are its first.
constexpr double kFirstKeyRoom = 0.1;

QString Numbered(const QList<int>& sections)
{
    QStringList names;
    for (const int s : sections)
        names << QString::number(s);
    if (names.size() == 1)
        return QStringLiteral("Section ") + names.first();
    const QString last = names.takeLast();
    return QStringLiteral("Sections ") + names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

} // namespace

bool OutputHidesPictures(const QString& extension)
{
    static const QStringList withEditLists{QStringLiteral(".mp4"), QStringLiteral(".m4v"), QStringLiteral(".mov"),
                                           QStringLiteral(".3gp")};
    return withEditLists.contains(extension.toLower());
}

bool ExactCutResumesAtOpenKeyFrames(const QString& codec)
{
    // H.265 resets its decoder at a CRA after pictures encoded again; an H.264 I-picture that is
    // no IDR is made one, the pictures copied after it numbered again.
    return codec == QLatin1String("hevc") || codec == QLatin1String("h264");
}

QList<int> SectionStartPoints(const CutPlan& plan)
{
    QList<int> starts;
    if (plan.kind != CutKind::KeyFrames || !plan.probed)
        return starts;
    for (int j = 0; j + 1 < plan.points.size(); ++j)
        if (!plan.points.at(j).sourceEnd && plan.points.at(j + 1).time > plan.points.at(j).time)
            starts << j;
    return starts;
}

void StartOnWholePictures(CutPlan& plan, const QString& codec, int reorder, const QString& extension)
{
    if (plan.kind != CutKind::KeyFrames || !plan.probed || plan.points.size() < 2)
        return;
    const bool hides = OutputHidesPictures(extension);
    // An H.264 section from an open I-picture fails even with the leading pictures hidden:
    // they still refer to the group before, and its first P-picture releases that group's
    // reference pictures.
    const bool leadingBreaksCopy = !hides || codec == QLatin1String("h264");
    const bool resumes = ExactCutResumesAtOpenKeyFrames(codec);
    const QList<int> starts = SectionStartPoints(plan);
    for (const int j : starts) {
        CutPoint& c = plan.points[j];
        if (c.refreshFrom) {
            if (!hides || reorder > 0) {
                c.exactStart = true;
                c.keyFrame = c.time;
                c.refreshFrom.reset();
            } else if (!(*c.refreshFrom < c.time - kSameTime)) {
                c.refreshFrom.reset();
            }
            continue;
        }
        if (!c.leadingFrom || !leadingBreaksCopy || !resumes)
            continue;
        // The leading pictures follow every picture of the group before.
        if (j > 0 && !(*c.leadingFrom > plan.points.at(j - 1).time))
            continue;
        c.keyFrame = c.time;
        c.time = *c.leadingFrom;
        c.exactStart = true;
        c.leadingEndDts.reset();
    }
    // The copy ends on a whole group: without an edit list the end key frame's leading pictures
    // would have no key frame to be decoded from, so the section ends before them where that
    // still holds everything marked.
    CutPoint& end = plan.points.last();
    const qsizetype last = plan.points.size() - 1;
    if (!hides && !end.sourceEnd && end.leadingFrom && !plan.planned.isEmpty()
        && *end.leadingFrom >= plan.planned.last() - kSameTime && *end.leadingFrom > plan.points.at(last - 1).time) {
        end.time = *end.leadingFrom;
        end.leadingEndDts.reset();
    }
}

QList<double> NonIntraFrames(const QByteArray& ffprobeOutput, double formatStart)
{
    QList<double> times;
    for (QByteArray line : ffprobeOutput.split('\n')) {
        line = line.trimmed();
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() < 2)
            continue;
        bool ok = false;
        const double t = fields.first().toDouble(&ok);
        if (ok && std::isfinite(t) && fields.last() != "I")
            times << t - formatStart;
    }
    return times;
}

QList<double> NonIntraKeyPackets(const QByteArray& json, double formatStart)
{
    QList<double> times;
    const QJsonObject top = QJsonDocument::fromJson(json).object();
    const QJsonArray streams = top.value(QStringLiteral("streams")).toArray();
    if (streams.isEmpty())
        return times;
    const QStringList base = streams.first().toObject().value(QStringLiteral("time_base")).toString().split(QLatin1Char('/'));
    const double num = base.value(0).toDouble(), den = base.value(1).toDouble();
    if (!(num > 0 && den > 0))
        return times;
    for (const QJsonValue v : top.value(QStringLiteral("packets")).toArray()) {
        const QJsonObject p = v.toObject();
        const QString type = p.value(QStringLiteral("pict_type")).toString();
        if (!type.isEmpty() && type != QLatin1String("I") && p.contains(QStringLiteral("pts")))
            times << p.value(QStringLiteral("pts")).toDouble() * num / den - formatStart;
    }
    return times;
}

bool FindRecoveryPoints(const QString& ffprobe, const QString& source, double formatStart, CutPlan& plan,
                        const std::atomic<bool>* cancel, const QString& reader)
{
    // The source's first key frame starts its stream whole.
    QList<int> starts;
    for (const int j : SectionStartPoints(plan))
        if (plan.points.at(j).time > kFirstKeyRoom)
            starts << j;
    if (starts.isEmpty())
        return true;
    const QStringList common{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-hide_banner"),
                             QStringLiteral("-select_streams"), QStringLiteral("V:0"), QStringLiteral("-of"),
                             QStringLiteral("csv=p=0")};
    // The points among these whose key frames are no I-picture: each key frame decoded alone,
    // its picture shown even where the decoder would wait for a refresh.
    const auto recoveryPoints = [&](const QList<int>& points) -> std::optional<QList<int>> {
        QStringList intervals;
        QList<ReaderSpan> spans;
        for (const int j : points) {
            const double at = formatStart + plan.points.at(j).time + kSameTime;
            intervals << FormatSeconds(at) + QStringLiteral("%+#1");
            spans << ReaderSpan{at, at + kSameTime};
        }
        // The module reads the key frames' slice headers; ffprobe decodes each, which costs a
        // process start per job.
        constexpr int kLimitMs = 60000;
        FfprobeRun looked;
        const bool inProgram = !reader.isEmpty()
                               && ReadWithModule(reader, source, spans, QStringLiteral("V:0"), false, cancel, kLimitMs, looked, true);
        if (!inProgram)
            looked = RunFfprobe(ffprobe,
                                common + QStringList{QStringLiteral("-flags2"), QStringLiteral("showall"), QStringLiteral("-show_entries"),
                                                     QStringLiteral("frame=best_effort_timestamp_time,pict_type"),
                                                     QStringLiteral("-read_intervals"), intervals.join(QLatin1Char(','))},
                                source, cancel);
        if (!looked.ok)
            return std::nullopt;
        const QList<double> nonIntra =
            inProgram ? NonIntraKeyPackets(looked.output, formatStart) : NonIntraFrames(looked.output, formatStart);
        QList<int> found;
        for (const int j : points) {
            const double t = plan.points.at(j).time;
            if (std::any_of(nonIntra.cbegin(), nonIntra.cend(), [t](double f) { return std::fabs(f - t) < kSameFrame; }))
                found << j;
        }
        return found;
    };
    // Intra refresh is a way of encoding the whole stream: one key frame tells, and only a
    // stream that has it costs a look at every one.
    std::optional<QList<int>> recovery = recoveryPoints({starts.first()});
    if (!recovery)
        return false;
    if (recovery->isEmpty())
        return true;
    if (starts.size() > 1 && !(recovery = recoveryPoints(starts)))
        return false;
    if (recovery->isEmpty())
        return true;

    // The key frame before each, among the packets of a stretch before it (a read seeks to the
    // key frame nearest to where it starts, not to the one before).
    QStringList intervals;
    for (const int j : *recovery) {
        const double t = formatStart + plan.points.at(j).time;
        intervals << FormatSeconds(std::max(formatStart, t - kDecodeReach)) + QLatin1Char('%') + FormatSeconds(t);
    }
    const FfprobeRun before = RunFfprobe(
        ffprobe,
        common + QStringList{QStringLiteral("-show_entries"), QStringLiteral("packet=pts_time,flags"),
                             QStringLiteral("-read_intervals"), intervals.join(QLatin1Char(','))},
        source, cancel);
    if (!before.ok)
        return false;
    QList<double> keys;
    for (const QByteArray& line : before.output.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        bool ok = false;
        const double t = fields.first().toDouble(&ok);
        if (fields.size() >= 2 && ok && fields.at(1).contains('K'))
            keys << t - formatStart;
    }
    std::sort(keys.begin(), keys.end());
    for (const int j : *recovery) {
        CutPoint& c = plan.points[j];
        const auto after = std::lower_bound(keys.cbegin(), keys.cend(), c.time - kSameTime);
        // None before within reach: the point stays, not whole from its key frame.
        c.refreshFrom = after == keys.cbegin() ? c.time : *(after - 1);
    }
    return true;
}

QStringList OpenStartNotes(const CutPlan& plan)
{
    QStringList notes;
    if (plan.kind != CutKind::KeyFrames || !plan.probed)
        return notes;
    const bool one = plan.points.size() == 2;
    QList<int> leading, refreshEncoded, refreshHidden;
    QStringList spans;
    for (const int j : SectionStartPoints(plan)) {
        const CutPoint& c = plan.points.at(j);
        if (c.exactStart && c.keyFrame && *c.keyFrame > c.time + kSameTime) {
            leading << j + 1;
            spans << QStringLiteral("from %1 to %2").arg(FormatCutTime(c.time), FormatCutTime(*c.keyFrame));
        } else if (c.exactStart) {
            refreshEncoded << j + 1;
        } else if (c.refreshFrom) {
            refreshHidden << j + 1;
        }
    }
    const auto who = [one](const QList<int>& sections) { return one ? QStringLiteral("The output") : Numbered(sections); };
    const auto plural = [one](const QList<int>& sections, const char* single, const char* several) {
        return QString::fromLatin1(one || sections.size() == 1 ? single : several);
    };
    if (!leading.isEmpty())
        notes << QStringLiteral("%1 %2 with the pictures shown before %3, which a copy cannot begin with; they were "
                                "encoded again: %4.")
                     .arg(who(leading), plural(leading, "begins", "begin"),
                          plural(leading, "its key frame", "their key frames"),
                          spans.join(QStringLiteral(", ")));
    if (!refreshEncoded.isEmpty())
        notes << QStringLiteral("%1 %2 on %3 of an intra refresh, whose pictures are whole only a refresh later; the "
                                "video was encoded again up to where a copy can resume.")
                     .arg(who(refreshEncoded), plural(refreshEncoded, "begins", "begin"),
                          plural(refreshEncoded, "a recovery point", "recovery points"));
    if (!refreshHidden.isEmpty())
        notes << QStringLiteral("%1 %2 on %3 of an intra refresh: the video is copied from the recovery point before, "
                                "whose refresh is whole by then, and the file does not show the pictures before the "
                                "start.")
                     .arg(who(refreshHidden), plural(refreshHidden, "begins", "begin"),
                          plural(refreshHidden, "a recovery point", "recovery points"));
    return notes;
}
