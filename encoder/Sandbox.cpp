#include "Sandbox.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Rights of later Landlock versions than the system's headers may know.
constexpr std::uint64_t kTruncate = 1ULL << 14;  // version 3
constexpr std::uint64_t kIoctlDev = 1ULL << 15;  // version 5
constexpr std::uint64_t kNetBindTcp = 1ULL << 0; // version 4
constexpr std::uint64_t kNetConnectTcp = 1ULL << 1;
constexpr std::uint64_t kScopeAbstractUnix = 1ULL << 0; // version 6
constexpr std::uint64_t kScopeSignal = 1ULL << 1;

// The ruleset's attributes as version 6 has them; older kernels are given the first part.
struct RulesetAttributes {
    std::uint64_t handledAccessFs;
    std::uint64_t handledAccessNet;
    std::uint64_t scoped;
};

constexpr std::uint64_t kRead = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
constexpr std::uint64_t kExecute = LANDLOCK_ACCESS_FS_EXECUTE;
constexpr std::uint64_t kWrite = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_MAKE_REG
                                 | LANDLOCK_ACCESS_FS_REMOVE_FILE | kTruncate;
// Rights that a rule on a file (not a folder) may carry.
constexpr std::uint64_t kFileRights =
    LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE | kTruncate | kIoctlDev;

#if defined(__x86_64__)
constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t kArch = 0; // no filter written for this machine yet
#endif

void SayRaw(const char* what, int error)
{
    // No allocation between fork and exec: pieces written one after another.
    const char* parts[] = {"wmaspi.dll: sandbox: ", what, ": ", std::strerror(error), "\n"};
    for (const char* p : parts) {
        ssize_t unused = ::write(STDERR_FILENO, p, std::strlen(p));
        (void)unused;
    }
}

std::string FolderOf(const std::string& path)
{
    const size_t cut = path.rfind('/');
    if (cut == std::string::npos)
        return ".";
    return cut == 0 ? "/" : path.substr(0, cut);
}

} // namespace

int Sandbox::LandlockVersion()
{
    const long v = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return v > 0 ? int(v) : 0;
}

Sandbox::Sandbox(const std::string& ffmpeg, const std::string& source, const std::string& output)
{
    m_landlock = LandlockVersion();
    if (m_landlock == 0) {
        m_missing.push_back("the kernel offers no Landlock: ffmpeg may read and write wherever you may");
    } else {
        m_handledFs = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1; // every right of version 1
        if (m_landlock >= 2)
            m_handledFs |= LANDLOCK_ACCESS_FS_REFER;
        if (m_landlock >= 3)
            m_handledFs |= kTruncate;
        else
            m_missing.push_back("this kernel's Landlock (version " + std::to_string(m_landlock)
                                + ") cannot keep ffmpeg from emptying files it may read");
        if (m_landlock >= 5)
            m_handledFs |= kIoctlDev;
    }
    if (kArch == 0)
        m_missing.push_back("no system-call filter for this processor: ffmpeg may open network connections");

    // The system's programs and libraries, and ffmpeg's own folder (a bundled ffmpeg may
    // keep its libraries beside it).
    for (const char* p : {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/opt", "/nix/store"})
        Allow(p, kRead | kExecute);
    Allow(FolderOf(ffmpeg), kRead | kExecute);
    // What the loader, fontconfig and the C library read of the system's settings.
    for (const char* p : {"/etc/ld.so.cache", "/etc/ld.so.conf", "/etc/ld.so.conf.d", "/etc/ld.so.preload",
                          "/etc/fonts", "/etc/localtime", "/etc/alternatives", "/var/cache/fontconfig",
                          "/usr/local/share/fonts", "/dev/urandom", "/dev/random", "/dev/zero", "/proc/cpuinfo",
                          "/proc/meminfo", "/proc/stat", "/sys/devices/system/cpu", "/sys/fs/cgroup"})
        Allow(p, kRead);
    // The user's fonts.
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        for (const char* p : {"/.fonts", "/.local/share/fonts", "/.cache/fontconfig", "/.config/fontconfig"})
            Allow(std::string(home) + p, kRead);
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        Allow(std::string(data) + "/fonts", kRead);
    Allow("/dev/null", kRead | LANDLOCK_ACCESS_FS_WRITE_FILE | kIoctlDev);
    // Its own entries; "self" is looked up in the child, where it names ffmpeg.
    Allow("/proc/self", kRead);
    Allow("/proc/thread-self", kRead);
    // The job: the source, and the output's folder, where the output, its temporary name and
    // a two-pass log lie.
    Allow(source, LANDLOCK_ACCESS_FS_READ_FILE);
    Allow(FolderOf(output), kRead | kWrite);
}

void Sandbox::Allow(const std::string& path, std::uint64_t access)
{
    if (!path.empty())
        m_places.push_back({path, access});
}

void Sandbox::Enter() const
{
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        SayRaw("cannot set no_new_privs; ffmpeg runs without the sandbox", errno);
        return;
    }
    EnterLandlock();
    EnterSeccomp();
}

void Sandbox::EnterLandlock() const
{
    if (m_landlock == 0)
        return;
    RulesetAttributes attributes{m_handledFs, 0, 0};
    size_t size = sizeof(std::uint64_t);
    if (m_landlock >= 4) {
        // Once more for TCP, beside the system-call filter.
        attributes.handledAccessNet = kNetBindTcp | kNetConnectTcp;
        size = 2 * sizeof(std::uint64_t);
    }
    if (m_landlock >= 6) {
        attributes.scoped = kScopeAbstractUnix | kScopeSignal;
        size = sizeof attributes;
    }
    const int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attributes, size, 0));
    if (ruleset < 0) {
        SayRaw("cannot create a Landlock ruleset; files are not confined", errno);
        return;
    }
    for (const Place& place : m_places) {
        const int fd = ::open(place.path.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0)
            continue; // not on this system
        struct stat st {};
        std::uint64_t access = place.access & m_handledFs;
        if (::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode))
            access &= kFileRights;
        landlock_path_beneath_attr rule{};
        rule.allowed_access = access;
        rule.parent_fd = fd;
        if (access != 0 && ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0)
            SayRaw(place.path.c_str(), errno);
        ::close(fd);
    }
    if (::syscall(SYS_landlock_restrict_self, ruleset, 0) != 0)
        SayRaw("cannot enter the Landlock ruleset; files are not confined", errno);
    ::close(ruleset);
}

void Sandbox::EnterSeccomp() const
{
    if (kArch == 0)
        return;
    constexpr std::uint32_t kAllow = SECCOMP_RET_ALLOW;
    constexpr std::uint32_t kNoFamily = SECCOMP_RET_ERRNO | (EAFNOSUPPORT & SECCOMP_RET_DATA);
    constexpr std::uint32_t kNotPermitted = SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA);
    constexpr std::uint32_t kNoSuchCall = SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA);
    const auto load = [](std::uint32_t offset) { return sock_filter BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset); };
    const auto ret = [](std::uint32_t value) { return sock_filter BPF_STMT(BPF_RET | BPF_K, value); };
    // Jumps count the instructions between; the layout below is fixed.
    sock_filter program[] = {
        /* 0 */ load(offsetof(seccomp_data, arch)),
        /* 1 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        /* 2 */ ret(SECCOMP_RET_KILL_PROCESS), // calls of another machine's numbering (int 0x80)
        /* 3 */ load(offsetof(seccomp_data, nr)),
#if defined(__x86_64__)
        /* 4 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1), // the x32 numbering
        /* 5 */ ret(kNotPermitted),
#else
        /* 4 */ BPF_JUMP(BPF_JMP | BPF_JA, 0, 0, 0),
        /* 5 */ BPF_JUMP(BPF_JMP | BPF_JA, 0, 0, 0),
#endif
        /* 6 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 6, 0),
        /* 7 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socketpair, 5, 0),
        /* 8 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ptrace, 8, 0),
        /* 9 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_process_vm_readv, 7, 0),
        /* 10 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_process_vm_writev, 6, 0),
        /* 11 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_io_uring_setup, 6, 0),
        /* 12 */ ret(kAllow),
        // socket, socketpair: local sockets only (the family is the first argument).
        /* 13 */ load(offsetof(seccomp_data, args[0])),
        /* 14 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_UNIX, 0, 1),
        /* 15 */ ret(kAllow),
        /* 16 */ ret(kNoFamily),
        /* 17 */ ret(kNotPermitted),
        /* 18 */ ret(kNoSuchCall),
    };
    sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
    if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) != 0)
        SayRaw("cannot install the system-call filter; network sockets are not refused", errno);
}
