// The module that reads stretches of a source inside the program (see SourceReader.h): the
// steps ffprobe takes for -read_intervals, with its JSON for what it lists.
#include "split/SourceReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>

namespace {

// ---- JSON as ffprobe writes it

void Quote(std::string& out, const char* text)
{
    out += '"';
    const auto* s = reinterpret_cast<const unsigned char*>(text ? text : "");
    while (*s) {
        const unsigned char c = *s;
        // Text that is no UTF-8 is left out, as ffprobe replaces it (with nothing) by default.
        int length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        for (int k = 1; k < length; ++k)
            if ((s[k] & 0xC0) != 0x80)
                length = 0;
        if (length == 0) {
            ++s;
            continue;
        }
        if (length > 1) {
            out.append(reinterpret_cast<const char*>(s), size_t(length));
            s += length;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += char(c);
            }
        }
        ++s;
    }
    out += '"';
}

// One JSON object's members, separated as they come.
class Members {
public:
    explicit Members(std::string& out) : m_out(out) { m_out += '{'; }
    ~Members() { m_out += '}'; }
    Members(const Members&) = delete;
    Members& operator=(const Members&) = delete;
    std::string& Key(const char* key)
    {
        if (m_any)
            m_out += ',';
        m_any = true;
        Quote(m_out, key);
        m_out += ':';
        return m_out;
    }
    void Int(const char* key, long long v) { Key(key) += std::to_string(v); }
    void Text(const char* key, const char* v) { Quote(Key(key), v); }
    // A time as ffprobe prints one: seconds with six decimals, as text.
    void Time(const char* key, int64_t ts, AVRational base)
    {
        if (ts == AV_NOPTS_VALUE)
            return;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%f", double(ts) * av_q2d(base));
        Text(key, buf);
    }
    void Tags(const char* key, const AVDictionary* tags)
    {
        if (!tags || av_dict_count(tags) == 0)
            return;
        Key(key);
        Members t(m_out);
        const AVDictionaryEntry* e = nullptr;
        while ((e = av_dict_get(tags, "", e, AV_DICT_IGNORE_SUFFIX)))
            t.Text(e->key, e->value);
    }

private:
    std::string& m_out;
    bool m_any = false;
};

void Disposition(Members& stream, int disposition)
{
    static const struct {
        const char* name;
        int flag;
    } kFlags[] = {{"default", AV_DISPOSITION_DEFAULT},
                  {"dub", AV_DISPOSITION_DUB},
                  {"original", AV_DISPOSITION_ORIGINAL},
                  {"comment", AV_DISPOSITION_COMMENT},
                  {"lyrics", AV_DISPOSITION_LYRICS},
                  {"karaoke", AV_DISPOSITION_KARAOKE},
                  {"forced", AV_DISPOSITION_FORCED},
                  {"hearing_impaired", AV_DISPOSITION_HEARING_IMPAIRED},
                  {"visual_impaired", AV_DISPOSITION_VISUAL_IMPAIRED},
                  {"clean_effects", AV_DISPOSITION_CLEAN_EFFECTS},
                  {"attached_pic", AV_DISPOSITION_ATTACHED_PIC},
                  {"timed_thumbnails", AV_DISPOSITION_TIMED_THUMBNAILS},
                  {"captions", AV_DISPOSITION_CAPTIONS},
                  {"descriptions", AV_DISPOSITION_DESCRIPTIONS},
                  {"metadata", AV_DISPOSITION_METADATA},
                  {"dependent", AV_DISPOSITION_DEPENDENT},
                  {"still_image", AV_DISPOSITION_STILL_IMAGE}};
    Members d(stream.Key("disposition"));
    for (const auto& f : kFlags)
        d.Int(f.name, (disposition & f.flag) ? 1 : 0);
}

// The picture type an H.264 packet begins with, as ffprobe prints a frame's (av_get_picture_type_char),
// read from its first slice header; 0 when it holds no slice.
char H264PictureType(const AVPacket* packet, const AVCodecParameters* par)
{
    const uint8_t* d = packet->data;
    const size_t n = packet->data ? size_t(packet->size) : 0;
    // Length-prefixed units when the stream comes with an avcC, start codes otherwise.
    const size_t lengthSize = par->extradata_size >= 7 && par->extradata[0] == 1 ? size_t(par->extradata[4] & 3) + 1 : 0;
    const auto startCode = [&](size_t at) { return at + 3 <= n && d[at] == 0 && d[at + 1] == 0 && d[at + 2] == 1; };
    size_t at = 0;
    while (at < n) {
        size_t begin = 0, end = 0;
        if (lengthSize) {
            if (n - at < lengthSize)
                break;
            size_t length = 0;
            for (size_t k = 0; k < lengthSize; ++k)
                length = length << 8 | d[at + k];
            begin = at + lengthSize;
            if (length > n - begin)
                break;
            end = at = begin + length;
        } else {
            while (at < n && !startCode(at))
                ++at;
            if (at >= n)
                break;
            begin = end = at + 3;
            while (end < n && !startCode(end))
                ++end;
            at = end;
        }
        if (begin >= end)
            continue;
        const int type = d[begin] & 0x1f;
        if (type != 1 && type != 5)
            continue;
        // first_mb_in_slice and slice_type (Exp-Golomb) from the unescaped bytes after the unit's header.
        uint8_t bytes[16] = {};
        size_t have = 0, zeros = 0;
        for (size_t k = begin + 1; k < end && have < sizeof bytes; ++k) {
            if (zeros >= 2 && d[k] == 3) {
                zeros = 0;
                continue;
            }
            zeros = d[k] == 0 ? zeros + 1 : 0;
            bytes[have++] = d[k];
        }
        size_t bit = 0;
        const auto ue = [&]() -> int {
            int leading = 0;
            while (bit < have * 8 && !((bytes[bit / 8] >> (7 - bit % 8)) & 1) && leading < 32)
                ++leading, ++bit;
            if (bit >= have * 8 || leading >= 32)
                return -1;
            ++bit;
            long long value = 0;
            for (int k = 0; k < leading; ++k, ++bit) {
                if (bit >= have * 8)
                    return -1;
                value = value << 1 | ((bytes[bit / 8] >> (7 - bit % 8)) & 1);
            }
            return int(std::min<long long>((1LL << leading) - 1 + value, 1 << 30));
        };
        if (ue() < 0)
            return 0;
        const int slice = ue();
        static const char kTypes[] = {'P', 'B', 'I', 'S', 'i'};
        return slice < 0 || slice > 9 ? 0 : kTypes[slice % 5];
    }
    return 0;
}

struct Input {
    AVFormatContext* context = nullptr;
    ~Input() { avformat_close_input(&context); }
};

int Interrupted(void* opaque)
{
    const auto* request = static_cast<const SourceReadRequest*>(opaque);
    return request->stop && request->stop() ? 1 : 0;
}

std::string ErrorText(int error)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, buf, sizeof buf);
    return buf;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void VtReadSource(const SourceReadRequest& request,
                                                                    SourceReadResult& result)
{
    // The program's own messages say what went wrong; the libraries' would reach its terminal.
    av_log_set_level(AV_LOG_FATAL);
    const std::string name = "file:" + request.path;
    auto stopped = [&] { return request.stop && request.stop(); };
    auto fail = [&](const std::string& why) {
        result.status = stopped() ? SourceReadResult::Status::Stopped : SourceReadResult::Status::Failed;
        result.text = why;
    };

    Input in;
    in.context = avformat_alloc_context();
    if (!in.context)
        return fail(name + ": " + ErrorText(AVERROR(ENOMEM)));
    in.context->interrupt_callback.callback = Interrupted;
    in.context->interrupt_callback.opaque = const_cast<SourceReadRequest*>(&request);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "scan_all_pmts", "1", 0);
    // A source names no other place to read from: a playlist or a reference to the network
    // fails here rather than reaching out.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    int error = avformat_open_input(&in.context, name.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (error < 0)
        return fail(name + ": " + ErrorText(error));
    error = avformat_find_stream_info(in.context, nullptr);
    if (error < 0)
        return fail(name + ": " + ErrorText(error));

    AVFormatContext* fmt = in.context;
    const unsigned streams = fmt->nb_streams;
    std::vector<char> selected(streams, 1);
    if (!request.selection.empty())
        for (unsigned i = 0; i < streams; ++i) {
            const int match = avformat_match_stream_specifier(fmt, fmt->streams[i], request.selection.c_str());
            if (match < 0)
                return fail("Invalid stream specifier: " + request.selection + ".");
            selected[i] = match > 0;
        }
    // As ffprobe does: the demuxer skips what is not listed, which also moves where a seek lands.
    for (unsigned i = 0; i < streams; ++i)
        if (!selected[i])
            fmt->streams[i]->discard = AVDISCARD_ALL;

    std::string out;
    out.reserve(1 << 20);
    {
        Members top(out);
        top.Key("packets") += '[';
        bool firstPacket = true;
        AVPacket* packet = av_packet_alloc();
        const std::unique_ptr<AVPacket, void (*)(AVPacket*)> owned(packet, [](AVPacket* p) { av_packet_free(&p); });
        int64_t current = fmt->start_time;
        for (size_t k = 0; k < request.spans.size(); ++k) {
            const SourceReadSpan& span = request.spans[k];
            // ffprobe seeks to each stretch's start and lists until a packet of the listed
            // streams shows at or past its end.
            error = avformat_seek_file(fmt, -1, -INT64_MAX, span.fromUs, INT64_MAX, 0);
            if (error < 0) {
                char why[160];
                std::snprintf(why, sizeof why, "Could not read packets in interval id:%zu start:%.6g end:", k,
                              double(span.fromUs) / 1e6);
                char end[32] = "N/A";
                if (!span.open)
                    std::snprintf(end, sizeof end, "%.6g", double(span.toUs) / 1e6);
                return fail(std::string(why) + end);
            }
            while (av_read_frame(fmt, packet) >= 0) {
                const int index = packet->stream_index;
                if (index < 0 || unsigned(index) >= streams || !selected[size_t(index)]) {
                    av_packet_unref(packet);
                    continue;
                }
                const AVRational base = fmt->streams[index]->time_base;
                const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                if (ts != AV_NOPTS_VALUE)
                    current = av_rescale_q(ts, base, AV_TIME_BASE_Q);
                if (!span.open && current != AV_NOPTS_VALUE && current >= span.toUs) {
                    av_packet_unref(packet);
                    break;
                }
                if (!firstPacket)
                    out += ',';
                firstPacket = false;
                Members p(out);
                p.Int("stream_index", index);
                if (packet->pts != AV_NOPTS_VALUE)
                    p.Int("pts", packet->pts);
                if (packet->dts != AV_NOPTS_VALUE)
                    p.Int("dts", packet->dts);
                if (packet->duration != 0 && packet->duration != AV_NOPTS_VALUE)
                    p.Int("duration", packet->duration);
                char flags[4] = {packet->flags & AV_PKT_FLAG_KEY ? 'K' : '_',
                                 packet->flags & AV_PKT_FLAG_DISCARD ? 'D' : '_',
                                 packet->flags & AV_PKT_FLAG_CORRUPT ? 'C' : '_', 0};
                p.Text("flags", flags);
                const AVCodecParameters* par = fmt->streams[index]->codecpar;
                if (request.pictureTypes && (packet->flags & AV_PKT_FLAG_KEY) && par->codec_id == AV_CODEC_ID_H264)
                    if (const char type = H264PictureType(packet, par)) {
                        const char text[2] = {type, 0};
                        p.Text("pict_type", text);
                    }
                av_packet_unref(packet);
            }
            if (stopped())
                return fail("Cancelled.");
        }
        out += ']';

        top.Key("streams") += '[';
        bool firstStream = true;
        for (unsigned i = 0; i < streams; ++i) {
            if (!selected[i])
                continue;
            const AVStream* st = fmt->streams[i];
            const AVCodecParameters* par = st->codecpar;
            if (!firstStream)
                out += ',';
            firstStream = false;
            Members s(out);
            s.Int("index", st->index);
            const AVCodecDescriptor* codec = avcodec_descriptor_get(par->codec_id);
            s.Text("codec_name", codec ? codec->name : "unknown");
            const char* type = av_get_media_type_string(par->codec_type);
            s.Text("codec_type", type ? type : "unknown");
            if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
                s.Int("width", par->width);
                s.Int("height", par->height);
                s.Int("has_b_frames", par->video_delay);
            } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
                s.Int("channels", par->ch_layout.nb_channels);
            }
            char base[64];
            std::snprintf(base, sizeof base, "%d/%d", st->time_base.num, st->time_base.den);
            s.Text("time_base", base);
            Disposition(s, st->disposition);
            s.Tags("tags", st->metadata);
        }
        out += ']';

        if (request.chapters) {
            top.Key("chapters") += '[';
            for (unsigned i = 0; i < fmt->nb_chapters; ++i) {
                const AVChapter* c = fmt->chapters[i];
                if (i > 0)
                    out += ',';
                Members ch(out);
                ch.Int("id", c->id);
                ch.Time("start_time", c->start, c->time_base);
                ch.Time("end_time", c->end, c->time_base);
                const AVDictionaryEntry* title = av_dict_get(c->metadata, "title", nullptr, 0);
                if (title) {
                    ch.Key("tags");
                    Members t(out);
                    t.Text("title", title->value);
                }
            }
            out += ']';
        }

        top.Key("format");
        Members f(out);
        f.Time("start_time", fmt->start_time, AV_TIME_BASE_Q);
        f.Time("duration", fmt->duration, AV_TIME_BASE_Q);
        f.Text("format_name", fmt->iformat ? fmt->iformat->name : "");
    }
    result.status = SourceReadResult::Status::Ok;
    result.text = std::move(out);
}
