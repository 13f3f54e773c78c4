#pragma once
// Reading stretches of a source with FFmpeg's libraries inside the program, instead of
// starting ffprobe for it: most of an ffprobe run is its own start (loading and linking some
// two hundred libraries), which a job would pay on top of ffmpeg's work. The libraries sit in
// a module of their own (veltrane-probe.so, beside the encoder), loaded the first time a job
// looks its cut points up, so a program that never does so never maps them.
//
// What it gives is what ffprobe gives for
//   -of json -show_entries format=start_time,duration,format_name:stream=index,codec_type,
//   codec_name,channels,time_base,width,height,has_b_frames:stream_tags:stream_disposition
//   [:chapter=start_time,end_time:chapter_tags=title]:packet=stream_index,pts,dts,duration,flags
//   -read_intervals <spans> [-select_streams <selection>] [-show_chapters] file:<path>
// so that one parser reads either. Plain C++: the module links no Qt.
#include <functional>
#include <string>
#include <vector>

struct SourceReadSpan {
    long long fromUs = 0; // seconds as ffprobe's -read_intervals takes them, in microseconds
    bool open = false;    // to the end of the file
    long long toUs = 0;
};

struct SourceReadRequest {
    std::string path;                  // a plain file, never taken for a protocol
    std::vector<SourceReadSpan> spans; // read in this order
    std::string selection;             // a stream specifier ("V", "a"); empty: every stream
    bool chapters = false;             // the chapters too (-show_chapters)
    // H.264 key frames also say the type of their first slice ("pict_type", as ffprobe names a
    // frame's with -flags2 showall): a recovery point of an intra refresh is a P-picture.
    bool pictureTypes = false;
    std::function<bool()> stop;        // asked now and then; true: give up at once
};

struct SourceReadResult {
    enum class Status { Ok, Failed, Stopped };
    Status status = Status::Failed;
    std::string text; // Ok: the JSON; Failed: why, as ffprobe's last line of error would say it
};

using SourceReadEntry = void (*)(const SourceReadRequest& request, SourceReadResult& result);
inline constexpr const char* kSourceReaderModule = "veltrane-probe.so";
inline constexpr const char* kSourceReaderEntry = "VtReadSource";
