#pragma once
// A section of copied video cut on its exact frames: the pictures from the section's first
// frame up to the first key frame after it are encoded again with the source's codec and
// settings, everything from that key frame on is copied as it is, and pictures at the end
// that a copy cannot hold without a picture of the next section are encoded again as well.
//
// The section's video is written to a pipe as fragmented MP4 (its decode times and parameter
// sets kept); ffmpeg takes it from there, together with the source's other streams cut at
// the same times, and applies the profile's switches as usual.
//
// A video it cannot match (another codec, an encoder this FFmpeg lacks, a profile or
// picture format the encoder does not offer) is cut on key frames instead: Plan says where.
//
// All this lives in a module of its own beside the encoder program (veltrane-exact.so),
// loaded only for a section that asks for exact cuts: the FFmpeg libraries it links take
// longer to load than a whole copied section often takes.
#include "switches/ProfileSwitches.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Times in the encoder program's messages: HH:MM:SS.mmm, as the program writes them.
using vt_switches::FormatClock;

struct ExactCutRequest {
    std::string source;
    double start = 0;  // seconds from the source's start, as -ss counts them
    double length = 0; // up to a little before the next section's first frame (-t)
    bool nextSectionFollows = false; // the next section begins where this one ends
    // The output keeps decode times (MP4, MOV): they step evenly from the first picture on, so
    // a constant-rate source stays one, and the video starts decodeLead before its first
    // picture shows (an edit list puts that picture at 0). Otherwise the first picture
    // decodes at 0, and the decode times after it catch up with the copy's a tick apart.
    bool outputKeepsDecodeTimes = false;
};

struct ExactCutPlan {
    enum class Mode {
        Plain,     // nothing to do here: no video, or a source this cannot read (ffmpeg says why)
        Exact,     // encoded up to the first key frame, copied from there (WriteVideo)
        KeyFrames, // copied from key frames: keyStart, keyLength, videoEndDts; reason says why
    };
    Mode mode = Mode::Plain;
    // Exact: where the section's first frame lies, and the next section's first frame (none:
    // the section runs to the end of the source); seconds from the source's start.
    double first = 0;
    std::optional<double> next;
    // Exact: how long before the first picture shows the video written decodes (seconds);
    // its times on the pipe are that much later than the section's.
    double decodeLead = 0;
    // KeyFrames: the copy starts at the key frame at keyStart, lasts keyLength, and its video
    // stops before the packet whose decode time from keyStart reaches videoEndDts. keyLength
    // 0: nothing lies between the key frames. reason: why the frames could not be matched.
    double keyStart = 0;
    double keyLength = 0;
    std::optional<double> videoEndDts;
    std::string reason;
    // Exact: said in the completion (every picture encoded again, and why).
    std::string note;
    // What happened, for the error output.
    std::string problem;
};

class ExactCut {
public:
    virtual ~ExactCut() = default;

    // Opens the source and decides. keyFramesBecause, when not empty, asks for key-frame cuts
    // for that reason without trying the exact ones.
    virtual ExactCutPlan Plan(const ExactCutRequest& request, const std::string& keyFramesBecause) = 0;

    // After Plan: whether a stream besides the video counts its time in steps coarser than a
    // couple of milliseconds (MP3 in AVI counts whole packets).
    virtual bool CoarseOtherStreams() const = 0;

    // After Plan said Exact: writes the section's video to fd. progress gets the seconds of the
    // section written so far; stop, when it turns non-zero, ends the work. False with error
    // set when something failed.
    virtual bool WriteVideo(int fd, const std::function<void(double)>& progress,
                            const volatile std::sig_atomic_t* stop, std::string& error) = 0;
};

// The module's one entry point.
extern "C" ExactCut* VtNewExactCut();
inline constexpr const char* kExactCutModule = "veltrane-exact.so";
inline constexpr const char* kExactCutEntry = "VtNewExactCut";
