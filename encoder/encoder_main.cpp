// wmaspi.dll: the encoder the program starts once per section.
//
//   wmaspi.dll -y -i <source> -ss <start> -t <length> [profile switches...] <output>
//
// It runs ffmpeg with the same options, moving -ss in front of -i so that a section deep
// into a long source costs no decoding of what lies before it, and reports progress on
// its standard output as lines "time=<seconds> " (a blank after the number, "." as the
// decimal point), flushed at once. ffmpeg's own error messages reach standard error
// unchanged. The exit status is ffmpeg's. ffmpeg dies with the encoder.
//
// Profile switches that would reach beyond the one output (see SwitchPolicy.h) are refused
// before ffmpeg starts: status 2, and one line on standard error naming the option.
#include "SwitchPolicy.h"
// Options of the section's cut that ffmpeg has no switch for: see section_cut.h.
#include "section_cut.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t g_child = 0;

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

struct Plan {
    std::vector<std::string> args; // ffmpeg's arguments, without its own name
    bool ok = false;
};

Plan TranslateArguments(int argc, char** argv)
{
    Plan plan;
    std::vector<std::string> in(argv + 1, argv + argc);
    if (in.size() < 2) {
        Say("usage: wmaspi.dll -y -i <source> -ss <start> -t <length> [options...] <output>");
        return plan;
    }
    const std::string output = in.back();
    in.pop_back();

    std::string input;
    std::string seek;
    bool haveInput = false;
    std::vector<std::string> before; // options that stood before -i (input options)
    std::vector<std::string> after;  // options after it (output options)
    SectionCut cut;
    std::string cutError;
    for (size_t k = 0; k < in.size(); ++k) {
        const std::string& a = in[k];
        if (TakeSectionCutOption(in, k, cut, cutError))
            continue;
        if (!haveInput && a == "-i" && k + 1 < in.size()) {
            input = in[++k];
            haveInput = true;
        } else if (a == "-ss" && k + 1 < in.size() && seek.empty()) {
            seek = in[++k];
        } else {
            (haveInput ? after : before).push_back(a);
        }
    }
    if (!haveInput) {
        Say("no source given (-i)");
        return plan;
    }
    if (!cutError.empty()) {
        Say(cutError);
        return plan;
    }

    plan.args = {"-nostdin", "-hide_banner", "-nostats", "-loglevel", "error", "-progress", "pipe:1"};
    std::vector<std::string> inputOptions = before;
    if (!seek.empty()) {
        inputOptions.push_back("-ss");
        inputOptions.push_back(seek);
    }
    const std::vector<std::string> inputs = SectionCutInputs(cut, inputOptions, AsFile(input), after);
    plan.args.insert(plan.args.end(), inputs.begin(), inputs.end());
    plan.args.insert(plan.args.end(), after.begin(), after.end());
    plan.args.push_back(AsFile(output));
    plan.ok = true;
    return plan;
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
    char out[64];
    const int n = std::snprintf(out, sizeof out, "time=%lld.%06lld \n", us / 1000000, us % 1000000);
    if (n > 0)
        WriteAll(STDOUT_FILENO, out, static_cast<size_t>(n));
}

} // namespace

int main(int argc, char** argv)
{
    const std::string refused = RefusedProfileSwitches(std::vector<std::string>(argv + 1, argv + argc));
    if (!refused.empty()) {
        Say(refused);
        return 2;
    }

    const Plan plan = TranslateArguments(argc, argv);
    if (!plan.ok)
        return 2;

    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        Say("ffmpeg was not found beside the encoder or on the PATH; please install ffmpeg");
        return 127;
    }

    int progress[2];
    if (::pipe2(progress, O_CLOEXEC) != 0) {
        Say(std::string("cannot create a pipe: ") + std::strerror(errno));
        return 126;
    }

    struct sigaction sa {};
    sa.sa_handler = Forward;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::vector<char*> cargs;
    cargs.push_back(const_cast<char*>(ffmpeg.c_str()));
    for (const std::string& a : plan.args)
        cargs.push_back(const_cast<char*>(a.c_str()));
    cargs.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        Say(std::string("cannot start ffmpeg: ") + std::strerror(errno));
        return 126;
    }
    if (child == 0) {
        // ffmpeg goes when the encoder goes, however it goes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(125);
        ::dup2(progress[1], STDOUT_FILENO); // dup2 clears close-on-exec on the copy
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0)
            ::dup2(null, STDIN_FILENO);
        ::execv(cargs[0], cargs.data());
        const std::string msg = std::string("wmaspi.dll: cannot run ") + ffmpeg + ": " + std::strerror(errno) + "\n";
        ssize_t unused = ::write(STDERR_FILENO, msg.data(), msg.size());
        (void)unused;
        ::_exit(126);
    }
    g_child = child;
    ::close(progress[1]);

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

    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            Say(std::string("lost track of ffmpeg: ") + std::strerror(errno));
            return 126;
        }
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
        Say("ffmpeg was ended by signal " + std::to_string(WTERMSIG(status)));
        return 128 + WTERMSIG(status);
    }
    return 1;
}
