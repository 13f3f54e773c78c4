#include "split/CutPoints.h"
#include "split/OpenStarts.h"
#include "switches/ProfileSwitches.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Frames are never further apart than this where a first look searches for one.
constexpr double kFrameReach = 1.5;
// How far past an inner point a first look searches for the next key frame.
constexpr double kKeyReach = 3.0;
// How far past the marked end a second look searches for the key frame a copy ends on.
constexpr double kEndReach = 12.0;
// A little room around each point, so a point is never at the very edge of what was read.
constexpr double kEdge = 0.01;
// The least room before a stored decode time: the microseconds ffmpeg counts in.
constexpr double kLeastDtsMargin = 4e-6;

// The sorted presentation times and key frames of one stream, and what of it was read.
struct StreamView {
    QList<double> frames;        // presentation times, ascending, no two alike
    QList<ProbePacket> keys;     // key frames, by presentation time
    QList<ReadSpan> spans;       // merged, ascending
    std::optional<double> end;   // end of the stream, when a read reached the end of the file
    double tick = 0;
    int reorder = 0;
    bool video = false;
    // The file stores decode times (MP4 and its kin, MPEG-TS); elsewhere (Matroska) FFmpeg
    // works them out, and not always the same way after a seek.
    bool storesDts = false;
    QList<ProbePacket> decoded; // packets with a decode time, in decode order

    // Spans are merged and ascending: only the last one starting at or before `from` can
    // hold [from, to].
    bool Covered(double from, double to) const
    {
        const auto after = std::upper_bound(spans.cbegin(), spans.cend(), from,
                                            [](double t, const ReadSpan& s) { return t < s.from; });
        if (after == spans.cbegin())
            return false;
        const ReadSpan& s = *(after - 1);
        return !s.to || *s.to >= to;
    }
    std::optional<double> FirstFrameFrom(double t) const
    {
        const auto it = std::lower_bound(frames.cbegin(), frames.cend(), t);
        return it == frames.cend() ? std::nullopt : std::optional<double>(*it);
    }
    std::optional<double> FrameBefore(double t) const
    {
        auto it = std::lower_bound(frames.cbegin(), frames.cend(), t);
        if (it == frames.cbegin())
            return std::nullopt;
        return *--it;
    }
    std::optional<double> FrameAfter(double t) const
    {
        const auto it = std::upper_bound(frames.cbegin(), frames.cend(), t);
        return it == frames.cend() ? std::nullopt : std::optional<double>(*it);
    }
    const ProbePacket* LastKeyAtOrBefore(double t) const
    {
        const auto it = FirstKeyPast(t);
        return it == keys.cbegin() ? nullptr : &*(it - 1);
    }
    const ProbePacket* KeyBefore(const ProbePacket* key) const
    {
        return key && key > keys.constData() ? key - 1 : nullptr;
    }
    const ProbePacket* FirstKeyAfter(double t) const
    {
        const auto it = FirstKeyPast(t);
        return it == keys.cend() ? nullptr : &*it;
    }
    QList<ProbePacket>::const_iterator FirstKeyPast(double t) const
    {
        return std::upper_bound(keys.cbegin(), keys.cend(), t, [](double v, const ProbePacket& k) { return v < k.pts; });
    }
};

StreamView ViewOf(const ProbeData& probe, int stream)
{
    StreamView v;
    for (const ProbeStream& s : probe.streams)
        if (s.index == stream) {
            v.tick = s.Tick();
            v.reorder = s.reorder;
            v.video = s.type == QLatin1String("video");
        }
    const QStringList formats = probe.formatName.split(QLatin1Char(','));
    v.storesDts = formats.contains(QLatin1String("mp4")) || formats.contains(QLatin1String("mov"))
                  || formats.contains(QLatin1String("mpegts"));
    double end = -kInfinity;
    for (const ProbePacket& p : probe.packets) {
        if (p.stream != stream || p.discard)
            continue;
        v.frames.append(p.pts);
        if (p.key)
            v.keys.append(p);
        if (p.hasDts)
            v.decoded.append(p);
        end = std::max(end, p.pts + std::max(0.0, p.duration));
    }
    std::sort(v.frames.begin(), v.frames.end());
    v.frames.erase(std::unique(v.frames.begin(), v.frames.end()), v.frames.end());
    std::sort(v.keys.begin(), v.keys.end(), [](const ProbePacket& a, const ProbePacket& b) { return a.pts < b.pts; });
    std::sort(v.decoded.begin(), v.decoded.end(), [](const ProbePacket& a, const ProbePacket& b) { return a.dts < b.dts; });

    QList<ReadSpan> spans = probe.spans;
    std::sort(spans.begin(), spans.end(), [](const ReadSpan& a, const ReadSpan& b) { return a.from < b.from; });
    bool reachedEnd = false;
    for (const ReadSpan& s : spans) {
        reachedEnd = reachedEnd || !s.to;
        if (!v.spans.isEmpty()) {
            ReadSpan& last = v.spans.last();
            if (!last.to || s.from <= *last.to) {
                if (last.to && (!s.to || *s.to > *last.to))
                    last.to = s.to;
                continue;
            }
        }
        v.spans.append(s);
    }
    // A read that reached the end of the file saw the stream's last packets.
    if (reachedEnd) {
        if (end > -kInfinity)
            v.end = end;
        else if (probe.formatLength)
            v.end = *probe.formatLength;
    }
    return v;
}

// The time between a frame and the one shown before it (or after it, at the start).
double FrameGap(const StreamView& v, double frame)
{
    double gap = 0;
    if (const std::optional<double> before = v.FrameBefore(frame); before && v.Covered(*before, frame))
        gap = frame - *before;
    else if (const std::optional<double> after = v.FrameAfter(frame); after && v.Covered(frame, *after))
        gap = *after - frame;
    return gap > 0 ? gap : 0.04;
}

// How far before a frame a section that ends there stops: far enough that rounding the
// times to the encoder's time base never takes the frame in, well under half a frame so
// the frame before is never left out, and small enough that the audio hardly notices.
double MarginBefore(const StreamView& v, double frame)
{
    return std::min(FrameGap(v, frame) / 4.0, 0.002 + v.tick);
}

// A key frame as a cut: its decode time, which Matroska does not store (ffmpeg works it out
// as the time of the frame shown `reorder` frames before), and how far before it copied
// video stops: half a frame, between the packet decoded before it and itself. A stored decode
// time is met exactly, give or take the rounding of the seek into the stream's time base:
// two ticks then, since the frame gap is a guess where the frames before the key frame were
// not read, and at 50 frames a second half the guess is a whole frame, the one decoded just
// before the key frame.
CutPoint KeyCut(const StreamView& v, const ProbePacket& key)
{
    CutPoint c;
    c.time = key.pts;
    const double gap = FrameGap(v, key.pts);
    c.dtsStored = key.hasDts && v.storesDts;
    c.dts = key.hasDts ? key.dts : key.pts - v.reorder * gap;
    c.dtsMargin = c.dtsStored ? std::min(gap / 2.0, std::max(2 * v.tick, kLeastDtsMargin)) : gap / 2.0;
    if (key.hasDts) {
        // The read goes on from the key frame in decode order: its group's first pictures are
        // known (Matroska's decode times are worked out, but in the file's order).
        auto it = std::lower_bound(v.decoded.cbegin(), v.decoded.cend(), key.dts,
                                   [](const ProbePacket& p, double t) { return p.dts < t; });
        if (it != v.decoded.cend() && it->pts == key.pts) {
            std::optional<double> earliest;
            for (++it; it != v.decoded.cend() && it->pts < key.pts; ++it)
                earliest = std::min(it->pts, earliest.value_or(it->pts));
            if (earliest && it != v.decoded.cend()) {
                c.leadingFrom = earliest;
                if (c.dtsStored)
                    c.leadingEndDts = it->dts;
            }
        }
    }
    return c;
}

// Where to decode from for a re-encoded section that starts at frame: the key frame before
// the last one at or before it. Decoding from the last one alone is not enough: an
// intra-refresh stream marks where a refresh begins, clean only at the next one, and the
// pictures shown before an open GOP's key frame refer to pictures before it. A stream that
// starts with its key frame is clean from there.
std::optional<double> DecodeFrom(const StreamView& v, double frame)
{
    const ProbePacket* last = v.LastKeyAtOrBefore(frame + kSameTime);
    if (const ProbePacket* before = v.KeyBefore(last))
        return before->pts;
    if (last && !v.frames.isEmpty() && last->pts <= v.frames.first() + kSameTime && v.Covered(last->pts - kEdge, frame))
        return last->pts;
    return std::nullopt;
}

// A point with no frame at or after it: the stream ends within the last frame before it,
// or before the point altogether.
CutPoint EndPoint(const StreamView& v, double planned, CutKind kind)
{
    CutPoint p;
    p.time = planned;
    if (!v.end)
        return p;
    p.sourceEnd = *v.end < planned - kSameTime;
    // Sections on frames end with the last frame; a time cut stops at the end as well.
    if (kind != CutKind::Times || p.sourceEnd)
        p.time = *v.end;
    return p;
}

} // namespace

ProfileStreams AnalyseProfileSwitches(const QString& switches)
{
    const vt_switches::StreamTreatment t = vt_switches::ReadStreamTreatment(vt_switches::SplitArguments(switches.toStdString()));
    ProfileStreams p;
    p.videoCopied = t.videoCopied;
    p.audioCopied = t.audioCopied;
    p.videoOff = t.videoOff;
    p.audioOff = t.audioOff;
    // The encoder cuts copied video on frames only while it copies the video.
    if (t.exactCuts && p.videoCopied && !p.videoOff) {
        p.exactCuts = true;
        p.videoCopied = false;
    }
    return p;
}

bool IsStreamCopyProfile(const QString& switches)
{
    const ProfileStreams p = AnalyseProfileSwitches(switches);
    if (!p.videoOff)
        return p.videoCopied;
    return !p.audioOff && p.audioCopied;
}

int CutStream(const ProbeData& probe, const ProfileStreams& profile)
{
    if (!profile.videoOff) {
        // The video ffmpeg takes by default: the largest picture, the first of equals.
        int best = -1;
        qint64 area = -1;
        for (const ProbeStream& s : probe.streams) {
            if (s.type == QLatin1String("video") && !s.attachedPicture && s.area > area) {
                best = s.index;
                area = s.area;
            }
        }
        if (best >= 0)
            return best;
    }
    if (!profile.audioOff)
        for (const ProbeStream& s : probe.streams)
            if (s.type == QLatin1String("audio"))
                return s.index;
    return -1;
}

CutKind KindOfCut(const ProbeData& probe, const ProfileStreams& profile)
{
    const int stream = CutStream(probe, profile);
    for (const ProbeStream& s : probe.streams) {
        if (s.index != stream)
            continue;
        if (s.type == QLatin1String("video"))
            return profile.videoCopied ? CutKind::KeyFrames : CutKind::Frames;
        return profile.audioCopied ? CutKind::Frames : CutKind::Times;
    }
    return CutKind::Times;
}

QList<ReadSpan> FirstReads(const QList<double>& planned, CutKind kind)
{
    QList<ReadSpan> reads;
    for (int j = 0; j < planned.size(); ++j) {
        const double p = planned.at(j);
        double reach = kFrameReach;
        double back = 0;
        if (kind == CutKind::KeyFrames)
            reach = j == 0 ? kEdge : kKeyReach;
        else if (kind == CutKind::Frames && j + 1 < planned.size())
            back = kDecodeReach; // the key frames a re-encoded section decodes from
        reads.append(ReadSpan{p - kSameTime - kEdge - back, p + reach});
    }
    return reads;
}

CutPlan UnprobedCuts(const QList<double>& planned, CutKind kind, bool copies)
{
    CutPlan plan;
    plan.kind = kind;
    plan.copies = copies;
    plan.planned = planned;
    for (const double p : planned) {
        CutPoint c;
        c.time = p;
        plan.points.append(c);
    }
    return plan;
}

CutLookup PlaceCuts(const QList<double>& planned, CutKind kind, bool copies, const ProbeData& probe, int stream)
{
    CutLookup result;
    const StreamView v = ViewOf(probe, stream);
    CutPlan plan;
    plan.kind = kind;
    plan.copies = copies;
    plan.planned = planned;
    plan.probed = true;
    plan.sourceEnd = v.end;

    auto readOn = [&](double from, std::optional<double> to) { result.toRead.append(ReadSpan{from, to}); };
    const int last = int(planned.size()) - 1;
    for (int j = 0; j <= last; ++j) {
        const double p = planned.at(j);
        const double from = p - kSameTime;
        CutPoint point;
        point.time = p;

        // Every kind first asks whether the source goes on at this point at all; the start
        // of a copy is the key frame before it, which always exists.
        const bool copyStart = kind == CutKind::KeyFrames && j == 0;
        std::optional<double> frame;
        if (!copyStart) {
            frame = v.FirstFrameFrom(from);
            if (frame && !v.Covered(from, *frame))
                frame.reset(); // a frame from another stretch: one may lie between
            if (!frame) {
                if (!v.Covered(from, kInfinity)) {
                    readOn(from - kEdge, std::nullopt);
                    continue;
                }
                plan.points.append(EndPoint(v, p, kind));
                continue;
            }
        }

        switch (kind) {
        case CutKind::Times:
            break;
        case CutKind::Frames:
            point.time = *frame;
            point.margin = MarginBefore(v, *frame);
            if (v.video && j < last) {
                // Nothing lies before the source's start: a read from there covers all before.
                if (!v.Covered(std::max(*frame - kDecodeReach, -kEdge), *frame)) {
                    readOn(*frame - kDecodeReach - kEdge, *frame + kEdge);
                    continue;
                }
                point.decodeFrom = DecodeFrom(v, *frame);
            }
            break;
        case CutKind::KeyFrames: {
            if (j == last) {
                // The marked end: the copy runs on to the next key frame, so that its last
                // group of pictures is whole. Cut at the marked end, B-frames shown before it
                // would lack the picture after it they refer to, and the pictures after it
                // that are decoded first would come along.
                const ProbePacket* next = v.FirstKeyAfter(from);
                if (next && v.Covered(from, next->pts)) {
                    point = KeyCut(v, *next);
                    break;
                }
                if (v.Covered(from, kInfinity)) {
                    point = EndPoint(v, p, kind); // no key frame after it: to the end of the source
                    break;
                }
                // Further each time: a long group of pictures, then the rest of the file.
                const bool nearRead = v.Covered(from, p + kKeyReach);
                readOn(from - kEdge, nearRead && !v.Covered(from, p + kEndReach) ? std::optional<double>(p + kEndReach)
                                     : nearRead                                 ? std::nullopt
                                                                                : std::optional<double>(p + kKeyReach));
                continue;
            }
            const double at = p + kSameTime;
            if (!v.Covered(at, at)) {
                readOn(from - kEdge, p + (j == 0 ? kEdge : kKeyReach));
                continue;
            }
            const ProbePacket* before = v.LastKeyAtOrBefore(at);
            if (j == 0) {
                if (before)
                    point = KeyCut(v, *before);
                break;
            }
            const ProbePacket* after = v.FirstKeyAfter(at);
            if (after && !v.Covered(at, after->pts))
                after = nullptr;
            const ProbePacket* chosen = nullptr;
            if (after && (!before || after->pts - p < p - before->pts))
                chosen = after;
            else if (before && (after || v.Covered(at, p + (p - before->pts))))
                chosen = before; // any key frame after it lies further away
            if (!chosen) {
                readOn(from - kEdge, before ? std::optional<double>(p + (p - before->pts) + kEdge) : std::nullopt);
                continue;
            }
            point = KeyCut(v, *chosen);
            break;
        }
        }
        plan.points.append(point);
    }
    if (!result.toRead.isEmpty())
        return result;

    // In order, within the first and the last point: a key frame nearest to an inner point
    // may lie beyond the end, and sections then hold nothing.
    for (int j = 1; j < plan.points.size(); ++j) {
        CutPoint& c = plan.points[j];
        const CutPoint& prev = plan.points.at(j - 1);
        if (c.time < prev.time)
            c = prev;
    }
    const CutPoint end = plan.points.last();
    for (int j = 1; j < last; ++j) {
        CutPoint& c = plan.points[j];
        if (c.time > end.time)
            c = end;
    }
    result.plan = plan;
    return result;
}

QString FormatCutTime(double seconds)
{
    return QString::fromStdString(vt_switches::FormatClock(seconds));
}

namespace {

// Times and runs of unwritten sections a note names one by one; more are summed up.
constexpr int kTimesShown = 6;
constexpr int kRunsShown = 3;

QString JoinTimes(const QStringList& times)
{
    if (times.size() <= 1)
        return times.join(QString());
    // Many cuts: the first few and the last are enough to say where they lie.
    if (times.size() > kTimesShown)
        return times.mid(0, kTimesShown - 1).join(QStringLiteral(", ")) + QStringLiteral(", ... and ") + times.last();
    return times.mid(0, times.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + times.last();
}

} // namespace

QStringList CutNotes(const CutPlan& cuts)
{
    QStringList notes;
    if (!cuts.probed || cuts.points.size() < 2)
        return notes;
    const int count = int(cuts.points.size()) - 1;

    if (cuts.kind == CutKind::KeyFrames) {
        bool moved = false;
        for (int j = 0; j < cuts.points.size() && j < cuts.planned.size(); ++j)
            moved = moved || std::fabs(cuts.points.at(j).time - cuts.planned.at(j)) > kSameTime;
        if (moved) {
            QStringList starts;
            for (int i = 0; i < count; ++i)
                if (cuts.points.at(i + 1).time > cuts.points.at(i).time)
                    starts << FormatCutTime(cuts.points.at(i).time);
            // A section that begins with its key frame's leading pictures is copied from the key
            // frame; those pictures have a note of their own.
            const CutPoint& first = cuts.points.first();
            const double copiedFrom = first.exactStart && first.keyFrame ? *first.keyFrame : first.time;
            if (!starts.isEmpty())
                notes << (count == 1 ? QStringLiteral("Copied from the key frame at %1 on, so everything marked is inside.")
                                           .arg(FormatCutTime(copiedFrom))
                                     : QStringLiteral("Copied streams are cut on key frames: the sections begin at %1.")
                                           .arg(JoinTimes(starts)));
        }
        notes << OpenStartNotes(cuts);
        const CutPoint& last = cuts.points.last();
        if (!cuts.planned.isEmpty() && !last.sourceEnd && last.time > cuts.planned.last() + kSameTime)
            notes << QStringLiteral("The copy ends at %1, after the marked end, on a whole group of pictures.")
                         .arg(FormatCutTime(last.time));
    }

    const CutPoint& end = cuts.points.last();
    if (end.sourceEnd)
        notes << QStringLiteral("The source ends at %1, before the marked end.").arg(FormatCutTime(end.time));

    // Sections with nothing in them, in runs that share a reason.
    struct Run {
        int first, last;
        bool pastEnd;
    };
    QList<Run> runs;
    for (int i = 0; i < count; ++i) {
        if (cuts.points.at(i + 1).time > cuts.points.at(i).time)
            continue;
        const bool pastEnd = cuts.points.at(i).sourceEnd;
        if (!runs.isEmpty() && runs.last().last == i && runs.last().pastEnd == pastEnd)
            runs.last().last = i + 1;
        else
            runs.append(Run{i + 1, i + 1, pastEnd});
    }
    auto reason = [&](bool pastEnd, bool one) {
        if (pastEnd)
            return one ? QStringLiteral("the source ends before it") : QStringLiteral("the source ends before them");
        if (cuts.kind == CutKind::KeyFrames)
            return one ? QStringLiteral("its cuts fall on the same key frame")
                       : QStringLiteral("their cuts fall on the same key frame");
        return one ? QStringLiteral("no frame of the source lies in it")
                   : QStringLiteral("no frame of the source lies in them");
    };
    if (runs.size() > kRunsShown) {
        // Many: counted by reason, kept short.
        for (const bool pastEnd : {false, true}) {
            int n = 0;
            for (const Run& r : runs)
                n += r.pastEnd == pastEnd ? r.last - r.first + 1 : 0;
            if (n > 0)
                notes << QStringLiteral("%1 of the %2 sections were not written: %3.")
                             .arg(n)
                             .arg(count)
                             .arg(reason(pastEnd, false));
        }
        return notes;
    }
    for (const Run& r : runs) {
        QString who;
        if (count == 1)
            who = QStringLiteral("The output was");
        else if (r.first == r.last)
            who = QStringLiteral("Section %1 was").arg(r.first);
        else if (r.last == r.first + 1)
            who = QStringLiteral("Sections %1 and %2 were").arg(r.first).arg(r.last);
        else
            who = QStringLiteral("Sections %1 to %2 were").arg(r.first).arg(r.last);
        notes << QStringLiteral("%1 not written: %2.").arg(who, reason(r.pastEnd, r.first == r.last));
    }
    return notes;
}

namespace {

const QRegularExpression& KeyFrameNote()
{
    static const QRegularExpression re(QStringLiteral("^cut on key frames from (\\S+) to (\\S+): (.+?)\\.?$"));
    return re;
}

// "Section 2", "Sections 2 and 5", "Sections 1 to 4", "Sections 1, 3 and 6 to 8".
QString NameSections(QList<qint32> numbers)
{
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    QStringList runs;
    for (int k = 0; k < numbers.size();) {
        int j = k;
        while (j + 1 < numbers.size() && numbers.at(j + 1) == numbers.at(j) + 1)
            ++j;
        if (j == k)
            runs << QString::number(numbers.at(k));
        else if (j == k + 1)
            runs << QString::number(numbers.at(k)) << QString::number(numbers.at(j));
        else
            runs << QStringLiteral("%1 to %2").arg(numbers.at(k)).arg(numbers.at(j));
        k = j + 1;
    }
    const QString list = runs.size() == 1 ? runs.first()
                                          : runs.mid(0, runs.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ")
                                                + runs.last();
    return (numbers.size() == 1 ? QStringLiteral("Section ") : QStringLiteral("Sections ")) + list;
}

QString Sentence(QString text)
{
    if (!text.isEmpty())
        text[0] = text.at(0).toUpper();
    return text.endsWith(QLatin1Char('.')) ? text : text + QLatin1Char('.');
}

} // namespace

bool NoteSaysNothingWritten(const QString& text)
{
    const QRegularExpressionMatch m = KeyFrameNote().match(text);
    return m.hasMatch() && m.captured(1) == m.captured(2);
}

QStringList EncoderNotes(const QList<EncoderNote>& notes, qint32 sectionCount)
{
    QStringList out;
    // Key-frame cuts by reason (without its full stop), in the order the reasons came up.
    struct Fallback {
        QString reason;
        QList<qint32> sections, empty;
        QStringList starts;
        QString span; // "from A to B" of the last section
    };
    QList<Fallback> fallbacks;
    for (const EncoderNote& n : notes) {
        const QRegularExpressionMatch m = KeyFrameNote().match(n.text);
        if (!m.hasMatch()) {
            out << (sectionCount == 1 ? Sentence(n.text) : QStringLiteral("Section %1: %2").arg(n.section).arg(Sentence(n.text)));
            continue;
        }
        const QString reason = m.captured(3);
        auto it = std::find_if(fallbacks.begin(), fallbacks.end(), [&](const Fallback& f) { return f.reason == reason; });
        if (it == fallbacks.end()) {
            fallbacks.append(Fallback{reason, {}, {}, {}, {}});
            it = fallbacks.end() - 1;
        }
        if (m.captured(1) == m.captured(2)) {
            it->empty << n.section;
        } else {
            it->sections << n.section;
            it->starts << m.captured(1);
            it->span = QStringLiteral("from %1 to %2").arg(m.captured(1), m.captured(2));
        }
    }
    for (const Fallback& f : fallbacks) {
        if (sectionCount == 1) {
            out << (f.empty.isEmpty()
                        ? QStringLiteral("The video was cut on key frames instead of exact frames, %1: %2.").arg(f.span, f.reason)
                        : QStringLiteral("The output was not written: no key frame lies between its cuts (%1).").arg(f.reason));
            continue;
        }
        if (!f.sections.isEmpty()) {
            const bool one = f.sections.size() == 1;
            out << QStringLiteral("%1 %2 cut on key frames instead of exact frames (%3): %4 at %5.")
                       .arg(NameSections(f.sections), one ? QStringLiteral("was") : QStringLiteral("were"), f.reason,
                            one ? QStringLiteral("it begins") : QStringLiteral("they begin"), JoinTimes(f.starts));
        }
        if (!f.empty.isEmpty()) {
            const bool one = f.empty.size() == 1;
            out << QStringLiteral("%1 %2 not written: no key frame lies between %3 cuts (%4).")
                       .arg(NameSections(f.empty), one ? QStringLiteral("was") : QStringLiteral("were"),
                            one ? QStringLiteral("its") : QStringLiteral("their"), f.reason);
        }
    }
    return out;
}
