#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/user_dialogs.h"
#include "midifile/event_reader.h"
#include "midifile/midi_song.h"
#include "midifile/song_clock.h"
#include "midifile/song_loader.h"
#include "midifile/sysex.h"
#include "playback/outputs/midi_port.h"
#include "playback/playing/scale_tuning_sender.h"
#include "playback/playing/timer_service.h"
#include "tuning/dialect.h"
#include "tuning/note_retuner.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

inline constexpr std::string_view kPlayCaption = "     Play";
inline constexpr std::string_view kStopCaption = "     Stop";

/// What playback needs of the window: the Play button's caption, a repaint, the wait cursor.
/// Called from the window thread and from the timer thread at the end of a song.
class PlaybackView {
public:
    virtual ~PlaybackView() = default;
    virtual void setPlayCaption(std::string_view caption) = 0;
    virtual void requestRepaint() = 0;
    virtual void setWaitCursor(bool waiting) = 0;
};

/// Plays the song through the port on a chain of one-shot timers, retuned and moved onto the
/// scale as it goes.
class Sequencer {
public:
    struct Parts {
        MidiSong& song;
        TuningState& tuning;
        MidiPort& port;
        ScaleTuningSender& sender;
        const std::atomic<DeviceType>& deviceType;
        UserDialogs& dialogs;
        SongLoader& loader;
        TimerService& timers;
        PlaybackView& view;
    };

    explicit Sequencer(Parts parts);
    ~Sequencer();

    /// The Play/Stop command: stops a playing song, or asks for a song and plays it.
    void TogglePlay();
    /// Caption "     Stop", rhythm channels reset, nothing sent yet, and the timer chain started.
    void beginPlayback();
    void startPlayback();
    /// Disarms the chain, clears `playing`, waits, and shows "     Play". Callable from either
    /// thread; never waits for a running callback.
    void stopPlayback();

    bool isPlaying() const { return playing.load() != 0; }

    /// One message from a MIDI input (a keyboard), played at once as a song's would be: notes
    /// moved onto the scale and retuned in the dialect in force, the rest passed on. While a song
    /// plays its notes and the keyboard's take channels from the same pool. Callable from any
    /// thread; a message cut short or without a status byte is dropped.
    void playLive(std::span<const std::uint8_t> message);
    /// Ends every note the input left sounding, pedal lifted and All Notes Off on each channel
    /// they went out on (the input is gone).
    void endLive();

    /// How a dialect that retunes note by note may use the channels, from the next start of
    /// playback on.
    void setRetuneSettings(const RetuneSettings& settings) { retuneSettings_ = settings; }
    /// Makes the retuners from the next start of playback on, in place of the dialect table's
    /// maker (the table still says when to retune note by note); for tests that watch the
    /// sequencer's side of a retuner.
    void setRetunerFactory(
        std::function<std::unique_ptr<NoteRetuner>(const RetuneSettings&)> make) {
        retunerFactory_ = std::move(make);
    }
    /// How the notes of the last playback were retuned, up to its end or stop (so far, while it
    /// plays); nothing when no dialect in force during it retuned note by note.
    std::optional<RetuneReport> retuneReport() const;

    /// The wait after a stop, one second; tests shorten it.
    void setStopWait(std::chrono::milliseconds wait) { stopWait_ = wait; }

    /// Milliseconds of one tick at 120 beats per minute for a division, at least `minPeriod`:
    /// the wait before the first event.
    static std::uint32_t periodFor(std::uint32_t division, int minPeriod);
    /// When each event of the song image plays, from the start of playback: the first one period
    /// after it, each later one at its exact time in the song after the first. Calls `at` with
    /// each event and its time, in order; false when the song cannot be played (a division of 0
    /// or in time code). Stops at the end of the track or an event that cannot be played.
    template <typename At>
    static bool timeline(std::span<const std::uint8_t> image, int minPeriod, At at);
    /// How long playing the song image takes, from the start to its last event; nothing when it
    /// cannot be played.
    static std::optional<std::chrono::nanoseconds> playingTime(std::span<const std::uint8_t> image,
                                                               int minPeriod);

    std::atomic<std::uint8_t> playing{0};  // window and timer threads

    /// What the dialect table makes a note retuner with.
    using NoteRetunerMaker = decltype(Dialect::noteRetuner);

    /// State of one playback, touched only by the timer chain once it runs.
    struct Run {
        std::uint64_t generation = 0;
        std::uint32_t periodMs = 0;
        std::int32_t noteOnCount = 0;
        bool tuningWiped = false;  // a reset went to the device since the tuning was last sent
        SongClock clock{1};        // the song's time of the event last played
        SteadyTime origin{};       // when the song's time 0, its first event, plays
        SteadyTime due{};          // when the event last played was due
        std::optional<EventReader> events;
        std::optional<MidiEvent> next;  // what the next timer plays
        /// A System Exclusive message sent in packets, gathered until its last one.
        std::vector<std::uint8_t> packets;
        std::uint8_t firstRunningStatus = 0;  // what the walk started with
        std::uint64_t eventsPlayed = 0;
        RetuneSettings retuneSettings;
        std::function<std::unique_ptr<NoteRetuner>(const RetuneSettings&)> retunerFactory;
        /// While the dialect in force retunes note by note: its retuner, the table's maker of it,
        /// and what it says for the message in hand.
        std::unique_ptr<NoteRetuner> retuner;
        NoteRetunerMaker retunerMaker = nullptr;
        std::vector<ChannelMessage> retuned;
        RetuneReport earlierRetuners;  // of the retuners a device type change ended
        bool live = false;  // a run of the keyboard alone, with no song
        std::uint32_t deviceOpenings = 0;  // the port's openings when it last told the device
    };

private:
    /// The track of a song image as playback walks it, and its division.
    struct Track {
        std::uint32_t division;
        std::span<const std::uint8_t> bytes;
    };
    static std::optional<Track> playableTrack(std::span<const std::uint8_t> image);
    /// Moves the rest of the song on to play from `now` when it fell behind.
    static void holdUntil(Run& run, SteadyTime now);

    void onTimer(const std::shared_ptr<Run>& run);
    bool playEvent(Run& run);
    bool arm(const std::shared_ptr<Run>& run);
    bool current(const Run& run) const { return run.generation == generation_.load(); }
    /// The note of a note event, moved onto the scale (in the song too) unless its channel is a
    /// rhythm channel.
    int noteOntoScale(const MidiEvent& e);
    void playNote(const MidiEvent& e, bool on);
    void send(const ChannelMessage& message);
    /// Starts or ends retuning note by note when the device type in force came to ask for it or
    /// stopped asking.
    void followRetuning(Run& run, DeviceType type);
    void startRetuning(Run& run, NoteRetunerMaker make);
    void stopRetuning(Run& run);
    /// A channel message of the song through the retuner.
    void retune(Run& run, const MidiEvent& e);
    /// Sends what the retuner said, and keeps its report where the window thread can read it.
    void sendRetuned(Run& run);
    /// Notes off and the bend centred on each channel of the mask.
    void releaseBends(std::uint16_t channels);
    void playSysEx(Run& run, const MidiEvent& e, DeviceType type);
    /// A whole System Exclusive message: rhythm parts, resets and what the dialect withholds,
    /// then the device.
    void playMessage(Run& run, std::span<const std::uint8_t> body,
                     std::span<const std::uint8_t> fileForm, DeviceType type);
    void sendTuning(Run& run, DeviceType type);
    /// A tuning changed on the window: the retuner and the module hear of it before what plays
    /// next.
    void followTuningChange(Run& run, DeviceType type);
    /// Another device was opened: it gets the tuning, and what a retuner sets up, as after a
    /// reset.
    void followDevice(Run& run);
    /// The module forgot what it was sent (a reset, another device): the tuning goes out again
    /// before the next note, and the retuner sets its channels up again.
    void forgetModule(Run& run);

    /// The run the keyboard plays in: the song's while one plays, else one of its own.
    Run& liveRunLocked();
    /// A keyboard's channel message through the scale move and the run's dialect.
    void playLiveMessage(Run& run, ChannelMessage m, DeviceType type);
    /// One message of the keyboard through the run's retuner, or straight to the port.
    void routeLive(Run& run, const ChannelMessage& m, bool rhythm);
    /// Note Offs for the keyboard's sounding keys through the run that sounded them.
    void releaseLiveNotes(Run& run);
    /// The pitch a keyboard's note gets where the tuning gives each note its own.
    std::optional<double> livePitchOf(int key);

    Parts p_;
    std::chrono::milliseconds stopWait_{1000};
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::uint8_t> runningStatus_{
        0};                  // timer thread; kept from one playback to the next
    std::mutex timerMutex_;  // guards pending_ against stop/arm races
    std::optional<TimerService::TimerId> pending_;
    RetuneSettings retuneSettings_;  // window thread; copied into each run
    std::function<std::unique_ptr<NoteRetuner>(const RetuneSettings&)> retunerFactory_;
    // Channels a retuner bent: set on the timer thread, straightened at the next start or when
    // the device type stops retuning note by note, since the module keeps a bend for ever.
    std::atomic<std::uint16_t> bentChannels_{0};
    mutable std::mutex reportMutex_;  // guards report_: written by the timer thread, read by any
    std::optional<RetuneReport> report_;

    // What plays: the song's events on the timer thread and the keyboard's on its input's
    // thread, one at a time; guards the runs and the keyboard's state below.
    std::mutex playMutex_;
    std::shared_ptr<Run> songRun_;  // the song's run, kept while the keyboard plays in it
    std::unique_ptr<Run> liveRun_;  // while no song plays
    struct LiveKey {
        bool down = false;
        std::uint8_t played = 0;  // the key it sounds after the scale move
        double cents = 0;         // its own pitch, where the tuning gives each note one
    };
    std::array<std::array<LiveKey, 128>, kPartCount> liveKeys_{};
    std::uint16_t liveChannels_ = 0;   // where the keyboard's messages went out
    std::uint16_t livePedalled_ = 0;   // parts whose sustain pedal the keyboard holds down
};

template <typename At>
bool Sequencer::timeline(std::span<const std::uint8_t> image, int minPeriod, At at) {
    const auto track = playableTrack(image);
    if (!track) return false;
    EventReader events(track->bytes, kFirstEventOffset, 0, EventReader::StrayData::Report);
    const std::chrono::nanoseconds start =
        std::chrono::milliseconds(periodFor(track->division, minPeriod));
    SongClock clock(track->division);
    for (bool first = true;; first = false) {
        const auto e = events.next();
        if (!e || e->stray) return true;
        if (!first) clock.advance(e->delta);
        const auto time = clock.elapsed();
        at(*e, time >= std::chrono::nanoseconds::max() - start ? time : start + time);
        if (const auto tempo = e->tempo()) clock.setTempo(*tempo);
    }
}

}  // namespace pitchloom
