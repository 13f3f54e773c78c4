#include "mpeg4_unpack.h"
#include "picture_headers.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
}

Mpeg4Unpacker::~Mpeg4Unpacker() { av_bsf_free(&m_bsf); }

bool Mpeg4Unpacker::Open(const AVCodecParameters* par)
{
    const AVBitStreamFilter* filter = av_bsf_get_by_name("mpeg4_unpack_bframes");
    if (!filter || av_bsf_alloc(filter, &m_bsf) < 0)
        return false;
    bool ok = avcodec_parameters_copy(m_bsf->par_in, par) >= 0;
    // The filter finds the mark only where a zero byte follows it, and DivX ended its headers
    // on it: one more zero, taken off again in Headers().
    AVCodecParameters* in = m_bsf->par_in;
    if (ok && in->extradata_size > 0) {
        uint8_t* longer = static_cast<uint8_t*>(av_mallocz(size_t(in->extradata_size) + 1 + AV_INPUT_BUFFER_PADDING_SIZE));
        ok = longer != nullptr;
        if (ok) {
            std::memcpy(longer, in->extradata, size_t(in->extradata_size));
            av_free(in->extradata);
            in->extradata = longer;
            ++in->extradata_size;
        }
    }
    if (!ok || av_bsf_init(m_bsf) < 0) {
        av_bsf_free(&m_bsf);
        return false;
    }
    return true;
}

std::vector<uint8_t> Mpeg4Unpacker::Headers() const
{
    if (!m_bsf || !m_bsf->par_out->extradata || m_bsf->par_out->extradata_size <= 1)
        return {};
    return std::vector<uint8_t>(m_bsf->par_out->extradata, m_bsf->par_out->extradata + m_bsf->par_out->extradata_size - 1);
}

int Mpeg4Unpacker::Filter(AVPacket* pkt)
{
    int r = av_bsf_send_packet(m_bsf, pkt);
    if (r < 0) {
        av_packet_unref(pkt);
        return r;
    }
    r = av_bsf_receive_packet(m_bsf, pkt);
    if (r < 0)
        return r;
    // The filter leaves the mark in a packet that held two pictures (a key frame with the
    // B-frame after it): the copy must not claim to be packed.
    if (PackedMpeg4(pkt->data, size_t(pkt->size))) {
        r = av_packet_make_writable(pkt);
        if (r < 0)
            return r;
        UnmarkPackedMpeg4(pkt->data, size_t(pkt->size));
    }
    // The picture now in the packet may be another than the one its times were read for (a
    // B-frame in an N-VOP's place): times by the picture's kind, as the demuxer gives them.
    if (DescribeMpeg4(pkt->data, size_t(pkt->size)).vopType == 2)
        pkt->pts = pkt->dts;
    else
        pkt->pts = AV_NOPTS_VALUE;
    return 0;
}

void Mpeg4Unpacker::Flush()
{
    if (m_bsf)
        av_bsf_flush(m_bsf);
}
