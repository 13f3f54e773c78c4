#include "h264_slices.h"
#include "h264_bits.h"

#include <algorithm>

namespace {

using h264bits::Escape;
using h264bits::Unescape;
using Reader = h264bits::RbspReader;
using Writer = h264bits::RbspWriter;

int CeilLog2(unsigned v) // the bits that count 0..v-1
{
    int n = 0;
    while ((1ull << n) < v)
        ++n;
    return n;
}

} // namespace

H264Pps ReadH264Pps(const uint8_t* unit, size_t size)
{
    H264Pps p;
    if (!unit || size < 2 || (unit[0] & 0x1f) != 8)
        return p;
    const Bytes b = Unescape(unit, size);
    Reader r(b);
    r.U(8);
    p.id = int(r.Ue());
    p.spsId = int(r.Ue());
    p.cabac = r.Flag();
    p.bottomFieldPicOrder = r.Flag();
    p.sliceGroups = int(r.Ue()) + 1;
    if (p.sliceGroups > 8)
        return p;
    if (p.sliceGroups > 1) {
        p.sliceGroupMapType = int(r.Ue());
        if (p.sliceGroupMapType == 0) {
            for (int k = 0; k < p.sliceGroups; ++k)
                r.Ue();
        } else if (p.sliceGroupMapType == 2) {
            for (int k = 0; k < p.sliceGroups - 1; ++k) {
                r.Ue();
                r.Ue();
            }
        } else if (p.sliceGroupMapType >= 3 && p.sliceGroupMapType <= 5) {
            r.U(1);
            p.sliceGroupChangeRate = int(r.Ue()) + 1;
        } else if (p.sliceGroupMapType == 6) {
            const unsigned units = r.Ue() + 1;
            const int bits = CeilLog2(unsigned(p.sliceGroups));
            for (unsigned k = 0; k < units && r.ok(); ++k)
                r.U(bits);
        }
    }
    p.refIdxDefault[0] = int(r.Ue()) + 1;
    p.refIdxDefault[1] = int(r.Ue()) + 1;
    p.weightedPred = r.Flag();
    p.weightedBipred = int(r.U(2));
    r.Se(); // pic_init_qp, pic_init_qs, chroma_qp_index_offset
    r.Se();
    r.Se();
    p.deblockingControl = r.Flag();
    r.U(1); // constrained_intra_pred
    p.redundantPicCnt = r.Flag();
    p.ok = r.ok() && p.id >= 0 && p.id <= 255 && p.spsId >= 0 && p.spsId <= 31 && p.refIdxDefault[0] <= 32
           && p.refIdxDefault[1] <= 32;
    return p;
}

void H264ParameterSets::Learn(const NalUnit& unit)
{
    if (!unit.data || unit.size < 2)
        return;
    const int type = unit.data[0] & 0x1f;
    if (type == 7) {
        KeepH264Sps(unit, m_sps);
    } else if (type == 8) {
        const H264Pps p = ReadH264Pps(unit.data, unit.size);
        if (!p.ok)
            return;
        if (m_pps.size() <= size_t(p.id))
            m_pps.resize(size_t(p.id) + 1);
        m_pps[size_t(p.id)] = p;
    }
}

const H264Pps* H264ParameterSets::Pps(unsigned id) const
{
    return id < m_pps.size() && m_pps[id].ok ? &m_pps[id] : nullptr;
}

const H264Sps* H264ParameterSets::SpsOf(const H264Pps& pps) const
{
    return pps.spsId >= 0 && size_t(pps.spsId) < m_sps.size() && m_sps[size_t(pps.spsId)].ok ? &m_sps[size_t(pps.spsId)]
                                                                                                : nullptr;
}

bool ReadH264Slice(const uint8_t* unit, size_t size, const H264ParameterSets& sets, H264Slice& slice)
{
    if (!unit || size < 2 || (unit[0] & 0x80))
        return false;
    H264SliceHeader& h = slice.header;
    h = H264SliceHeader();
    h.refIdc = (unit[0] >> 5) & 3;
    h.unitType = unit[0] & 0x1f;
    if (h.unitType != 1 && h.unitType != 5)
        return false;
    slice.rbsp = Unescape(unit, size);
    Reader r(slice.rbsp);
    r.U(8);
    h.firstMb = r.Ue();
    h.sliceType = r.Ue();
    h.ppsId = r.Ue();
    const H264Pps* pps = sets.Pps(h.ppsId);
    const H264Sps* sps = pps ? sets.SpsOf(*pps) : nullptr;
    // Sizes beyond what the standard allows are not read (and would not fit the numbers here).
    if (!r.ok() || h.sliceType > 9 || !sps || sps->log2MaxFrameNum > 16 || sps->log2MaxPocLsb > 16
        || sps->widthMbs <= 0 || sps->widthMbs > 4096 || sps->heightMapUnits <= 0 || sps->heightMapUnits > 4096)
        return false;
    h.pps = *pps;
    h.log2MaxFrameNum = sps->log2MaxFrameNum;
    h.pocType = sps->pocType;
    h.log2MaxPocLsb = sps->log2MaxPocLsb;
    h.frameMbsOnly = sps->frameMbsOnly;
    h.separateColourPlane = sps->separateColourPlane;
    h.deltaPicOrderAlwaysZero = sps->deltaPicOrderAlwaysZero;
    h.chromaArrayType = sps->separateColourPlane ? 0 : sps->chromaFormat;
    h.maxRefFrames = sps->maxRefFrames;
    if (pps->sliceGroups > 1 && pps->sliceGroupMapType >= 3 && pps->sliceGroupMapType <= 5) {
        const unsigned mapUnits = unsigned(sps->widthMbs) * unsigned(sps->heightMapUnits);
        const unsigned rate = unsigned(pps->sliceGroupChangeRate);
        h.sliceGroupChangeBits = CeilLog2(mapUnits / rate + (mapUnits % rate ? 1 : 0) + 1);
    }

    if (h.separateColourPlane)
        h.colourPlane = r.U(2);
    h.frameNum = r.U(h.log2MaxFrameNum);
    if (!h.frameMbsOnly) {
        h.field = r.Flag();
        if (h.field)
            h.bottom = r.Flag();
    }
    if (h.Idr())
        h.idrPicId = r.Ue();
    if (h.pocType == 0) {
        h.pocLsb = r.U(h.log2MaxPocLsb);
        if (pps->bottomFieldPicOrder && !h.field)
            h.deltaPocBottom = r.Se();
    }
    if (h.pocType == 1 && !h.deltaPicOrderAlwaysZero) {
        h.deltaPoc[0] = r.Se();
        if (pps->bottomFieldPicOrder && !h.field)
            h.deltaPoc[1] = r.Se();
    }
    if (pps->redundantPicCnt)
        h.redundantPicCnt = r.Ue();
    const int kind = h.Kind();
    if (kind == kH264B)
        h.directSpatial = r.Flag();
    h.refIdxActive[0] = unsigned(pps->refIdxDefault[0]);
    h.refIdxActive[1] = unsigned(pps->refIdxDefault[1]);
    if (h.Lists() > 0) {
        h.refIdxOverride = r.Flag();
        if (h.refIdxOverride) {
            h.refIdxActive[0] = r.Ue() + 1;
            if (kind == kH264B)
                h.refIdxActive[1] = r.Ue() + 1;
        }
    }
    if (h.refIdxActive[0] > 32 || h.refIdxActive[1] > 32)
        return false;
    for (int list = 0; list < h.Lists(); ++list) {
        h.listChanged[list] = r.Flag();
        if (!h.listChanged[list])
            continue;
        for (;;) {
            H264ListChange c;
            c.idc = r.Ue();
            if (!r.ok() || c.idc > 3 || h.listChanges[list].size() > 64)
                return false;
            if (c.idc == 3)
                break;
            c.value = r.Ue();
            h.listChanges[list].push_back(c);
        }
    }
    h.weights = (pps->weightedPred && (kind == kH264P || kind == kH264SP)) || (pps->weightedBipred == 1 && kind == kH264B);
    if (h.weights) {
        h.lumaDenom = r.Ue();
        if (h.chromaArrayType != 0)
            h.chromaDenom = r.Ue();
        for (int list = 0; list < h.Lists(); ++list) {
            for (unsigned k = 0; k < h.refIdxActive[list] && r.ok(); ++k) {
                H264Weight w;
                w.luma = r.Flag();
                if (w.luma) {
                    w.lumaWeight = r.Se();
                    w.lumaOffset = r.Se();
                }
                if (h.chromaArrayType != 0) {
                    w.chroma = r.Flag();
                    if (w.chroma)
                        for (int j = 0; j < 2; ++j) {
                            w.chromaWeight[j] = r.Se();
                            w.chromaOffset[j] = r.Se();
                        }
                }
                h.weightList[list].push_back(w);
            }
        }
    }
    if (h.refIdc != 0) {
        if (h.Idr()) {
            h.noOutputOfPriorPics = r.Flag();
            h.longTermReference = r.Flag();
        } else {
            h.adaptiveMarking = r.Flag();
            while (h.adaptiveMarking && r.ok()) {
                H264Mmco m;
                m.op = r.Ue();
                if (m.op > 6 || h.mmcos.size() > 64)
                    return false;
                if (m.op == 0)
                    break;
                if (m.op == 1 || m.op == 3)
                    m.picNumDiff = r.Ue();
                if (m.op == 2)
                    m.longTermPicNum = r.Ue();
                if (m.op == 3 || m.op == 6 || m.op == 4)
                    m.longTermIdx = r.Ue();
                h.mmcos.push_back(m);
            }
        }
    }
    if (pps->cabac && kind != kH264I && kind != kH264SI)
        h.cabacInitIdc = r.Ue();
    h.qpDelta = r.Se();
    if (kind == kH264SP || kind == kH264SI) {
        if (kind == kH264SP)
            h.spForSwitch = r.Flag();
        h.qsDelta = r.Se();
    }
    if (pps->deblockingControl) {
        h.deblocking = r.Ue();
        if (h.deblocking != 1) {
            h.alphaOffset = r.Se();
            h.betaOffset = r.Se();
        }
    }
    if (h.sliceGroupChangeBits > 0)
        h.sliceGroupChangeCycle = r.U(h.sliceGroupChangeBits);
    slice.dataBit = r.at();
    return r.ok();
}

Bytes WriteH264Slice(const H264Slice& slice)
{
    const H264SliceHeader& h = slice.header;
    const H264Pps& pps = h.pps;
    Writer w;
    w.U(((h.refIdc & 3) << 5) | (h.unitType & 0x1f), 8);
    w.Ue(h.firstMb);
    w.Ue(h.sliceType);
    w.Ue(h.ppsId);
    if (h.separateColourPlane)
        w.U(h.colourPlane, 2);
    w.U(h.frameNum, h.log2MaxFrameNum);
    if (!h.frameMbsOnly) {
        w.Flag(h.field);
        if (h.field)
            w.Flag(h.bottom);
    }
    if (h.Idr())
        w.Ue(h.idrPicId);
    if (h.pocType == 0) {
        w.U(h.pocLsb, h.log2MaxPocLsb);
        if (pps.bottomFieldPicOrder && !h.field)
            w.Se(h.deltaPocBottom);
    }
    if (h.pocType == 1 && !h.deltaPicOrderAlwaysZero) {
        w.Se(h.deltaPoc[0]);
        if (pps.bottomFieldPicOrder && !h.field)
            w.Se(h.deltaPoc[1]);
    }
    if (pps.redundantPicCnt)
        w.Ue(h.redundantPicCnt);
    const int kind = h.Kind();
    if (kind == kH264B)
        w.Flag(h.directSpatial);
    if (h.Lists() > 0) {
        w.Flag(h.refIdxOverride);
        if (h.refIdxOverride) {
            w.Ue(h.refIdxActive[0] - 1);
            if (kind == kH264B)
                w.Ue(h.refIdxActive[1] - 1);
        }
    }
    for (int list = 0; list < h.Lists(); ++list) {
        w.Flag(h.listChanged[list]);
        if (!h.listChanged[list])
            continue;
        for (const H264ListChange& c : h.listChanges[list]) {
            w.Ue(c.idc);
            w.Ue(c.value);
        }
        w.Ue(3);
    }
    if (h.weights) {
        w.Ue(h.lumaDenom);
        if (h.chromaArrayType != 0)
            w.Ue(h.chromaDenom);
        for (int list = 0; list < h.Lists(); ++list)
            for (const H264Weight& x : h.weightList[list]) {
                w.Flag(x.luma);
                if (x.luma) {
                    w.Se(x.lumaWeight);
                    w.Se(x.lumaOffset);
                }
                if (h.chromaArrayType != 0) {
                    w.Flag(x.chroma);
                    if (x.chroma)
                        for (int j = 0; j < 2; ++j) {
                            w.Se(x.chromaWeight[j]);
                            w.Se(x.chromaOffset[j]);
                        }
                }
            }
    }
    if (h.refIdc != 0) {
        if (h.Idr()) {
            w.Flag(h.noOutputOfPriorPics);
            w.Flag(h.longTermReference);
        } else {
            w.Flag(h.adaptiveMarking);
            if (h.adaptiveMarking) {
                for (const H264Mmco& m : h.mmcos) {
                    w.Ue(m.op);
                    if (m.op == 1 || m.op == 3)
                        w.Ue(m.picNumDiff);
                    if (m.op == 2)
                        w.Ue(m.longTermPicNum);
                    if (m.op == 3 || m.op == 6 || m.op == 4)
                        w.Ue(m.longTermIdx);
                }
                w.Ue(0);
            }
        }
    }
    if (pps.cabac && kind != kH264I && kind != kH264SI)
        w.Ue(h.cabacInitIdc);
    w.Se(h.qpDelta);
    if (kind == kH264SP || kind == kH264SI) {
        if (kind == kH264SP)
            w.Flag(h.spForSwitch);
        w.Se(h.qsDelta);
    }
    if (pps.deblockingControl) {
        w.Ue(h.deblocking);
        if (h.deblocking != 1) {
            w.Se(h.alphaOffset);
            w.Se(h.betaOffset);
        }
    }
    if (h.sliceGroupChangeBits > 0)
        w.U(h.sliceGroupChangeCycle, h.sliceGroupChangeBits);

    const Bytes& in = slice.rbsp;
    size_t from = slice.dataBit;
    if (pps.cabac) {
        // CABAC slice data begins on a byte: the alignment ones before it, then the rest as it is.
        while (w.at() % 8)
            w.U(1, 1);
        from = (from + 7) / 8 * 8;
        Bytes& out = w.bytes();
        out.insert(out.end(), in.begin() + long(std::min(in.size(), from / 8)), in.end());
    } else {
        // CAVLC: every bit up to the stop bit, shifted, then the stop bit and the alignment.
        size_t stop = in.size() * 8;
        while (stop > from && !((in[(stop - 1) / 8] >> (7 - (stop - 1) % 8)) & 1))
            --stop;
        if (stop > from)
            --stop; // the stop bit itself
        size_t k = from;
        for (; k < stop && k % 8; ++k)
            w.U((in[k / 8] >> (7 - k % 8)) & 1, 1);
        for (; k + 8 <= stop; k += 8)
            w.Byte(in[k / 8]);
        for (; k < stop; ++k)
            w.U((in[k / 8] >> (7 - k % 8)) & 1, 1);
        w.U(1, 1);
        while (w.at() % 8)
            w.U(0, 1);
    }
    return Escape(w.bytes());
}

bool H264ResumableOpenPicture(const std::vector<NalUnit>& units)
{
    bool exact = false, slices = false;
    for (const NalUnit& u : units) {
        if (!u.data || u.size < 2)
            continue;
        const int type = u.data[0] & 0x1f;
        if (type == 6 && !exact) {
            const Bytes b = Unescape(u.data, std::min<size_t>(u.size, 4096));
            size_t at = 1;
            while (at + 1 < b.size() && b[at] != 0x80) {
                unsigned payload = 0, size = 0;
                while (at < b.size() && b[at] == 0xff)
                    payload += b[at++];
                if (at >= b.size())
                    break;
                payload += b[at++];
                while (at < b.size() && b[at] == 0xff)
                    size += b[at++];
                if (at >= b.size())
                    break;
                size += b[at++];
                if (payload == 6) { // recovery point
                    const Bytes message(b.begin() + long(at), b.begin() + long(std::min(b.size(), at + size)));
                    Reader r(message);
                    const unsigned count = r.Ue();
                    const bool exactMatch = r.Flag();
                    const bool brokenLink = r.Flag();
                    exact = r.ok() && count == 0 && exactMatch && !brokenLink;
                    break;
                }
                at += size;
            }
        } else if (type == 1) {
            const Bytes b = Unescape(u.data, std::min<size_t>(u.size, 16));
            Reader r(b);
            r.U(8);
            r.Ue(); // first_mb_in_slice
            const unsigned kind = r.Ue() % 5;
            if (!r.ok() || (kind != kH264I && kind != kH264SI))
                return false;
            slices = true;
        } else if (type == 5) {
            return false;
        }
    }
    return exact && slices;
}
