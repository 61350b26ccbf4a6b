#include "midifile/song_loader.h"

#include <algorithm>
#include <cctype>

#include "midifile/error_report.h"
#include "midifile/file_io.h"

namespace pitchloom {
namespace {

constexpr int kOpenFailed = 1002;
constexpr int kBadSize = 1003;
constexpr std::size_t kFormatByte = 9;
constexpr const char* kTooLarge = "larger than the 983039 bytes a song may have";

}  // namespace

bool hasMidiExtension(std::string_view path) {
    constexpr std::string_view kExtension = ".mid";
    if (path.size() < kExtension.size()) return false;
    const auto tail = path.substr(path.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

bool SongLoader::loadSongByDialog() {
    const auto path = dialogs_.askOpenPath(kMidiFileFilter);
    if (!path) return false;
    return loadSongFromPath(*path);
}

bool SongLoader::loadSongFromPath(const std::string& path) {
    // Until this load succeeds nothing may play or convert what the buffer holds.
    song_.length = 0;
    if (!song_.exists()) {
        reportError(dialogs_, kBadSize);
        return false;
    }
    const FileContents file = readFile(path, kSongBufferSize);
    if (!file.status) {
        reportError(dialogs_, kOpenFailed);
        dialogs_.showDetail(file.status.about(path));
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
    if (wrongSize != nullptr) {
        reportError(dialogs_, kBadSize);
        dialogs_.showDetail(FileStatus::failed(wrongSize).about(path));
        return false;
    }
    std::copy(file.bytes.begin(), file.bytes.end(), song_.data.begin());

    if (isFormat0) {
        song_.length = static_cast<std::int32_t>(n);
        return true;
    }
    const auto merged = merger_.mergeToFormat0(song_, static_cast<std::int32_t>(n));
    if (!merged) return false;
    song_.length = *merged;
    return true;
}

}  // namespace pitchloom
