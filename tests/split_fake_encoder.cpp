// A stand-in for the encoder in job tests. It appends what it was started with to the
// file named by VT_FAKE_LOG and plays the script named by VT_FAKE_SCRIPT:
//
//   === N          the lines up to the next "===" are for run N only (runs count from 1)
//   out TEXT       writes TEXT to standard output in one write (\n, \t, \\ and \s for a blank;
//                  @OUT@ for the output path)
//   err TEXT       the same on standard error
//   wait NAME      waits until the file NAME exists (beside the script unless absolute)
//   sleep MS       sleeps
//   child          starts a child that sleeps for ever, as ffmpeg would run (logged as child=PID)
//   output         writes a small file at the output path (the last argument)
//   hang           sleeps for ever
//   exit CODE      ends with that status
//
// Without a script it writes the output file and ends with status 0.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t k = 0; k < s.size(); ++k) {
        if (s[k] == '\\' && k + 1 < s.size()) {
            const char c = s[++k];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 's' ? ' ' : c;
        } else {
            out += s[k];
        }
    }
    return out;
}

std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

void WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        done += static_cast<size_t>(n);
    }
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int CountRuns(const std::string& log)
{
    std::ifstream in(log);
    std::string line;
    int runs = 0;
    while (std::getline(in, line))
        if (line.rfind("run ", 0) == 0)
            ++runs;
    return runs;
}

void Log(const std::string& log, const std::string& text)
{
    if (log.empty())
        return;
    std::ofstream out(log, std::ios::app);
    out << text << '\n';
}

} // namespace

int main(int argc, char** argv)
{
    const char* logEnv = std::getenv("VT_FAKE_LOG");
    const char* scriptEnv = std::getenv("VT_FAKE_SCRIPT");
    const std::string log = logEnv ? logEnv : "";
    const std::string script = scriptEnv ? scriptEnv : "";
    const std::string output = argc > 1 ? argv[argc - 1] : "";

    const int run = log.empty() ? 1 : CountRuns(log) + 1;
    {
        std::ostringstream rec;
        rec << "run " << run << " pid=" << ::getpid() << '\n';
        for (int k = 1; k < argc; ++k)
            rec << "arg " << Escape(argv[k]) << '\n';
        rec << "end";
        Log(log, rec.str());
    }

    std::vector<std::string> lines;
    if (!script.empty()) {
        std::ifstream in(script);
        std::string line;
        int section = 0; // 0: for every run
        while (std::getline(in, line)) {
            if (line.rfind("=== ", 0) == 0) {
                section = std::atoi(line.c_str() + 4);
                continue;
            }
            if (section == 0 || section == run)
                lines.push_back(line);
        }
    } else {
        lines = {"output", "exit 0"};
    }
    const std::string folder = script.substr(0, script.rfind('/') + 1);

    for (const std::string& line : lines) {
        const auto blank = line.find(' ');
        const std::string cmd = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (cmd == "out" || cmd == "err") {
            std::string text = Unescape(rest);
            for (size_t at = 0; (at = text.find("@OUT@", at)) != std::string::npos; at += output.size())
                text.replace(at, 5, output);
            WriteAll(cmd == "out" ? STDOUT_FILENO : STDERR_FILENO, text);
        } else if (cmd == "wait") {
            const std::string path = !rest.empty() && rest[0] == '/' ? rest : folder + rest;
            // Gives up after a long while, so a broken test cannot leave it behind for ever.
            for (int k = 0; k < 120000 / 5 && !Exists(path); ++k)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } else if (cmd == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(rest.c_str())));
        } else if (cmd == "child") {
            const pid_t child = ::fork();
            if (child == 0) {
                for (;;)
                    ::pause();
            }
            Log(log, "child=" + std::to_string(child));
        } else if (cmd == "output") {
            std::ofstream out(output, std::ios::binary | std::ios::trunc);
            out << "fake output of run " << run << '\n';
        } else if (cmd == "hang") {
            for (;;)
                ::pause();
        } else if (cmd == "exit") {
            return std::atoi(rest.c_str());
        }
    }
    return 0;
}
