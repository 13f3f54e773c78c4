#include "cli/CliOptions.h"
#include "app/TimeCode.h"
#include "split/CutPoints.h"
#include "split/OutputNames.h"
#include "split/SectionModes.h"

#include <QCommandLineParser>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <tuple>

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

namespace {

const char kDescription[] =
    "Cuts a range out of each SOURCE video, as one file or as sections, with the output\n"
    "profiles and preferences of Veltrane. Outputs are named SOURCE-NAME_ClipN.EXT unless\n"
    "--name says otherwise.";

const char kEpilogue[] =
    "\n"
    "Times are HH:MM:SS[.mmm], MM:SS[.mmm] or plain seconds (90, 12.5).\n"
    "Sizes are bytes or a number with K, M, G or T (counted in 1024s), optionally less some\n"
    "bytes: 25M, 700M, 4G-1 (the largest file FAT32 holds).\n"
    "Name fields: {source} {n} {n:3} (padded) {title} {start} {end} {profile}; the default is\n"
    "{source}_Clip{n}. Names are made safe for any file system and never repeat.\n"
    "With --segments, {title} is each segment's name and {n} its number; a --join file is\n"
    "number 1 with an empty {title} (the default then names it SOURCE-NAME_Joined).\n"
    "Every video, sound and subtitle track, the chapters and the attachments are kept where\n"
    "the output's container can hold them (a profile with its own -map keeps its choice);\n"
    "--tracks keeps fewer: v, a, s or d for every track of that kind, a:1 for one of them\n"
    "(numbered from 0 per kind, as --list-tracks shows them).\n"
    "Without --overwrite or --no-overwrite an existing output is asked about on a terminal\n"
    "and kept (its section skipped) otherwise.\n"
    "\n"
    "Exit status: 0 all done, 1 a section failed, 2 bad arguments or input, 130 interrupted.\n";

CliParse Error(const QString& message)
{
    return CliParse{std::nullopt,
                    QStringLiteral("veltrane-cli: %1\nTry 'veltrane-cli --help' for more information.\n").arg(message),
                    2};
}

} // namespace

std::optional<double> ParseCliTime(const QString& text)
{
    // The window's reading, with "." whatever the locale, and stricter about the values a
    // script may pass: digits, ":" and "." only (no sign, no exponent), and below 60 the
    // minutes after hours and the seconds after minutes.
    static const QRegularExpression plain(QStringLiteral("^[0-9:.]+$"));
    const QString t = text.trimmed();
    if (!plain.match(t).hasMatch())
        return std::nullopt;
    const std::optional<TypedTime> read = ReadTypedTime(t, QLatin1Char('.'));
    if (!read || (read->parts == 3 && read->minutes >= 60) || (read->parts >= 2 && read->seconds >= 60))
        return std::nullopt;
    return read->Total();
}

QString FormatCliTime(double seconds)
{
    return FormatCutTime(seconds);
}

CliParse ParseCliArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("Start of the range (default: 0)."),
                                   QStringLiteral("TIME"));
    const QCommandLineOption end(QStringLiteral("end"), QStringLiteral("End of the range (default: the source's end)."),
                                 QStringLiteral("TIME"));
    const QCommandLineOption sections(QStringLiteral("sections"),
                                      QStringLiteral("Divide the range into N equal sections (default: one file)."),
                                      QStringLiteral("N"));
    const QCommandLineOption every(QStringLiteral("every"),
                                   QStringLiteral("Divide the range into sections of DURATION; the last one is "
                                                  "shorter."),
                                   QStringLiteral("DURATION"));
    const QCommandLineOption maxSize(QStringLiteral("max-size"),
                                     QStringLiteral("Divide the range into sections no larger than SIZE (25M, 4G-1)."),
                                     QStringLiteral("SIZE"));
    const QCommandLineOption chapters(QStringLiteral("chapters"),
                                      QStringLiteral("Divide the range at the source's chapters."));
    const QCommandLineOption splitAt(QStringLiteral("split-at"),
                                     QStringLiteral("Divide the range at these times (T1,T2,...)."),
                                     QStringLiteral("TIMES"));
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("Output name template (default: {source}_Clip{n})."),
                                  QStringLiteral("TEMPLATE"));
    const QCommandLineOption profile(QStringLiteral("profile"),
                                     QStringLiteral("Output profile: a name from the profile list or an .apf file "
                                                    "(default: the one the preferences select)."),
                                     QStringLiteral("NAME|FILE"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Output folder (default: as the preferences say: the fixed "
                                                   "folder, or the source's folder)."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"), QStringLiteral("Replace existing outputs."));
    const QCommandLineOption noOverwrite(QStringLiteral("no-overwrite"),
                                         QStringLiteral("Keep existing outputs and skip their sections."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Print the plan and the encoder's argument lists; run nothing."));
    const QCommandLineOption progress(QStringLiteral("progress"),
                                      QStringLiteral("json: one JSON object per update on standard output."),
                                      QStringLiteral("FORMAT"));
    const QCommandLineOption keepGoing(QStringLiteral("keep-going"),
                                       QStringLiteral("Go on with the next source after one failed."));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("Print errors only."));
    const QCommandLineOption tracks(QStringLiteral("tracks"),
                                    QStringLiteral("The tracks to keep: all (default) or a list such as v,a:0,a:2,s."),
                                    QStringLiteral("SPEC"));
    const QCommandLineOption listTracks(QStringLiteral("list-tracks"),
                                        QStringLiteral("Print each source's tracks and chapters; cut nothing."));
    const QCommandLineOption segments(QStringLiteral("segments"),
                                      QStringLiteral("Cut the segments listed in FILE (CSV: start,end,name), each a "
                                                     "file of its own."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption range(QStringLiteral("range"),
                                   QStringLiteral("A segment to cut; may be given more than once."),
                                   QStringLiteral("START-END"));
    const QCommandLineOption join(QStringLiteral("join"),
                                  QStringLiteral("Join the segments into one file, SOURCE-NAME_Joined.EXT."));
    const QCommandLineOption joinChapters(QStringLiteral("join-chapters"),
                                          QStringLiteral("With --join: a chapter for each segment."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    parser.addOptions({start, end, sections, every, maxSize, chapters, splitAt, name, profile, output, overwrite, noOverwrite,
                       dryRun, progress, keepGoing, quiet, tracks, listTracks, segments, range, join, joinChapters, help,
                       version});
    parser.addPositionalArgument(QStringLiteral("SOURCE"), QStringLiteral("Video files to cut."),
                                 QStringLiteral("SOURCE..."));

    if (!parser.parse(arguments))
        return Error(parser.errorText());
    if (parser.isSet(help))
    {
        // The usage line names the program as users type it, not by the path it was started by.
        QString text = parser.helpText();
        const int options = text.indexOf(QLatin1String(" [options]"));
        if (text.startsWith(QLatin1String("Usage: ")) && options > 0)
            text.replace(7, options - 7, QStringLiteral("veltrane-cli"));
        return CliParse{std::nullopt, text + QString::fromLatin1(kEpilogue), 0};
    }
    if (parser.isSet(version))
        return CliParse{std::nullopt, QStringLiteral("veltrane-cli " VT_VERSION "\n"), 0};

    // An option given twice is a slip that would silently lose one of the values.
    for (const QCommandLineOption* o :
         {&start, &end, &sections, &every, &maxSize, &splitAt, &name, &profile, &output, &progress, &tracks, &segments})
        if (parser.values(*o).size() > 1)
            return Error(QStringLiteral("--%1 is given more than once").arg(o->names().constFirst()));

    CliOptions opts;
    opts.sources = parser.positionalArguments();
    if (opts.sources.isEmpty())
        return Error(QStringLiteral("no SOURCE given"));
    for (const QString& s : opts.sources)
        if (s.isEmpty())
            return Error(QStringLiteral("an empty SOURCE is given"));

    auto readTime = [&](const QCommandLineOption& o, QString& text, std::optional<double>& value) {
        text = parser.value(o);
        value = ParseCliTime(text);
        return value.has_value();
    };
    for (auto [o, text, value] : {std::tuple{&start, &opts.startText, &opts.start}, std::tuple{&end, &opts.endText, &opts.end}})
        if (parser.isSet(*o) && !readTime(*o, *text, *value))
            return Error(QStringLiteral("--%1 %2: not a time (HH:MM:SS[.mmm], MM:SS or seconds)").arg(o->names().constFirst(), *text));
    {
        // One way of dividing the range at a time.
        QStringList ways;
        for (const QCommandLineOption* o : {&sections, &every, &maxSize, &chapters, &splitAt})
            if (parser.isSet(*o))
                ways << QStringLiteral("--") + o->names().constFirst();
        if (ways.size() == 2 && ways.contains(QStringLiteral("--sections")) && ways.contains(QStringLiteral("--every")))
            return Error(QStringLiteral("--sections and --every cannot be used together"));
        if (ways.size() > 1)
            return Error(QStringLiteral("%1 cannot be used together").arg(ways.join(QStringLiteral(", "))));
    }
    if (parser.isSet(maxSize)) {
        opts.maxSizeText = parser.value(maxSize);
        opts.maxSize = ParseByteSize(opts.maxSizeText);
        if (!opts.maxSize)
            return Error(QStringLiteral("--max-size %1: not a size of at least 1K (bytes, or a number with K, M, G or "
                                        "T, such as 25M or 4G-1)")
                             .arg(opts.maxSizeText));
    }
    opts.chapters = parser.isSet(chapters);
    if (parser.isSet(splitAt)) {
        opts.splitAtText = parser.value(splitAt);
        QString why;
        opts.splitAt = ParseTimeList(opts.splitAtText, &why);
        if (!opts.splitAt)
            return Error(QStringLiteral("--split-at %1: %2 (times are HH:MM:SS[.mmm], MM:SS or seconds, separated by commas)")
                             .arg(opts.splitAtText, why));
    }
    if (parser.isSet(name)) {
        opts.nameTemplate = parser.value(name);
        if (opts.nameTemplate.trimmed().isEmpty())
            return Error(QStringLiteral("--name: no template given"));
        if (opts.nameTemplate.contains(QLatin1Char('/')))
            return Error(QStringLiteral("--name %1: a name cannot hold a folder (use --output)").arg(opts.nameTemplate));
    }
    if (parser.isSet(sections)) {
        static const QRegularExpression whole(QStringLiteral("^\\d{1,9}$"));
        const QString n = parser.value(sections).trimmed();
        opts.sections = whole.match(n).hasMatch() ? n.toInt() : 0;
        if (opts.sections < 1 || opts.sections > kMaxCliSections)
            return Error(QStringLiteral("--sections %1: not a whole number from 1 to %2")
                             .arg(parser.value(sections))
                             .arg(kMaxCliSections));
    }
    if (parser.isSet(every)) {
        opts.everyText = parser.value(every);
        opts.every = ParseCliTime(opts.everyText);
        if (!opts.every || !(*opts.every >= 0.001))
            return Error(QStringLiteral("--every %1: not a duration of at least a millisecond (HH:MM:SS[.mmm], MM:SS or "
                                        "seconds)")
                             .arg(opts.everyText));
    }
    if (parser.isSet(profile)) {
        opts.profile = parser.value(profile);
        if (opts.profile.isEmpty())
            return Error(QStringLiteral("--profile: no profile named"));
    }
    if (parser.isSet(output)) {
        opts.outputDir = parser.value(output);
        if (opts.outputDir.isEmpty())
            return Error(QStringLiteral("--output: no folder named"));
    }
    if (parser.isSet(overwrite) && parser.isSet(noOverwrite))
        return Error(QStringLiteral("--overwrite and --no-overwrite cannot be used together"));
    opts.overwrite = parser.isSet(overwrite)     ? CliOptions::Overwrite::Always
                     : parser.isSet(noOverwrite) ? CliOptions::Overwrite::Never
                                                 : CliOptions::Overwrite::Ask;
    if (parser.isSet(progress)) {
        if (parser.value(progress) != QLatin1String("json"))
            return Error(QStringLiteral("--progress %1: the only format is json").arg(parser.value(progress)));
        opts.json = true;
    }
    if (parser.isSet(tracks)) {
        opts.tracksText = parser.value(tracks);
        QString why;
        const std::optional<TrackSelection> chosen = ParseTrackSelection(opts.tracksText, &why);
        if (!chosen)
            return Error(QStringLiteral("--tracks %1: %2").arg(opts.tracksText, why));
        opts.tracks = *chosen;
    }
    if (parser.isSet(segments) || parser.isSet(range)) {
        for (const QCommandLineOption* o : {&start, &end, &sections, &every, &maxSize, &chapters, &splitAt})
            if (parser.isSet(*o))
                return Error(QStringLiteral("--%1 cannot be used with segments").arg(o->names().constFirst()));
        if (parser.isSet(segments) && parser.isSet(range))
            return Error(QStringLiteral("--segments and --range cannot be used together"));
        if (parser.isSet(segments)) {
            QString why;
            const std::optional<QByteArray> text = ReadSegmentFile(parser.value(segments), &why);
            if (!text)
                return Error(QStringLiteral("--segments: %1").arg(why));
            const SegmentReadResult read = ParseSegmentCsv(*text);
            if (!read.error.isEmpty())
                return Error(QStringLiteral("--segments %1: %2").arg(parser.value(segments), read.error));
            if (read.segments.isEmpty())
                return Error(QStringLiteral("--segments %1: no segments in it").arg(parser.value(segments)));
            opts.segments = read.segments;
        }
        const QStringList ranges = parser.values(range);
        if (ranges.size() > kMaxSegments)
            return Error(QStringLiteral("--range: more than %1 segments").arg(kMaxSegments));
        for (const QString& r : ranges) {
            const qsizetype dash = r.indexOf(QLatin1Char('-'));
            const std::optional<double> a = dash > 0 ? ParseCliTime(r.left(dash)) : std::nullopt;
            const std::optional<double> b = dash > 0 ? ParseCliTime(r.mid(dash + 1)) : std::nullopt;
            if (!a || !b || !IsValidSegmentRange(*a, *b))
                return Error(QStringLiteral("--range %1: not START-END with START before END (HH:MM:SS[.mmm] or seconds)").arg(r));
            opts.segments.append(Segment{*a, *b, QString()});
        }
    }
    if ((parser.isSet(join) || parser.isSet(joinChapters)) && opts.segments.isEmpty())
        return Error(QStringLiteral("--%1 needs --segments or --range").arg(parser.isSet(join) ? "join" : "join-chapters"));
    if (parser.isSet(joinChapters) && !parser.isSet(join))
        return Error(QStringLiteral("--join-chapters needs --join"));
    opts.join = parser.isSet(join);
    opts.joinChapters = parser.isSet(joinChapters);
    opts.listTracks = parser.isSet(listTracks);
    opts.dryRun = parser.isSet(dryRun);
    opts.keepGoing = parser.isSet(keepGoing);
    opts.quiet = parser.isSet(quiet);
    return CliParse{opts, QString(), 0};
}
