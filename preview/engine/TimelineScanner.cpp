// The timeline's reading of a source: one pass over its packets. Every video packet's key
// flag is noted; the key frames kept as small pictures are decoded (the decoder skips all
// others), and all of the sound is decoded for its peaks.
#include "preview/TimelineScan.h"
#include "preview/engine/SourceOnly.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <limits>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {

struct Scan {
    const TimelineCancellable* sink = nullptr;
    QByteArray url;
    AVFormatContext* ic = nullptr;
    AVCodecContext* vctx = nullptr;
    AVCodecContext* actx = nullptr;
    SwsContext* sws = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* ahead = nullptr;
    std::vector<std::vector<float>> planes;
    ~Scan()
    {
        sws_freeContext(sws);
        av_frame_free(&frame);
        av_frame_free(&ahead);
        av_packet_free(&pkt);
        avcodec_free_context(&vctx);
        avcodec_free_context(&actx);
        avformat_close_input(&ic);
    }
};

int Interrupted(void* opaque)
{
    return static_cast<Scan*>(opaque)->sink->Cancelled() ? 1 : 0;
}

int OpenOnlyTheSource(AVFormatContext* s, AVIOContext** pb, const char* url, int flags, AVDictionary** options)
{
    const auto* scan = static_cast<const Scan*>(s->opaque);
    return scan ? OpenOnlySource(scan->url, s, pb, url, flags, options) : AVERROR(EPERM);
}

AVCodecContext* OpenDecoder(AVStream* st, bool video, bool keysOnly = true)
{
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return nullptr;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx || avcodec_parameters_to_context(ctx, st->codecpar) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    ctx->pkt_timebase = st->time_base;
    // One thread each: frame threads would each hold their own full-size pictures, and the
    // reading runs behind the player anyway. The small pictures need no loop filter.
    ctx->thread_count = 1;
    if (video) {
        ctx->skip_loop_filter = AVDISCARD_ALL;
        ctx->flags2 |= AV_CODEC_FLAG2_FAST;
        if (keysOnly)
            ctx->skip_frame = AVDISCARD_NONKEY;
    }
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    return ctx;
}

QString AvText(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return QString::fromLocal8Bit(buf);
}

template <typename T>
float Sample(T v);
template <> float Sample(float v) { return v; }
template <> float Sample(double v) { return float(v); }
template <> float Sample(int16_t v) { return v / 32768.0f; }
template <> float Sample(int32_t v) { return float(v / 2147483648.0); }
template <> float Sample(uint8_t v) { return (int(v) - 128) / 128.0f; }

template <typename T>
void ToFloat(const AVFrame* f, int channels, bool planar, std::vector<std::vector<float>>& out)
{
    const int n = f->nb_samples;
    for (int c = 0; c < channels; ++c) {
        out[size_t(c)].resize(size_t(n));
        float* dst = out[size_t(c)].data();
        if (planar) {
            const T* src = reinterpret_cast<const T*>(f->extended_data[c]);
            for (int i = 0; i < n; ++i)
                dst[i] = Sample<T>(src[i]);
        } else {
            const T* src = reinterpret_cast<const T*>(f->extended_data[0]) + c;
            for (int i = 0; i < n; ++i)
                dst[i] = Sample<T>(src[size_t(i) * channels]);
        }
    }
}

// The sound of one frame as float planes; false for a sample format not read here.
bool SoundPlanes(const AVFrame* f, int channels, std::vector<std::vector<float>>& out)
{
    out.resize(size_t(channels));
    const auto fmt = AVSampleFormat(f->format);
    const bool planar = av_sample_fmt_is_planar(fmt);
    switch (av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_FLT: ToFloat<float>(f, channels, planar, out); return true;
    case AV_SAMPLE_FMT_DBL: ToFloat<double>(f, channels, planar, out); return true;
    case AV_SAMPLE_FMT_S16: ToFloat<int16_t>(f, channels, planar, out); return true;
    case AV_SAMPLE_FMT_S32: ToFloat<int32_t>(f, channels, planar, out); return true;
    case AV_SAMPLE_FMT_U8: ToFloat<uint8_t>(f, channels, planar, out); return true;
    default: return false;
    }
}

qint64 Us(const AVStream* st, int64_t ts, int64_t startUs)
{
    return av_rescale_q(ts, st->time_base, AVRational {1, 1000000}) - startUs;
}

// Opens the source for reading (a regular file only, no other protocol): empty, else the error.
QString OpenSource(Scan& s, const QString& path)
{
    const QByteArray local = QFile::encodeName(path);
    struct stat st {};
    // A pipe or a device would block where no cancelling reaches.
    if (::stat(local.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return QStringLiteral("not a regular file");
    s.ic = avformat_alloc_context();
    if (!s.ic)
        return QStringLiteral("out of memory");
    s.ic->interrupt_callback.callback = Interrupted;
    s.ic->interrupt_callback.opaque = &s;
    s.ic->opaque = &s;
    s.ic->io_open = OpenOnlyTheSource;
    s.url = "file:" + local;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    int ret = avformat_open_input(&s.ic, s.url.constData(), nullptr, &opts);
    av_dict_free(&opts);
    if (ret < 0) {
        s.ic = nullptr;
        return AvText(ret);
    }
    if ((ret = avformat_find_stream_info(s.ic, nullptr)) < 0)
        return AvText(ret);
    if (s.sink->Cancelled())
        return QStringLiteral("cancelled");
    s.pkt = av_packet_alloc();
    s.frame = av_frame_alloc();
    s.ahead = av_frame_alloc();
    if (!s.pkt || !s.frame || !s.ahead)
        return QStringLiteral("out of memory");
    return {};
}

// The main picture (not a cover image); -1 when there is none.
int MainVideo(AVFormatContext* ic)
{
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* str = ic->streams[i];
        if (str->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(str->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            const int best = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
            return best >= 0 && !(ic->streams[best]->disposition & AV_DISPOSITION_ATTACHED_PIC) ? best : int(i);
        }
    }
    return -1;
}

// A decoded picture made small at once (the full-size one is let go by the caller); empty
// when it cannot be scaled.
QByteArray Small(Scan& s, const AVFrame* f, int w, int h)
{
    s.sws = sws_getCachedContext(s.sws, f->width, f->height, AVPixelFormat(f->format), w, h, AV_PIX_FMT_RGB24,
                                 SWS_AREA, nullptr, nullptr, nullptr);
    if (!s.sws)
        return {};
    QByteArray rgb(qint64(w) * h * 3, Qt::Uninitialized);
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(rgb.data()), nullptr, nullptr, nullptr};
    int stride[4] = {w * 3, 0, 0, 0};
    if (sws_scale(s.sws, f->data, f->linesize, 0, f->height, dst, stride) != h)
        return {};
    return rgb;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int VtScanTimeline(const QString& path,
                                                                    const TimelineScanOptions& options,
                                                                    TimelineScanSink* sink, QString* error)
{
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return -1;
    };
    Scan s;
    s.sink = sink;
    if (const QString opened = OpenSource(s, path); !opened.isEmpty())
        return fail(opened);
    int ret = 0;

    // The main picture and the sound the player would choose.
    const int vi = MainVideo(s.ic);
    const int ai = options.sound ? av_find_best_stream(s.ic, AVMEDIA_TYPE_AUDIO, -1, vi, nullptr, 0) : -1;
    for (unsigned i = 0; i < s.ic->nb_streams; ++i)
        s.ic->streams[i]->discard = (int(i) == vi || int(i) == ai) ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream* vst = vi >= 0 ? s.ic->streams[vi] : nullptr;
    AVStream* ast = ai >= 0 ? s.ic->streams[ai] : nullptr;
    const int64_t startUs = s.ic->start_time != AV_NOPTS_VALUE ? s.ic->start_time : 0;
    const qint64 durationUs = s.ic->duration != AV_NOPTS_VALUE && s.ic->duration > 0 ? s.ic->duration : 0;

    qint64 frameUs = 0;
    std::vector<qint64> indexKeys;
    int thumbW = 0, thumbH = 0;
    if (vst) {
        const AVRational fr = av_guess_frame_rate(s.ic, vst, nullptr);
        if (fr.num > 0 && fr.den > 0 && av_q2d(fr) < 500)
            frameUs = qint64(std::llround(1e6 / av_q2d(fr)));
        const int n = avformat_index_get_entries_count(vst);
        for (int i = 0; i < n; ++i) {
            const AVIndexEntry* e = avformat_index_get_entry(vst, i);
            if (e && (e->flags & AVINDEX_KEYFRAME) && !(e->flags & AVINDEX_DISCARD_FRAME)
                && e->timestamp != AV_NOPTS_VALUE)
                indexKeys.push_back(Us(vst, e->timestamp, startUs));
        }
        const AVCodecParameters* par = vst->codecpar;
        if (options.thumbs && par->width > 0 && par->height > 0) {
            double sar = par->sample_aspect_ratio.num > 0 && par->sample_aspect_ratio.den > 0
                ? av_q2d(par->sample_aspect_ratio)
                : 1.0;
            if (sar < 0.1 || sar > 10)
                sar = 1.0;
            thumbH = std::clamp(options.thumbHeight, 8, kMaxThumbSide);
            thumbW = std::clamp(int(std::lround(thumbH * par->width * sar / par->height)), 8,
                                std::clamp(options.thumbMaxWidth, 8, kMaxThumbSide));
            s.vctx = OpenDecoder(vst, true);
            if (!s.vctx)
                thumbW = thumbH = 0;
        }
    }
    sink->Opened(durationUs, frameUs, std::move(indexKeys), thumbW, thumbH);
    if (ast)
        s.actx = OpenDecoder(ast, false);

    // Pictures spread evenly within the budget: a key frame closer than this to the last
    // one kept is not decoded at all.
    const qint64 thumbBytes = qint64(thumbW) * thumbH * 3;
    const qint64 maxThumbs = thumbBytes > 0 ? std::clamp<qint64>(options.thumbBudgetBytes / thumbBytes, 1, kMaxThumbs) : 0;
    const qint64 spacingUs = maxThumbs > 0 && durationUs > 0 ? durationUs / maxThumbs : 0;
    qint64 nextThumbUs = std::numeric_limits<qint64>::min();
    qint64 thumbsMade = 0;

    auto takePictures = [&]() {
        while (avcodec_receive_frame(s.vctx, s.frame) >= 0) {
            const int64_t ts = s.frame->best_effort_timestamp;
            const qint64 t = ts != AV_NOPTS_VALUE ? Us(vst, ts, startUs) : 0;
            if (thumbsMade < maxThumbs) {
                QByteArray rgb = Small(s, s.frame, thumbW, thumbH);
                if (!rgb.isEmpty()) {
                    sink->Thumb(t, std::move(rgb));
                    ++thumbsMade;
                }
            }
            av_frame_unref(s.frame);
        }
    };
    auto takeSound = [&]() {
        while (avcodec_receive_frame(s.actx, s.frame) >= 0) {
            const int channels = s.frame->ch_layout.nb_channels;
            const int64_t ts = s.frame->best_effort_timestamp;
            if (ts != AV_NOPTS_VALUE && channels > 0 && s.frame->sample_rate > 0
                && SoundPlanes(s.frame, channels, s.planes)) {
                std::vector<const float*> p;
                for (const auto& pl : s.planes)
                    p.push_back(pl.data());
                sink->Sound(Us(ast, ts, startUs), s.frame->sample_rate, p.data(), channels, s.frame->nb_samples);
            }
            av_frame_unref(s.frame);
        }
    };

    // A decoder that holds frames back takes the packet once they are out.
    auto send = [](AVCodecContext* ctx, const AVPacket* p, auto& take) {
        for (int tries = 0; tries < 2; ++tries) {
            const int r = avcodec_send_packet(ctx, p);
            take();
            if (r != AVERROR(EAGAIN))
                break;
        }
    };

    while (!sink->Cancelled()) {
        ret = av_read_frame(s.ic, s.pkt);
        if (ret < 0)
            break;
        if (vst && s.pkt->stream_index == vi) {
            if ((s.pkt->flags & AV_PKT_FLAG_KEY) && !(s.pkt->flags & AV_PKT_FLAG_DISCARD)) {
                const int64_t ts = s.pkt->pts != AV_NOPTS_VALUE ? s.pkt->pts : s.pkt->dts;
                if (ts != AV_NOPTS_VALUE) {
                    const qint64 t = Us(vst, ts, startUs);
                    sink->KeyFrame(t);
                    if (s.vctx && t >= nextThumbUs && thumbsMade < maxThumbs) {
                        nextThumbUs = t + spacingUs;
                        // Each picture is taken out at once and the decoder emptied, so it
                        // never holds more than the one picture it is making.
                        send(s.vctx, s.pkt, takePictures);
                        send(s.vctx, nullptr, takePictures);
                        avcodec_flush_buffers(s.vctx);
                    }
                }
            }
        } else if (ast && s.actx && s.pkt->stream_index == ai) {
            send(s.actx, s.pkt, takeSound);
        }
        av_packet_unref(s.pkt);
    }
    if (sink->Cancelled())
        return fail(QStringLiteral("cancelled"));
    if (ret != AVERROR_EOF)
        return fail(AvText(ret));
    if (s.vctx)
        send(s.vctx, nullptr, takePictures);
    if (s.actx)
        send(s.actx, nullptr, takeSound);
    return 0;
}

// Pictures at their own times: from the key frame before each time, every picture is decoded
// up to the last one at or before it. Times close together are served by one run of decoding;
// the decoder seeks only when a time lies in a later stretch between key frames.
extern "C" __attribute__((visibility("default"))) int VtTimelinePictures(
    const QString& path, int thumbWidth, int thumbHeight, const std::vector<TimelinePictureRequest>& requests,
    TimelinePictureSink* sink, QString* error)
{
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return -1;
    };
    if (thumbWidth < 8 || thumbHeight < 8 || thumbWidth > kMaxThumbSide || thumbHeight > kMaxThumbSide)
        return fail(QStringLiteral("no picture size"));
    Scan s;
    s.sink = sink;
    if (const QString opened = OpenSource(s, path); !opened.isEmpty())
        return fail(opened);
    const int vi = MainVideo(s.ic);
    if (vi < 0)
        return fail(QStringLiteral("no picture"));
    for (unsigned i = 0; i < s.ic->nb_streams; ++i)
        s.ic->streams[i]->discard = int(i) == vi ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream* vst = s.ic->streams[vi];
    s.vctx = OpenDecoder(vst, true, false);
    if (!s.vctx)
        return fail(QStringLiteral("no decoder"));
    const int64_t startUs = s.ic->start_time != AV_NOPTS_VALUE ? s.ic->start_time : 0;

    AVFrame* last = s.frame;   // the last picture at or before the time asked
    AVFrame* ahead = s.ahead;  // the first one after it
    bool haveLast = false, haveAhead = false, ended = false;
    auto time = [&](const AVFrame* f) { return Us(vst, f->best_effort_timestamp, startUs); };
    // The next picture in presentation order into `ahead`; false at the end.
    auto pull = [&]() -> bool {
        while (!sink->Cancelled()) {
            const int r = avcodec_receive_frame(s.vctx, ahead);
            if (r >= 0) {
                if (ahead->best_effort_timestamp != AV_NOPTS_VALUE)
                    return true;
                av_frame_unref(ahead);
                continue;
            }
            if (r != AVERROR(EAGAIN) || ended)
                return false;
            if (av_read_frame(s.ic, s.pkt) < 0) {
                ended = true;
                avcodec_send_packet(s.vctx, nullptr);
                continue;
            }
            if (s.pkt->stream_index == vi)
                avcodec_send_packet(s.vctx, s.pkt); // a damaged packet is passed over
            av_packet_unref(s.pkt);
        }
        return false;
    };

    qint64 before = std::numeric_limits<qint64>::min();
    for (const TimelinePictureRequest& q : requests) {
        if (sink->Cancelled())
            return fail(QStringLiteral("cancelled"));
        if (q.timeUs < before)
            continue; // out of order: not served
        before = q.timeUs;
        // The picture sent last already covers this time.
        if (haveLast && time(last) <= q.timeUs && (!haveAhead || time(ahead) > q.timeUs))
            continue;
        // Decoding on is quicker than seeking while it has reached this time's key frame.
        if (!(haveAhead && time(ahead) >= q.keyUs && time(ahead) <= q.timeUs)) {
            const int64_t ts = av_rescale_q(q.keyUs + startUs, AVRational {1, 1000000}, vst->time_base);
            if (av_seek_frame(s.ic, vi, ts, AVSEEK_FLAG_BACKWARD) < 0)
                continue;
            avcodec_flush_buffers(s.vctx);
            av_frame_unref(last);
            av_frame_unref(ahead);
            haveLast = false;
            ended = false;
            haveAhead = pull();
        }
        haveLast = false;
        while (haveAhead && time(ahead) <= q.timeUs) {
            av_frame_unref(last);
            av_frame_move_ref(last, ahead);
            haveLast = true;
            haveAhead = pull();
        }
        if (!haveLast)
            continue; // the picture after the time came first: nothing shown there
        QByteArray rgb = Small(s, last, thumbWidth, thumbHeight);
        if (!rgb.isEmpty())
            sink->Picture(time(last), haveAhead ? time(ahead) : -1, std::move(rgb));
    }
    return sink->Cancelled() ? fail(QStringLiteral("cancelled")) : 0;
}
