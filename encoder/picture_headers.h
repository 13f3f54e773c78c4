#pragma once
// Headers of video that is not made of NAL units, as the encoder needs them to join pictures
// encoded again with copied ones: MPEG-2 video's start codes (sequence, GOP and picture
// headers).
#include <cstddef>
#include <cstdint>

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
