#pragma once

#include <fluidsynth/types.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "playback/outputs/midi_output.h"
#include "playback/outputs/pulse_output.h"
#include "playback/outputs/synth_tuning.h"

namespace pitchloom {

/// The rate, in frames a second, that the built-in synthesizer plays and renders at.
inline constexpr int kSynthSampleRate = 44100;

/// The built-in General MIDI synthesizer: FluidSynth over one SoundFont, retuned channel by
/// channel by the GS, XG and MIDI Tuning Standard scale-tuning messages it receives. The audio
/// thread renders while sends arrive; FluidSynth's API is safe for that.
class SynthOutput final : public MidiOutputDevice {
public:
    /// Device: plays through the sound server, or FluidSynth's default audio driver.
    /// Offline: renders on request only.
    enum class Audio { Device, Offline };
    /// How the SoundFont comes in: before open() returns, or on a thread of its own.
    enum class Loading { AtOnce, InBackground };

    /// A synth over the first of soundFonts that loads, tried in order; nothing when no audio
    /// output can be opened or, loading at once, when none loads. Loaded in the background, the
    /// synth takes messages at once: those sent before a SoundFont is in are kept and played, in
    /// order, as soon as it is (when none loads, the synth stays silent).
    static std::unique_ptr<SynthOutput> open(std::vector<std::string> soundFonts, Audio audio,
                                             Loading loading = Loading::AtOnce);

    ~SynthOutput() override;
    SynthOutput(const SynthOutput&) = delete;
    SynthOutput& operator=(const SynthOutput&) = delete;

    /// Note on and off, key and channel pressure, control and program change, pitch bend.
    void sendShort(std::span<const std::uint8_t> message) override;
    /// Scale tunings, resets and rhythm parts are handled here; the rest goes to FluidSynth.
    void sendSysEx(std::span<const std::uint8_t> message) override;
    /// Releases the pedals and every note on every channel.
    bool reset() override;
    /// Releases the audio output, the synth and its settings, in that order (after the SoundFont
    /// has finished loading).
    bool close() override;
    /// True once the synth is made and its SoundFont loaded (or either failed).
    bool ready() const override { return ready_.load(); }

    /// Offline only: renders left.size() stereo frames into left and right (of equal size).
    bool render(std::span<float> left, std::span<float> right);
    /// Frames per second of the output.
    double sampleRate() const;

private:
    struct FluidDeleter {
        void operator()(fluid_settings_t* settings) const;
        void operator()(fluid_synth_t* synth) const;
        void operator()(fluid_audio_driver_t* driver) const;
    };

    struct Pending {
        bool sysEx;
        std::vector<std::uint8_t> bytes;
    };

    SynthOutput() = default;
    bool createSynth();
    bool openAudio();
    /// What the sound server plays: the synth, or silence while it is being made.
    void renderInto(float* interleaved, int frames);
    /// The first of soundFonts that loads into the synth; false when none does.
    bool loadFirst(const std::vector<std::string>& soundFonts);
    /// Makes the synth if it is not made yet, loads a SoundFont, then plays what waited.
    void load(const std::vector<std::string>& soundFonts);
    /// Queues the message while the SoundFont loads; false when it can go to the synth now.
    bool keepUntilReady(bool sysEx, std::span<const std::uint8_t> message);
    void playShort(std::span<const std::uint8_t> message);
    void playSysEx(std::span<const std::uint8_t> message);
    void applyChannelTuning(int channel);
    void setRhythmPart(int channel, bool drum);
    void passOn(std::span<const std::uint8_t> message);

    // Declared in the order of creation, so that they are released in reverse.
    std::unique_ptr<fluid_settings_t, FluidDeleter> settings_;
    std::unique_ptr<fluid_synth_t, FluidDeleter> synth_;
    std::unique_ptr<fluid_audio_driver_t, FluidDeleter> driver_;
    std::unique_ptr<PulseOutput> pulse_;
    std::atomic<fluid_synth_t*> live_{nullptr};  // the synth once made, for the output's thread
    SynthTuning tuning_;

    std::atomic<bool> ready_{false};
    std::mutex pendingMutex_;  // guards pending_; held while the loader plays them
    std::vector<Pending> pending_;
    std::thread loader_;
};

/// Where the system's General MIDI SoundFonts are looked for, in the order they are tried.
inline constexpr std::array<std::string_view, 3> kGeneralMidiSoundFonts = {
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
};

/// The files the candidates name, in their order, each once (default-GM.sf2 is as a rule a link to
/// one of the others), links resolved so that a message names the file itself.
std::vector<std::string> findGeneralMidiSoundFonts(
    std::span<const std::string_view> candidates = kGeneralMidiSoundFonts);

/// The mapper's device: the synth on the first of the system's SoundFonts that loads, and the
/// audio output; nothing when there is no SoundFont or no audio output.
std::unique_ptr<MidiOutputDevice> openBuiltInSynth();

}  // namespace pitchloom
