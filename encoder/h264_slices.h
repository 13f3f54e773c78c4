#pragma once
// H.264 slice headers read field by field and written back with some fields changed, the
// slice data after them kept bit for bit: what a copy that resumes at a picture other than an
// IDR picture needs to renumber the copied pictures (see h264_resume.h).
#include "h264_sps.h"
#include "nal_units.h"

#include <vector>

// The fields of a picture parameter set that slice headers depend on.
struct H264Pps {
    bool ok = false;
    int id = -1;
    int spsId = -1;
    bool cabac = false;
    bool bottomFieldPicOrder = false; // bottom_field_pic_order_in_frame_present_flag
    int sliceGroups = 1;
    int sliceGroupMapType = 0;
    int sliceGroupChangeRate = 1;
    int refIdxDefault[2] = {1, 1}; // num_ref_idx_lX_default_active (not minus 1)
    bool weightedPred = false;
    int weightedBipred = 0;
    bool deblockingControl = false;
    bool redundantPicCnt = false;
};
H264Pps ReadH264Pps(const uint8_t* unit, size_t size);

// The parameter sets met so far, by id.
class H264ParameterSets {
public:
    // Takes an SPS or a PPS (a unit without start code); other units are ignored.
    void Learn(const NalUnit& unit);
    const H264Pps* Pps(unsigned id) const;
    const H264Sps* SpsOf(const H264Pps& pps) const;

private:
    std::vector<H264Sps> m_sps;
    std::vector<H264Pps> m_pps;
};

enum H264SliceKind { kH264P = 0, kH264B = 1, kH264I = 2, kH264SP = 3, kH264SI = 4 };

struct H264ListChange {
    unsigned idc = 3; // modification_of_pic_nums_idc: 0 subtract, 1 add, 2 long-term, 3 end
    unsigned value = 0; // abs_diff_pic_num_minus1 or long_term_pic_num
};

struct H264Mmco {
    unsigned op = 0;
    unsigned picNumDiff = 0;  // difference_of_pic_nums_minus1 (ops 1 and 3)
    unsigned longTermPicNum = 0; // op 2
    unsigned longTermIdx = 0; // long_term_frame_idx (ops 3 and 6), max_long_term_frame_idx_plus1 (op 4)
};

struct H264Weight {
    bool luma = false;
    int lumaWeight = 0, lumaOffset = 0;
    bool chroma = false;
    int chromaWeight[2] = {}, chromaOffset[2] = {};
};

// What a slice's header holds and what is needed to write it again: the layout its
// parameter sets give it.
struct H264SliceHeader {
    // from the parameter sets
    int log2MaxFrameNum = 4;
    int pocType = 0;
    int log2MaxPocLsb = 4;
    bool frameMbsOnly = true;
    bool separateColourPlane = false;
    bool deltaPicOrderAlwaysZero = false;
    int chromaArrayType = 1;
    int maxRefFrames = 1;
    int sliceGroupChangeBits = 0; // 0: no slice_group_change_cycle
    H264Pps pps;

    // the unit header
    unsigned refIdc = 0;
    unsigned unitType = 1;
    // the fields, in their order
    unsigned firstMb = 0;
    unsigned sliceType = 0; // as written (5..9 say every slice of the picture has the type)
    unsigned ppsId = 0;
    unsigned colourPlane = 0;
    unsigned frameNum = 0;
    bool field = false, bottom = false;
    unsigned idrPicId = 0;
    unsigned pocLsb = 0;
    int deltaPocBottom = 0;
    int deltaPoc[2] = {};
    unsigned redundantPicCnt = 0;
    bool directSpatial = false;
    bool refIdxOverride = false;
    unsigned refIdxActive[2] = {}; // num_ref_idx_lX_active (not minus 1): the override's or the PPS's
    bool listChanged[2] = {};
    std::vector<H264ListChange> listChanges[2]; // without the closing idc 3
    bool weights = false;
    unsigned lumaDenom = 0, chromaDenom = 0;
    std::vector<H264Weight> weightList[2];
    bool noOutputOfPriorPics = false, longTermReference = false; // IDR
    bool adaptiveMarking = false;
    std::vector<H264Mmco> mmcos; // without the closing op 0
    unsigned cabacInitIdc = 0;
    int qpDelta = 0;
    bool spForSwitch = false;
    int qsDelta = 0;
    unsigned deblocking = 0;
    int alphaOffset = 0, betaOffset = 0;
    unsigned sliceGroupChangeCycle = 0;

    bool Idr() const { return unitType == 5; }
    int Kind() const { return int(sliceType % 5); }
    int Lists() const { return Kind() == kH264B ? 2 : Kind() == kH264P || Kind() == kH264SP ? 1 : 0; }
};

// A slice unit read: its header, the unescaped unit and where its slice data begins.
struct H264Slice {
    H264SliceHeader header;
    Bytes rbsp;
    size_t dataBit = 0;
};

// Reads a slice unit (types 1 and 5, without start code) with the parameter sets it refers
// to; false when it is not one or cannot be read.
bool ReadH264Slice(const uint8_t* unit, size_t size, const H264ParameterSets& sets, H264Slice& slice);

// The slice unit (escaped, without start code) with the header as slice.header says and the
// slice data as read.
Bytes WriteH264Slice(const H264Slice& slice);

// Whether an access unit's picture is one a copy can resume at as an IDR picture: an I-picture
// (every slice I or SI) whose recovery point says the pictures from it on decode exactly
// without any before it (recovery_frame_cnt 0, exact_match_flag, no broken link).
bool H264ResumableOpenPicture(const std::vector<NalUnit>& units);
