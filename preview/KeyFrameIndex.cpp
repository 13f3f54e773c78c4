#include "preview/KeyFrameIndex.h"

#include <algorithm>
#include <cmath>

KeyFrameIndex::KeyFrameIndex(std::vector<qint64> timesUs) : m_times(std::move(timesUs))
{
    std::sort(m_times.begin(), m_times.end());
    m_times.erase(std::unique(m_times.begin(), m_times.end()), m_times.end());
}

std::optional<qint64> KeyFrameIndex::previous(qint64 tUs) const
{
    auto it = std::lower_bound(m_times.begin(), m_times.end(), tUs - kSameFrameUs);
    if (it == m_times.begin())
        return std::nullopt;
    return *std::prev(it);
}

std::optional<qint64> KeyFrameIndex::next(qint64 tUs) const
{
    auto it = std::upper_bound(m_times.begin(), m_times.end(), tUs + kSameFrameUs);
    if (it == m_times.end())
        return std::nullopt;
    return *it;
}

namespace {
std::optional<double> InSeconds(std::optional<qint64> us)
{
    if (!us)
        return std::nullopt;
    return double(*us) / 1e6;
}
qint64 ToUs(double seconds)
{
    return std::isfinite(seconds) ? qint64(std::llround(std::clamp(seconds, -1e12, 1e12) * 1e6)) : 0;
}
} // namespace

std::optional<double> KeyFrameIndex::previous(double seconds) const
{
    return InSeconds(previous(ToUs(seconds)));
}

std::optional<double> KeyFrameIndex::next(double seconds) const
{
    return InSeconds(next(ToUs(seconds)));
}

std::pair<int, int> KeyFrameIndex::within(qint64 fromUs, qint64 toUs) const
{
    const auto a = std::lower_bound(m_times.begin(), m_times.end(), fromUs);
    const auto b = std::lower_bound(a, m_times.end(), std::max(fromUs, toUs));
    return {int(a - m_times.begin()), int(b - m_times.begin())};
}
