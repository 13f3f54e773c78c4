#pragma once
// The end of an MP4 output's video, moved in its edit list, and where its decoding begins.
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

// Video copied from a recovery point of an intra refresh before the section's start: the
// muxer's edit list already starts the video at the section's start (the pictures before it
// carry times before 0), but players begin decoding at the last sync sample at or before
// that, and the recovery point there is whole only when decoded from the one before. The
// sync samples after the first that decode at or before the edit's start are unmarked, so
// that decoding begins with the first sample. False with error set when the file holds no
// video track with one edit.
bool UnmarkSyncSamplesBeforeEdit(const std::string& path, std::string& error);
