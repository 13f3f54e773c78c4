#include "split/JobPlan.h"
#include "split/SourceProbe.h"
#include "app/PathUtils.h"
#include "app/TimeCode.h"
#include "preview/RangeMath.h"
#include "profiles/IniFile.h"
#include "split/CommandLine.h"
#include "split/OpenStarts.h"
#include "split/OutputFile.h"
#include "split/SourceReaderLoad.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

JobCheckFailure Failure(int number, const char* caption, const char* message, JobFocus focus)
{
    return JobCheckFailure{number, QString::fromLatin1(caption), QString::fromLatin1(message), focus};
}

} // namespace

std::optional<JobCheckFailure> CheckJob(const JobInputs& in, const QString& outputExtension, JobPlan* plan)
{
    if (!SourceExists(in.sourcePath))
        return Failure(1, "Invalid File", "Please specify a valid input video file.", JobFocus::Source);

    const double start = in.startSeconds ? *in.startSeconds : ParseTimeCode(in.startText, in.decimalSeparator);
    if (start == -1 || !(static_cast<double>(in.sourceLengthMs) / 1000.0 > start))
        return Failure(2, "Invalid Start Time", "Please varify the Start Time you selected.", JobFocus::None);

    const double end = in.endSeconds ? *in.endSeconds : ParseTimeCode(in.endText, in.decimalSeparator);
    if (end == -1 || !(end > 0))
        return Failure(3, "Invalid End Time", "Please varify the End Time you selected.", JobFocus::None);

    const double range = end - start;
    if (!(range > 0))
        return Failure(4, "Invalid Time", "The End Time should be later than the Start Time.", JobFocus::None);

    qint32 count = 1;
    if (in.equalSections) {
        const std::optional<qint32> n = ConvertWholeNumber(in.quantityText);
        if (!n)
            return Failure(5, "Invalid Section", "Please specify a valid section quantity.", JobFocus::SectionQty);
        count = *n;
    }

    if (!SourceExists(in.profilePath))
        return Failure(6, "Invalid Output Path", "Please select a valid output profile.", JobFocus::Profile);

    if (!FolderExists(in.outputDirText))
        return Failure(7, "Invalid Output Path", "Please specify a valid output path.", JobFocus::OutputDir);

    const JobPlan made = MakeJobPlan(start, end, in.equalSections, count, in.sourcePath, in.outputDirText,
                                     outputExtension);
    if (std::optional<JobCheckFailure> same = CheckOutputsAgainstSource(made, in.sourcePath))
        return same;
    if (plan)
        *plan = made;
    return std::nullopt;
}

JobPlan MakeJobPlan(double start, double end, bool equalSections, qint32 count, const QString& sourcePath,
                    const QString& outputFolder, const QString& outputExtension)
{
    JobPlan plan;
    plan.start = start;
    plan.end = end;
    plan.equalSections = equalSections;
    plan.count = equalSections ? count : 1;
    const double range = end - start;
    // No section runs when the quantity is 0 or less; keep the length finite anyway.
    plan.sectionLength = equalSections ? (count > 0 ? range / count : 0.0) : range;
    plan.outputFolder = WithTrailingBackslash(outputFolder);
    plan.baseName = StripExtension(ExtractFileName(sourcePath));
    plan.extension = outputExtension;
    return plan;
}

JobPlan MakeFixedLengthJobPlan(double start, double end, double every, const QString& sourcePath,
                               const QString& outputFolder, const QString& outputExtension)
{
    constexpr double kRemainderTolerance = 0.0005;
    const double sections = every > 0 ? std::ceil((end - start - kRemainderTolerance) / every) : 0;
    const qint32 count = static_cast<qint32>(std::clamp(sections, 1.0, double(std::numeric_limits<qint32>::max())));
    JobPlan plan = MakeJobPlan(start, end, true, count, sourcePath, outputFolder, outputExtension);
    plan.sectionLength = every;
    plan.lastEndsAtEnd = true;
    return plan;
}

std::optional<JobCheckFailure> CheckOutputsAgainstSource(const JobPlan& plan, const QString& sourcePath)
{
    const std::optional<QString> same = FindOutputThatIsSource(plan, sourcePath);
    if (!same)
        return std::nullopt;
    return JobCheckFailure{8, QStringLiteral("Invalid Output File"),
                           QStringLiteral("The output file \"%1\" is the source video itself or a link to it. "
                                          "Please specify another output path.")
                               .arg(*same),
                           JobFocus::OutputDir};
}

PlannedSection PlanSection(const SplitJobOrder& order, qint32 i, const QString& writtenPath)
{
    PlannedSection p;
    p.section = order.plan.Section(i);
    const QString out = writtenPath.isEmpty() ? p.section.outputPath : writtenPath;
    const QStringList extra = SectionCutArguments(p.section, AnalyseProfileSwitches(order.profileSwitches).exactCuts);
    // After the profile's own switches: its "-c copy" must not undo the subtitles' codec.
    QString switches = order.profileSwitches;
    if (order.mapping)
        for (const QString& a : order.mapping->arguments)
            switches += QLatin1Char(' ') + a;
    p.arguments = BuildSectionArguments(order.sourcePath, p.section.start, p.section.length, switches, out, extra);
    p.commandLine = BuildSectionCommandLine(order.sourcePath, p.section.start, p.section.length, switches, out, extra);
    return p;
}

bool ResolveTracks(SplitJobOrder& order, QString* error, const std::atomic<bool>* cancel)
{
    const QString ffprobe = FindFfprobe(order.encoderPath);
    if (ffprobe.isEmpty()) {
        if (error)
            *error = QStringLiteral("ffprobe was not found");
        return false;
    }
    TrackList list;
    // Inside the program where it can be (see SourceReaderFor): no start of ffprobe.
    const QString reader = SourceReaderFor(order.encoderPath, ffprobe);
    const std::optional<bool> listed =
        reader.isEmpty() ? std::nullopt : ListTracksWithModule(reader, order.sourcePath, list, error, cancel);
    if (listed ? !*listed : !ProbeTracks(ffprobe, order.sourcePath, list, error, cancel))
        return false;
    order.mapping = ComposeTrackMapping(list, order.tracks, order.plan.extension.mid(1), order.profileSwitches);
    return true;
}

QStringList SectionCutArguments(const JobSection& section, bool exactCuts)
{
    QStringList extra;
    if (section.videoEndDts)
        extra << QStringLiteral("-video_end_dts") << FormatSeconds(*section.videoEndDts);
    if (section.videoEndDts && section.videoDtsStored)
        extra << QStringLiteral("-video_dts") << QStringLiteral("stored");
    if (section.videoShownUntil)
        extra << QStringLiteral("-video_shown_until") << FormatSeconds(*section.videoShownUntil);
    // A copied stream would otherwise bring packets from before the cut along (audio
    // decoded ahead of it), which the section before holds already.
    if (section.copies)
        extra << QStringLiteral("-copypriorss") << QStringLiteral("0");
    if (section.exactStartKey)
        extra << QStringLiteral("-cut_start") << FormatSeconds(*section.exactStartKey);
    if ((exactCuts || section.exactStartKey) && section.followed)
        extra << QStringLiteral("-cut_end") << QStringLiteral("next");
    // The exact cut finds its own way into copied video.
    if (section.decodeFrom && !exactCuts)
        extra << QStringLiteral("-decode_from") << FormatSeconds(*section.decodeFrom);
    return extra;
}

QList<PlannedSection> PlanSections(const SplitJobOrder& order)
{
    QList<PlannedSection> all;
    for (qint64 i = 1; i <= order.plan.count; ++i) // wide enough to step past the largest count
        all.append(PlanSection(order, static_cast<qint32>(i)));
    return all;
}

namespace {
// Where section i begins by the plan alone.
double PlannedStart(const JobPlan& plan, qint32 i)
{
    if (!plan.equalSections)
        return plan.start;
    if (!plan.bounds.isEmpty())
        return plan.bounds.value(i - 1, plan.end);
    const long double at = static_cast<long double>(plan.start)
                           + static_cast<long double>(i - 1) * static_cast<long double>(plan.sectionLength);
    return static_cast<double>(at);
}
} // namespace

JobSection JobPlan::Section(qint32 i) const
{
    JobSection s;
    s.number = i;
    s.outputPath = OutputPath(i);
    if (cuts && i >= 1 && i < cuts->points.size()) {
        const CutPoint& a = cuts->points.at(i - 1);
        const CutPoint& b = cuts->points.at(i);
        s.start = a.time;
        s.end = b.time;
        s.empty = !(b.time > a.time);
        s.length = s.empty ? 0.0 : std::max(0.0, b.time - a.time - b.margin);
        s.copies = cuts->copies;
        if (cuts->kind == CutKind::KeyFrames && b.dts && !b.sourceEnd && !s.empty) {
            s.videoEndDts = *b.dts - a.time - b.dtsMargin;
            // One reading stretches and restores the video's time stamps in the source's own
            // time base, which MP4 keeps and Matroska's milliseconds do not.
            static const QStringList keepsTimeBase{".mp4", ".m4v", ".mov", ".3gp"};
            s.videoDtsStored = b.dtsStored && keepsTimeBase.contains(extension.toLower());
            // An open group of pictures after the cut: its first pictures show before its key
            // frame, in this section. The copy runs on past them in decode order, the key frame
            // with it, which the MP4 edit list then hides; Matroska has no way to hide it.
            if (b.leadingEndDts && s.videoDtsStored) {
                s.videoEndDts = *b.leadingEndDts - a.time - b.dtsMargin;
                s.videoShownUntil = b.time - a.time;
            }
        }
        if (cuts->kind == CutKind::Frames && a.decodeFrom && *a.decodeFrom < a.time - kSameTime && !s.empty)
            s.decodeFrom = std::max(0.0, *a.decodeFrom);
        if (cuts->kind == CutKind::KeyFrames && !s.empty) {
            if (a.exactStart)
                s.exactStartKey = a.keyFrame.value_or(a.time);
            if (a.refreshFrom && *a.refreshFrom < a.time - kSameTime && OutputHidesPictures(extension))
                s.decodeFrom = std::max(0.0, *a.refreshFrom);
        }
        s.followed = i < count && i + 1 < cuts->points.size() && cuts->points.at(i + 1).time > b.time;
        return s;
    }
    s.followed = i < count;
    s.length = sectionLength;
    s.start = PlannedStart(*this, i);
    if (equalSections && lastEndsAtEnd && i == count)
        s.length = end - s.start;
    if (!bounds.isEmpty())
        s.length = bounds.value(i, end) - s.start;
    s.end = s.start + s.length;
    return s;
}

QList<double> JobPlan::PlannedPoints() const
{
    QList<double> points;
    if (count <= 0)
        return points;
    if (!bounds.isEmpty())
        return bounds;
    for (qint64 i = 1; i <= count; ++i)
        points.append(PlannedStart(*this, static_cast<qint32>(i)));
    points.append(end);
    return points;
}

QString JobPlan::OutputPath(qint32 i) const
{
    if (!names.isEmpty())
        return outputFolder + names.value(i - 1);
    if (i >= 1 && i <= outputNames.size())
        return outputFolder + outputNames.at(i - 1) + extension;
    return outputFolder + baseName + QStringLiteral("_Clip") + QString::number(i) + extension;
}

QString JobPlan::NamePrefix() const
{
    if (names.isEmpty())
        return baseName + QStringLiteral("_Clip");
    QString prefix = names.first();
    for (const QString& n : names) {
        qsizetype k = 0;
        while (k < prefix.size() && k < n.size() && prefix.at(k) == n.at(k))
            ++k;
        prefix.truncate(k);
    }
    return prefix;
}

// ---- progress

std::optional<double> ProgressValueOfChunk(const QByteArray& chunk)
{
    // The text ends at its first zero byte, as a C string would.
    const int zero = chunk.indexOf('\0');
    const QByteArray text = zero >= 0 ? chunk.left(zero) : chunk;
    const int at = text.indexOf("time");
    if (at < 0) // a chunk without "time" carries no progress, whatever else it holds
        return std::nullopt;
    const QByteArray rest = text.mid(at + 5); // the four letters and one separator
    const int blank = rest.indexOf(' ');
    if (blank <= 0)
        return std::nullopt;
    bool ok = false;
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    const double v = c.toDouble(QString::fromLatin1(rest.left(blank)).trimmed(), &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

int ClampBarPosition(double position)
{
    if (!(position > 0)) // also NaN
        return 0;
    if (position > 100)
        return 100;
    return static_cast<int>(position);
}

int CurrentBarPosition(double lastTime, double sectionLength)
{
    if (sectionLength == 0)
        return 0;
    return ClampBarPosition(RoundHalfEvenInt(lastTime / sectionLength * 100.0));
}

int TotalBarPosition(int currentPosition, qint64 sectionNumber, qint64 sectionCount)
{
    if (sectionCount <= 0)
        return 0;
    const double total = (static_cast<double>(currentPosition) + static_cast<double>(sectionNumber - 1) * 100.0)
                         / static_cast<double>(sectionCount);
    return ClampBarPosition(RoundHalfEvenInt(total));
}

qint64 RemainingSeconds(qint64 elapsed, int totalPosition)
{
    if (totalPosition == 0)
        return 0;
    return static_cast<qint64>(RoundHalfEvenInt(static_cast<double>(elapsed) / (totalPosition / 100.0))) - elapsed;
}

bool SectionProgress::Feed(const QByteArray& chunk)
{
    const std::optional<double> v = ProgressValueOfChunk(chunk);
    if (!v || !(*v > m_last) || !(*v < kProgressLimit))
        return false;
    m_last = *v;
    return true;
}
