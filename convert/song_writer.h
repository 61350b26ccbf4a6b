#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "convert/event_walk.h"
#include "midifile/file_io.h"
#include "midifile/midi_song.h"
#include "midifile/user_dialogs.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// Edits a loaded format-0 song in place for the Convert command: inserts tuning messages
/// before the first note, moves notes onto the scale, and saves the result. The song's length
/// grows with every insertion; delta times of the song's own events never change.
class SongWriter {
public:
    SongWriter(MidiSong& song, TuningState& tuning, UserDialogs& dialogs)
        : song_(song), tuning_(tuning), dialogs_(dialogs) {}

    /// The absolute time of the event just before the first note-on (running status and
    /// velocity 0 included); 0 when the note-on is the first event or the song has none.
    std::uint64_t findTuningTime();

    /// Inserts a message in file form (F0, length, body, F7) with delta time 0 after the last
    /// event lying strictly between time 0 and `time`, or at the first event; never in front of
    /// a reset message that precedes the first note-on. An event behind it that ran on the
    /// status before gets its status byte written out, since a System Exclusive message ends
    /// running status. False, with nothing changed, when the result would not fit.
    bool insertEvent(std::uint64_t time, std::span<const std::uint8_t> message);

    /// The status bytes that insertions at `time` will add besides the messages (0 or 1).
    std::size_t statusBytesAddedAt(std::uint64_t time);

    /// Moves every note-on and note-off outside a rhythm channel onto the scale; GS rhythm-part
    /// messages mark their channel for the notes after them.
    void applyScaleToNotes();

    /// Asks for a file name and writes the song there (see FileWriter). True when it was
    /// written; a cancel writes nothing and shows nothing.
    bool saveWithDialog(PipeWait pipes = PipeWait::No);

    /// The image as edited so far.
    std::span<const std::uint8_t> image() const { return song_.image(); }

private:
    struct InsertionPoint {
        std::size_t at = kFirstEventOffset;
        std::optional<std::size_t> statusAt;  // where the next event's status byte must go
        std::uint8_t status = 0;
    };

    /// The next event; an unknown meta type is shown as "Event Error!" by the walks that report.
    std::optional<SongEvent> nextEvent(EventWalk& walk, bool report = true);
    InsertionPoint insertionPoint(std::uint64_t time, bool report);
    std::optional<std::size_t> endOfResetBeforeFirstNoteOn();

    MidiSong& song_;
    TuningState& tuning_;
    UserDialogs& dialogs_;
};

}  // namespace pitchloom
