#include "segments/SegmentJob.h"
#include "segments/JoinPieces.h"

#include "split/CommandLine.h"
#include "split/EncoderRun.h"
#include "split/OutputFile.h"
#include "split/OutputNames.h"
#include "split/SourceProbe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>

namespace {

QString Number(double s) { return QString::number(s, 'f', 6); }

// The pieces of a join carry plain names (ffmpeg's concat demuxer reads no other in its safe
// mode): "vtjoin-<token>-<n><ext>", where an extension that is no plain word becomes ".mkv".
QString PieceExtension(const QString& extension)
{
    static const QRegularExpression plain(QStringLiteral("^\\.[A-Za-z0-9]{1,10}$"));
    return plain.match(extension).hasMatch() ? extension : QStringLiteral(".mkv");
}

} // namespace

QStringList SegmentJobNames(const SegmentJobOrder& order)
{
    const bool joined = order.output == SegmentOutput::Joined;
    if (IsDefaultNameTemplate(order.nameTemplate))
        return joined ? QStringList{JoinedOutputName(order.baseName)} : SegmentOutputNames(order.baseName, order.segments);
    QList<NameFields> fields;
    if (joined) {
        NameFields f{order.baseName, 1, QString(), 0, 0, order.profileName};
        if (!order.segments.isEmpty()) {
            f.start = order.segments.first().start;
            f.end = order.segments.last().end;
        }
        fields << f;
    } else {
        for (qsizetype i = 0; i < order.segments.size(); ++i) {
            const Segment& s = order.segments.at(i);
            fields << NameFields{order.baseName, i + 1, SegmentFileName(s.name), s.start, s.end, order.profileName};
        }
    }
    // Made unique with the extension, as the files will be named.
    QStringList names = NameSections(order.nameTemplate, fields, order.extension);
    for (QString& n : names)
        n.chop(order.extension.size());
    return names;
}

QStringList SegmentJobOutputs(const SegmentJobOrder& order)
{
    QStringList out;
    for (const QString& name : SegmentJobNames(order))
        out << order.outputFolder + name + order.extension;
    return out;
}

QStringList JoinSoundArguments(const QString& profileSwitches)
{
    const QStringList words = SplitCommandLine(profileSwitches);
    QString codec, rate, sampleRate, channels, quality;
    bool off = false;
    for (qsizetype k = 0; k < words.size(); ++k) {
        const QString& w = words[k];
        const QString value = k + 1 < words.size() ? words[k + 1] : QString();
        if (w == QLatin1String("-c") || w == QLatin1String("-codec")) {
            codec = value;
        } else if (w == QLatin1String("-c:a") || w == QLatin1String("-acodec") || w == QLatin1String("-codec:a")
                   || w == QLatin1String("-c:a:0")) {
            codec = value;
        } else if (w == QLatin1String("-b:a") || w == QLatin1String("-ab")) {
            rate = value;
        } else if (w == QLatin1String("-ar")) {
            sampleRate = value;
        } else if (w == QLatin1String("-ac")) {
            channels = value;
        } else if (w == QLatin1String("-q:a") || w == QLatin1String("-aq")) {
            quality = value;
        } else if (w == QLatin1String("-an")) {
            off = true;
        }
    }
    if (off || codec.isEmpty() || codec == QLatin1String("copy"))
        return {QStringLiteral("-c:a"), QStringLiteral("copy")};
    QStringList args{QStringLiteral("-c:a"), codec};
    if (!rate.isEmpty())
        args << QStringLiteral("-b:a") << rate;
    if (!quality.isEmpty())
        args << QStringLiteral("-q:a") << quality;
    if (!sampleRate.isEmpty())
        args << QStringLiteral("-ar") << sampleRate;
    if (!channels.isEmpty())
        args << QStringLiteral("-ac") << channels;
    return args;
}

QByteArray JoinList(const QStringList& pieceNames, const QList<double>& lengths)
{
    QByteArray out = "ffconcat version 1.0\n";
    for (qsizetype i = 0; i < pieceNames.size() && i < lengths.size(); ++i) {
        out += "file '" + pieceNames[i].toUtf8() + "'\n";
        // From 0 (not the piece's first time stamp, which encoded sound puts before 0) to the
        // end of its pictures: sound that runs on is left to the next piece.
        out += "inpoint 0\n";
        out += "outpoint " + Number(std::max(0.0, lengths[i])).toLatin1() + "\n";
    }
    return out;
}

std::optional<double> PieceLengthFromProbe(const QByteArray& json)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    int stream = -1;
    for (const QJsonValue& v : o.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject s = v.toObject();
        if (s.value(QStringLiteral("codec_type")).toString() == QLatin1String("video")
            && s.value(QStringLiteral("disposition")).toObject().value(QStringLiteral("attached_pic")).toInt() == 0) {
            stream = s.value(QStringLiteral("index")).toInt();
            break;
        }
        if (stream < 0 && s.value(QStringLiteral("codec_type")).toString() == QLatin1String("audio"))
            stream = s.value(QStringLiteral("index")).toInt();
    }
    std::optional<double> end;
    for (const QJsonValue& v : o.value(QStringLiteral("packets")).toArray()) {
        const QJsonObject p = v.toObject();
        if (p.value(QStringLiteral("stream_index")).toInt(-1) != stream)
            continue;
        bool ok = false, okDuration = false;
        const double pts = p.value(QStringLiteral("pts_time")).toString().toDouble(&ok);
        const double duration = p.value(QStringLiteral("duration_time")).toString().toDouble(&okDuration);
        if (!ok || !std::isfinite(pts))
            continue;
        const double e = pts + (okDuration && std::isfinite(duration) ? duration : 0.0);
        if (!end || e > *end)
            end = e;
    }
    return end;
}

SegmentJob::SegmentJob(const SegmentJobOrder& order, QObject* parent) : QObject(parent), m_order(order)
{
    // A joined job's piece names come with its lock, when it starts.
    if (m_order.output == SegmentOutput::Separate)
        m_names = SegmentJobNames(m_order);
}

SegmentJob::~SegmentJob()
{
    if (m_job) {
        m_job->disconnect(this);
        delete m_job;
    }
    if (m_probe) {
        m_probe->disconnect(this);
        m_probe->kill();
        m_probe->waitForFinished(2000);
    }
    if (m_run) {
        m_run->disconnect(this);
        m_run->Stop();
    }
    m_part.reset();
    RemovePieces();
}

void SegmentJob::Start()
{
    if (m_running || m_result != Outcome::None)
        return;
    m_running = true;
    if (m_order.segments.isEmpty()) {
        QMetaObject::invokeMethod(this, [this] { Finish(Outcome::Refused, QStringLiteral("there are no segments")); },
                                  Qt::QueuedConnection);
        return;
    }
    if (m_order.output == SegmentOutput::Joined) {
        // Asked first, so nothing is cut for a file the user wants to keep.
        const QString joined = SegmentJobOutputs(m_order).first();
        if (IsSameFile(joined, m_order.base.sourcePath)) {
            QMetaObject::invokeMethod(this, [this, joined] {
                Finish(Outcome::Refused, QStringLiteral("the output file \"%1\" is the source video itself or a link to it").arg(joined));
            }, Qt::QueuedConnection);
            return;
        }
        if (OutputEntryExists(joined)) {
            JobSection s;
            s.number = 1;
            s.outputPath = joined;
            const SplitJob::Overwrite answer = m_question ? m_question(s) : SplitJob::Overwrite::Skip;
            if (answer != SplitJob::Overwrite::Replace) {
                const Outcome o = answer == SplitJob::Overwrite::Stop ? Outcome::Cancelled : Outcome::Completed;
                if (o == Outcome::Completed)
                    m_notes << QStringLiteral("%1 was kept; nothing was joined").arg(joined);
                QMetaObject::invokeMethod(this, [this, o] { Finish(o); }, Qt::QueuedConnection);
                return;
            }
            m_replaceJoined = true;
        }
    }
    // What a killed program left here goes before this job adds its own.
    if (!m_order.outputFolder.isEmpty())
        SweepStaleJoinPieces(m_order.outputFolder);
    if (m_order.output == SegmentOutput::Joined) {
        m_lock = std::make_unique<JoinLock>();
        QString error;
        if (!m_lock->Acquire(m_order.outputFolder, &error)) {
            m_lock.reset();
            QMetaObject::invokeMethod(this, [this, error] { Finish(Outcome::Failed, error); }, Qt::QueuedConnection);
            return;
        }
        m_token = m_lock->Token();
        for (int i = 1; i <= m_order.segments.size(); ++i)
            m_names << QStringLiteral("vtjoin-%1-%2").arg(m_token).arg(i);
    }
    QMetaObject::invokeMethod(this, &SegmentJob::NextSegment, Qt::QueuedConnection);
}

void SegmentJob::Cancel()
{
    if (!m_running)
        return;
    if (m_job) {
        m_job->disconnect(this);
        m_job->Cancel();
        m_job->deleteLater();
        m_job = nullptr;
    }
    if (m_probe) {
        m_probe->disconnect(this);
        m_probe->kill();
        m_probe->waitForFinished(2000);
        m_probe.reset();
    }
    if (m_run) {
        m_run->disconnect(this);
        m_run->Stop();
        m_run.reset();
    }
    m_part.reset(); // the half-joined file goes
    Finish(Outcome::Cancelled);
}

void SegmentJob::Pause()
{
    if (!m_running || m_paused)
        return;
    m_paused = true;
    if (m_job)
        m_job->Pause();
    if (m_run)
        m_run->Pause();
}

void SegmentJob::Resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    if (m_job)
        m_job->Resume();
    if (m_run)
        m_run->Resume();
    if (std::function<void()> held = std::exchange(m_held, nullptr))
        QMetaObject::invokeMethod(this, held, Qt::QueuedConnection);
}

void SegmentJob::NextSegment()
{
    if (!m_running)
        return;
    if (m_paused) {
        m_held = [this] { NextSegment(); };
        return;
    }
    if (m_next >= m_order.segments.size()) {
        if (m_order.output == SegmentOutput::Joined)
            MeasureNext();
        else
            Finish(Outcome::Completed);
        return;
    }
    const int i = m_next++;
    const Segment& s = m_order.segments.at(i);
    SplitJobOrder order = m_order.base;
    order.plan = MakeJobPlan(s.start, s.end, false, 1, m_order.base.sourcePath, m_order.outputFolder,
                             m_order.output == SegmentOutput::Joined ? PieceExtension(m_order.extension) : m_order.extension);
    order.plan.outputNames = {m_names.at(i)};
    auto* job = new SplitJob(order, this);
    m_job = job;
    if (m_order.output == SegmentOutput::Joined)
        job->SetOverwriteQuestion([](const JobSection&) { return SplitJob::Overwrite::Replace; }); // our own piece
    else
        job->SetOverwriteQuestion(m_question);
    const int n = int(m_order.segments.size());
    connect(job, &SplitJob::sectionStarted, this, [this, i, n](const JobSection& section, const QString&) {
        Q_EMIT segmentStarted(i + 1, n, section.outputPath);
    });
    const int steps = n + (m_order.output == SegmentOutput::Joined ? 1 : 0);
    connect(job, &SplitJob::progress, this, [this, i, steps](int current, int, double) {
        Q_EMIT progress(current, TotalBarPosition(current, i + 1, steps));
    });
    connect(job, &SplitJob::sectionDone, this, [this](const JobSection& section) {
        if (m_order.output == SegmentOutput::Joined)
            m_pieces << section.outputPath;
        else
            m_written << section.outputPath;
    });
    connect(job, &SplitJob::ended, this, &SegmentJob::OnSegmentEnded);
    job->Start();
}

void SegmentJob::OnSegmentEnded(SplitJob::Outcome outcome)
{
    SplitJob* job = m_job;
    m_job = nullptr;
    if (!job)
        return;
    const Segment& s = m_order.segments.at(m_next - 1);
    const QString label = s.name.isEmpty() ? QStringLiteral("segment %1").arg(m_next) : QStringLiteral("segment %1 (%2)").arg(m_next).arg(s.name);
    for (const QString& note : job->CompletionNotes())
        m_notes << label + QStringLiteral(": ") + note;
    if (m_order.output == SegmentOutput::Joined && m_pieces.size() > m_joined.size())
        m_joined << s;
    const QString reason = job->FailureReason();
    job->deleteLater();
    switch (outcome) {
    case SplitJob::Outcome::Completed:
        NextSegment();
        return;
    case SplitJob::Outcome::Failed: Finish(Outcome::Failed, label + QStringLiteral(" failed: ") + reason); return;
    case SplitJob::Outcome::EncoderMissing: Finish(Outcome::EncoderMissing, reason); return;
    case SplitJob::Outcome::Refused: Finish(Outcome::Refused, reason); return;
    default: Finish(Outcome::Cancelled); return;
    }
}

void SegmentJob::MeasureNext()
{
    if (m_measured >= m_pieces.size()) {
        Join();
        return;
    }
    const QString piece = m_pieces.at(m_measured);
    const Segment& s = m_joined.at(m_measured);
    QStringList args{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                     QStringLiteral("stream=index,codec_type:stream_disposition=attached_pic:packet=stream_index,pts_time,duration_time"),
                     QStringLiteral("-of"), QStringLiteral("json")};
    // Only the last stretch of a long piece: its end is all that counts.
    const double expected = s.end - s.start;
    if (expected > 60)
        args << QStringLiteral("-read_intervals") << Number(expected - 30) + QLatin1Char('%');
    args << QStringLiteral("file:") + piece;
    m_probe = std::make_unique<QProcess>();
    m_probe->setStandardInputFile(QProcess::nullDevice());
    connect(m_probe.get(), &QProcess::finished, this, [this, piece, expected] {
        const QByteArray out = m_probe->readAllStandardOutput();
        const bool ok = m_probe->exitStatus() == QProcess::NormalExit && m_probe->exitCode() == 0;
        m_probe.release()->deleteLater();
        const std::optional<double> length = ok ? PieceLengthFromProbe(out) : std::nullopt;
        if (!length) {
            Finish(Outcome::Failed, QStringLiteral("the length of %1 could not be read").arg(piece));
            return;
        }
        Q_UNUSED(expected);
        m_lengths << *length;
        ++m_measured;
        MeasureNext();
    });
    connect(m_probe.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            Finish(Outcome::Failed, QStringLiteral("ffprobe was not found"));
    });
    m_probe->start(FindFfprobe(m_order.base.encoderPath), args);
}

void SegmentJob::Join()
{
    if (m_paused) {
        m_held = [this] { Join(); };
        return;
    }
    const QString joined = SegmentJobOutputs(m_order).first();
    if (m_pieces.isEmpty()) {
        m_notes << QStringLiteral("nothing of the source lies in the segments; %1 was not written").arg(joined);
        Finish(Outcome::Completed);
        return;
    }
    Q_EMIT joining(joined);
    QStringList names;
    for (const QString& p : m_pieces)
        names << QFileInfo(p).fileName();
    const QString list = m_order.outputFolder + QStringLiteral("vtjoin-%1.txt").arg(m_token);
    QString error;
    if (!WriteSegmentFile(list, JoinList(names, m_lengths), &error)) {
        Finish(Outcome::Failed, error);
        return;
    }
    QStringList args{QStringLiteral("-join"), list};
    if (m_order.chaptersAtJoins) {
        const QString chapters = m_order.outputFolder + QStringLiteral("vtjoin-%1.ffmeta").arg(m_token);
        if (!WriteSegmentFile(chapters, ChapterMetadata(JoinChapters(m_joined, m_lengths)), &error)) {
            Finish(Outcome::Failed, error);
            return;
        }
        args << QStringLiteral("-chapters") << chapters;
    }
    const bool copiesSound = AnalyseProfileSwitches(m_order.base.profileSwitches).audioCopied;
    args << (copiesSound ? QStringList{QStringLiteral("-c:a"), QStringLiteral("copy")} : JoinSoundArguments(m_order.base.profileSwitches));
    m_part = std::make_unique<PartialOutput>(joined);
    if (!m_part->Create(&error)) {
        Finish(Outcome::Failed, error);
        return;
    }
    args << m_part->TempPath();
    m_joinLength = 0;
    for (double l : m_lengths)
        m_joinLength += l;
    m_joinProgress = SectionProgress(m_joinLength);
    m_run = std::make_unique<EncoderRun>();
    connect(m_run.get(), &EncoderRun::activity, this, &SegmentJob::OnJoinActivity);
    if (!m_run->Start(m_order.base.encoderPath, args)) {
        Finish(Outcome::EncoderMissing, QStringLiteral("the encoder %1 could not be started").arg(m_order.base.encoderPath));
        return;
    }
}

void SegmentJob::OnJoinActivity()
{
    if (!m_run)
        return;
    while (m_run->HasOutput()) {
        if (m_joinProgress.Feed(m_run->Read(4096))) {
            const int current = CurrentBarPosition(m_joinProgress.LastTime(), m_joinLength);
            const int steps = int(m_order.segments.size()) + 1;
            Q_EMIT progress(current, TotalBarPosition(current, steps, steps));
        }
    }
    if (!m_run->AtEnd())
        return;
    if (m_run->FailedToStart()) {
        Finish(Outcome::EncoderMissing, QStringLiteral("the encoder %1 could not be started").arg(m_order.base.encoderPath));
        return;
    }
    if (m_run->Failed()) {
        const QString why = m_run->LastErrorLine();
        m_run.reset();
        m_part.reset();
        Finish(Outcome::Failed, QStringLiteral("joining failed: ") + why);
        return;
    }
    m_run.reset();
    QString error;
    if (!m_part->Commit(m_replaceJoined, &error)) {
        m_part.reset();
        Finish(Outcome::Failed, error);
        return;
    }
    m_written << m_part->FinalPath();
    m_part.reset();
    Finish(Outcome::Completed);
}

void SegmentJob::RemovePieces()
{
    for (const QString& p : std::as_const(m_pieces))
        QFile::remove(p);
    m_pieces.clear();
    if (!m_order.outputFolder.isEmpty() && !m_token.isEmpty()) {
        QFile::remove(m_order.outputFolder + QStringLiteral("vtjoin-%1.txt").arg(m_token));
        QFile::remove(m_order.outputFolder + QStringLiteral("vtjoin-%1.ffmeta").arg(m_token));
    }
    m_lock.reset(); // last: until now the pieces were proven a running job's
}

void SegmentJob::Finish(Outcome outcome, const QString& reason)
{
    if (!m_running)
        return;
    m_running = false;
    m_paused = false;
    m_held = nullptr;
    m_result = outcome;
    m_reason = reason;
    RemovePieces();
    if (outcome == Outcome::Completed)
        Q_EMIT progress(100, 100);
    Q_EMIT ended(outcome);
}
