#include "exact_cut.h"
#include "h264_resume.h"
#include "h264_slices.h"
#include "h264_sps.h"
#include "nal_units.h"
#include "mpeg4_unpack.h"
#include "picture_headers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <iterator>
#include <limits>
#include <map>
#include <numeric>
#include <climits>
#include <set>
#include <unistd.h>

namespace {

constexpr double kSameTime = 0.0005; // a start this close to a frame is that frame's
// A frame this close after a point is the one the point stands for: the program puts the
// points on frames, a section's length a little short of the next one.
constexpr double kFrameAtPoint = 0.005;
constexpr int64_t kNone = std::numeric_limits<int64_t>::min();
constexpr int64_t kEndless = std::numeric_limits<int64_t>::max();
// No scan reads more packets than this around one point.
constexpr size_t kMostScanned = 200000;
// A scan that finds no clean start before a point looks back 1 s, then twice as far each
// time, this many times (about 190 days: the whole of any file).
constexpr int kMostLookBacks = 24;
// A seek that lands more than this many frames after the first packet needed goes back 1 s,
// then twice as far each time, at most this many times.
constexpr int kLateFrames = 4;
constexpr int kMostSeeksBack = 8;
// Parameter sets kept from the packets of a source without a decoder configuration.
constexpr size_t kMostInbandSets = 16;
// H.264 SPS ids run from 0 to this.
constexpr int kLastH264SpsId = 31;
// Decode times may be moved on a tick at a time where a frame lasts at least this many ticks.
constexpr double kLeastTicksAFrame = 16;
// A stream whose ticks are too coarse for that has each split into this many.
constexpr int kTickSplit = 1000;
// The pipe counts time in ticks no finer than this many a second.
constexpr int64_t kFinestPipeTicks = 10000000;
// A section encoded again as a whole is worth a note when it is longer than key-frame
// intervals usually are (seconds), or when it holds starts a copy cannot use.
constexpr double kLongWholeSection = 20;

// The pictures encoded again look like the source's: a constant quality well above what
// the eye tells apart, at a speed that keeps one key-frame interval cheap.
constexpr const char* kX264Preset = "faster";
constexpr const char* kX264Quality = "16";
constexpr const char* kX265Preset = "faster";
constexpr const char* kX265Quality = "18";
// VP9 and AV1: a quality and speed that keep test pictures above 40 dB and one key-frame
// interval cheap.
constexpr const char* kVp9Quality = "12";
constexpr const char* kVp9Speed = "5";
constexpr const char* kAv1Quality = "12";
constexpr const char* kAv1Speed = "8";
// MPEG-2: a fixed quantiser this fine keeps test pictures above 40 dB.
constexpr int kMpeg2Quantiser = 2;
// MPEG-2 encoders keep GOPs at most this long.
constexpr int kLongestMpeg2Gop = 600;
// MPEG-4 Part 2 with packed B-frames holds two pictures in one packet, with an empty one in
// the next: a copy cannot begin or end between them as the cut needs.
constexpr const char* kPackedBecause =
    "this MPEG-4 Part 2 video packs its B-frames into the packets of the frames before them "
    "(DivX's packed bitstream), so a copy cannot begin or end on any frame";
// H.264 field pictures: the encoder codes frames only (or frames of macroblock pairs).
constexpr const char* kFieldsBecause =
    "this H.264 video codes its fields as pictures of their own (PAFF), which the encoder libx264 does "
    "not write";
// AVI gives B-frames' anchors no presentation time: where their pictures show is not known.
constexpr const char* kTimelessBecause =
    "this MPEG-4 Part 2 video has B-frames in AVI, which keeps no presentation times for the frames "
    "they refer to, so the frames cannot be matched";

struct FreeAv {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using PacketPtr = std::unique_ptr<AVPacket, FreeAv>;
using FramePtr = std::unique_ptr<AVFrame, FreeAv>;
using CodecPtr = std::unique_ptr<AVCodecContext, FreeAv>;

std::string AvError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// One video packet as a scan sees it: times in the stream's time base.
struct Scanned {
    int64_t pts = 0;
    int64_t dts = 0;    // the presentation time when the file gives none (just after a seek in Matroska)
    bool hasDts = true;
    bool key = false;   // flagged as a key frame
    bool clean = false; // decoding can start here (and a copy)
    bool open = false;  // clean, but pictures shown before it may refer to earlier ones
    int recoveryFrames = 0; // clean, but whole only so many reference pictures on (intra refresh)
    bool reference = true;  // H.264: counts towards recoveryFrames
    // The copy can begin here after pictures encoded again: an H.265 random access point
    // (the end of the encoded sequence before it resets the decoder), an H.264 IDR picture,
    // or an H.264 open GOP's I-picture, which the copy turns into an IDR picture (renumbering
    // the copied pictures after it, see H264Resume). At a recovery point some frames on
    // (intra refresh) the pictures up to it would refer to the encoded ones.
    bool copyable = false;
};

// Where the pictures decoded from the clean start at pkts[at] become whole: every picture shown
// at or after the time returned is; kEndless when the packets read end before.
int64_t WholeFrom(const std::vector<Scanned>& pkts, size_t at)
{
    const Scanned& start = pkts[at];
    if (start.recoveryFrames <= 0)
        return start.pts;
    int steps = 0; // frame_num from the start: the reference pictures decoded since
    for (size_t k = at; k < pkts.size(); ++k) {
        if (steps == start.recoveryFrames)
            return pkts[k].pts;
        steps += pkts[k].reference ? 1 : 0;
    }
    return kEndless;
}

// H.264 levels: MaxBR and MaxCPB (1000 bits, Baseline and Main), by level_idc.
struct LevelLimit {
    int level;
    int maxRate;
    int buffer;
};
const LevelLimit kH264Levels[] = {{9, 128, 350},         {10, 64, 175},        {11, 192, 500},
                                  {12, 384, 1000},       {13, 768, 2000},      {20, 2000, 2000},
                                  {21, 4000, 4000},      {22, 4000, 4000},     {30, 10000, 10000},
                                  {31, 14000, 14000},    {32, 20000, 20000},   {40, 20000, 25000},
                                  {41, 50000, 62500},    {42, 50000, 62500},   {50, 135000, 135000},
                                  {51, 240000, 240000},  {52, 240000, 240000}, {60, 240000, 240000},
                                  {61, 480000, 480000},  {62, 800000, 800000}};
// H.265 levels (general_level_idc = 30 x level): MaxBR of the main and the high tier (1000 bits).
struct HevcLevelLimit {
    int level;
    int mainRate;
    int highRate;
};
const HevcLevelLimit kHevcLevels[] = {{30, 128, 128},          {60, 1500, 1500},        {63, 3000, 3000},
                                      {90, 6000, 6000},        {93, 10000, 10000},      {120, 12000, 30000},
                                      {123, 20000, 50000},     {150, 25000, 100000},    {153, 40000, 160000},
                                      {156, 60000, 240000},    {180, 60000, 240000},    {183, 120000, 480000},
                                      {186, 240000, 800000}};

} // namespace

class SectionWriter;

// The exact cut of one section of one source.
class SourceCut final : public ExactCut {
public:
    SourceCut();
    ~SourceCut() override;
    ExactCutPlan Plan(const ExactCutRequest& request, const std::string& keyFramesBecause) override;
    bool CoarseOtherStreams() const override;
    bool WriteVideo(int fd, const std::function<void(double)>& progress, const volatile std::sig_atomic_t* stop,
                    std::string& error) override;

    struct Impl;

private:
    friend class SectionWriter;
    std::unique_ptr<Impl> d;
};

struct SourceCut::Impl {
    // ---- the source
    AVFormatContext* ic = nullptr;
    int v = -1;
    AVStream* vs = nullptr;
    AVRational tb{1, 1};         // the times below count these ticks (see Open)
    AVRational streamTb{1, 1};   // the stream's own
    double formatStart = 0;
    int64_t streamFirst = kNone; // the stream's first time stamp, where seeking can go no earlier
    bool matchable = false;      // H.264, H.265, MPEG-2, MPEG-4 Part 2, VP9 or AV1
    bool nal = false;            // H.264 or H.265: NAL units, parameter sets
    AVCodecID codecId = AV_CODEC_ID_NONE;
    Bytes sourceHeaders;         // not NAL units: the source's stream headers (an MPEG-2 sequence header)
    // MPEG-2 pictures without a time stamp of their own (program streams give the anchors
    // only a decode time) are placed by their temporal reference from this one's of their
    // GOP; kNone after a seek until a picture with one comes.
    int64_t gopAnchorPts = kNone;
    int gopAnchorReference = 0;
    bool packed = false; // MPEG-4 Part 2 with B-frames packed into the P-frames' packets
    bool timeless = false; // MPEG-4 Part 2 pictures without a presentation time (AVI)
    bool fieldPictures = false; // H.264 fields coded as pictures of their own (PAFF)
    H264FieldWatch fieldWatch;
    // H.264: false when an SPS counts picture order in a way the copy cannot renumber (type
    // 1), so open GOPs' I-pictures cannot start a copy.
    bool openResumes = true;
    // MPEG-4 Part 2 with B-frames in AVI: the reference pictures come without a presentation
    // time. Each shows where the next one decodes (the B-frames between show at their decode
    // times), so a reference picture and the B-frames after it wait for the next one.
    bool timeAnchors = false;
    std::deque<PacketPtr> anchorGroup; // a reference picture and the B-frames after it
    std::deque<PacketPtr> readyPackets;
    // With timeAnchors: DivX's packed B-frames taken apart as they are read (see
    // mpeg4_unpack.h); a stream that is not packed passes as it is.
    std::unique_ptr<Mpeg4Unpacker> unpacker;
    Mpeg4Layer sourceLayer; // MPEG-4 Part 2: the source's video object layer
    NalCodec codec = NalCodec::H264;
    DecoderConfig config;
    std::vector<Bytes> inbandSets; // parameter sets met in packets (a source without a configuration)
    std::set<int> usedIds;         // H.264 SPS and PPS ids of the source
    int readError = 0;

    // ---- the section (stream times)
    ExactCutRequest req;
    int64_t firstFrame = kNone;        // the section's first frame
    int64_t nextFrame = kNone;         // the next section's first frame; kNone: to the end
    int64_t headDecodeFrom = kNone;    // the clean start the pictures before the copy are decoded from
    int64_t headDecodeFromDts = 0;
    int64_t copyFrom = kNone;          // the first clean start in the section: the copy begins there
    int64_t copyFromDts = 0;
    int64_t tailDecodeFrom = kNone;    // the clean start the pictures after the copy are decoded from
    int64_t copyStopAt = kNone;        // the first packet, in decode order, the copy leaves out; kNone: none
    int64_t tailFrom = kNone;          // the first picture at the end that is encoded again
    bool fineTicks = true;             // decode times can be squeezed a tick apart
    int64_t decodeLead = 0;            // the video written decodes this long before its first picture shows
    std::string wholeBecause;          // why every picture is encoded again (see WhyEncodedWhole)

    // ---- the encoder
    const AVCodec* encoder = nullptr;
    std::string profile;
    std::string params; // x264-params / x265-params
    int64_t maxRate = 0, bufferSize = 0;
    std::vector<Bytes> encoderSets;
    Bytes encoderExtradata;

    ~Impl()
    {
        if (ic)
            avformat_close_input(&ic);
    }

    double Seconds(int64_t ts) const
    {
        return static_cast<double>(static_cast<long double>(ts) * tb.num / tb.den) - formatStart;
    }
    // The stream time at or after `seconds`.
    int64_t TsAtOrAfter(double seconds) const
    {
        const long double t = (static_cast<long double>(seconds) + formatStart) * tb.den / tb.num;
        return static_cast<int64_t>(std::ceil(t - 1e-9L));
    }
    double FrameGap() const
    {
        AVRational rate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
        return rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.04;
    }

    bool Open(const std::string& source, std::string& problem);
    std::string WhyNotMatchable();
    Scanned Describe(const AVPacket* pkt);
    bool Seek(int64_t ts);
    int ReadVideoPacket(AVPacket* pkt);
    template <typename Done> bool Scan(int64_t ts, std::vector<Scanned>& out, bool& ended, Done done);
    bool PlanExact(std::string& problem, std::string& keyFramesBecause);
    bool FindStart(int64_t startTs, int64_t endTs, std::vector<Scanned>& pkts, std::string& problem,
                   std::string& keyFramesBecause);
    void ChooseCopyStart(const std::vector<Scanned>& pkts, int64_t endTs);
    bool FindEnd(int64_t endTs, std::string& problem);
    void PlanCopyEnd(const std::vector<Scanned>& pkts, size_t tailDecodeAt);
    std::string WhyEncodedWhole(const std::vector<Scanned>& pkts, int64_t endTs) const;
    ExactCutPlan PlanKeyFrames(const std::string& reason);
    bool Configure(AVCodecContext* enc, std::string& why) const;
    CodecPtr OpenEncoder(std::string& why) const;
};

// ---------------------------------------------------------------------------------------
// The source

bool SourceCut::Impl::Open(const std::string& source, std::string& problem)
{
    // "file:" so that a name with a colon is never taken for a protocol.
    int r = avformat_open_input(&ic, ("file:" + source).c_str(), nullptr, nullptr);
    if (r < 0) {
        problem = "cannot open " + source + ": " + AvError(r);
        return false;
    }
    r = avformat_find_stream_info(ic, nullptr);
    if (r < 0) {
        problem = "cannot read " + source + ": " + AvError(r);
        return false;
    }
    // The video ffmpeg would copy: the largest picture, the first of equals; no cover art.
    int64_t area = -1;
    for (unsigned k = 0; k < ic->nb_streams; ++k) {
        const AVStream* s = ic->streams[k];
        if (s->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const int64_t a = int64_t(s->codecpar->width) * s->codecpar->height;
        if (a > area) {
            area = a;
            v = int(k);
        }
    }
    if (v < 0)
        return false;
    vs = ic->streams[v];
    tb = streamTb = vs->time_base;
    formatStart = ic->start_time != AV_NOPTS_VALUE ? ic->start_time / double(AV_TIME_BASE) : 0.0;
    streamFirst = vs->start_time;
    for (unsigned k = 0; k < ic->nb_streams; ++k)
        if (int(k) != v)
            ic->streams[k]->discard = AVDISCARD_ALL;

    const AVCodecParameters* par = vs->codecpar;
    codecId = par->codec_id;
    nal = par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC;
    matchable = nal || par->codec_id == AV_CODEC_ID_MPEG2VIDEO || par->codec_id == AV_CODEC_ID_MPEG4
                || par->codec_id == AV_CODEC_ID_VP9 || par->codec_id == AV_CODEC_ID_AV1;
    codec = par->codec_id == AV_CODEC_ID_HEVC ? NalCodec::Hevc : NalCodec::H264;
    timeAnchors = par->codec_id == AV_CODEC_ID_MPEG4 && par->video_delay > 0 && std::strcmp(ic->iformat->name, "avi") == 0;
    if (!nal && par->extradata_size > 0)
        sourceHeaders.assign(par->extradata, par->extradata + par->extradata_size);
    if (timeAnchors) {
        unpacker = std::make_unique<Mpeg4Unpacker>();
        if (unpacker->Open(par))
            sourceHeaders = unpacker->Headers();
        else
            unpacker.reset(); // packed pictures are then found as they are read, and cut on key frames
    }
    if (nal) {
        config = ReadDecoderConfig(codec, par->extradata, size_t(par->extradata_size));
        for (const Bytes& ps : config.parameterSets) {
            const NalUnit u{ps.data(), ps.size()};
            if (codec == NalCodec::H264)
                usedIds.insert(IsSequenceParameterSet(codec, NalType(codec, u)) ? H264SpsId(u) : H264PpsId(u));
        }
    }
    // Decode times a tick apart must stay well inside a frame. Where the stream counts whole
    // frames (AVI), its times are counted here in finer ticks, so that pictures encoded again
    // can decode a tick apart ahead of the copy's.
    fineTicks = FrameGap() / av_q2d(tb) >= kLeastTicksAFrame;
    if (!fineTicks && tb.den <= INT_MAX / kTickSplit) {
        tb.den *= kTickSplit;
        if (streamFirst != AV_NOPTS_VALUE)
            streamFirst = av_rescale_q(streamFirst, streamTb, tb);
        fineTicks = FrameGap() / av_q2d(tb) >= kLeastTicksAFrame;
    }
    return true;
}

std::string SourceCut::Impl::WhyNotMatchable()
{
    const AVCodecParameters* par = vs->codecpar;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
    const std::string name = desc ? (desc->long_name ? desc->long_name : desc->name) : "an unknown codec";
    if (!matchable)
        return "exact cuts need H.264, H.265, MPEG-2, MPEG-4 Part 2, VP9 or AV1 video, and this video is " + name;
    if (nal && !config.ok)
        return "the " + name + " decoder configuration of this video cannot be read";
    const char* encoderName = codecId == AV_CODEC_ID_MPEG2VIDEO ? "mpeg2video"
                              : codecId == AV_CODEC_ID_MPEG4     ? "mpeg4"
                              : codecId == AV_CODEC_ID_VP9       ? "libvpx-vp9"
                              : codecId == AV_CODEC_ID_AV1       ? "libaom-av1"
                              : codec == NalCodec::H264          ? "libx264"
                                                                 : "libx265";
    if (codecId == AV_CODEC_ID_MPEG4) {
        if (PackedMpeg4(sourceHeaders.data(), sourceHeaders.size()))
            return kPackedBecause;
        sourceLayer = ReadMpeg4Layer(sourceHeaders.data(), sourceHeaders.size());
        if (!sourceLayer.ok)
            return "the video object layer of this MPEG-4 Part 2 video cannot be read (or it uses shapes or "
                   "sprites the encoder mpeg4 does not write)";
    }
    encoder = avcodec_find_encoder_by_name(encoderName);
    if (!encoder)
        return std::string("exact cuts need the encoder ") + encoderName + ", which this FFmpeg lacks";
    const AVPixelFormat format = AVPixelFormat(par->format);
    bool formatOk = false;
    for (const AVPixelFormat* f = encoder->pix_fmts; f && *f != AV_PIX_FMT_NONE; ++f)
        formatOk = formatOk || *f == format;
    const char* formatName = av_get_pix_fmt_name(format);
    if (!formatOk)
        return std::string("the encoder ") + encoderName + " cannot write this video's pictures ("
               + (formatName ? formatName : "unknown format") + ")";
    const AVPixFmtDescriptor* fd = av_pix_fmt_desc_get(format);
    const int depth = fd ? fd->comp[0].depth : 8;
    const bool sub422 = fd && fd->log2_chroma_w == 1 && fd->log2_chroma_h == 0;
    const bool sub444 = fd && fd->log2_chroma_w == 0 && fd->log2_chroma_h == 0 && fd->nb_components >= 3;
    const bool interlaced = par->field_order != AV_FIELD_UNKNOWN && par->field_order != AV_FIELD_PROGRESSIVE;

    // Interlaced H.265 pictures encoded again do not join the copied ones: decoders drop copied
    // fields they take for late. MPEG-2 and MPEG-4 Part 2 code both fields in one picture,
    // whose order each picture says.
    if (interlaced && codec == NalCodec::Hevc)
        return "exact cuts cannot match interlaced " + name;
    if (!nal) {
        // The encoder writes the source's profile and level, size, aspect and colours from
        // the settings (Configure); its sequence header travels with its first picture.
    } else if (codec == NalCodec::H264) {
        switch (par->profile & ~(FF_PROFILE_H264_CONSTRAINED | FF_PROFILE_H264_INTRA)) {
        case FF_PROFILE_H264_BASELINE: profile = "baseline"; break;
        case FF_PROFILE_H264_MAIN: profile = "main"; break;
        case FF_PROFILE_H264_HIGH: profile = "high"; break;
        case FF_PROFILE_H264_HIGH_10: profile = "high10"; break;
        case FF_PROFILE_H264_HIGH_422: profile = "high422"; break;
        case FF_PROFILE_H264_HIGH_444_PREDICTIVE:
        case FF_PROFILE_H264_CAVLC_444: profile = "high444"; break;
        case FF_PROFILE_UNKNOWN:
            profile = sub444 ? "high444" : sub422 ? "high422" : depth > 8 ? "high10" : "high";
            break;
        default: {
            const char* p = avcodec_profile_name(par->codec_id, par->profile);
            return std::string("the encoder libx264 cannot write the H.264 profile ") + (p ? p : "of this video");
        }
        }
        // Its own parameter-set ids, so that both kinds of pictures find theirs in one
        // decoder configuration.
        int id = 0;
        while (usedIds.count(id) && id < kLastH264SpsId)
            ++id;
        params = "sps-id=" + std::to_string(id) + ":scenecut=0:force-cfr=1";
        // The level's bit rate limits (High profiles allow more).
        const double factor = profile == "high" ? 1.25 : profile == "high10" ? 3 : profile == "high422" || profile == "high444" ? 4 : 1;
        for (const LevelLimit& l : kH264Levels)
            if (l.level == par->level) {
                maxRate = int64_t(l.maxRate * factor * 1000);
                bufferSize = int64_t(l.buffer * factor * 1000);
            }
    } else {
        const bool is420 = fd && fd->log2_chroma_w == 1 && fd->log2_chroma_h == 1;
        if (fd && fd->nb_components == 1)
            return "exact cuts cannot match H.265 video in shades of grey";
        const std::string bits = depth == 8 ? "8" : std::to_string(depth);
        if (is420)
            profile = depth == 8 ? "main" : depth == 10 ? "main10" : "main12";
        else if (sub422)
            profile = "main422-" + (depth == 8 ? std::string("10") : bits);
        else
            profile = "main444-" + bits;
        params = "bframes=0:open-gop=0:scenecut=0:log-level=error:repeat-headers=0";
        int tier = 0;
        for (const Bytes& ps : config.parameterSets)
            if (IsSequenceParameterSet(codec, NalType(codec, NalUnit{ps.data(), ps.size()})))
                tier = std::max(tier, HevcSpsTier(NalUnit{ps.data(), ps.size()}));
        if (par->level > 0) {
            params += ":level-idc=" + std::to_string(par->level / 3);
            if (tier == 1)
                params += ":high-tier=1";
            for (const HevcLevelLimit& l : kHevcLevels)
                if (l.level == par->level) {
                    maxRate = int64_t(tier == 1 ? l.highRate : l.mainRate) * 1000;
                    bufferSize = maxRate;
                }
        }
        if (par->chroma_location > AVCHROMA_LOC_UNSPECIFIED && par->chroma_location < AVCHROMA_LOC_NB)
            params += ":chromaloc=" + std::to_string(int(par->chroma_location) - 1);
    }
    std::string why;
    const CodecPtr probe = OpenEncoder(why);
    if (!probe)
        return std::string("the encoder ") + encoderName + " refused this video's settings (" + why + ")";
    encoderExtradata.assign(probe->extradata, probe->extradata + probe->extradata_size);
    if (!nal)
        return std::string();
    encoderSets = ReadDecoderConfig(codec, probe->extradata, size_t(probe->extradata_size)).parameterSets;
    if (encoderSets.empty())
        return std::string("the encoder ") + encoderName + " gave no parameter sets";
    if (codec == NalCodec::H264) {
        MatchH264Reordering(config.parameterSets, encoderSets);
        for (const Bytes& ps : config.parameterSets)
            fieldWatch.Learn(NalUnit{ps.data(), ps.size()});
        for (const Bytes& ps : config.parameterSets)
            if (IsSequenceParameterSet(codec, NalType(codec, NalUnit{ps.data(), ps.size()})))
                openResumes = openResumes && ReadH264Sps(ps).pocType != 1;
    }
    return std::string();
}

bool SourceCut::Impl::Configure(AVCodecContext* enc, std::string& why) const
{
    const AVCodecParameters* par = vs->codecpar;
    enc->width = par->width;
    enc->height = par->height;
    enc->pix_fmt = AVPixelFormat(par->format);
    enc->time_base = tb;
    enc->framerate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
    if (nal) {
        // The rate the source's sequence parameter set declares, which decoders take as the
        // stream's: the head's own must say the same, or a variable-frame-rate source's copy
        // (average rate below the declared one) reads as fewer frames a second than it shows,
        // and frames land on the same tick.
        const AVRational declared = av_stream_get_codec_timebase(vs);
        const int ticks = codec == NalCodec::H264 ? 2 : 1; // H.264 counts fields
        if (declared.num > 0 && declared.den > 0)
            enc->framerate = av_inv_q(av_mul_q(declared, AVRational{ticks, 1}));
    }
    if (!nal && enc->framerate.num > 0)
        enc->time_base = av_inv_q(enc->framerate); // these count frames (SectionWriter numbers them)
    enc->sample_aspect_ratio = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : vs->sample_aspect_ratio;
    enc->color_range = par->color_range;
    enc->color_primaries = par->color_primaries;
    enc->color_trc = par->color_trc;
    enc->colorspace = par->color_space;
    enc->chroma_sample_location = par->chroma_location;
    enc->max_b_frames = 0; // nothing decoded ahead: the pictures join the copy in decode order
    enc->thread_count = 0;
    if (codecId == AV_CODEC_ID_VP9 || codecId == AV_CODEC_ID_AV1) {
        // VP9 and AV1: constant quality, no hidden frames decoded ahead (so every packet is
        // shown in turn), key frames only where the pictures start.
        const bool vp9 = codecId == AV_CODEC_ID_VP9;
        enc->profile = par->profile >= 0 ? par->profile : FF_PROFILE_UNKNOWN;
        enc->gop_size = 1 << 20;
        enc->bit_rate = 0;
        const std::pair<const char*, const char*> options[] = {
            {"crf", vp9 ? kVp9Quality : kAv1Quality},
            {"cpu-used", vp9 ? kVp9Speed : kAv1Speed},
            {"lag-in-frames", "0"},
            {"auto-alt-ref", "0"},
            {"row-mt", "1"},
            {vp9 ? "deadline" : "usage", vp9 ? "good" : "realtime"},
        };
        for (const auto& [name, value] : options) {
            const int r = av_opt_set(enc->priv_data, name, value, 0);
            if (r < 0) {
                why = std::string(name) + ": " + AvError(r);
                return false;
            }
        }
        return true;
    }
    if (!nal) {
        // MPEG-2 and MPEG-4 Part 2: the source's profile and level, a fine fixed quantiser,
        // GOPs closed (the copied I-picture after them starts a GOP of its own).
        enc->profile = par->profile >= 0 ? par->profile : FF_PROFILE_UNKNOWN;
        enc->level = par->level >= 0 ? par->level : FF_LEVEL_UNKNOWN;
        enc->gop_size = kLongestMpeg2Gop;
        enc->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_CLOSED_GOP;
        if (par->field_order != AV_FIELD_UNKNOWN && par->field_order != AV_FIELD_PROGRESSIVE) {
            // Fields coded as the source's, in its order (each decoded picture says which first).
            enc->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
            enc->field_order = par->field_order;
        }
        enc->global_quality = FF_QP2LAMBDA * kMpeg2Quantiser;
        enc->qmin = 1;
        // Closed GOPs take no scene-change key frames in this encoder.
        int r = av_opt_set_int(enc->priv_data, "sc_threshold", 1000000000, 0);
        if (r >= 0 && codecId == AV_CODEC_ID_MPEG4)
            r = av_opt_set_int(enc->priv_data, "mpeg_quant", sourceLayer.quantType, 0);
        if (r < 0)
            why = AvError(r);
        return r >= 0;
    }
    // Parameter sets apart from the pictures: they go into the container, or before each
    // key frame.
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    enc->gop_size = 1 << 20;
    enc->level = codec == NalCodec::H264 && par->level > 0 ? par->level : FF_LEVEL_UNKNOWN;
    enc->rc_max_rate = maxRate;
    enc->rc_buffer_size = bufferSize;
    enc->thread_count = 0;
    const bool h264 = codec == NalCodec::H264;
    if (h264 && par->field_order != AV_FIELD_UNKNOWN && par->field_order != AV_FIELD_PROGRESSIVE) {
        // Frames of macroblock pairs as the source's; each decoded picture says which field first.
        enc->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        enc->field_order = par->field_order;
    }
    int r = av_opt_set(enc->priv_data, "preset", h264 ? kX264Preset : kX265Preset, 0);
    if (r >= 0)
        r = av_opt_set(enc->priv_data, "crf", h264 ? kX264Quality : kX265Quality, 0);
    if (r >= 0)
        r = av_opt_set(enc->priv_data, "profile", profile.c_str(), 0);
    if (r >= 0)
        r = av_opt_set(enc->priv_data, h264 ? "x264-params" : "x265-params", params.c_str(), 0);
    if (r < 0) {
        why = AvError(r);
        return false;
    }
    return true;
}

CodecPtr SourceCut::Impl::OpenEncoder(std::string& why) const
{
    CodecPtr enc(avcodec_alloc_context3(encoder));
    if (!enc) {
        why = "out of memory";
        return nullptr;
    }
    if (!Configure(enc.get(), why))
        return nullptr;
    const int r = avcodec_open2(enc.get(), encoder, nullptr);
    if (r < 0) {
        why = AvError(r);
        return nullptr;
    }
    return enc;
}

Scanned SourceCut::Impl::Describe(const AVPacket* pkt)
{
    Scanned s;
    s.pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    s.hasDts = pkt->dts != AV_NOPTS_VALUE;
    s.dts = s.hasDts ? pkt->dts : s.pts;
    s.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    if (!matchable) {
        s.clean = s.copyable = s.key;
        return s;
    }
    if (codecId == AV_CODEC_ID_VP9 || codecId == AV_CODEC_ID_AV1) {
        // Key frames refer to nothing before them, nor does anything after them.
        s.clean = s.copyable = s.key;
        return s;
    }
    if (codecId == AV_CODEC_ID_MPEG4) {
        // MPEG-4 Part 2: any I-VOP; the GOV says whether the B-VOPs after it refer back.
        const Mpeg4Headers h = DescribeMpeg4(pkt->data, size_t(pkt->size));
        packed = packed || h.vops > 1;
        timeless = timeless || pkt->pts == AV_NOPTS_VALUE;
        s.clean = s.copyable = h.vopType == 0;
        s.open = s.clean && !(h.govHeader && h.closedGov && !h.brokenLink);
        s.reference = h.vopType != 2;
        return s;
    }
    if (!nal) {
        // MPEG-2: any I-picture; the GOP says whether the B-pictures after it refer back.
        const Mpeg2Headers h = DescribeMpeg2(pkt->data, size_t(pkt->size));
        if (h.gopHeader)
            gopAnchorPts = kNone; // temporal references count from each GOP's start
        if (pkt->pts != AV_NOPTS_VALUE && h.temporalReference >= 0) {
            gopAnchorPts = pkt->pts;
            gopAnchorReference = h.temporalReference;
        } else if (pkt->pts == AV_NOPTS_VALUE && h.temporalReference >= 0 && gopAnchorPts != kNone) {
            s.pts = gopAnchorPts + std::llround((h.temporalReference - gopAnchorReference) * FrameGap() / av_q2d(tb));
        }
        s.clean = s.copyable = h.pictureType == 1;
        s.open = s.clean && !(h.gopHeader && h.closedGop && !h.brokenLink);
        s.reference = h.pictureType != 3;
        return s;
    }
    // H.265 marks its random access points in the unit types, and files flag them; H.264
    // streams without later IDR pictures mark theirs with recovery points only, which not
    // every file flags.
    if (!s.key && codec == NalCodec::Hevc)
        return s;
    const std::vector<NalUnit> units = SplitNalUnits(pkt->data, size_t(pkt->size), config.lengthSize);
    const PictureAccess access = DescribePicture(codec, units);
    s.clean = access.kind != RandomAccess::None;
    s.open = access.kind == RandomAccess::Open;
    s.recoveryFrames = access.kind == RandomAccess::Recovery ? access.recoveryFrames : 0;
    s.reference = access.reference;
    s.copyable = codec == NalCodec::Hevc ? s.clean
                                         : access.kind == RandomAccess::Closed
                                               || (s.open && openResumes && !fieldPictures && H264ResumableOpenPicture(units));
    if (codec == NalCodec::H264 && !fieldPictures)
        fieldPictures = fieldWatch.FieldPicture(units);
    if (!s.key && !s.clean)
        return s;
    for (const NalUnit& u : units) {
        const int type = NalType(codec, u);
        if (!IsParameterSet(codec, type))
            continue;
        if (codec == NalCodec::H264)
            usedIds.insert(IsSequenceParameterSet(codec, type) ? H264SpsId(u) : H264PpsId(u));
        if (codec == NalCodec::H264 && IsSequenceParameterSet(codec, type) && ReadH264Sps(u.data, u.size).pocType == 1) {
            openResumes = false;
            s.copyable = access.kind == RandomAccess::Closed;
        }
        if (config.parameterSets.empty() && inbandSets.size() < kMostInbandSets)
            inbandSets.emplace_back(u.data, u.data + u.size);
    }
    return s;
}

bool SourceCut::Impl::Seek(int64_t ts)
{
    gopAnchorPts = kNone;
    anchorGroup.clear();
    readyPackets.clear();
    if (unpacker)
        unpacker->Flush();
    if (streamFirst != AV_NOPTS_VALUE && ts <= streamFirst) {
        // Formats without an index (MPEG transport and program streams) find a time only
        // roughly: their start is their first byte.
        if ((ic->iformat->flags & AVFMT_TS_DISCONT) && av_seek_frame(ic, -1, 0, AVSEEK_FLAG_BYTE) >= 0)
            return true;
        ts = streamFirst;
    }
    ts = av_rescale_q(ts, tb, streamTb);
    int r = av_seek_frame(ic, v, ts, AVSEEK_FLAG_BACKWARD);
    if (r < 0)
        r = avformat_seek_file(ic, v, std::numeric_limits<int64_t>::min(), ts, ts, 0);
    return r >= 0;
}

// The next packet of the video that has a time, reference pictures of AVI's MPEG-4 Part 2 with
// the presentation time AVI does not keep (see timeAnchors).
int SourceCut::Impl::ReadVideoPacket(AVPacket* pkt)
{
    for (;;) {
        if (!readyPackets.empty()) {
            av_packet_move_ref(pkt, readyPackets.front().get());
            readyPackets.pop_front();
            return 0;
        }
        PacketPtr read(av_packet_alloc());
        if (!read)
            return AVERROR(ENOMEM);
        const int r = av_read_frame(ic, read.get());
        if (r < 0) {
            if (r != AVERROR_EOF || anchorGroup.empty())
                return r;
            // The last reference picture shows after the B-frames that follow it.
            const AVPacket& last = *anchorGroup.back();
            anchorGroup.front()->pts = last.dts + std::max<int64_t>(1, last.duration);
            std::move(anchorGroup.begin(), anchorGroup.end(), std::back_inserter(readyPackets));
            anchorGroup.clear();
            continue;
        }
        if (read->stream_index != v || (read->pts == AV_NOPTS_VALUE && read->dts == AV_NOPTS_VALUE))
            continue;
        if (av_cmp_q(tb, streamTb) != 0)
            av_packet_rescale_ts(read.get(), streamTb, tb);
        if (unpacker) {
            const int u = unpacker->Filter(read.get());
            if (u == AVERROR(EAGAIN))
                continue;
            if (u < 0)
                return u;
        }
        if (!timeAnchors) {
            av_packet_move_ref(pkt, read.get());
            return 0;
        }
        if (read->pts == AV_NOPTS_VALUE) {
            if (!anchorGroup.empty()) {
                anchorGroup.front()->pts = read->dts;
                std::move(anchorGroup.begin(), anchorGroup.end(), std::back_inserter(readyPackets));
                anchorGroup.clear();
            }
            anchorGroup.push_back(std::move(read));
        } else if (anchorGroup.empty()) {
            readyPackets.push_back(std::move(read)); // B-frames before the first reference picture read
        } else {
            anchorGroup.push_back(std::move(read));
        }
    }
}

// Reads the video's packets from the key frame at or before ts until done(packets, known)
// says enough: `known` is the highest decode time read, so every frame shown at or before it
// has been met. ended: the file ended first.
template <typename Done>
bool SourceCut::Impl::Scan(int64_t ts, std::vector<Scanned>& out, bool& ended, Done done)
{
    out.clear();
    ended = false;
    if (!Seek(ts))
        return false;
    PacketPtr pkt(av_packet_alloc());
    int64_t known = kNone;
    while (out.size() < kMostScanned) {
        const int r = ReadVideoPacket(pkt.get());
        if (r < 0) {
            ended = r == AVERROR_EOF;
            if (!ended)
                readError = r;
            return ended;
        }
        const Scanned s = Describe(pkt.get());
        out.push_back(s);
        if (s.hasDts)
            known = std::max(known, s.dts);
        av_packet_unref(pkt.get());
        if (done(out, known))
            return true;
    }
    return false;
}

namespace {
// The smallest time stamp at or after `from` among the packets (kNone: none).
int64_t FirstFrom(const std::vector<Scanned>& pkts, int64_t from, bool copyableOnly = false)
{
    int64_t best = kNone;
    for (const Scanned& s : pkts)
        if (s.pts >= from && (!copyableOnly || s.copyable) && (best == kNone || s.pts < best))
            best = s.pts;
    return best;
}
} // namespace

namespace {
// Where the copy can stop: given the packets' presentation times in decode order from a clean
// start, the longest leading run that holds every frame shown before some point and none
// after it (so a decoder shows all of it without a picture that follows), and no frame at or
// after `next` (kNone: no limit). The run's length; the whole when it all fits.
size_t LongestClosedRun(const std::vector<int64_t>& run, int64_t next)
{
    const size_t n = run.size();
    std::vector<int64_t> suffixMin(n + 1, kEndless);
    for (size_t k = n; k-- > 0;)
        suffixMin[k] = std::min(suffixMin[k + 1], run[k]);
    size_t best = 0;
    int64_t prefixMax = kNone;
    for (size_t k = 0; k <= n; ++k) {
        if (k > 0)
            prefixMax = std::max(prefixMax, run[k - 1]);
        if (next != kNone && prefixMax != kNone && prefixMax >= next)
            break;
        if (prefixMax == kNone || prefixMax < suffixMin[k])
            best = k;
    }
    return best;
}
} // namespace

// Around the start: the first frame and the clean start before it, looking further back
// until a clean start lies before the cut.
bool SourceCut::Impl::FindStart(int64_t startTs, int64_t endTs, std::vector<Scanned>& pkts, std::string& problem,
                                std::string& keyFramesBecause)
{
    // Enough read: the first frame, and the first start of a copy after it (or the next section's
    // first frame when none comes before it).
    const auto enough = [&](const std::vector<Scanned>& p, int64_t known) {
        const int64_t first = FirstFrom(p, startTs);
        if (first == kNone || first > known)
            return false;
        const int64_t copy = FirstFrom(p, first, true);
        if (copy != kNone && copy < endTs)
            return copy <= known;
        const int64_t next = FirstFrom(p, endTs);
        return next != kNone && next <= known;
    };
    double back = 0;
    bool ended = false;
    for (int attempt = 0;; ++attempt) {
        const int64_t seekTo = TsAtOrAfter(req.start - back);
        const bool fromStart = streamFirst == AV_NOPTS_VALUE ? back > 1e6 : seekTo <= streamFirst;
        if (!Scan(seekTo, pkts, ended, enough)) {
            problem = "cannot read the video: " + AvError(readError);
            return false;
        }
        firstFrame = FirstFrom(pkts, startTs);
        if (firstFrame == kNone)
            return false; // nothing of the section lies in the source
        // Every frame shown after a clean start is decoded after it: with one read before the
        // first frame (or that frame itself), the first frame is the right one, and the last
        // clean start at or before it is where decoding starts.
        // A start whose pictures become whole only later must be whole by the first frame.
        headDecodeFrom = kNone;
        for (size_t k = 0; k < pkts.size(); ++k) {
            const Scanned& s = pkts[k];
            if (s.clean && s.pts <= firstFrame && (headDecodeFrom == kNone || s.pts > headDecodeFrom)
                && WholeFrom(pkts, k) <= firstFrame) {
                headDecodeFrom = s.pts;
                headDecodeFromDts = s.dts;
            }
        }
        const bool startsAtCut = headDecodeFrom == firstFrame && Seconds(firstFrame) <= req.start + kFrameAtPoint;
        if (headDecodeFrom != kNone && (headDecodeFrom < startTs || startsAtCut))
            return true;
        if (fromStart) {
            keyFramesBecause = "the video has no picture to start decoding at before the cut";
            return false;
        }
        if (attempt >= kMostLookBacks) {
            problem = "cannot find a key frame before the cut";
            return false;
        }
        back = back == 0 ? 1 : back * 2;
    }
}

// The copy begins at the first clean start at or after the first frame, inside the section.
void SourceCut::Impl::ChooseCopyStart(const std::vector<Scanned>& pkts, int64_t endTs)
{
    copyFrom = FirstFrom(pkts, firstFrame, true);
    if (copyFrom != kNone && copyFrom >= endTs)
        copyFrom = kNone;
    for (const Scanned& s : pkts)
        if (copyFrom != kNone && s.pts == copyFrom)
            copyFromDts = s.dts;
    if (copyFrom == firstFrame)
        headDecodeFrom = kNone; // nothing before the copy to encode again
}

// Around the end: the next section's first frame, the last clean start before it, and how
// far the copy can go.
bool SourceCut::Impl::FindEnd(int64_t endTs, std::string& problem)
{
    const auto enough = [&](const std::vector<Scanned>& p, int64_t known) {
        const int64_t next = FirstFrom(p, endTs);
        return next != kNone && next <= known;
    };
    std::vector<Scanned> pkts;
    bool ended = false;
    double back = 0;
    for (int attempt = 0;; ++attempt) {
        int64_t seekTo = TsAtOrAfter(req.start + req.length - back);
        if (seekTo <= copyFrom)
            seekTo = copyFromDts;
        if (!Scan(seekTo, pkts, ended, enough)) {
            problem = "cannot read the video: " + AvError(readError);
            return false;
        }
        nextFrame = FirstFrom(pkts, endTs);
        // The latest clean start whose decoded pictures are whole from the first one the
        // tail needs (leading pictures of an open start are not).
        for (size_t k = pkts.size(); k-- > 0;) {
            const Scanned& s = pkts[k];
            if (!s.clean || s.pts < copyFrom || (nextFrame != kNone && s.pts >= nextFrame))
                continue;
            tailDecodeFrom = s.pts;
            PlanCopyEnd(pkts, k);
            if (tailFrom == kNone || WholeFrom(pkts, k) <= tailFrom || s.pts == copyFrom)
                return true;
        }
        if (seekTo == copyFromDts || attempt >= kMostLookBacks) {
            problem = "cannot find the key frame the copy starts at again";
            return false;
        }
        back = back == 0 ? 1 : back * 2;
    }
}

// The copy stops before the first packet that would show a frame after one it leaves out;
// the frames from there to the next section are encoded again.
void SourceCut::Impl::PlanCopyEnd(const std::vector<Scanned>& pkts, size_t tailDecodeAt)
{
    // The run from the last clean start, without the pictures shown before the copy's first
    // clean start (they are the head's).
    std::vector<int64_t> run;
    for (size_t k = tailDecodeAt; k < pkts.size(); ++k)
        if (!(tailDecodeFrom == copyFrom && k > tailDecodeAt && pkts[k].pts < copyFrom))
            run.push_back(pkts[k].pts);
    const size_t kept = LongestClosedRun(run, nextFrame);
    copyStopAt = kept < run.size() ? run[kept] : kNone;
    tailFrom = kept < run.size() ? *std::min_element(run.begin() + long(kept), run.end()) : kNone;
    if (nextFrame == kNone || tailFrom == kNone || tailFrom >= nextFrame)
        tailFrom = kNone; // nothing at the end to encode again
}

// Why a section is encoded again as a whole, when that is not simply because it lies between
// two key frames; empty when it is.
std::string SourceCut::Impl::WhyEncodedWhole(const std::vector<Scanned>& pkts, int64_t endTs) const
{
    for (const Scanned& s : pkts)
        if (s.clean && !s.copyable && s.pts > firstFrame && s.pts < endTs)
            return s.open ? "the video's random access points inside it are open-GOP pictures a copy cannot resume at "
                            "(not I-pictures whose recovery point promises exact pictures, or counting their order in a "
                            "way, type 1, the copy cannot renumber), not IDR pictures"
                          : "the video's random access points inside it are recovery points (intra refresh), not IDR "
                            "or open-GOP pictures, and an H.264 copy can resume only at those";
    const double length = (nextFrame != kNone ? Seconds(nextFrame) : req.start + req.length) - Seconds(firstFrame);
    if (length > kLongWholeSection)
        return "no key frame lies between " + FormatClock(Seconds(firstFrame)) + " and its end";
    return std::string();
}

bool SourceCut::Impl::PlanExact(std::string& problem, std::string& keyFramesBecause)
{
    const int64_t startTs = TsAtOrAfter(req.start - kSameTime);
    const int64_t endTs = TsAtOrAfter(req.start + req.length);
    std::vector<Scanned> pkts;
    if (!FindStart(startTs, endTs, pkts, problem, keyFramesBecause))
        return false;
    ChooseCopyStart(pkts, endTs);
    if (copyFrom == kNone) {
        // All inside one interval between key frames: every picture is encoded again.
        nextFrame = FirstFrom(pkts, endTs);
        wholeBecause = WhyEncodedWhole(pkts, endTs);
        return true;
    }
    return FindEnd(endTs, problem);
}
ExactCutPlan SourceCut::Impl::PlanKeyFrames(const std::string& reason)
{
    ExactCutPlan plan;
    plan.reason = reason;
    plan.mode = ExactCutPlan::Mode::KeyFrames;
    const int64_t startTs = TsAtOrAfter(req.start - kSameTime);
    const int64_t endTs = TsAtOrAfter(req.start + req.length);

    // The last key frame shown at or before the first frame at or after pointTs (frameAt;
    // kNone when the source ends before it, and then the last key frame of all).
    auto lastKeyBefore = [&](double from, int64_t pointTs, int64_t& keyPts, int64_t& keyDtsOut,
                             int64_t& frameAt) -> bool {
        double back = 0;
        std::vector<Scanned> pkts;
        bool ended = false;
        for (int attempt = 0; attempt < kMostLookBacks; ++attempt) {
            const int64_t seekTo = TsAtOrAfter(from - back);
            const bool fromStart = streamFirst == AV_NOPTS_VALUE ? back > 1e6 : seekTo <= streamFirst;
            if (!Scan(seekTo, pkts, ended, [&](const std::vector<Scanned>& p, int64_t known) {
                    const int64_t f = FirstFrom(p, pointTs);
                    return f != kNone && f <= known;
                }))
                return false;
            if (pkts.empty())
                return false;
            frameAt = FirstFrom(pkts, pointTs);
            const int64_t limit = frameAt == kNone ? kEndless : frameAt;
            keyPts = kNone;
            for (const Scanned& s : pkts)
                if (s.key && s.pts <= limit && (keyPts == kNone || s.pts > keyPts)) {
                    keyPts = s.pts;
                    keyDtsOut = s.dts;
                }
            const bool atPoint = keyPts == frameAt && Seconds(frameAt) <= from + kFrameAtPoint;
            if ((keyPts != kNone && (keyPts < pointTs || atPoint)) || fromStart)
                return keyPts != kNone;
            back = back == 0 ? 1 : back * 2;
        }
        return false;
    };

    int64_t startKey = kNone, startKeyDts = 0, startFrame = kNone;
    if (!lastKeyBefore(req.start, startTs, startKey, startKeyDts, startFrame)
        || startKey == kNone) {
        plan.mode = ExactCutPlan::Mode::Plain;
        plan.problem = "cannot find the key frame before the cut";
        return plan;
    }
    plan.keyStart = Seconds(startKey);
    int64_t endKey = kNone, endKeyDts = 0, endFrame = kNone;
    if (!lastKeyBefore(req.start + req.length, endTs, endKey, endKeyDts, endFrame)) {
        plan.mode = ExactCutPlan::Mode::Plain;
        plan.problem = "cannot find the key frames near the end of the section";
        return plan;
    }
    if (req.nextSectionFollows && endFrame != kNone && endKey != kNone) {
        // The next section starts at the same key frame.
        plan.keyLength = std::max(0.0, Seconds(endKey) - plan.keyStart);
        if (plan.keyLength > 0)
            plan.videoEndDts = Seconds(endKeyDts) - plan.keyStart - FrameGap() / 2;
    } else {
        const double end = endFrame != kNone ? Seconds(endFrame) : req.start + req.length;
        plan.keyLength = std::max(0.0, end - plan.keyStart);
    }
    plan.first = plan.keyStart;
    return plan;
}

// ---------------------------------------------------------------------------------------

SourceCut::SourceCut() : d(std::make_unique<Impl>())
{
    // The libraries' notes and the encoder's statistics stay out of the error output.
    av_log_set_level(AV_LOG_FATAL);
}
SourceCut::~SourceCut() = default;

ExactCutPlan SourceCut::Plan(const ExactCutRequest& request, const std::string& keyFramesBecause)
{
    ExactCutPlan plan;
    d->req = request;
    if (!d->Open(request.source, plan.problem))
        return plan;
    std::string reason = keyFramesBecause;
    if (reason.empty())
        reason = d->WhyNotMatchable();
    if (!reason.empty())
        return d->PlanKeyFrames(reason);
    std::string because;
    if (!d->PlanExact(plan.problem, because)) {
        if (!because.empty())
            return d->PlanKeyFrames(because);
        return plan;
    }
    if (d->packed || d->timeless || d->fieldPictures)
        return d->PlanKeyFrames(d->packed ? kPackedBecause : d->timeless ? kTimelessBecause : kFieldsBecause);
    plan.mode = ExactCutPlan::Mode::Exact;
    plan.first = d->Seconds(d->firstFrame);
    if (d->nextFrame != kNone)
        plan.next = d->Seconds(d->nextFrame);
    d->decodeLead = request.outputKeepsDecodeTimes && d->copyFrom != kNone ? std::max<int64_t>(0, d->copyFrom - d->copyFromDts) : 0;
    plan.decodeLead = double(static_cast<long double>(d->decodeLead) * d->tb.num / d->tb.den);
    if (!d->wholeBecause.empty())
        plan.note = "every picture was encoded again: " + d->wholeBecause;
    return plan;
}

bool SourceCut::CoarseOtherStreams() const
{
    if (!d->ic)
        return false;
    for (unsigned k = 0; k < d->ic->nb_streams; ++k) {
        const AVStream* st = d->ic->streams[k];
        if (int(k) != d->v && st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO && av_q2d(st->time_base) > 0.002)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Writing the section's video

namespace {

struct OutPacket {
    Bytes data; // with start codes
    int64_t pts = 0;
    int64_t dts = 0; // the decode time wanted; moved on when it would not follow the last one
    int64_t duration = 0;
    bool key = false;
};

int WriteToFd(void* opaque, uint8_t* buf, int size)
{
    const int fd = *static_cast<int*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, buf + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return AVERROR(errno);
        }
        done += int(n);
    }
    return size;
}

} // namespace

namespace {

// The three parts of a section's video in the order they are written: pictures encoded again
// before the copy, the copy, pictures encoded again after it.
enum Part { Head = 0, Copy = 1, Tail = 2, PartCount = 3 };

// Pictures decoded from the source and encoded again: the head or the tail.
struct Chunk {
    Part part = Head;
    int64_t from = 0, to = kEndless; // frames shown in [from, to)
    int64_t shift = 0;               // wanted decode time: shown time - shift
    int64_t feedBelow = kEndless;    // packets decoded before this are fed
    CodecPtr dec, enc;
    std::map<int64_t, int64_t> durations;
    // An encoder that counts frames (MPEG-2) gets them numbered: the source's time of each.
    std::map<int64_t, int64_t> numbered;
    int64_t sent = 0;
    bool active = false, done = false;
};

// Ticks that count both the source's ticks and its nominal frame duration whole, so that
// the pipe can say the rate exactly; the source's own when there is no such (small) one.
AVRational PipeTimeBase(AVRational tb, AVRational rate)
{
    if (rate.num <= 0 || rate.den <= 0 || tb.num <= 0 || tb.den <= 0)
        return tb;
    const AVRational frame = av_inv_q(rate);
    // 1/n with n a multiple of both denominators (reduced): both are whole numbers of 1/n.
    AVRational a, b;
    av_reduce(&a.num, &a.den, tb.num, tb.den, INT_MAX);
    av_reduce(&b.num, &b.den, frame.num, frame.den, INT_MAX);
    const int64_t n = int64_t(a.den) / std::gcd(a.den, b.den) * b.den;
    return n > 0 && n <= kFinestPipeTicks ? AVRational{1, int(n)} : tb;
}

} // namespace

// Writes one section's video: a single pass over the source from the first packet needed,
// feeding the decoders of the head and the tail and queueing the copied packets; a part's
// packets wait until the parts before it are complete.
class SectionWriter {
public:
    SectionWriter(SourceCut::Impl& source, int fd, const std::function<void(double)>& progress,
                  const volatile std::sig_atomic_t* stop)
        : s(source), m_fd(fd), m_progress(progress), m_stop(stop), m_hevc(source.codec == NalCodec::Hevc),
          m_sourceSets(source.config.parameterSets.empty() ? source.inbandSets : source.config.parameterSets)
    {
    }
    ~SectionWriter()
    {
        if (!m_oc)
            return;
        if (m_oc->pb) {
            av_freep(&m_oc->pb->buffer);
            avio_context_free(&m_oc->pb);
        }
        avformat_free_context(m_oc);
    }

    bool Write(std::string& error)
    {
        const bool ok = OpenOutput() && PrepareChunks() && ReadSource() && Finish();
        if (!ok)
            error = m_error;
        return ok;
    }

private:
    SourceCut::Impl& s;
    int m_fd;
    const std::function<void(double)>& m_progress;
    const volatile std::sig_atomic_t* m_stop;
    const bool m_hevc;
    const std::vector<Bytes>& m_sourceSets;

    AVFormatContext* m_oc = nullptr;
    AVStream* m_os = nullptr;
    std::deque<OutPacket> m_queued[PartCount];
    bool m_complete[PartCount] = {};
    int m_writing = 0; // the part being written
    int64_t m_lastDts = kNone;
    PacketPtr m_held; // written when the next one's decode time is known (times in the pipe's time base)
    int64_t m_nominal = 0;    // a frame at the source's nominal rate in the pipe's time base; 0: not a whole number
    int64_t m_sourceTick = 1; // a tick of the source in the pipe's time base
    std::deque<int64_t> m_copyDts; // the source's decode times met in the copy, not yet given out
    // H.264 copies that begin at an open GOP's I-picture: the copied pictures renumbered.
    std::unique_ptr<H264Resume> m_resume;
    Chunk m_head, m_tail;
    FramePtr m_frame{av_frame_alloc()};
    PacketPtr m_encoded{av_packet_alloc()};
    bool m_failed = false;
    std::string m_error;

    bool Fail(const std::string& what)
    {
        if (!m_failed)
            m_error = what;
        m_failed = true;
        return false;
    }

    bool OpenOutput();
    bool SetDecoderConfig();
    bool PrepareChunks();
    void WriteOne(OutPacket& p);
    bool WriteHeld();
    void Drain();
    void FinishPart(Part part);
    bool ReceivePackets(Chunk& c);
    bool OpenChunkEncoder(Chunk& c);
    bool EncodeFrame(Chunk& c, AVFrame* f);
    bool ReceiveFrames(Chunk& c);
    bool OpenChunkDecoder(Chunk& c);
    bool Feed(Chunk& c, const AVPacket* pkt);
    bool FinishChunk(Chunk& c);
    bool FeedChunk(Chunk& c, const AVPacket* pkt, const Scanned& p);
    bool CopyPacket(const AVPacket* pkt, const Scanned& p, bool& copying, bool& afterKey);
    bool ReadSource();
    bool Finish();
};

// ---- the output: fragmented MP4 on the pipe, so nothing needs to seek
bool SectionWriter::OpenOutput()
{
    int r = avformat_alloc_output_context2(&m_oc, nullptr, "mp4", nullptr);
    if (r < 0)
        return Fail("cannot prepare the video: " + AvError(r));
    constexpr int kBuffer = 1 << 16;
    uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kBuffer));
    m_oc->pb = buffer ? avio_alloc_context(buffer, kBuffer, 1, &m_fd, nullptr, WriteToFd, nullptr) : nullptr;
    if (!m_oc->pb) {
        av_free(buffer);
        return Fail("out of memory");
    }
    m_os = avformat_new_stream(m_oc, nullptr);
    if (!m_os || avcodec_parameters_copy(m_os->codecpar, s.vs->codecpar) < 0)
        return Fail("cannot prepare the video stream");
    m_os->codecpar->codec_tag = 0;
    if (!SetDecoderConfig())
        return false;
    m_os->time_base = PipeTimeBase(s.tb, s.vs->avg_frame_rate.num > 0 ? s.vs->avg_frame_rate : s.vs->r_frame_rate);
    m_os->avg_frame_rate = s.vs->avg_frame_rate;
    m_os->r_frame_rate = s.vs->r_frame_rate;
    m_os->sample_aspect_ratio = s.vs->sample_aspect_ratio;
    m_os->disposition = s.vs->disposition;
    av_dict_copy(&m_os->metadata, s.vs->metadata, 0);
    for (int k = 0; k < s.vs->nb_side_data; ++k) {
        const AVPacketSideData& sd = s.vs->side_data[k];
        uint8_t* copy = av_stream_new_side_data(m_os, sd.type, sd.size);
        if (copy)
            std::memcpy(copy, sd.data, sd.size);
    }
    AVDictionary* options = nullptr;
    // Fragments of a second: ffmpeg takes the frame rate from the first one's pictures.
    av_dict_set(&options, "movflags", "empty_moov+default_base_moof+skip_trailer", 0);
    av_dict_set(&options, "frag_duration", "1000000", 0);
    r = avformat_write_header(m_oc, &options);
    av_dict_free(&options);
    if (r < 0)
        return Fail("cannot start the video: " + AvError(r));
    // The muxer may have chosen a finer time base.
    const AVRational rate = s.vs->avg_frame_rate.num > 0 ? s.vs->avg_frame_rate : s.vs->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        const AVRational frame = av_div_q(av_inv_q(rate), m_os->time_base);
        m_nominal = frame.den == 1 ? frame.num : 0;
    }
    m_sourceTick = std::max<int64_t>(1, av_rescale_q(1, s.streamTb, m_os->time_base));
    return true;
}

// The decoder configuration: the source's parameter sets, and (H.264) the encoder's, which
// carry ids of their own. H.265 pictures encoded again carry theirs in the stream.
bool SectionWriter::SetDecoderConfig()
{
    const bool encodes = s.headDecodeFrom != kNone || s.copyFrom == kNone || s.tailFrom != kNone;
    Bytes extradata = s.sourceHeaders; // not NAL units: the source's own
    for (const Bytes& ps : m_sourceSets)
        AppendAnnexB(extradata, ps);
    if (s.nal && !m_hevc && encodes)
        for (const Bytes& ps : s.encoderSets)
            AppendAnnexB(extradata, ps);
    if (extradata.empty() && encodes)
        for (const Bytes& ps : s.encoderSets)
            AppendAnnexB(extradata, ps);
    av_freep(&m_os->codecpar->extradata);
    m_os->codecpar->extradata_size = 0;
    if (extradata.empty())
        return true;
    m_os->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!m_os->codecpar->extradata)
        return Fail("out of memory");
    std::memcpy(m_os->codecpar->extradata, extradata.data(), extradata.size());
    m_os->codecpar->extradata_size = int(extradata.size());
    return true;
}

bool SectionWriter::PrepareChunks()
{
    m_complete[Head] = s.headDecodeFrom == kNone && s.copyFrom != kNone;
    m_complete[Copy] = s.copyFrom == kNone;
    m_complete[Tail] = s.tailFrom == kNone;
    m_head.part = Head;
    m_head.from = s.firstFrame;
    m_head.to = s.copyFrom != kNone ? s.copyFrom : (s.nextFrame != kNone ? s.nextFrame : kEndless);
    m_head.feedBelow = m_head.to;
    m_head.shift = s.copyFrom != kNone ? std::max<int64_t>(0, s.copyFrom - s.copyFromDts) : 0;
    m_head.done = m_complete[Head];
    m_tail.part = Tail;
    m_tail.shift = s.decodeLead; // continues the copy's decode times
    m_tail.from = s.tailFrom;
    m_tail.to = s.nextFrame;
    m_tail.feedBelow = s.nextFrame;
    m_tail.done = m_complete[Tail];
    if (!m_frame || !m_encoded)
        return Fail("out of memory");
    return true;
}

void SectionWriter::WriteOne(OutPacket& p)
{
    // A packet without a decode time of its own decodes right after the one before.
    int64_t dts = p.dts;
    if (m_lastDts != kNone)
        dts = std::max(dts, m_lastDts + 1);
    else if (s.decodeLead > 0)
        dts = std::max(dts == kNone ? p.pts : dts, p.pts - s.decodeLead);
    else
        dts = s.fineTicks || dts == kNone ? p.pts : dts; // the first picture decodes at 0 and shows at 0
    if (dts > p.pts) {
        Fail("cannot keep the pictures in decode order at " + FormatClock(s.Seconds(p.pts)));
        return;
    }
    m_lastDts = dts;
    PacketPtr pkt(av_packet_alloc());
    if (!pkt || av_new_packet(pkt.get(), int(p.data.size())) < 0) {
        Fail("out of memory");
        return;
    }
    std::memcpy(pkt->data, p.data.data(), p.data.size());
    // Times on the pipe never below 0: the reader takes decodeLead off again.
    pkt->pts = p.pts - s.firstFrame + s.decodeLead;
    pkt->dts = dts - s.firstFrame + s.decodeLead;
    pkt->duration = p.duration;
    pkt->flags = p.key ? AV_PKT_FLAG_KEY : 0;
    pkt->stream_index = 0;
    av_packet_rescale_ts(pkt.get(), s.tb, m_os->time_base);
    // Inside a fragment a reader takes a picture's decode time as the one before plus its
    // duration, and ffmpeg the stream's frame rate from the first fragment's durations: the
    // duration is the step to the next decode time, or the nominal frame duration where that
    // step is it rounded to the source's ticks (24000/1001 in milliseconds steps 41 or 42 ms,
    // which read as 500/21 gave a Matroska output the wrong default duration and a decoder
    // two pictures at one time).
    if (m_held) {
        const int64_t step = pkt->dts - m_held->dts;
        if (step > 0)
            m_held->duration = m_nominal > 0 && std::llabs(step - m_nominal) <= m_sourceTick ? m_nominal : step;
        if (!WriteHeld())
            return;
    }
    m_held = std::move(pkt);
    if (m_progress)
        m_progress(s.Seconds(p.pts) - s.Seconds(s.firstFrame));
}

bool SectionWriter::WriteHeld()
{
    if (!m_held)
        return true;
    const int w = av_write_frame(m_oc, m_held.get());
    m_held.reset();
    if (w < 0)
        return Fail("cannot write the video: " + AvError(w));
    return true;
}

void SectionWriter::Drain()
{
    while (m_writing < PartCount && !m_failed) {
        std::deque<OutPacket>& q = m_queued[m_writing];
        // The last packet encoded before the copy waits: the end of its sequence may be added.
        const size_t keep = m_writing == Head && !m_complete[Head] ? 1 : 0;
        while (q.size() > keep && !m_failed) {
            WriteOne(q.front());
            q.pop_front();
        }
        if (!m_complete[m_writing])
            return;
        ++m_writing;
    }
}

void SectionWriter::FinishPart(Part part)
{
    if (m_complete[part])
        return;
    if (part == Head && m_hevc && !m_queued[Head].empty()) {
        // Ends the encoded sequence: the copied key frame after it starts a new one, so
        // decoders expect no pictures that refer to what lay before it (and have shown every
        // encoded picture, which none of them waits behind another).
        const Bytes end = EndOfSequenceUnit(s.codec);
        Bytes& b = m_queued[Head].back().data;
        b.insert(b.end(), end.begin(), end.end());
    }
    m_complete[part] = true;
    Drain();
}

// ---- decoding and encoding again

bool SectionWriter::ReceivePackets(Chunk& c)
{
    for (;;) {
        const int e = avcodec_receive_packet(c.enc.get(), m_encoded.get());
        if (e == AVERROR(EAGAIN) || e == AVERROR_EOF)
            return true;
        if (e < 0)
            return Fail("cannot encode the video again: " + AvError(e));
        const AVPacket& encoded = *m_encoded;
        OutPacket p;
        p.key = (encoded.flags & AV_PKT_FLAG_KEY) != 0;
        if (!s.nal)
            p.data.assign(encoded.data, encoded.data + encoded.size); // headers in the picture's packet
        // MPEG-4 Part 2: decoders hold pictures back by the layer's low_delay; the encoded
        // ones say the source's, so the copied pictures after them are not shown late.
        if (s.codecId == AV_CODEC_ID_MPEG4 && s.sourceLayer.lowDelay >= 0)
            SetMpeg4LowDelay(p.data.data(), p.data.size(), s.sourceLayer.lowDelay == 1);
        const bool annexB = encoded.size > 3 && encoded.data[0] == 0 && encoded.data[1] == 0
                            && (encoded.data[2] == 1 || (encoded.data[2] == 0 && encoded.data[3] == 1));
        if (s.nal) {
            const std::vector<NalUnit> units = SplitNalUnits(encoded.data, size_t(encoded.size), annexB ? 0 : 4);
            p.data = ToAnnexB(s.codec, units, m_hevc && p.key ? &s.encoderSets : nullptr, false);
        }
        p.pts = encoded.pts;
        const auto number = c.numbered.find(encoded.pts);
        if (number != c.numbered.end()) {
            p.pts = number->second;
            c.numbered.erase(number);
        }
        p.dts = p.pts - c.shift;
        const auto known = c.durations.find(p.pts);
        p.duration = known != c.durations.end() ? known->second : 0;
        av_packet_unref(m_encoded.get());
        m_queued[c.part].push_back(std::move(p));
        Drain();
        if (m_failed)
            return false;
    }
}

bool SectionWriter::OpenChunkEncoder(Chunk& c)
{
    std::string why;
    c.enc = s.OpenEncoder(why);
    if (!c.enc)
        return Fail("cannot start the encoder: " + why);
    const Bytes made(c.enc->extradata, c.enc->extradata + c.enc->extradata_size);
    if (made != s.encoderExtradata)
        return Fail("the encoder's parameter sets changed between two runs");
    return true;
}

// f null: drains the encoder.
bool SectionWriter::EncodeFrame(Chunk& c, AVFrame* f)
{
    if (!c.enc && !OpenChunkEncoder(c))
        return false;
    if (f && (f->width != c.enc->width || f->height != c.enc->height || f->format != c.enc->pix_fmt))
        // A stream that changes its pictures midway (joined recordings) matches no single encoder.
        return Fail("the video changes its picture size or format near " + FormatClock(s.Seconds(f->pts))
                    + "; it cannot be cut on exact frames there (choose Key frames as Cut points)");
    if (f) {
        f->pict_type = AV_PICTURE_TYPE_NONE; // the encoder decides, not the source's types
        c.durations[f->pts] = f->pkt_duration;
        if (av_cmp_q(c.enc->time_base, s.tb) != 0) {
            c.numbered[c.sent] = f->pts;
            f->pts = c.sent++;
        }
    }
    const int e = avcodec_send_frame(c.enc.get(), f);
    if (e < 0 && e != AVERROR_EOF)
        return Fail("cannot encode the video again: " + AvError(e));
    return ReceivePackets(c);
}

// The decoded frames the chunk stands for go to its encoder.
bool SectionWriter::ReceiveFrames(Chunk& c)
{
    for (;;) {
        AVFrame* frame = m_frame.get();
        const int e = avcodec_receive_frame(c.dec.get(), frame);
        if (e == AVERROR(EAGAIN) || e == AVERROR_EOF)
            return true;
        if (e < 0)
            return Fail("cannot decode the video: " + AvError(e));
        const int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
        bool ok = true;
        if (pts != AV_NOPTS_VALUE && pts >= c.from && pts < c.to) {
            frame->pts = pts;
            ok = EncodeFrame(c, frame);
        }
        av_frame_unref(frame);
        if (!ok)
            return false;
    }
}

bool SectionWriter::OpenChunkDecoder(Chunk& c)
{
    const AVCodec* decoder = avcodec_find_decoder(s.vs->codecpar->codec_id);
    c.dec.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!c.dec || avcodec_parameters_to_context(c.dec.get(), s.vs->codecpar) < 0)
        return Fail("cannot prepare the decoder");
    c.dec->pkt_timebase = s.tb;
    c.dec->thread_count = 0;
    const int e = avcodec_open2(c.dec.get(), decoder, nullptr);
    if (e < 0)
        return Fail("cannot start the decoder: " + AvError(e));
    return true;
}

// pkt null: drains the decoder.
bool SectionWriter::Feed(Chunk& c, const AVPacket* pkt)
{
    if (!c.dec && !OpenChunkDecoder(c))
        return false;
    for (;;) {
        const int e = avcodec_send_packet(c.dec.get(), pkt);
        if (e == AVERROR(EAGAIN)) {
            if (!ReceiveFrames(c))
                return false;
            continue;
        }
        if (e < 0 && e != AVERROR_EOF && e != AVERROR_INVALIDDATA)
            return Fail("cannot decode the video: " + AvError(e));
        return ReceiveFrames(c);
    }
}

bool SectionWriter::FinishChunk(Chunk& c)
{
    if (c.done)
        return true;
    c.done = true;
    c.active = false;
    if (c.dec && !Feed(c, nullptr))
        return false;
    if (c.enc && !EncodeFrame(c, nullptr))
        return false;
    FinishPart(c.part);
    return !m_failed;
}

// A packet for a chunk that is decoding: fed while it may hold one of its pictures; the first
// packet after them ends the chunk. A packet without a decode time is fed: at worst it
// decodes a picture not needed.
bool SectionWriter::FeedChunk(Chunk& c, const AVPacket* pkt, const Scanned& p)
{
    if (p.hasDts && p.dts >= c.feedBelow)
        return FinishChunk(c);
    // MPEG-2 and MPEG-4 Part 2: no picture refers to a B-picture, so one shown before the
    // chunk's first need not be decoded.
    if (!s.nal && !p.reference && p.pts < c.from)
        return true;
    return Feed(c, pkt);
}

// A packet for the copy: from the copy's first clean start up to the packet it stops before.
bool SectionWriter::CopyPacket(const AVPacket* pkt, const Scanned& p, bool& copying, bool& afterKey)
{
    if (!copying && p.pts == s.copyFrom)
        copying = true;
    if (!copying)
        return true;
    if (s.copyStopAt != kNone && p.pts == s.copyStopAt) {
        copying = false;
        FinishPart(Copy);
        return !m_failed;
    }
    const bool shownBeforeCopy = afterKey && p.pts < s.copyFrom; // encoded again, or in the section before
    // The copied packets take the decode times of the source's packets in turn: the leading
    // pictures left out (encoded again in the head) leave no hole in them.
    m_copyDts.push_back(p.hasDts ? p.dts : kNone);
    const bool first = !afterKey;
    afterKey = true;
    if (first && s.nal && !m_hevc && p.open) {
        // An open GOP's I-picture: it becomes an IDR picture, and the pictures after it are
        // renumbered to follow it.
        m_resume = std::make_unique<H264Resume>();
        for (const Bytes& ps : m_sourceSets)
            m_resume->Learn(NalUnit{ps.data(), ps.size()});
    }
    if (shownBeforeCopy) {
        // Left out, but it counted in the source's numbering and reference pictures.
        std::vector<Bytes> none;
        std::string why;
        if (m_resume && m_resume->Rewriting()
            && !m_resume->Picture(SplitNalUnits(pkt->data, size_t(pkt->size), s.config.lengthSize), false, none, why))
            return Fail("cannot copy the pictures from " + FormatClock(s.Seconds(s.copyFrom)) + ": " + why);
        return true;
    }
    OutPacket o;
    const bool afterHead = s.headDecodeFrom != kNone;
    if (!s.nal) {
        o.data.assign(pkt->data, pkt->data + pkt->size);
        if (!first) {
            // the middle of the copy: as it stands
        } else if (s.codecId == AV_CODEC_ID_AV1) {
            if (afterHead && !Av1HasSequenceHeader(o.data.data(), o.data.size())) {
                // AV1: the copy's key frame brings the source's sequence header back (the
                // encoded frames carried the encoder's).
                const Bytes header = Av1SequenceHeaderOf(s.sourceHeaders.data(), s.sourceHeaders.size());
                o.data.insert(o.data.begin() + long(Av1HeaderPlace(o.data.data(), o.data.size())), header.begin(),
                              header.end());
            }
        } else if (s.codecId == AV_CODEC_ID_MPEG4) {
            // MPEG-4 Part 2: the source's video object layer again (the encoded pictures
            // carried the encoder's), and a closed GOV as for MPEG-2.
            if (!DescribeMpeg4(o.data.data(), o.data.size()).volHeader)
                o.data.insert(o.data.begin(), s.sourceHeaders.begin(), s.sourceHeaders.end());
            CloseMpeg4Gov(o.data.data(), o.data.size());
        } else if (s.codecId == AV_CODEC_ID_MPEG2VIDEO) {
            // MPEG-2: the copy's first picture starts a sequence (the source's header, where its
            // packet has none) and a closed GOP: the B-pictures after it that referred to
            // pictures before it are encoded again in the head, or the previous section's.
            if (!DescribeMpeg2(o.data.data(), o.data.size()).sequenceHeader)
                o.data.insert(o.data.begin(), s.sourceHeaders.begin(), s.sourceHeaders.end());
            CloseMpeg2Gop(o.data.data(), o.data.size());
        }
    }
    std::vector<NalUnit> units =
        s.nal ? SplitNalUnits(pkt->data, size_t(pkt->size), s.config.lengthSize) : std::vector<NalUnit>();
    std::vector<Bytes> rewritten;
    if (m_resume && m_resume->Rewriting()) {
        std::string why;
        if (!m_resume->Picture(units, true, rewritten, why))
            return Fail("cannot copy the pictures from " + FormatClock(s.Seconds(s.copyFrom)) + ": " + why);
        units.clear();
        for (const Bytes& u : rewritten)
            units.push_back(NalUnit{u.data(), u.size()});
    }
    // H.265 pictures encoded again carry their parameter sets in the stream, with the source's
    // ids: the copy brings the source's back, once (a decoder that meets them again before a
    // later CRA picture may take it for the start of a new sequence, and its RASL pictures
    // for ones it cannot decode).
    if (s.nal)
        o.data = ToAnnexB(s.codec, units, m_hevc && first && afterHead ? &m_sourceSets : nullptr, false);
    o.pts = p.pts;
    o.dts = m_copyDts.front();
    m_copyDts.pop_front();
    o.duration = pkt->duration;
    o.key = p.key;
    m_queued[Copy].push_back(std::move(o));
    Drain();
    return !m_failed;
}

// ---- one pass over the source, from the first packet needed
bool SectionWriter::ReadSource()
{
    if (s.copyFrom == kNone && s.headDecodeFrom == kNone)
        return Fail("no picture to start decoding at");
    const int64_t firstPts = s.headDecodeFrom != kNone ? s.headDecodeFrom : s.copyFrom;
    const int64_t firstDts = s.headDecodeFrom != kNone ? s.headDecodeFromDts : s.copyFromDts;
    // Seeking lands at or before the first packet; in a file without an index maybe after
    // it, and then once more, earlier.
    const double gap = s.FrameGap() / av_q2d(s.tb);
    int64_t seekTo = firstDts;
    int seeks = 0;
    if (!s.Seek(seekTo))
        return Fail("cannot seek in the source");
    m_head.active = !m_head.done;
    bool begun = false, copying = false, afterKey = false;
    PacketPtr pkt(av_packet_alloc());
    for (;;) {
        if (m_stop && *m_stop)
            return Fail("stopped");
        const int e = s.ReadVideoPacket(pkt.get());
        if (e < 0) {
            if (e != AVERROR_EOF)
                return Fail("cannot read the source: " + AvError(e));
            break;
        }
        const Scanned p = s.Describe(pkt.get());
        if (!s.nal && pkt->pts == AV_NOPTS_VALUE)
            pkt->pts = p.pts; // the decoder shows the picture at the time the plan gave it
        if (!begun && p.pts != firstPts) {
            av_packet_unref(pkt.get());
            if (p.hasDts && p.dts > firstDts + int64_t(kLateFrames * gap) && seeks < kMostSeeksBack) {
                seekTo -= int64_t((1 << seeks++) / av_q2d(s.tb));
                if (!s.Seek(seekTo))
                    return Fail("cannot seek in the source");
            }
            continue;
        }
        begun = true;
        bool ok = true;
        if (m_head.active && !m_head.done)
            ok = FeedChunk(m_head, pkt.get(), p);
        if (ok && !m_complete[Copy])
            ok = CopyPacket(pkt.get(), p, copying, afterKey);
        if (ok && !m_tail.done) {
            if (!m_tail.active && p.pts == s.tailDecodeFrom)
                m_tail.active = true;
            if (m_tail.active)
                ok = FeedChunk(m_tail, pkt.get(), p);
        }
        av_packet_unref(pkt.get());
        if (!ok)
            return false;
        if (m_head.done && m_complete[Copy] && m_tail.done)
            break;
    }
    if (!begun)
        return Fail("cannot find the section's first picture in the source");
    return true;
}

bool SectionWriter::Finish()
{
    if ((m_head.active && !FinishChunk(m_head)) || m_failed)
        return false;
    FinishPart(Copy);
    if (!m_tail.done && (!m_tail.active || !FinishChunk(m_tail)))
        return Fail(m_failed ? m_error : "cannot find the pictures at the end of the section");
    Drain();
    if (m_failed)
        return false;
    if (m_writing < PartCount)
        return Fail("the video was not written completely");
    if (!WriteHeld())
        return false;
    const int r = av_write_trailer(m_oc);
    if (r >= 0)
        avio_flush(m_oc->pb);
    if (r < 0 || m_oc->pb->error < 0)
        return Fail("cannot finish the video: " + AvError(r < 0 ? r : m_oc->pb->error));
    return true;
}

bool SourceCut::WriteVideo(int fd, const std::function<void(double)>& progress, const volatile std::sig_atomic_t* stop,
                          std::string& error)
{
    return SectionWriter(*d, fd, progress, stop).Write(error);
}

extern "C" __attribute__((visibility("default"))) ExactCut* VtNewExactCut()
{
    return new SourceCut;
}
