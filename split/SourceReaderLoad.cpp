#include "split/SourceReaderLoad.h"
#include "split/SourceReader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <cmath>
#include <dlfcn.h>

namespace {

// Loaded once and kept: the libraries stay mapped for the program's later jobs.
SourceReadEntry EntryOf(const QString& module)
{
    static QMutex lock;
    static QHash<QString, SourceReadEntry> loaded;
    const QMutexLocker hold(&lock);
    const auto known = loaded.constFind(module);
    if (known != loaded.constEnd())
        return *known;
    SourceReadEntry entry = nullptr;
    if (void* handle = ::dlopen(QFile::encodeName(module).constData(), RTLD_NOW | RTLD_LOCAL))
        entry = reinterpret_cast<SourceReadEntry>(::dlsym(handle, kSourceReaderEntry));
    loaded.insert(module, entry);
    return entry;
}

long long Micro(double seconds) { return std::llround(seconds * 1e6); }

} // namespace

QString SourceReaderFor(const QString& encoderPath, const QString& ffprobe)
{
    if (encoderPath.isEmpty() || ffprobe.isEmpty())
        return QString();
    const QFileInfo encoder(encoderPath);
    if (QFileInfo(ffprobe).absolutePath() == encoder.absolutePath())
        return QString();
    const QFileInfo module(encoder.absoluteDir(), QString::fromLatin1(kSourceReaderModule));
    return module.isFile() ? module.absoluteFilePath() : QString();
}

bool ReadWithModule(const QString& module, const QString& source, const QList<ReaderSpan>& spans,
                    const QString& selection, bool chapters, const std::atomic<bool>* cancel, int limitMs,
                    FfprobeRun& run, bool pictureTypes)
{
    const SourceReadEntry read = EntryOf(module);
    if (!read)
        return false;
    SourceReadRequest request;
    request.path = QFile::encodeName(source).toStdString();
    for (const ReaderSpan& s : spans)
        request.spans.push_back(SourceReadSpan{Micro(s.from), !s.to, s.to ? Micro(*s.to) : 0});
    request.selection = selection.toStdString();
    request.chapters = chapters;
    request.pictureTypes = pictureTypes;
    QElapsedTimer clock;
    clock.start();
    bool cancelled = false;
    bool late = false;
    request.stop = [&] {
        cancelled = cancelled || (cancel && cancel->load());
        late = late || clock.elapsed() > limitMs;
        return cancelled || late;
    };
    SourceReadResult result;
    read(request, result);
    run = FfprobeRun();
    if (result.status == SourceReadResult::Status::Ok) {
        run.ok = true;
        run.output = QByteArray::fromStdString(result.text);
    } else if (result.status == SourceReadResult::Status::Stopped || cancelled || late) {
        run.cancelled = cancelled;
        run.error = cancelled ? QStringLiteral("Cancelled.") : QStringLiteral("ffprobe took too long to read %1.").arg(source);
    } else {
        run.error = QString::fromStdString(result.text);
        if (run.error.isEmpty())
            run.error = QStringLiteral("ffprobe could not read %1.").arg(source);
    }
    return true;
}

std::optional<bool> ListTracksWithModule(const QString& module, const QString& source, TrackList& list,
                                         QString* error, const std::atomic<bool>* cancel)
{
    // The limit ffprobe's listing of the tracks has.
    constexpr int kLimitMs = 60000;
    FfprobeRun run;
    if (!ReadWithModule(module, source, {}, QString(), true, cancel, kLimitMs, run))
        return std::nullopt;
    if (!run.ok) {
        if (error)
            *error = run.error;
        return false;
    }
    const std::optional<TrackList> parsed = ParseTrackList(run.output);
    if (!parsed) {
        if (error)
            *error = QStringLiteral("ffprobe gave no list of tracks for %1.").arg(source);
        return false;
    }
    list = *parsed;
    return true;
}
