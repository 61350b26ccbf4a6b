#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/user_dialogs.h"
#include "midifile/midi_song.h"
#include "session/session.h"

namespace pitchloom::fuzz {

using Bytes = std::vector<std::uint8_t>;

/// Stops the run with the reason when a property every input must keep is broken; libFuzzer
/// takes the abort as a finding and keeps the input.
void require(bool holds, std::string_view property);

/// Message boxes that close at once and file dialogs that answer with set paths, so that an
/// input showing thousands of boxes still finishes fast.
class QuietDialogs : public UserDialogs {
public:
    /// The answer of every open (save) dialog from now on; nothing means cancel.
    void answerOpen(std::optional<std::string> path) { open_ = std::move(path); }
    void answerSave(std::optional<std::string> path) { save_ = std::move(path); }

    void showMessage(std::string_view text, BoxStyle style) override;
    std::optional<std::string> askOpenPath(std::span<const FileFilter> filters) override;
    std::optional<std::string> askSavePath(std::span<const FileFilter> filters) override;
    using UserDialogs::askOpenPath;
    using UserDialogs::askSavePath;

    int boxCount() const { return boxes_; }
    /// How many boxes showed exactly this text.
    int count(std::string_view text) const;

private:
    std::optional<std::string> open_;
    std::optional<std::string> save_;
    int boxes_ = 0;
    std::map<std::string, int, std::less<>> texts_;
};

/// A folder of its own for one fuzzing process, removed when the process ends.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    /// The path of a file in the folder.
    std::string path(std::string_view name) const;
    /// Replaces the file's contents with the bytes; returns its path.
    std::string write(std::string_view name, std::span<const std::uint8_t> bytes) const;
    /// The names of the files in the folder, sorted.
    std::vector<std::string> names() const;

private:
    std::string dir_;
};

/// The song buffer, kept from input to input because making one costs more than most runs;
/// zero-filled afresh for each, so that every run starts from the same bytes.
MidiSong& reusedSong();

/// A fresh session for one input, on the song buffer kept from input to input (given back when
/// the session ends).
class FuzzSession : public Session {
public:
    FuzzSession(UserDialogs& dialogs, MidiSong& kept) : Session(dialogs), kept_(kept) {
        song.data.swap(kept.data);
        song.length = kept.length;
    }
    ~FuzzSession() { kept_.data.swap(song.data); }

private:
    MidiSong& kept_;
};

/// More than any reader takes in: the song buffer refuses a file this long.
constexpr std::size_t kLargestInput = kSongBufferSize + 1;

/// A format-0 file already in the layout the program reads: "MThd", a header of 6 bytes, format
/// 0, and its MTrk chunk right behind as long as the rest of the file.
bool isStandardFormat0(std::span<const std::uint8_t> file);

/// Twelve in-scale marks from twelve bits of mask (bit 0 is C); no bit set means every class,
/// since a scale is never empty.
std::array<std::uint8_t, 12> marksFromMask(unsigned mask);

}  // namespace pitchloom::fuzz
