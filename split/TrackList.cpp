#include "split/TrackList.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr int kRunLimitMs = 60000;

QChar KindOf(const QString& type)
{
    if (type == QLatin1String("video"))
        return QLatin1Char('v');
    if (type == QLatin1String("audio"))
        return QLatin1Char('a');
    if (type == QLatin1String("subtitle"))
        return QLatin1Char('s');
    if (type == QLatin1String("attachment"))
        return QLatin1Char('t');
    return QLatin1Char('d');
}

QString Tag(const QJsonObject& tags, const char* key)
{
    // Matroska's tags come in capitals, MP4's in small letters.
    for (auto it = tags.begin(); it != tags.end(); ++it)
        if (it.key().compare(QLatin1String(key), Qt::CaseInsensitive) == 0)
            return it.value().toString();
    return QString();
}

bool IsTextSubtitle(const QString& codec)
{
    static const QStringList text{"subrip", "srt", "ass", "ssa", "webvtt", "mov_text", "text", "microdvd",
                                  "subviewer", "realtext", "sami", "jacosub", "mpl2", "pjs", "stl", "vplayer"};
    return text.contains(codec);
}

enum class Container { Matroska, WebM, Mp4, MpegTs, Other };

Container ContainerOf(const QString& extension)
{
    const QString e = extension.toLower();
    if (e == QLatin1String("mkv") || e == QLatin1String("mka") || e == QLatin1String("mks"))
        return Container::Matroska;
    if (e == QLatin1String("webm"))
        return Container::WebM;
    if (e == QLatin1String("mp4") || e == QLatin1String("m4v") || e == QLatin1String("mov")
        || e == QLatin1String("m4a") || e == QLatin1String("3gp"))
        return Container::Mp4;
    if (e == QLatin1String("ts") || e == QLatin1String("m2ts") || e == QLatin1String("mts"))
        return Container::MpegTs;
    return Container::Other;
}

// Whether the container holds a subtitle track of this codec, and in which codec ("copy"
// for as it is); empty: it holds none.
QString SubtitleCodecIn(Container c, const QString& codec)
{
    switch (c) {
    case Container::Matroska:
        return codec == QLatin1String("mov_text") ? QStringLiteral("srt") : QStringLiteral("copy");
    case Container::WebM:
        return IsTextSubtitle(codec) ? QStringLiteral("webvtt") : QString();
    case Container::Mp4:
        return IsTextSubtitle(codec) ? QStringLiteral("mov_text") : QString();
    case Container::MpegTs:
        return codec == QLatin1String("dvb_subtitle") || codec == QLatin1String("dvb_teletext") ? QStringLiteral("copy")
                                                                                                : QString();
    case Container::Other:
        break;
    }
    return QString();
}

QString ContainerName(Container c)
{
    switch (c) {
    case Container::Matroska:
        return QStringLiteral("Matroska");
    case Container::WebM:
        return QStringLiteral("WebM");
    case Container::Mp4:
        return QStringLiteral("MP4");
    case Container::MpegTs:
        return QStringLiteral("MPEG-TS");
    case Container::Other:
        break;
    }
    return QString();
}

QString Described(const Track& t)
{
    if (t.kind == QLatin1Char('t') && !t.fileName.isEmpty())
        return QStringLiteral("track %1 (%2)").arg(t.Name(), t.fileName);
    QString s = QStringLiteral("track %1 (%2").arg(t.Name(), t.codec.isEmpty() ? QStringLiteral("unknown") : t.codec);
    if (!t.language.isEmpty())
        s += QLatin1Char(' ') + t.language;
    if (!t.title.isEmpty())
        s += QStringLiteral(" \"%1\"").arg(t.title);
    return s + QLatin1Char(')');
}

// Containers of one sound stream and nothing else (an MP3 file takes exactly one).
bool HoldsOneSoundTrack(const QString& extension)
{
    static const QStringList one{"mp3", "wav", "flac", "aac", "ac3", "eac3", "mp2", "opus", "oga", "amr", "au"};
    return one.contains(extension.toLower());
}

} // namespace

int TrackList::Count(QChar kind) const
{
    int n = 0;
    for (const Track& t : tracks)
        n += t.kind == kind;
    return n;
}

std::optional<TrackList> ParseTrackList(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    TrackList list;
    int numbers[128] = {};
    for (const QJsonValue& v : doc.object().value(QLatin1String("streams")).toArray()) {
        const QJsonObject s = v.toObject();
        Track t;
        t.index = s.value(QLatin1String("index")).toInt(-1);
        if (t.index < 0)
            continue;
        t.kind = KindOf(s.value(QLatin1String("codec_type")).toString());
        t.number = numbers[t.kind.unicode()]++;
        t.codec = s.value(QLatin1String("codec_name")).toString();
        const QJsonObject tags = s.value(QLatin1String("tags")).toObject();
        t.language = Tag(tags, "language");
        if (t.language == QLatin1String("und"))
            t.language.clear();
        t.title = Tag(tags, "title");
        t.fileName = Tag(tags, "filename");
        t.channels = s.value(QLatin1String("channels")).toInt();
        const QJsonObject d = s.value(QLatin1String("disposition")).toObject();
        t.isDefault = d.value(QLatin1String("default")).toInt() != 0;
        t.forced = d.value(QLatin1String("forced")).toInt() != 0;
        t.attachedPicture = d.value(QLatin1String("attached_pic")).toInt() != 0;
        list.tracks.append(t);
    }
    for (const QJsonValue& v : doc.object().value(QLatin1String("chapters")).toArray()) {
        const QJsonObject c = v.toObject();
        Chapter ch;
        ch.start = c.value(QLatin1String("start_time")).toString().toDouble();
        ch.end = c.value(QLatin1String("end_time")).toString().toDouble();
        ch.title = Tag(c.value(QLatin1String("tags")).toObject(), "title");
        list.chapters.append(ch);
    }
    return list;
}

bool ProbeTracks(const QString& ffprobe, const QString& source, TrackList& list, QString* error,
                 const std::atomic<bool>* cancel)
{
    const QStringList args{QStringLiteral("-v"),        QStringLiteral("error"),
                           QStringLiteral("-hide_banner"), QStringLiteral("-of"),
                           QStringLiteral("json"),      QStringLiteral("-show_entries"),
                           QStringLiteral("stream=index,codec_type,codec_name,channels:stream_tags:stream_disposition"
                                          ":chapter=start_time,end_time:chapter_tags=title"),
                           QStringLiteral("-show_chapters"),
                           // Never taken for a protocol or an option, whatever the name.
                           QStringLiteral("file:") + source};
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    p.start(ffprobe, args, QIODevice::ReadOnly);
    if (!p.waitForStarted(30000)) {
        if (error)
            *error = QStringLiteral("ffprobe could not be started (%1).").arg(ffprobe);
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (!p.waitForFinished(20)) {
        if (p.state() == QProcess::NotRunning)
            break;
        if ((cancel && cancel->load()) || clock.elapsed() > kRunLimitMs) {
            p.kill();
            p.waitForFinished(5000);
            if (error)
                *error = cancel && cancel->load() ? QStringLiteral("Cancelled.")
                                                  : QStringLiteral("ffprobe took too long to read %1.").arg(source);
            return false;
        }
    }
    const QByteArray out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error) {
            const QString says = QString::fromLocal8Bit(p.readAllStandardError()).trimmed().section(QLatin1Char('\n'), -1);
            *error = says.isEmpty() ? QStringLiteral("ffprobe could not read %1.").arg(source) : says;
        }
        return false;
    }
    const std::optional<TrackList> parsed = ParseTrackList(out);
    if (!parsed) {
        if (error)
            *error = QStringLiteral("ffprobe gave no list of tracks for %1.").arg(source);
        return false;
    }
    list = *parsed;
    return true;
}

bool TrackSelection::Keeps(const Track& t) const
{
    if (all || t.kind == QLatin1Char('t'))
        return true;
    for (const Item& i : items)
        if (i.kind == t.kind && (i.number < 0 || i.number == t.number))
            return true;
    return false;
}

std::optional<TrackSelection> ParseTrackSelection(const QString& text, QString* error)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0)
        return TrackSelection{};
    TrackSelection s;
    s.all = false;
    for (const QString& raw : trimmed.split(QLatin1Char(','))) {
        const QString item = raw.trimmed();
        const QChar kind = item.isEmpty() ? QChar() : item.at(0).toLower();
        bool ok = QStringLiteral("vasd").contains(kind) && kind != QChar();
        int number = -1;
        if (ok && item.size() > 1) {
            ok = item.at(1) == QLatin1Char(':') && item.size() > 2;
            const QString digits = item.mid(2);
            for (const QChar c : digits)
                ok = ok && c.isDigit() && c.unicode() < 128;
            number = ok ? digits.toInt(&ok) : -1;
        }
        if (!ok) {
            if (error)
                *error = QStringLiteral("\"%1\" names no tracks; give all, or kinds v, a, s, d with an optional "
                                        ":number, separated by commas (v,a:0,a:2,s)")
                             .arg(item);
            return std::nullopt;
        }
        s.items.append(TrackSelection::Item{kind, number});
    }
    return s;
}

TrackSelection SelectionWithout(const TrackList& list, const QList<int>& dropped)
{
    TrackSelection s;
    bool droppedAny = false;
    for (const Track& t : list.tracks) {
        if (t.kind == QLatin1Char('t'))
            continue; // attachments follow whatever is chosen
        if (dropped.contains(t.index))
            droppedAny = true;
        else
            s.items.append({t.kind, t.number});
    }
    s.all = !droppedAny;
    if (s.all)
        s.items.clear();
    return s;
}

QStringList MissingTracks(const TrackSelection& selection, const TrackList& list)
{
    QStringList missing;
    if (selection.all)
        return missing;
    for (const TrackSelection::Item& i : selection.items) {
        const int have = list.Count(i.kind);
        if ((i.number < 0 && have == 0) || i.number >= have)
            missing << (i.number < 0 ? QString(i.kind) : QString(i.kind) + QLatin1Char(':') + QString::number(i.number));
    }
    return missing;
}

ProfileTrackSwitches ReadProfileTrackSwitches(const QString& switches)
{
    ProfileTrackSwitches p;
    const QStringList a = switches.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype k = 0; k < a.size(); ++k) {
        const QString& o = a.at(k);
        const QString value = k + 1 < a.size() ? a.at(k + 1) : QString();
        // A complex graph's outputs go to the file by themselves; a map would add the source's too.
        if (o == QLatin1String("-map") || o == QLatin1String("-filter_complex") || o == QLatin1String("-lavfi"))
            p.maps = true;
        else if (o == QLatin1String("-vn"))
            p.videoOff = true;
        else if (o == QLatin1String("-an"))
            p.audioOff = true;
        else if (o == QLatin1String("-sn"))
            p.subtitlesOff = true;
        else if (o == QLatin1String("-dn"))
            p.dataOff = true;
        else if (o.startsWith(QLatin1String("-disposition")))
            p.dispositions = true;
        else if (o == QLatin1String("-c") || o == QLatin1String("-codec")) {
            if (!p.subtitleCodec)
                p.subtitlesCopied = value == QLatin1String("copy");
        } else if (o == QLatin1String("-c:s") || o == QLatin1String("-codec:s") || o == QLatin1String("-scodec")) {
            p.subtitleCodec = true;
            p.subtitlesCopied = value == QLatin1String("copy");
        }
    }
    return p;
}

TrackMapping ComposeTrackMapping(const TrackList& list, const TrackSelection& selection, const QString& container,
                                 const QString& profileSwitches)
{
    TrackMapping m;
    const ProfileTrackSwitches profile = ReadProfileTrackSwitches(profileSwitches);
    if (profile.maps || list.tracks.isEmpty())
        return m; // the profile's own choice, or ffmpeg's when the source could not be listed
    const Container c = ContainerOf(container);
    const QString where = c == Container::Other ? container.toUpper() : ContainerName(c);
    QStringList leftOut;
    QString subtitleCodec; // one for all: ffmpeg takes -c:s for every subtitle track
    int sound = 0;
    // Each kept track's flags as the source has them: left alone, ffmpeg flags the first
    // subtitle track default where the source flags none (a player then shows it unasked),
    // and an exact cut's video would take the flags of the pipe it comes from.
    QStringList dispositions;
    QHash<QChar, int> kept;
    const auto keep = [&](const Track& t) {
        QStringList flags;
        if (t.isDefault)
            flags << QStringLiteral("default");
        if (t.forced)
            flags << QStringLiteral("forced");
        if (t.attachedPicture)
            flags << QStringLiteral("attached_pic");
        dispositions << QStringLiteral("-disposition:%1:%2").arg(t.kind).arg(kept[t.kind]++)
                     << (flags.isEmpty() ? QStringLiteral("0") : flags.join(QLatin1Char('+')));
        m.arguments << QStringLiteral("-map") << QStringLiteral("0:%1").arg(t.Name());
    };
    for (const Track& t : list.tracks) {
        if (!selection.Keeps(t))
            continue;
        // A sound file holds sound and nothing else; what it cannot hold is no surprise.
        if (HoldsOneSoundTrack(container) && t.kind != QLatin1Char('a'))
            continue;
        switch (t.kind.unicode()) {
        case 'v':
            if (!profile.videoOff)
                keep(t);
            break;
        case 'a':
            if (profile.audioOff)
                break;
            if (HoldsOneSoundTrack(container) && sound++ > 0) {
                leftOut << Described(t);
                break;
            }
            keep(t);
            break;
        case 's': {
            if (profile.subtitlesOff)
                break;
            const QString codec = SubtitleCodecIn(c, t.codec);
            // Several subtitle tracks that need different codecs: the first one's stands,
            // the others are left out rather than failing the job.
            if (codec.isEmpty() || (!subtitleCodec.isEmpty() && codec != subtitleCodec && !profile.subtitleCodec)) {
                leftOut << Described(t);
                break;
            }
            if (!profile.subtitleCodec)
                subtitleCodec = codec;
            keep(t);
            break;
        }
        case 't':
            // Fonts for styled subtitles; only Matroska keeps attachments.
            if (c == Container::Matroska)
                m.arguments << QStringLiteral("-map") << QStringLiteral("0:%1").arg(t.Name());
            else if (!t.fileName.isEmpty() || !t.codec.isEmpty())
                leftOut << Described(t);
            break;
        default:
            // MP4 keeps its chapters' titles in a text track that ffmpeg lists as data; the
            // chapters themselves come along without it.
            if (t.codec == QLatin1String("bin_data") && !list.chapters.isEmpty())
                break;
            if (!profile.dataOff)
                leftOut << Described(t);
            break;
        }
    }
    if (!subtitleCodec.isEmpty())
        m.arguments << QStringLiteral("-c:s") << subtitleCodec;
    // Only Matroska and MP4 store the flags; a profile's own word on them stands.
    if ((c == Container::Matroska || c == Container::WebM || c == Container::Mp4) && !profile.dispositions)
        m.arguments << dispositions;
    if (!leftOut.isEmpty())
        m.notes << QStringLiteral("%1 cannot hold %2, so %3 left out.")
                       .arg(where, leftOut.join(QStringLiteral(", ")),
                            leftOut.size() == 1 ? QStringLiteral("it is") : QStringLiteral("they are"));
    return m;
}

QStringList DescribeTracks(const TrackList& list)
{
    QStringList lines;
    lines << QStringLiteral("index  track  codec             language  channels  title, flags");
    for (const Track& t : list.tracks) {
        QStringList flags;
        if (t.isDefault)
            flags << QStringLiteral("default");
        if (t.forced)
            flags << QStringLiteral("forced");
        if (t.attachedPicture)
            flags << QStringLiteral("cover");
        QString title = t.title.isEmpty() ? t.fileName : t.title;
        QString rest = title.isEmpty() ? QString() : QStringLiteral("\"%1\"").arg(title);
        if (!flags.isEmpty())
            rest += (rest.isEmpty() ? QString() : QStringLiteral(" ")) + flags.join(QLatin1Char(' '));
        lines << QStringLiteral("%1  %2  %3  %4  %5  %6")
                     .arg(t.index, -5)
                     .arg(t.Name(), -5)
                     .arg(t.codec.isEmpty() ? QStringLiteral("-") : t.codec, -16)
                     .arg(t.language.isEmpty() ? QStringLiteral("-") : t.language, -8)
                     .arg(t.channels > 0 ? QString::number(t.channels) : QStringLiteral("-"), -8)
                     .arg(rest)
                     .trimmed();
    }
    for (const Chapter& ch : list.chapters)
        lines << QStringLiteral("chapter  %1 - %2  %3")
                     .arg(ch.start, 0, 'f', 3)
                     .arg(ch.end, 0, 'f', 3)
                     .arg(ch.title.isEmpty() ? QString() : QStringLiteral("\"%1\"").arg(ch.title))
                     .trimmed();
    return lines;
}
