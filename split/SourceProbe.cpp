#include "split/SourceProbe.h"
#include "split/CommandLine.h"
#include "split/JobPlan.h"
#include "split/OpenStarts.h"
#include "split/SourceReaderLoad.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <sys/prctl.h>

namespace {

// ffprobe seeks to the key frame before a stretch and stops at the first packet past it;
// this much on either side keeps reordered frames (B-frames) of the stretch inside the read.
constexpr double kReorderRoom = 1.0;
// One run of ffprobe never takes longer than this; the points then stay as planned.
constexpr int kRunLimitMs = 120000;
constexpr int kPollMs = 20;
// A job never needs more looks than this; an open read (to the end of the file) settles
// every point after it.
constexpr int kMostReads = 4;
// More stretches than this are read as one, from the first to the last.
constexpr qsizetype kMostIntervals = 1000;
// A file's stated duration may fall short of its last packet by this much.
constexpr double kBeyondEnd = 1.0;

std::optional<double> Decimal(const QString& text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

std::optional<qint64> Ticks(QByteArrayView text)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(v) : std::nullopt;
}

// The "key=value" fields of one line of ffprobe's compact output ("section|key=value|...").
// A read lists thousands of packets: the fields are looked at in place.
template <typename Take>
void ForEachField(QByteArrayView line, Take take)
{
    qsizetype from = line.indexOf('|');
    while (from >= 0) {
        const qsizetype next = line.indexOf('|', from + 1);
        const QByteArrayView field = line.sliced(from + 1, (next < 0 ? line.size() : next) - from - 1);
        const qsizetype eq = field.indexOf('=');
        if (eq > 0)
            take(field.first(eq), field.sliced(eq + 1));
        from = next;
    }
}

struct RawPacket {
    int stream;
    qint64 pts;
    qint64 dts;
    qint64 duration;
    bool hasPts;
    bool hasDts;
    bool key;
    bool discard;
};

// The streams, the format and the packets of ffprobe's JSON, as the compact lines give them.
bool ReadJson(const QByteArray& json, QList<ProbeStream>& streams, std::optional<double>& start,
              std::optional<double>& length, QString& formatName, QList<RawPacket>& raw)
{
    QJsonParseError problem{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &problem);
    if (problem.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject top = doc.object();
    const auto ticks = [](const QJsonValue& v) -> std::optional<qint64> {
        if (!v.isDouble())
            return std::nullopt;
        return static_cast<qint64>(v.toInteger());
    };
    for (const QJsonValue& v : top.value(QLatin1String("packets")).toArray()) {
        const QJsonObject o = v.toObject();
        const std::optional<qint64> pts = ticks(o.value(QLatin1String("pts")));
        const std::optional<qint64> dts = ticks(o.value(QLatin1String("dts")));
        if (!pts && !dts)
            continue;
        RawPacket r{};
        r.stream = o.value(QLatin1String("stream_index")).toInt(-1);
        r.duration = ticks(o.value(QLatin1String("duration"))).value_or(0);
        const QString flags = o.value(QLatin1String("flags")).toString();
        r.key = flags.contains(QLatin1Char('K'));
        r.discard = flags.contains(QLatin1Char('D'));
        r.hasPts = pts.has_value();
        r.hasDts = dts.has_value();
        r.pts = pts.value_or(dts.value_or(0));
        r.dts = dts.value_or(r.pts);
        raw.append(r);
    }
    for (const QJsonValue& v : top.value(QLatin1String("streams")).toArray()) {
        const QJsonObject o = v.toObject();
        ProbeStream s;
        s.index = o.value(QLatin1String("index")).toInt(-1);
        s.type = o.value(QLatin1String("codec_type")).toString();
        const QString base = o.value(QLatin1String("time_base")).toString();
        const qsizetype slash = base.indexOf(QLatin1Char('/'));
        if (slash > 0) {
            s.timeBaseNum = base.first(slash).toLongLong();
            s.timeBaseDen = base.sliced(slash + 1).toLongLong();
        }
        s.attachedPicture = o.value(QLatin1String("disposition")).toObject().value(QLatin1String("attached_pic")).toInt() == 1;
        s.area = qint64(o.value(QLatin1String("width")).toInt()) * o.value(QLatin1String("height")).toInt();
        s.reorder = o.value(QLatin1String("has_b_frames")).toInt();
        s.codec = o.value(QLatin1String("codec_name")).toString();
        streams.append(s);
    }
    const QJsonObject format = top.value(QLatin1String("format")).toObject();
    start = Decimal(format.value(QLatin1String("start_time")).toString());
    length = Decimal(format.value(QLatin1String("duration")).toString());
    if (format.contains(QLatin1String("format_name")))
        formatName = format.value(QLatin1String("format_name")).toString();
    return true;
}

} // namespace

QString FindFfprobe(const QString& encoderPath)
{
    if (!encoderPath.isEmpty()) {
        const QFileInfo beside(QFileInfo(encoderPath).absoluteDir(), QStringLiteral("ffprobe"));
        if (beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
}

FfprobeRun RunFfprobe(const QString& ffprobe, const QStringList& args, const QString& source,
                      const std::atomic<bool>* cancel, int limitMs)
{
    FfprobeRun run;
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    // Never taken for a protocol or an option, whatever the name.
    p.start(ffprobe, args + QStringList{QStringLiteral("file:") + source}, QIODevice::ReadOnly);
    if (!p.waitForStarted(30000)) {
        run.error = QStringLiteral("ffprobe could not be started (%1).").arg(ffprobe);
        return run;
    }
    QElapsedTimer clock;
    clock.start();
    while (!p.waitForFinished(kPollMs)) {
        if (p.state() == QProcess::NotRunning)
            break;
        run.cancelled = cancel && cancel->load();
        if (run.cancelled || clock.elapsed() > limitMs) {
            p.kill();
            p.waitForFinished(5000);
            run.error = run.cancelled ? QStringLiteral("Cancelled.") : QStringLiteral("ffprobe took too long to read %1.").arg(source);
            return run;
        }
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QString says = QString::fromLocal8Bit(p.readAllStandardError()).trimmed().section(QLatin1Char('\n'), -1);
        run.error = says.isEmpty() ? QStringLiteral("ffprobe could not read %1.").arg(source) : says;
        return run;
    }
    run.output = p.readAllStandardOutput();
    run.ok = true;
    return run;
}

bool ReadSource(const QString& ffprobe, const QString& source, const QList<ReadSpan>& spans, ProbeData& probe,
                QString* error, const std::atomic<bool>* cancel, const QString& selection, TrackList* tracks,
                const QString& reader)
{
    // Times in the file are absolute; the spans count from the format's start, which a first
    // run does not know yet and takes as 0 (most files start there; a later run corrects it).
    const double offset = probe.formatStart;
    // Stretches that would be read over each other are read once; a great many points (a
    // thousand sections) then stay one read, and within what one argument may hold.
    QList<ReadSpan> sorted = spans;
    std::sort(sorted.begin(), sorted.end(), [](const ReadSpan& a, const ReadSpan& b) { return a.from < b.from; });
    QList<ReadSpan> merged;
    for (const ReadSpan& s : sorted) {
        if (!merged.isEmpty()) {
            ReadSpan& last = merged.last();
            if (!last.to || s.from - kReorderRoom <= *last.to + kReorderRoom) {
                if (last.to && (!s.to || *s.to > *last.to))
                    last.to = s.to;
                continue;
            }
        }
        merged.append(s);
    }
    if (merged.size() > kMostIntervals)
        merged = {ReadSpan{merged.first().from, merged.last().to}};
    QStringList intervals;
    QList<ReaderSpan> readerSpans;
    for (const ReadSpan& s : merged) {
        const QString from = FormatSeconds(s.from - kReorderRoom + offset);
        intervals << (s.to ? from + QLatin1Char('%') + FormatSeconds(*s.to + kReorderRoom + offset) : from + QLatin1Char('%'));
        readerSpans.append(ReaderSpan{s.from - kReorderRoom + offset,
                                      s.to ? std::optional<double>(*s.to + kReorderRoom + offset) : std::nullopt});
    }
    // With the tracks, JSON: the track list is then read by the very parser a probe of the
    // tracks alone uses.
    QStringList args{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-hide_banner"), QStringLiteral("-of"),
                     tracks ? QStringLiteral("json") : QStringLiteral("compact=p=1:nk=0"), QStringLiteral("-show_entries"),
                     tracks ? QStringLiteral("format=start_time,duration,format_name"
                                             ":stream=index,codec_type,codec_name,channels,time_base,width,height,has_b_frames"
                                             ":stream_tags:stream_disposition:chapter=start_time,end_time:chapter_tags=title"
                                             ":packet=stream_index,pts,dts,duration,flags")
                            : QStringLiteral("format=start_time,duration,format_name"
                                             ":stream=index,codec_type,codec_name,time_base,width,height,has_b_frames"
                                             ":stream_disposition=attached_pic:packet=stream_index,pts,dts,duration,flags"),
                     QStringLiteral("-read_intervals"), intervals.join(QLatin1Char(','))};
    if (tracks)
        args << QStringLiteral("-show_chapters");
    else if (!selection.isEmpty())
        args << QStringLiteral("-select_streams") << selection;

    // Read in the program where it can be: the same listing, without starting ffprobe.
    FfprobeRun run;
    const bool inProgram = !reader.isEmpty()
                           && ReadWithModule(reader, source, readerSpans, tracks ? QString() : selection,
                                             tracks != nullptr, cancel, kRunLimitMs, run);
    if (!inProgram)
        run = RunFfprobe(ffprobe, args, source, cancel, kRunLimitMs);
    if (!run.ok) {
        if (error)
            *error = run.error;
        return false;
    }

    QList<ProbeStream> streams;
    std::optional<double> start, length;
    QList<RawPacket> raw;
    const QByteArray& output = run.output;
    const bool json = tracks || inProgram;
    if (json) {
        const std::optional<TrackList> listed = tracks ? ParseTrackList(output) : std::optional<TrackList>(TrackList());
        if (!listed || !ReadJson(output, streams, start, length, probe.formatName, raw)) {
            if (error)
                *error = QStringLiteral("ffprobe could not read %1.").arg(source);
            return false;
        }
        if (tracks)
            *tracks = *listed;
    }
    const QByteArrayView all(json ? QByteArrayView() : QByteArrayView(output));
    for (qsizetype at = 0; at < all.size();) {
        qsizetype end = all.indexOf('\n', at);
        if (end < 0)
            end = all.size();
        const QByteArrayView line = all.sliced(at, end - at);
        at = end + 1;
        if (line.startsWith("packet|")) {
            RawPacket r{};
            std::optional<qint64> pts, dts;
            ForEachField(line, [&](QByteArrayView key, QByteArrayView value) {
                if (key == "stream_index")
                    r.stream = value.toInt();
                else if (key == "pts")
                    pts = Ticks(value);
                else if (key == "dts")
                    dts = Ticks(value);
                else if (key == "duration")
                    r.duration = Ticks(value).value_or(0);
                else if (key == "flags") {
                    r.key = value.contains('K');
                    r.discard = value.contains('D');
                }
            });
            if (!pts && !dts)
                continue;
            r.hasPts = pts.has_value();
            r.hasDts = dts.has_value();
            r.pts = pts.value_or(dts.value_or(0));
            r.dts = dts.value_or(r.pts);
            raw.append(r);
        } else if (line.startsWith("stream|")) {
            ProbeStream s;
            qint64 width = 0, height = 0;
            ForEachField(line, [&](QByteArrayView key, QByteArrayView value) {
                if (key == "index")
                    s.index = value.toInt();
                else if (key == "codec_type")
                    s.type = QString::fromUtf8(value);
                else if (key == "time_base") {
                    const qsizetype slash = value.indexOf('/');
                    if (slash > 0) {
                        s.timeBaseNum = value.first(slash).toLongLong();
                        s.timeBaseDen = value.sliced(slash + 1).toLongLong();
                    }
                } else if (key == "disposition:attached_pic")
                    s.attachedPicture = value == "1";
                else if (key == "width")
                    width = value.toLongLong();
                else if (key == "height")
                    height = value.toLongLong();
                else if (key == "has_b_frames")
                    s.reorder = value.toInt();
                else if (key == "codec_name")
                    s.codec = QString::fromUtf8(value);
            });
            s.area = width * height;
            streams.append(s);
        } else if (line.startsWith("format|")) {
            ForEachField(line, [&](QByteArrayView key, QByteArrayView value) {
                if (key == "start_time")
                    start = Decimal(QString::fromLatin1(value));
                else if (key == "duration")
                    length = Decimal(QString::fromLatin1(value));
                else if (key == "format_name")
                    probe.formatName = QString::fromLatin1(value);
            });
        }
    }

    probe.streams = streams;
    probe.formatStart = start.value_or(0);
    probe.formatLength = length;
    // What was read, counted from the format's start as it really is.
    for (const ReadSpan& s : merged) {
        ReadSpan known;
        known.from = s.from + offset - probe.formatStart;
        if (s.to)
            known.to = *s.to + offset - probe.formatStart;
        // ffprobe stops at the first packet past a stretch; with none left past it, it read
        // to the end of the file.
        if (known.to && length && *known.to + kReorderRoom > *length + kBeyondEnd)
            known.to.reset();
        probe.spans.append(known);
    }

    // One entry per packet; a packet met first right after a seek may lack the decode time
    // that a later, longer read gives it.
    QHash<QPair<int, double>, qsizetype> seen;
    for (qsizetype k = 0; k < probe.packets.size(); ++k)
        seen.insert({probe.packets[k].stream, probe.packets[k].pts}, k);
    for (const RawPacket& r : raw) {
        const ProbeStream* s = nullptr;
        for (const ProbeStream& c : probe.streams)
            if (c.index == r.stream)
                s = &c;
        if (!s || s->timeBaseDen <= 0)
            continue;
        const long double tick = static_cast<long double>(s->timeBaseNum) / static_cast<long double>(s->timeBaseDen);
        ProbePacket k;
        k.stream = r.stream;
        k.pts = static_cast<double>(r.pts * tick - probe.formatStart);
        k.dts = static_cast<double>(r.dts * tick - probe.formatStart);
        k.duration = static_cast<double>(r.duration * tick);
        k.key = r.key;
        k.discard = r.discard;
        k.hasDts = r.hasDts;
        const auto known = seen.constFind({k.stream, k.pts});
        if (known == seen.constEnd()) {
            seen.insert({k.stream, k.pts}, probe.packets.size());
            probe.packets.append(k);
        } else if (k.hasDts && !probe.packets[*known].hasDts) {
            probe.packets[*known] = k;
        }
    }
    return true;
}

CutLookupReport LookUpCuts(const SplitJobOrder& order, const std::atomic<bool>* cancel, TrackList* tracks)
{
    QElapsedTimer clock;
    clock.start();
    CutLookupReport report;
    const QList<double> planned = order.plan.PlannedPoints();
    const ProfileStreams profile = AnalyseProfileSwitches(order.profileSwitches);
    const bool copies = profile.videoCopied || profile.audioCopied;
    // Until the source is known, its kind of cut as the profile alone suggests it.
    CutKind kind = profile.videoOff ? (profile.audioCopied ? CutKind::Frames : CutKind::Times)
                                    : (profile.videoCopied ? CutKind::KeyFrames : CutKind::Frames);
    report.cuts = UnprobedCuts(planned, kind, copies);
    if (planned.size() < 2)
        return report;

    const QString ffprobe = FindFfprobe(order.encoderPath);
    if (ffprobe.isEmpty()) {
        report.problem = QStringLiteral("ffprobe was not found beside the encoder or on the PATH.");
        report.elapsedMs = clock.elapsed();
        return report;
    }

    const QString reader = SourceReaderFor(order.encoderPath, ffprobe);
    ProbeData probe;
    QList<ReadSpan> reads = FirstReads(planned, kind);
    // Only the kind of stream the cuts go by is listed: the packets of the others would cost
    // ffprobe and this parse the larger part of the time. Where that finds no stream to cut by
    // (sound only, or a cover picture) or fails, the look-up starts anew with all of them.
    // A first run that lists the tracks too lists every stream: the cut stream among them is the
    // same, and so are its packets.
    QString select = tracks ? QString()
                     : !profile.videoOff ? QStringLiteral("V")
                     : !profile.audioOff ? QStringLiteral("a")
                                         : QString();
    int looks = 0;
    while (looks < kMostReads) {
        QString error;
        ++report.reads;
        QElapsedTimer readClock;
        readClock.start();
        TrackList* listing = tracks && report.reads == 1 ? tracks : nullptr;
        const bool read = ReadSource(ffprobe, order.sourcePath, reads, probe, &error, cancel, select, listing, reader);
        report.tracksListed = report.tracksListed || (read && listing);
        const bool cancelled = cancel && cancel->load();
        // Tags the listing cannot take (text that is no UTF-8) must not cost the cuts: they are
        // looked up alone, as without the tracks.
        if (!read && listing && !cancelled && readClock.elapsed() < kRunLimitMs) {
            select = !profile.videoOff ? QStringLiteral("V") : !profile.audioOff ? QStringLiteral("a") : QString();
            probe = ProbeData();
            continue;
        }
        const int stream = read ? CutStream(probe, profile) : -1;
        // A read that ran out of time is not waited for twice.
        if (stream < 0 && !select.isEmpty() && !cancelled && readClock.elapsed() < kRunLimitMs) {
            select.clear();
            probe = ProbeData();
            reads = FirstReads(planned, kind);
            looks = 0;
            continue;
        }
        ++looks;
        if (!read) {
            report.problem = error;
            report.cancelled = cancelled;
            break;
        }
        if (stream < 0) {
            report.problem = QStringLiteral("The source has no stream to cut by.");
            break;
        }
        kind = KindOfCut(probe, profile);
        const CutLookup lookup = PlaceCuts(planned, kind, copies, probe, stream);
        if (lookup.plan) {
            report.cuts = *lookup.plan;
            // Sections that must not start as a plain copy of their key frame (OpenStarts.h).
            if (kind == CutKind::KeyFrames) {
                ProbeStream cut;
                for (const ProbeStream& s : probe.streams)
                    if (s.index == stream)
                        cut = s;
                if (cut.codec == QLatin1String("h264"))
                    FindRecoveryPoints(ffprobe, order.sourcePath, probe.formatStart, report.cuts, cancel, reader);
                StartOnWholePictures(report.cuts, cut.codec, cut.reorder, order.plan.extension);
            }
            break;
        }
        reads = lookup.toRead;
        // The last look reads to the end from the first point still open: that settles all.
        if (looks + 1 == kMostReads) {
            double from = reads.first().from;
            for (const ReadSpan& r : reads)
                from = std::min(from, r.from);
            reads = {ReadSpan{from, std::nullopt}};
        }
    }
    if (!report.cuts.probed && report.problem.isEmpty())
        report.problem = QStringLiteral("The cut points could not be placed on the source.");
    if (!report.cuts.probed)
        report.cuts.kind = kind;
    report.elapsedMs = clock.elapsed();
    return report;
}

CutLookupReport ResolveCuts(SplitJobOrder& order, const std::atomic<bool>* cancel)
{
    const CutLookupReport report = LookUpCuts(order, cancel);
    order.plan.cuts = report.cuts;
    return report;
}
