#include "cli/CliReport.h"
#include "app/PathUtils.h"
#include "app/TimeCode.h"
#include "cli/CliOptions.h"
#include "split/OutputFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

void Write(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int TerminalColumns()
{
    winsize size {};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

QString Percent(int value) { return QStringLiteral("%1%").arg(value, 3); }

} // namespace

QString OutcomeName(SourceResult::Outcome outcome)
{
    switch (outcome) {
    case SourceResult::Outcome::NotRun: return QStringLiteral("not-run");
    case SourceResult::Outcome::Invalid: return QStringLiteral("invalid");
    case SourceResult::Outcome::Completed: return QStringLiteral("done");
    case SourceResult::Outcome::Failed: return QStringLiteral("failed");
    case SourceResult::Outcome::Cancelled: return QStringLiteral("interrupted");
    case SourceResult::Outcome::EncoderMissing: return QStringLiteral("encoder-missing");
    case SourceResult::Outcome::Refused: return QStringLiteral("refused");
    }
    return QString();
}

QString ShellQuote(const QString& word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

void CliReport::Error(const QString& message)
{
    ClearLine();
    Write(stderr, QStringLiteral("veltrane-cli: %1\n").arg(message));
}

void CliReport::Warning(const QString& message)
{
    ClearLine();
    Write(stderr, QStringLiteral("veltrane-cli: warning: %1\n").arg(message));
}

void CliReport::Tracks(const QString& source, const TrackList& list)
{
    if (m_mode == Mode::Json) {
        QJsonArray tracks;
        for (const Track& t : list.tracks)
            tracks.append(QJsonObject{{"index", t.index}, {"track", t.Name()}, {"kind", QString(t.kind)},
                                      {"codec", t.codec}, {"language", t.language}, {"title", t.title},
                                      {"channels", t.channels}, {"default", t.isDefault}, {"forced", t.forced}});
        QJsonArray chapters;
        for (const Chapter& c : list.chapters)
            chapters.append(QJsonObject{{"start", c.start}, {"end", c.end}, {"title", c.title}});
        Json({{"event", "tracks"}, {"source", source}, {"tracks", tracks}, {"chapters", chapters}});
        return;
    }
    ClearLine();
    Write(stdout, source + QLatin1Char('\n'));
    for (const QString& line : DescribeTracks(list))
        Write(stdout, QStringLiteral("  ") + line + QLatin1Char('\n'));
}

void CliReport::Refused(const QString& source, const QString& message)
{
    Error(message);
    if (m_mode == Mode::Json)
        Json({{"event", "error"}, {"source", source}, {"message", message}});
}

void CliReport::Plan(const SplitJobOrder& order, double sourceLength, const QString& profile,
                     const QList<PlannedSection>& sections)
{
    const JobPlan& plan = order.plan;
    if (m_mode == Mode::Json) {
        for (const PlannedSection& p : sections) {
            QJsonArray arguments{order.encoderPath};
            for (const QString& a : p.arguments)
                arguments.append(a);
            Json({{"event", "plan"}, {"source", order.sourcePath}, {"profile", profile},
                  {"section", p.section.number}, {"sections", plan.count}, {"start", p.section.start},
                  {"length", p.section.end - p.section.start}, {"empty", p.section.empty},
                  {"output", p.section.outputPath},
                  {"exists", OutputEntryExists(p.section.outputPath)}, {"arguments", arguments}});
        }
        return;
    }
    QString text = QStringLiteral("%1 (length %2)\n  profile: %3\n  range: %4 to %5, %6\n")
                       .arg(order.sourcePath, FormatCliTime(sourceLength), profile, FormatCliTime(plan.start),
                            FormatCliTime(plan.end),
                            plan.count == 1 ? QStringLiteral("1 section") : QStringLiteral("%1 sections").arg(plan.count));
    for (const PlannedSection& p : sections) {
        const JobSection& s = p.section;
        text += QStringLiteral("  section %1/%2: %3 to %4 -> %5%6\n    %7")
                    .arg(s.number)
                    .arg(plan.count)
                    .arg(FormatCliTime(s.start), FormatCliTime(s.end), s.outputPath,
                         s.empty ? QStringLiteral(" (nothing of the source in it: not written)")
                         : OutputEntryExists(s.outputPath) ? QStringLiteral(" (exists)")
                                                           : QString(),
                         ShellQuote(order.encoderPath));
        for (const QString& a : p.arguments)
            text += QLatin1Char(' ') + ShellQuote(a);
        text += QLatin1Char('\n');
    }
    Out(text);
}

void CliReport::SourceBegins(int index, int count, const SplitJobOrder& order, const QString& profile)
{
    m_source = order.sourcePath;
    m_name = ExtractFileName(order.sourcePath);
    m_index = index;
    m_count = count;
    m_sections = order.plan.count;
    m_elapsed = m_remaining = 0;
    m_current = m_total = 0;
    m_section = JobSection();
    m_lookingUp = false;
    if (m_mode == Mode::Json)
        Json({{"event", "source"}, {"source", m_source}, {"index", index}, {"sources", count},
              {"sections", order.plan.count}, {"profile", profile}, {"outputFolder", order.plan.outputFolder}});
}

void CliReport::LookingUpCuts()
{
    m_lookingUp = true;
    ShowLine();
}

void CliReport::CutsPlaced(const QString& source, const CutPlan& cuts, const QString& problem)
{
    m_lookingUp = false;
    if (m_mode == Mode::Json) {
        QJsonArray points;
        for (const CutPoint& p : cuts.points)
            points.append(p.time);
        Json({{"event", "cuts"}, {"source", source}, {"probed", cuts.probed}, {"points", points}, {"problem", problem}});
    }
    // The job still runs, but a stream copy may then overlap where the sections meet.
    if (!problem.isEmpty() && m_mode != Mode::Quiet)
        Warning(QStringLiteral("%1: the cut points could not be looked up in the source, so the sections lie at the "
                               "marked times: %2")
                    .arg(source, problem));
}

void CliReport::SectionBegins(const JobSection& section)
{
    m_section = section;
    m_current = 0;
    m_time = 0;
    if (m_mode == Mode::Json)
        Json({{"event", "section"}, {"section", section.number}, {"sections", m_sections},
              {"start", section.start}, {"length", section.length}, {"output", section.outputPath}});
    ShowLine();
}

void CliReport::Progress(int current, int total, double time)
{
    m_current = current;
    m_total = total;
    m_time = time;
    if (m_mode == Mode::Json)
        Json({{"event", "progress"}, {"section", m_section.number}, {"sections", m_sections}, {"percent", current},
              {"total", total}, {"time", time}, {"elapsed", m_elapsed}, {"remaining", m_remaining}});
    ShowLine();
}

void CliReport::Clock(qint64 elapsed, qint64 remaining)
{
    m_elapsed = elapsed;
    m_remaining = remaining;
    if (m_mode == Mode::Json)
        Json({{"event", "progress"}, {"section", m_section.number}, {"sections", m_sections}, {"percent", m_current},
              {"total", m_total}, {"time", m_time}, {"elapsed", elapsed}, {"remaining", remaining}});
    ShowLine();
}

void CliReport::SectionDone(const JobSection& section)
{
    if (m_mode == Mode::Json) {
        Json({{"event", "section-done"}, {"section", section.number}, {"sections", m_sections},
              {"output", section.outputPath}});
        return;
    }
    ClearLine();
    Out(QStringLiteral("%1: section %2/%3 done: %4\n").arg(m_name).arg(section.number).arg(m_sections).arg(section.outputPath));
}

void CliReport::SectionSkipped(const JobSection& section)
{
    if (m_mode == Mode::Json) {
        Json({{"event", "section-skipped"}, {"section", section.number}, {"sections", m_sections},
              {"output", section.outputPath}});
        return;
    }
    ClearLine();
    Out(QStringLiteral("%1: section %2/%3 skipped: %4 exists and is kept\n")
            .arg(m_name)
            .arg(section.number)
            .arg(m_sections)
            .arg(section.outputPath));
}

void CliReport::SectionEmpty(const JobSection& section)
{
    // The progress that follows (the total moved past it) is this section's.
    m_section = section;
    if (m_mode == Mode::Json) {
        Json({{"event", "section-empty"}, {"section", section.number}, {"sections", m_sections},
              {"start", section.start}, {"output", section.outputPath}});
        return;
    }
    ClearLine();
    Out(QStringLiteral("%1: section %2/%3 not written: nothing of the source in it\n")
            .arg(m_name)
            .arg(section.number)
            .arg(m_sections));
}

void CliReport::SectionFailed(const JobSection& section, const QString& reason)
{
    Error(QStringLiteral("%1: section %2/%3 failed: %4").arg(m_source).arg(section.number).arg(m_sections).arg(reason));
    if (m_mode == Mode::Json)
        Json({{"event", "section-failed"}, {"section", section.number}, {"sections", m_sections},
              {"output", section.outputPath}, {"reason", reason}});
}

void CliReport::Line(const QString& text)
{
    if (m_mode == Mode::Quiet || m_mode == Mode::Json)
        return;
    ClearLine();
    Out(text + QLatin1Char('\n'));
}

void CliReport::SourceEnds(const SourceResult& r)
{
    ClearLine();
    if (m_mode == Mode::Json)
        Json({{"event", "source-end"}, {"source", r.source}, {"outcome", OutcomeName(r.outcome)},
              {"sections", r.sections}, {"done", r.done}, {"skipped", r.skipped}, {"empty", r.empty},
              {"elapsed", r.elapsed}, {"message", r.message}, {"notes", QJsonArray::fromStringList(r.notes)}});
    for (const QString& note : r.notes)
        Out(QStringLiteral("%1: %2\n").arg(m_name, note));
    m_source.clear();
}

void CliReport::Summary(const QList<SourceResult>& results, int status)
{
    if (m_mode == Mode::Json) {
        QJsonArray sources;
        for (const SourceResult& r : results)
            sources.append(QJsonObject{{"source", r.source}, {"outcome", OutcomeName(r.outcome)},
                                       {"sections", r.sections}, {"done", r.done}, {"skipped", r.skipped},
                                       {"empty", r.empty}, {"message", r.message}});
        Json({{"event", "summary"}, {"status", status}, {"sources", sources}});
        return;
    }
    if (m_mode == Mode::Quiet)
        return;
    QString text = QStringLiteral("Summary:\n");
    for (const SourceResult& r : results) {
        QString detail;
        switch (r.outcome) {
        case SourceResult::Outcome::Completed:
        case SourceResult::Outcome::Cancelled:
        case SourceResult::Outcome::Failed:
            detail = QStringLiteral("%1 of %2 sections written to %3").arg(r.done).arg(r.sections).arg(r.outputFolder);
            if (r.skipped > 0)
                detail += QStringLiteral(", %1 skipped (the existing files kept)").arg(r.skipped);
            if (r.empty > 0)
                detail += QStringLiteral(", %1 not written (nothing of the source in %2)")
                              .arg(r.empty)
                              .arg(r.empty == 1 ? QStringLiteral("it") : QStringLiteral("them"));
            detail += QStringLiteral(" (%1)").arg(FormatTimeCode(static_cast<double>(r.elapsed)));
            if (!r.message.isEmpty())
                detail += QStringLiteral("; ") + r.message;
            break;
        default:
            detail = r.message;
            break;
        }
        text += QStringLiteral("  %1 %2%3\n")
                    .arg(OutcomeName(r.outcome).leftJustified(12), r.source,
                         detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
    }
    Out(text);
}

void CliReport::ClearLine()
{
    if (!m_lineShown)
        return;
    Write(stderr, QStringLiteral("\r\x1b[K"));
    m_lineShown = false;
}

void CliReport::Json(QJsonObject object)
{
    if (!object.contains(QStringLiteral("source")) && !m_source.isEmpty())
        object.insert(QStringLiteral("source"), m_source);
    Write(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
}

void CliReport::Out(const QString& text)
{
    if (m_mode == Mode::Quiet || m_mode == Mode::Json)
        return;
    ClearLine();
    Write(stdout, text);
}

void CliReport::ShowLine()
{
    if (m_lookingUp) {
        ShowLine(QStringLiteral("  finding the cut points...  elapsed %1").arg(FormatTimeCode(double(m_elapsed))));
        return;
    }
    ShowLine(QStringLiteral("  section %1/%2 %3  total %4  elapsed %5  remaining %6")
                 .arg(m_section.number)
                 .arg(m_sections)
                 .arg(Percent(m_current), Percent(m_total), FormatTimeCode(double(m_elapsed)),
                      FormatTimeCode(double(m_remaining))));
}

void CliReport::ShowLine(const QString& tail)
{
    if (m_mode != Mode::Terminal)
        return;
    const QString batch = m_count > 1 ? QStringLiteral("[%1/%2] ").arg(m_index).arg(m_count) : QString();
    // One terminal row: a wrapped line could not be redrawn in place.
    const int room = TerminalColumns() - 1 - batch.size() - tail.size();
    QString name = m_name;
    if (room < name.size())
        name = room > 3 ? name.left(room - 1) + QChar(0x2026) : QString();
    Write(stderr, QStringLiteral("\r") + batch + name + tail + QStringLiteral("\x1b[K"));
    m_lineShown = true;
}
