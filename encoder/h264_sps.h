#pragma once
// H.264 sequence parameter sets as exact cuts of interlaced and reordered video need them:
// whether pictures may be fields (PAFF) or frames of macroblock pairs (MBAFF), how many
// pictures a decoder holds back, and an encoder's SPS rewritten to hold back as many as the
// source's, so that a decoder sorting pictures by their order counts (FFmpeg's, whether
// reading MP4, Matroska or for GStreamer) keeps the reordering of the copied pictures from
// their first key frame on instead of dropping them as late.
#include "nal_units.h"

struct H264Sps {
    bool ok = false;
    int id = -1;
    bool frameMbsOnly = true; // false: pictures may be fields, or frames of macroblock pairs
    bool mbAdaptive = false;  // frames of macroblock pairs (MBAFF)
    bool separateColourPlane = false;
    int log2MaxFrameNum = 4;
    // What slice headers depend on (see h264_slices.h).
    int chromaFormat = 1;
    int pocType = 0;
    int log2MaxPocLsb = 4;
    bool deltaPicOrderAlwaysZero = false;
    int maxRefFrames = 0;
    bool frameNumGaps = false;
    int widthMbs = 0;
    int heightMapUnits = 0;
    // VUI bitstream_restriction: max_num_reorder_frames and max_dec_frame_buffering; -1: absent
    int reorderFrames = -1;
    int decBuffering = -1;
    size_t reorderBit = 0; // where max_num_reorder_frames begins in the unescaped unit (bits)
};
H264Sps ReadH264Sps(const uint8_t* unit, size_t size);
inline H264Sps ReadH264Sps(const Bytes& unit) { return ReadH264Sps(unit.data(), unit.size()); }

// The SPS (a unit without start code) holding back at least reorder pictures in a buffer of at
// least buffering; the unit as it is when it has no bitstream restriction to say so or cannot
// be read.
Bytes WithH264Reordering(const Bytes& sps, int reorder, int buffering);

// Of an H.264 slice unit whose SPS is sps: 1 when it codes a single field (field_pic_flag),
// 0 a frame, -1 unreadable.
int H264FieldSlice(const uint8_t* unit, size_t size, const H264Sps& sps);

// The encoder's SPSs (units without start codes) rewritten to hold back as many pictures as
// the source's SPSs say theirs do: the decoder then sorts the copied pictures after the encoded
// ones as it would in the source, the key frame between them resetting its order counts.
void MatchH264Reordering(const std::vector<Bytes>& sourceSets, std::vector<Bytes>& encoderSets);

// Keeps a readable SPS (a unit without start code) at its id in byId.
void KeepH264Sps(const NalUnit& unit, std::vector<H264Sps>& byId);

// Whether the source codes fields as pictures of their own: learns its parameter sets (from
// the decoder configuration and the packets) and reads each picture's first slice.
class H264FieldWatch {
public:
    void Learn(const NalUnit& unit);
    // Learns the packet's parameter sets; true when its picture is a field.
    bool FieldPicture(const std::vector<NalUnit>& units);

private:
    std::vector<H264Sps> m_sps;          // by id (ok false: not met)
    std::vector<int> m_ppsSps;           // the SPS id of each PPS id; -1: not met
};
