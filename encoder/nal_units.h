#pragma once
// NAL units of H.264 and H.265 video as the encoder needs them to join re-encoded pictures
// with copied ones: splitting packets and decoder configurations into units, telling
// parameter sets and random-access pictures apart, reading parameter-set ids, and writing
// units in Annex B form (start codes), which the muxers turn into the container's form.
#include <cstddef>
#include <cstdint>
#include <vector>

enum class NalCodec { H264, Hevc };

using Bytes = std::vector<uint8_t>;

// One unit, without its start code or length field.
struct NalUnit {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The units of a packet: lengthSize 1..4 for length-prefixed units (MP4, Matroska), 0 for
// start codes. A length that runs past the end ends the list.
std::vector<NalUnit> SplitNalUnits(const uint8_t* data, size_t size, int lengthSize);

int NalType(NalCodec codec, const NalUnit& unit);
bool IsParameterSet(NalCodec codec, int type);     // VPS, SPS, PPS
bool IsSequenceParameterSet(NalCodec codec, int type);
bool IsAccessUnitDelimiter(NalCodec codec, int type);
// A picture a decoder can start at and the copy can start with: an IDR picture (H.264), an
// IDR, CRA or BLA picture (H.265).
bool StartsCleanly(NalCodec codec, const std::vector<NalUnit>& units);

// How decoding can begin at a picture.
enum class RandomAccess {
    None,
    Closed,   // IDR (and H.265 IDR with decodable leading pictures): nothing after it refers back
    Open,     // H.265 CRA or BLA, H.264 recovery point at the picture itself (x264's open GOPs):
              // pictures shown after it are whole; those shown before it may refer back
    Recovery, // H.264 recovery point some frames later (intra refresh): pictures up to there
              // are decoded partly from what came before
};
struct PictureAccess {
    RandomAccess kind = RandomAccess::None;
    int recoveryFrames = 0; // Recovery: frame_num steps from the picture to where it is whole
    bool reference = true;  // H.264: other pictures may refer to it (frame_num counts these)
};
// The access unit's picture as a start for decoding (its first picture unit, the recovery
// point SEI before it).
PictureAccess DescribePicture(NalCodec codec, const std::vector<NalUnit>& units);

// The parameter sets of a decoder configuration (avcC, hvcC, or units with start codes) and
// the length size of the packets that go with it (0: start codes).
struct DecoderConfig {
    std::vector<Bytes> parameterSets;
    int lengthSize = 0;
    bool ok = false;
};
DecoderConfig ReadDecoderConfig(NalCodec codec, const uint8_t* data, size_t size);

// H.264: the id of an SPS, or of a PPS and of the SPS it refers to; -1 when unreadable.
int H264SpsId(const NalUnit& sps);
int H264PpsId(const NalUnit& pps, int* spsId = nullptr);
// H.265: the tier of an SPS (0 main, 1 high); -1 when unreadable.
int HevcSpsTier(const NalUnit& sps);

// The unit that ends a coded video sequence, with its start code.
Bytes EndOfSequenceUnit(NalCodec codec);

// Appends a unit with a four-byte start code.
void AppendAnnexB(Bytes& out, const uint8_t* unit, size_t size);
inline void AppendAnnexB(Bytes& out, const Bytes& unit) { AppendAnnexB(out, unit.data(), unit.size()); }

// The packet's units with start codes. parameterSets, when given, go in front of its first
// picture unit (after an access unit delimiter) unless the packet holds an SPS already;
// endOfSequence appends the unit that ends a coded video sequence.
Bytes ToAnnexB(NalCodec codec, const std::vector<NalUnit>& units, const std::vector<Bytes>* parameterSets,
               bool endOfSequence);
