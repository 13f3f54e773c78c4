#include "stream_maps.h"

namespace {

// The kind of a "0:<kind>[:n]" map; 0 when it is no such map.
char KindOf(const std::string& map)
{
    if (map.size() < 3 || map.compare(0, 2, "0:") != 0)
        return 0;
    const char kind = map[2];
    if (kind != 'v' && kind != 'V' && kind != 'a' && kind != 's' && kind != 't' && kind != 'd')
        return 0;
    if (map.size() == 3)
        return kind;
    if (map[3] != ':' || map.size() == 4)
        return 0;
    for (size_t k = 4; k < map.size(); ++k)
        if (map[k] < '0' || map[k] > '9')
            return 0;
    return kind;
}

} // namespace

bool MapsByKind(const std::vector<std::string>& options)
{
    for (size_t k = 0; k < options.size(); ++k)
        if (options[k] == "-map" && (k + 1 >= options.size() || KindOf(options[k + 1]) == 0))
            return false;
    return true;
}

int PointMapsAtInputs(std::vector<std::string>& options, int videoInput, int otherInput, bool pipedVideo)
{
    int dropped = 0;
    bool videoTaken = false;
    std::vector<std::string> out;
    out.reserve(options.size());
    for (size_t k = 0; k < options.size(); ++k) {
        const char kind = options[k] == "-map" && k + 1 < options.size() ? KindOf(options[k + 1]) : 0;
        if (kind == 0) {
            out.push_back(options[k]);
            continue;
        }
        const std::string& map = options[++k];
        const bool video = kind == 'v' || kind == 'V';
        if (video && pipedVideo) {
            if (videoTaken) {
                ++dropped;
                continue;
            }
            videoTaken = true;
            out.push_back("-map");
            out.push_back(std::to_string(videoInput) + ":v:0");
            continue;
        }
        out.push_back("-map");
        out.push_back(std::to_string(video ? videoInput : otherInput) + map.substr(1));
    }
    options.swap(out);
    return dropped;
}
