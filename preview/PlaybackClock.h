#pragma once
// The playback clock: seconds of media time that run with the system's clock while playing
// and are set again from what the sound output reports as heard, so the picture follows the
// sound. Safe to use from any thread.
#include <cstdint>
#include <functional>
#include <mutex>

class TPlaybackClock {
public:
    // `nowNs` reads a monotonic time in nanoseconds; the steady clock unless given.
    explicit TPlaybackClock(std::function<int64_t()> nowNs = {});

    double Now() const;
    void Set(double t);
    void Run(bool running);
    bool Running() const;
    void SetRate(double rate);
    // From the sound output: followed only while running at normal speed and in the
    // current epoch (a seek starts a new one, so a late report of the old position is
    // ignored); differences within a few milliseconds are the service's jitter.
    void Sync(double t, int epoch);
    void SetEpoch(int epoch);
    int Epoch() const;

    static constexpr double kJitter = 0.004;

private:
    double NowLocked() const;
    std::function<int64_t()> m_nowNs;
    mutable std::mutex m_mx;
    bool m_running = false;
    double m_base = 0;
    int64_t m_baseNs = 0;
    double m_rate = 1.0;
    int m_epoch = 0;
};
