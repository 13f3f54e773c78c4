#pragma once
#include <QtGlobal>
#include <optional>
#include <utility>
#include <vector>

// The key frames of a source's picture, as times in microseconds from the source's start
// (presentation times, ascending, no two alike). A position standing on a key frame (within
// kSameFrameUs, so rounding of a shown time does not matter) moves on to the neighbour.
class KeyFrameIndex {
public:
    static constexpr qint64 kSameFrameUs = 500;

    KeyFrameIndex() = default;
    explicit KeyFrameIndex(std::vector<qint64> timesUs); // sorted and made unique here

    const std::vector<qint64>& times() const { return m_times; }
    bool isEmpty() const { return m_times.empty(); }
    int size() const { return int(m_times.size()); }

    // The last key frame before t, the first one after t; nothing when there is none.
    std::optional<qint64> previous(qint64 tUs) const;
    std::optional<qint64> next(qint64 tUs) const;
    // Seconds, for callers that hold positions as the player does.
    std::optional<double> previous(double seconds) const;
    std::optional<double> next(double seconds) const;
    // Indices [first, last) of the key frames in [fromUs, toUs).
    std::pair<int, int> within(qint64 fromUs, qint64 toUs) const;

    bool operator==(const KeyFrameIndex& o) const { return m_times == o.m_times; }

private:
    std::vector<qint64> m_times;
};
