#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "base/file_io.h"
#include "base/user_dialogs.h"
#include "midifile/event_reader.h"
#include "midifile/midi_song.h"
#include "tuning/note_retuner.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// Writes a loaded format-0 song anew for the Convert command: inserts tuning messages before
/// the first note, moves notes onto the scale, and saves the result. Each edit reads the song's
/// events and writes them again (see EventWriter); what cannot be read is kept as it stands.
/// The song's length grows with the insertion; delta times of the song's own events never change.
class SongWriter {
public:
    SongWriter(MidiSong& song, TuningState& tuning, UserDialogs& dialogs)
        : song_(song), tuning_(tuning), dialogs_(dialogs) {}

    /// The absolute time of the event just before the first note-on (running status and
    /// velocity 0 included); 0 when the note-on is the first event or the song has none.
    std::uint64_t findTuningTime();

    /// Inserts messages in file form (F0, length, body, F7), each with delta time 0, in one move,
    /// after the last event lying strictly between time 0 and `time`, or at the first event;
    /// never in front of a reset message that precedes the first note-on. Where one message
    /// after the other would land on the same spot (at the first event, or after a reset at
    /// time 0 or `time`), each goes in front of the one before: they stand newest first there,
    /// and in the order given anywhere else. An event behind them that ran on the status before
    /// gets its status byte written out, since a System Exclusive message ends running status.
    /// False, with nothing changed, when the result would not fit.
    bool insertEvents(std::uint64_t time, std::span<const std::span<const std::uint8_t>> messages);
    /// One message, as insertEvents.
    bool insertEvent(std::uint64_t time, std::span<const std::uint8_t> message);

    /// The status bytes that insertions at `time` will add besides the messages (0 or 1).
    std::size_t statusBytesAddedAt(std::uint64_t time);

    /// The channels that are no rhythm channels where messages for `time` go, as the song's GS
    /// rhythm-part messages before that place have set them (bit c for channel c).
    std::uint16_t melodicChannelsAt(std::uint64_t time);

    /// Moves every note-on and note-off outside a rhythm channel onto the scale; GS rhythm-part
    /// messages mark their channel for the notes after them. A meta event of an unknown type is
    /// shown once as "Event Error!" and skipped by its length.
    void applyScaleToNotes();

    /// Runs `insert`, which inserts through insertEvents (insertScaleTuning, say), then moves the
    /// notes onto the scale, writing the song once: the result is byte for byte what those
    /// insertions followed by applyScaleToNotes give. Inside `insert` an insertion is checked for
    /// room and held back (image() does not show it; any other call writes it first). Gives what
    /// `insert` gave; when false, what it inserted stays and the notes stay where they were.
    bool insertAndApplyScale(const std::function<bool(SongWriter&)>& insert);

    /// Moves the notes onto the scale as applyScaleToNotes does and hands every channel message,
    /// with its time and whether its channel is a rhythm channel there, to `retuner` (begun on
    /// the song and the tuning in force), writing what it gives instead: the first message after
    /// the event's delta time, the others at once after it. After a reset the song sends, what
    /// the retuner sends again follows it. False, with nothing changed, when the song would no
    /// longer load (kSongBufferSize bytes or more).
    bool retuneNotes(NoteRetuner& retuner);

    /// Asks for a file name and writes the song there (see FileWriter). True when it was
    /// written; a cancel writes nothing and shows nothing. The box that says it was written
    /// adds `remark` on a line of its own when there is one.
    bool saveWithDialog(WriteMode mode = {}, std::string_view remark = {});
    /// Writes the song to path and says how that went, as saveWithDialog. True when it was
    /// written.
    bool saveTo(const std::string& path, WriteMode mode = {}, std::string_view remark = {});

    /// The image as edited so far.
    std::span<const std::uint8_t> image() const { return song_.image(); }

private:
    struct InsertionPoint {
        std::size_t events = 0;  // the song's events in front of the messages
        bool newestFirst = true;
        bool statusAdded = false;  // the event behind them ran on the status before them
        bool readsAlike = true;    // the events in front read as before with the messages there
    };
    struct Insertion {
        InsertionPoint point;
        std::span<const std::span<const std::uint8_t>> messages;  // in the order given
    };
    struct HeldInsertion {
        std::uint64_t time = 0;
        std::vector<std::uint8_t> bytes;
        std::vector<std::span<const std::uint8_t>> messages;  // over bytes
    };

    EventReader reader() const { return EventReader(image(), kFirstEventOffset); }
    InsertionPoint insertionPoint(std::uint64_t time);
    bool rewrite(const Insertion* insertion, bool moveNotes);
    void writeHeld();

    MidiSong& song_;
    TuningState& tuning_;
    UserDialogs& dialogs_;
    std::optional<std::pair<std::uint64_t, InsertionPoint>> cached_;  // until the song changes
    std::unique_ptr<std::uint8_t[]> scratch_;                         // the image being written
    bool holding_ = false;  // inside insertAndApplyScale's `insert`
    std::optional<HeldInsertion> held_;
};

}  // namespace pitchloom
