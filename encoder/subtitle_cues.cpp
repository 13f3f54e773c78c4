#include "subtitle_cues.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string Seconds(double s)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", s);
    return buf;
}

// The input number and the rest of a "<n>:s[:m]" map ("0:s:1" -> 0, ":s:1"); -1 when it is no
// such map.
int SubtitleMapInput(const std::string& map, std::string* rest = nullptr)
{
    size_t k = 0;
    while (k < map.size() && std::isdigit(static_cast<unsigned char>(map[k])))
        ++k;
    if (k == 0 || k > 3 || map.compare(k, 2, ":s") != 0)
        return -1;
    const std::string tail = map.substr(k);
    if (tail.size() > 2) {
        if (tail[2] != ':' || tail.size() == 3)
            return -1;
        for (size_t j = 3; j < tail.size(); ++j)
            if (!std::isdigit(static_cast<unsigned char>(tail[j])))
                return -1;
    }
    if (rest)
        *rest = tail;
    return std::atoi(map.substr(0, k).c_str());
}

} // namespace

bool MapsSubtitlesByKind(const std::vector<std::string>& outputOptions)
{
    bool maps = false;
    for (size_t k = 0; k < outputOptions.size(); ++k) {
        if (outputOptions[k] == "-sn")
            return false;
        if (outputOptions[k] == "-map" && k + 1 < outputOptions.size() && SubtitleMapInput(outputOptions[k + 1]) == 0)
            maps = true;
    }
    return maps;
}

std::string CueFilePath(const std::string& source, const std::string& output)
{
    const size_t slash = output.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : output.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? output : output.substr(slash + 1);
    const size_t dot = source.rfind('.');
    std::string ext = dot == std::string::npos || source.find('/', dot) != std::string::npos ? std::string()
                                                                                               : source.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    const bool mp4 = ext == "mp4" || ext == "m4v" || ext == "mov" || ext == "3gp" || ext == "m4a";
    return folder + "." + name + (mp4 ? ".cues.mp4" : ".cues.mkv");
}

std::string CueCutFilter(double length)
{
    if (!(length > 0) || !std::isfinite(length))
        return std::string();
    // A filter list takes no commas, so no min(), max() or lt(): min(a, b) is
    // (a + b - |a - b|) / 2, max(a, 0) is (a + |a|) / 2, and "a < 0" is |a| - a > 0.
    // Dropped: a cue from before 0 (|pts| - pts > 0) that has ended by then (1 - sgn(pts +
    // duration) > 0). Picture cues often come without a length, each shown until the next
    // one (which may be an empty one that clears the screen): those from before 0 are kept,
    // all at 0 and in their order, so that what shows at the start is what showed there.
    const std::string drop = "noise=drop=(abs(pts)-pts)*(1-sgn(pts+duration))*sgn(duration)";
    // Moved to 0 and shortened by as much.
    const std::string start = "setts=ts=(TS+abs(TS))/2:duration=DURATION+(PTS-abs(PTS))/2";
    // Ended with the section.
    const std::string left = "(" + Seconds(length) + "/TB-PTS)";
    const std::string end = "setts=duration=(DURATION+" + left + "-abs(DURATION-" + left + "))/2";
    return drop + "," + start + "," + end;
}

std::vector<std::string> CueReadingArguments(const std::string& source, double start, double length,
                                             const std::string& cueFile)
{
    // The seek lands on a key frame at or before start - look-back; -itsoffset counts the
    // time stamps from the section's start instead of from there.
    const double from = std::max(0.0, start - kCueLookBack);
    std::vector<std::string> args{"-ss", Seconds(from), "-itsoffset", Seconds(from - start), "-vn", "-an", "-dn",
                                  "-i", source, "-t", Seconds(length), "-map", "0:s", "-c", "copy"};
    // Every packet from the seek on: the filters decide which belong.
    args.insert(args.end(), {"-copypriorss", "1", "-bsf:s", CueCutFilter(length), "-map_chapters", "-1",
                             "-avoid_negative_ts", "disabled", cueFile});
    return args;
}

void PointSubtitleMapsAt(std::vector<std::string>& outputOptions, int input)
{
    for (size_t k = 0; k + 1 < outputOptions.size(); ++k) {
        std::string rest;
        if (outputOptions[k] == "-map" && SubtitleMapInput(outputOptions[k + 1], &rest) >= 0)
            outputOptions[k + 1] = std::to_string(input) + rest;
    }
}
