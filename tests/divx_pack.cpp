// Makes a test source as DivX wrote MPEG-4 Part 2 into AVI ("packed bitstream"): each
// reference picture's packet also carries the first B-frame that follows it in decode order,
// the other B-frames move one packet earlier, and the packet left over holds a VOP that is
// not coded (an N-VOP); user data "DivX503b1393p" before the pictures says so.
//
//   divx_pack <in.avi> <out.avi>
//
// The input is MPEG-4 Part 2 with B-frames, unpacked, as ffmpeg writes it; the other streams
// are copied as they are. Packets keep their places and times: only their contents move.
extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kUserData[] = {0, 0, 1, 0xB2, 'D', 'i', 'v', 'X', '5', '0', '3', 'b', '1', '3', '9', '3', 'p'};

// Where the start code with this last byte (or range of them) begins; size when none.
size_t FindStart(const Bytes& b, uint8_t low, uint8_t high, size_t from = 0)
{
    for (size_t k = from; k + 3 < b.size(); ++k)
        if (b[k] == 0 && b[k + 1] == 0 && b[k + 2] == 1 && b[k + 3] >= low && b[k + 3] <= high)
            return k;
    return b.size();
}

struct Bits {
    const Bytes& b;
    size_t at; // in bits
    unsigned Read(int n)
    {
        unsigned v = 0;
        for (int k = 0; k < n; ++k, ++at)
            v = (v << 1) | (at / 8 < b.size() ? (b[at / 8] >> (7 - at % 8)) & 1 : 0);
        return v;
    }
};

// The bits of vop_time_increment, from the video object layer in b (0: none found).
int TimeIncrementBits(const Bytes& b)
{
    const size_t vol = FindStart(b, 0x20, 0x2F);
    if (vol == b.size())
        return 0;
    Bits r{b, (vol + 4) * 8};
    r.Read(1 + 8); // random_accessible_vol, video_object_type_indication
    if (r.Read(1))
        r.Read(4 + 3);
    if (r.Read(4) == 15)
        r.Read(16);
    if (r.Read(1)) { // vol_control_parameters
        r.Read(2 + 1);
        if (r.Read(1))
            r.Read(79);
    }
    if (r.Read(2) != 0) // rectangular only
        return 0;
    r.Read(1);
    const unsigned resolution = r.Read(16);
    int bits = 1;
    while ((1u << bits) < resolution)
        ++bits;
    return bits;
}

// A not-coded VOP with the header of the first VOP in picture: its type and time, then
// vop_coded 0 and the stuffing to the byte.
Bytes NotCoded(const Bytes& picture, int timeBits)
{
    const size_t vop = FindStart(picture, 0xB6, 0xB6);
    Bits r{picture, (vop + 4) * 8};
    std::vector<int> out;
    const auto put = [&out](unsigned v, int n) {
        for (int k = n - 1; k >= 0; --k)
            out.push_back((v >> k) & 1);
    };
    put(r.Read(2), 2); // vop_coding_type
    while (r.Read(1))  // modulo_time_base
        put(1, 1);
    put(0, 1);
    put(r.Read(1), 1);               // marker
    put(r.Read(timeBits), timeBits); // vop_time_increment
    put(r.Read(1), 1);               // marker
    put(0, 1);                       // vop_coded
    put(0, 1);                       // stuffing: a 0, then 1s to the byte
    while (out.size() % 8)
        put(1, 1);
    Bytes b{0, 0, 1, 0xB6};
    for (size_t k = 0; k < out.size(); k += 8) {
        uint8_t v = 0;
        for (int j = 0; j < 8; ++j)
            v = uint8_t((v << 1) | out[k + j]);
        b.push_back(v);
    }
    return b;
}

int VopType(const Bytes& b)
{
    const size_t vop = FindStart(b, 0xB6, 0xB6);
    return vop + 4 < b.size() ? b[vop + 4] >> 6 : -1;
}

// The user data goes in front of the first VOP of a packet that holds a video object layer.
Bytes Marked(Bytes b)
{
    if (FindStart(b, 0x20, 0x2F) == b.size())
        return b;
    const size_t vop = FindStart(b, 0xB6, 0xB6);
    b.insert(b.begin() + long(vop), std::begin(kUserData), std::end(kUserData));
    return b;
}

struct Held {
    AVPacket* pkt; // times and flags
    Bytes data;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: divx_pack <in.avi> <out.avi>\n");
        return 2;
    }
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, argv[1], nullptr, nullptr) < 0 || avformat_find_stream_info(in, nullptr) < 0) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "avi", argv[2]) < 0)
        return 1;
    int video = -1;
    for (unsigned k = 0; k < in->nb_streams; ++k) {
        AVStream* s = avformat_new_stream(out, nullptr);
        avcodec_parameters_copy(s->codecpar, in->streams[k]->codecpar);
        s->codecpar->codec_tag = 0;
        s->time_base = in->streams[k]->time_base;
        if (in->streams[k]->codecpar->codec_id == AV_CODEC_ID_MPEG4 && video < 0) {
            video = int(k);
            s->codecpar->codec_tag = MKTAG('D', 'X', '5', '0');
            s->avg_frame_rate = in->streams[k]->avg_frame_rate;
            if (s->codecpar->extradata_size > 0) {
                Bytes extra = Marked(Bytes(s->codecpar->extradata, s->codecpar->extradata + s->codecpar->extradata_size));
                av_free(s->codecpar->extradata);
                s->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
                std::memcpy(s->codecpar->extradata, extra.data(), extra.size());
                s->codecpar->extradata_size = int(extra.size());
            }
        }
    }
    if (video < 0 || avio_open(&out->pb, argv[2], AVIO_FLAG_WRITE) < 0 || avformat_write_header(out, nullptr) < 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    int timeBits = 0;
    // A reference picture and the B-frames after it, in decode order, until the next one.
    std::deque<Held> group;
    const auto write = [&](AVPacket* pkt, const Bytes& data) {
        AVPacket* p = av_packet_alloc();
        if (!p || av_new_packet(p, int(data.size())) < 0)
            return false;
        std::memcpy(p->data, data.data(), data.size());
        p->pts = pkt->pts;
        p->dts = pkt->dts;
        p->duration = pkt->duration;
        p->flags = pkt->flags;
        p->stream_index = pkt->stream_index;
        av_packet_rescale_ts(p, in->streams[p->stream_index]->time_base, out->streams[p->stream_index]->time_base);
        const int r = av_interleaved_write_frame(out, p);
        av_packet_free(&p);
        return r >= 0;
    };
    bool ok = true;
    const auto flush = [&]() {
        if (group.empty())
            return;
        if (group.size() == 1) {
            ok = ok && write(group[0].pkt, group[0].data);
        } else {
            // Slot 0: the reference picture and the first B-frame; each later slot the next
            // B-frame; the last slot the N-VOP.
            std::vector<Bytes> slots;
            Bytes first = group[0].data;
            first.insert(first.end(), group[1].data.begin(), group[1].data.end());
            slots.push_back(first);
            for (size_t k = 2; k < group.size(); ++k)
                slots.push_back(group[k].data);
            slots.push_back(NotCoded(group[0].data, timeBits));
            for (size_t k = 0; k < group.size(); ++k)
                ok = ok && write(group[k].pkt, slots[k]);
        }
        for (Held& h : group)
            av_packet_free(&h.pkt);
        group.clear();
    };
    AVPacket* pkt = av_packet_alloc();
    while (ok && av_read_frame(in, pkt) >= 0) {
        if (pkt->stream_index != video) {
            Bytes data(pkt->data, pkt->data + pkt->size);
            ok = write(pkt, data);
            av_packet_unref(pkt);
            continue;
        }
        Bytes data = Marked(Bytes(pkt->data, pkt->data + pkt->size));
        if (!timeBits)
            timeBits = TimeIncrementBits(data);
        const int type = VopType(data);
        if (type != 2)
            flush();
        if (type == 2 && group.empty()) {
            ok = write(pkt, data); // B-frames before any reference picture: none in ffmpeg's output
        } else {
            Held h{av_packet_clone(pkt), data};
            group.push_back(std::move(h));
        }
        av_packet_unref(pkt);
    }
    flush();
    av_packet_free(&pkt);
    ok = ok && timeBits > 0 && av_write_trailer(out) >= 0;
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
    if (!ok)
        std::fprintf(stderr, "packing failed\n");
    return ok ? 0 : 1;
}
