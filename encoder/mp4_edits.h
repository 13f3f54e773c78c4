#pragma once
// The start and the end of an MP4 output's video, moved in its edit list.
//
// A copied section that ends before an open group of pictures must carry the next key frame:
// the pictures shown just before it are decoded after it and from it. The key frame itself is
// not to be shown; ffmpeg's muxer ends the edit list after it, and FFmpeg cannot be told
// otherwise (a packet without a duration gets one). The edit list is shortened here, in
// place, so that the track is shown up to that key frame's time and no further.
#include <string>

// Shortens the edit list of the first video track of an MP4 (or MOV) file to end at the given
// time (seconds from the start of the presentation), and that track's and the movie's
// durations with it. False with error set when the file cannot be read or written, or holds
// no such track; a track that ends there already is left as it is.
bool EndVideoEditAt(const std::string& path, double seconds, std::string& error);

// Moves the start of the first video track's one edit later by the given seconds: the copy then
// shows from that far into its pictures, and the track's duration shortens with it. For video
// copied from a key frame before the section's start (see -decode_from in section_cut.h).
// False with error set when the file holds no such edit, or it is shorter than that.
bool StartVideoEditLater(const std::string& path, double seconds, std::string& error);
