#include "h264_sps.h"
#include "h264_bits.h"

#include <algorithm>

namespace {

using h264bits::Escape;
using h264bits::Unescape;
using Bits = h264bits::RbspReader;
using BitWriter = h264bits::RbspWriter;

void SkipScalingList(Bits& r, int size)
{
    int last = 8, next = 8;
    for (int j = 0; j < size && r.ok(); ++j) {
        if (next != 0)
            next = (last + r.Se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

void SkipHrd(Bits& r)
{
    const unsigned count = r.Ue() + 1;
    r.U(8); // bit_rate_scale, cpb_size_scale
    for (unsigned k = 0; k < count && k < 32 && r.ok(); ++k) {
        r.Ue();
        r.Ue();
        r.U(1);
    }
    r.U(20); // four lengths and time_offset_length
}

} // namespace

H264Sps ReadH264Sps(const uint8_t* unit, size_t size)
{
    H264Sps s;
    if (!unit || size < 4 || (unit[0] & 0x1f) != 7)
        return s;
    const Bytes b = Unescape(unit, size);
    Bits r(b);
    r.U(8); // unit header
    const unsigned profile = r.U(8);
    r.U(16); // constraint flags, level_idc
    s.id = int(r.Ue());
    switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135: {
        const unsigned chroma = r.Ue();
        s.chromaFormat = int(chroma);
        if (chroma == 3)
            s.separateColourPlane = r.U(1) != 0;
        r.Ue(); // bit depths
        r.Ue();
        r.U(1);
        if (r.U(1))
            for (int k = 0; k < (chroma != 3 ? 8 : 12) && r.ok(); ++k)
                if (r.U(1))
                    SkipScalingList(r, k < 6 ? 16 : 64);
        break;
    }
    default: break;
    }
    s.log2MaxFrameNum = int(r.Ue()) + 4;
    const unsigned pocType = r.Ue();
    s.pocType = int(pocType);
    if (pocType == 0) {
        s.log2MaxPocLsb = int(r.Ue()) + 4;
    } else if (pocType == 1) {
        s.deltaPicOrderAlwaysZero = r.U(1) != 0;
        r.Se();
        r.Se();
        const unsigned cycle = r.Ue();
        for (unsigned k = 0; k < cycle && k < 256 && r.ok(); ++k)
            r.Se();
    }
    s.maxRefFrames = int(r.Ue());
    s.frameNumGaps = r.U(1) != 0;
    s.widthMbs = int(r.Ue()) + 1;
    s.heightMapUnits = int(r.Ue()) + 1;
    s.frameMbsOnly = r.U(1) != 0;
    if (!s.frameMbsOnly)
        s.mbAdaptive = r.U(1) != 0;
    r.U(1); // direct_8x8_inference
    if (r.U(1))
        for (int k = 0; k < 4; ++k)
            r.Ue(); // cropping
    if (r.ok() && r.U(1)) { // VUI
        if (r.U(1) && r.U(8) == 255)
            r.U(32); // sample aspect ratio
        if (r.U(1))
            r.U(1); // overscan
        if (r.U(1)) {
            r.U(4);
            if (r.U(1))
                r.U(24); // colours
        }
        if (r.U(1)) {
            r.Ue(); // chroma location
            r.Ue();
        }
        if (r.U(1)) {
            r.U(32); // timing
            r.U(32);
            r.U(1);
        }
        const bool nalHrd = r.U(1) != 0;
        if (nalHrd)
            SkipHrd(r);
        const bool vclHrd = r.U(1) != 0;
        if (vclHrd)
            SkipHrd(r);
        if (nalHrd || vclHrd)
            r.U(1);
        r.U(1); // pic_struct_present
        if (r.U(1)) {
            r.U(1);
            for (int k = 0; k < 4; ++k)
                r.Ue();
            s.reorderBit = r.at();
            s.reorderFrames = int(r.Ue());
            s.decBuffering = int(r.Ue());
        }
    }
    s.ok = r.ok();
    if (!s.ok)
        s.reorderFrames = s.decBuffering = -1;
    return s;
}

Bytes WithH264Reordering(const Bytes& sps, int reorder, int buffering)
{
    const H264Sps s = ReadH264Sps(sps);
    if (!s.ok || s.reorderFrames < 0 || (s.reorderFrames >= reorder && s.decBuffering >= buffering))
        return sps;
    const Bytes b = Unescape(sps.data(), sps.size());
    Bits r(b);
    BitWriter w;
    for (size_t k = 0; k < s.reorderBit; ++k)
        w.U(r.U(1), 1);
    const int newReorder = std::max(s.reorderFrames, reorder);
    w.Ue(unsigned(newReorder));
    w.Ue(unsigned(std::max({s.decBuffering, buffering, newReorder})));
    return Escape(w.Done());
}

int H264FieldSlice(const uint8_t* unit, size_t size, const H264Sps& sps)
{
    if (!unit || size < 2 || !sps.ok)
        return -1;
    if (sps.frameMbsOnly)
        return 0;
    const Bytes b = Unescape(unit, std::min<size_t>(size, 64));
    Bits r(b);
    r.U(8);
    r.Ue(); // first_mb_in_slice
    r.Ue(); // slice_type
    r.Ue(); // pic_parameter_set_id
    if (sps.separateColourPlane)
        r.U(2);
    r.U(sps.log2MaxFrameNum);
    const unsigned field = r.U(1);
    return r.ok() ? int(field) : -1;
}

void MatchH264Reordering(const std::vector<Bytes>& sourceSets, std::vector<Bytes>& encoderSets)
{
    int reorder = -1, buffering = -1;
    for (const Bytes& ps : sourceSets) {
        const H264Sps s = ReadH264Sps(ps);
        reorder = std::max(reorder, s.reorderFrames);
        buffering = std::max(buffering, s.decBuffering);
    }
    if (reorder <= 0)
        return;
    for (Bytes& ps : encoderSets)
        if (!ps.empty() && (ps[0] & 0x1f) == 7)
            ps = WithH264Reordering(ps, reorder, buffering);
}

void KeepH264Sps(const NalUnit& unit, std::vector<H264Sps>& byId)
{
    const H264Sps s = ReadH264Sps(unit.data, unit.size);
    if (!s.ok || s.id < 0 || s.id > 31)
        return;
    if (byId.size() <= size_t(s.id))
        byId.resize(size_t(s.id) + 1);
    byId[size_t(s.id)] = s;
}

void H264FieldWatch::Learn(const NalUnit& unit)
{
    if (!unit.data || unit.size < 2)
        return;
    const int type = unit.data[0] & 0x1f;
    if (type == 7) {
        KeepH264Sps(unit, m_sps);
    } else if (type == 8) {
        int spsId = -1;
        const int id = H264PpsId(unit, &spsId);
        if (id < 0 || id > 255)
            return;
        if (m_ppsSps.size() <= size_t(id))
            m_ppsSps.resize(size_t(id) + 1, -1);
        m_ppsSps[size_t(id)] = spsId;
    }
}

bool H264FieldWatch::FieldPicture(const std::vector<NalUnit>& units)
{
    for (const NalUnit& u : units) {
        if (u.size < 2)
            continue;
        const int type = u.data[0] & 0x1f;
        if (type == 7 || type == 8) {
            Learn(u);
            continue;
        }
        if (type != 1 && type != 5)
            continue;
        // The slice's PPS id, the third number of its header.
        const Bytes b = Unescape(u.data, std::min<size_t>(u.size, 32));
        Bits r(b);
        r.U(8);
        r.Ue();
        r.Ue();
        const unsigned pps = r.Ue();
        if (!r.ok() || pps >= m_ppsSps.size() || m_ppsSps[pps] < 0 || size_t(m_ppsSps[pps]) >= m_sps.size())
            return false;
        return H264FieldSlice(u.data, u.size, m_sps[size_t(m_ppsSps[pps])]) == 1;
    }
    return false;
}
