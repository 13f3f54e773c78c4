#include "switches/ProfileSwitches.h"

#include <cmath>
#include <cstdio>

namespace vt_switches {

std::vector<std::string> SplitArguments(std::string_view text)
{
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (const char c : text) {
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                current += c;
        } else if (c == '"') {
            quoted = true;
            inArgument = true;
        } else if (c == ' ' || c == '\t') {
            if (inArgument) {
                args.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        args.push_back(std::move(current));
    return args;
}

CodecTarget CodecSwitchTarget(std::string_view o)
{
    if (o == "-c" || o == "-codec")
        return CodecTarget::Every;
    if (o == "-vcodec")
        return CodecTarget::Video;
    if (o == "-acodec")
        return CodecTarget::Audio;
    if (o == "-scodec")
        return CodecTarget::Subtitle;
    std::string_view specifier;
    if (o.substr(0, 3) == "-c:")
        specifier = o.substr(3);
    else if (o.substr(0, 7) == "-codec:")
        specifier = o.substr(7);
    else
        return CodecTarget::None;
    // The first stream of a kind is the one that matters; another index names another stream.
    if (specifier.empty() || (specifier.size() != 1 && specifier.substr(1) != ":0"))
        return CodecTarget::None;
    switch (specifier.front()) {
    case 'v':
    case 'V': // video that is no cover picture: for a cut, the same stream
        return CodecTarget::Video;
    case 'a':
        return CodecTarget::Audio;
    case 's':
        return CodecTarget::Subtitle;
    default:
        return CodecTarget::None;
    }
}

StreamTreatment ReadStreamTreatment(const std::vector<std::string>& args)
{
    StreamTreatment t;
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string& o = args[k];
        const bool hasValue = k + 1 < args.size();
        if (o == "-vn") {
            t.videoOff = true;
        } else if (o == "-an") {
            t.audioOff = true;
        } else if (o == "-sn") {
            t.subtitlesOff = true;
        } else if (o == "-map") {
            t.mapsStreams = true;
            k += hasValue ? 1 : 0;
        } else if (o == "-af" || o == "-filter:a" || o == "-filter:a:0" || o == "-filter_complex" || o == "-lavfi") {
            t.audioFiltered = true;
            k += hasValue ? 1 : 0;
        } else if (o == "-cut_points") {
            if (hasValue)
                t.exactCuts = args[++k] == "exact";
        } else if (const CodecTarget target = CodecSwitchTarget(o); target != CodecTarget::None && hasValue) {
            const bool copy = args[++k] == "copy";
            if (target == CodecTarget::Every || target == CodecTarget::Video)
                t.videoCopied = copy;
            if (target == CodecTarget::Every || target == CodecTarget::Audio)
                t.audioCopied = copy;
            if (target == CodecTarget::Every || target == CodecTarget::Subtitle)
                t.subtitleCopied = copy;
        }
    }
    return t;
}

std::string FormatClock(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const long long ms = std::llround(seconds * 1000.0);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000);
    return buf;
}

} // namespace vt_switches
