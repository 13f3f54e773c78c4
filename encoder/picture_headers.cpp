#include "picture_headers.h"

namespace {

constexpr uint8_t kPictureStart = 0x00;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kExtension = 0xB5;
constexpr uint8_t kGroupStart = 0xB8;
constexpr uint8_t kFirstSlice = 0x01;
constexpr uint8_t kLastSlice = 0xAF;
constexpr uint8_t kPictureCodingExtension = 8;

// The offset of the byte after the next start code prefix (00 00 01) at or after `from`;
// size when none.
size_t NextStartCode(const uint8_t* data, size_t size, size_t from)
{
    for (size_t k = from; k + 2 < size; ++k)
        if (data[k] == 0 && data[k + 1] == 0 && data[k + 2] == 1)
            return k + 3;
    return size;
}

} // namespace

Mpeg2Headers DescribeMpeg2(const uint8_t* data, size_t size)
{
    Mpeg2Headers h;
    if (!data)
        return h;
    for (size_t at = NextStartCode(data, size, 0); at < size; at = NextStartCode(data, size, at + 1)) {
        const uint8_t code = data[at];
        const uint8_t* p = data + at + 1;
        const size_t left = size - at - 1;
        if (code >= kFirstSlice && code <= kLastSlice)
            break; // the picture's data: the headers are behind
        if (code == kSequenceHeader) {
            h.sequenceHeader = true;
        } else if (code == kGroupStart && left >= 4) {
            // time_code (25 bits), closed_gop, broken_link
            h.gopHeader = true;
            h.closedGop = (p[3] & 0x40) != 0;
            h.brokenLink = (p[3] & 0x20) != 0;
        } else if (code == kPictureStart && left >= 2) {
            // temporal_reference (10 bits), picture_coding_type (3 bits)
            h.pictureType = (p[1] >> 3) & 7;
            h.temporalReference = (p[0] << 2) | (p[1] >> 6);
        } else if (code == kExtension && left >= 3 && (p[0] >> 4) == kPictureCodingExtension && h.pictureType) {
            // f_codes (16 bits after the id), intra_dc_precision (2), picture_structure (2)
            h.pictureStructure = p[2] & 3;
        }
    }
    return h;
}

bool CloseMpeg2Gop(uint8_t* data, size_t size)
{
    for (size_t at = NextStartCode(data, size, 0); at < size; at = NextStartCode(data, size, at + 1)) {
        if (data[at] >= kFirstSlice && data[at] <= kLastSlice)
            return false;
        if (data[at] == kGroupStart && size - at - 1 >= 4) {
            data[at + 4] = uint8_t((data[at + 4] | 0x40) & ~0x20);
            return true;
        }
    }
    return false;
}
