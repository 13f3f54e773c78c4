#pragma once
// The tracks of a source and which of them a job keeps.
//
// ffmpeg picks one stream of each kind unless told otherwise, so a cut that should keep
// every sound and subtitle track, the chapters and the fonts has to say so with -map.
// What the output's container cannot hold is left out with a note, never a failed job.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

struct Track {
    int index = -1;         // in the source
    QChar kind;             // 'v' video, 'a' sound, 's' subtitle, 'd' data, 't' attachment
    int number = 0;         // among the source's tracks of its kind, from 0 (as in 0:a:1)
    QString codec;          // ffprobe's codec name ("h264", "subrip"); empty when unknown
    QString language;       // the tag as stored ("eng"); empty: none
    QString title;
    int channels = 0;       // sound only
    bool isDefault = false;
    bool forced = false;
    bool attachedPicture = false; // cover art: a video track of one picture
    QString fileName;       // attachments
    // "v:0", "a:1": how --tracks and the list name it.
    QString Name() const { return QString(kind) + QLatin1Char(':') + QString::number(number); }
};

struct Chapter {
    double start = 0;
    double end = 0;
    QString title;
};

struct TrackList {
    QList<Track> tracks;
    QList<Chapter> chapters;
    int Count(QChar kind) const;
};

// The list from ffprobe's JSON (-show_streams -show_chapters). Nothing for text that is no
// such JSON.
std::optional<TrackList> ParseTrackList(const QByteArray& json);

// Runs ffprobe over the source; false with the reason in error when it cannot.
bool ProbeTracks(const QString& ffprobe, const QString& source, TrackList& list, QString* error,
                 const std::atomic<bool>* cancel = nullptr);

// Which tracks a job keeps: all of them, or those named ("v,a:0,a:2,s": a kind alone keeps
// every track of that kind). Attachments and chapters always follow.
struct TrackSelection {
    bool all = true;
    struct Item {
        QChar kind;
        int number = -1; // -1: every track of the kind
    };
    QList<Item> items;
    bool Keeps(const Track& t) const;
};

// "all" or a comma list of v, a, s, d with an optional ":N". Nothing for any other text,
// with why in error.
std::optional<TrackSelection> ParseTrackSelection(const QString& text, QString* error = nullptr);

// The selection that keeps every track of the list except those at the given source
// indices (Track::index): "all" when none is left out, else one item per kept track.
TrackSelection SelectionWithout(const TrackList& list, const QList<int>& dropped);

// The named tracks that the source does not have ("a:5"), for a message.
QStringList MissingTracks(const TrackSelection& selection, const TrackList& list);

// What a profile's switches already say about the streams.
struct ProfileTrackSwitches {
    bool maps = false;            // -map, -filter_complex, -lavfi: the profile's choice stands
    bool videoOff = false, audioOff = false, subtitlesOff = false, dataOff = false;
    bool subtitleCodec = false;   // -c:s, -scodec, -codec:s
    bool subtitlesCopied = false; // copied as they are (-c copy or -c:s copy)
    bool dispositions = false;    // -disposition: the profile sets the tracks' flags itself
};
ProfileTrackSwitches ReadProfileTrackSwitches(const QString& switches);

// The switches that keep the chosen tracks in a container (the output's extension without
// its dot, "mkv") and the notes on what was left out.
struct TrackMapping {
    QStringList arguments;
    QStringList notes;
};
TrackMapping ComposeTrackMapping(const TrackList& list, const TrackSelection& selection, const QString& container,
                                 const QString& profileSwitches);

// One line per track for a listing: "  1  a:0  aac      eng  2 ch  \"Title\"  default forced".
QStringList DescribeTracks(const TrackList& list);
