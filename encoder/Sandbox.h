// The walls ffmpeg runs within. Profiles are shared like code, and their switches reach
// ffmpeg and its libraries, which read them their own way; so whatever a profile gets past
// the switch policy, ffmpeg still cannot reach beyond the job:
//
//  - Landlock (the kernel's file-system sandbox for unprivileged processes): ffmpeg may write
//    only in the output's folder, and read only the source, that folder, the system's
//    programs, libraries, fonts and settings they need, /dev/null and its own /proc entries;
//  - seccomp: new sockets of any family but local ones (AF_UNIX) are refused, as are ptrace
//    and reaching into other processes' memory, and io_uring (which could open sockets
//    without the socket call);
//  - no_new_privs, which both need and which keeps set-user-id programs from gaining rights.
//
// Where the kernel lacks a layer, ffmpeg runs with what there is, and the encoder says once
// which layer is missing.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class Sandbox {
public:
    // Prepared in the encoder, before the fork: the places ffmpeg may use, and what the
    // kernel offers. ffmpeg is the program to be started, source and output the job's.
    Sandbox(const std::string& ffmpeg, const std::string& source, const std::string& output);

    // What the kernel lacks, one line each (empty when every layer is there).
    const std::vector<std::string>& Missing() const { return m_missing; }

    // In the child, between fork and exec: only system calls, no allocation. Whatever
    // fails is said on standard error and the rest still applies.
    void Enter() const;

    // The Landlock version the kernel offers, 0 when none.
    static int LandlockVersion();

private:
    struct Place {
        std::string path;
        std::uint64_t access;
    };
    void Allow(const std::string& path, std::uint64_t access);
    void EnterLandlock() const;
    void EnterSeccomp() const;

    std::vector<Place> m_places;
    std::vector<std::string> m_missing;
    int m_landlock = 0;
    std::uint64_t m_handledFs = 0;
};
