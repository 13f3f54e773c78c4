#include "section_cut.h"
#include "stream_maps.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace {

// Digits with at most one "." and an optional leading "-": nothing that could reach
// ffmpeg's filter syntax.
bool PlainNumber(const std::string& s)
{
    size_t k = !s.empty() && s[0] == '-' ? 1 : 0;
    bool digit = false, point = false;
    for (; k < s.size(); ++k) {
        if (std::isdigit(static_cast<unsigned char>(s[k])))
            digit = true;
        else if (s[k] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digit;
}

// What a codec switch names: 'v', 'a', 's', '*' (every stream), or 0 (another stream).
char CodecSwitchKind(const std::string& o)
{
    if (o == "-c" || o == "-codec")
        return '*';
    if (o == "-vcodec")
        return 'v';
    if (o == "-acodec")
        return 'a';
    if (o == "-scodec")
        return 's';
    std::string specifier;
    if (o.rfind("-c:", 0) == 0)
        specifier = o.substr(3);
    else if (o.rfind("-codec:", 0) == 0)
        specifier = o.substr(7);
    else
        return 0;
    if (specifier == "a" || specifier == "a:0" || specifier == "v" || specifier == "v:0" || specifier == "V" || specifier == "s" || specifier == "s:0")
        return specifier[0] == 'V' ? 'v' : specifier[0];
    return 0;
}

// The sound is encoded: no codec switch says "copy" for it (ffmpeg encodes by default),
// or it is filtered. Left out (-an) counts as copied: nothing to encode.
bool SoundEncoded(const std::vector<std::string>& options)
{
    bool copied = false, off = false, filtered = false;
    for (size_t k = 0; k < options.size(); ++k) {
        const std::string& o = options[k];
        if (o == "-an")
            off = true;
        else if (o == "-af" || o == "-filter:a" || o == "-filter_complex" || o == "-lavfi")
            filtered = true;
        const char kind = CodecSwitchKind(o);
        if (kind && k + 1 < options.size()) {
            if (kind == '*' || kind == 'a')
                copied = options[k + 1] == "copy";
            ++k;
        }
    }
    return !off && (!copied || filtered);
}

bool Has(const std::vector<std::string>& options, const std::string& name)
{
    for (const std::string& o : options)
        if (o == name)
            return true;
    return false;
}

// The value of the last option among names; empty when none.
std::string LastValue(const std::vector<std::string>& options, const std::vector<std::string>& names)
{
    std::string value;
    for (size_t k = 0; k + 1 < options.size(); ++k)
        for (const std::string& n : names)
            if (options[k] == n) {
                value = options[k + 1];
                break;
            }
    return value;
}

// A bitstream filter for one kind of stream, keeping the one the profile gives it (the last
// such option counts in ffmpeg, so ours goes last and runs theirs after it).
void AddBitstreamFilter(std::vector<std::string>& options, char kind, const std::string& filter)
{
    const std::string k(1, kind);
    const std::string theirs = LastValue(options, {"-bsf", "-bsf:" + k, "-bsf:" + k + ":0", "-" + k + "bsf"});
    options.push_back("-bsf:" + k);
    options.push_back(theirs.empty() ? filter : filter + "," + theirs);
}

std::string Number(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.12f", v);
    return buf;
}

} // namespace

bool VideoCopiedAsIs(const std::vector<std::string>& outputOptions)
{
    bool copied = false, off = false;
    for (size_t k = 0; k < outputOptions.size(); ++k) {
        const std::string& o = outputOptions[k];
        if (o == "-vn")
            off = true;
        const char kind = CodecSwitchKind(o);
        if (kind && k + 1 < outputOptions.size()) {
            if (kind == '*' || kind == 'v')
                copied = outputOptions[k + 1] == "copy";
            ++k;
        }
    }
    return copied && !off;
}

bool MapsStreams(const std::vector<std::string>& outputOptions)
{
    return Has(outputOptions, "-map");
}

bool TakeSectionCutOption(const std::vector<std::string>& in, size_t& k, SectionCut& cut, std::string& error)
{
    const std::string& o = in[k];
    if (o == "-cut_points" || o == "-cut_end") {
        const std::string value = k + 1 < in.size() ? in[k + 1] : std::string();
        if (o == "-cut_points" && (value == "exact" || value == "keyframes"))
            cut.exactCuts = value == "exact";
        else if (o == "-cut_end" && value == "next")
            cut.nextSectionFollows = true;
        else
            error = o == "-cut_points" ? "-cut_points takes exact or keyframes" : "-cut_end takes next";
        k += k + 1 < in.size() ? 1 : 0;
        return true;
    }
    if (o != "-video_end_dts")
        return false;
    if (k + 1 >= in.size() || !PlainNumber(in[k + 1])) {
        error = "-video_end_dts needs a number of seconds";
        ++k;
        return true;
    }
    cut.videoEndDts = in[++k];
    return true;
}

std::vector<std::string> SectionCutInputs(const SectionCut& cut, const std::vector<std::string>& inputOptions,
                                          const std::string& input, std::vector<std::string>& outputOptions)
{
    std::vector<std::string> inputs = inputOptions;
    // The section's length: the first -t, which the program puts right after the seek.
    size_t lengthAt = outputOptions.size();
    for (size_t k = 0; k + 1 < outputOptions.size(); ++k)
        if (outputOptions[k] == "-t") {
            lengthAt = k + 1;
            break;
        }
    const double end = cut.videoEndDts.empty() ? 0 : std::strtod(cut.videoEndDts.c_str(), nullptr);
    const double length = lengthAt < outputOptions.size() ? std::strtod(outputOptions[lengthAt].c_str(), nullptr) : 0;
    // Nothing to do, or nothing that can be done: a profile that maps streams itself names
    // inputs by number, so the source stays one input and ffmpeg's own -t decides. Maps by
    // kind (the program's own) follow the streams to their input.
    if (cut.videoEndDts.empty() || !(end > 0) || !(length >= end) || !MapsByKind(outputOptions)) {
        inputs.push_back("-i");
        inputs.push_back(input);
        return inputs;
    }

    if (SoundEncoded(outputOptions) || cut.readTwice) {
        // The video from a reading of its own that ends at its decode time; the rest (sound,
        // subtitles) from a second reading, ended by the section's length.
        inputs.push_back("-t");
        inputs.push_back(cut.videoEndDts);
        for (const char* o : {"-an", "-sn", "-dn"})
            inputs.push_back(o);
        inputs.push_back("-i");
        inputs.push_back(input);
        inputs.insert(inputs.end(), inputOptions.begin(), inputOptions.end());
        inputs.push_back("-vn");
        inputs.push_back("-i");
        inputs.push_back(input);
        PointMapsAtInputs(outputOptions, 0, 1, false);
        return inputs;
    }

    // Everything ends at the video's end; the sound and subtitles, their time stamps
    // stretched by end/length from the section's start, get there at its length.
    const std::string scale = Number(end / length);
    for (const char* o : {"-itsscale:a", "-itsscale:s"}) {
        inputs.push_back(o);
        inputs.push_back(scale);
    }
    inputs.push_back("-i");
    inputs.push_back(input);
    outputOptions[lengthAt] = cut.videoEndDts;
    for (const char kind : {'a', 's'})
        AddBitstreamFilter(outputOptions, kind, "setts=ts=TS/" + scale);
    return inputs;
}
