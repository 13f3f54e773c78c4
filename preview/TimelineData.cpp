#include "preview/TimelineData.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

// ---- peaks

namespace {
qint8 PeakByte(float v)
{
    if (!(v == v))
        return 0;
    return qint8(std::lround(std::clamp(v, -1.0f, 1.0f) * 127.0f));
}
} // namespace

void PeakReducer::reserve(qint64 stretches)
{
    m_done.reserve(2 * std::clamp<qint64>(stretches, 1, kMaxPeaks));
}

void PeakReducer::push(char lo, char hi)
{
    if (m_viewed && m_done.size() + 2 > m_done.capacity()) {
        // Never moved while views may see it: the next bytes go to a larger copy.
        QByteArray larger;
        larger.reserve(std::max<qsizetype>(4096, m_done.capacity() * 2));
        larger.append(m_done);
        m_outgrown.push_back(std::move(m_done));
        m_done = std::move(larger);
    }
    const char two[2] = {lo, hi};
    m_done.append(two, 2);
}

void PeakReducer::close()
{
    if (!m_open)
        return;
    if (m_done.size() / 2 < kMaxPeaks)
        push(char(PeakByte(m_min)), char(PeakByte(m_max)));
    m_open = false;
    ++m_bucket;
}

void PeakReducer::add(qint64 startUs, int sampleRate, const float* const* planes, int channels, int count)
{
    if (sampleRate <= 0 || channels <= 0 || count <= 0)
        return;
    // Position in stretches, kept as a fraction so long runs do not drift.
    const double step = double(kPeaksPerSecond) / sampleRate;
    const double first = std::max(0.0, double(startUs) * kPeaksPerSecond / 1e6);
    for (int s = 0; s < count; ++s) {
        const qint64 b = qint64(first + s * step);
        if (b >= kMaxPeaks)
            break;
        if (b > m_bucket) {
            close();
            // Silence where the sound leaves a gap.
            while (m_bucket < b) {
                if (m_done.size() / 2 < kMaxPeaks)
                    push(0, 0);
                ++m_bucket;
            }
        }
        float lo = planes[0][s], hi = lo;
        for (int c = 1; c < channels; ++c) {
            lo = std::min(lo, planes[c][s]);
            hi = std::max(hi, planes[c][s]);
        }
        if (!m_open) {
            m_open = true;
            m_min = lo;
            m_max = hi;
        } else {
            m_min = std::min(m_min, lo);
            m_max = std::max(m_max, hi);
        }
    }
}

QByteArray PeakReducer::peaks() const
{
    QByteArray out = m_done;
    if (m_open && out.size() / 2 < kMaxPeaks) {
        out.append(char(PeakByte(m_min)));
        out.append(char(PeakByte(m_max)));
    }
    return out;
}

std::vector<PeakColumn> PeakColumns(const QByteArray& peaks, qint64 startUs, qint64 spanUs, int columns,
                                    int fromColumn)
{
    std::vector<PeakColumn> out(size_t(std::max(0, columns)));
    const qint64 n = peaks.size() / 2;
    if (columns <= 0 || spanUs <= 0 || n == 0)
        return out;
    const auto* p = reinterpret_cast<const qint8*>(peaks.constData());
    for (int c = std::max(0, fromColumn); c < columns; ++c) {
        const double t0 = double(startUs) + double(spanUs) * c / columns;
        const double t1 = double(startUs) + double(spanUs) * (c + 1) / columns;
        qint64 a = qint64(std::floor(t0 / kPeakUs));
        qint64 b = qint64(std::ceil(t1 / kPeakUs)); // exclusive
        a = std::max<qint64>(a, 0);
        b = std::min(b, n);
        if (b <= a)
            continue;
        PeakColumn col;
        col.known = true;
        col.min = 127;
        col.max = -127;
        for (qint64 i = a; i < b; ++i) {
            col.min = std::min(col.min, p[2 * i]);
            col.max = std::max(col.max, p[2 * i + 1]);
        }
        out[size_t(c)] = col;
    }
    return out;
}

// ---- data

int TimelineData::thumbAt(qint64 tUs) const
{
    if (thumbs.empty())
        return -1;
    auto it = std::upper_bound(thumbs.begin(), thumbs.end(), tUs,
                               [](qint64 t, const TimelineThumb& th) { return t < th.timeUs; });
    return it == thumbs.begin() ? 0 : int(it - thumbs.begin()) - 1;
}

qint64 TimelineData::memoryBytes() const
{
    qint64 n = qint64(keys.times().size()) * 8 + peaks.size();
    for (const TimelineThumb& t : thumbs)
        n += t.rgb.size() + 32;
    return n;
}

const TimelineFrame* TimelineFrames::latest(qint64 tUs) const
{
    auto it = std::upper_bound(m_list.begin(), m_list.end(), tUs,
                               [](qint64 t, const TimelineFrame& f) { return t < f.timeUs; });
    return it == m_list.begin() ? nullptr : &*std::prev(it);
}

const TimelineFrame* TimelineFrames::at(qint64 tUs) const
{
    const TimelineFrame* f = latest(tUs);
    return f && tUs < f->untilUs ? f : nullptr;
}

void TimelineFrames::add(TimelineFrame frame)
{
    auto it = std::lower_bound(m_list.begin(), m_list.end(), frame.timeUs,
                               [](const TimelineFrame& f, qint64 t) { return f.timeUs < t; });
    if (it != m_list.end() && it->timeUs == frame.timeUs)
        *it = std::move(frame);
    else
        m_list.insert(it, std::move(frame));
}

void TimelineFrames::trim(qint64 bytes, qint64 nearUs)
{
    qint64 total = memoryBytes();
    // From both ends inwards, the end farther from nearUs first.
    size_t first = 0, last = m_list.size();
    while (total > bytes && first < last) {
        const qint64 left = std::abs(m_list[first].timeUs - nearUs);
        const qint64 right = std::abs(m_list[last - 1].timeUs - nearUs);
        const size_t gone = left > right ? first++ : --last;
        total -= m_list[gone].rgb.size() + 40;
    }
    m_list.erase(m_list.begin() + qsizetype(last), m_list.end());
    m_list.erase(m_list.begin(), m_list.begin() + qsizetype(first));
}

qint64 TimelineFrames::memoryBytes() const
{
    qint64 n = 0;
    for (const TimelineFrame& f : m_list)
        n += f.rgb.size() + 40;
    return n;
}

TimelineSourceId TimelineSourceId::of(const QString& path)
{
    TimelineSourceId id;
    const QFileInfo fi(path);
    id.path = fi.absoluteFilePath();
    if (fi.isFile()) {
        id.size = fi.size();
        id.mtimeMs = fi.lastModified().toMSecsSinceEpoch();
    }
    return id;
}

QString TimelineSourceId::cacheName() const
{
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(path.toUtf8());
    h.addData(QByteArray::number(size) + '/' + QByteArray::number(mtimeMs));
    return QString::fromLatin1(h.result().toHex().left(40)) + QStringLiteral(".vtl");
}

// ---- stored file: magic, version, MD5 of what follows, then the fields little-endian.

namespace {

constexpr char kMagic[8] = {'V', 'T', 'L', 'I', 'N', 'E', '\r', '\n'};
constexpr quint32 kVersion = 1;
constexpr int kHeader = 8 + 4 + 16;

class Writer {
public:
    void u32(quint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    }
    void i64(qint64 v)
    {
        char b[8];
        qToLittleEndian(v, b);
        out.append(b, 8);
    }
    void bytes(const QByteArray& b)
    {
        u32(quint32(b.size()));
        out.append(b);
    }
    QByteArray out;
};

// Every read is checked against what is left; a failed read leaves the reader failed.
class Reader {
public:
    explicit Reader(const QByteArray& b, int from) : data(b), pos(from) {}
    quint32 u32()
    {
        if (!take(4))
            return 0;
        return qFromLittleEndian<quint32>(data.constData() + pos - 4);
    }
    qint64 i64()
    {
        if (!take(8))
            return 0;
        return qFromLittleEndian<qint64>(data.constData() + pos - 8);
    }
    QByteArray bytes(qint64 max)
    {
        const quint32 n = u32();
        if (!ok || n > max || !take(n)) {
            ok = false;
            return {};
        }
        return data.mid(pos - n, n);
    }
    qint64 left() const { return data.size() - pos; }
    bool take(qint64 n)
    {
        if (!ok || n < 0 || n > left()) {
            ok = false;
            return false;
        }
        pos += n;
        return true;
    }
    const QByteArray& data;
    qint64 pos;
    bool ok = true;
};

} // namespace

bool WriteTimelineCache(const TimelineSourceId& id, const TimelineData& d, QIODevice* out)
{
    // The header first with room for the checksum, filled in once the fields follow it; the
    // fields go out in small pieces, each hashed on its way.
    QCryptographicHash md5(QCryptographicHash::Md5);
    bool ok = out->write(kMagic, 8) == 8;
    Writer w;
    w.u32(kVersion);
    w.out.append(16, '\0');
    ok = ok && out->write(w.out) == w.out.size();
    const qint64 sumAt = out->pos() - 16;
    auto flush = [&](Writer& part) {
        md5.addData(part.out);
        ok = ok && out->write(part.out) == part.out.size();
        part.out.clear();
    };
    Writer f;
    f.bytes(id.path.toUtf8());
    f.i64(id.size);
    f.i64(id.mtimeMs);
    f.i64(d.durationUs);
    f.i64(d.frameUs);
    f.u32(quint32(d.keys.size()));
    for (qint64 t : d.keys.times()) {
        f.i64(t);
        if (f.out.size() >= 64 * 1024)
            flush(f);
    }
    f.u32(quint32(d.peaks.size()));
    flush(f);
    md5.addData(d.peaks);
    ok = ok && out->write(d.peaks) == d.peaks.size();
    f.u32(quint32(d.thumbWidth));
    f.u32(quint32(d.thumbHeight));
    f.u32(quint32(d.thumbs.size()));
    for (const TimelineThumb& t : d.thumbs) {
        f.i64(t.timeUs);
        f.bytes(t.rgb);
        if (f.out.size() >= 64 * 1024)
            flush(f);
    }
    flush(f);
    const QByteArray sum = md5.result();
    const qint64 end = out->pos();
    ok = ok && out->seek(sumAt) && out->write(sum) == 16 && out->seek(end);
    return ok;
}

QByteArray WriteTimelineCache(const TimelineSourceId& id, const TimelineData& d)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    WriteTimelineCache(id, d, &buffer);
    return bytes;
}

std::optional<TimelineData> ReadTimelineCache(const QByteArray& bytes, const TimelineSourceId& id)
{
    if (bytes.size() < kHeader || bytes.size() > kMaxCacheBytes || std::memcmp(bytes.constData(), kMagic, 8) != 0)
        return std::nullopt;
    if (qFromLittleEndian<quint32>(bytes.constData() + 8) != kVersion)
        return std::nullopt;
    const QByteArray body = QByteArray::fromRawData(bytes.constData() + kHeader, bytes.size() - kHeader);
    if (QCryptographicHash::hash(body, QCryptographicHash::Md5) != bytes.mid(12, 16))
        return std::nullopt;

    Reader r(bytes, kHeader);
    TimelineSourceId stored;
    stored.path = QString::fromUtf8(r.bytes(1 << 16));
    stored.size = r.i64();
    stored.mtimeMs = r.i64();
    if (!r.ok || !(stored == id))
        return std::nullopt;
    TimelineData d;
    d.durationUs = r.i64();
    d.frameUs = r.i64();
    if (d.durationUs < 0 || d.frameUs < 0 || d.frameUs > 60000000)
        return std::nullopt;
    const quint32 keyCount = r.u32();
    // Each count is held against the bytes left before anything is made for it.
    if (!r.ok || keyCount > quint32(kMaxKeyFrames) || qint64(keyCount) * 8 > r.left())
        return std::nullopt;
    std::vector<qint64> keys(keyCount);
    for (quint32 i = 0; i < keyCount; ++i) {
        keys[i] = r.i64();
        if (i > 0 && keys[i] <= keys[i - 1])
            return std::nullopt;
    }
    d.keys = KeyFrameIndex(std::move(keys));
    d.peaks = r.bytes(kMaxPeaks * 2);
    if (!r.ok || d.peaks.size() % 2)
        return std::nullopt;
    d.thumbWidth = int(r.u32());
    d.thumbHeight = int(r.u32());
    const quint32 thumbCount = r.u32();
    if (!r.ok || d.thumbWidth < 0 || d.thumbWidth > kMaxThumbSide || d.thumbHeight < 0
        || d.thumbHeight > kMaxThumbSide || thumbCount > quint32(kMaxThumbs))
        return std::nullopt;
    const qint64 thumbBytes = qint64(d.thumbWidth) * d.thumbHeight * 3;
    if (thumbCount > 0 && (thumbBytes == 0 || qint64(thumbCount) * (12 + thumbBytes) > r.left()))
        return std::nullopt;
    d.thumbs.reserve(thumbCount);
    for (quint32 i = 0; i < thumbCount; ++i) {
        TimelineThumb t;
        t.timeUs = r.i64();
        t.rgb = r.bytes(thumbBytes);
        if (!r.ok || t.rgb.size() != thumbBytes || (i > 0 && t.timeUs <= d.thumbs.back().timeUs))
            return std::nullopt;
        d.thumbs.push_back(std::move(t));
    }
    if (r.left() != 0)
        return std::nullopt;
    d.complete = true; // only a whole reading is stored
    return d;
}
