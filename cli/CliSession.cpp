#include "cli/CliSession.h"
#include "app/PathUtils.h"
#include "app/VtError.h"
#include "profiles/ProfileFormat.h"
#include "split/CommandLine.h"
#include "split/OutputFile.h"
#include "split/SourceProbe.h"
#include "split/SectionModes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cmath>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kProbeTimeoutMs = 120000;

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

CliReport::Mode ReportMode(const CliOptions& o)
{
    if (o.json)
        return CliReport::Mode::Json;
    if (o.quiet)
        return CliReport::Mode::Quiet;
    return IsTerminal(STDERR_FILENO) ? CliReport::Mode::Terminal : CliReport::Mode::Lines;
}

QString Absolute(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

QString LastLine(const QByteArray& text)
{
    const QList<QByteArray> lines = text.trimmed().split('\n');
    return lines.isEmpty() ? QString() : QString::fromLocal8Bit(lines.last().trimmed());
}

// Why a path given on the command line names no file to read, as the system sees it;
// empty when it names a regular file.
QString WhyNoFile(const QString& given, const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        const int error = errno;
        // Bytes that are no UTF-8 reach us as replacement characters, naming nothing.
        if (given.contains(QChar::ReplacementCharacter))
            return QStringLiteral("its name is not valid UTF-8");
        switch (error) {
        case ENOENT: {
            struct stat link {};
            return ::lstat(QFile::encodeName(path).constData(), &link) == 0
                       ? QStringLiteral("no such file (a symbolic link to nothing)")
                       : QStringLiteral("no such file");
        }
        case ENAMETOOLONG: return QStringLiteral("the path is longer than the system allows");
        case ELOOP: return QStringLiteral("its symbolic links form a loop");
        case ENOTDIR: return QStringLiteral("a part of its path is not a folder");
        default: return QString::fromLocal8Bit(std::strerror(error));
        }
    }
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("not a file (a folder)");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("not a file (a pipe, socket or device)");
    return QString();
}

} // namespace

CliSession::CliSession(const CliOptions& options, int interruptFd)
    : m_options(options), m_interruptFd(interruptFd), m_report(ReportMode(options))
{
}

void CliSession::Start()
{
    // Called from the application's event loop, which the jobs then run in.
    if (const std::optional<int> status = PlanAll()) {
        QCoreApplication::exit(*status);
        return;
    }
    m_current = -1;
    RunNext();
}

std::optional<int> CliSession::PlanAll()
{
    QList<SourcePlan>& plans = m_plans;
    try {
        Prepare();
        if (m_options.listTracks)
            return ListTracks();
        for (const QString& source : m_options.sources) {
            if (m_interrupted)
                break;
            plans.append(PlanSource(source));
        }
    } catch (const CliInputError& e) {
        m_report.Error(e.message());
        return 2;
    }
    if (m_interrupted) {
        m_report.Error(QStringLiteral("interrupted"));
        return 130;
    }
    RefuseClashes(plans);

    QList<SourceResult>& results = m_results;
    bool refused = false;
    for (const SourcePlan& p : plans) {
        SourceResult r;
        r.source = p.order ? p.order->sourcePath : Absolute(p.source);
        if (!p.order) {
            r.outcome = SourceResult::Outcome::Invalid;
            r.message = p.refusal;
            m_report.Refused(r.source, p.refusal);
            refused = true;
        }
        results.append(r);
    }

    if (m_options.dryRun) {
        for (const SourcePlan& p : plans) {
            if (!p.order)
                continue;
            if (!m_options.segments.isEmpty()) {
                // The segments and the files they go to; each is cut as a range of its own.
                const SegmentJobOrder so = SegmentOrder(*p.order);
                const QStringList outputs = SegmentJobOutputs(so);
                for (int k = 0; k < so.segments.size(); ++k)
                    m_report.Line(QStringLiteral("%1: segment %2: %3 - %4%5")
                                      .arg(p.source)
                                      .arg(k + 1)
                                      .arg(FormatCliTime(so.segments[k].start), FormatCliTime(so.segments[k].end),
                                           m_options.join ? QString() : QStringLiteral(" -> ") + outputs.value(k)));
                if (m_options.join)
                    m_report.Line(QStringLiteral("%1: joined into %2").arg(p.source, outputs.value(0)));
                continue;
            }
            // The sections as the job will cut them: on the frames or key frames it finds.
            SplitJobOrder order = *p.order;
            const CutLookupReport lookup = ResolveCuts(order);
            m_report.CutsPlaced(order.sourcePath, lookup.cuts, lookup.problem);
            if (order.mapping && m_report.GetMode() != CliReport::Mode::Quiet)
                for (const QString& note : order.mapping->notes) // the tracks the output cannot hold
                    m_report.Warning(QStringLiteral("%1: %2").arg(p.source, note));
            m_report.Plan(order, p.length, m_profileName, PlanSections(order));
        }
        return refused ? 2 : 0;
    }
    // Nothing runs while the call itself is wrong, unless asked to go on.
    if (refused && !m_options.keepGoing) {
        m_report.Summary(results, 2);
        return 2;
    }
    return std::nullopt;
}

void CliSession::RunNext()
{
    const int count = int(m_plans.size());
    while (++m_current < count && !m_plans[m_current].order) {
    }
    if (m_current >= count || m_stop || m_interrupted) {
        const int status = ExitStatus(m_results);
        if (m_interrupted)
            m_report.Error(QStringLiteral("interrupted; no partial output is left"));
        m_report.Summary(m_results, status);
        QCoreApplication::exit(status);
        return;
    }
    if (m_options.segments.isEmpty())
        StartSource(m_current + 1, count, *m_plans[m_current].order);
    else
        StartSegments(m_current + 1, count, *m_plans[m_current].order);
}

void CliSession::Interrupt()
{
    if (m_interruptFd >= 0) {
        char buf[16];
        while (::read(m_interruptFd, buf, sizeof buf) > 0) {
        }
    }
    m_interrupted = true;
    if (m_job)
        m_job->Cancel();
    if (m_segmentJob)
        m_segmentJob->Cancel();
}

bool CliSession::InterruptPending() const
{
    if (m_interruptFd < 0)
        return false;
    pollfd fd{m_interruptFd, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

void CliSession::Prepare()
{
    m_paths = ResolveAppPaths(QCoreApplication::applicationDirPath());
    try {
        PrepareUserFiles(m_paths);
    } catch (const EVeltraneError& e) {
        m_report.Warning(e.message()); // as the window does: said, and the call goes on
    }
    const PreferencesStore preferences(m_paths);
    const QString unusable = preferences.Unusable();
    if (unusable.isEmpty()) {
        m_prefs = ReadPreferenceValues(preferences, QStringLiteral("Main"), m_paths.defaultOutputDir);
    } else {
        // The built-in fallbacks would send a portable copy's outputs into its own folder.
        m_prefs = m_paths.defaultPreferencesFile.isEmpty()
                      ? ShippedPreferenceValues(m_paths.defaultOutputDir)
                      : ReadPreferenceValues(preferences, QStringLiteral("Main"), m_paths.defaultOutputDir);
        m_report.Warning(unusable + QStringLiteral("; the defaults are used"));
    }
    ChooseProfile();
    m_ffprobe = FindFfprobe(m_paths.encoderPath);
    if (m_ffprobe.isEmpty())
        throw CliInputError(QStringLiteral("ffprobe was found neither beside the encoder nor on the PATH; it reads "
                                           "the sources' lengths (please install ffmpeg)"));
}

void CliSession::ChooseProfile()
{
    const QString& wanted = m_options.profile;
    if (!wanted.isEmpty() && (wanted.contains(QLatin1Char('/')) || wanted.endsWith(QLatin1String(".apf"), Qt::CaseInsensitive))) {
        m_profilePath = Absolute(wanted);
        m_profileName = StripExtension(ExtractFileName(m_profilePath));
        const QString why = WhyNoFile(wanted, m_profilePath);
        if (!why.isEmpty())
            throw CliInputError(QStringLiteral("--profile %1: %2").arg(wanted, why));
    } else {
        QStringList names;
        QString listError;
        try {
            for (const QString& file : ListFilesByExtension(m_paths.profilesDir, QStringLiteral(".apf")))
                names << StripExtension(file);
        } catch (const EVeltraneError& e) {
            listError = e.message();
        }
        if (wanted.isEmpty()) {
            if (!listError.isEmpty())
                throw CliInputError(listError);
            // The preference is a position in the profile list, as the window keeps it.
            if (m_prefs.profile < 0 || m_prefs.profile >= names.size())
                throw CliInputError(QStringLiteral("the preferences (%1) select no profile of the %2 in %3; name one "
                                                   "with --profile")
                                        .arg(m_paths.preferencesFile)
                                        .arg(names.size())
                                        .arg(m_paths.profilesDir));
            m_profileName = names.at(m_prefs.profile);
        } else {
            m_profileName = wanted;
        }
        m_profilePath = ProfilePath(m_paths.profileRoot, m_profileName);
        if (!SourceExists(m_profilePath))
            throw CliInputError(QStringLiteral("--profile %1: no such profile in %2%3")
                                    .arg(wanted, m_paths.profilesDir,
                                         names.isEmpty() ? QString()
                                                         : QStringLiteral("; the profiles are: ") + names.join(QStringLiteral(", "))));
    }

    // The switches as the window builds them for a freshly loaded profile.
    try {
        const ProfileContent content = ReadProfile(m_profilePath);
        if (content.type.contains(QLatin1Char('/')))
            throw CliInputError(QStringLiteral("profile %1: its Type \"%2\" is no file extension").arg(m_profilePath, content.type));
        m_extension = QLatin1Char('.') + content.type;
        const QHash<QPair<int, QString>, QString> shown = LoadedGridValues(content);
        m_switches = BuildProfileSwitches(m_profilePath, [&shown](int sort, const QString& name) {
            return shown.value({sort, name});
        });
    } catch (const EVeltraneError& e) {
        throw CliInputError(QStringLiteral("profile %1: %2").arg(m_profilePath, e.message()));
    }
}

int CliSession::ListTracks()
{
    int status = 0;
    for (const QString& source : m_options.sources) {
        const QString path = Absolute(source);
        TrackList list;
        QString error;
        if (const QString why = WhyNoFile(source, path); !why.isEmpty()) {
            m_report.Refused(path, QStringLiteral("%1: %2").arg(source, why));
            status = 2;
        } else if (!ProbeTracks(m_ffprobe, path, list, &error)) {
            m_report.Refused(path, QStringLiteral("%1: its tracks cannot be listed (%2)").arg(source, error));
            status = 2;
        } else {
            m_report.Tracks(path, list);
        }
    }
    return status;
}

CliSession::SourcePlan CliSession::PlanSource(const QString& source)
{
    SourcePlan p;
    p.source = source;
    const QString path = Absolute(source);
    if (const QString why = WhyNoFile(source, path); !why.isEmpty()) {
        p.refusal = QStringLiteral("%1: %2").arg(source, why);
        return p;
    }
    QString probeError;
    const std::optional<double> length = ProbeLength(path, &probeError);
    if (!length) {
        p.refusal = QStringLiteral("%1: its length cannot be read (%2)").arg(source, probeError);
        return p;
    }
    p.length = *length;

    const bool fromPreferences = m_options.outputDir.isEmpty();
    const QString outputDir = !fromPreferences ? Absolute(m_options.outputDir)
                              : m_prefs.aptotic ? m_prefs.outputDir
                                                : ExtractFolder(path);
    // A common --end for a batch means "up to there": a source that ends earlier is cut up to
    // its own end, rather than given sections that lie past it and would come out empty.
    // Segments are checked as one range from the first start to the last end.
    std::optional<double> optionStart = m_options.start, optionEnd = m_options.end;
    for (const Segment& s : m_options.segments) {
        optionStart = std::min(optionStart.value_or(s.start), s.start);
        optionEnd = std::max(optionEnd.value_or(s.end), s.end);
    }
    double end = optionEnd.value_or(*length);
    if (!m_options.segments.isEmpty() && end > *length && optionStart.value_or(0.0) < *length) {
        if (m_report.GetMode() != CliReport::Mode::Quiet)
            m_report.Warning(QStringLiteral("the segments reach past the end of %1 (%2); they are cut up to its end")
                                 .arg(source, FormatCliTime(*length)));
        end = *length;
    } else if (end > *length && m_options.start.value_or(0.0) < *length) {
        if (m_report.GetMode() != CliReport::Mode::Quiet)
            m_report.Warning(QStringLiteral("--end %1 lies past the end of %2; it is cut up to its end (%3)")
                                 .arg(m_options.endText, source, FormatCliTime(*length)));
        end = *length;
    }
    JobInputs in;
    in.sourcePath = path;
    in.startSeconds = optionStart.value_or(0.0);
    in.endSeconds = end;
    in.equalSections = m_options.sections > 0;
    in.quantityText = QString::number(m_options.sections);
    in.profilePath = m_profilePath;
    in.outputDirText = outputDir;
    in.sourceLengthMs = std::llround(*length * 1000.0);
    JobPlan plan;
    if (const std::optional<JobCheckFailure> failure = CheckJob(in, m_extension, &plan)) {
        p.refusal = DescribeFailure(*failure, p, outputDir);
        return p;
    }
    if (m_options.every) {
        plan = MakeFixedLengthJobPlan(plan.start, plan.end, *m_options.every, path, outputDir, m_extension);
        if (plan.count > kMaxCliSections) {
            p.refusal = QStringLiteral("--every %1 gives %2 sections of %3; at most %4")
                            .arg(m_options.everyText)
                            .arg(plan.count)
                            .arg(source)
                            .arg(kMaxCliSections);
            return p;
        }
        if (const std::optional<JobCheckFailure> failure = CheckOutputsAgainstSource(plan, path)) {
            p.refusal = DescribeFailure(*failure, p, outputDir);
            return p;
        }
    }
    // The window's template unless the call names its own.
    plan.nameTemplate = m_options.nameTemplate.isEmpty() ? m_prefs.nameTemplate : m_options.nameTemplate;
    plan.profileName = m_profileName;
    if (m_options.splitAt)
        ApplyBounds(plan, BoundariesAtPoints(plan.start, plan.end, *m_options.splitAt));
    if (m_options.chapters)
        plan.pending = SectionRequest{SectionMode::Chapters};
    if (m_options.maxSize)
        plan.pending = SectionRequest{SectionMode::Size, 0, *m_options.maxSize};
    if (plan.pending) {
        // Placed on the source now, so that names, clashes and a dry run see the sections.
        SplitJobOrder placing{path, plan, m_switches, m_paths.encoderPath, m_options.tracks, std::nullopt};
        QString why;
        if (!ResolveSections(placing, &why)) {
            p.refusal = QStringLiteral("%1: %2 %3")
                            .arg(source, m_options.chapters ? QStringLiteral("--chapters:") : QStringLiteral("--max-size %1:").arg(m_options.maxSizeText), why);
            return p;
        }
        plan = placing.plan;
    }
    if (plan.count > kMaxCliSections) {
        p.refusal = QStringLiteral("%1: %2 sections; at most %3").arg(source).arg(plan.count).arg(kMaxCliSections);
        return p;
    }
    if (!NamePlanSections(plan)) {
        p.refusal = QStringLiteral("%1: --name: at most %2 sections can be named").arg(source).arg(kMostNamedSections);
        return p;
    }
    if (!plan.names.isEmpty())
        if (const std::optional<JobCheckFailure> failure = CheckOutputsAgainstSource(plan, path)) {
            p.refusal = DescribeFailure(*failure, p, outputDir);
            return p;
        }
    if (!QFileInfo(plan.outputFolder).isWritable()) {
        p.refusal = QStringLiteral("%1: the output folder %2 cannot be written").arg(source, plan.outputFolder);
        return p;
    }
    if (!m_options.segments.isEmpty()) {
        // Every file the segments write, checked against the source as the sections' are.
        SegmentJobOrder so = SegmentOrder(SplitJobOrder{path, plan, m_switches, m_paths.encoderPath, m_options.tracks, std::nullopt});
        plan.outputNames.clear();
        for (const QString& out : SegmentJobOutputs(so))
            plan.outputNames << QFileInfo(out).completeBaseName();
        plan.count = qint32(plan.outputNames.size());
        if (const std::optional<JobCheckFailure> failure = CheckOutputsAgainstSource(plan, path)) {
            p.refusal = DescribeFailure(*failure, p, outputDir);
            return p;
        }
    }
    p.order = SplitJobOrder{path, plan, m_switches, m_paths.encoderPath, m_options.tracks, std::nullopt};
    TrackList list;
    QString trackError;
    if (ProbeTracks(m_ffprobe, path, list, &trackError)) {
        if (const QStringList missing = MissingTracks(m_options.tracks, list); !missing.isEmpty()) {
            p.refusal = QStringLiteral("%1: --tracks %2 names %3, which it does not have (see --list-tracks)")
                            .arg(source, m_options.tracksText, missing.join(QStringLiteral(", ")));
            p.order.reset();
            return p;
        }
        p.order->mapping = ComposeTrackMapping(list, m_options.tracks, m_extension.mid(1), m_switches);
    } else if (!m_options.tracks.all) {
        p.refusal = QStringLiteral("%1: its tracks cannot be listed (%2)").arg(source, trackError);
        p.order.reset();
        return p;
    }
    return p;
}

QString CliSession::DescribeFailure(const JobCheckFailure& f, const SourcePlan& p, const QString& outputDir) const
{
    const QString start = m_options.start ? QStringLiteral("--start ") + m_options.startText : QStringLiteral("the start");
    const QString end = m_options.end ? QStringLiteral("--end ") + m_options.endText : QStringLiteral("the end");
    switch (f.number) {
    case 1: return QStringLiteral("%1: no such file").arg(p.source);
    case 2:
        return QStringLiteral("%1 is not before the end of %2 (its length is %3)")
            .arg(start, p.source, FormatCliTime(p.length));
    case 3: return QStringLiteral("%1: the end must be later than 00:00:00 (%2)").arg(end, p.source);
    case 4: return QStringLiteral("%1 is not later than %2 (%3)").arg(end, start, p.source);
    case 6: return QStringLiteral("--profile: no profile file at %1").arg(m_profilePath);
    case 7:
        if (!m_options.outputDir.isEmpty())
            return QStringLiteral("--output %1: no such folder").arg(m_options.outputDir);
        return QStringLiteral("the output folder %1 that the preferences (%2) name does not exist; name one with --output")
            .arg(outputDir, m_paths.preferencesFile);
    case 8: return QStringLiteral("%1: %2").arg(p.source, f.message);
    default: return QStringLiteral("%1: %2 %3").arg(p.source, f.caption, f.message);
    }
}

void CliSession::RefuseClashes(QList<SourcePlan>& plans)
{
    // Two sources of one call must not write the same files, nor one write over another's
    // source.
    QHash<QString, QString> firstOutput; // canonical folder + name of the first output -> its source
    QSet<QPair<dev_t, ino_t>> sources;
    auto fileId = [](const QString& path) -> std::optional<QPair<dev_t, ino_t>> {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return std::nullopt;
        return QPair<dev_t, ino_t>(st.st_dev, st.st_ino);
    };
    for (const SourcePlan& p : plans)
        if (p.order)
            if (const auto id = fileId(p.order->sourcePath))
                sources.insert(*id);
    QHash<QString, QString> named; // canonical folder + an output name from a template -> its source
    for (SourcePlan& p : plans) {
        if (!p.order)
            continue;
        const JobPlan& plan = p.order->plan;
        if (!plan.names.isEmpty()) {
            const QString folder = QFileInfo(plan.outputFolder).canonicalFilePath() + QLatin1Char('/');
            QString clash;
            for (const QString& n : plan.names)
                if (const auto other = named.constFind((folder + n).toLower()); other != named.cend() && other.value() != p.source)
                    clash = QStringLiteral("%1: its output %2 would replace one of %3 in the same call")
                                .arg(p.source, plan.outputFolder + n, other.value());
            if (!clash.isEmpty()) {
                p.refusal = clash;
                p.order.reset();
                continue;
            }
            for (const QString& n : plan.names)
                named.insert((folder + n).toLower(), p.source);
        }
        const QString key = QFileInfo(plan.outputFolder).canonicalFilePath() + QLatin1Char('/') + plan.baseName
                            + QStringLiteral("_Clip") + plan.extension;
        if (const auto other = firstOutput.constFind(key); plan.names.isEmpty() && other != firstOutput.cend()) {
            p.refusal = QStringLiteral("%1: its outputs %2 would replace those of %3 in the same call")
                            .arg(p.source, plan.OutputPath(1), other.value());
            p.order.reset();
            continue;
        }
        if (plan.names.isEmpty())
            firstOutput.insert(key, p.source);
        const auto own = fileId(p.order->sourcePath);
        for (qint64 i = 1; i <= plan.count; ++i) {
            const QString out = plan.OutputPath(static_cast<qint32>(i));
            const auto id = fileId(out);
            if (id && id != own && sources.contains(*id)) {
                p.refusal = QStringLiteral("%1: its output %2 is also a SOURCE of this call").arg(p.source, out);
                p.order.reset();
                break;
            }
        }
    }
}

std::optional<double> CliSession::ProbeLength(const QString& path, QString* error)
{
    // A plain wait for ffprobe; a stop signal that comes meanwhile ends it, seen by a
    // watcher, since no event loop runs here.
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done.load()) {
            if (InterruptPending()) {
                stop = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const FfprobeRun run = RunFfprobe(m_ffprobe,
                                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                       QStringLiteral("format=duration"), QStringLiteral("-of"),
                                       QStringLiteral("default=nw=1:nk=1")},
                                      path, &stop, kProbeTimeoutMs);
    done = true;
    watcher.join();
    // A Ctrl+C reaches ffprobe too, and it may end before the watcher sees our own signal.
    if (stop.load() || (!run.ok && InterruptPending()))
        Interrupt();
    if (m_interrupted) {
        *error = QStringLiteral("interrupted");
        return std::nullopt;
    }
    if (!run.ok) {
        *error = run.error.startsWith(QLatin1String("ffprobe")) ? run.error : QStringLiteral("ffprobe: ") + run.error;
        return std::nullopt;
    }
    bool ok = false;
    const double seconds = QLocale::c().toDouble(LastLine(run.output), &ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0) {
        *error = QStringLiteral("ffprobe finds no duration in it");
        return std::nullopt;
    }
    return seconds;
}

void CliSession::StartSource(int index, int count, const SplitJobOrder& order)
{
    m_running = SourceResult();
    SourceResult& r = m_running;
    r.source = order.sourcePath;
    r.sections = order.plan.count;
    r.outputFolder = order.plan.outputFolder;
    auto* running = new SplitJob(order, this);
    SplitJob& job = *running;
    connect(&job, &SplitJob::sectionStarted, this, [this](const JobSection& s, const QString&) { m_report.SectionBegins(s); });
    connect(&job, &SplitJob::progress, this, [this](int current, int total, double time) { m_report.Progress(current, total, time); });
    connect(&job, &SplitJob::clock, this, [this](qint64 elapsed, qint64 remaining) { m_report.Clock(elapsed, remaining); });
    connect(&job, &SplitJob::sectionDone, this, [this, &r](const JobSection& s) {
        ++r.done;
        m_report.SectionDone(s);
    });
    connect(&job, &SplitJob::sectionSkipped, this, [this, &r](const JobSection& s) {
        ++r.skipped;
        m_report.SectionSkipped(s);
    });
    connect(&job, &SplitJob::sectionEmpty, this, [this, &r](const JobSection& s) {
        ++r.empty;
        m_report.SectionEmpty(s);
    });
    connect(&job, &SplitJob::lookingUpCuts, this, [this] { m_report.LookingUpCuts(); });
    connect(&job, &SplitJob::cutsPlaced, this, [this, &job](const CutPlan& cuts) {
        m_report.CutsPlaced(job.Order().sourcePath, cuts, job.Lookup().problem);
    });
    connect(&job, &SplitJob::sectionFailed, this, [this](const JobSection& s, const QString& reason) { m_report.SectionFailed(s, reason); });
    job.SetOverwriteQuestion([this](const JobSection& s) { return DecideOverwrite(s); });

    m_report.SourceBegins(index, count, order, m_profileName);
    // Taken up from the loop, once the job has left its own call chain.
    connect(&job, &SplitJob::ended, this, &CliSession::SourceEnded, Qt::QueuedConnection);
    m_job = &job;
    job.Start();
}

void CliSession::SourceEnded()
{
    SplitJob* running = m_job;
    if (!running)
        return;
    m_job = nullptr;
    running->deleteLater();
    const SplitJob& job = *running;
    const SplitJobOrder& order = job.Order();
    SourceResult& r = m_running;
    r.elapsed = job.Elapsed();
    // Where the written sections really lie; an interrupted job's notes would tell of
    // sections that were never reached.
    const bool ran = job.Result() == SplitJob::Outcome::Completed || job.Result() == SplitJob::Outcome::Failed;
    if (ran && job.Order().plan.cuts)
        r.notes = CutNotes(*job.Order().plan.cuts);
    if (ran && job.Order().mapping)
        r.notes += job.Order().mapping->notes;

    switch (job.Result()) {
    case SplitJob::Outcome::Completed:
        r.outcome = SourceResult::Outcome::Completed;
        r.message = job.CompletionNotes().join(QLatin1Char(' ')); // where the cuts really fell
        break;
    case SplitJob::Outcome::Failed:
        r.outcome = SourceResult::Outcome::Failed;
        r.message = QStringLiteral("section %1 failed: %2").arg(job.FailedSection().number).arg(job.FailureReason());
        break;
    case SplitJob::Outcome::EncoderMissing:
        r.outcome = SourceResult::Outcome::EncoderMissing;
        r.message = QStringLiteral("the encoder %1 could not be started; please re-install Veltrane").arg(order.encoderPath);
        m_report.Error(r.message);
        break;
    case SplitJob::Outcome::Refused:
        r.outcome = SourceResult::Outcome::Refused;
        r.message = job.FailureReason();
        m_report.Error(QStringLiteral("%1: %2").arg(order.sourcePath, r.message));
        break;
    default: // cancelled, or stopped at the question
        r.outcome = SourceResult::Outcome::Cancelled;
        break;
    }
    SourceDone(r);
}

void CliSession::SourceDone(const SourceResult& r)
{
    m_report.SourceEnds(r);
    m_results[m_current] = r;
    switch (r.outcome) {
    case SourceResult::Outcome::Failed:
    case SourceResult::Outcome::Refused:
        m_stop = !m_options.keepGoing;
        break;
    case SourceResult::Outcome::EncoderMissing: // every other source would fail alike
    case SourceResult::Outcome::Cancelled:
        m_stop = true;
        break;
    default:
        break;
    }
    RunNext();
}

SegmentJobOrder CliSession::SegmentOrder(const SplitJobOrder& order) const
{
    SegmentJobOrder so;
    so.base = order;
    so.outputFolder = order.plan.outputFolder;
    so.baseName = StripExtension(ExtractFileName(order.sourcePath));
    so.extension = m_extension;
    so.segments = m_options.segments;
    so.output = m_options.join ? SegmentOutput::Joined : SegmentOutput::Separate;
    so.chaptersAtJoins = m_options.joinChapters;
    so.nameTemplate = order.plan.nameTemplate;
    so.profileName = m_profileName;
    return so;
}

void CliSession::StartSegments(int index, int count, const SplitJobOrder& order)
{
    m_running = SourceResult();
    m_running.source = order.sourcePath;
    m_running.sections = m_options.join ? 1 : int(m_options.segments.size());
    m_running.outputFolder = order.plan.outputFolder;
    auto* job = new SegmentJob(SegmentOrder(order), this);
    SplitJobOrder shown = order;
    shown.plan.count = qint32(m_options.segments.size());
    m_report.SourceBegins(index, count, shown, m_profileName);
    connect(job, &SegmentJob::segmentStarted, this, [this](int i, int, const QString& output) {
        JobSection s;
        s.number = i;
        s.start = m_options.segments.at(i - 1).start;
        s.length = m_options.segments.at(i - 1).end - s.start;
        s.outputPath = output;
        m_report.SectionBegins(s);
    });
    connect(job, &SegmentJob::progress, this, [this](int current, int total) { m_report.Progress(current, total, 0); });
    connect(job, &SegmentJob::joining, this, [this](const QString& output) {
        m_report.Line(QStringLiteral("joining the segments into %1").arg(output));
    });
    job->SetOverwriteQuestion([this](const JobSection& s) { return DecideOverwrite(s); });
    // Taken up from the loop, once the job has left its own call chain.
    connect(job, &SegmentJob::ended, this, &CliSession::SegmentsEnded, Qt::QueuedConnection);
    m_segmentJob = job;
    m_segmentClock.start();
    job->Start();
}

void CliSession::SegmentsEnded()
{
    SegmentJob* job = m_segmentJob;
    if (!job)
        return;
    m_segmentJob = nullptr;
    job->deleteLater();
    SourceResult& r = m_running;
    const QString source = r.source;
    r.elapsed = m_segmentClock.elapsed() / 1000;
    r.done = int(job->Written().size());
    r.notes = job->Notes();
    for (const QString& w : job->Written())
        r.notes << QStringLiteral("written: %1").arg(w);
    switch (job->Result()) {
    case SegmentJob::Outcome::Completed: r.outcome = SourceResult::Outcome::Completed; break;
    case SegmentJob::Outcome::Failed:
        r.outcome = SourceResult::Outcome::Failed;
        r.message = job->FailureReason();
        m_report.Error(QStringLiteral("%1: %2").arg(source, r.message));
        break;
    case SegmentJob::Outcome::EncoderMissing:
        r.outcome = SourceResult::Outcome::EncoderMissing;
        r.message = job->FailureReason();
        m_report.Error(r.message);
        break;
    case SegmentJob::Outcome::Refused:
        r.outcome = SourceResult::Outcome::Refused;
        r.message = job->FailureReason();
        m_report.Error(QStringLiteral("%1: %2").arg(source, r.message));
        break;
    default: r.outcome = SourceResult::Outcome::Cancelled; break;
    }
    SourceDone(r);
}

SplitJob::Overwrite CliSession::DecideOverwrite(const JobSection& section)
{
    switch (m_options.overwrite) {
    case CliOptions::Overwrite::Always: return SplitJob::Overwrite::Replace;
    case CliOptions::Overwrite::Never: return SplitJob::Overwrite::Skip;
    case CliOptions::Overwrite::Ask: break;
    }
    if (m_replaceAll)
        return SplitJob::Overwrite::Replace;
    // Nobody to ask: an existing file is never replaced unasked.
    if (m_noMoreAnswers || !IsTerminal(STDIN_FILENO) || !IsTerminal(STDERR_FILENO))
        return SplitJob::Overwrite::Skip;
    return AskOverwrite(section);
}

SplitJob::Overwrite CliSession::AskOverwrite(const JobSection& section)
{
    m_report.ClearLine();
    for (;;) {
        const QByteArray prompt =
            QStringLiteral("%1 exists. Replace it? [y]es, [n]o, [a]ll: ").arg(section.outputPath).toLocal8Bit();
        [[maybe_unused]] const ssize_t w = ::write(STDERR_FILENO, prompt.constData(), size_t(prompt.size()));
        QByteArray answer;
        bool ended = false;
        // The answer is read while a Ctrl+C can still stop the call.
        for (;;) {
            pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_interruptFd, POLLIN, 0}};
            if (::poll(fds, m_interruptFd >= 0 ? 2 : 1, -1) < 0) {
                if (errno == EINTR)
                    continue;
                ended = true;
                break;
            }
            if (m_interruptFd >= 0 && (fds[1].revents & POLLIN)) {
                [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, "\n", 1);
                Interrupt();
                return SplitJob::Overwrite::Skip;
            }
            char c = 0;
            const ssize_t n = ::read(STDIN_FILENO, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ended = true;
                break;
            }
            if (c == '\n')
                break;
            answer += c;
        }
        if (ended) {
            [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, "\n", 1);
            m_noMoreAnswers = true;
            return SplitJob::Overwrite::Skip;
        }
        const QString a = QString::fromLocal8Bit(answer).trimmed().toLower();
        if (a == QLatin1String("y") || a == QLatin1String("yes"))
            return SplitJob::Overwrite::Replace;
        if (a == QLatin1String("a") || a == QLatin1String("all")) {
            m_replaceAll = true;
            return SplitJob::Overwrite::Replace;
        }
        if (a.isEmpty() || a == QLatin1String("n") || a == QLatin1String("no"))
            return SplitJob::Overwrite::Skip;
    }
}

int CliSession::ExitStatus(const QList<SourceResult>& results) const
{
    if (m_interrupted)
        return 130;
    int status = 0;
    for (const SourceResult& r : results) {
        switch (r.outcome) {
        case SourceResult::Outcome::Invalid:
        case SourceResult::Outcome::Refused:
            status = 2;
            break;
        case SourceResult::Outcome::Failed:
        case SourceResult::Outcome::EncoderMissing:
        case SourceResult::Outcome::Cancelled:
            status = std::max(status, 1);
            break;
        default:
            break;
        }
    }
    return status;
}
