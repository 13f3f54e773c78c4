#include "nal_units.h"

namespace {

// H.264 unit types
constexpr int kH264Slice = 1;
constexpr int kH264Idr = 5;
constexpr int kH264Sei = 6;
constexpr int kH264Sps = 7;
constexpr int kH264Pps = 8;
constexpr int kH264Aud = 9;
constexpr int kH264EndOfSequence = 10;
// H.265 unit types
constexpr int kHevcFirstIrap = 16; // BLA_W_LP
constexpr int kHevcIdrWithLeading = 19; // IDR_W_RADL
constexpr int kHevcIdrAlone = 20;  // IDR_N_LP
constexpr int kHevcLastIrap = 21;  // CRA_NUT
// H.264 SEI payload types
constexpr int kSeiRecoveryPoint = 6;
constexpr int kHevcVps = 32;
constexpr int kHevcSps = 33;
constexpr int kHevcPps = 34;
constexpr int kHevcAud = 35;
constexpr int kHevcEndOfSequence = 36;

uint32_t ReadBE(const uint8_t* p, int n)
{
    uint32_t v = 0;
    for (int k = 0; k < n; ++k)
        v = (v << 8) | p[k];
    return v;
}

// The first bytes of a unit without its emulation prevention bytes (00 00 03).
Bytes Unescaped(const NalUnit& unit, size_t most)
{
    Bytes out;
    int zeros = 0;
    for (size_t k = 0; k < unit.size && out.size() < most; ++k) {
        const uint8_t b = unit.data[k];
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        out.push_back(b);
    }
    return out;
}

class BitReader {
public:
    BitReader(const Bytes& bytes, size_t firstByte) : m_bytes(bytes), m_bit(firstByte * 8) {}
    bool Bit(int& v)
    {
        if (m_bit >= m_bytes.size() * 8)
            return false;
        v = (m_bytes[m_bit / 8] >> (7 - m_bit % 8)) & 1;
        ++m_bit;
        return true;
    }
    // Exp-Golomb, unsigned.
    bool Ue(int& v)
    {
        int zeros = 0, b = 0;
        while (Bit(b) && b == 0)
            if (++zeros > 31)
                return false;
        if (b != 1)
            return false;
        long long value = 1;
        for (int k = 0; k < zeros; ++k) {
            if (!Bit(b))
                return false;
            value = (value << 1) | b;
        }
        v = static_cast<int>(value - 1);
        return true;
    }

private:
    const Bytes& m_bytes;
    size_t m_bit;
};

} // namespace

std::vector<NalUnit> SplitNalUnits(const uint8_t* data, size_t size, int lengthSize)
{
    std::vector<NalUnit> units;
    if (!data)
        return units;
    if (lengthSize > 0) {
        size_t at = 0;
        while (at + size_t(lengthSize) <= size) {
            const size_t n = ReadBE(data + at, lengthSize);
            at += size_t(lengthSize);
            if (n > size - at)
                break;
            if (n > 0)
                units.push_back(NalUnit{data + at, n});
            at += n;
        }
        return units;
    }
    // Start codes: 00 00 01, possibly after more zeros.
    size_t k = 0;
    size_t begin = size; // where the current unit begins; size: none yet
    while (k + 2 < size) {
        if (data[k] == 0 && data[k + 1] == 0 && data[k + 2] == 1) {
            if (begin < size) {
                size_t end = k;
                while (end > begin && data[end - 1] == 0) // trailing zeros belong to the next start code
                    --end;
                if (end > begin)
                    units.push_back(NalUnit{data + begin, end - begin});
            }
            k += 3;
            begin = k;
        } else {
            ++k;
        }
    }
    if (begin < size)
        units.push_back(NalUnit{data + begin, size - begin});
    return units;
}

int NalType(NalCodec codec, const NalUnit& unit)
{
    if (unit.size == 0)
        return -1;
    return codec == NalCodec::H264 ? unit.data[0] & 0x1f : (unit.data[0] >> 1) & 0x3f;
}

bool IsParameterSet(NalCodec codec, int type)
{
    return codec == NalCodec::H264 ? type == kH264Sps || type == kH264Pps : type >= kHevcVps && type <= kHevcPps;
}

bool IsSequenceParameterSet(NalCodec codec, int type)
{
    return type == (codec == NalCodec::H264 ? kH264Sps : kHevcSps);
}

bool IsAccessUnitDelimiter(NalCodec codec, int type)
{
    return type == (codec == NalCodec::H264 ? kH264Aud : kHevcAud);
}

namespace {
bool IsPictureUnit(NalCodec codec, int type)
{
    return codec == NalCodec::H264 ? type >= 1 && type <= 5 : type >= 0 && type <= 31;
}
} // namespace

bool StartsCleanly(NalCodec codec, const std::vector<NalUnit>& units)
{
    for (const NalUnit& u : units) {
        const int type = NalType(codec, u);
        if (!IsPictureUnit(codec, type))
            continue;
        if (codec == NalCodec::H264)
            return type == kH264Idr;
        return type >= kHevcFirstIrap && type <= kHevcLastIrap;
    }
    return false;
}

namespace {
// The recovery_frame_cnt of an H.264 SEI unit's recovery point message; -1: none.
int RecoveryFrameCount(const NalUnit& sei)
{
    const Bytes b = Unescaped(sei, 4096);
    size_t at = 1;
    while (at < b.size() && b[at] != 0x80) { // 0x80: the trailing bits
        int type = 0, size = 0;
        while (at < b.size() && b[at] == 0xff) {
            type += 255;
            ++at;
        }
        if (at >= b.size())
            return -1;
        type += b[at++];
        while (at < b.size() && b[at] == 0xff) {
            size += 255;
            ++at;
        }
        if (at >= b.size())
            return -1;
        size += b[at++];
        if (type == kSeiRecoveryPoint) {
            BitReader r(b, at);
            int count = -1;
            return r.Ue(count) ? count : -1;
        }
        at += size_t(size);
    }
    return -1;
}
} // namespace

PictureAccess DescribePicture(NalCodec codec, const std::vector<NalUnit>& units)
{
    PictureAccess access;
    int recovery = -1;
    for (const NalUnit& u : units) {
        const int type = NalType(codec, u);
        if (codec == NalCodec::H264 && type == kH264Sei && recovery < 0) {
            recovery = RecoveryFrameCount(u);
            continue;
        }
        if (!IsPictureUnit(codec, type))
            continue;
        if (codec == NalCodec::Hevc) {
            if (type == kHevcIdrWithLeading || type == kHevcIdrAlone)
                access.kind = RandomAccess::Closed;
            else if (type >= kHevcFirstIrap && type <= kHevcLastIrap)
                access.kind = RandomAccess::Open;
            return access;
        }
        access.reference = ((u.data[0] >> 5) & 3) != 0;
        if (type == kH264Idr)
            access.kind = RandomAccess::Closed;
        else if (type == kH264Slice && recovery == 0)
            access.kind = RandomAccess::Open;
        else if (type == kH264Slice && recovery > 0) {
            access.kind = RandomAccess::Recovery;
            access.recoveryFrames = recovery;
        }
        return access;
    }
    return access;
}

DecoderConfig ReadDecoderConfig(NalCodec codec, const uint8_t* data, size_t size)
{
    DecoderConfig config;
    if (!data || size == 0) {
        config.ok = true; // parameter sets travel inside the packets
        return config;
    }
    if (data[0] != 1) {
        // Start codes.
        for (const NalUnit& u : SplitNalUnits(data, size, 0))
            if (IsParameterSet(codec, NalType(codec, u)))
                config.parameterSets.emplace_back(u.data, u.data + u.size);
        config.ok = true;
        return config;
    }
    auto take = [&](size_t& at) -> bool {
        if (at + 2 > size)
            return false;
        const size_t len = ReadBE(data + at, 2);
        at += 2;
        if (len > size - at)
            return false;
        config.parameterSets.emplace_back(data + at, data + at + len);
        at += len;
        return true;
    };
    if (codec == NalCodec::H264) {
        if (size < 7)
            return config;
        config.lengthSize = (data[4] & 3) + 1;
        size_t at = 5;
        const int sps = data[at++] & 0x1f;
        for (int k = 0; k < sps; ++k)
            if (!take(at))
                return config;
        if (at >= size)
            return config;
        const int pps = data[at++];
        for (int k = 0; k < pps; ++k)
            if (!take(at))
                return config;
    } else {
        if (size < 23)
            return config;
        config.lengthSize = (data[21] & 3) + 1;
        const int arrays = data[22];
        size_t at = 23;
        for (int a = 0; a < arrays; ++a) {
            if (at + 3 > size)
                return config;
            const int type = data[at] & 0x3f;
            const int count = int(ReadBE(data + at + 1, 2));
            at += 3;
            for (int k = 0; k < count; ++k) {
                if (!take(at))
                    return config;
                // Only the parameter sets: the array may hold SEI as well.
                if (!IsParameterSet(codec, type))
                    config.parameterSets.pop_back();
            }
        }
    }
    if (config.lengthSize == 3)
        return config; // no such length size
    config.ok = true;
    return config;
}

int H264SpsId(const NalUnit& sps)
{
    // Unit header, profile_idc, constraint flags, level_idc, then the id.
    const Bytes b = Unescaped(sps, 16);
    BitReader r(b, 4);
    int id = -1;
    return b.size() > 4 && r.Ue(id) ? id : -1;
}

int H264PpsId(const NalUnit& pps, int* spsId)
{
    const Bytes b = Unescaped(pps, 16);
    BitReader r(b, 1);
    int id = -1, sps = -1;
    if (b.size() < 2 || !r.Ue(id) || !r.Ue(sps))
        return -1;
    if (spsId)
        *spsId = sps;
    return id;
}

int HevcSpsTier(const NalUnit& sps)
{
    // Two header bytes, then vps id (4 bits), max sub-layers (3), nesting (1), then
    // profile_space (2), tier (1), profile_idc (5).
    const Bytes b = Unescaped(sps, 8);
    return b.size() > 3 ? (b[3] >> 5) & 1 : -1;
}

void AppendAnnexB(Bytes& out, const uint8_t* unit, size_t size)
{
    static const uint8_t kStart[] = {0, 0, 0, 1};
    out.insert(out.end(), kStart, kStart + 4);
    out.insert(out.end(), unit, unit + size);
}

Bytes ToAnnexB(NalCodec codec, const std::vector<NalUnit>& units, const std::vector<Bytes>* parameterSets,
               bool endOfSequence)
{
    bool insert = parameterSets && !parameterSets->empty();
    for (const NalUnit& u : units)
        if (IsSequenceParameterSet(codec, NalType(codec, u)))
            insert = false;
    Bytes out;
    for (const NalUnit& u : units) {
        const int type = NalType(codec, u);
        if (insert && !IsAccessUnitDelimiter(codec, type)) {
            for (const Bytes& ps : *parameterSets)
                AppendAnnexB(out, ps);
            insert = false;
        }
        AppendAnnexB(out, u.data, u.size);
    }
    if (endOfSequence) {
        const Bytes eos = EndOfSequenceUnit(codec);
        out.insert(out.end(), eos.begin(), eos.end());
    }
    return out;
}

Bytes EndOfSequenceUnit(NalCodec codec)
{
    Bytes out;
    if (codec == NalCodec::H264) {
        const uint8_t eos[] = {kH264EndOfSequence};
        AppendAnnexB(out, eos, 1);
    } else {
        const uint8_t eos[] = {uint8_t(kHevcEndOfSequence << 1), 1};
        AppendAnnexB(out, eos, 2);
    }
    return out;
}
