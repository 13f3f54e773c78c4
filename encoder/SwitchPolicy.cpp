#include "SwitchPolicy.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace {

// ---------------------------------------------------------------------------------------
// The lists. They follow ffmpeg 5.1 (`ffmpeg -h full`, `ffmpeg -filters`, `-formats`,
// `-protocols`, `-devices`); names of later versions that do the same are listed too.
// ---------------------------------------------------------------------------------------

// ffmpeg's own options that take no value: every other option takes exactly one, which
// is how a stray argument (one ffmpeg would take for another output) is told apart.
const std::set<std::string> kBooleans = {
    "y", "n", "ignore_unknown", "copy_unknown", "recast_media", "accurate_seek", "benchmark", "benchmark_all",
    "stdin", "dump", "hex", "re", "copyts", "start_at_zero", "shortest", "bitexact", "xerror", "copyinkf",
    "auto_conversion_filters", "stats", "debug_ts", "find_stream_info", "vn", "an", "sn", "dn", "psnr", "qphist",
    "force_fps", "fix_sub_duration", "hide_banner"};
// Booleans that nevertheless take a value; their "-no" form takes none.
const std::set<std::string> kBooleansWithValue = {"autorotate", "autoscale"};
// Options without a value that are no booleans.
const std::set<std::string> kActionsWithoutValue = {"vstats", "report"};

// Options that end ffmpeg at once (help and listings): nothing would be encoded.
const std::set<std::string> kExiting = {
    "L",       "h",       "?",       "help",   "-help",    "version",  "buildconf", "formats",
    "muxers",  "demuxers", "devices", "codecs", "decoders", "encoders", "bsfs",      "protocols",
    "filters", "pix_fmts", "layouts", "sample_fmts", "dispositions", "colors", "hwaccels", "license"};

// Options that read or write files other than the source and the output, load code,
// open devices or add inputs.
const std::map<std::string, const char*> kRefusedOptions = {
    {"i", "it adds an input besides the source"},
    {"attach", "it reads another file into the output"},
    {"dump_attachment", "it writes files"},
    {"filter_script", "it reads a filter graph from a file"},
    {"filter_complex_script", "it reads a filter graph from a file"},
    {"vstats", "it writes a statistics file"},
    {"vstats_file", "it writes a statistics file"},
    {"report", "it writes a report file"},
    {"progress", "it writes to a file or an address of its own"},
    {"sdp_file", "it writes a file"},
    {"stats_enc_pre", "it writes a statistics file"},
    {"stats_enc_post", "it writes a statistics file"},
    {"stats_mux_pre", "it writes a statistics file"},
    {"pre", "it reads a preset file"},
    {"apre", "it reads a preset file"},
    {"vpre", "it reads a preset file"},
    {"spre", "it reads a preset file"},
    {"fpre", "it reads a preset file"},
    {"init_hw_device", "it opens a hardware device and loads its driver"},
    {"filter_hw_device", "it opens a hardware device and loads its driver"},
    {"vaapi_device", "it opens a hardware device and loads its driver"},
    {"qsv_device", "it opens a hardware device and loads its driver"},
    {"hwaccel_device", "it opens a hardware device and loads its driver"},
    {"sources", "it opens devices"},
    {"sinks", "it opens devices"},
    {"omx_libname", "it loads a library"},
    {"omx_libprefix", "it loads a library"},
    {"load_plugin", "it loads plugins"},
    {"load_plugins", "it loads plugins"},
    {"ifo_palette", "it reads another file"},
    {"header", "it writes another file"},
};
// Option families of the formats that write many files.
const std::vector<std::string> kRefusedOptionPrefixes = {"hls_", "segment_", "dash_"};
// Whatever other option names a file by its name is refused as well.
const std::vector<std::string> kFileNameSuffixes = {"file", "filename", "path", "dir"};

// Options whose value is a filter graph.
const std::set<std::string> kGraphOptions = {"vf", "af", "filter", "filter_complex", "lavfi"};
// Options whose value selects inputs by number; only the source, input 0, exists.
const std::set<std::string> kInputSelectors = {"map", "map_metadata", "map_chapters", "map_channel"};
// Options whose value is an encoder library's own "key=value:key=value" list.
const std::set<std::string> kLibraryParameterOptions = {"x264-params",   "x264opts",      "x265-params",
                                                        "svtav1-params", "aom-params",    "rav1e-params",
                                                        "kvazaar-params", "xavs2-params", "vvenc-params"};
// Keys of those lists that read or write files, or run programs.
const std::set<std::string> kLibraryFileKeys = {
    "stats",      "qpfile",          "tcfile-in",      "tcfile-out",  "cqmfile",    "dump-yuv",
    "opencl-clbin", "csv",           "analysis-save",  "analysis-load", "analysis-reuse-file", "zonefile",
    "zones-file", "dolby-vision-rpu", "scaling-list", "lambda-file", "recon",      "recon-y4m-exec",
    "dhdr10-info", "fgs-table",      "film-grain-table", "vmaf-model-path", "partition-info-path",
    "subgop-config-path", "passlogfile", "input",    "output",      "log-file"};

// Output formats that open files, devices or network connections of their own instead of
// writing the one output: many-file formats, wrappers of other formats, network senders,
// and devices.
const std::set<std::string> kRefusedFormats = {
    "dash",    "hls",     "hds",    "segment",   "ssegment", "stream_segment", "smoothstreaming", "webm_chunk",
    "tee",     "fifo",    "fifo_test", "rtsp",   "sap",      "rtp",            "rtp_mpegts",      "whip",
    "alsa",    "caca",    "fbdev",  "opengl",    "oss",      "pulse",          "sdl",             "sdl2",
    "video4linux2", "v4l2", "xv",   "decklink",  "sndio",    "audiotoolbox",   "jack",            "lavfi"};
// Output name endings that make ffmpeg pick such a format by itself.
const std::map<std::string, std::string> kRefusedExtensions = {{"m3u8", "hls"}, {"mpd", "dash"}, {"chk", "webm_chunk"}};
// Formats that turn a "%" in the output name into many file names.
const std::set<std::string> kPatternFormats = {"image2"};
const std::set<std::string> kImageExtensions = {
    "bmp", "dpx", "exr", "jls", "jpeg", "jpg", "jxl", "ljpg", "pam", "pbm", "pcx", "pfm", "pgm", "pgmyuv",
    "phm", "png", "ppm", "sgi", "tga", "tif", "tiff", "jp2", "j2c", "j2k", "xwd", "sun", "ras", "rs", "im1",
    "im8", "im24", "sunras", "vbn", "xbm", "xface", "pix", "y", "avif", "qoi"};

// Filters that load code, read or write files, open network sockets, or read other media.
const std::set<std::string> kRefusedFilters = {
    "ladspa",   "lv2",          "frei0r",       "frei0r_src",     "movie",          "amovie",     "subtitles",
    "ass",      "sendcmd",      "asendcmd",     "zmq",            "azmq",           "lut1d",      "lut3d",
    "removelogo", "cover_rect", "find_rect",    "signature",      "vidstabdetect",  "vidstabtransform",
    "sofalizer", "arnndn",      "asr",          "dnn_processing", "dnn_detect",     "dnn_classify", "sr",
    "derain",   "nnedi",        "fieldhint",    "openclsrc",      "program_opencl", "xfade_opencl", "libplacebo",
    "cellauto", "life",         "flite",        "ocr",            "lensfun",        "libvmaf",    "coreimage",
    "coreimagesrc", "qrencode", "qrencodesrc",  "whisper",        "dnn",            "ocv"};
// Filters that read or write a file only when one of these options is given. An option
// may also be given by position: the value at that position (counted from 0) and later
// ones may set it.
struct FileOptions {
    std::set<std::string> names;
    size_t firstPosition;
};
const std::map<std::string, FileOptions> kFilterFileOptions = {
    {"drawtext", {{"fontfile", "textfile"}, 0}},     {"showcqt", {{"fontfile", "axisfile"}, 19}},
    {"psnr", {{"stats_file", "f"}, 0}},              {"ssim", {{"stats_file", "f"}, 0}},
    {"vmafmotion", {{"stats_file"}, 0}},             {"metadata", {{"file"}, 5}},
    {"ametadata", {{"file"}, 5}},                    {"curves", {{"psfile", "plot"}, 6}},
    {"selectivecolor", {{"psfile"}, 10}},            {"paletteuse", {{"debug_kdtree"}, 6}},
    {"deshake", {{"filename"}, 10}},                 {"firequalizer", {{"dumpfile"}, 9}},
};

// ffmpeg's protocols: a value that starts with one of them followed by ":" names a place
// ffmpeg would open.
const std::set<std::string> kProtocols = {
    "async", "bluray", "cache", "concat", "concatf", "crypto", "data", "fd", "ffrtmpcrypt", "ffrtmphttp",
    "file", "ftp", "gopher", "gophers", "hls", "http", "httpproxy", "https", "icecast", "ipfs", "ipns",
    "md5", "mmsh", "mmst", "pipe", "prompeg", "rist", "rtmp", "rtmpe", "rtmps", "rtmpt", "rtmpte", "rtmpts",
    "rtp", "sctp", "sftp", "smb", "srt", "srtp", "subfile", "tcp", "tee", "tls", "udp", "udplite", "unix",
    "zmq", "amqp", "librtmp", "dtls", "android_content"};

// ---------------------------------------------------------------------------------------

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
bool EndsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// How a value is shown in a message: quoted, and cut when long.
std::string Shown(const std::string& value)
{
    constexpr size_t kMax = 60;
    return "\"" + (value.size() > kMax ? value.substr(0, kMax) + "..." : value) + "\"";
}

// The protocol a value starts with ("http" for "http://host/x"), or empty.
std::string LeadingProtocol(const std::string& value)
{
    size_t k = 0;
    while (k < value.size() && (std::isalnum(static_cast<unsigned char>(value[k])) || value[k] == '+'
                                || value[k] == '-' || value[k] == '.' || value[k] == '_'))
        ++k;
    if (k == 0 || k >= value.size() || value[k] != ':' || !std::isalpha(static_cast<unsigned char>(value[0])))
        return std::string();
    const std::string scheme = Lower(value.substr(0, k));
    if (kProtocols.count(scheme) || value.compare(k, 3, "://") == 0)
        return scheme;
    return std::string();
}

// One token of a filter graph, read the way libavfilter reads it: '…' quotes, a
// backslash escapes the next character, and the token ends at one of the stop characters.
std::string GraphToken(const std::string& text, size_t& i, const char* stops)
{
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    std::string out;
    size_t keep = 0; // length of out that trailing blanks may not take away
    while (i < text.size() && !std::strchr(stops, text[i])) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[i + 1];
            i += 2;
            keep = out.size();
        } else if (text[i] == '\'') {
            ++i;
            while (i < text.size() && text[i] != '\'')
                out += text[i++];
            if (i < text.size())
                ++i;
            keep = out.size();
        } else {
            out += text[i++];
        }
    }
    while (out.size() > keep && std::isspace(static_cast<unsigned char>(out.back())))
        out.pop_back();
    return out;
}

struct FilterUse {
    std::string name;
    std::string arguments;
};

std::vector<FilterUse> FiltersOf(const std::string& graph)
{
    std::vector<FilterUse> filters;
    size_t i = 0;
    const auto skipLabels = [&] {
        for (;;) {
            while (i < graph.size() && std::isspace(static_cast<unsigned char>(graph[i])))
                ++i;
            if (i >= graph.size() || graph[i] != '[')
                return;
            const size_t close = graph.find(']', i);
            i = close == std::string::npos ? graph.size() : close + 1;
        }
    };
    while (i < graph.size()) {
        skipLabels();
        FilterUse f;
        f.name = GraphToken(graph, i, "=,;[");
        if (i < graph.size() && graph[i] == '=') {
            ++i;
            f.arguments = GraphToken(graph, i, "[],;");
        }
        skipLabels();
        if (i < graph.size() && (graph[i] == ',' || graph[i] == ';'))
            ++i;
        else if (i < graph.size() && graph[i] == ']')
            ++i; // a stray bracket: move on rather than stop
        const size_t at = f.name.find('@');
        if (at != std::string::npos)
            f.name.erase(at);
        f.name = Lower(f.name);
        if (!f.name.empty())
            filters.push_back(f);
    }
    return filters;
}

bool IsKeyCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '/' || c == '.';
}

// Why a filter graph is refused, or empty.
std::string CheckGraph(const std::string& graph)
{
    for (const FilterUse& f : FiltersOf(graph)) {
        if (kRefusedFilters.count(f.name) || StartsWith(f.name, "dnn_"))
            return "the filter " + f.name + " loads code or reads or writes other files";
        const auto options = kFilterFileOptions.find(f.name);
        if (options == kFilterFileOptions.end())
            continue;
        // The arguments: "value:value:key=value:…"; values come first, by position.
        size_t i = 0;
        size_t position = 0;
        bool named = false;
        while (i <= f.arguments.size() && !f.arguments.empty()) {
            size_t k = i;
            while (k < f.arguments.size() && IsKeyCharacter(f.arguments[k]))
                ++k;
            std::string key;
            if (k > i && k < f.arguments.size() && f.arguments[k] == '=') {
                key = f.arguments.substr(i, k - i);
                i = k + 1;
                named = true;
            }
            GraphToken(f.arguments, i, ":");
            if (!key.empty() && options->second.names.count(key))
                return "the " + key + " option of the filter " + f.name + " reads or writes a file";
            if (key.empty() && !named && position++ >= options->second.firstPosition)
                return "a value given by position to the filter " + f.name
                       + " may name a file; give its options by name";
            if (i >= f.arguments.size())
                break;
            ++i; // the ":"
        }
    }
    return std::string();
}

// Why an encoder library's parameter list is refused, or empty.
std::string CheckLibraryParameters(const std::string& list)
{
    size_t from = 0;
    while (from <= list.size()) {
        size_t to = list.find_first_of(":,", from);
        if (to == std::string::npos)
            to = list.size();
        const std::string item = list.substr(from, to - from);
        const std::string key = Lower(item.substr(0, item.find('=')));
        const bool fileLike = key.find("file") != std::string::npos || key.find("path") != std::string::npos
                              || key.find("dump") != std::string::npos || key.find("exec") != std::string::npos;
        if (!key.empty() && (kLibraryFileKeys.count(key) || fileLike))
            return "its key " + key + " reads or writes a file";
        from = to + 1;
    }
    return std::string();
}

// Whether a selector value names an input other than the source: its leading number
// ("1" in "1:v", "-1:a?"), or the second number of "0:0,1:0". "-1" alone switches the
// copying off, and "[label]" names a filter graph's output.
bool SelectsOtherInput(const std::string& value, const std::string& option)
{
    if (value == "-1" || (!value.empty() && value[0] == '['))
        return false;
    size_t k = value.compare(0, 1, "-") == 0 ? 1 : 0;
    const size_t digits = k;
    while (k < value.size() && std::isdigit(static_cast<unsigned char>(value[k])))
        ++k;
    if (k > digits && std::strtol(value.substr(digits, k - digits).c_str(), nullptr, 10) != 0)
        return true;
    const size_t comma = value.find(',');
    return option == "map" && comma != std::string::npos && SelectsOtherInput(value.substr(comma + 1), option);
}

std::string Folder(const std::string& path)
{
    const size_t cut = path.rfind('/');
    if (cut == std::string::npos)
        return ".";
    return cut == 0 ? "/" : path.substr(0, cut);
}

std::string RealFolder(const std::string& folder)
{
    char buf[PATH_MAX];
    return ::realpath(folder.c_str(), buf) ? std::string(buf) : std::string();
}

// A file named by prefix (as ffmpeg writes its two-pass log) lies in the output's folder.
bool InOutputFolder(const std::string& prefix, const std::string& output)
{
    const std::string outFolder = RealFolder(Folder(output));
    const std::string folder = RealFolder(Folder(prefix));
    if (outFolder.empty() || folder.empty())
        return false;
    return folder == outFolder || StartsWith(folder, outFolder == "/" ? outFolder : outFolder + "/");
}

std::string Extension(const std::string& path)
{
    const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : Lower(name.substr(dot + 1));
}

class Checker {
public:
    explicit Checker(std::string output) : m_output(std::move(output)) {}

    // Why the profile switches are refused, or empty.
    std::string Check(const std::vector<std::string>& sw)
    {
        std::string previous; // the option before, for a message about a stray argument
        bool previousTookValue = false;
        for (size_t k = 0; k < sw.size();) {
            const std::string& a = sw[k];
            if (a.size() < 2 || a[0] != '-') {
                if (previous.empty())
                    return "the profile option " + Shown(a) + " is no option: ffmpeg would write a second output file "
                           "of that name";
                return "the profile option " + previous
                       + (previousTookValue ? " has a value with a blank in it: " : " takes no value: ") + Shown(a)
                       + " would become a second output file";
            }
            if (a == "--")
                return "the profile option -- is refused: it makes the next argument an output file";
            const std::string name = a.substr(1);
            const std::string base = name.substr(0, name.find(':'));
            const bool noForm = StartsWith(base, "no")
                                && (kBooleans.count(base.substr(2)) || kBooleansWithValue.count(base.substr(2)));
            const bool takesValue = !kBooleans.count(base) && !kActionsWithoutValue.count(base) && !noForm;
            std::string value;
            if (takesValue) {
                if (k + 1 >= sw.size())
                    return "the profile option " + a + " has no value";
                value = sw[k + 1];
            }
            const std::string why = CheckOption(base, value);
            if (!why.empty())
                return "the profile option " + a + (takesValue ? " " + Shown(value) : std::string()) + " is refused: "
                       + why;
            previous = a;
            previousTookValue = takesValue;
            k += takesValue ? 2 : 1;
        }
        return CheckOutput();
    }

private:
    std::string CheckOption(const std::string& option, const std::string& value)
    {
        if (!option.empty() && option[0] == '/')
            return "it reads its value from a file";
        if (kExiting.count(option))
            return "it ends ffmpeg without encoding anything";
        const auto refused = kRefusedOptions.find(option);
        if (refused != kRefusedOptions.end())
            return refused->second;
        for (const std::string& prefix : kRefusedOptionPrefixes)
            if (StartsWith(option, prefix))
                return "it belongs to a format that writes many files";
        if (option == "f") {
            m_format = Lower(value);
            if (kRefusedFormats.count(m_format))
                return "the format " + m_format + " writes other files, devices or network streams";
            return std::string();
        }
        if (kGraphOptions.count(option))
            return CheckGraph(value);
        if (kInputSelectors.count(option))
            return SelectsOtherInput(value, option) ? "it uses an input other than the source" : std::string();
        if (kLibraryParameterOptions.count(option))
            return CheckLibraryParameters(value);
        if (option == "passlogfile") {
            m_passLog = true;
            return InOutputFolder(value, m_output) ? std::string() : "its log files would lie outside the output folder";
        }
        if (option == "pass") {
            // Without -passlogfile the log goes to "ffmpeg2pass-0.log" in the current folder.
            m_pass = true;
        }
        if (!EndsWith(option, "profile"))
            for (const std::string& suffix : kFileNameSuffixes)
                if (EndsWith(option, suffix))
                    return "it names a file";
        const std::string protocol = LeadingProtocol(value);
        if (!protocol.empty())
            return "its value names the protocol " + protocol + ":";
        return std::string();
    }

    std::string CheckOutput() const
    {
        if (m_pass && !m_passLog && !InOutputFolder("ffmpeg2pass", m_output))
            return "the profile option -pass is refused: its log files would lie outside the output folder; "
                   "name them with -passlogfile";
        const std::string ext = Extension(m_output);
        if (m_format.empty()) {
            const auto refused = kRefusedExtensions.find(ext);
            if (refused != kRefusedExtensions.end())
                return "the profile's output type ." + ext + " is refused: the format " + refused->second
                       + " writes many files";
        }
        const bool pattern = kPatternFormats.count(m_format) || (m_format.empty() && kImageExtensions.count(ext));
        const std::string name = m_output.substr(m_output.rfind('/') == std::string::npos ? 0 : m_output.rfind('/') + 1);
        if (pattern && name.find('%') != std::string::npos)
            return "the profile's output type ." + ext + " is refused for this output: the \"%\" in its name would "
                   "make many files";
        return std::string();
    }

    std::string m_output;
    std::string m_format;
    bool m_pass = false;
    bool m_passLog = false;
};

} // namespace

std::string RefusedProfileSwitches(const std::vector<std::string>& args)
{
    if (args.empty())
        return std::string();
    // The program's own options come first, each once: -y, -i <source>, -ss <start>, -t <length>.
    const size_t end = args.size() - 1; // the output
    size_t k = 0;
    std::set<std::string> own;
    while (k < end) {
        const std::string& a = args[k];
        if (a == "-y" && !own.count(a)) {
            own.insert(a);
            k += 1;
        } else if ((a == "-i" || a == "-ss" || a == "-t") && !own.count(a) && k + 1 < end) {
            own.insert(a);
            k += 2;
        } else {
            break;
        }
    }
    const std::string why =
        Checker(args.back()).Check(std::vector<std::string>(args.begin() + long(k), args.begin() + long(end)));
    return why.empty() ? why : why + ".";
}
