#pragma once
// The one way the player's demuxers open files. Playlists (HLS, DASH), concatenation lists,
// image sequences and references inside a container would otherwise fetch from the network
// or read other files: only the source itself opens, only as a file, and never for writing.
#include <QByteArray>

extern "C" {
#include <libavformat/avformat.h>
}

inline int OpenOnlySource(const QByteArray& source, AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                          AVDictionary** options)
{
    if (!url || source != url || (flags & AVIO_FLAG_WRITE))
        return AVERROR(EPERM);
    AVDictionary* opts = nullptr;
    if (options)
        av_dict_copy(&opts, *options, 0);
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    const int ret = avio_open2(pb, url, flags, &s->interrupt_callback, &opts);
    av_dict_free(&opts);
    return ret;
}
