#pragma once
// The bits of H.264 parameter sets and slice headers: units unescaped to their raw bytes and
// escaped again, Exp-Golomb codes read and written.
#include "nal_units.h"

namespace h264bits {

inline Bytes Unescape(const uint8_t* data, size_t size)
{
    Bytes out;
    out.reserve(size);
    int zeros = 0;
    for (size_t k = 0; k < size; ++k) {
        if (zeros >= 2 && data[k] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[k] == 0 ? zeros + 1 : 0;
        out.push_back(data[k]);
    }
    return out;
}

// Emulation prevention as encoders write it: a 3 after two zeros that a byte of 0..3 follows,
// and after a unit that ends in a zero (cabac_zero_words).
inline Bytes Escape(const Bytes& rbsp)
{
    Bytes out;
    out.reserve(rbsp.size() + rbsp.size() / 64 + 4);
    int zeros = 0;
    for (const uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        out.push_back(b);
    }
    if (!out.empty() && out.back() == 0)
        out.push_back(3);
    return out;
}

// Reads bits; past the end every read fails and stays failed.
class RbspReader {
public:
    explicit RbspReader(const Bytes& b) : m_b(b) {}
    bool ok() const { return m_ok; }
    size_t at() const { return m_bit; }
    unsigned U(int n)
    {
        unsigned v = 0;
        for (int k = 0; k < n; ++k) {
            if (m_bit >= m_b.size() * 8) {
                m_ok = false;
                return 0;
            }
            v = (v << 1) | ((m_b[m_bit / 8] >> (7 - m_bit % 8)) & 1);
            ++m_bit;
        }
        return v;
    }
    bool Flag() { return U(1) != 0; }
    unsigned Ue()
    {
        int zeros = 0;
        while (m_ok && U(1) == 0)
            if (++zeros > 31)
                m_ok = false;
        if (!m_ok)
            return 0;
        return unsigned((1ull << zeros) - 1 + U(zeros));
    }
    int Se()
    {
        const unsigned v = Ue();
        return v & 1 ? int((v + 1) / 2) : -int(v / 2);
    }

private:
    const Bytes& m_b;
    size_t m_bit = 0;
    bool m_ok = true;
};

class RbspWriter {
public:
    size_t at() const { return m_bit; }
    void U(unsigned v, int n)
    {
        for (int k = n - 1; k >= 0; --k) {
            if (m_bit % 8 == 0)
                m_b.push_back(0);
            m_b.back() |= uint8_t(((v >> k) & 1) << (7 - m_bit % 8));
            ++m_bit;
        }
    }
    void Flag(bool f) { U(f ? 1 : 0, 1); }
    void Byte(uint8_t v)
    {
        const unsigned r = m_bit % 8;
        if (r == 0) {
            m_b.push_back(v);
        } else {
            m_b.back() |= uint8_t(v >> r);
            m_b.push_back(uint8_t(v << (8 - r)));
        }
        m_bit += 8;
    }
    void Ue(unsigned v)
    {
        const unsigned long long x = 1ull + v;
        int n = 0;
        while ((x >> n) > 1)
            ++n;
        U(0, n);
        for (int k = n; k >= 0; --k)
            U(unsigned((x >> k) & 1), 1);
    }
    void Se(int v) { Ue(v > 0 ? unsigned(2 * v - 1) : unsigned(-2 * int64_t(v))); }
    Bytes& bytes() { return m_b; }
    Bytes Done()
    {
        U(1, 1); // rbsp_stop_one_bit, then zeros to the byte's end
        return m_b;
    }

private:
    Bytes m_b;
    size_t m_bit = 0;
};

} // namespace h264bits
