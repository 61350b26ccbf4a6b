#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/user_dialogs.h"
#include "midifile/format0_merge.h"
#include "midifile/midi_song.h"

namespace pitchloom {

/// True when the last four characters of the path are ".mid" in any case.
bool hasMidiExtension(std::string_view path);

/// Reads a MIDI file into the song, merging it when it is not format 0.
class SongLoader {
public:
    SongLoader(MidiSong& song, Format0Merger& merger, UserDialogs& dialogs)
        : song_(song), merger_(merger), dialogs_(dialogs) {}

    /// Asks for a file with the "midi files" dialog and loads it; false when cancelled or failed.
    bool loadSongByDialog();
    /// Loads the file at path; false when it failed (the reason was shown).
    bool loadSongFromPath(const std::string& path);

    /// Called with the song's image after each load that succeeds, before anything plays or
    /// converts it.
    void setLoadedHandler(std::function<void(std::span<const std::uint8_t>)> handler) {
        loaded_ = std::move(handler);
    }

private:
    bool readSong(const std::string& path);

    std::function<void(std::span<const std::uint8_t>)> loaded_;
    MidiSong& song_;
    Format0Merger& merger_;
    UserDialogs& dialogs_;
};

}  // namespace pitchloom
