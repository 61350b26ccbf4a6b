#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/user_dialogs.h"
#include "midifile/event_reader.h"
#include "midifile/midi_song.h"
#include "midifile/song_loader.h"
#include "midifile/sysex.h"
#include "playback/outputs/midi_port.h"
#include "playback/playing/scale_tuning_sender.h"
#include "midifile/song_clock.h"
#include "playback/playing/timer_service.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

inline constexpr std::string_view kPlayCaption = "     Play";
inline constexpr std::string_view kStopCaption = "     Stop";

/// The microseconds per quarter note of a tempo event; nothing for other events.
std::optional<std::uint32_t> tempoOf(const MidiEvent& e);

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
    void playNote(const MidiEvent& e, bool on);
    void playSysEx(Run& run, const MidiEvent& e, DeviceType type);
    /// A whole System Exclusive message: rhythm parts, resets and what the dialect withholds,
    /// then the device.
    void playMessage(Run& run, std::span<const std::uint8_t> body,
                     std::span<const std::uint8_t> fileForm, DeviceType type);
    void sendTuning(Run& run, DeviceType type);

    Parts p_;
    std::chrono::milliseconds stopWait_{1000};
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::uint8_t> runningStatus_{
        0};                  // timer thread; kept from one playback to the next
    std::mutex timerMutex_;  // guards pending_ against stop/arm races
    std::optional<TimerService::TimerId> pending_;
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
        if (const auto tempo = tempoOf(*e)) clock.setTempo(*tempo);
    }
}

}  // namespace pitchloom
