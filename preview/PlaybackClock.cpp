#include "preview/PlaybackClock.h"
#include <chrono>
#include <cmath>

TPlaybackClock::TPlaybackClock(std::function<int64_t()> nowNs) : m_nowNs(std::move(nowNs))
{
    if (!m_nowNs)
        m_nowNs = [] {
            return int64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
        };
}

double TPlaybackClock::NowLocked() const
{
    if (!m_running)
        return m_base;
    return m_base + double(m_nowNs() - m_baseNs) / 1e9 * m_rate;
}

double TPlaybackClock::Now() const
{
    std::lock_guard<std::mutex> l(m_mx);
    return NowLocked();
}

void TPlaybackClock::Set(double t)
{
    std::lock_guard<std::mutex> l(m_mx);
    m_base = t;
    m_baseNs = m_nowNs();
}

void TPlaybackClock::Run(bool running)
{
    std::lock_guard<std::mutex> l(m_mx);
    if (running == m_running)
        return;
    m_base = NowLocked();
    m_baseNs = m_nowNs();
    m_running = running;
}

bool TPlaybackClock::Running() const
{
    std::lock_guard<std::mutex> l(m_mx);
    return m_running;
}

void TPlaybackClock::SetRate(double rate)
{
    std::lock_guard<std::mutex> l(m_mx);
    m_base = NowLocked();
    m_baseNs = m_nowNs();
    m_rate = rate;
}

void TPlaybackClock::Sync(double t, int epoch)
{
    std::lock_guard<std::mutex> l(m_mx);
    if (!m_running || epoch != m_epoch || m_rate != 1.0)
        return;
    if (std::abs(NowLocked() - t) > kJitter) {
        m_base = t;
        m_baseNs = m_nowNs();
    }
}

void TPlaybackClock::SetEpoch(int epoch)
{
    std::lock_guard<std::mutex> l(m_mx);
    m_epoch = epoch;
}

int TPlaybackClock::Epoch() const
{
    std::lock_guard<std::mutex> l(m_mx);
    return m_epoch;
}
