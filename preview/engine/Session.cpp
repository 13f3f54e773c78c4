#include "preview/engine/Session.h"
#include "preview/engine/SourceOnly.h"
#include "preview/MediaEngine.h"

#include <QFile>
#include <QFileInfo>
#include <QTransform>
#include <algorithm>
#include <cstring>
#include <chrono>
#include <cmath>
#include <sys/stat.h>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace vtmedia {

namespace {

QString AvText(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

int ErrorClass(int err)
{
    if (err == AVERROR(ENOENT) || err == AVERROR(ENOTDIR) || err == AVERROR(EISDIR) || err == AVERROR(EIO))
        return meResource;
    if (err == AVERROR(EACCES) || err == AVERROR(EPERM))
        return meAccessDenied;
    return meFormat;
}

int Interrupted(void* opaque)
{
    return static_cast<Session*>(opaque)->Aborted() ? 1 : 0;
}

int OpenOnlyTheSource(AVFormatContext* s, AVIOContext** pb, const char* url, int flags, AVDictionary** options)
{
    const auto* session = static_cast<const Session*>(s->opaque);
    return session ? OpenOnlySource(session->Url(), s, pb, url, flags, options) : AVERROR(EPERM);
}

AVCodecContext* OpenDecoder(AVStream* st, bool video)
{
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return nullptr;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        return nullptr;
    if (avcodec_parameters_to_context(ctx, st->codecpar) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    ctx->pkt_timebase = st->time_base;
    if (video) {
        ctx->thread_count = 0; // one per processor
        ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    } else {
        ctx->thread_count = 1;
    }
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    return ctx;
}

QString CodecName(AVStream* st)
{
    const AVCodecDescriptor* d = avcodec_descriptor_get(st->codecpar->codec_id);
    return d ? QString::fromLatin1(d->name) : QStringLiteral("unknown");
}

// The matrix a picture's colours were coded with. Where the file does not say, pictures of
// HD size and above are taken as BT.709, smaller ones as BT.601, as players commonly do.
int SwsMatrix(const AVFrame* frame)
{
    switch (frame->colorspace) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return frame->width >= 1280 || frame->height > 576 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

bool FullRange(const AVFrame* frame)
{
    if (frame->color_range == AVCOL_RANGE_JPEG)
        return true;
    switch (frame->format) { // the old full-range formats say it by their name
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return true;
    default:
        return false;
    }
}

// Quarter turns clockwise that make the picture upright, from the stream's display matrix.
int QuarterTurns(const AVStream* st)
{
    const auto* matrix = reinterpret_cast<const int32_t*>(av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matrix)
        return 0;
    const double angle = -av_display_rotation_get(matrix); // clockwise degrees
    if (std::isnan(angle))
        return 0;
    return int(((std::lround(angle / 90.0) % 4) + 4) % 4);
}

void FreeQueue(std::deque<QueuedPacket>& q)
{
    for (QueuedPacket& p : q)
        av_packet_free(&p.pkt);
    q.clear();
}

} // namespace

QString FileName(const QString& path)
{
    const QString n = QFileInfo(path).fileName();
    return n.isEmpty() ? path : n;
}

// ---- session

Session::Session(const QString& path, std::function<void()> notify, std::function<int64_t()> nowNs)
    : clock(std::move(nowNs)), m_path(path), m_notify(std::move(notify))
{
}

Session::~Session()
{
    {
        std::lock_guard<std::mutex> l(mx);
        abort = true;
    }
    cvReader.notify_all();
    cvVideo.notify_all();
    if (m_reader.joinable())
        m_reader.join();
    if (m_video.joinable())
        m_video.join();
    FreeQueue(vq);
    FreeQueue(aq);
    av_frame_free(&m_held);
    sws_freeContext(m_sws);
    avcodec_free_context(&vctx);
    avcodec_free_context(&actx);
    if (ic)
        avformat_close_input(&ic);
}

void Session::Start()
{
    m_reader = std::thread(&Session::ReaderMain, this);
}

double Session::Seconds(AVStream* st, int64_t ts) const
{
    return double(ts) * av_q2d(st->time_base) - startTime;
}

bool Session::FailLocked(int error, const QString& text)
{
    if (failError != 0)
        return false; // the first failure names the cause
    failError = error;
    failText = text;
    failNew = true;
    if (!infoReady)
        openFailed = true;
    return true;
}

void Session::Fail(int error, const QString& text)
{
    bool told = false;
    {
        std::lock_guard<std::mutex> l(mx);
        told = FailLocked(error, text);
    }
    if (told)
        m_notify();
}

bool Session::OpenInput()
{
    const QString name = FileName(m_path);
    auto refuse = [&](int error, const QString& why) {
        Fail(error, QStringLiteral("%1 cannot be played: %2").arg(name, why));
        return false;
    };

    const QByteArray local = QFile::encodeName(QFileInfo(m_path).absoluteFilePath());
    struct stat st {};
    // A pipe or a device would block the reading thread where no interruption reaches it.
    if (::stat(local.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return refuse(meResource, S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder")
                                                      : QStringLiteral("it is not a regular file"));
    ic = avformat_alloc_context();
    if (!ic)
        return refuse(meResource, QStringLiteral("out of memory"));
    ic->interrupt_callback.callback = Interrupted;
    ic->interrupt_callback.opaque = this;
    ic->opaque = this;
    ic->io_open = OpenOnlyTheSource;
    AVDictionary* opts = nullptr;
    // A source is a local file; a playlist inside it may not reach out anywhere else.
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    m_url = "file:" + local;
    int ret = avformat_open_input(&ic, m_url.constData(), nullptr, &opts);
    av_dict_free(&opts);
    if (ret < 0) {
        ic = nullptr; // freed by the failed call
        return refuse(ErrorClass(ret), AvText(ret));
    }
    ret = avformat_find_stream_info(ic, nullptr);
    if (abort)
        return false;
    if (ret < 0)
        return refuse(meFormat, QStringLiteral("its streams cannot be read (%1)").arg(AvText(ret)));

    for (unsigned i = 0; i < ic->nb_streams; ++i)
        ic->streams[i]->discard = AVDISCARD_ALL;

    // The main picture; a cover image is no video.
    int vi = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vi >= 0 && (ic->streams[vi]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
        vi = -1;
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            const AVStream* st = ic->streams[i];
            if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                vi = int(i);
                break;
            }
        }
    }
    int ai = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, vi, nullptr, 0);
    for (unsigned i = 0; i < ic->nb_streams; ++i)
        if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            info.audioStreams.push_back(int(i));
    // The sound track asked for before opening, counted among the sound tracks.
    if (m_audioTrack >= 0 && m_audioTrack < int(info.audioStreams.size()))
        ai = info.audioStreams[size_t(m_audioTrack)];
    if (vi < 0 && ai < 0)
        return refuse(meFormat, QStringLiteral("it holds neither video nor sound"));
    if (vi < 0)
        info.cover = CoverArt();

    if (vi >= 0) {
        vst = ic->streams[vi];
        vctx = OpenDecoder(vst, true);
        if (!vctx)
            return refuse(meFormat, QStringLiteral("its video (%1) cannot be decoded").arg(CodecName(vst)));
        vst->discard = AVDISCARD_DEFAULT;
    }
    if (ai >= 0) {
        ast = ic->streams[ai];
        actx = OpenDecoder(ast, false);
        if (actx)
            ast->discard = AVDISCARD_DEFAULT;
        else if (!vst)
            return refuse(meFormat, QStringLiteral("its sound (%1) cannot be decoded").arg(CodecName(ast)));
        else
            ast = nullptr; // a picture without its sound is still worth showing
    }

    startTime = ic->start_time != AV_NOPTS_VALUE ? double(ic->start_time) / AV_TIME_BASE : 0;
    info.durationUs = ic->duration != AV_NOPTS_VALUE && ic->duration > 0 ? ic->duration : -1;
    info.hasVideo = vst != nullptr;
    info.hasAudio = ast != nullptr;
    if (vst) {
        const AVRational fr = av_guess_frame_rate(ic, vst, nullptr);
        if (fr.num > 0 && fr.den > 0 && av_q2d(fr) < 500)
            info.frameDuration = 1.0 / av_q2d(fr);
        const int n = avformat_index_get_entries_count(vst);
        for (int i = 0; i < n; ++i) {
            const AVIndexEntry* e = avformat_index_get_entry(vst, i);
            if (e && (e->flags & AVINDEX_KEYFRAME) && e->timestamp != AV_NOPTS_VALUE)
                info.keyFrames.push_back(Seconds(vst, e->timestamp));
        }
        std::sort(info.keyFrames.begin(), info.keyFrames.end());
        info.quarterTurns = QuarterTurns(vst);
        const AVCodecParameters* par = vst->codecpar;
        double sar = par->sample_aspect_ratio.num > 0 && par->sample_aspect_ratio.den > 0
            ? av_q2d(par->sample_aspect_ratio)
            : 1.0;
        if (sar < 0.1 || sar > 10)
            sar = 1.0;
        QSize size(int(std::lround(par->width * sar)), par->height);
        info.displaySize = info.quarterTurns % 2 ? size.transposed() : size;
        // High dynamic range pictures are shown as they are coded, without tone mapping.
        if (par->color_trc == AVCOL_TRC_SMPTE2084 || par->color_trc == AVCOL_TRC_ARIB_STD_B67)
            info.pictureNote = QStringLiteral("HDR video is shown without tone mapping: colours and brightness "
                                              "differ from an HDR display.");
    }
    info.ok = true;
    return true;
}

void Session::ClearQueuesLocked()
{
    FreeQueue(vq);
    FreeQueue(aq);
    vqBytes = aqBytes = 0;
    vqSeconds = aqSeconds = 0;
}

// A sound file's picture (an album cover), scaled as a frame would be; null when none.
QImage Session::CoverArt()
{
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0)
            continue;
        AVCodecContext* ctx = OpenDecoder(ic->streams[i], false);
        if (!ctx)
            continue;
        QImage image;
        AVFrame* frame = av_frame_alloc();
        if (avcodec_send_packet(ctx, &st->attached_pic) >= 0 && avcodec_send_packet(ctx, nullptr) >= 0
            && avcodec_receive_frame(ctx, frame) >= 0)
            image = Convert(frame);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
        if (!image.isNull())
            return image;
    }
    return {};
}

// ---- the owner's side

SessionNews Session::TakeNews()
{
    std::lock_guard<std::mutex> l(mx);
    SessionNews n;
    if (failNew) {
        failNew = false;
        n.failError = failError;
        n.failText = failText;
    }
    n.infoReady = infoReady;
    return n;
}

void Session::SetSurface(const QSize& size)
{
    std::lock_guard<std::mutex> l(mx);
    surface = size;
}

bool Session::Playing()
{
    std::lock_guard<std::mutex> l(mx);
    return playing;
}

void Session::SetPlaying(bool on)
{
    std::lock_guard<std::mutex> l(mx);
    playing = on;
}

int Session::OrderSeek(SeekOrder order)
{
    {
        std::lock_guard<std::mutex> l(mx);
        order.serial = serial + 1;
        OrderSeekLocked(order);
    }
    cvReader.notify_all();
    cvVideo.notify_all();
    return order.serial;
}

void Session::SearchOn(int request, double target)
{
    {
        std::lock_guard<std::mutex> l(mx);
        contPending = true;
        contRequest = request;
        contTarget = target;
    }
    cvVideo.notify_all();
}

void Session::DropStaleFramesLocked()
{
    const int current = serial;
    frames.erase(std::remove_if(frames.begin(), frames.end(),
                                [current](const VideoFrame& f) { return f.serial != current; }),
                 frames.end());
}

int Session::FramesReady()
{
    std::lock_guard<std::mutex> l(mx);
    DropStaleFramesLocked();
    return int(frames.size());
}

std::optional<FrameHead> Session::PeekFrame(int i)
{
    std::lock_guard<std::mutex> l(mx);
    DropStaleFramesLocked();
    if (i < 0 || i >= int(frames.size()))
        return std::nullopt;
    const VideoFrame& f = frames[size_t(i)];
    return FrameHead {f.pts, f.request, f.kind};
}

std::optional<VideoFrame> Session::TakeFrame()
{
    std::optional<VideoFrame> f;
    {
        std::lock_guard<std::mutex> l(mx);
        DropStaleFramesLocked();
        if (frames.empty())
            return std::nullopt;
        f = std::move(frames.front());
        frames.pop_front();
    }
    cvVideo.notify_all(); // room for the next one
    return f;
}

void Session::DemoteHead()
{
    std::lock_guard<std::mutex> l(mx);
    DropStaleFramesLocked();
    if (!frames.empty())
        frames.front().kind = VideoFrame::Normal;
}

bool Session::VideoEnded()
{
    std::lock_guard<std::mutex> l(mx);
    return videoEnded;
}

void Session::NewAudioRun(int epoch, double from)
{
    std::lock_guard<std::mutex> l(mx);
    audioEpoch = epoch;
    audioStart = from;
}

// ---- the sound's side

void Session::SetAudioWanted(bool wanted)
{
    {
        std::lock_guard<std::mutex> l(mx);
        audioUse = wanted ? AudioWanted : AudioUnwanted;
        if (!wanted) {
            // The reader stops keeping packets for it.
            FreeQueue(aq);
            aqBytes = 0;
            aqSeconds = 0;
        }
    }
    cvReader.notify_all();
}

AudioRun Session::CurrentAudioRun()
{
    std::lock_guard<std::mutex> l(mx);
    return AudioRun {audioEpoch, audioStart, playing};
}

std::optional<QueuedPacket> Session::TakeAudioPacket()
{
    QueuedPacket q;
    {
        std::lock_guard<std::mutex> l(mx);
        // Packets of an older seek are of no use.
        while (!aq.empty() && aq.front().serial != serial) {
            QueuedPacket& old = aq.front();
            if (old.pkt) {
                aqBytes -= old.pkt->size;
                aqSeconds -= old.pkt->duration > 0 ? old.pkt->duration * av_q2d(ast->time_base) : 0;
            }
            av_packet_free(&old.pkt);
            aq.pop_front();
        }
        if (aq.empty())
            return std::nullopt;
        q = aq.front();
        aq.pop_front();
        if (q.pkt) {
            aqBytes -= q.pkt->size;
            aqSeconds -= q.pkt->duration > 0 ? q.pkt->duration * av_q2d(ast->time_base) : 0;
        }
    }
    cvReader.notify_one();
    return q;
}

// ---- the reader

void Session::OrderSeekLocked(const SeekOrder& order)
{
    serial = order.serial;
    seek = order;
    contPending = false;
    videoEnded = false;
    frames.clear();
}

bool Session::EnoughLocked() const
{
    if (vqBytes + aqBytes > kMaxQueuedBytes)
        return true;
    auto enough = [](const std::deque<QueuedPacket>& q, double seconds) {
        return int(q.size()) > kMinPackets && (seconds <= 0 || seconds > kMinQueued);
    };
    const bool videoDone = !vst || enough(vq, vqSeconds);
    const bool audioDone = !ast || audioUse == AudioUnwanted || enough(aq, aqSeconds);
    return videoDone && audioDone;
}

void Session::ReaderMain()
{
    if (!OpenInput())
        return;
    {
        std::lock_guard<std::mutex> l(mx);
        active = SeekOrder {};
        active.fromStart = true;
        if (vst)
            vq.push_back({nullptr, 0, QueuedPacket::Flush});
        if (ast)
            aq.push_back({nullptr, 0, QueuedPacket::Flush});
        infoReady = true;
    }
    if (vst)
        m_video = std::thread(&Session::VideoMain, this);
    m_notify();

    AVPacket* pkt = av_packet_alloc();
    for (;;) {
        std::optional<SeekOrder> order;
        {
            std::unique_lock<std::mutex> l(mx);
            cvReader.wait(l, [&] { return abort || seek || (!readerEof && !EnoughLocked()); });
            if (abort)
                break;
            if (seek) {
                order = seek;
                seek.reset();
            }
        }
        if (order) {
            DoSeek(*order);
            continue;
        }
        const int ret = av_read_frame(ic, pkt);
        if (abort)
            break;
        if (ret == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (ret < 0) {
            // The end, or as far as a damaged file can be read: the decoders give out what
            // they hold. Only a failing device is a failure.
            const bool ioError = ic->pb && ic->pb->error && ic->pb->error != AVERROR_EOF;
            {
                std::lock_guard<std::mutex> l(mx);
                readerEof = true;
                if (vst)
                    vq.push_back({nullptr, active.serial, QueuedPacket::End});
                if (ast)
                    aq.push_back({nullptr, active.serial, QueuedPacket::End});
            }
            cvVideo.notify_all();
            if (ioError)
                Fail(meResource,
                     QStringLiteral("Reading %1 failed: %2").arg(FileName(m_path), AvText(ic->pb->error)));
            m_notify();
            continue;
        }
        AVPacket* own = av_packet_alloc();
        av_packet_move_ref(own, pkt);
        bool video = false;
        {
            std::lock_guard<std::mutex> l(mx);
            if (vst && own->stream_index == vst->index) {
                vqBytes += own->size;
                vqSeconds += own->duration > 0 ? own->duration * av_q2d(vst->time_base) : 0;
                vq.push_back({own, active.serial, QueuedPacket::Data});
                video = true;
            } else if (ast && own->stream_index == ast->index && audioUse != AudioUnwanted) {
                aqBytes += own->size;
                aqSeconds += own->duration > 0 ? own->duration * av_q2d(ast->time_base) : 0;
                aq.push_back({own, active.serial, QueuedPacket::Data});
            } else {
                av_packet_free(&own);
            }
        }
        if (video)
            cvVideo.notify_all();
    }
    av_packet_free(&pkt);
}

void Session::DoSeek(const SeekOrder& order)
{
    const double from = order.target - order.margin;
    bool fromStart = from <= 0;
    const int64_t first = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    const int64_t ts = fromStart ? first : first + int64_t(std::llround(from * AV_TIME_BASE));
    int ret = -1;
    // Streams without an index (MPEG transport and program streams) find a time by
    // searching, which lands on the last packet before it rather than on a key frame: the
    // very start is byte 0.
    if (fromStart && (ic->iformat->flags & AVFMT_TS_DISCONT) && !(ic->iformat->flags & AVFMT_NO_BYTE_SEEK))
        ret = av_seek_frame(ic, -1, 0, AVSEEK_FLAG_BYTE);
    // To the last key frame at or before the time.
    if (ret < 0)
        ret = avformat_seek_file(ic, -1, INT64_MIN, ts, ts, 0);
    if (ret < 0)
        ret = av_seek_frame(ic, -1, ts, AVSEEK_FLAG_BACKWARD);
    if (ret < 0 && !fromStart && av_seek_frame(ic, -1, first, AVSEEK_FLAG_BACKWARD) >= 0)
        fromStart = true;
    std::lock_guard<std::mutex> l(mx);
    if (abort)
        return;
    ClearQueuesLocked();
    readerEof = false;
    active = order;
    active.fromStart = fromStart;
    if (vst)
        vq.push_back({nullptr, order.serial, QueuedPacket::Flush});
    if (ast)
        aq.push_back({nullptr, order.serial, QueuedPacket::Flush});
    cvVideo.notify_all();
}

// ---- the picture's decoding thread

void Session::VideoMain()
{
    m_held = av_frame_alloc();
    for (;;) {
        QueuedPacket q;
        {
            std::unique_lock<std::mutex> l(mx);
            cvVideo.wait(l, [&] { return abort || !vq.empty(); });
            if (abort)
                break;
            q = vq.front();
            vq.pop_front();
            if (q.pkt) {
                vqBytes -= q.pkt->size;
                vqSeconds -= q.pkt->duration > 0 ? q.pkt->duration * av_q2d(vst->time_base) : 0;
            }
        }
        cvReader.notify_one();
        switch (q.kind) {
        case QueuedPacket::Flush: {
            avcodec_flush_buffers(vctx);
            av_frame_unref(m_held);
            m_before.clear();
            m_contSearch = false;
            m_lastPts = -1;
            m_dropped = 0;
            m_gap = false;
            m_gaveFrame = false;
            std::lock_guard<std::mutex> l(mx);
            m_decSerial = q.serial;
            if (active.serial == q.serial) {
                m_order = active;
            } else {
                m_order = SeekOrder {};
                m_order.serial = q.serial;
                m_order.fromStart = true;
            }
            m_request = m_order.request;
            m_picker.Start(m_order.target, !m_order.fromStart);
            if (q.serial == serial)
                videoEnded = false;
            break;
        }
        case QueuedPacket::End:
            if (q.serial == m_decSerial) {
                avcodec_send_packet(vctx, nullptr);
                Decode(nullptr);
                const TFramePicker::End end = m_picker.Finish();
                if (end == TFramePicker::End::Nothing && !m_gaveFrame && !m_order.fromStart && m_order.target > 0) {
                    // The seek landed where nothing decodes (past the cut of a truncated
                    // file): start further back, until the last frame there is is found.
                    Reseek(m_order.margin <= 0 ? 1.0 : m_order.margin * 2, m_order.noSkip);
                    break;
                }
                if (end == TFramePicker::End::Retry) {
                    av_frame_unref(m_held);
                    Reseek(m_order.margin, true);
                    break;
                }
                if (end == TFramePicker::End::Held) {
                    FlushBefore();
                    m_draining = true;
                    Output(m_held, m_heldPts, m_heldDuration, VideoFrame::Answer);
                    m_draining = false;
                }
                av_frame_unref(m_held);
                avcodec_flush_buffers(vctx);
                {
                    std::lock_guard<std::mutex> l(mx);
                    // A video that never gave a picture is refused, before the end is known.
                    if (!firstFrame)
                        FailLocked(meFormat, QStringLiteral("%1 cannot be played: its video could not be decoded")
                                                 .arg(FileName(m_path)));
                    if (m_decSerial == serial)
                        videoEnded = true;
                }
                m_notify();
            }
            break;
        case QueuedPacket::Data:
            if (q.serial == m_decSerial) {
                Feed(q.pkt);
                // A stream that never gives a picture is refused instead of waited on.
                if (++m_packetsWithoutFrame > 1500) {
                    m_packetsWithoutFrame = 0;
                    bool failed = false;
                    {
                        std::lock_guard<std::mutex> l(mx);
                        if (!firstFrame)
                            failed = FailLocked(meFormat, QStringLiteral("%1 cannot be played: its video could not "
                                                                         "be decoded")
                                                              .arg(FileName(m_path)));
                    }
                    if (failed)
                        m_notify();
                }
            }
            av_packet_free(&q.pkt);
            break;
        }
    }
}

void Session::Feed(AVPacket* pkt)
{
    bool skip = false;
    if (m_picker.Active() && !m_order.noSkip && pkt->pts != AV_NOPTS_VALUE) {
        const double pts = Seconds(vst, pkt->pts);
        if (m_picker.MaySkip(pts, info.frameDuration, m_order.keepBefore)) {
            skip = true;
            m_picker.NoteSkippable(pts);
        }
    }
    // Playing behind the clock: frames nothing refers to are left undecoded, so that a slow
    // machine keeps in time instead of falling further behind.
    if (!skip && !m_picker.Active() && pkt->pts != AV_NOPTS_VALUE && clock.Running()) {
        const double end = Seconds(vst, pkt->pts) + (info.frameDuration > 0 ? info.frameDuration : 0.04);
        if (end < clock.Now() - kLateToDecode && Playing()) {
            skip = true;
            m_gap = true; // the frames shown are no longer one after another
        }
    }
    // Frames nothing refers to, well before the one wanted, need not be decoded at all.
    vctx->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    for (;;) {
        const int ret = avcodec_send_packet(vctx, pkt);
        Decode(pkt);
        if (ret != AVERROR(EAGAIN))
            break;
    }
}

void Session::Decode(AVPacket*)
{
    AVFrame* frame = av_frame_alloc();
    while (avcodec_receive_frame(vctx, frame) >= 0) {
        Process(frame);
        av_frame_unref(frame);
        if (abort)
            break;
    }
    av_frame_free(&frame);
}

void Session::Process(AVFrame* frame)
{
    const double pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
        ? Seconds(vst, frame->best_effort_timestamp)
        : (m_lastPts >= 0 ? m_lastPts + info.frameDuration : 0);
    const double duration =
        frame->pkt_duration > 0 ? frame->pkt_duration * av_q2d(vst->time_base) : info.frameDuration;
    m_lastPts = pts;
    m_packetsWithoutFrame = 0;
    if ((frame->flags & AV_FRAME_FLAG_CORRUPT) && m_picker.Active() && !m_order.fromStart && !m_contSearch) {
        // Decoding began after the key frame this picture depends on: it is not the picture
        // of its time. Start again from further back.
        bool current = false;
        {
            std::lock_guard<std::mutex> l(mx);
            current = m_decSerial == serial;
        }
        if (current) {
            av_frame_unref(m_held);
            Reseek(m_order.margin <= 0 ? 1.0 : m_order.margin * 2, m_order.noSkip);
        }
        return;
    }
    {
        std::lock_guard<std::mutex> l(mx);
        firstFrame = true;
        if (m_decSerial != serial)
            return; // a newer seek: this epoch is over
        if (contPending && m_gap) {
            // Frames were dropped undrawn since the last one given out: the one wanted may
            // be among them. Seek properly instead.
            SeekOrder o;
            o.serial = serial + 1;
            o.request = contRequest;
            o.target = contTarget;
            OrderSeekLocked(o);
            m_decSerial = -1;
            m_picker.Clear();
            cvReader.notify_all();
            return;
        }
        if (contPending) {
            // A seek forward from where decoding stands: search on without flushing.
            contPending = false;
            m_request = contRequest;
            m_picker.Start(contTarget, false);
            // A second pass, should one be needed, seeks to this target.
            m_order.request = contRequest;
            m_order.target = contTarget;
            m_order.margin = 0;
            m_order.keepBefore = 0;
            m_before.clear();
            av_frame_unref(m_held);
            m_contSearch = true;
        }
    }
    switch (m_picker.Feed(pts, duration)) {
    case TFramePicker::Step::Pass:
        Output(frame, pts, duration, VideoFrame::Normal);
        break;
    case TFramePicker::Step::Hold:
        if (m_held->buf[0])
            KeepBefore(m_held, m_heldPts, m_heldDuration);
        av_frame_unref(m_held);
        av_frame_move_ref(m_held, frame);
        m_heldPts = pts;
        m_heldDuration = duration;
        break;
    case TFramePicker::Step::HeldThenPass:
        FlushBefore();
        Output(m_held, m_heldPts, m_heldDuration, VideoFrame::Answer);
        av_frame_unref(m_held);
        Output(frame, pts, duration, VideoFrame::Normal);
        break;
    case TFramePicker::Step::After:
        Output(frame, pts, duration, VideoFrame::After);
        break;
    case TFramePicker::Step::Overshoot:
        // The seek landed past the target (no key frame where the index said, or no index):
        // start again from further back.
        av_frame_unref(m_held);
        Reseek(m_order.margin <= 0 ? 1.0 : m_order.margin * 2, m_order.noSkip);
        break;
    case TFramePicker::Step::Retry:
        av_frame_unref(m_held);
        Reseek(m_order.margin, true);
        break;
    }
}

void Session::Reseek(double margin, bool noSkip)
{
    {
        std::lock_guard<std::mutex> l(mx);
        if (m_decSerial != serial)
            return; // a newer seek is already on its way
        SeekOrder o = m_order;
        o.serial = serial + 1;
        o.margin = margin;
        o.noSkip = noSkip;
        OrderSeekLocked(o);
        m_decSerial = -1;
    }
    m_picker.Clear();
    m_before.clear();
    cvReader.notify_all();
}

void Session::KeepBefore(AVFrame* frame, double pts, double duration)
{
    const int keep = m_order.keepBefore;
    const double fd = info.frameDuration;
    if (keep <= 0 || fd <= 0 || pts < m_picker.Target() - (keep + 2) * fd)
        return;
    VideoFrame vf;
    vf.image = Convert(frame);
    vf.pts = pts;
    vf.duration = duration;
    vf.kind = VideoFrame::Before;
    m_before.push_back(std::move(vf));
    while (int(m_before.size()) > keep)
        m_before.pop_front();
}

void Session::FlushBefore()
{
    while (!m_before.empty()) {
        VideoFrame vf = std::move(m_before.front());
        m_before.pop_front();
        Push(std::move(vf));
    }
}

void Session::Output(AVFrame* frame, double pts, double duration, VideoFrame::Kind kind)
{
    if (kind == VideoFrame::Normal) {
        // Frames already late while playing are dropped undrawn, a few at a time at most,
        // so that a slow machine still shows pictures.
        const bool playingNow = Playing();
        const double end = pts + (duration > 0 ? duration : info.frameDuration);
        if (playingNow && clock.Running() && end < clock.Now() - 0.02 && m_dropped < 8) {
            ++m_dropped;
            m_gap = true;
            return;
        }
    }
    m_dropped = 0;
    VideoFrame vf;
    vf.image = Convert(frame);
    vf.pts = pts;
    vf.duration = duration;
    vf.kind = kind;
    vf.gapBefore = m_gap;
    vf.last = m_draining;
    m_gap = false;
    Push(std::move(vf));
}

void Session::Push(VideoFrame vf)
{
    {
        std::unique_lock<std::mutex> l(mx);
        cvVideo.wait(l, [&] {
            return abort || int(frames.size()) < kFrameQueue || m_decSerial != serial || vf.kind == VideoFrame::Before;
        });
        if (abort || m_decSerial != serial)
            return;
        vf.serial = m_decSerial;
        vf.request = m_request;
        m_gaveFrame = true;
        frames.push_back(std::move(vf));
    }
    m_notify();
}

QImage Session::Convert(AVFrame* frame)
{
    QSize box;
    {
        std::lock_guard<std::mutex> l(mx);
        box = surface;
    }
    const int sw = frame->width;
    const int sh = frame->height;
    if (sw <= 0 || sh <= 0)
        return {};
    double sar = frame->sample_aspect_ratio.num > 0 && frame->sample_aspect_ratio.den > 0
        ? av_q2d(frame->sample_aspect_ratio)
        : 1.0;
    if (sar < 0.1 || sar > 10)
        sar = 1.0;
    const double dw = sw * sar;
    const double dh = sh;
    // Turned a quarter, the picture stands the other way up in the surface.
    const bool across = info.quarterTurns % 2 != 0;
    const double uw = across ? dh : dw;
    const double uh = across ? dw : dh;
    if (box.width() < 2 || box.height() < 2)
        box = QSize(int(uw), int(uh));
    // Fit the picture, with its shape, into the surface: no pixel more than it shows.
    const double scale = std::min(box.width() / uw, box.height() / uh);
    const int ow = std::max(2, int(std::lround(dw * scale)));
    const int oh = std::max(2, int(std::lround(dh * scale)));
    m_sws = sws_getCachedContext(m_sws, sw, sh, AVPixelFormat(frame->format), ow, oh, AV_PIX_FMT_RGB32, SWS_BILINEAR,
                                 nullptr, nullptr, nullptr);
    if (!m_sws)
        return {};
    // The colours as the stream codes them: its matrix and range, not the converter's
    // BT.601 limited-range default. (A context made anew starts from that default.)
    const int* coefficients = sws_getCoefficients(SwsMatrix(frame));
    const int full = FullRange(frame) ? 1 : 0;
    int* invTable = nullptr;
    int* table = nullptr;
    int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(m_sws, &invTable, &srcRange, &table, &dstRange, &brightness, &contrast, &saturation)
            >= 0
        && (srcRange != full || std::memcmp(invTable, coefficients, 4 * sizeof(int)) != 0))
        sws_setColorspaceDetails(m_sws, coefficients, full, table, dstRange, brightness, contrast, saturation);
    QImage image(ow, oh, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int lines[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(m_sws, frame->data, frame->linesize, 0, sh, dst, lines);
    if (info.quarterTurns != 0)
        image = image.transformed(QTransform().rotate(90.0 * info.quarterTurns));
    return image;
}

} // namespace vtmedia
