#pragma once
// Headers of video that is not made of NAL units, as the encoder needs them to join pictures
// encoded again with copied ones: MPEG-2 and MPEG-4 Part 2 start codes (sequence, GOP and
// picture headers, video object layers), AV1 sequence headers.
#include <cstddef>
#include <cstdint>
#include <vector>

// What a packet of MPEG-2 video holds before its first slice.
struct Mpeg2Headers {
    int pictureType = 0; // 1 I, 2 P, 3 B; 0: no picture header
    int temporalReference = -1; // the picture's place in its GOP's display order
    bool sequenceHeader = false;
    bool gopHeader = false;
    bool closedGop = false;  // the B-pictures right after the I-picture refer to nothing before it
    bool brokenLink = false; // they refer to pictures that are not there
    // picture_coding_extension: 1 top field, 2 bottom field, 3 frame; 0: none (MPEG-1)
    int pictureStructure = 0;
};
Mpeg2Headers DescribeMpeg2(const uint8_t* data, size_t size);

// Marks the packet's GOP header closed (and its link whole): the copy begins at its I-picture
// and the B-pictures that referred to pictures before it are left out. False: no GOP header.
bool CloseMpeg2Gop(uint8_t* data, size_t size);

// What a packet of MPEG-4 Part 2 video holds.
struct Mpeg4Headers {
    int vopType = -1; // of the first VOP: 0 I, 1 P, 2 B, 3 S (sprite); -1: no VOP
    int vops = 0;     // more than one: B-frames packed with the P-frame before them (DivX in AVI)
    bool volHeader = false; // video object layer: the settings the pictures after it follow
    bool govHeader = false;
    bool closedGov = false;
    bool brokenLink = false;
};
Mpeg4Headers DescribeMpeg4(const uint8_t* data, size_t size);

// Marks the packet's GOV header closed (and its link whole), as CloseMpeg2Gop. False: none.
bool CloseMpeg4Gov(uint8_t* data, size_t size);

// Whether user data in the headers names DivX's packed bitstream (a build string ending in
// "p"): B-frames travel in the packet of the P-frame before them.
bool PackedMpeg4(const uint8_t* data, size_t size);
// Ends each such string before its "p" (a zero in its place, the size kept): the pictures
// are no longer packed. True when there was one.
bool UnmarkPackedMpeg4(uint8_t* data, size_t size);

// The settings of an MPEG-4 Part 2 video object layer that the pictures encoded again must
// share with the copied ones.
struct Mpeg4Layer {
    bool ok = false;       // read up to the quantiser type
    int lowDelay = -1;     // 1: no B-VOPs; -1: not said (no vol_control_parameters)
    size_t lowDelayBit = 0; // its place, in bits from the layer's start code
    int quantType = 0;     // 1: MPEG quantisation (matrices), 0: H.263
};
// The first video object layer in data (-1 lowDelay and ok false when there is none or it
// uses features read here not at all: shapes other than rectangles, sprites).
Mpeg4Layer ReadMpeg4Layer(const uint8_t* data, size_t size);
// Sets low_delay in every video object layer of data that says it.
void SetMpeg4LowDelay(uint8_t* data, size_t size, bool lowDelay);

// AV1 (OBUs with size fields, as in MP4 and Matroska): whether the temporal unit holds a
// sequence header, and where one can go in front of its frame (after a temporal delimiter).
bool Av1HasSequenceHeader(const uint8_t* data, size_t size);
size_t Av1HeaderPlace(const uint8_t* data, size_t size);
// The sequence header OBU among an av1C record's configuration OBUs; empty when none.
std::vector<uint8_t> Av1SequenceHeaderOf(const uint8_t* av1c, size_t size);
