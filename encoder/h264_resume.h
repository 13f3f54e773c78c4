#pragma once
// A copy of H.264 video that resumes at an I-picture which is not an IDR picture (x264's open
// GOPs: a recovery point at the picture itself), after pictures encoded again.
//
// The I-picture becomes an IDR picture, so that the decoder lets go of the encoded pictures
// and starts counting again; every copied picture after it, up to the source's next IDR
// picture, is renumbered the same way (frame_num, picture order counts). The leading pictures
// after the I-picture in decode order (shown before it, encoded again in the head) are left
// out, and the reference pictures a decoder holds differ from the source's: those of the group
// before the I-picture and the leading ones are missing. So the reference marking and the
// reference list modifications of the copied pictures are rewritten to hold and find the same
// pictures as a decoder of the source does, modelled here picture by picture.
#include "h264_slices.h"

#include <string>

class H264Resume {
public:
    // The source's parameter sets (from its decoder configuration or its packets).
    void Learn(const NalUnit& unit) { m_sets.Learn(unit); }

    // One access unit of the copy, in decode order: the first must be the I-picture the copy
    // resumes at; kept false for a picture left out. out receives the units as they are to be
    // written (slices rewritten, other units as they were). False, with the reason, when the
    // pictures cannot be renumbered (then the copy must not go on).
    bool Picture(const std::vector<NalUnit>& units, bool kept, std::vector<Bytes>& out, std::string& why);

    // Whether pictures are still rewritten: false after the source's next IDR picture.
    bool Rewriting() const { return !m_done; }

    struct Ref {
        int id = 0;
        unsigned frameNum = 0;
        int poc = 0;
        bool longTerm = false;
        unsigned longIdx = 0;
    };
    // The reference pictures a decoder holds, as the decoding of the source (from the
    // I-picture on) or of the copy leaves them.
    struct Dpb {
        std::vector<Ref> refs;
        int maxLongIdx = -1; // -1: no long-term frame indices
        unsigned maxFrameNum = 16;
        int maxRefs = 1;
        // picture order counts
        int prevPocMsb = 0;
        unsigned prevPocLsb = 0;
        unsigned prevFrameNum = 0;
        int frameNumOffset = 0;
    };

private:
    H264ParameterSets m_sets;
    bool m_started = false;
    bool m_done = false;
    int m_nextId = 0;
    unsigned m_baseFrameNum = 0;
    unsigned m_basePocLsb = 0;
    unsigned m_droppedRefs = 0; // reference pictures left out since the I-picture
    int m_pocOffset = 0;        // the source's order count less the copy's
    Dpb m_source, m_copy;
};
