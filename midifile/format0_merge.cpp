#include "midifile/format0_merge.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "base/messages.h"
#include "midifile/byte_reader.h"
#include "midifile/event_reader.h"

namespace pitchloom {
namespace {

// Codes shown through reportFileError.
constexpr int kHeaderRejected = 0;
constexpr int kNotFormat1 = 100;
constexpr int kSmpteDivision = 101;
constexpr int kTrackEndOutOfRange = 102;
constexpr int kUndefinedMeta = 103;
constexpr int kNoRunningStatus = 104;
constexpr int kTooManyTracks = 105;
constexpr int kTooManyEvents = 106;
constexpr int kImageTooLarge = 107;

// One file can repeat a problem thousands of times (every byte of a stray run of data, an
// undefined meta event in every bar); past a few boxes the rest would only keep the user clicking.
constexpr int kMaxBoxesPerCode = 10;

constexpr std::size_t kMaxTracks = 64;
constexpr std::size_t kMaxEventsPerTrack = 65535;
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kChunkHeadSize = 8;
// A rest longer than a 4-byte variable-length quantity can say is shortened to the longest one.
constexpr std::uint32_t kMaxDelta = 0x0FFFFFFF;
constexpr std::array<std::uint8_t, 4> kEndOfTrack{0x00, 0xFF, 0x2F, 0x00};
// "MThd", header length 6, format 0, one track; the division follows.
constexpr std::array<std::uint8_t, 12> kMergedHeaderStart{'M', 'T', 'h', 'd', 0, 0,
                                                          0,   6,   0,   0,   0, 1};

// A meta event of no defined type that the file format sets aside: kept without a message.
constexpr std::uint8_t kSilentUndefinedMeta = 0xF0;
constexpr std::uint8_t kEndOfTrackType = 0x2F;

// Copies an event's bytes; most are two or three bytes, too few to be worth a library call.
std::size_t copyEvent(std::span<const std::uint8_t> bytes, std::uint8_t* to) {
    switch (bytes.size()) {
        case 3:
            to[2] = bytes[2];
            [[fallthrough]];
        case 2:
            to[1] = bytes[1];
            to[0] = bytes[0];
            break;
        default:
            std::memcpy(to, bytes.data(), bytes.size());
    }
    return bytes.size();
}

bool isSysExOrEscape(std::span<const std::uint8_t> bytes) {
    return bytes[0] == 0xF0 || bytes[0] == 0xF7;
}

struct TrackEvent {
    std::uint32_t delta;  // ticks still to wait, reduced pass by pass while merging
    std::span<const std::uint8_t> bytes;
};

struct EventRange {
    std::size_t begin;
    std::size_t end;
};

}  // namespace

// The work buffers of a merge, kept for the next: made afresh each time, their pages would be
// mapped and zeroed by the system for every song, which is most of the work of a small one.
struct Format0Merger::Buffers {
    // Uninitialised: only bytes written are read, and a small song touches few pages.
    std::unique_ptr<std::uint8_t[]> expansion =
        std::make_unique_for_overwrite<std::uint8_t[]>(kSongBufferSize);
    std::unique_ptr<std::uint8_t[]> output =
        std::make_unique_for_overwrite<std::uint8_t[]>(kSongBufferSize);
    // Every event takes at least two bytes of the file, so this holds all of them; the pages
    // are only touched, and kept, as far as songs have needed.
    std::vector<TrackEvent> events = [] {
        std::vector<TrackEvent> v;
        v.reserve(kSongBufferSize / 2 + 1);
        return v;
    }();
};

Format0Merger::Format0Merger(UserDialogs& dialogs) : dialogs_(dialogs) {}
Format0Merger::~Format0Merger() = default;

namespace {

// One call of mergeToFormat0.
class MergeRun {
public:
    MergeRun(UserDialogs& dialogs, std::uint8_t& runningStatus, std::span<const std::uint8_t> file,
             Format0Merger::Buffers& buffers)
        : dialogs_(dialogs),
          runningStatus_(runningStatus),
          file_(file),
          expansion_(buffers.expansion.get()),
          output_(buffers.output.get()),
          events_(buffers.events) {
        events_.clear();
    }

    std::optional<std::int32_t> run(MidiSong& song);

private:
    std::optional<std::vector<std::span<const std::uint8_t>>> walkChunks(bool limitTracks);
    bool parseTrack(std::span<const std::uint8_t> track);
    bool record(std::uint32_t delta, std::span<const std::uint8_t> bytes, std::size_t& count);
    std::optional<std::size_t> mergeTracks();
    void report(int code) {
        if (++shown_[code] <= kMaxBoxesPerCode) reportFileError(dialogs_, code);
    }

    UserDialogs& dialogs_;
    std::uint8_t& runningStatus_;
    std::span<const std::uint8_t> file_;
    std::uint8_t* expansion_;
    std::size_t expansionUsed_ = 0;
    std::uint8_t* output_;
    std::vector<TrackEvent>& events_;
    std::vector<EventRange> tracks_;
    std::map<int, int> shown_;  // boxes shown so far in this merge, by code
};

std::optional<std::int32_t> MergeRun::run(MidiSong& song) {
    bool rejected = false;
    if (file_.size() <= 9 || file_[9] != 1) {
        report(kNotFormat1);
        rejected = true;
    }
    // A header cut before its division has no usable one either.
    const std::uint32_t division = readBe16(file_, 12);
    if (file_.size() < kFileHeaderSize || division >= 0x8000) {
        report(kSmpteDivision);
        rejected = true;
    }
    // A rejected header merges nothing, so its track count is no danger: 0 always follows.
    const auto chunks = walkChunks(!rejected);
    if (!chunks) return std::nullopt;
    if (rejected) {
        report(kHeaderRejected);
        return std::nullopt;
    }

    for (const auto& chunk : *chunks) {
        const std::size_t begin = events_.size();
        if (!parseTrack(chunk)) return std::nullopt;
        tracks_.push_back({begin, events_.size()});
    }
    const auto length = mergeTracks();
    if (!length) return std::nullopt;

    const std::span<std::uint8_t> out(output_, *length);
    std::memcpy(out.data(), kMergedHeaderStart.data(), kMergedHeaderStart.size());
    out[12] = static_cast<std::uint8_t>(division >> 8);
    out[13] = static_cast<std::uint8_t>(division);
    std::memcpy(out.data() + 14, "MTrk", 4);
    writeBe32(out, kTrackLengthOffset, static_cast<std::uint32_t>(*length - kFirstEventOffset));
    // The merged song replaces the whole buffer: nothing of an earlier song stays behind it.
    const auto rest = std::copy(out.begin(), out.end(), song.data.begin());
    std::fill(rest, song.data.end(), std::uint8_t{0});
    return static_cast<std::int32_t>(*length);
}

// The track table: every chunk counts as a track whatever its tag; a chunk running past the data
// is cut at its end, and the walk stops where the data does even if the header promised more.
std::optional<std::vector<std::span<const std::uint8_t>>> MergeRun::walkChunks(bool limitTracks) {
    std::vector<std::span<const std::uint8_t>> chunks;
    const std::size_t count = readBe16(file_, 10);
    std::size_t start = kFileHeaderSize;
    for (std::size_t i = 0; i < count && start + kChunkHeadSize <= file_.size(); ++i) {
        if (limitTracks && chunks.size() == kMaxTracks) {
            report(kTooManyTracks);
            return std::nullopt;
        }
        const std::uint64_t dataStart = start + kChunkHeadSize;
        const std::uint64_t end = dataStart + readBe32(file_, start + 4);
        if (end > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
            report(kTrackEndOutOfRange);
        }
        const std::size_t cutEnd =
            static_cast<std::size_t>(std::min<std::uint64_t>(end, file_.size()));
        chunks.push_back(file_.subspan(dataStart, cutEnd - dataStart));
        start = cutEnd;
    }
    return chunks;
}

// Records the track's events; false when the file must be refused. An event or delta time that
// runs past the end of the track is dropped and ends the track.
bool MergeRun::parseTrack(std::span<const std::uint8_t> track) {
    EventReader reader(track, 0, runningStatus_, EventReader::StrayData::Report);
    std::size_t count = 0;
    while (auto e = reader.next()) {
        runningStatus_ = reader.runningStatus();
        if (e->stray) {
            // Nothing is consumed, so the same byte is read next as a delta time.
            report(kNoRunningStatus);
            continue;
        }
        if (e->isMeta() && e->metaType() == kEndOfTrackType) continue;
        if (e->unknownMeta && e->metaType() != kSilentUndefinedMeta) report(kUndefinedMeta);

        std::span<const std::uint8_t> bytes = e->bytes;
        if (e->unfinishedSysEx) {
            // A message split into packets goes on in F7 packets at once: they stay one event,
            // so that no other track's event comes between them.
            EventReader ahead = reader;
            while (auto part = ahead.next()) {
                if (!part->isEscape() || part->delta != 0) break;
                bytes = track.subspan(e->at, part->end() - e->at);
                reader = ahead;
                if (!part->payload.empty() && part->payload.back() == 0xF7) break;
            }
            runningStatus_ = reader.runningStatus();
        }
        // A packet read on to its F7 past a length too short is written with its true length:
        // a later walk of the merged song would read it differently, taking another track's
        // events as its tail. The first packet of a split message keeps its length and no F7,
        // so that its later packets still continue it.
        if ((e->isSysEx() || e->isEscape()) && !e->unfinishedSysEx &&
            ByteReader(e->bytes, 1).readVlq() != e->payload.size()) {
            const auto length = static_cast<std::uint32_t>(e->payload.size());
            const std::size_t size = 1 + vlqSize(length) + length;
            if (expansionUsed_ + size > kSongBufferSize) {
                report(kImageTooLarge);
                return false;
            }
            std::uint8_t* copy = expansion_ + expansionUsed_;
            copy[0] = e->status;
            const std::size_t lengthSize = writeVlq(length, copy + 1);
            std::memcpy(copy + 1 + lengthSize, e->payload.data(), e->payload.size());
            bytes = {copy, size};
            expansionUsed_ += size;
        }
        if (e->runningStatus) {
            // Written out with its status byte, as every event of the merged song is.
            if (expansionUsed_ + bytes.size() + 1 > kSongBufferSize) {
                report(kImageTooLarge);
                return false;
            }
            std::uint8_t* copy = expansion_ + expansionUsed_;
            copy[0] = e->status;
            copyEvent(bytes, copy + 1);
            bytes = {copy, bytes.size() + 1};
            expansionUsed_ += bytes.size();
        }
        if (!record(e->delta, bytes, count)) return false;
    }
    return true;
}

bool MergeRun::record(std::uint32_t delta, std::span<const std::uint8_t> bytes,
                      std::size_t& count) {
    if (count == kMaxEventsPerTrack) {
        report(kTooManyEvents);
        return false;
    }
    ++count;
    events_.push_back({delta, bytes});
    return true;
}

// Pass by pass: each pending track whose next event is due writes that one event, lowest track
// first. The first event of a pass carries the pass's delta time, the others 0.
std::optional<std::size_t> MergeRun::mergeTracks() {
    std::vector<EventRange> pending;
    for (const EventRange& t : tracks_) {
        if (t.begin < t.end) pending.push_back(t);
    }

    // A System Exclusive message whose packets lie apart in time: until its track has written the
    // last packet, the other tracks' System Exclusive events wait, so that every later walk finds
    // the packets' continuation as the first F7 after the first packet, as the merge read it.
    // The track (by the end of its range) inside a message, or none.
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::size_t openBy = kNone;
    const auto waits = [&](const EventRange& t) {
        return openBy != kNone && t.end != openBy && isSysExOrEscape(events_[t.begin].bytes);
    };

    std::size_t at = kFirstEventOffset;
    while (!pending.empty()) {
        // A pass limited to 30000 ticks writes nothing when every event lies further away and
        // only carries its ticks to the next event written; taking the whole smallest delta at
        // once gives the same song without running thousands of empty passes.
        std::uint32_t m = std::numeric_limits<std::uint32_t>::max();
        for (const EventRange& t : pending) {
            if (!waits(t)) m = std::min(m, events_[t.begin].delta);
        }

        bool firstInPass = true;
        for (EventRange& t : pending) {
            TrackEvent& e = events_[t.begin];
            // Below m only if it waited: then it is overdue.
            e.delta -= std::min(m, e.delta);
            if (e.delta != 0 || waits(t)) continue;
            const std::uint32_t delta = firstInPass ? std::min(m, kMaxDelta) : 0;
            firstInPass = false;
            if (at + vlqSize(delta) + e.bytes.size() + kEndOfTrack.size() >= kSongBufferSize) {
                report(kImageTooLarge);
                return std::nullopt;
            }
            at += writeVlq(delta, output_ + at);
            at += copyEvent(e.bytes, output_ + at);
            ++t.begin;
            if (isSysExOrEscape(e.bytes)) {
                const bool opens = e.bytes[0] == 0xF0 && e.bytes.back() != 0xF7;
                if (opens) {
                    openBy = t.end;
                } else if (openBy == t.end && (e.bytes[0] == 0xF0 || e.bytes.back() == 0xF7)) {
                    openBy = kNone;
                }
            }
        }
        std::erase_if(pending, [](const EventRange& t) { return t.begin == t.end; });
        if (openBy != kNone && std::none_of(pending.begin(), pending.end(),
                                            [&](const EventRange& t) { return t.end == openBy; })) {
            openBy = kNone;
        }
    }

    std::memcpy(output_ + at, kEndOfTrack.data(), kEndOfTrack.size());
    return at + kEndOfTrack.size();
}

}  // namespace

std::optional<std::int32_t> Format0Merger::mergeToFormat0(MidiSong& song, std::int32_t fileLength) {
    const auto n =
        std::clamp<std::int64_t>(fileLength, 0, static_cast<std::int64_t>(song.data.size()));
    const std::span<const std::uint8_t> file(song.data.data(), static_cast<std::size_t>(n));
    if (!buffers_) buffers_ = std::make_unique<Buffers>();
    MergeRun run(dialogs_, runningStatus_, file, *buffers_);
    return run.run(song);
}

}  // namespace pitchloom
