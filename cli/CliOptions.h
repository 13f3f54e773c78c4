#pragma once
#include <QString>
#include <QStringList>
#include <optional>

#include "segments/SegmentList.h"
#include "split/TrackList.h"

// What one call of veltrane-cli asks for, as read from its arguments.
struct CliOptions {
    enum class Overwrite { Ask, Always, Never };

    QStringList sources;            // as given, in order
    std::optional<double> start;    // seconds; none: the source's beginning
    std::optional<double> end;      // seconds; none: the source's end
    QString startText, endText;     // as typed, for messages
    qint32 sections = 0;            // --sections N; 0: one range out
    std::optional<double> every;    // --every DURATION, seconds
    QString everyText;
    std::optional<qint64> maxSize;  // --max-size SIZE, bytes
    QString maxSizeText;
    bool chapters = false;          // --chapters: a section per chapter
    std::optional<QList<double>> splitAt; // --split-at T1,T2,...
    QString splitAtText;
    QString nameTemplate;           // --name TEMPLATE; empty: NAME_ClipN
    QString profile;                // NAME or FILE; empty: the one the preferences select
    QString outputDir;              // empty: as the preferences say
    Overwrite overwrite = Overwrite::Ask;
    bool dryRun = false;
    bool json = false;              // --progress json
    bool keepGoing = false;
    bool quiet = false;
    TrackSelection tracks;          // --tracks SPEC; all by default
    QString tracksText;
    bool listTracks = false;        // --list-tracks: print the sources' tracks, cut nothing
    QList<Segment> segments;        // --segments FILE or --range START-END...; empty: none
    bool join = false;              // --join: the segments into one file
    bool joinChapters = false;      // --join-chapters: a chapter per segment in the joined file
};

// The result of reading the arguments: options to run with, or a text to print and the
// status to exit with (help and version: 0 on standard output; errors: 2 on standard error).
struct CliParse {
    std::optional<CliOptions> options;
    QString text;
    int exitStatus = 0;
};

// The most sections one call plans for a source.
constexpr qint32 kMaxCliSections = 100000;

CliParse ParseCliArguments(const QStringList& arguments);

// "HH:MM:SS[.fff]" (hours of any length, minutes and seconds below 60), "MM:SS[.fff]" or
// plain seconds ("90", "12.5"), always with "."; nothing for any other text.
std::optional<double> ParseCliTime(const QString& text);

// Seconds as "HH:MM:SS.mmm".
QString FormatCliTime(double seconds);
