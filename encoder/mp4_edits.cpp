#include "mp4_edits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// A box within a buffer: payload from `at` to `end`.
struct Box {
    uint32_t type = 0;
    size_t at = 0;  // first byte after the header
    size_t end = 0; // one past the last byte
};

constexpr uint32_t Tag(const char (&t)[5])
{
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 | uint32_t(uint8_t(t[2])) << 8 | uint8_t(t[3]);
}

uint64_t Read(const std::vector<uint8_t>& b, size_t at, int bytes)
{
    uint64_t v = 0;
    for (int k = 0; k < bytes; ++k)
        v = v << 8 | b[at + size_t(k)];
    return v;
}

void Write(std::vector<uint8_t>& b, size_t at, int bytes, uint64_t v)
{
    for (int k = bytes - 1; k >= 0; --k, v >>= 8)
        b[at + size_t(k)] = uint8_t(v);
}

// The boxes directly inside [from, to); false when one does not fit.
bool Children(const std::vector<uint8_t>& b, size_t from, size_t to, std::vector<Box>& out)
{
    out.clear();
    while (from + 8 <= to) {
        uint64_t size = Read(b, from, 4);
        size_t header = 8;
        if (size == 1) {
            if (from + 16 > to)
                return false;
            size = Read(b, from + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = to - from;
        }
        if (size < header || size > to - from)
            return false;
        out.push_back(Box{uint32_t(Read(b, from + 4, 4)), from + header, from + size_t(size)});
        from += size_t(size);
    }
    return true;
}

const Box* Find(const std::vector<Box>& boxes, uint32_t type)
{
    for (const Box& x : boxes)
        if (x.type == type)
            return &x;
    return nullptr;
}

// A full box's duration field: after version and flags, creation and modification times
// (and for tkhd the track id and a reserved word), 32 or 64 bits wide by version.
struct Field {
    size_t at = 0;
    int bytes = 0;
};
Field DurationOf(const std::vector<uint8_t>& b, const Box& box, bool track)
{
    const bool wide = b[box.at] == 1;
    const size_t times = wide ? 16 : 8;
    const size_t at = box.at + 4 + times + (track ? 8 : 4); // tkhd: id and reserved; mvhd: timescale
    return Field{at, wide ? 8 : 4};
}

// The parts of the first video track with an edit list that a change of its edits touches.
struct VideoEdits {
    std::vector<uint8_t>& moov;
    Box trak;
    size_t elst = 0;     // the edit list's payload
    Field trackDuration; // in the movie's time scale
    uint64_t movieScale = 0;
    uint64_t mediaScale = 0; // 0: the media header was not found
};

// Reads the movie box of path, lets change alter the first video track's edits (it returns
// why it could not, or nothing), brings the movie's duration in line and writes the box back.
bool ChangeVideoEdits(const std::string& path, std::string& error,
                      const std::function<std::string(VideoEdits&)>& change)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path;
        return false;
    }
    const auto fail = [&](const std::string& why) {
        error = why;
        ::close(fd);
        return false;
    };
    // The top-level boxes, read header by header, up to the movie box.
    const off_t fileSize = ::lseek(fd, 0, SEEK_END);
    off_t at = 0;
    std::vector<uint8_t> moov;
    off_t moovAt = -1;
    while (at + 8 <= fileSize) {
        std::vector<uint8_t> head(16);
        if (::pread(fd, head.data(), 16, at) < 8)
            return fail("cannot read " + path);
        uint64_t size = Read(head, 0, 4);
        if (size == 1)
            size = Read(head, 8, 8);
        else if (size == 0)
            size = uint64_t(fileSize - at);
        if (size < 8 || size > uint64_t(fileSize - at))
            return fail("not an MP4 file: " + path);
        if (Read(head, 4, 4) == Tag("moov")) {
            if (size > (64u << 20))
                return fail("the movie box of " + path + " is too large");
            moov.resize(size_t(size));
            if (::pread(fd, moov.data(), moov.size(), at) != ssize_t(moov.size()))
                return fail("cannot read " + path);
            moovAt = at;
            break;
        }
        at += off_t(size);
    }
    if (moovAt < 0)
        return fail("no movie box in " + path);

    std::vector<Box> top, inner;
    const size_t moovHeader = Read(moov, 0, 4) == 1 ? 16 : 8;
    if (!Children(moov, moovHeader, moov.size(), top))
        return fail("a damaged movie box in " + path);
    const Box* mvhd = Find(top, Tag("mvhd"));
    if (!mvhd || mvhd->end - mvhd->at < 32)
        return fail("no movie header in " + path);
    const bool wideMovie = moov[mvhd->at] == 1;
    const uint64_t timescale = Read(moov, mvhd->at + 4 + (wideMovie ? 16 : 8), 4);
    if (timescale == 0)
        return fail("no time scale in " + path);

    bool done = false;
    uint64_t longest = 0;
    for (const Box& trak : top) {
        if (trak.type != Tag("trak") || !Children(moov, trak.at, trak.end, inner))
            continue;
        const std::vector<Box> trakBoxes = inner;
        const Box* tkhd = Find(trakBoxes, Tag("tkhd"));
        const Box* mdia = Find(trakBoxes, Tag("mdia"));
        if (!tkhd || !mdia || tkhd->end - tkhd->at < 40)
            continue;
        const Field trackDuration = DurationOf(moov, *tkhd, true);
        std::vector<Box> media;
        const bool listed = Children(moov, mdia->at, mdia->end, media);
        const Box* hdlr = listed ? Find(media, Tag("hdlr")) : nullptr;
        const Box* mdhd = listed ? Find(media, Tag("mdhd")) : nullptr;
        const bool video = hdlr && hdlr->end - hdlr->at >= 12 && Read(moov, hdlr->at + 8, 4) == Tag("vide");
        const Box* edts = Find(trakBoxes, Tag("edts"));
        std::vector<Box> edits;
        const Box* elst = edts && Children(moov, edts->at, edts->end, edits) ? Find(edits, Tag("elst")) : nullptr;
        if (video && !done && elst && elst->end - elst->at >= 8) {
            done = true;
            VideoEdits v{moov, trak, elst->at, trackDuration, timescale, 0};
            if (mdhd && mdhd->end - mdhd->at >= 24)
                v.mediaScale = Read(moov, mdhd->at + 4 + (moov[mdhd->at] == 1 ? 16 : 8), 4);
            const bool wide = moov[elst->at] == 1;
            const uint64_t count = Read(moov, elst->at + 4, 4);
            if (count == 0 || elst->at + 8 + count * uint64_t(wide ? 20 : 12) > elst->end)
                return fail("a damaged edit list in " + path);
            if (const std::string why = change(v); !why.empty())
                return fail(why + " in " + path);
        }
        longest = std::max(longest, Read(moov, trackDuration.at, trackDuration.bytes));
    }
    if (!done)
        return fail("no video track with an edit list in " + path);
    const Field movieDuration = DurationOf(moov, *mvhd, false);
    if (longest > 0 && longest < Read(moov, movieDuration.at, movieDuration.bytes))
        Write(moov, movieDuration.at, movieDuration.bytes, longest);
    if (::pwrite(fd, moov.data(), moov.size(), moovAt) != ssize_t(moov.size()))
        return fail("cannot write " + path);
    ::close(fd);
    return true;
}

// An edit list entry: segment duration (movie time scale), media time (media time scale).
struct Entry {
    size_t at = 0;
    int bytes = 4;
    uint64_t Length(const std::vector<uint8_t>& b) const { return Read(b, at, bytes); }
    int64_t MediaTime(const std::vector<uint8_t>& b) const
    {
        const uint64_t raw = Read(b, at + size_t(bytes), bytes);
        return bytes == 8 ? int64_t(raw) : int64_t(int32_t(uint32_t(raw)));
    }
};

std::vector<Entry> Entries(const VideoEdits& v)
{
    const bool wide = v.moov[v.elst] == 1;
    const uint64_t count = Read(v.moov, v.elst + 4, 4);
    std::vector<Entry> entries;
    for (uint64_t k = 0; k < count; ++k)
        entries.push_back(Entry{v.elst + 8 + size_t(k) * (wide ? 20 : 12), wide ? 8 : 4});
    return entries;
}

} // namespace

bool EndVideoEditAt(const std::string& path, double seconds, std::string& error)
{
    return ChangeVideoEdits(path, error, [seconds](VideoEdits& v) {
        const uint64_t wanted = uint64_t(std::floor(seconds * double(v.movieScale) + 1e-6));
        const std::vector<Entry> entries = Entries(v);
        uint64_t total = 0;
        for (const Entry& e : entries)
            total += e.Length(v.moov);
        const Entry& last = entries.back();
        const uint64_t lastLength = last.Length(v.moov);
        if (total > wanted && total - wanted < lastLength) {
            Write(v.moov, last.at, last.bytes, lastLength - (total - wanted));
            Write(v.moov, v.trackDuration.at, v.trackDuration.bytes, wanted);
        }
        return std::string();
    });
}

namespace {

// Changes the size of a box with a 32-bit size field by delta; false when it has none.
bool Resize(std::vector<uint8_t>& b, const Box& box, int64_t delta)
{
    if (box.at < 8 || Read(b, box.at - 8, 4) != box.end - (box.at - 8))
        return false;
    Write(b, box.at - 8, 4, uint64_t(int64_t(box.end - (box.at - 8)) + delta));
    return true;
}

} // namespace

bool UnmarkSyncSamplesBeforeEdit(const std::string& path, std::string& error)
{
    return ChangeVideoEdits(path, error, [](VideoEdits& v) -> std::string {
        std::vector<uint8_t>& b = v.moov;
        const std::vector<Entry> entries = Entries(v);
        if (entries.size() != 1 || entries.front().MediaTime(b) < 0)
            return "not one edit of the video";
        const uint64_t start = uint64_t(entries.front().MediaTime(b));
        std::vector<Box> trak, mdia, minf, stbl;
        const Box* media = Children(b, v.trak.at, v.trak.end, trak) ? Find(trak, Tag("mdia")) : nullptr;
        if (!media || !Children(b, media->at, media->end, mdia))
            return "no media box";
        const Box* hdlr = Find(mdia, Tag("hdlr"));
        const Box* info = Find(mdia, Tag("minf"));
        const Box* table = info && Children(b, info->at, info->end, minf) ? Find(minf, Tag("stbl")) : nullptr;
        if (!hdlr || !table || !Children(b, table->at, table->end, stbl) || hdlr->end > info->at)
            return "no sample table";
        const Box* stts = Find(stbl, Tag("stts"));
        const Box* stss = Find(stbl, Tag("stss"));
        if (!stss)
            return std::string(); // every sample is a sync sample
        if (!stts || stts->end - stts->at < 8 || stss->end - stss->at < 8)
            return "a damaged sample table";
        const uint64_t runs = Read(b, stts->at + 4, 4);
        const uint64_t syncs = Read(b, stss->at + 4, 4);
        if (stts->at + 8 + runs * 8 > stts->end || stss->at + 8 + syncs * 4 > stss->end)
            return "a damaged sample table";
        // The decode time of a sample (numbered from 1), from the runs of equal durations.
        const auto decodeTime = [&](uint64_t sample) {
            uint64_t time = 0, before = sample - 1;
            for (uint64_t r = 0; r < runs && before > 0; ++r) {
                const uint64_t count = std::min(before, Read(b, stts->at + 8 + r * 8, 4));
                time += count * Read(b, stts->at + 12 + r * 8, 4);
                before -= count;
            }
            return time;
        };
        std::vector<uint32_t> kept;
        for (uint64_t k = 0; k < syncs; ++k) {
            const uint64_t sample = Read(b, stss->at + 8 + k * 4, 4);
            if (sample == 1 || decodeTime(sample) > start)
                kept.push_back(uint32_t(sample));
        }
        const size_t gone = size_t(syncs - kept.size());
        if (gone == 0)
            return std::string();
        // The movie box keeps its size, so that no chunk offset moves: the bytes the sync
        // sample table gives up become trailing zeros of the handler's name.
        const int64_t freed = int64_t(gone) * 4;
        if (!Resize(b, *stss, -freed) || !Resize(b, *table, -freed) || !Resize(b, *info, -freed)
            || !Resize(b, *hdlr, freed))
            return "a box without a plain size";
        Write(b, stss->at + 4, 4, kept.size());
        for (size_t k = 0; k < kept.size(); ++k)
            Write(b, stss->at + 8 + k * 4, 4, kept[k]);
        const size_t tableEnd = stss->at + 8 + syncs * 4;
        b.erase(b.begin() + long(tableEnd - size_t(freed)), b.begin() + long(tableEnd));
        b.insert(b.begin() + long(hdlr->end), size_t(freed), uint8_t(0));
        return std::string();
    });
}
