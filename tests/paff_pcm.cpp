// Makes a test source of interlaced H.264 coded as fields, each a picture of its own (PAFF),
// which libx264 does not write: every macroblock is I_PCM (its samples as they are), so the
// stream is lossless and needs no transform, no scan order and no deblocking. An IDR frame
// every `gop` frames, the other fields P pictures (of intra macroblocks), the top field first.
//
//   paff_pcm <in.yuv> <width> <height> <gop> <out.h264>
//
// The input is raw 8-bit 4:2:0 frames whose fields are interleaved; width a multiple of 16,
// height of 4. The output is an Annex B stream at 50 fields a second.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct BitWriter {
    std::vector<int> bits;
    void U(int n, unsigned v)
    {
        for (int k = n - 1; k >= 0; --k)
            bits.push_back(int((v >> k) & 1));
    }
    void Ue(unsigned v)
    {
        ++v;
        int n = 0;
        while ((v >> n) > 1)
            ++n;
        U(n, 0);
        U(n + 1, v);
    }
    void Align()
    {
        while (bits.size() % 8)
            bits.push_back(0);
    }
    // The RBSP: a stop bit, zeros to the byte.
    Bytes Done()
    {
        bits.push_back(1);
        Align();
        Bytes b;
        for (size_t k = 0; k < bits.size(); k += 8) {
            uint8_t v = 0;
            for (size_t j = 0; j < 8; ++j)
                v = uint8_t((v << 1) | bits[k + j]);
            b.push_back(v);
        }
        return b;
    }
};

void PutNal(Bytes& out, int refIdc, int type, const Bytes& rbsp)
{
    for (const uint8_t c : {0, 0, 0, 1})
        out.push_back(c);
    out.push_back(uint8_t((refIdc << 5) | type));
    int zeros = 0;
    for (const uint8_t x : rbsp) {
        if (zeros >= 2 && x <= 3) {
            out.push_back(3); // emulation prevention
            zeros = 0;
        }
        out.push_back(x);
        zeros = x == 0 ? zeros + 1 : 0;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: paff_pcm <in.yuv> <width> <height> <gop> <out.h264>\n");
        return 2;
    }
    const int width = std::atoi(argv[2]), height = std::atoi(argv[3]), gop = std::atoi(argv[4]);
    if (width <= 0 || width % 16 || height <= 0 || height % 4 || gop <= 0)
        return 2;
    const int mbWidth = width / 16, fieldHeight = height / 2, mbHeight = (fieldHeight + 15) / 16;
    const int crop = (mbHeight * 32 - height) / 4; // frame crop units: 4 lines

    // Main profile, CAVLC, fields (frame_mbs_only_flag 0, no MBAFF), order by decoding (POC type 2).
    BitWriter s;
    s.U(8, 77);
    s.U(8, 0);
    s.U(8, 30);
    s.Ue(0);           // seq_parameter_set_id
    s.Ue(0);           // log2_max_frame_num_minus4
    s.Ue(2);           // pic_order_cnt_type
    s.Ue(2);           // max_num_ref_frames
    s.U(1, 0);         // gaps_in_frame_num_value_allowed_flag
    s.Ue(unsigned(mbWidth - 1));
    s.Ue(unsigned(mbHeight - 1)); // map units: macroblock pairs, one field's height
    s.U(1, 0);         // frame_mbs_only_flag
    s.U(1, 0);         // mb_adaptive_frame_field_flag
    s.U(1, 1);         // direct_8x8_inference_flag
    s.U(1, crop ? 1 : 0);
    if (crop) {
        s.Ue(0);
        s.Ue(0);
        s.Ue(0);
        s.Ue(unsigned(crop));
    }
    s.U(1, 1); // VUI: timing only, a tick a field
    for (int k = 0; k < 4; ++k)
        s.U(1, 0);
    s.U(1, 1);
    s.U(32, 1);
    s.U(32, 50);
    s.U(1, 1);
    for (int k = 0; k < 4; ++k)
        s.U(1, 0);
    const Bytes sps = s.Done();
    BitWriter p;
    p.Ue(0);
    p.Ue(0);
    p.U(1, 0); // CAVLC
    p.U(1, 0);
    p.Ue(0);
    p.Ue(0);
    p.Ue(0);
    p.U(1, 0);
    p.U(2, 0);
    p.Ue(0); // pic_init_qp_minus26, pic_init_qs_minus26, chroma_qp_index_offset: se(0)
    p.Ue(0);
    p.Ue(0);
    p.U(1, 1); // deblocking_filter_control_present_flag
    p.U(1, 0);
    p.U(1, 0);
    const Bytes pps = p.Done();

    FILE* in = std::fopen(argv[1], "rb");
    FILE* out = std::fopen(argv[5], "wb");
    if (!in || !out)
        return 1;
    const size_t frameSize = size_t(width) * height * 3 / 2;
    Bytes frame(frameSize);
    unsigned idrId = 0;
    for (int k = 0; std::fread(frame.data(), 1, frameSize, in) == frameSize; ++k) {
        const bool idr = k % gop == 0;
        Bytes stream;
        for (int parity = 0; parity < 2; ++parity) {
            const bool first = idr && parity == 0;
            // A sample of plane (offset, plane width, plane height) in this field, the last line repeated below it.
            const auto sample = [&](size_t offset, int pw, int ph, int x, int y) {
                const int line = std::min(y, ph / 2 - 1) * 2 + parity;
                return frame[offset + size_t(line) * size_t(pw) + size_t(x)];
            };
            BitWriter b;
            b.Ue(0);               // first_mb_in_slice
            b.Ue(idr ? 7 : 5);     // I or P, every slice of the picture
            b.Ue(0);               // pic_parameter_set_id
            b.U(4, unsigned(k % gop % 16)); // frame_num, both fields alike
            b.U(1, 1);             // field_pic_flag
            b.U(1, unsigned(parity)); // bottom_field_flag
            if (first)
                b.Ue(idrId);
            if (!idr) {
                b.U(1, 0); // num_ref_idx_active_override_flag
                b.U(1, 0); // ref_pic_list_modification_flag_l0
            }
            if (first) {
                b.U(1, 0); // no_output_of_prior_pics_flag
                b.U(1, 0); // long_term_reference_flag
            } else {
                b.U(1, 0); // adaptive_ref_pic_marking_mode_flag
            }
            b.Ue(0); // slice_qp_delta: se(0)
            b.Ue(1); // disable_deblocking_filter_idc
            for (int my = 0; my < mbHeight; ++my)
                for (int mx = 0; mx < mbWidth; ++mx) {
                    if (!idr) {
                        b.Ue(0);  // mb_skip_run
                        b.Ue(30); // I_PCM in a P slice
                    } else {
                        b.Ue(25); // I_PCM
                    }
                    b.Align();
                    for (int y = 0; y < 16; ++y)
                        for (int x = 0; x < 16; ++x)
                            b.U(8, sample(0, width, height, mx * 16 + x, my * 16 + y));
                    for (const size_t plane : {size_t(width) * height, size_t(width) * height * 5 / 4})
                        for (int y = 0; y < 8; ++y)
                            for (int x = 0; x < 8; ++x)
                                b.U(8, sample(plane, width / 2, height / 2, mx * 8 + x, my * 8 + y));
                }
            if (first) {
                PutNal(stream, 3, 7, sps);
                PutNal(stream, 3, 8, pps);
            }
            PutNal(stream, first ? 3 : 2, first ? 5 : 1, b.Done());
        }
        if (idr)
            idrId = (idrId + 1) % 2;
        if (std::fwrite(stream.data(), 1, stream.size(), out) != stream.size())
            return 1;
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}
