#pragma once
// DivX's packed bitstream (MPEG-4 Part 2 in AVI, user data "DivX...p"): a reference picture's
// packet also holds the B-frame shown before it, the next packet an empty picture (an N-VOP).
// FFmpeg's mpeg4_unpack_bframes filter takes them apart as they are read, so that each packet
// holds one picture and a cut can begin and end on any of them; the packets are then those of
// ordinary MPEG-4 Part 2 with B-frames in AVI, timed as the demuxer times those: the B-frames
// show at their decode times, the reference pictures have no presentation time of their own.
#include <cstdint>
#include <vector>

struct AVBSFContext;
struct AVCodecParameters;
struct AVPacket;

class Mpeg4Unpacker {
public:
    Mpeg4Unpacker() = default;
    Mpeg4Unpacker(const Mpeg4Unpacker&) = delete;
    Mpeg4Unpacker& operator=(const Mpeg4Unpacker&) = delete;
    ~Mpeg4Unpacker();

    // False when FFmpeg lacks the filter or it cannot start.
    bool Open(const AVCodecParameters* par);
    // The stream's headers without the packed mark.
    std::vector<uint8_t> Headers() const;
    // Replaces pkt with the picture due in its place: 0, AVERROR(EAGAIN) when none is due
    // yet (pkt is then empty), or another error.
    int Filter(AVPacket* pkt);
    // After a seek: nothing held from before it.
    void Flush();

private:
    AVBSFContext* m_bsf = nullptr;
};
