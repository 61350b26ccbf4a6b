#include "midifile/song_loader.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "base/messages.h"

namespace pitchloom {
namespace {

constexpr int kOpenFailed = 1002;
constexpr int kBadSize = 1003;
constexpr std::size_t kFormatByte = 9;
constexpr std::size_t kHeaderSize = 14;  // "MThd", its length, format, tracks, division
constexpr std::size_t kChunkHead = 8;    // a chunk's tag and length
constexpr const char* kTooLarge = "larger than the 983039 bytes a song may have";
constexpr const char* kNotMidi = "not a MIDI file";

bool tagIs(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view tag) {
    return at + tag.size() <= bytes.size() &&
           std::equal(tag.begin(), tag.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// Brings a file into the layout the rest of the program reads: a header of 6 bytes, and in
// format 0 the track chunk right behind it, as long as its events. A format-0 file already so
// is kept byte for byte. Returns the reason when the bytes are no MIDI file.
const char* toStandardLayout(std::vector<std::uint8_t>& bytes) {
    if (!tagIs(bytes, 0, "MThd")) return kNotMidi;
    const std::uint64_t headerLength = readBe32(bytes, 4);
    const std::uint64_t chunksAt = kChunkHead + headerLength;
    if (bytes.size() >= kHeaderSize) {
        // A header cut before its division is left to the merge, which names what is missing.
        if (headerLength < 6 || chunksAt > bytes.size()) return kNotMidi;
        if (readBe16(bytes, 10) == 0) return "the file holds no track";
    }
    const bool format0 = bytes[kFormatByte] == 0;
    if (!format0) {
        // The merge reads the chunks right behind a header of 6 bytes.
        if (headerLength > 6 && chunksAt <= bytes.size()) {
            bytes.erase(bytes.begin() + kHeaderSize,
                        bytes.begin() + static_cast<std::ptrdiff_t>(chunksAt));
            writeBe32(bytes, 4, 6);
        }
        return nullptr;
    }
    // The tracks: the chunks tagged MTrk; chunks of other kinds are passed over.
    std::vector<std::size_t> tracks;
    for (std::uint64_t at = chunksAt; at + kChunkHead <= bytes.size();
         at += kChunkHead + readBe32(bytes, static_cast<std::size_t>(at) + 4)) {
        if (tagIs(bytes, static_cast<std::size_t>(at), "MTrk")) {
            tracks.push_back(static_cast<std::size_t>(at));
        }
    }
    if (tracks.empty()) return kNotMidi;
    // A track that says it runs past the file is cut where the file ends, as a merged one is.
    const auto endOf = [&bytes](std::size_t chunk) {
        const std::uint64_t declared =
            chunk + kChunkHead + std::uint64_t{readBe32(bytes, chunk + 4)};
        return static_cast<std::size_t>(std::min<std::uint64_t>(declared, bytes.size()));
    };
    if (tracks.size() > 1) {
        // Some programs write format 0 with a chunk per track: all of them are merged, as the
        // tracks of a format-1 file are, rather than all but the first lost.
        std::vector<std::uint8_t> format1(bytes.begin(), bytes.begin() + kHeaderSize);
        writeBe32(format1, 4, 6);
        format1[kFormatByte] = 1;
        format1[10] = static_cast<std::uint8_t>(tracks.size() >> 8);
        format1[11] = static_cast<std::uint8_t>(tracks.size());
        for (const std::size_t chunk : tracks) {
            format1.insert(format1.end(), bytes.begin() + static_cast<std::ptrdiff_t>(chunk),
                           bytes.begin() + static_cast<std::ptrdiff_t>(endOf(chunk)));
        }
        bytes = std::move(format1);
        return nullptr;
    }
    const std::size_t trackAt = tracks.front() + kChunkHead;
    const std::size_t trackEnd = endOf(tracks.front());
    if (trackAt == kFirstEventOffset &&
        trackAt + std::uint64_t{readBe32(bytes, trackAt - 4)} == bytes.size()) {
        return nullptr;
    }

    std::vector<std::uint8_t> standard(bytes.begin(), bytes.begin() + kHeaderSize);
    writeBe32(standard, 4, 6);
    standard.insert(standard.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0});
    writeBe32(standard, kTrackLengthOffset, static_cast<std::uint32_t>(trackEnd - trackAt));
    standard.insert(standard.end(), bytes.begin() + static_cast<std::ptrdiff_t>(trackAt),
                    bytes.begin() + static_cast<std::ptrdiff_t>(trackEnd));
    bytes = std::move(standard);
    return nullptr;
}

}  // namespace

bool hasMidiExtension(std::string_view path) {
    return hasExtension(path, kMidiFileFilter.defaultExtension);
}

bool SongLoader::loadSongByDialog() {
    const auto path = dialogs_.askOpenPath(kMidiFileFilter);
    if (!path) return false;
    return loadSongFromPath(*path);
}

bool SongLoader::loadSongFromPath(const std::string& path) {
    if (!readSong(path)) return false;
    if (loaded_) loaded_(song_.image());
    return true;
}

bool SongLoader::readSong(const std::string& path) {
    // Until this load succeeds nothing may play or convert what the buffer holds.
    song_.length = 0;
    if (!song_.exists()) {
        reportError(dialogs_, kBadSize);
        return false;
    }
    FileContents file = readFile(path, kSongBufferSize);
    if (!file.status) {
        reportError(dialogs_, kOpenFailed, file.status.about(path));
        return false;
    }
    const std::size_t n = file.bytes.size();
    const bool isFormat0 = n <= kFormatByte || file.bytes[kFormatByte] == 0;
    // A read that fills the buffer cannot tell a file that fits from a larger one; a format-0
    // song shorter than its 22-byte header would lead playback past the bytes read.
    const char* wrongSize = n == 0                               ? "the file is empty"
                            : n == kSongBufferSize               ? kTooLarge
                            : isFormat0 && n < kFirstEventOffset ? "too short for a MIDI file"
                                                                 : nullptr;
    if (wrongSize == nullptr) wrongSize = toStandardLayout(file.bytes);
    if (wrongSize != nullptr) {
        reportError(dialogs_, kBadSize, FileStatus::failed(wrongSize).about(path));
        return false;
    }
    std::copy(file.bytes.begin(), file.bytes.end(), song_.data.begin());

    if (file.bytes.size() <= kFormatByte || file.bytes[kFormatByte] == 0) {
        song_.length = static_cast<std::int32_t>(file.bytes.size());
        return true;
    }
    const auto merged = merger_.mergeToFormat0(song_, static_cast<std::int32_t>(file.bytes.size()));
    if (!merged) return false;
    song_.length = *merged;
    return true;
}

}  // namespace pitchloom
