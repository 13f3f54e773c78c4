#pragma once
// The turn of a Matroska (or WebM) file's video track: its Projection element.
//
// A phone's portrait video is stored on its side with a display matrix that turns it upright.
// MP4 keeps that matrix; the Matroska muxer of FFmpeg 5.1 writes nothing for it (its demuxer
// does read one), so a section copied into Matroska plays sideways. Matroska says it
// with a Projection inside the track's Video element: the rectangular type, ProjectionPoseYaw
// 180 for a mirrored picture, ProjectionPoseRoll for the turn (counter-clockwise degrees),
// as newer FFmpeg writes and reads it.
//
// The element is added after ffmpeg has written the file, in place: the Void that ffmpeg
// leaves behind its SeekHead gives up the bytes the track headers grow by, so the elements
// between the Void and the end of the track headers move back and no cluster moves. The
// SeekHead's positions of what moved and the CRC-32 elements are written anew. Anything that
// does not look like that layout, or does not check out, leaves the file as it was.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

// A horizontal mirror first (yaw 180), then a turn by roll degrees counter-clockwise.
struct VideoTurn {
    double roll = 0;
    bool hflip = false;
    bool operator==(const VideoTurn&) const = default;
    bool None() const { return roll == 0 && !hflip; }
};

// The turn an FFmpeg display matrix describes (nine numbers row by row, as in its side
// data); none for a matrix that shears, scales unevenly or moves the picture in perspective.
std::optional<VideoTurn> TurnOfDisplayMatrix(const std::array<std::int32_t, 9>& matrix);

// The display matrix in ffprobe's text output ("displaymatrix=" followed by three rows
// "00000000: a b c", the line breaks written out or escaped as "\n"); none when absent.
std::optional<std::array<std::int32_t, 9>> DisplayMatrixInProbeOutput(const std::string& text);

// What the header of a file says about its first video track.
struct MatroskaVideoTrack {
    bool matroska = false;          // an EBML file of DocType "matroska" or "webm"
    bool video = false;             // it has a video track
    std::optional<VideoTurn> turn;  // that track's Projection, when it has one of the
                                    // rectangular kind (none also when it has none)
    bool projection = false;        // the track has a Projection element, of whatever kind
};

// Reads the header of a file (nothing past its track headers).
MatroskaVideoTrack ReadMatroskaVideoTrack(const std::string& path);

// The same from the file's first bytes, which must reach the end of its track headers.
MatroskaVideoTrack ReadMatroskaVideoTrackIn(const std::string& head);

// Adds a Projection with the turn to the first video track of the Matroska file at path.
// True when it was written. False with why set when the file was left as it was: not
// Matroska, no video track, a Projection there already, no room, a layout other than the
// expected one, or a header that does not check out (a CRC-32 that does not match, sizes
// running past their parent).
bool AddVideoTurn(const std::string& path, const VideoTurn& turn, std::string& why);

// The same on the file's first bytes in memory (at least up to the end of its track
// headers); head is changed only on success, and only up to the end of the track headers.
bool AddVideoTurnIn(std::string& head, const VideoTurn& turn, std::string& why);
