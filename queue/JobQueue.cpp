#include "queue/JobQueue.h"
#include "split/CutPoints.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <cmath>

namespace {

constexpr qint64 kMostFileBytes = 8 * 1024 * 1024;
constexpr qsizetype kMostJobs = 10000;
constexpr qsizetype kMostText = 4096;          // a path, a template, a message
constexpr qsizetype kMostSwitches = 256 * 1024; // a profile's switches
constexpr qsizetype kMostPoints = 10000;
constexpr double kMostSeconds = 1e7;           // well past any recording

const char* const kModes[] = {"equal", "length", "size", "chapters", "points"};
const char* const kStatuses[] = {"waiting", "running", "done", "failed", "skipped", "cancelled"};

std::optional<QString> Text(const QJsonObject& o, const char* key, qsizetype most, bool required = false)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return required ? std::nullopt : std::optional<QString>(QString());
    if (!v.isString() || v.toString().size() > most || v.toString().contains(QChar(0)))
        return std::nullopt;
    return v.toString();
}

// A time: absent, or a finite number of seconds in range.
bool Seconds(const QJsonObject& o, const char* key, std::optional<double>& out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return true;
    if (!v.isDouble() || !std::isfinite(v.toDouble()) || v.toDouble() < 0 || v.toDouble() > kMostSeconds)
        return false;
    out = v.toDouble();
    return true;
}

const char* const kSegmentOutputs[] = {"separate", "joined"};

// The job's segments: an array of {start, end, name} in order, each a range of the source
// with a plain name. Nothing, with what is wrong, when one of them is not.
std::optional<QList<Segment>> ReadSegments(const QJsonValue& value, QString* why)
{
    if (!value.isArray()) {
        *why = QStringLiteral("\"segments\" is no list");
        return std::nullopt;
    }
    const QJsonArray array = value.toArray();
    if (array.size() > kMaxSegments) {
        *why = QStringLiteral("more than %1 segments").arg(kMaxSegments);
        return std::nullopt;
    }
    QList<Segment> segments;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject o = array.at(i).toObject();
        const QJsonValue start = o.value(QLatin1String("start")), end = o.value(QLatin1String("end"));
        const QJsonValue name = o.value(QLatin1String("name"));
        if (!array.at(i).isObject() || !start.isDouble() || !end.isDouble()
            || !IsValidSegmentRange(start.toDouble(), end.toDouble())) {
            *why = QStringLiteral("segment %1 is no range of times").arg(i + 1);
            return std::nullopt;
        }
        if (!name.isUndefined() && !name.isNull()
            && (!name.isString() || name.toString().size() > kMaxSegmentName || name.toString() != CleanSegmentName(name.toString()))) {
            *why = QStringLiteral("segment %1 has no plain name").arg(i + 1);
            return std::nullopt;
        }
        segments << Segment{start.toDouble(), end.toDouble(), name.toString()};
    }
    return segments;
}

std::optional<QueueJob> ReadJob(const QJsonValue& value, QString* why)
{
    auto bad = [why](const QString& what) -> std::optional<QueueJob> {
        *why = what;
        return std::nullopt;
    };
    if (!value.isObject())
        return bad(QStringLiteral("it is no job"));
    const QJsonObject o = value.toObject();
    QueueJob job;
    const std::optional<QString> source = Text(o, "source", kMostText, true);
    if (!source || source->isEmpty() || !QDir::isAbsolutePath(*source))
        return bad(QStringLiteral("\"source\" is no full path"));
    job.sourcePath = QDir::cleanPath(*source);
    if (!Seconds(o, "start", job.start) || !Seconds(o, "end", job.end))
        return bad(QStringLiteral("\"start\" or \"end\" is no time"));
    if (job.start && job.end && !(*job.end > *job.start))
        return bad(QStringLiteral("\"end\" is not after \"start\""));
    const QJsonValue count = o.value(QLatin1String("count"));
    if (!count.isUndefined()) {
        if (!count.isDouble() || count.toDouble() != std::floor(count.toDouble()) || count.toDouble() < 1
            || count.toDouble() > kMostNamedSections)
            return bad(QStringLiteral("\"count\" is no number of sections"));
        job.count = qint32(count.toDouble());
    }
    const std::optional<QString> mode = Text(o, "mode", 16);
    if (!mode)
        return bad(QStringLiteral("\"mode\" is unknown"));
    bool knownMode = mode->isEmpty();
    for (int m = 0; m < 5; ++m)
        if (*mode == QLatin1String(kModes[m])) {
            job.sections.mode = SectionMode(m);
            knownMode = true;
        }
    if (!knownMode)
        return bad(QStringLiteral("\"mode\" is unknown"));
    std::optional<double> every;
    if (!Seconds(o, "every", every))
        return bad(QStringLiteral("\"every\" is no time"));
    job.sections.every = every.value_or(0);
    if (job.sections.mode == SectionMode::Length && !(job.sections.every >= 0.001))
        return bad(QStringLiteral("\"every\" is no length"));
    const QJsonValue bytes = o.value(QLatin1String("maxBytes"));
    if (!bytes.isUndefined()) {
        // Whole bytes, exactly representable: up to 2^53.
        if (!bytes.isDouble() || bytes.toDouble() != std::floor(bytes.toDouble()) || bytes.toDouble() < 1024
            || bytes.toDouble() > 9007199254740992.0)
            return bad(QStringLiteral("\"maxBytes\" is no size"));
        job.sections.maxBytes = qint64(bytes.toDouble());
    }
    if (job.sections.mode == SectionMode::Size && job.sections.maxBytes < 1024)
        return bad(QStringLiteral("\"maxBytes\" is no size"));
    const QJsonValue points = o.value(QLatin1String("points"));
    if (!points.isUndefined()) {
        if (!points.isArray() || points.toArray().size() > kMostPoints)
            return bad(QStringLiteral("\"points\" is no list of times"));
        for (const QJsonValue& p : points.toArray()) {
            if (!p.isDouble() || !std::isfinite(p.toDouble()) || p.toDouble() < 0 || p.toDouble() > kMostSeconds)
                return bad(QStringLiteral("\"points\" is no list of times"));
            job.sections.points << p.toDouble();
        }
    }
    // Older queue files have no segments: such a job cuts its range.
    const QJsonValue segments = o.value(QLatin1String("segments"));
    if (!segments.isUndefined()) {
        QString what;
        const std::optional<QList<Segment>> list = ReadSegments(segments, &what);
        if (!list)
            return bad(what);
        job.segments = *list;
    }
    const std::optional<QString> segmentOutput = Text(o, "segmentOutput", 16);
    if (!segmentOutput)
        return bad(QStringLiteral("\"segmentOutput\" is unknown"));
    if (*segmentOutput == QLatin1String(kSegmentOutputs[1]))
        job.segmentOutput = SegmentOutput::Joined;
    else if (!segmentOutput->isEmpty() && *segmentOutput != QLatin1String(kSegmentOutputs[0]))
        return bad(QStringLiteral("\"segmentOutput\" is unknown"));
    const QJsonValue chapters = o.value(QLatin1String("chaptersAtJoins"));
    if (!chapters.isUndefined() && !chapters.isBool())
        return bad(QStringLiteral("\"chaptersAtJoins\" is neither true nor false"));
    job.chaptersAtJoins = chapters.toBool();
    const std::optional<QString> profileName = Text(o, "profile", kMostText);
    const std::optional<QString> profilePath = Text(o, "profilePath", kMostText);
    const std::optional<QString> switches = Text(o, "switches", kMostSwitches);
    const std::optional<QString> extension = Text(o, "extension", 32, true);
    const std::optional<QString> outputDir = Text(o, "outputDir", kMostText);
    const std::optional<QString> nameTemplate = Text(o, "name", kMostText);
    const std::optional<QString> message = Text(o, "message", kMostText);
    const std::optional<QString> status = Text(o, "status", 16);
    if (!profileName || !profilePath || !switches || !extension || !outputDir || !nameTemplate || !message || !status)
        return bad(QStringLiteral("a text is missing, too long or of the wrong kind"));
    // The extension becomes part of every output name: a dot and letters or digits only.
    static const QRegularExpression plainExtension(QStringLiteral("^\\.[A-Za-z0-9]{1,16}$"));
    if (!plainExtension.match(*extension).hasMatch())
        return bad(QStringLiteral("\"extension\" is no plain extension"));
    if (!outputDir->isEmpty() && !QDir::isAbsolutePath(*outputDir))
        return bad(QStringLiteral("\"outputDir\" is no full path"));
    // A template names files inside the output folder, never a folder of its own.
    if (nameTemplate->contains(QLatin1Char('/')))
        return bad(QStringLiteral("\"name\" holds a folder"));
    job.profileName = *profileName;
    job.profilePath = *profilePath;
    job.profileSwitches = *switches;
    job.extension = *extension;
    job.outputDir = outputDir->isEmpty() ? QString() : QDir::cleanPath(*outputDir);
    job.nameTemplate = *nameTemplate;
    job.message = *message;
    for (int s = 0; s < 6; ++s)
        if (*status == QLatin1String(kStatuses[s]))
            job.status = QueueJob::Status(s);
    // A job the program was running when it ended starts again from its beginning.
    if (job.status == QueueJob::Status::Running) {
        job.status = QueueJob::Status::Waiting;
        job.message.clear();
    }
    job.progress = job.status == QueueJob::Status::Done ? 100 : 0;
    return job;
}

} // namespace

QString StatusName(QueueJob::Status status) { return QLatin1String(kStatuses[int(status)]); }

qsizetype JobQueue::IndexOf(qint64 id) const
{
    for (qsizetype i = 0; i < m_jobs.size(); ++i)
        if (m_jobs.at(i).id == id)
            return i;
    return -1;
}

const QueueJob* JobQueue::Find(qint64 id) const
{
    const qsizetype i = IndexOf(id);
    return i < 0 ? nullptr : &m_jobs.at(i);
}

qint64 JobQueue::Add(QueueJob job)
{
    job.id = m_nextId++;
    job.status = QueueJob::Status::Waiting;
    job.progress = 0;
    m_jobs.append(job);
    emit changed();
    return job.id;
}

bool JobQueue::Remove(qint64 id)
{
    const qsizetype i = IndexOf(id);
    if (i < 0 || m_jobs.at(i).status == QueueJob::Status::Running)
        return false;
    m_jobs.removeAt(i);
    emit changed();
    return true;
}

bool JobQueue::Move(qint64 id, int step)
{
    const qsizetype i = IndexOf(id);
    const qsizetype to = i + step;
    if (i < 0 || to < 0 || to >= m_jobs.size())
        return false;
    m_jobs.move(i, to);
    emit changed();
    return true;
}

std::optional<qint64> JobQueue::NextWaiting() const
{
    for (const QueueJob& j : m_jobs)
        if (j.status == QueueJob::Status::Waiting)
            return j.id;
    return std::nullopt;
}

void JobQueue::SetStatus(qint64 id, QueueJob::Status status, const QString& message)
{
    const qsizetype i = IndexOf(id);
    if (i < 0)
        return;
    m_jobs[i].status = status;
    m_jobs[i].message = message;
    if (status == QueueJob::Status::Done)
        m_jobs[i].progress = 100;
    else if (status == QueueJob::Status::Waiting)
        m_jobs[i].progress = 0;
    emit jobChanged(id);
}

void JobQueue::SetProgress(qint64 id, int progress)
{
    const qsizetype i = IndexOf(id);
    if (i < 0 || m_jobs.at(i).progress == progress)
        return;
    m_jobs[i].progress = std::clamp(progress, 0, 100);
    emit jobChanged(id);
}

void JobQueue::RemoveFinished()
{
    const qsizetype before = m_jobs.size();
    m_jobs.removeIf([](const QueueJob& j) {
        return j.status != QueueJob::Status::Waiting && j.status != QueueJob::Status::Running;
    });
    if (m_jobs.size() != before)
        emit changed();
}

QByteArray JobQueue::ToJson() const
{
    QJsonArray jobs;
    for (const QueueJob& j : m_jobs) {
        QJsonObject o;
        o.insert(QStringLiteral("source"), j.sourcePath);
        if (j.start)
            o.insert(QStringLiteral("start"), *j.start);
        if (j.end)
            o.insert(QStringLiteral("end"), *j.end);
        o.insert(QStringLiteral("count"), j.count);
        o.insert(QStringLiteral("mode"), QLatin1String(kModes[int(j.sections.mode)]));
        if (j.sections.mode == SectionMode::Length)
            o.insert(QStringLiteral("every"), j.sections.every);
        if (j.sections.mode == SectionMode::Size)
            o.insert(QStringLiteral("maxBytes"), double(j.sections.maxBytes));
        if (!j.sections.points.isEmpty()) {
            QJsonArray points;
            for (double p : j.sections.points)
                points.append(p);
            o.insert(QStringLiteral("points"), points);
        }
        if (!j.segments.isEmpty()) {
            QJsonArray segments;
            for (const Segment& seg : j.segments)
                segments.append(QJsonObject{{QStringLiteral("start"), seg.start},
                                            {QStringLiteral("end"), seg.end},
                                            {QStringLiteral("name"), seg.name}});
            o.insert(QStringLiteral("segments"), segments);
            o.insert(QStringLiteral("segmentOutput"), QLatin1String(kSegmentOutputs[int(j.segmentOutput)]));
            o.insert(QStringLiteral("chaptersAtJoins"), j.chaptersAtJoins);
        }
        o.insert(QStringLiteral("profile"), j.profileName);
        o.insert(QStringLiteral("profilePath"), j.profilePath);
        o.insert(QStringLiteral("switches"), j.profileSwitches);
        o.insert(QStringLiteral("extension"), j.extension);
        o.insert(QStringLiteral("outputDir"), j.outputDir);
        o.insert(QStringLiteral("name"), j.nameTemplate);
        o.insert(QStringLiteral("status"), StatusName(j.status));
        o.insert(QStringLiteral("message"), j.message.left(kMostText));
        jobs.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("queue"), 1);
    root.insert(QStringLiteral("jobs"), jobs);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool JobQueue::FromJson(const QByteArray& json, int* dropped, QString* error, QStringList* problems)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (json.size() > kMostFileBytes)
        return fail(QStringLiteral("The queue file is larger than %1.").arg(FormatByteSize(kMostFileBytes)));
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject())
        return fail(QStringLiteral("The queue file is no queue (%1).").arg(parse.errorString()));
    const QJsonObject root = doc.object();
    if (root.value(QLatin1String("queue")).toInt() != 1 || !root.value(QLatin1String("jobs")).isArray())
        return fail(QStringLiteral("The queue file is no queue of this program's."));
    const QJsonArray array = root.value(QLatin1String("jobs")).toArray();
    QList<QueueJob> jobs;
    QStringList said;
    int bad = 0;
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (jobs.size() >= kMostJobs) {
            ++bad;
            continue;
        }
        QString why;
        std::optional<QueueJob> job = ReadJob(array.at(i), &why);
        if (!job) {
            ++bad;
            if (said.size() < 5) // enough to find them by; the count says the rest
                said << QStringLiteral("job %1: %2").arg(i + 1).arg(why);
            continue;
        }
        job->id = m_nextId++;
        jobs.append(*job);
    }
    m_jobs = jobs;
    if (dropped)
        *dropped = bad;
    if (problems)
        *problems = said;
    emit changed();
    return true;
}

bool JobQueue::Save(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ToJson()) < 0 || !file.commit()) {
        if (error)
            *error = QStringLiteral("The queue cannot be written to %1 (%2).").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool JobQueue::Load(const QString& path, int* dropped, QString* error, QStringList* problems)
{
    if (dropped)
        *dropped = 0;
    if (problems)
        problems->clear();
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    // Only a plain file of a sane size is read (not a pipe or a device that never ends).
    if (!info.isFile() || info.size() > kMostFileBytes) {
        if (error)
            *error = QStringLiteral("%1 is no queue file.").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1 cannot be read (%2).").arg(path, file.errorString());
        return false;
    }
    return FromJson(file.read(kMostFileBytes + 1), dropped, error, problems);
}
