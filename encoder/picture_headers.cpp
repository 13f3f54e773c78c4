#include "picture_headers.h"

#include <algorithm>
#include <string>

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

namespace {
constexpr uint8_t kVopStart = 0xB6;
constexpr uint8_t kGovStart = 0xB3;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kFirstVol = 0x20;
constexpr uint8_t kLastVol = 0x2F;
} // namespace

Mpeg4Headers DescribeMpeg4(const uint8_t* data, size_t size)
{
    Mpeg4Headers h;
    if (!data)
        return h;
    for (size_t at = NextStartCode(data, size, 0); at < size; at = NextStartCode(data, size, at + 1)) {
        const uint8_t code = data[at];
        const size_t left = size - at - 1;
        if (code >= kFirstVol && code <= kLastVol) {
            h.volHeader = true;
        } else if (code == kGovStart && left >= 3) {
            // time_code (18 bits), closed_gov, broken_link
            h.govHeader = true;
            h.closedGov = (data[at + 3] & 0x20) != 0;
            h.brokenLink = (data[at + 3] & 0x10) != 0;
        } else if (code == kVopStart && left >= 1) {
            if (h.vops++ == 0)
                h.vopType = data[at + 1] >> 6;
        }
    }
    return h;
}

bool CloseMpeg4Gov(uint8_t* data, size_t size)
{
    for (size_t at = NextStartCode(data, size, 0); at < size; at = NextStartCode(data, size, at + 1)) {
        if (data[at] == kVopStart)
            return false;
        if (data[at] == kGovStart && size - at - 1 >= 3) {
            data[at + 3] = uint8_t((data[at + 3] | 0x20) & ~0x10);
            return true;
        }
    }
    return false;
}

namespace {
// Where the "p" of the first DivX user data from `from` on that ends in one lies; size: none.
size_t PackedMark(const uint8_t* data, size_t size, size_t from)
{
    if (!data)
        return size;
    for (size_t at = NextStartCode(data, size, from); at < size; at = NextStartCode(data, size, at + 1)) {
        if (data[at] != kUserData)
            continue;
        size_t end = at + 1;
        while (end < size && data[end] != 0)
            ++end;
        const std::string text(reinterpret_cast<const char*>(data + at + 1), end - at - 1);
        if (text.rfind("DivX", 0) == 0 && text.back() == 'p')
            return end - 1;
    }
    return size;
}
} // namespace

bool PackedMpeg4(const uint8_t* data, size_t size) { return PackedMark(data, size, 0) < size; }

bool UnmarkPackedMpeg4(uint8_t* data, size_t size)
{
    bool found = false;
    for (size_t at = PackedMark(data, size, 0); at < size; at = PackedMark(data, size, at + 1)) {
        data[at] = 0;
        found = true;
    }
    return found;
}

namespace {
// Reads bits MSB first; reading past the end gives zeros and sets `over`.
struct BitReader {
    const uint8_t* data;
    size_t size;
    size_t bit = 0;
    bool over = false;
    unsigned Read(int n)
    {
        unsigned v = 0;
        for (int k = 0; k < n; ++k, ++bit) {
            if (bit / 8 >= size) {
                over = true;
                v <<= 1;
                continue;
            }
            v = (v << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1);
        }
        return v;
    }
};

// The layer starting at data (its start code's 4 bytes included).
Mpeg4Layer ReadLayerAt(const uint8_t* data, size_t size)
{
    Mpeg4Layer l;
    BitReader b{data, size, 32};
    b.Read(1); // random_accessible_vol
    b.Read(8); // video_object_type_indication
    int verid = 1;
    if (b.Read(1)) {
        verid = int(b.Read(4));
        b.Read(3); // priority
    }
    if (b.Read(4) == 15) // extended pixel aspect ratio
        b.Read(16);
    if (b.Read(1)) { // vol_control_parameters
        b.Read(2);   // chroma_format
        l.lowDelayBit = b.bit;
        l.lowDelay = int(b.Read(1));
        if (b.Read(1)) // vbv_parameters
            b.Read(79);
    }
    const unsigned shape = b.Read(2);
    if (shape != 0)
        return l; // not rectangles: not read here
    b.Read(1);
    const unsigned resolution = b.Read(16);
    b.Read(1);
    if (b.Read(1)) { // fixed_vop_rate
        int bits = 1;
        while (resolution > 1 && (1u << bits) < resolution)
            ++bits;
        b.Read(bits);
    }
    b.Read(1 + 13 + 1 + 13 + 1); // width and height between markers
    b.Read(1);                  // interlaced
    b.Read(1);                  // obmc_disable
    if (b.Read(verid == 1 ? 1 : 2) != 0)
        return l; // sprites
    if (b.Read(1)) // not_8_bit
        b.Read(8);
    l.quantType = int(b.Read(1));
    l.ok = !b.over;
    return l;
}
} // namespace

Mpeg4Layer ReadMpeg4Layer(const uint8_t* data, size_t size)
{
    if (!data)
        return {};
    for (size_t at = NextStartCode(data, size, 0); at < size; at = NextStartCode(data, size, at + 1))
        if (data[at] >= kFirstVol && data[at] <= kLastVol)
            return ReadLayerAt(data + at - 3, size - at + 3);
    return {};
}

void SetMpeg4LowDelay(uint8_t* data, size_t size, bool lowDelay)
{
    for (size_t at = NextStartCode(data, size, 0); at < size; at = NextStartCode(data, size, at + 1)) {
        if (data[at] < kFirstVol || data[at] > kLastVol)
            continue;
        uint8_t* layer = data + at - 3;
        const Mpeg4Layer l = ReadLayerAt(layer, size - at + 3);
        if (l.lowDelay < 0 || l.lowDelayBit / 8 >= size - at + 3)
            continue;
        const uint8_t mask = uint8_t(0x80 >> (l.lowDelayBit % 8));
        layer[l.lowDelayBit / 8] = lowDelay ? uint8_t(layer[l.lowDelayBit / 8] | mask) : uint8_t(layer[l.lowDelayBit / 8] & ~mask);
    }
}

namespace {
constexpr int kObuSequenceHeader = 1;
constexpr int kObuTemporalDelimiter = 2;

// One OBU at data[at]: its type and the offset after it; false when it runs past the end or
// has no size field.
bool NextObu(const uint8_t* data, size_t size, size_t at, int& type, size_t& end)
{
    if (at >= size)
        return false;
    const uint8_t header = data[at];
    type = (header >> 3) & 15;
    size_t k = at + 1 + ((header & 4) ? 1 : 0);
    if (!(header & 2))
        return false;
    uint64_t length = 0;
    for (int i = 0; i < 8; ++i, ++k) {
        if (k >= size)
            return false;
        length |= uint64_t(data[k] & 0x7F) << (7 * i);
        if (!(data[k] & 0x80)) {
            ++k;
            break;
        }
    }
    if (length > size - std::min(size, k))
        return false;
    end = k + size_t(length);
    return true;
}
} // namespace

bool Av1HasSequenceHeader(const uint8_t* data, size_t size)
{
    int type = 0;
    size_t end = 0;
    for (size_t at = 0; data && NextObu(data, size, at, type, end); at = end)
        if (type == kObuSequenceHeader)
            return true;
    return false;
}

size_t Av1HeaderPlace(const uint8_t* data, size_t size)
{
    int type = 0;
    size_t end = 0;
    return data && NextObu(data, size, 0, type, end) && type == kObuTemporalDelimiter ? end : 0;
}

std::vector<uint8_t> Av1SequenceHeaderOf(const uint8_t* av1c, size_t size)
{
    constexpr size_t kRecordHeader = 4; // marker and version, profile and level, ...
    int type = 0;
    size_t end = 0;
    for (size_t at = kRecordHeader; av1c && NextObu(av1c, size, at, type, end); at = end)
        if (type == kObuSequenceHeader)
            return std::vector<uint8_t>(av1c + at, av1c + end);
    return {};
}
