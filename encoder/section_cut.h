#pragma once
// Options of a section's cut that the program passes to the encoder and that ffmpeg has no
// switch for. They are taken out of the argument list before ffmpeg sees it and turned into
// ffmpeg options.
//
//   -video_end_dts <seconds>   for a stream copy: the video ends before the first packet
//                              whose decode time, counted from the section's start, reaches
//                              this (the next section's key frame), while the other streams
//                              end at the section's length (-t) as usual.
//   -cut_points exact|keyframes
//                              copied video cut on its exact frames (see exact_cut.h) or, as
//                              without the option, on key frames. It comes with the profile.
//   -decode_from <seconds>     for re-encoded video: decoding begins at this point of the
//                              source (a clean place, the program found it), and what lies
//                              between it and the section's start is decoded and dropped.
//                              For copied video into MP4 or MOV (an intra refresh, whose key
//                              frame is whole only when decoded from the one before): the
//                              copy begins at this key frame and the edit list hides what
//                              lies before the section's start.
//                              The seek alone lands where a transport stream, an
//                              intra-refresh or an open-GOP stream cannot be decoded
//                              cleanly from, and the section would open on garbage or on
//                              a later picture repeated.
//   -cut_start <seconds>       the copy cannot begin at the section's start (the pictures
//                              shown before an open group's key frame, or a recovery point of
//                              an intra refresh): the video is cut exactly there, as with
//                              -cut_points exact, whatever the profile's cut points say. Where
//                              that cannot be done, the copy starts at this key frame of the
//                              source (at or after the start) instead.
//   -cut_end next              the next section begins where this one ends (so that a copy
//                              that falls back to key frames ends where the next one starts).
//   -video_dts stored          the source stores the video's decode times (MP4, MPEG-TS; not
//                              Matroska, where ffmpeg works them out) and the output keeps
//                              the source's time base (MP4): the source is read once.
//   -video_shown_until <seconds>
//                              the copied video carries the next section's key frame, for the
//                              pictures decoded after it and shown before it (an open group of
//                              pictures); the MP4 output's edit list ends the video here, so
//                              that key frame is not shown.
//
// ffmpeg stops copied streams by decode time, all of them at the same -t. A key frame is
// decoded before the frames shown just ahead of it, so a -t at the next key frame's time
// would take that key frame and those frames along, and a -t at its decode time would end
// the sound early. Where the video's decode times are stored, the video's time stamps are
// stretched on the way in (-itsscale) so that its end lands on the section's length, and
// put back exactly on the way out; one reading serves every stream, and the sound and
// subtitles keep their own time stamps untouched. Otherwise the source is read twice: once
// for the video, ended at its decode time, once for the other streams, ended at the
// section's length.
#include <string>
#include <vector>

struct SoundTicks;

struct SectionCut {
    std::string videoEndDts; // a plain decimal number of seconds; empty: none
    bool exactCuts = false;
    std::string exactStartKey; // a plain decimal number of seconds; empty: none
    bool nextSectionFollows = false;
    std::string decodeFrom; // a plain decimal number of seconds; empty: none
    bool videoDtsStored = false;
    std::string videoShownUntil; // a plain decimal number of seconds; empty: none
    // Copied sound counted in coarse steps (see sound_ticks.h): its own length, which ends it
    // on a step; the encoder program works it out. The source is then read twice, the video
    // ended as before, so that the sound's end moves nothing else.
    std::string soundLength; // a plain decimal number of seconds; empty: none
};

// When in[k] is one of the options above, takes it and its value into cut, moves k past
// them and returns true. A value that is no plain number sets error.
bool TakeSectionCutOption(const std::vector<std::string>& in, size_t& k, SectionCut& cut, std::string& error);

// Whether output options copy the video as it is (the last codec switch for it says "copy"
// and -vn is absent), and whether they map streams themselves.
bool VideoCopiedAsIs(const std::vector<std::string>& outputOptions);
bool MapsStreams(const std::vector<std::string>& outputOptions);

// A bitstream filter that ends copied subtitles at the section's length (a cue shown across
// the end would otherwise make the file last longer than the section); empty when the
// subtitles are not copied or the length is no plain number.
std::string SubtitleEndFilter(const std::vector<std::string>& outputOptions, const std::string& length);

// ffmpeg's input part for the cut: inputOptions (those given before -i, and the seek), -i and
// the input, once or twice; outputOptions is adjusted to match.
std::vector<std::string> SectionCutInputs(const SectionCut& cut, const std::vector<std::string>& inputOptions,
                                          const std::string& input, std::vector<std::string>& outputOptions);
