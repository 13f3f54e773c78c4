// wmaspi.dll: the encoder the program starts once per section.
//
//   wmaspi.dll -y -i <source> -ss <start> -t <length> [profile switches...] <output>
//
// It runs ffmpeg with the same options, moving -ss in front of -i so that a section deep
// into a long source costs no decoding of what lies before it, and reports progress on
// its standard output as lines "time=<seconds> " (a blank after the number, "." as the
// decimal point), flushed at once; when ffmpeg has succeeded, a last line gives the
// section's whole length. ffmpeg's own error messages reach standard error unchanged. The
// exit status is ffmpeg's. ffmpeg dies with the encoder.
//
// With -cut_points exact and the video copied, the video is cut on the section's exact
// frames (see exact_cut.h): this program writes it and ffmpeg takes it from a pipe, with the
// source's other streams. Where that cannot be done, the copy starts on key frames instead
// and one line on standard error says so:
//
//   wmaspi.dll: note: cut on key frames from HH:MM:SS.mmm to HH:MM:SS.mmm: <why>
//
// (both times equal: nothing lay between the key frames, and no output was written).
//
// Where the program's maps keep the source's subtitles, a section's cues are read first, cut
// to it, into a file beside the output that the section's run takes them from (see
// subtitle_cues.h); the file is removed however the section ends.
//
// With -join it puts the finished pieces of one job together into one file instead (see
// RunJoin below).
//
// Profile switches that would reach beyond the one output (see SwitchPolicy.h) are refused
// before ffmpeg starts: status 2, and one line on standard error naming the option. ffmpeg
// itself runs in a sandbox (see Sandbox.h); a layer the kernel lacks is said on standard
// error as "wmaspi.dll: sandbox: <what is missing>".
#include "Sandbox.h"
#include "SwitchPolicy.h"
#include "exact_cut.h"
#include "mkv_projection.h"
#include "mp4_edits.h"
// Options of the section's cut that ffmpeg has no switch for: see section_cut.h.
#include "section_cut.h"
#include "sound_ticks.h"
#include "stream_maps.h"
#include "subtitle_cues.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <optional>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_stop = 0;
// The walls ffmpeg is started within (null: none).
const Sandbox* g_sandbox = nullptr;

void Say(const std::string& text)
{
    const std::string line = "wmaspi.dll: " + text + "\n";
    ssize_t unused = ::write(STDERR_FILENO, line.data(), line.size());
    (void)unused;
}

void WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void Forward(int sig)
{
    g_stop = sig;
    if (g_child > 0)
        ::kill(g_child, sig);
}

bool IsExecutableFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string OwnFolder()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::string();
    std::string self(buf, static_cast<size_t>(n));
    const auto cut = self.rfind('/');
    return cut == std::string::npos ? std::string() : self.substr(0, cut);
}

// ffmpeg beside the encoder first, then on PATH.
std::string FindFfmpeg()
{
    const std::string folder = OwnFolder();
    if (!folder.empty() && IsExecutableFile(folder + "/ffmpeg"))
        return folder + "/ffmpeg";
    const char* path = std::getenv("PATH");
    if (!path)
        return std::string();
    std::string all(path);
    size_t from = 0;
    while (from <= all.size()) {
        size_t to = all.find(':', from);
        if (to == std::string::npos)
            to = all.size();
        std::string dir = all.substr(from, to - from);
        if (dir.empty())
            dir = ".";
        if (IsExecutableFile(dir + "/ffmpeg"))
            return dir + "/ffmpeg";
        from = to + 1;
    }
    return std::string();
}

// A path that ffmpeg would misread (taken for a protocol such as "name:" or, for the
// output, for an option such as "-x") is handed over as a plain file.
std::string AsFile(const std::string& path)
{
    size_t k = 0;
    while (k < path.size() && (std::isalnum(static_cast<unsigned char>(path[k])) || path[k] == '+' || path[k] == '-'
                               || path[k] == '.'))
        ++k;
    const bool looksLikeProtocol = k > 0 && k < path.size() && path[k] == ':';
    if (looksLikeProtocol || (!path.empty() && path[0] == '-'))
        return "file:" + path;
    return path;
}

// Seconds as ffmpeg reads them, to the microsecond.
std::string Micro(long long us)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%lld.%06lld", us < 0 ? "-" : "", std::llabs(us) / 1000000, std::llabs(us) % 1000000);
    return buf;
}
std::string Seconds(double s) { return Micro(std::llround(s * 1e6)); }

void ReportProgress(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return;
    const long long us = std::llround(seconds * 1e6);
    char out[64];
    const int n = std::snprintf(out, sizeof out, "time=%lld.%06lld \n", us / 1000000, us % 1000000);
    if (n > 0)
        WriteAll(STDOUT_FILENO, out, static_cast<size_t>(n));
}

// What the program asked for, taken apart.
struct Invocation {
    std::string input;
    std::string output;
    std::string seek;
    std::string length;              // the section's length (the first -t after the input)
    std::vector<std::string> before; // options that stood before -i (input options)
    std::vector<std::string> after;  // options after it (output options), -t among them
    SectionCut cut;
};

bool ParseInvocation(int argc, char** argv, Invocation& inv)
{
    std::vector<std::string> in(argv + 1, argv + argc);
    if (in.size() < 2) {
        Say("usage: wmaspi.dll -y -i <source> -ss <start> -t <length> [options...] <output>");
        return false;
    }
    inv.output = in.back();
    in.pop_back();

    bool haveInput = false;
    std::string cutError;
    for (size_t k = 0; k < in.size(); ++k) {
        const std::string& a = in[k];
        if (TakeSectionCutOption(in, k, inv.cut, cutError))
            continue;
        if (!haveInput && a == "-i" && k + 1 < in.size()) {
            inv.input = in[++k];
            haveInput = true;
        } else if (a == "-ss" && k + 1 < in.size() && inv.seek.empty()) {
            inv.seek = in[++k];
        } else {
            if (haveInput && a == "-t" && k + 1 < in.size() && inv.length.empty())
                inv.length = in[k + 1];
            (haveInput ? inv.after : inv.before).push_back(a);
        }
    }
    if (!haveInput) {
        Say("no source given (-i)");
        return false;
    }
    if (!cutError.empty()) {
        Say(cutError);
        return false;
    }
    return true;
}

std::vector<std::string> FfmpegStart()
{
    return {"-nostdin", "-hide_banner", "-nostats", "-loglevel", "error"};
}

// At the source's very start nothing lies before the cut: no seek, and nothing kept out
// from before it. ffmpeg would otherwise drop the first packets it cannot place (B-frames in
// AVI come without presentation times, and with them the whole first key-frame interval)
// or the sound's priming.
bool AtStart(const std::string& seek) { return !seek.empty() && std::strtod(seek.c_str(), nullptr) == 0; }

void KeepPriorAtStart(std::vector<std::string>& after, const std::string& seek)
{
    if (!AtStart(seek))
        return;
    for (size_t k = 0; k + 1 < after.size(); ++k)
        if (after[k] == "-copypriorss" && after[k + 1] == "0") {
            after.erase(after.begin() + long(k), after.begin() + long(k) + 2);
            return;
        }
}

// A profile's "-avoid_negative_ts make_zero" asks for a section that starts at 0. ffmpeg shifts
// by the first decode time, though, so video with B-frames then starts as many frames late
// as it reorders (0.08 s to 0.24 s), and the sound with it. The seek has already put the
// start at 0; "auto" shifts only what would fall before it, by presentation time where
// the container stores that (Matroska).
void StartAtZero(std::vector<std::string>& after)
{
    for (size_t k = 0; k + 1 < after.size(); ++k)
        if (after[k] == "-avoid_negative_ts" && after[k + 1] == "make_zero")
            after[k + 1] = "auto";
}

bool HasOption(const std::vector<std::string>& options, const std::string& name)
{
    return std::find(options.begin(), options.end(), name) != options.end();
}

// ffmpeg's arguments for an ordinary section: the source read once (or twice, see
// section_cut.h), the profile's switches, the output.
// The section's cues as the next input (numbered input), counted from where the output's -ss
// puts the section's start, and the output's subtitle maps pointed at them.
void TakeCuesFrom(const std::string& cueFile, int input, double outputStart, std::vector<std::string>& args,
                  std::vector<std::string>& after)
{
    if (outputStart != 0) {
        args.push_back("-itsoffset");
        args.push_back(Seconds(outputStart));
    }
    args.push_back("-i");
    args.push_back(AsFile(cueFile));
    PointSubtitleMapsAt(after, input);
}

bool KeepsDecodeTimes(const std::string& output);
void KeepDecodeTimes(std::vector<std::string>& after);

// Copied video that is whole only when decoded from a key frame before the start (a recovery
// point of an intra refresh, into MP4 or MOV): how far before the start the copy begins, or 0.
// The profile must leave the inputs to the program (maps by kind) for the video to be read on
// its own.
double CopiedFromEarlier(const Invocation& inv)
{
    if (inv.cut.decodeFrom.empty() || inv.seek.empty() || !VideoCopiedAsIs(inv.after) || !MapsByKind(inv.after)
        || !KeepsDecodeTimes(inv.output))
        return 0;
    const double seek = std::strtod(inv.seek.c_str(), nullptr);
    const double from = std::strtod(inv.cut.decodeFrom.c_str(), nullptr);
    return from >= 0 && from < seek ? seek - from : 0;
}

// The inputs for that: the video read from the earlier key frame on its own, its time stamps
// moved so that the section's start is 0 (what lies before it falls before 0: copied along,
// the muxer's edit list hides it, see UnmarkSyncSamplesBeforeEdit), ended at the decode time
// of the next section's key frame; the other streams read from the start as usual.
std::vector<std::string> EarlierVideoInputs(const Invocation& inv, double earlier,
                                            const std::vector<std::string>& inputOptions,
                                            std::vector<std::string>& after)
{
    const double seek = std::strtod(inv.seek.c_str(), nullptr);
    std::vector<std::string> inputs = inputOptions;
    inputs.insert(inputs.end(), {"-ss", Seconds(seek - earlier), "-itsoffset", Seconds(-earlier)});
    if (!inv.cut.videoEndDts.empty() && std::strtod(inv.cut.videoEndDts.c_str(), nullptr) > 0)
        inputs.insert(inputs.end(), {"-t", inv.cut.videoEndDts});
    inputs.insert(inputs.end(), {"-an", "-sn", "-dn", "-i", AsFile(inv.input)});
    inputs.insert(inputs.end(), inputOptions.begin(), inputOptions.end());
    inputs.insert(inputs.end(), {"-ss", inv.seek, "-vn", "-i", AsFile(inv.input)});
    PointMapsAtInputs(after, 0, 1, false);
    // The video's packets before the start are kept (a profile's -copypriorss 0 is for the
    // sound), and its time stamps as they are: the muxer's edit list starts the video at 0.
    after.insert(after.end(), {"-copypriorss:v", "1"});
    KeepDecodeTimes(after);
    return inputs;
}

// cueFile: the section's subtitles, read ahead (see subtitle_cues.h); empty: from the source.
std::vector<std::string> PlainArguments(const Invocation& inv, const std::string& cueFile)
{
    std::vector<std::string> args = FfmpegStart();
    args.push_back("-progress");
    args.push_back("pipe:1");
    std::vector<std::string> inputOptions = inv.before;
    std::vector<std::string> after = inv.after;
    const double seek = inv.seek.empty() ? 0 : std::strtod(inv.seek.c_str(), nullptr);
    const double decodeFrom = inv.cut.decodeFrom.empty() ? seek : std::strtod(inv.cut.decodeFrom.c_str(), nullptr);
    double outputStart = 0; // where the output's -ss puts the section's start
    const double earlier = CopiedFromEarlier(inv);
    if (decodeFrom < seek && decodeFrom >= 0 && !VideoCopiedAsIs(after)) {
        // Decoded from a clean place before the start; the rest up to the start is dropped.
        if (decodeFrom > 0) {
            inputOptions.push_back("-ss");
            inputOptions.push_back(Seconds(decodeFrom));
        }
        after.insert(after.begin(), {"-ss", Seconds(seek - decodeFrom)});
        outputStart = seek - decodeFrom;
    } else if (!inv.seek.empty() && !AtStart(inv.seek)) {
        if (earlier == 0) { // else each input seeks on its own
            inputOptions.push_back("-ss");
            inputOptions.push_back(inv.seek);
        }
        // Nothing from before the seek: a subtitle cue that began earlier (which ffmpeg
        // hands on, with a time before 0, when it encodes the subtitles) would otherwise
        // shift the whole section by that much. Not with copied video: ffmpeg compares the
        // decode time of its packets with this, and would drop the key frame of video with
        // B-frames, and everything up to the next key frame with it.
        if (!VideoCopiedAsIs(after))
            after.insert(after.begin(), {"-ss", "0"});
    }
    KeepPriorAtStart(after, inv.seek);
    StartAtZero(after);
    if (VideoCopiedAsIs(after) && !HasOption(inputOptions, "-fflags")) {
        // Copied pictures need a presentation time each, which program streams and AVI give
        // only some of (not to the reference pictures before B-frames): Matroska refuses a
        // picture without one, MP4 would show them in decode order.
        inputOptions.push_back("-fflags");
        inputOptions.push_back("+genpts");
    }
    if (const std::string clip = SubtitleEndFilter(after, inv.length); !clip.empty()) {
        // Ours first; the profile's own subtitle filters run after it (the last -bsf:s counts).
        std::string theirs;
        for (size_t k = 0; k + 1 < after.size(); ++k)
            if (after[k] == "-bsf:s" || after[k] == "-bsf:s:0" || after[k] == "-sbsf")
                theirs = after[k + 1];
        after.push_back("-bsf:s");
        after.push_back(theirs.empty() ? clip : clip + "," + theirs);
    }
    const std::vector<std::string> inputs = earlier > 0 ? EarlierVideoInputs(inv, earlier, inputOptions, after)
                                                        : SectionCutInputs(inv.cut, inputOptions, AsFile(inv.input), after);
    args.insert(args.end(), inputs.begin(), inputs.end());
    if (!cueFile.empty())
        TakeCuesFrom(cueFile, int(std::count(inputs.begin(), inputs.end(), "-i")), outputStart, args, after);
    args.insert(args.end(), after.begin(), after.end());
    args.push_back(AsFile(inv.output));
    return args;
}

// The section's length among the output options: replaced, or taken out (value empty).
void SetLength(std::vector<std::string>& after, const std::string& value)
{
    for (size_t k = 0; k + 1 < after.size(); ++k)
        if (after[k] == "-t") {
            if (value.empty())
                after.erase(after.begin() + long(k), after.begin() + long(k) + 2);
            else
                after[k + 1] = value;
            return;
        }
    if (!value.empty()) {
        after.insert(after.begin(), value);
        after.insert(after.begin(), "-t");
    }
}

// A section whose start only an exact cut could make (-cut_start), copied from the key frame
// named instead: it starts that much later and is that much shorter, and its video's end,
// counted from its start, comes that much earlier.
Invocation FromStartKeyFrame(const Invocation& inv)
{
    Invocation keyed = inv;
    const double start = std::strtod(inv.seek.c_str(), nullptr);
    const double key = std::strtod(inv.cut.exactStartKey.c_str(), nullptr);
    const double later = key > start ? key - start : 0;
    keyed.cut.exactStartKey.clear();
    if (!(later > 0))
        return keyed;
    keyed.seek = Seconds(key);
    keyed.length = Seconds(std::max(0.0, std::strtod(inv.length.c_str(), nullptr) - later));
    SetLength(keyed.after, keyed.length);
    if (!inv.cut.videoEndDts.empty())
        keyed.cut.videoEndDts = Seconds(std::strtod(inv.cut.videoEndDts.c_str(), nullptr) - later);
    if (!inv.cut.videoShownUntil.empty())
        keyed.cut.videoShownUntil = Seconds(std::strtod(inv.cut.videoShownUntil.c_str(), nullptr) - later);
    return keyed;
}

// Starts ffmpeg with its standard input and output on the given descriptors (-1: nothing).
pid_t Spawn(const std::string& ffmpeg, const std::vector<std::string>& args, int input, int output)
{
    std::vector<char*> cargs;
    cargs.push_back(const_cast<char*>(ffmpeg.c_str()));
    for (const std::string& a : args)
        cargs.push_back(const_cast<char*>(a.c_str()));
    cargs.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        Say(std::string("cannot start ffmpeg: ") + std::strerror(errno));
        return -1;
    }
    if (child == 0) {
        // ffmpeg goes when the encoder goes, however it goes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(125);
        const int null = ::open("/dev/null", O_RDWR);
        // dup2 clears close-on-exec on the copy.
        ::dup2(output >= 0 ? output : null, STDOUT_FILENO);
        ::dup2(input >= 0 ? input : null, STDIN_FILENO);
        if (g_sandbox)
            g_sandbox->Enter();
        ::execv(cargs[0], cargs.data());
        const std::string msg = std::string("wmaspi.dll: cannot run ") + ffmpeg + ": " + std::strerror(errno) + "\n";
        ssize_t unused = ::write(STDERR_FILENO, msg.data(), msg.size());
        (void)unused;
        ::_exit(126);
    }
    g_child = child;
    return child;
}

// "SIGSEGV (Segmentation fault)", or the number of a signal without a name.
std::string SignalName(int sig)
{
    const char* abbreviation = ::sigabbrev_np(sig);
    const char* description = ::strsignal(sig);
    if (!abbreviation)
        return std::to_string(sig);
    return std::string("SIG") + abbreviation + (description ? std::string(" (") + description + ")" : std::string());
}

// ffmpeg's end as the encoder's exit status.
int StatusOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
        Say("ffmpeg was ended by signal " + SignalName(WTERMSIG(status)));
        return 128 + WTERMSIG(status);
    }
    return 1;
}

int Wait(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            Say(std::string("lost track of ffmpeg: ") + std::strerror(errno));
            return 126;
        }
    }
    g_child = 0;
    return StatusOf(status);
}

// "out_time_us=12345678" -> "time=12.345678 "
void ReportProgressLine(const std::string& line)
{
    static const std::string key = "out_time_us=";
    if (line.compare(0, key.size(), key) != 0)
        return;
    const std::string value = line.substr(key.size());
    char* end = nullptr;
    errno = 0;
    const long long us = std::strtoll(value.c_str(), &end, 10);
    if (end == value.c_str() || errno != 0 || us < 0)
        return; // "N/A" before the first frame, or the priming of an audio stream
    ReportProgress(double(us) / 1e6);
}

int RunWithProgress(const std::string& ffmpeg, const std::vector<std::string>& args);

// The file the section's cues are read ahead into; removed with this, whatever way the
// section ends (a stop included: the signal only ends ffmpeg).
class CueFile {
public:
    CueFile() = default;
    CueFile(const CueFile&) = delete;
    CueFile& operator=(const CueFile&) = delete;
    ~CueFile() { Remove(); }
    void Remove()
    {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
        m_path.clear();
    }
    const std::string& Path() const { return m_path; }
    void Set(const std::string& path) { m_path = path; }

private:
    std::string m_path;
};

// Reads the cues of a section that starts at start and lasts length into cues, where the
// output keeps the source's subtitles and something lies before the start. False only when
// stopped; a reading that fails leaves the subtitles to the section's own run, as without it.
bool ReadCues(const std::string& ffmpeg, const Invocation& inv, double start, double length, CueFile& cues)
{
    if (!(start > 0) || !(length > 0) || !MapsSubtitlesByKind(inv.after))
        return true;
    // The helper file is created here, exclusively, so that a user's file that happens to carry
    // its name is never overwritten or removed: another name is taken instead.
    std::string path;
    const std::string wanted = CueFilePath(inv.input, inv.output);
    const size_t extension = wanted.rfind(".cues.");
    for (int k = 0; k < 100 && path.empty(); ++k) {
        const std::string candidate
            = k == 0 ? wanted : wanted.substr(0, extension) + "-" + std::to_string(k) + wanted.substr(extension);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            path = candidate;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (path.empty())
        return true;
    cues.Set(path);
    std::vector<std::string> args = FfmpegStart();
    // Its failure is no fault of the section's: the section's own run reads the subtitles then.
    args[4] = "quiet";
    args.push_back("-y");
    const std::vector<std::string> reading = CueReadingArguments(AsFile(inv.input), start, length, AsFile(path));
    args.insert(args.end(), reading.begin(), reading.end());
    const pid_t child = Spawn(ffmpeg, args, -1, -1);
    const int status = child < 0 ? 126 : Wait(child);
    if (g_stop)
        return false;
    if (status != 0)
        cues.Remove();
    return true;
}

// How the source's sound counts its time, from the exact-cut module (which links the FFmpeg
// libraries); none when it cannot say.
SoundTicks ReadSoundTicks(const std::string& source)
{
    SoundTicks ticks;
    void* module = ::dlopen((OwnFolder() + "/" + kExactCutModule).c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto read = module ? reinterpret_cast<bool (*)(const char*, SoundTicks*)>(::dlsym(module, kSoundTicksEntry)) : nullptr;
    if (!read || !read(source.c_str(), &ticks))
        ticks = SoundTicks();
    return ticks;
}

// Whether the section copies the sound alongside copied video, into streams the program
// maps by kind: the sound can then be read apart and ended on its own steps.
bool CopiesSoundWithVideo(const std::vector<std::string>& after)
{
    const vt_switches::StreamTreatment t = vt_switches::ReadStreamTreatment(after);
    return t.audioCopied && !t.audioOff && !t.audioFiltered && VideoCopiedAsIs(after) && MapsByKind(after);
}

// Only AVI counts sound in packets among the containers users cut; the module is not loaded
// for the others, whose copies start faster without it.
bool MayCountSoundInPackets(const std::string& source)
{
    const size_t dot = source.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : source.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == "avi" || ext == "divx";
}

long long MicrosecondsOf(const std::string& seconds)
{
    return seconds.empty() ? 0 : std::llround(std::strtod(seconds.c_str(), nullptr) * 1e6);
}

int RunPlain(const std::string& ffmpeg, const Invocation& inv)
{
    CueFile cues;
    if (!inv.seek.empty()
        && !ReadCues(ffmpeg, inv, std::strtod(inv.seek.c_str(), nullptr), std::strtod(inv.length.c_str(), nullptr), cues))
        return 128 + g_stop;
    // The section's length as ffmpeg gets it (a cut on key frames has its own).
    std::string length;
    for (size_t k = 0; k + 1 < inv.after.size() && length.empty(); ++k)
        if (inv.after[k] == "-t")
            length = inv.after[k + 1];
    if (length.empty() || !CopiesSoundWithVideo(inv.after) || !MayCountSoundInPackets(inv.input))
        return RunWithProgress(ffmpeg, PlainArguments(inv, cues.Path()));
    Invocation stepped = inv;
    const long long seekUs = AtStart(inv.seek) ? 0 : MicrosecondsOf(inv.seek);
    stepped.cut.soundLength = CoarseSoundLength(ReadSoundTicks(inv.input), seekUs, MicrosecondsOf(length));
    return RunWithProgress(ffmpeg, PlainArguments(stepped, cues.Path()));
}

// Runs ffmpeg with "-progress pipe:1" among its arguments and passes its position on.
int RunWithProgress(const std::string& ffmpeg, const std::vector<std::string>& args)
{
    int progress[2];
    if (::pipe2(progress, O_CLOEXEC) != 0) {
        Say(std::string("cannot create a pipe: ") + std::strerror(errno));
        return 126;
    }
    const pid_t child = Spawn(ffmpeg, args, -1, progress[1]);
    ::close(progress[1]);
    if (child < 0) {
        ::close(progress[0]);
        return 126;
    }
    // ffmpeg's progress comes as "key=value" lines; only the position is passed on.
    std::string pending;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(progress[0], buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (n == 0)
            break;
        pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            ReportProgressLine(line);
        }
    }
    ::close(progress[0]);
    return Wait(child);
}

// The exact-cut module beside this program; null with why set when it cannot be loaded.
std::unique_ptr<ExactCut> LoadExactCut(std::string& why)
{
    const std::string path = OwnFolder() + "/" + kExactCutModule;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto create = module ? reinterpret_cast<ExactCut* (*)()>(::dlsym(module, kExactCutEntry)) : nullptr;
    if (!create) {
        const char* e = ::dlerror();
        why = e ? e : path;
        return nullptr;
    }
    return std::unique_ptr<ExactCut>(create());
}

// Decode times before 0 stay where they are: the muxer's edit list shows the first picture at
// 0, where shifting everything to start at zero would move every stream later by the video's
// decode lead.
void KeepDecodeTimes(std::vector<std::string>& after)
{
    for (size_t k = 0; k + 1 < after.size(); ++k)
        if (after[k] == "-avoid_negative_ts") {
            after[k + 1] = "disabled";
            return;
        }
    after.push_back("-avoid_negative_ts");
    after.push_back("disabled");
}

// Whether the profile filters the video's packets itself (-bsf).
bool FiltersVideoPackets(const std::vector<std::string>& after)
{
    for (const std::string& a : after)
        if (a == "-bsf" || a.rfind("-bsf:v", 0) == 0 || a.rfind("-bsf:0", 0) == 0)
            return true;
    return false;
}

// Whether the output keeps decode times of its own (MP4 and its kin), by its name.
bool KeepsDecodeTimes(const std::string& output)
{
    const size_t dot = output.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : output.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == "mp4" || ext == "m4v" || ext == "mov" || ext == "3gp";
}

// The exact cut: ffmpeg reads the source for everything but the video, from the section's
// first frame to the next section's, and the video from the pipe this program writes.
int RunExact(const std::string& ffmpeg, const Invocation& inv, ExactCut& exact, const ExactCutPlan& plan)
{
    const long long firstUs = std::llround(plan.first * 1e6);
    const double nominalEnd = std::strtod(inv.seek.c_str(), nullptr) + std::strtod(inv.length.c_str(), nullptr);
    const long long endUs = std::llround((plan.next ? *plan.next : nominalEnd) * 1e6);
    CueFile cues;
    if (!ReadCues(ffmpeg, inv, plan.first, double(endUs - firstUs) / 1e6, cues))
        return 128 + g_stop;
    std::vector<std::string> args = FfmpegStart();
    args.insert(args.end(), inv.before.begin(), inv.before.end());
    if (!AtStart(Micro(firstUs))) {
        args.push_back("-ss");
        args.push_back(Micro(firstUs));
    }
    // Copied sound counted in packets ends on one, where the next section's starts (see
    // sound_ticks.h); the section's -t must not end it before that.
    std::string length = Micro(std::max(0LL, endUs - firstUs));
    if (CopiesSoundWithVideo(inv.after) && exact.CoarseOtherStreams()) {
        const std::string sound
            = CoarseSoundLength(ReadSoundTicks(inv.input), AtStart(Micro(firstUs)) ? 0 : firstUs, endUs - firstUs);
        if (!sound.empty()) {
            args.push_back("-t");
            args.push_back(sound);
            if (MicrosecondsOf(sound) > endUs - firstUs)
                length = sound;
        }
    }
    args.push_back("-vn");
    args.push_back("-i");
    args.push_back(AsFile(inv.input));
    for (const std::string& a : {std::string("-f"), std::string("mp4"), std::string("-i"), std::string("pipe:0"),
                                 std::string("-t"), length})
        args.push_back(a);
    std::vector<std::string> after = inv.after;
    // The source (input 0) gives everything but the video, which comes from the pipe.
    if (PointMapsAtInputs(after, 1, 0, true) > 0)
        Say("note: an exact cut keeps one video track; the source's others are left out");
    // The subtitles from the cues read ahead, counted from the section's first frame as the pipe is.
    if (!cues.Path().empty()) {
        std::vector<std::string> cueInput;
        TakeCuesFrom(cues.Path(), 2, 0, cueInput, after);
        args.insert(args.end() - 2, cueInput.begin(), cueInput.end()); // before the pipe's -t
    }
    SetLength(after, std::string());
    KeepPriorAtStart(after, Micro(firstUs));
    if (plan.decodeLead > 0) {
        KeepDecodeTimes(after);
    }
    args.insert(args.end(), after.begin(), after.end());
    // Nothing from before the section's first frame: a seek in the source lands on the key frame
    // before it, and subtitles (encoded, so -copypriorss does not reach them) would start there,
    // seconds early, and shift everything else when made to start at zero. Not with a video
    // that decodes before 0 (MP4): ffmpeg would leave out its first pictures too.
    if (!AtStart(Micro(firstUs)) && !(plan.decodeLead > 0)) {
        args.push_back("-ss");
        args.push_back("0");
    }
    args.push_back(AsFile(inv.output));

    int video[2];
    if (::pipe2(video, O_CLOEXEC) != 0) {
        Say(std::string("cannot create a pipe: ") + std::strerror(errno));
        return 126;
    }
    ::signal(SIGPIPE, SIG_IGN);
    const pid_t child = Spawn(ffmpeg, args, video[0], -1);
    ::close(video[0]);
    if (child < 0) {
        ::close(video[1]);
        return 126;
    }
    // A line now and then: the program reads its output in chunks and takes the first line of each.
    auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    const auto progress = [&last](double seconds) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::milliseconds(250))
            return;
        last = now;
        ReportProgress(seconds);
    };
    std::string error;
    const bool written = exact.WriteVideo(video[1], progress, &g_stop, error);
    if (!written) {
        // ffmpeg gone first (a full disk, a bad output) has said why; otherwise it must not
        // finish a file from half the video.
        int status = 0;
        pid_t ended = 0;
        for (int k = 0; k < 200 && (ended = ::waitpid(child, &status, WNOHANG)) == 0; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (ended == 0) {
            ::kill(child, SIGKILL); // its end is ours, not a failure of its own to report
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            g_child = 0;
        } else {
            g_child = 0;
        }
        ::close(video[1]);
        if (g_stop)
            return 128 + g_stop;
        if (ended == child && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
            return StatusOf(status);
        Say(error);
        return 1;
    }
    ::close(video[1]);
    return Wait(child);
}

// ---- joining finished pieces into one file
//
//   wmaspi.dll -join <list> [-chapters <metadata>] [-c:a <codec> [-b:a <rate>] [-ar <rate>] [-ac <n>]] <output>
//
// The list is an ffconcat script that the program wrote in the output folder, naming pieces
// of the same job there; ffmpeg's concat demuxer reads them in order, each piece's time
// stamps running on from where the one before ended (its "outpoint"), and the streams are
// copied. Sound that was encoded piece by piece is encoded once more (each piece's encoder
// delay would otherwise sound at every join) and kept on its time stamps, so it stays with
// the pictures. The list, the chapters and the output must lie in one folder, and the list
// may only name plain files there: the sandbox then holds ffmpeg to that folder.

bool PlainName(const std::string& name)
{
    if (name.empty() || name.size() > 255 || name[0] == '.' || name[0] == '-')
        return false;
    for (const char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-'))
            return false;
    return true;
}

bool PlainNumber(const std::string& text)
{
    if (text.empty() || text.size() > 24)
        return false;
    int dots = 0;
    for (const char c : text) {
        if (c == '.')
            ++dots;
        else if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return dots <= 1 && text[0] != '.';
}

std::string FolderOf(const std::string& path)
{
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

// The list as the program writes it, and nothing else: a version line, then for each piece a
// "file 'NAME'" line and its "inpoint"/"outpoint".
bool CheckJoinList(const std::string& path, std::string& why)
{
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) {
        why = "cannot read the list " + path;
        return false;
    }
    char line[512];
    int number = 0, files = 0;
    bool ok = true;
    while (ok && std::fgets(line, sizeof line, f)) {
        std::string l(line);
        ++number;
        if (l.empty() || l.back() != '\n' || number > 300000) {
            ok = false;
            break;
        }
        l.pop_back();
        if (number == 1) {
            ok = l == "ffconcat version 1.0";
        } else if (l.rfind("file '", 0) == 0 && l.size() > 7 && l.back() == '\'') {
            ok = PlainName(l.substr(6, l.size() - 7));
            ++files;
        } else if (l.rfind("inpoint ", 0) == 0) {
            ok = files > 0 && PlainNumber(l.substr(8));
        } else if (l.rfind("outpoint ", 0) == 0) {
            ok = files > 0 && PlainNumber(l.substr(9));
        } else {
            ok = false;
        }
    }
    std::fclose(f);
    if (!ok || files == 0)
        why = "the list " + path + " is not one the program wrote (line " + std::to_string(number) + ")";
    return ok && files > 0;
}

// ---- the turn of copied video in Matroska
//
// FFmpeg 5.1 writes no turn (display matrix) into Matroska, though it reads one: a phone's
// portrait video copied into Matroska would play on its side. The Projection that says it is
// added to the finished file (see mkv_projection.h).

// Whether a file begins as an MP4 or QuickTime file does (its first box one of those that
// open such files).
bool LooksLikeMp4(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char head[8];
    const bool read = ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head);
    ::close(fd);
    if (!read)
        return false;
    const std::string type(head + 4, 4);
    for (const char* t : {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot"})
        if (type == t)
            return true;
    return false;
}

// The turn of the source's first video stream: its Projection where it is Matroska itself
// (read here, sparing a run of ffprobe), else the display matrix ffprobe (beside ffmpeg, in
// the same walls) finds; none when it has
// none or cannot be read. Of the containers FFmpeg reads, only these two carry a turn: others
// cost no run of ffprobe.
std::optional<VideoTurn> SourceTurn(const std::string& ffmpeg, const std::string& source)
{
    const MatroskaVideoTrack own = ReadMatroskaVideoTrack(source);
    if (own.matroska)
        return own.turn;
    const std::string ffprobe = FolderOf(ffmpeg) + "/ffprobe";
    if (!LooksLikeMp4(source) || !IsExecutableFile(ffprobe))
        return std::nullopt;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t child = Spawn(ffprobe,
                              {"-v", "quiet", "-select_streams", "V:0", "-show_entries", "stream_side_data", "-of",
                               "compact", AsFile(source)},
                              -1, out[1]);
    ::close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; child > 0 && (n = ::read(out[0], buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        if (text.size() < 1024 * 1024) // a header's worth; the rest is drained
            text.append(buf, size_t(n));
    }
    ::close(out[0]);
    if (child < 0 || Wait(child) != 0)
        return std::nullopt;
    const std::optional<std::array<std::int32_t, 9>> matrix = DisplayMatrixInProbeOutput(text);
    return matrix ? TurnOfDisplayMatrix(*matrix) : std::nullopt;
}

void AddTurnTo(const std::string& output, const VideoTurn& turn)
{
    std::string why;
    if (!AddVideoTurn(output, turn, why))
        Say("note: the video is stored turned and the output does not say so, it plays on its side: " + why);
}

// After a section whose video was copied into Matroska: the source's turn added to it.
void KeepTurnOfCopiedVideo(const std::string& ffmpeg, const std::string& source, const std::string& output)
{
    const MatroskaVideoTrack written = ReadMatroskaVideoTrack(output);
    if (!written.matroska || !written.video || written.projection)
        return;
    const std::optional<VideoTurn> turn = SourceTurn(ffmpeg, source);
    if (turn && !turn->None())
        AddTurnTo(output, *turn);
}

// After a join into Matroska: the first piece's turn added to it.
void KeepTurnOfPieces(const std::string& list, const std::string& output)
{
    const MatroskaVideoTrack written = ReadMatroskaVideoTrack(output);
    if (!written.matroska || !written.video || written.projection)
        return;
    FILE* f = std::fopen(list.c_str(), "r");
    if (!f)
        return;
    std::string first;
    char line[512];
    while (first.empty() && std::fgets(line, sizeof line, f)) {
        const std::string l(line);
        if (l.rfind("file '", 0) == 0 && l.size() > 8 && l.compare(l.size() - 2, 2, "'\n") == 0)
            first = l.substr(6, l.size() - 8);
    }
    std::fclose(f);
    if (first.empty() || !PlainName(first))
        return;
    const MatroskaVideoTrack piece = ReadMatroskaVideoTrack(FolderOf(list) + "/" + first);
    if (piece.turn && !piece.turn->None())
        AddTurnTo(output, *piece.turn);
}

// A stop asked of this program reaches the ffmpeg it runs; a closed pipe is no crash.
void ForwardStopSignals()
{
    struct sigaction sa {};
    sa.sa_handler = Forward;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

int RunJoin(int argc, char** argv)
{
    std::vector<std::string> in(argv + 2, argv + argc);
    if (in.size() < 2) {
        Say("usage: wmaspi.dll -join <list> [-chapters <metadata>] [-c:a <codec> ...] <output>");
        return 2;
    }
    const std::string list = in.front();
    const std::string output = in.back();
    std::string chapters;
    std::vector<std::string> audio;
    const size_t optionsEnd = in.size() - 1; // the output is last
    for (size_t k = 1; k < optionsEnd; k += 2) {
        const std::string& key = in[k];
        if (k + 1 >= optionsEnd) {
            Say("-join: " + key + " has no value");
            return 2;
        }
        const std::string& value = in[k + 1];
        if (key == "-chapters") {
            chapters = value;
        } else if (key == "-c:a" || key == "-b:a" || key == "-ar" || key == "-ac" || key == "-q:a" || key == "-profile:a") {
            for (const char c : value)
                if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-')) {
                    Say("-join: " + key + " " + value + " is refused");
                    return 2;
                }
            audio.push_back(key);
            audio.push_back(value);
        } else {
            Say("-join: unknown option " + key);
            return 2;
        }
    }
    const std::string folder = FolderOf(output);
    if (FolderOf(list) != folder || (!chapters.empty() && FolderOf(chapters) != folder)) {
        Say("-join: the list, the chapters and the output must lie in one folder");
        return 2;
    }
    if (output.find('%') != std::string::npos) {
        Say("-join: an output name with % is refused");
        return 2;
    }
    std::string why;
    if (!CheckJoinList(list, why)) {
        Say(why);
        return 2;
    }
    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        Say("ffmpeg was not found beside the encoder or on the PATH; please install ffmpeg");
        return 127;
    }
    const Sandbox sandbox(ffmpeg, list, output);
    for (const std::string& missing : sandbox.Missing())
        Say("sandbox: " + missing);
    g_sandbox = &sandbox;
    ForwardStopSignals();

    std::vector<std::string> args = FfmpegStart();
    // The output is the job's own temporary file, made empty for ffmpeg to fill.
    args.insert(args.end(), {"-y", "-progress", "pipe:1"});
    const bool encodeSound = !audio.empty() && !(audio.size() == 2 && audio[1] == "copy");
    // Each piece's time stamps as they are: a first piece whose sound begins before 0 (its
    // encoder delay) would otherwise move everything later by that much.
    if (encodeSound)
        args.push_back("-copyts");
    args.insert(args.end(), {"-f", "concat", "-safe", "1", "-protocol_whitelist", "file", "-i", AsFile(list)});
    if (!chapters.empty())
        args.insert(args.end(), {"-f", "ffmetadata", "-protocol_whitelist", "file", "-i", AsFile(chapters)});
    args.insert(args.end(), {"-map", "0", "-c", "copy"});
    if (!chapters.empty())
        args.insert(args.end(), {"-map_chapters", "1"});
    if (encodeSound) {
        args.insert(args.end(), audio.begin(), audio.end());
        // Filled or trimmed to the time stamps, so no join moves the sound against the pictures.
        args.insert(args.end(), {"-af", "aresample=async=1:min_hard_comp=0.01"});
    }
    args.push_back(AsFile(output));
    const int status = RunWithProgress(ffmpeg, args);
    if (status == 0)
        KeepTurnOfPieces(list, output);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "-join") == 0)
        return RunJoin(argc, argv);
    const std::string refused = RefusedProfileSwitches(std::vector<std::string>(argv + 1, argv + argc));
    if (!refused.empty()) {
        Say(refused);
        return 2;
    }

    Invocation inv;
    if (!ParseInvocation(argc, argv, inv))
        return 2;

    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        Say("ffmpeg was not found beside the encoder or on the PATH; please install ffmpeg");
        return 127;
    }

    // Only ffmpeg is walled in: this program reads the source itself for exact cuts.
    const Sandbox sandbox(ffmpeg, inv.input, inv.output);
    for (const std::string& missing : sandbox.Missing())
        Say("sandbox: " + missing);
    g_sandbox = &sandbox;

    ForwardStopSignals();

    int status = 0;
    if ((inv.cut.exactCuts || !inv.cut.exactStartKey.empty()) && VideoCopiedAsIs(inv.after)) {
        ExactCutRequest request;
        request.source = inv.input;
        request.start = std::strtod(inv.seek.c_str(), nullptr);
        request.length = std::strtod(inv.length.c_str(), nullptr);
        request.nextSectionFollows = inv.cut.nextSectionFollows;
        request.outputKeepsDecodeTimes = KeepsDecodeTimes(inv.output) && !FiltersVideoPackets(inv.after);
        std::string why;
        const std::unique_ptr<ExactCut> loaded = LoadExactCut(why);
        if (!loaded) {
            Say("cannot cut on exact frames: " + why + "; please re-install Veltrane");
            return 126;
        }
        ExactCut& exact = *loaded;
        // A profile that maps streams itself names them by input; the pipe adds one. Maps by
        // kind are pointed at the pipe (the video) and the source (the rest).
        const ExactCutPlan plan =
            exact.Plan(request, MapsByKind(inv.after) ? "" : "the profile chooses the streams itself (-map)");
        if (g_stop)
            return 128 + g_stop;
        switch (plan.mode) {
        case ExactCutPlan::Mode::Exact:
            if (!plan.note.empty())
                Say("note: " + plan.note);
            status = RunExact(ffmpeg, inv, exact, plan);
            break;
        case ExactCutPlan::Mode::KeyFrames: {
            if (!inv.cut.exactCuts) {
                // Only the start was to be exact: copied from its key frame, as without it.
                const Invocation keyed = FromStartKeyFrame(inv);
                Say("note: cut on key frames from " + FormatClock(std::strtod(keyed.seek.c_str(), nullptr)) + " to "
                    + FormatClock(std::strtod(keyed.seek.c_str(), nullptr) + std::strtod(keyed.length.c_str(), nullptr))
                    + ": " + plan.reason);
                status = RunPlain(ffmpeg, keyed);
                break;
            }
            Say("note: cut on key frames from " + FormatClock(plan.keyStart) + " to "
                + FormatClock(plan.keyStart + plan.keyLength) + ": " + plan.reason);
            if (!(plan.keyLength > 0))
                return 0; // nothing lies between the key frames
            Invocation keyed = inv;
            keyed.cut.decodeFrom.clear();
            keyed.seek = Seconds(plan.keyStart);
            SetLength(keyed.after, Seconds(plan.keyLength));
            keyed.cut.videoEndDts = plan.videoEndDts ? Seconds(*plan.videoEndDts) : std::string();
            status = RunPlain(ffmpeg, keyed);
            break;
        }
        case ExactCutPlan::Mode::Plain:
            // ffmpeg says what is wrong with a source this could not read.
            if (!plan.problem.empty())
                Say(plan.problem);
            status = RunPlain(ffmpeg, inv.cut.exactCuts ? inv : FromStartKeyFrame(inv));
            break;
        }
    } else {
        status = RunPlain(ffmpeg, inv);
        if (const double earlier = CopiedFromEarlier(inv); status == 0 && earlier > 0) {
            std::string error;
            if (!UnmarkSyncSamplesBeforeEdit(inv.output, error)) {
                Say("cannot hide the pictures before the section's start: " + error);
                status = 1;
            }
        }
        if (status == 0 && !inv.cut.videoShownUntil.empty() && KeepsDecodeTimes(inv.output)) {
            std::string error;
            if (!EndVideoEditAt(inv.output, std::strtod(inv.cut.videoShownUntil.c_str(), nullptr), error))
                Say("note: the next section's first picture also shows at this section's end: " + error);
        }
    }
    if (status == 0 && VideoCopiedAsIs(inv.after))
        KeepTurnOfCopiedVideo(ffmpeg, inv.input, inv.output);
    // The bars reach the end: ffmpeg's last position is the last frame's start, not the end.
    if (status == 0 && !inv.length.empty())
        ReportProgress(std::strtod(inv.length.c_str(), nullptr));
    return status;
}
