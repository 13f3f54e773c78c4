#pragma once
// Subtitle cues cut to a section. A cue that starts before the section and is still shown at
// its start belongs to it too, from its start; one that has ended by then does not. ffmpeg's
// seek cannot do either: it keeps no packet from before the seek point when the subtitles are
// copied (and -copypriorss 0 asks for that), and hands on whatever lay between the key frame
// it landed on and the start when they are encoded.
//
// So the section's cues are read first, by a run of ffmpeg of their own that reads the
// subtitle streams only, from a while before the start, copies every one of them and cuts
// them to the section with bitstream filters: cues ended before the start are dropped, those
// still shown are moved to 0 and shortened by as much, and none reaches past the section's
// end. They go to a file in the output's folder (the one place the sandbox lets ffmpeg
// write), which the section's own run then takes its subtitles from, copied or encoded as
// the profile says, and which is removed afterwards. Sources without subtitles (nothing maps
// any) and sections at the source's start are read once, as before.
#include <string>
#include <vector>

// How far before a section's start its cues are looked for: a cue shown longer than this
// across the start is not found. Dialogue stays seconds, a sign rarely half a minute; the
// reading costs this much more of the source per section.
constexpr double kCueLookBack = 30.0;

// Whether output options take subtitles from input 0 by the maps the program writes
// ("-map 0:s", "-map 0:s:1"), and leave them on (no -sn). Options that map otherwise, or not
// at all, keep ffmpeg's own reading of them.
bool MapsSubtitlesByKind(const std::vector<std::string>& outputOptions);

// Where the section's cues are kept meanwhile: a hidden file beside the output, in a
// container that holds the source's subtitles as they are (MP4's mov_text only an MP4).
std::string CueFilePath(const std::string& source, const std::string& output);

// ffmpeg's arguments (after the common start) that write the cues of every subtitle stream of
// source shown between start and start + length, in seconds, to cueFile, each counted from the
// section's start.
std::vector<std::string> CueReadingArguments(const std::string& source, double start, double length,
                                             const std::string& cueFile);

// The bitstream filters that cut copied cues to a section of this length (seconds), their
// time stamps counted from its start: cues ended by 0 dropped, those shown across 0 moved to
// it and shortened, those shown across the end ended there. Cues of no known length from
// before 0 are all moved to 0, in their order. Empty for a length that is no
// positive number.
std::string CueCutFilter(double length);

// Points the output's subtitle maps at the input numbered input ("-map 1:s:0" -> "-map
// 3:s:0"), whichever input they named; other maps stay.
void PointSubtitleMapsAt(std::vector<std::string>& outputOptions, int input);
