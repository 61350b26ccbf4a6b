#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "base/user_dialogs.h"
#include "midifile/midi_song.h"

namespace pitchloom {

/// Merges the tracks of a format-1 image in MidiSong::data into one format-0 track. Owns the
/// running status, which lives for the whole run (a track may start under the status that the
/// previous track, or a file read earlier, left behind).
class Format0Merger {
public:
    explicit Format0Merger(UserDialogs& dialogs);
    ~Format0Merger();
    Format0Merger(const Format0Merger&) = delete;
    Format0Merger& operator=(const Format0Merger&) = delete;

    /// Merges song.data (the first `fileLength` bytes are the file as read) and writes the merged
    /// image over song.data. The merged length, or nothing when the file was refused (the
    /// problems were shown through reportFileError and song.data is left as it was).
    std::optional<std::int32_t> mergeToFormat0(MidiSong& song, std::int32_t fileLength);

    std::uint8_t runningStatus() const { return runningStatus_; }

    struct Buffers;

private:
    UserDialogs& dialogs_;
    std::uint8_t runningStatus_ = 0;
    std::unique_ptr<Buffers> buffers_;  // made by the first merge, kept for the next
};

}  // namespace pitchloom
