#pragma once

#include <fluidsynth/types.h>

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "playback/midi_output.h"
#include "playback/synth_tuning.h"

namespace pitchloom {

/// The built-in General MIDI synthesizer: FluidSynth over one SoundFont, retuned channel by
/// channel by the GS and XG scale-tuning messages it receives. FluidSynth's audio thread renders
/// while sends arrive; its API is safe for that.
class SynthOutput final : public MidiOutputDevice {
public:
    /// Device: plays through FluidSynth's default audio driver. Offline: renders on request only.
    enum class Audio { Device, Offline };

    /// A synth over the SoundFont at soundFont; nothing when the SoundFont cannot be loaded or
    /// no audio output can be opened.
    static std::unique_ptr<SynthOutput> open(const std::string& soundFont, Audio audio);

    ~SynthOutput() override;
    SynthOutput(const SynthOutput&) = delete;
    SynthOutput& operator=(const SynthOutput&) = delete;

    /// Note on and off, key and channel pressure, control and program change, pitch bend.
    void sendShort(std::span<const std::uint8_t> message) override;
    /// Scale tunings, resets and rhythm parts are handled here; the rest goes to FluidSynth.
    void sendSysEx(std::span<const std::uint8_t> message) override;
    /// Releases the pedals and every note on every channel.
    bool reset() override;
    /// Releases the audio driver, the synth and its settings, in that order.
    bool close() override;

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

    SynthOutput() = default;
    void applyChannelTuning(int channel);
    void setRhythmPart(int channel, bool drum);
    void passOn(std::span<const std::uint8_t> message);

    // Declared in the order of creation, so that they are released in reverse.
    std::unique_ptr<fluid_settings_t, FluidDeleter> settings_;
    std::unique_ptr<fluid_synth_t, FluidDeleter> synth_;
    std::unique_ptr<fluid_audio_driver_t, FluidDeleter> driver_;
    SynthTuning tuning_;
};

/// The first of the system's General MIDI SoundFonts that exists: default-GM.sf2, FluidR3_GM.sf2,
/// TimGM6mb.sf2 under /usr/share/sounds/sf2.
std::optional<std::string> findGeneralMidiSoundFont();

/// The mapper's device: the synth on the system's SoundFont and audio output; nothing when either
/// is missing.
std::unique_ptr<MidiOutputDevice> openBuiltInSynth();

}  // namespace pitchloom
