#pragma once
// One reading of a profile's switches, shared by the program (which plans the cuts) and the
// encoder program (which runs them): how a switch text splits into arguments, which streams
// a codec switch names, and what the switches do to the video, sound and subtitles. Plain
// C++ so the encoder, which links no Qt, reads them exactly as the program does.
#include <string>
#include <string_view>
#include <vector>

namespace vt_switches {

// The arguments of a switch text: text between double quotes is one argument exactly as it
// stands; the rest is split at blanks and tabs. No shell is involved and nothing is escaped.
// UTF-8 in, UTF-8 out (the quote and blanks are single bytes there).
std::vector<std::string> SplitArguments(std::string_view text);

// The streams one option names when it sets a codec.
enum class CodecTarget {
    None,     // no codec switch, or one naming another stream (-c:v:1, -c:0, -c:d)
    Every,    // -c, -codec
    Video,    // -vcodec, -c:v, -c:V, -codec:v, with :0 or without
    Audio,    // -acodec, -c:a, -c:a:0 ...
    Subtitle, // -scodec, -c:s, -c:s:0 ...
};
CodecTarget CodecSwitchTarget(std::string_view option);

// What switches (already split) do to the first stream of each kind. When several switches
// name the same stream, the last one counts, as in ffmpeg.
struct StreamTreatment {
    bool videoCopied = false; // the last codec switch naming it says "copy"
    bool audioCopied = false;
    bool subtitleCopied = false;
    bool videoOff = false;    // -vn
    bool audioOff = false;    // -an
    bool subtitlesOff = false; // -sn
    bool audioFiltered = false; // -af, -filter:a, -filter_complex, -lavfi: copied sound is encoded after all
    bool mapsStreams = false;   // -map: the switches choose the streams themselves
    bool exactCuts = false;     // -cut_points exact (the last -cut_points counts)
};
StreamTreatment ReadStreamTreatment(const std::vector<std::string>& arguments);

// A time as HH:MM:SS.mmm, to the nearest millisecond; negative or not a number: 00:00:00.000.
std::string FormatClock(double seconds);

} // namespace vt_switches
