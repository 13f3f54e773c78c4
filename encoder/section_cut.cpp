#include "section_cut.h"
#include "sound_ticks.h"
#include "switches/ProfileSwitches.h"
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

// Whether the options filter the video's packets or scale time stamps themselves: the one
// reading would have to share those with them.
bool OwnVideoTiming(const std::vector<std::string>& options)
{
    for (const std::string& o : options) {
        if (o.rfind("-itsscale", 0) == 0 || o == "-vbsf")
            return true;
        if (o.rfind("-bsf", 0) == 0 && o != "-bsf:a" && o.rfind("-bsf:a:", 0) != 0 && o != "-bsf:s"
            && o.rfind("-bsf:s:", 0) != 0)
            return true;
    }
    return false;
}

std::string Exact(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// The smallest share by which the video's end may fall short of the section's length for
// the stretch to be undone exactly: below it, rounding in a long section could cost a tick.
constexpr double kLeastStretch = 2e-6;

// x/d rounded to the nearest whole number, halves away from zero: how ffmpeg rescales a seek
// into a stream's time base.
long long RoundedQuotient(__int128 x, __int128 d)
{
    const __int128 q = (2 * (x < 0 ? -x : x) + d) / (2 * d);
    return static_cast<long long>(x < 0 ? -q : q);
}

} // namespace

std::string CoarseSoundLength(const SoundTicks& ticks, long long seekUs, long long lengthUs)
{
    if (ticks.num <= 0 || ticks.den <= 0 || lengthUs <= 0)
        return std::string();
    const __int128 perStep = static_cast<__int128>(ticks.num) * 1000000; // microseconds times den
    const auto step = [&](long long us) { return RoundedQuotient(static_cast<__int128>(us + ticks.originUs) * ticks.den, perStep); };
    const long long steps = step(seekUs + lengthUs) - step(seekUs);
    if (steps <= 0)
        return std::string();
    // Half a step short of the next section's first packet: clear of the microseconds ffmpeg
    // rounds each packet's time to on either side.
    const long long us = static_cast<long long>((2 * static_cast<__int128>(steps) - 1) * perStep / (2 * ticks.den));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld.%06lld", us / 1000000, us % 1000000);
    return buf;
}

bool VideoCopiedAsIs(const std::vector<std::string>& outputOptions)
{
    const vt_switches::StreamTreatment t = vt_switches::ReadStreamTreatment(outputOptions);
    return t.videoCopied && !t.videoOff;
}

bool MapsStreams(const std::vector<std::string>& outputOptions)
{
    return vt_switches::ReadStreamTreatment(outputOptions).mapsStreams;
}

std::string SubtitleEndFilter(const std::vector<std::string>& outputOptions, const std::string& length)
{
    const vt_switches::StreamTreatment t = vt_switches::ReadStreamTreatment(outputOptions);
    if (!t.subtitleCopied || t.subtitlesOff || !PlainNumber(length) || length[0] == '-')
        return std::string();
    // The shorter of a cue's duration and what is left of the section after it starts:
    // min(a, b) = (a + b - |a - b|) / 2, since a filter list takes no commas.
    const std::string left = "(" + length + "/TB-PTS)";
    return "setts=duration=(DURATION+" + left + "-abs(DURATION-" + left + "))/2";
}

bool TakeSectionCutOption(const std::vector<std::string>& in, size_t& k, SectionCut& cut, std::string& error)
{
    const std::string& o = in[k];
    if (o == "-cut_points" || o == "-cut_end" || o == "-video_dts") {
        const std::string value = k + 1 < in.size() ? in[k + 1] : std::string();
        if (o == "-cut_points" && (value == "exact" || value == "keyframes"))
            cut.exactCuts = value == "exact";
        else if (o == "-cut_end" && value == "next")
            cut.nextSectionFollows = true;
        else if (o == "-video_dts" && value == "stored")
            cut.videoDtsStored = true;
        else
            error = o == "-cut_points" ? "-cut_points takes exact or keyframes"
                    : o == "-cut_end"  ? "-cut_end takes next"
                                       : "-video_dts takes stored";
        k += k + 1 < in.size() ? 1 : 0;
        return true;
    }
    if (o != "-video_end_dts" && o != "-decode_from" && o != "-video_shown_until" && o != "-cut_start")
        return false;
    if (k + 1 >= in.size() || !PlainNumber(in[k + 1])) {
        error = o + " needs a number of seconds";
        ++k;
        return true;
    }
    (o == "-decode_from"         ? cut.decodeFrom
     : o == "-video_shown_until" ? cut.videoShownUntil
     : o == "-cut_start"         ? cut.exactStartKey
                                 : cut.videoEndDts) = in[++k];
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
    const double length = lengthAt < outputOptions.size() ? std::strtod(outputOptions[lengthAt].c_str(), nullptr) : 0;
    const bool ownSoundEnd = !cut.soundLength.empty() && PlainNumber(cut.soundLength) && length > 0;
    // Without a video end of its own, the video's reading ends where the section does.
    const std::string videoEnd = cut.videoEndDts.empty() && ownSoundEnd ? outputOptions[lengthAt] : cut.videoEndDts;
    const double end = videoEnd.empty() ? 0 : std::strtod(videoEnd.c_str(), nullptr);
    // Nothing to do, or nothing that can be done: a profile that maps streams itself names
    // inputs by number, so the source stays one input and ffmpeg's own -t decides. Maps by
    // kind (the program's own) follow the streams to their input.
    if (videoEnd.empty() || !(end > 0) || !(length >= end) || !MapsByKind(outputOptions)) {
        inputs.push_back("-i");
        inputs.push_back(input);
        return inputs;
    }

    if (!ownSoundEnd && cut.videoDtsStored && !OwnVideoTiming(inputOptions) && !OwnVideoTiming(outputOptions)
        && (length - end) / length >= kLeastStretch) {
        // One reading. ffmpeg multiplies each video time stamp (counted from the seek) by the
        // stretch and drops the fraction, towards zero; the filter on the way out divides and
        // rounds away from zero again, which gives back every stamp exactly: the quotient lies
        // within 1/stretch (< 1) of it on the side towards zero. Half the room that leaves
        // keeps floating-point error out.
        const double stretch = length / end;
        const std::string back = Exact(end / length);
        const std::string slack = Exact((1 - end / length) / 2);
        inputs.push_back("-itsscale:v");
        inputs.push_back(Exact(stretch));
        inputs.push_back("-i");
        inputs.push_back(input);
        const auto undo = [&](const char* v) {
            return std::string("sgn(") + v + ")*ceil(abs(" + v + ")*" + back + "-" + slack + ")";
        };
        outputOptions.push_back("-bsf:v");
        outputOptions.push_back("setts=pts=" + undo("PTS") + ":dts=" + undo("DTS"));
        return inputs;
    }

    // The video from a reading of its own that ends at its decode time; the rest (sound,
    // subtitles) from a second reading, ended by the section's length. Their time stamps stay
    // as the source has them, whatever the codecs (stretching them on the way in and back on
    // the way out lost text subtitles that ffmpeg encodes, and rounded coarse ones).
    inputs.push_back("-t");
    inputs.push_back(videoEnd);
    for (const char* o : {"-an", "-sn", "-dn"})
        inputs.push_back(o);
    inputs.push_back("-i");
    inputs.push_back(input);
    inputs.insert(inputs.end(), inputOptions.begin(), inputOptions.end());
    if (ownSoundEnd) {
        // The sound ends on its own step; the section's -t must not end it before that.
        inputs.push_back("-t");
        inputs.push_back(cut.soundLength);
        if (std::strtod(cut.soundLength.c_str(), nullptr) > length)
            outputOptions[lengthAt] = cut.soundLength;
    }
    inputs.push_back("-vn");
    inputs.push_back("-i");
    inputs.push_back(input);
    PointMapsAtInputs(outputOptions, 0, 1, false);
    return inputs;
}
