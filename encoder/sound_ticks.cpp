#include "sound_ticks.h"

extern "C" {
#include <libavformat/avformat.h>
}

// Part of the exact-cut module: the encoder program asks it only for sources that may count
// their sound in packets.
extern "C" __attribute__((visibility("default"))) bool VtSoundTicks(const char* source, SoundTicks* ticks)
{
    if (!source || !ticks)
        return false;
    *ticks = SoundTicks();
    AVFormatContext* ic = nullptr;
    // "file:" so that a name with a colon is never taken for a protocol.
    if (avformat_open_input(&ic, (std::string("file:") + source).c_str(), nullptr, nullptr) < 0)
        return false;
    // ffmpeg's own start time of the source, which it adds to the seek.
    bool ok = avformat_find_stream_info(ic, nullptr) >= 0;
    AVRational step{0, 1};
    for (unsigned k = 0; ok && k < ic->nb_streams; ++k) {
        const AVStream* st = ic->streams[k];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || st->time_base.num <= 0 || st->time_base.den <= 0)
            continue;
        // Finer than 2 ms: time stamps put each packet where it lies, whatever the rounding.
        if (av_q2d(st->time_base) <= 0.002)
            continue;
        if (step.num != 0 && av_cmp_q(step, st->time_base) != 0)
            ok = false; // one length cannot end two kinds of steps alike
        step = st->time_base;
    }
    if (ok && step.num != 0) {
        ticks->num = step.num;
        ticks->den = step.den;
        ticks->originUs = ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time;
    }
    avformat_close_input(&ic);
    return ok && ticks->num != 0;
}
