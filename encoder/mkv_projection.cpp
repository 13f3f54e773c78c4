#include "mkv_projection.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t kEbml = 0x1A45DFA3, kDocType = 0x4282, kSegment = 0x18538067, kSeekHead = 0x114D9B74,
                        kSeek = 0x4DBB, kSeekId = 0x53AB, kSeekPosition = 0x53AC, kVoid = 0xEC, kCrc = 0xBF,
                        kInfo = 0x1549A966, kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackType = 0x83, kVideo = 0xE0,
                        kProjection = 0x7670, kProjectionType = 0x7671, kProjectionYaw = 0x7673,
                        kProjectionPitch = 0x7674, kProjectionRoll = 0x7675, kChapters = 0x1043A770,
                        kAttachments = 0x1941A469, kTags = 0x1254C367, kCluster = 0x1F43B675;

// How much of a file's start is read at first, and the most: track headers larger than that
// (cover art is an attachment, not part of them) are not looked at.
constexpr size_t kFirstRead = 64 * 1024;
constexpr size_t kMostHead = 16 * 1024 * 1024;

struct Element {
    std::uint64_t id = 0;
    size_t at = 0;         // where its ID begins
    size_t header = 0;     // bytes of ID and size
    size_t sizeLength = 0; // bytes of the size
    std::uint64_t size = 0;
    bool unknownSize = false;
    size_t Data() const { return at + header; }
    size_t End() const { return Data() + size; }
};

unsigned Byte(const std::string& b, size_t k) { return static_cast<unsigned char>(b[k]); }

// The ID and size at `at`; the data need not be in b.
bool ReadHeader(const std::string& b, size_t at, Element& e)
{
    if (at >= b.size())
        return false;
    const unsigned first = Byte(b, at);
    size_t idLength = 1;
    while (idLength <= 4 && !(first & (0x80u >> (idLength - 1))))
        ++idLength;
    if (idLength > 4)
        return false;
    const size_t s = at + idLength;
    if (s >= b.size())
        return false;
    const unsigned lead = Byte(b, s);
    size_t sizeLength = 1;
    while (sizeLength <= 8 && !(lead & (0x80u >> (sizeLength - 1))))
        ++sizeLength;
    if (sizeLength > 8 || s + sizeLength > b.size())
        return false;
    e.id = 0;
    for (size_t k = 0; k < idLength; ++k)
        e.id = e.id << 8 | Byte(b, at + k);
    std::uint64_t size = lead & (0xFFu >> sizeLength);
    bool allOnes = size == (0xFFu >> sizeLength);
    for (size_t k = 1; k < sizeLength; ++k) {
        size = size << 8 | Byte(b, s + k);
        allOnes = allOnes && Byte(b, s + k) == 0xFF;
    }
    e.at = at;
    e.header = idLength + sizeLength;
    e.sizeLength = sizeLength;
    e.size = size;
    e.unknownSize = allOnes;
    return true;
}

// An element of known size that lies whole before end.
bool ReadElement(const std::string& b, size_t at, size_t end, Element& e)
{
    return end <= b.size() && ReadHeader(b, at, e) && !e.unknownSize && e.Data() <= end && e.size <= end - e.Data();
}

// The children of a master element, which must fill it exactly.
bool Children(const std::string& b, const Element& parent, std::vector<Element>& out)
{
    out.clear();
    for (size_t at = parent.Data(); at < parent.End();) {
        Element e;
        if (!ReadElement(b, at, parent.End(), e) || out.size() > 100000)
            return false;
        out.push_back(e);
        at = e.End();
    }
    return true;
}

const Element* Child(const std::vector<Element>& children, std::uint64_t id)
{
    for (const Element& e : children)
        if (e.id == id)
            return &e;
    return nullptr;
}

std::uint64_t UInt(const std::string& b, const Element& e)
{
    std::uint64_t v = 0;
    for (size_t k = 0; k < e.size && k < 8; ++k)
        v = v << 8 | Byte(b, e.Data() + k);
    return v;
}

std::optional<double> Float(const std::string& b, const Element& e)
{
    if (e.size == 0)
        return 0.0;
    if (e.size == 4) {
        const auto bits = static_cast<std::uint32_t>(UInt(b, e));
        float f;
        std::memcpy(&f, &bits, 4);
        return double(f);
    }
    if (e.size == 8) {
        const std::uint64_t bits = UInt(b, e);
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }
    return std::nullopt;
}

std::uint32_t Crc32(const char* data, size_t size)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (size_t k = 0; k < size; ++k)
        c = table[(c ^ static_cast<unsigned char>(data[k])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// Whether the master's CRC-32 element (its first child, if it has one) matches the rest of it.
bool CrcHolds(const std::string& b, const Element& master)
{
    Element first;
    if (!ReadElement(b, master.Data(), master.End(), first) || first.id != kCrc)
        return true;
    if (first.size != 4)
        return false;
    std::uint32_t stored = 0;
    for (int k = 3; k >= 0; --k)
        stored = stored << 8 | Byte(b, first.Data() + size_t(k));
    return stored == Crc32(b.data() + first.End(), master.End() - first.End());
}

// ---- writing

std::string Id(std::uint64_t id)
{
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        if (id >> shift || !out.empty() || shift == 0)
            out += char((id >> shift) & 0xFF);
    return out;
}

size_t LeastSizeLength(std::uint64_t v)
{
    size_t length = 1;
    while (length < 8 && v >= (std::uint64_t(1) << (7 * length)) - 1)
        ++length;
    return length;
}

// A size in length bytes (at least as many as it needs).
std::string Size(std::uint64_t v, size_t length)
{
    length = std::max(length, LeastSizeLength(v));
    std::string out(length, '\0');
    for (size_t k = 0; k < length; ++k)
        out[length - 1 - k] = char((v >> (8 * k)) & 0xFF);
    out[0] = char(static_cast<unsigned char>(out[0]) | (0x80u >> (length - 1)));
    return out;
}

std::string Master(std::uint64_t id, std::string body, size_t sizeLength)
{
    // A CRC-32 first in the body covers the rest of it.
    if (body.size() >= 6 && Byte(body, 0) == 0xBF && Byte(body, 1) == 0x84) {
        const std::uint32_t crc = Crc32(body.data() + 6, body.size() - 6);
        for (int k = 0; k < 4; ++k)
            body[size_t(2 + k)] = char((crc >> (8 * k)) & 0xFF);
    }
    return Id(id) + Size(body.size(), sizeLength) + body;
}

std::string Double(std::uint64_t id, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    std::string out = Id(id) + Size(8, 1);
    for (int shift = 56; shift >= 0; shift -= 8)
        out += char((bits >> shift) & 0xFF);
    return out;
}

std::string ProjectionElement(const VideoTurn& turn, size_t sizeLength)
{
    std::string body = Id(kProjectionType) + Size(1, 1) + std::string(1, '\0'); // rectangular
    if (turn.hflip)
        body += Double(kProjectionYaw, 180);
    if (turn.roll != 0)
        body += Double(kProjectionRoll, turn.roll);
    return Master(kProjection, body, sizeLength);
}

// A Void element of exactly `total` bytes (0, or at least 2).
std::string VoidElement(size_t total)
{
    if (total == 0)
        return std::string();
    const size_t sizeLength = total - 2 <= 126 ? 1 : 8;
    return Id(kVoid) + Size(total - 1 - sizeLength, sizeLength) + std::string(total - 1 - sizeLength, '\0');
}

// ---- the header

struct Layout {
    size_t segmentData = 0;
    std::vector<Element> top; // the Segment's children up to its track headers
    int tracks = -1;          // index of the track headers in top
};

bool IsMatroska(const std::string& b, Element& ebml)
{
    std::vector<Element> children;
    if (!ReadElement(b, 0, b.size(), ebml) || ebml.id != kEbml || !Children(b, ebml, children))
        return false;
    const Element* type = Child(children, kDocType);
    if (!type)
        return false;
    std::string doc = b.substr(type->Data(), type->size);
    while (!doc.empty() && doc.back() == '\0')
        doc.pop_back();
    return doc == "matroska" || doc == "webm";
}

// The Segment's children as far as its track headers, read from the file's first bytes.
// needed: how many bytes the header takes (0 when not known).
bool ReadLayout(const std::string& b, Layout& layout, size_t* needed = nullptr)
{
    Element ebml, segment;
    if (!IsMatroska(b, ebml) || !ReadHeader(b, ebml.End(), segment) || segment.id != kSegment)
        return false;
    layout.segmentData = segment.Data();
    const size_t segmentEnd = segment.unknownSize ? std::numeric_limits<size_t>::max() : segment.End();
    for (size_t at = segment.Data(); at < segmentEnd;) {
        Element e;
        if (!ReadHeader(b, at, e)) {
            if (needed && at + 12 > b.size()) // the read ended inside an element's header
                *needed = at + kFirstRead;
            return false;
        }
        if (e.unknownSize || e.id == kCluster || layout.top.size() > 1000)
            return false;
        if (e.size > segmentEnd - e.Data())
            return false;
        if (e.End() > b.size()) {
            if (needed)
                *needed = e.End();
            return false;
        }
        layout.top.push_back(e);
        at = e.End();
        if (e.id == kTracks) {
            layout.tracks = int(layout.top.size()) - 1;
            return true;
        }
    }
    return false;
}

// The first video track: its entry among the track headers' children, and the entry's children.
bool FirstVideoTrack(const std::string& b, const Element& tracks, std::vector<Element>& entries, size_t& index,
                     std::vector<Element>& entryChildren)
{
    if (!Children(b, tracks, entries))
        return false;
    for (index = 0; index < entries.size(); ++index) {
        if (entries[index].id != kTrackEntry || !Children(b, entries[index], entryChildren))
            continue;
        const Element* type = Child(entryChildren, kTrackType);
        if (type && UInt(b, *type) == 1 && Child(entryChildren, kVideo))
            return true;
    }
    return false;
}

std::optional<VideoTurn> TurnOfProjection(const std::string& b, const Element& projection)
{
    std::vector<Element> children;
    if (!Children(b, projection, children))
        return std::nullopt;
    const Element* type = Child(children, kProjectionType);
    if (type && UInt(b, *type) != 0)
        return std::nullopt; // spherical video
    double yaw = 0, pitch = 0, roll = 0;
    for (const auto& [id, value] : {std::pair{kProjectionYaw, &yaw}, std::pair{kProjectionPitch, &pitch},
                                    std::pair{kProjectionRoll, &roll}})
        if (const Element* e = Child(children, id)) {
            const std::optional<double> v = Float(b, *e);
            if (!v || !std::isfinite(*v))
                return std::nullopt;
            *value = *v;
        }
    if (pitch != 0 || (yaw != 0 && yaw != 180 && yaw != -180))
        return std::nullopt;
    return VideoTurn{roll, yaw != 0};
}

// A SeekHead entry: the ID it names and its position element.
struct SeekEntry {
    std::uint64_t id = 0;
    Element position;
};

bool SeekEntries(const std::string& b, const Element& seekHead, std::vector<SeekEntry>& out)
{
    std::vector<Element> seeks, parts;
    if (!Children(b, seekHead, seeks))
        return false;
    out.clear();
    for (const Element& s : seeks) {
        if (s.id != kSeek)
            continue;
        const Element* id = Children(b, s, parts) ? Child(parts, kSeekId) : nullptr;
        const Element* position = id ? Child(parts, kSeekPosition) : nullptr;
        if (!position || position->size == 0 || position->size > 8 || id->size == 0 || id->size > 4)
            return false;
        out.push_back({UInt(b, *id), *position});
    }
    return true;
}

// Whether every SeekHead entry that points into the header (up to the end of the track
// headers) points at the start of an element of the kind it names.
bool SeeksHold(const std::string& b, const Layout& layout, const Element& seekHead)
{
    std::vector<SeekEntry> entries;
    if (!SeekEntries(b, seekHead, entries))
        return false;
    const size_t headerEnd = layout.top[size_t(layout.tracks)].End();
    for (const SeekEntry& e : entries) {
        const std::uint64_t target = UInt(b, e.position);
        if (target >= headerEnd - layout.segmentData)
            continue; // behind the header
        bool found = false;
        for (const Element& top : layout.top)
            found = found || (top.at == layout.segmentData + target && top.id == e.id);
        if (!found)
            return false;
    }
    return true;
}

// The file's first bytes, up to the end of its track headers where it has them.
bool ReadHead(int fd, std::string& head)
{
    size_t want = kFirstRead;
    for (int round = 0; round < 2; ++round) {
        head.assign(want, '\0');
        size_t got = 0;
        while (got < want) {
            const ssize_t n = ::pread(fd, head.data() + got, want - got, off_t(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += size_t(n);
        }
        head.resize(got);
        Layout layout;
        size_t needed = 0;
        if (ReadLayout(head, layout, &needed) || needed <= got || needed > kMostHead || got < want)
            return true;
        want = needed;
    }
    return true;
}

} // namespace

std::optional<VideoTurn> TurnOfDisplayMatrix(const std::array<std::int32_t, 9>& m)
{
    // Only the upper left 2x2 part counts (moves and scale aside): a multiple of a turn, or of
    // a turn after a horizontal mirror.
    if (m[2] != 0 || m[5] != 0 || (m[0] == 0 && m[1] == 0))
        return std::nullopt;
    bool hflip;
    if (m[0] == m[4] && -std::int64_t(m[1]) == m[3])
        hflip = false;
    else if (-std::int64_t(m[0]) == m[4] && m[1] == m[3])
        hflip = true;
    else
        return std::nullopt;
    double roll = std::atan2(double(m[3]), double(m[4])) * 180 / M_PI;
    // Whole degrees where the matrix meant them (its numbers are rounded to 1/65536).
    if (std::fabs(roll - std::round(roll)) < 1e-6)
        roll = std::round(roll);
    if (roll == 0)
        roll = 0; // no -0
    return VideoTurn{roll, hflip};
}

std::optional<std::array<std::int32_t, 9>> DisplayMatrixInProbeOutput(const std::string& text)
{
    const size_t key = text.find("displaymatrix=");
    if (key == std::string::npos)
        return std::nullopt;
    std::array<std::int32_t, 9> m{};
    size_t at = key + 14;
    for (int row = 0; row < 3; ++row) {
        char label[16];
        std::snprintf(label, sizeof label, "%08d:", row);
        const size_t found = text.find(label, at);
        // Each row follows the one before, within a line's length.
        if (found == std::string::npos || found - at > 8)
            return std::nullopt;
        at = found + 9;
        for (int col = 0; col < 3; ++col) {
            while (at < text.size() && text[at] == ' ')
                ++at;
            const char* begin = text.c_str() + at;
            char* end = nullptr;
            errno = 0;
            const long long v = std::strtoll(begin, &end, 10);
            if (end == begin || errno != 0 || v < std::numeric_limits<std::int32_t>::min()
                || v > std::numeric_limits<std::int32_t>::max())
                return std::nullopt;
            m[size_t(row * 3 + col)] = std::int32_t(v);
            at += size_t(end - begin);
        }
    }
    return m;
}

MatroskaVideoTrack ReadMatroskaVideoTrackIn(const std::string& head)
{
    MatroskaVideoTrack out;
    Element ebml;
    out.matroska = IsMatroska(head, ebml);
    Layout layout;
    if (!out.matroska || !ReadLayout(head, layout))
        return out;
    std::vector<Element> entries, entryChildren, videoChildren;
    size_t index = 0;
    if (!FirstVideoTrack(head, layout.top[size_t(layout.tracks)], entries, index, entryChildren))
        return out;
    out.video = true;
    const Element* video = Child(entryChildren, kVideo);
    if (!Children(head, *video, videoChildren))
        return out;
    if (const Element* projection = Child(videoChildren, kProjection)) {
        out.projection = true;
        out.turn = TurnOfProjection(head, *projection);
    }
    return out;
}

MatroskaVideoTrack ReadMatroskaVideoTrack(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return MatroskaVideoTrack{};
    std::string head;
    ReadHead(fd, head);
    ::close(fd);
    return ReadMatroskaVideoTrackIn(head);
}

bool AddVideoTurnIn(std::string& head, const VideoTurn& turn, std::string& why)
{
    Layout layout;
    Element ebml;
    if (!IsMatroska(head, ebml)) {
        why = "not a Matroska file";
        return false;
    }
    if (!ReadLayout(head, layout)) {
        why = "no track headers before the first cluster";
        return false;
    }
    const Element tracks = layout.top[size_t(layout.tracks)];
    // ffmpeg's layout: a SeekHead, then the Void it leaves for a larger one, then the
    // file's information and track headers (chapters, attachments or tags may lie between).
    int seekHead = -1, room = -1;
    for (int k = 0; k < layout.tracks; ++k) {
        const std::uint64_t id = layout.top[size_t(k)].id;
        if (id == kSeekHead && seekHead < 0 && room < 0)
            seekHead = k;
        else if (id == kVoid && seekHead >= 0 && room < 0)
            room = k;
        else if (room >= 0 && id != kInfo && id != kChapters && id != kAttachments && id != kTags && id != kVoid) {
            why = "an unexpected element between the header's free space and the track headers";
            return false;
        }
    }
    if (seekHead < 0 || room < 0) {
        why = seekHead < 0 ? "no SeekHead before the track headers" : "no free space (Void) behind the SeekHead";
        return false;
    }
    const Element seek = layout.top[size_t(seekHead)], gap = layout.top[size_t(room)];
    if (!CrcHolds(head, seek) || !CrcHolds(head, tracks)) {
        why = "a CRC-32 of the header does not match";
        return false;
    }
    std::vector<Element> entries, entryChildren, videoChildren;
    size_t index = 0;
    if (!FirstVideoTrack(head, tracks, entries, index, entryChildren)) {
        why = "no video track";
        return false;
    }
    const Element entry = entries[index];
    const Element video = *Child(entryChildren, kVideo);
    if (!Children(head, video, videoChildren)) {
        why = "the video track's header is damaged";
        return false;
    }
    if (Child(videoChildren, kProjection)) {
        why = "the video track has a Projection already";
        return false;
    }

    // The track headers with the Projection added, their sizes and CRC-32 written anew.
    const auto bytes = [&head](size_t from, size_t to) { return head.substr(from, to - from); };
    std::string newTracks;
    size_t freed = 0; // what is left of the Void
    bool fits = false;
    for (size_t projectionSizeLength = 1; projectionSizeLength <= 2 && !fits; ++projectionSizeLength) {
        const std::string newVideo =
            Master(kVideo, bytes(video.Data(), video.End()) + ProjectionElement(turn, projectionSizeLength), video.sizeLength);
        const std::string newEntry =
            Master(kTrackEntry, bytes(entry.Data(), video.at) + newVideo + bytes(video.End(), entry.End()), entry.sizeLength);
        newTracks = Master(kTracks, bytes(tracks.Data(), entry.at) + newEntry + bytes(entry.End(), tracks.End()),
                           tracks.sizeLength);
        const size_t grown = newTracks.size() - (tracks.End() - tracks.at);
        const size_t gapTotal = gap.End() - gap.at;
        if (grown > gapTotal) {
            why = "too little free space in the header (" + std::to_string(gapTotal) + " bytes, "
                  + std::to_string(grown) + " needed)";
            return false;
        }
        freed = gapTotal - grown;
        fits = freed != 1; // a Void takes at least two bytes
    }
    if (!fits) {
        why = "the header's free space cannot be split";
        return false;
    }
    const size_t shift = (gap.End() - gap.at) - freed; // how far what lies behind the Void moves back

    // The SeekHead's positions of what moved.
    std::vector<SeekEntry> seeks;
    if (!SeekEntries(head, seek, seeks) || !SeeksHold(head, layout, seek)) {
        why = "the SeekHead does not match the header";
        return false;
    }
    for (const SeekEntry& e : seeks)
        if (e.id == kSeekHead) {
            // Its positions would be left behind.
            why = "a second SeekHead";
            return false;
        }
    std::string newSeek = bytes(seek.at, seek.End());
    for (const SeekEntry& e : seeks) {
        const std::uint64_t target = UInt(head, e.position);
        if (target < gap.End() - layout.segmentData || target >= tracks.End() - layout.segmentData)
            continue; // before the Void or behind the header: not moved
        const std::uint64_t moved = target - shift;
        for (size_t k = 0; k < e.position.size; ++k)
            newSeek[e.position.Data() - seek.at + e.position.size - 1 - k] = char((moved >> (8 * k)) & 0xFF);
    }
    std::string seekBody = newSeek.substr(seek.header);
    newSeek = Master(kSeekHead, seekBody, seek.sizeLength);
    if (newSeek.size() != seek.End() - seek.at) {
        why = "the SeekHead could not be written in its place";
        return false;
    }

    std::string changed = head.substr(0, seek.at) + newSeek + bytes(seek.End(), gap.at) + VoidElement(freed)
                          + bytes(gap.End(), tracks.at) + newTracks + head.substr(tracks.End());
    // Read back before anything is given out: the same layout, the CRCs right, the turn there.
    const MatroskaVideoTrack check = ReadMatroskaVideoTrackIn(changed);
    Layout after;
    if (changed.size() != head.size() || !ReadLayout(changed, after) || after.top.back().End() != tracks.End()
        || !CrcHolds(changed, after.top[size_t(seekHead)]) || !CrcHolds(changed, after.top.back())
        || !SeeksHold(changed, after, after.top[size_t(seekHead)]) || !check.turn
        || !(*check.turn == turn)) {
        why = "the header came out wrong";
        return false;
    }
    head.swap(changed);
    return true;
}

bool AddVideoTurn(const std::string& path, const VideoTurn& turn, std::string& why)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    std::string head;
    ReadHead(fd, head);
    std::string changed = head;
    bool ok = AddVideoTurnIn(changed, turn, why);
    if (ok) {
        // Only the bytes that differ are written, in one piece.
        size_t from = 0, to = head.size();
        while (from < to && head[from] == changed[from])
            ++from;
        while (to > from && head[to - 1] == changed[to - 1])
            --to;
        size_t done = 0;
        while (from + done < to) {
            const ssize_t n = ::pwrite(fd, changed.data() + from + done, to - from - done, off_t(from + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                why = std::string("cannot write it: ") + std::strerror(errno);
                ok = false;
                if (done > 0) // put back what was written
                    if (::pwrite(fd, head.data() + from, done, off_t(from)) != ssize_t(done))
                        why += "; its header may be damaged";
                break;
            }
            done += size_t(n);
        }
    }
    if (::close(fd) != 0 && ok) {
        why = std::string("cannot write it: ") + std::strerror(errno);
        ok = false;
    }
    return ok;
}
