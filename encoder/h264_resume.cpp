#include "h264_resume.h"

#include <algorithm>

namespace {

using Ref = H264Resume::Ref;
using Dpb = H264Resume::Dpb;

// FrameNumWrap: the picture number of a short-term frame seen from the current frame_num.
int Wrap(const Dpb& d, unsigned frameNum, unsigned current)
{
    return frameNum > current ? int(frameNum) - int(d.maxFrameNum) : int(frameNum);
}

int FindShort(const Dpb& d, int picNum, unsigned current)
{
    for (size_t k = 0; k < d.refs.size(); ++k)
        if (!d.refs[k].longTerm && Wrap(d, d.refs[k].frameNum, current) == picNum)
            return int(k);
    return -1;
}

int FindLong(const Dpb& d, unsigned idx)
{
    for (size_t k = 0; k < d.refs.size(); ++k)
        if (d.refs[k].longTerm && d.refs[k].longIdx == idx)
            return int(k);
    return -1;
}

const Ref* FindId(const Dpb& d, int id)
{
    for (const Ref& r : d.refs)
        if (r.id == id)
            return &r;
    return nullptr;
}

// The picture order count of a frame as a decoder derives it; restart: the first picture
// (an IDR picture, or where decoding of the source begins).
int DerivePoc(Dpb& d, const H264SliceHeader& h, unsigned frameNum, unsigned pocLsb, bool restart)
{
    const bool reference = h.refIdc != 0;
    if (h.pocType == 0) {
        const unsigned maxLsb = 1u << h.log2MaxPocLsb;
        if (restart) {
            d.prevPocMsb = 0;
            d.prevPocLsb = pocLsb;
        }
        int msb = d.prevPocMsb;
        if (pocLsb < d.prevPocLsb && d.prevPocLsb - pocLsb >= maxLsb / 2)
            msb += int(maxLsb);
        else if (pocLsb > d.prevPocLsb && pocLsb - d.prevPocLsb > maxLsb / 2)
            msb -= int(maxLsb);
        const int top = msb + int(pocLsb);
        if (reference) {
            d.prevPocMsb = msb;
            d.prevPocLsb = pocLsb;
        }
        return std::min(top, top + h.deltaPocBottom);
    }
    // Type 2: counted from frame_num.
    if (restart)
        d.frameNumOffset = 0;
    else if (d.prevFrameNum > frameNum)
        d.frameNumOffset += int(d.maxFrameNum);
    d.prevFrameNum = frameNum;
    return 2 * (d.frameNumOffset + int(frameNum)) - (reference ? 0 : 1);
}

// Marks the current picture (a reference picture) as a decoder does once it is decoded.
void Mark(Dpb& d, const H264SliceHeader& h, unsigned current, Ref picture)
{
    if (h.adaptiveMarking) {
        for (const H264Mmco& m : h.mmcos) {
            const int picNum = int(current) - int(m.picNumDiff) - 1;
            int at = -1;
            switch (m.op) {
            case 1:
                at = FindShort(d, picNum, current);
                if (at >= 0)
                    d.refs.erase(d.refs.begin() + at);
                break;
            case 2:
                at = FindLong(d, m.longTermPicNum);
                if (at >= 0)
                    d.refs.erase(d.refs.begin() + at);
                break;
            case 3: {
                at = FindShort(d, picNum, current);
                if (at < 0)
                    break;
                const int held = FindLong(d, m.longTermIdx);
                const int id = d.refs[size_t(at)].id;
                if (held >= 0)
                    d.refs.erase(d.refs.begin() + held);
                for (Ref& r : d.refs)
                    if (r.id == id) {
                        r.longTerm = true;
                        r.longIdx = m.longTermIdx;
                    }
                break;
            }
            case 4:
                d.maxLongIdx = int(m.longTermIdx) - 1;
                d.refs.erase(std::remove_if(d.refs.begin(), d.refs.end(),
                                            [&](const Ref& r) { return r.longTerm && int(r.longIdx) > d.maxLongIdx; }),
                             d.refs.end());
                break;
            case 5:
                d.refs.clear();
                d.maxLongIdx = -1;
                break;
            case 6:
                at = FindLong(d, m.longTermIdx);
                if (at >= 0)
                    d.refs.erase(d.refs.begin() + at);
                picture.longTerm = true;
                picture.longIdx = m.longTermIdx;
                break;
            default: break;
            }
        }
    } else if (int(d.refs.size()) >= std::max(d.maxRefs, 1)) {
        // The sliding window: the short-term frame with the lowest FrameNumWrap goes.
        int oldest = -1;
        for (size_t k = 0; k < d.refs.size(); ++k)
            if (!d.refs[k].longTerm
                && (oldest < 0 || Wrap(d, d.refs[k].frameNum, current) < Wrap(d, d.refs[size_t(oldest)].frameNum, current)))
                oldest = int(k);
        if (oldest >= 0)
            d.refs.erase(d.refs.begin() + oldest);
    }
    d.refs.push_back(picture);
}

// The initial reference picture lists of a P or B frame (picture ids).
void InitLists(const Dpb& d, unsigned current, int currentPoc, bool b, std::vector<int> lists[2])
{
    std::vector<Ref> shorts, longs;
    for (const Ref& r : d.refs)
        (r.longTerm ? longs : shorts).push_back(r);
    std::sort(longs.begin(), longs.end(), [](const Ref& x, const Ref& y) { return x.longIdx < y.longIdx; });
    lists[0].clear();
    lists[1].clear();
    if (!b) {
        std::sort(shorts.begin(), shorts.end(),
                  [&](const Ref& x, const Ref& y) { return Wrap(d, x.frameNum, current) > Wrap(d, y.frameNum, current); });
        for (const Ref& r : shorts)
            lists[0].push_back(r.id);
    } else {
        std::vector<Ref> before, after;
        for (const Ref& r : shorts)
            (r.poc < currentPoc ? before : after).push_back(r);
        std::sort(before.begin(), before.end(), [](const Ref& x, const Ref& y) { return x.poc > y.poc; });
        std::sort(after.begin(), after.end(), [](const Ref& x, const Ref& y) { return x.poc < y.poc; });
        for (const Ref& r : before)
            lists[0].push_back(r.id);
        for (const Ref& r : after) {
            lists[0].push_back(r.id);
            lists[1].push_back(r.id);
        }
        for (const Ref& r : before)
            lists[1].push_back(r.id);
    }
    for (int l = 0; l < (b ? 2 : 1); ++l)
        for (const Ref& r : longs)
            lists[l].push_back(r.id);
    if (b && lists[1].size() > 1 && lists[0] == lists[1])
        std::swap(lists[1][0], lists[1][1]);
}

// A list as the slice's modifications leave it, count entries long: ids, -1 where there is no
// picture, -2 where a modification names one the decoder does not hold. targets receives the
// picture each modification names.
std::vector<int> Modify(const Dpb& d, std::vector<int> list, unsigned count, unsigned current,
                        const std::vector<H264ListChange>& changes, std::vector<int>* targets)
{
    list.resize(count, -1);
    list.push_back(-1);
    const int maxPicNum = int(d.maxFrameNum);
    int predicted = int(current);
    size_t refIdx = 0;
    for (const H264ListChange& c : changes) {
        int target = -2;
        if (c.idc == 0 || c.idc == 1) {
            const int diff = int(c.value) + 1;
            int noWrap = c.idc == 0 ? predicted - diff : predicted + diff;
            if (noWrap < 0)
                noWrap += maxPicNum;
            else if (noWrap >= maxPicNum)
                noWrap -= maxPicNum;
            predicted = noWrap;
            const int picNum = noWrap > int(current) ? noWrap - maxPicNum : noWrap;
            const int at = FindShort(d, picNum, current);
            target = at >= 0 ? d.refs[size_t(at)].id : -2;
        } else if (c.idc == 2) {
            const int at = FindLong(d, c.value);
            target = at >= 0 ? d.refs[size_t(at)].id : -2;
        }
        if (targets)
            targets->push_back(target);
        if (refIdx >= count)
            break;
        for (size_t k = count; k > refIdx; --k)
            list[k] = list[k - 1];
        list[refIdx++] = target;
        size_t n = refIdx;
        for (size_t k = refIdx; k <= count; ++k)
            if (target < 0 || list[k] != target)
                list[n++] = list[k];
    }
    list.resize(count);
    return list;
}

// The modifications that name the pictures in turn; false when one is not held.
bool Encode(const Dpb& d, unsigned current, const std::vector<int>& targets, std::vector<H264ListChange>& out)
{
    out.clear();
    const int maxPicNum = int(d.maxFrameNum);
    int predicted = int(current);
    for (const int id : targets) {
        const Ref* r = id >= 0 ? FindId(d, id) : nullptr;
        if (!r)
            return false;
        H264ListChange c;
        if (r->longTerm) {
            c.idc = 2;
            c.value = r->longIdx;
        } else {
            const int picNum = Wrap(d, r->frameNum, current);
            const int noWrap = picNum < 0 ? picNum + maxPicNum : picNum;
            const int diff = noWrap - predicted;
            c.idc = diff > 0 ? 1 : 0;
            c.value = unsigned(diff > 0 ? diff - 1 : diff < 0 ? -diff - 1 : maxPicNum - 1);
            predicted = noWrap;
        }
        out.push_back(c);
    }
    return true;
}

// Whether the copy's list finds every picture the source's does, and a picture it holds
// wherever the source's names none the copy holds.
bool Meets(const std::vector<int>& got, const std::vector<int>& want, const Dpb& copy)
{
    for (size_t k = 0; k < want.size(); ++k) {
        const bool held = want[k] >= 0 && FindId(copy, want[k]);
        if (held ? got[k] != want[k] : got[k] < 0 || !FindId(copy, got[k]))
            return false;
    }
    return true;
}

// Whether the copy holds what the source holds of the pictures the copy has (before this
// one, and this one).
bool SameHeld(const Dpb& copy, const Dpb& source, const Dpb& copyBefore, int current)
{
    for (const Ref& r : copy.refs) {
        const Ref* s = FindId(source, r.id);
        if (!s || s->longTerm != r.longTerm || (r.longTerm && s->longIdx != r.longIdx))
            return false;
    }
    for (const Ref& s : source.refs)
        if ((s.id == current || FindId(copyBefore, s.id)) && !FindId(copy, s.id))
            return false;
    return true;
}

bool HasMmco5(const H264SliceHeader& h)
{
    return h.adaptiveMarking && std::any_of(h.mmcos.begin(), h.mmcos.end(), [](const H264Mmco& m) { return m.op == 5; });
}

} // namespace

bool H264Resume::Picture(const std::vector<NalUnit>& units, bool kept, std::vector<Bytes>& out, std::string& why)
{
    out.clear();
    std::vector<H264Slice> slices;
    std::vector<int> sliceAt(units.size(), -1);
    for (size_t k = 0; k < units.size(); ++k) {
        if (units[k].size < 1)
            continue;
        const int type = units[k].data[0] & 0x1f;
        if (type == 7 || type == 8)
            m_sets.Learn(units[k]);
        if (m_done || (type != 1 && type != 5))
            continue;
        H264Slice s;
        if (!ReadH264Slice(units[k].data, units[k].size, m_sets, s)) {
            why = "a slice header of the copied pictures cannot be read";
            return false;
        }
        sliceAt[k] = int(slices.size());
        slices.push_back(std::move(s));
    }
    const auto asTheyAre = [&]() {
        if (kept)
            for (const NalUnit& u : units)
                out.emplace_back(u.data, u.data + u.size);
        return true;
    };
    if (m_done || slices.empty())
        return asTheyAre();
    const H264SliceHeader& h = slices.front().header;
    if (h.Idr()) {
        m_done = true; // the source starts over itself
        return asTheyAre();
    }
    if (h.field || h.pocType == 1) {
        why = h.field ? "the copied pictures include fields coded as pictures of their own"
                      : "the copied pictures count their order in a way (type 1) this copy does not renumber";
        return false;
    }
    const bool restart = !m_started;
    if (restart) {
        for (const H264Slice& s : slices)
            if (s.header.Kind() != kH264I && s.header.Kind() != kH264SI) {
                why = "the copy does not begin with an I-picture";
                return false;
            }
        if (!kept || h.refIdc == 0) {
            why = "the copy does not begin with a reference picture";
            return false;
        }
        m_started = true;
        m_baseFrameNum = h.frameNum;
        m_basePocLsb = h.pocLsb;
        m_source = m_copy = Dpb();
        m_source.maxFrameNum = m_copy.maxFrameNum = 1u << h.log2MaxFrameNum;
        m_source.maxRefs = m_copy.maxRefs = h.maxRefFrames;
    }
    const bool reference = h.refIdc != 0;
    const unsigned maxFrameNum = m_copy.maxFrameNum;
    const unsigned sourceFrameNum = h.frameNum;
    const int sourcePoc = DerivePoc(m_source, h, sourceFrameNum, h.pocLsb, restart);
    const int id = m_nextId++;
    if (!kept) {
        if (HasMmco5(h)) {
            why = "a picture left out of the copy starts the numbering over";
            return false;
        }
        if (reference) {
            Mark(m_source, h, sourceFrameNum, Ref{id, sourceFrameNum, sourcePoc, false, 0});
            ++m_droppedRefs; // it took a frame_num the copied pictures after it count on
        }
        return true;
    }

    const auto modulo = [](int64_t v, unsigned m) { return unsigned(((v % int64_t(m)) + int64_t(m)) % int64_t(m)); };
    const unsigned frameNum = modulo(int64_t(sourceFrameNum) - m_baseFrameNum - m_droppedRefs, maxFrameNum);
    const unsigned pocLsb = h.pocType == 0 ? modulo(int64_t(h.pocLsb) - m_basePocLsb, 1u << h.log2MaxPocLsb) : 0;
    const int poc = DerivePoc(m_copy, h, frameNum, pocLsb, restart);
    if (restart)
        m_pocOffset = sourcePoc - poc;
    else if (sourcePoc - poc != m_pocOffset) {
        why = "the copied pictures' order counts cannot be renumbered without changing their order";
        return false;
    }

    // Reference lists: the copy's must find what the source's find.
    for (H264Slice& s : slices) {
        H264SliceHeader& sh = s.header;
        if (sh.Lists() == 0)
            continue;
        const bool b = sh.Kind() == kH264B;
        std::vector<int> sourceInit[2], copyInit[2];
        InitLists(m_source, sourceFrameNum, sourcePoc, b, sourceInit);
        InitLists(m_copy, frameNum, poc, b, copyInit);
        for (int list = 0; list < sh.Lists(); ++list) {
            const unsigned count = sh.refIdxActive[list];
            std::vector<int> targets;
            const std::vector<int> want =
                Modify(m_source, sourceInit[list], count, sourceFrameNum, sh.listChanges[list], &targets);
            std::vector<H264ListChange> changes;
            bool fits = false;
            if (sh.listChanged[list])
                fits = Encode(m_copy, frameNum, targets, changes)
                       && Meets(Modify(m_copy, copyInit[list], count, frameNum, changes, nullptr), want, m_copy);
            else
                fits = Meets(Modify(m_copy, copyInit[list], count, frameNum, {}, nullptr), want, m_copy);
            if (!fits) {
                // Every entry named: the source's picture, or one the copy holds where the
                // source's is not there (no block refers to it).
                int stand = -1;
                for (const int i : copyInit[list])
                    if (stand < 0 && i >= 0)
                        stand = i;
                std::vector<int> named;
                for (const int i : want)
                    named.push_back(i >= 0 && FindId(m_copy, i) ? i : stand);
                if (!Encode(m_copy, frameNum, named, changes)
                    || !Meets(Modify(m_copy, copyInit[list], count, frameNum, changes, nullptr), want, m_copy)) {
                    why = "a copied picture refers to pictures the copy does not hold";
                    return false;
                }
                sh.listChanged[list] = true;
            }
            if (sh.listChanged[list])
                sh.listChanges[list] = changes;
        }
    }

    // Reference marking: the copy holds what the source holds of the pictures it has.
    H264SliceHeader marking = h;
    if (reference) {
        const Dpb sourceBefore = m_source;
        Mark(m_source, h, sourceFrameNum, Ref{id, sourceFrameNum, sourcePoc, false, 0});
        const Ref current{id, frameNum, poc, false, 0};
        Dpb trial = m_copy;
        if (restart) {
            trial.refs = {current};
            trial.maxLongIdx = -1;
        } else {
            marking.mmcos.clear();
            for (const H264Mmco& m : h.mmcos) {
                H264Mmco n = m;
                if (m.op == 1 || m.op == 3) {
                    const int at = FindShort(sourceBefore, int(sourceFrameNum) - int(m.picNumDiff) - 1, sourceFrameNum);
                    const Ref* r = at >= 0 ? FindId(m_copy, sourceBefore.refs[size_t(at)].id) : nullptr;
                    if (!r || r->longTerm)
                        continue; // names a picture the copy never held
                    n.picNumDiff = unsigned(int(frameNum) - Wrap(m_copy, r->frameNum, frameNum) - 1);
                } else if (m.op == 2) {
                    const int at = FindLong(sourceBefore, m.longTermPicNum);
                    if (at < 0 || !FindId(m_copy, sourceBefore.refs[size_t(at)].id))
                        continue;
                }
                marking.mmcos.push_back(n);
            }
            Mark(trial, marking, frameNum, current);
            if (!SameHeld(trial, m_source, m_copy, id)) {
                // Said outright: what the source lets go of, the copy lets go of.
                marking.adaptiveMarking = true;
                marking.mmcos.clear();
                for (const Ref& r : m_copy.refs) {
                    const Ref* s = FindId(m_source, r.id);
                    H264Mmco n;
                    if (!s) {
                        n.op = r.longTerm ? 2 : 1;
                        n.picNumDiff = unsigned(int(frameNum) - Wrap(m_copy, r.frameNum, frameNum) - 1);
                        n.longTermPicNum = r.longIdx;
                    } else if (s->longTerm && !r.longTerm) {
                        n.op = 3;
                        n.picNumDiff = unsigned(int(frameNum) - Wrap(m_copy, r.frameNum, frameNum) - 1);
                        n.longTermIdx = s->longIdx;
                    } else {
                        continue;
                    }
                    marking.mmcos.push_back(n);
                }
                if (m_source.maxLongIdx != m_copy.maxLongIdx)
                    marking.mmcos.push_back(H264Mmco{4, 0, 0, unsigned(m_source.maxLongIdx + 1)});
                if (const Ref* s = FindId(m_source, id); s && s->longTerm)
                    marking.mmcos.push_back(H264Mmco{6, 0, 0, s->longIdx});
                trial = m_copy;
                Mark(trial, marking, frameNum, current);
            }
        }
        if (!SameHeld(trial, m_source, m_copy, id)) {
            why = "the copy cannot hold the reference pictures the source holds";
            return false;
        }
        m_copy = std::move(trial);
    }

    for (H264Slice& s : slices) {
        H264SliceHeader& sh = s.header;
        sh.frameNum = frameNum;
        sh.pocLsb = pocLsb;
        if (restart) {
            sh.unitType = 5;
            sh.idrPicId = 1; // x264 numbers its first IDR picture 0: the encoded pictures' may be right before
            sh.noOutputOfPriorPics = false;
            sh.longTermReference = false;
            sh.adaptiveMarking = false;
            sh.mmcos.clear();
        } else if (reference) {
            sh.adaptiveMarking = marking.adaptiveMarking;
            sh.mmcos = marking.mmcos;
        }
    }
    if (HasMmco5(h))
        m_done = true; // the source starts over itself after this picture
    for (size_t k = 0; k < units.size(); ++k)
        if (sliceAt[k] >= 0)
            out.push_back(WriteH264Slice(slices[size_t(sliceAt[k])]));
        else
            out.emplace_back(units[k].data, units[k].data + units[k].size);
    return true;
}
