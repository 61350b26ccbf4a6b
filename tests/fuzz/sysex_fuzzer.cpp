// Arbitrary System Exclusive bytes through the port's sendLong into the built-in synthesizer.
// The input is cut after every F7 into messages sent one after the other, so that sequences of
// resets, tunings and rhythm parts meet.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "playback/outputs/midi_port.h"
#include "playback/outputs/synth_output.h"
#include "playback/outputs/synth_tuning.h"
#include "support/sine_soundfont.h"

namespace pitchloom::fuzz {
namespace {

// FluidSynth on the tests' SoundFont, rendering only when asked; loaded once per process.
// Nothing when FluidSynth cannot be loaded: the synth's tuning is then checked on its own.
SynthOutput* sharedSynth() {
    static const std::unique_ptr<SynthOutput> synth =
        SynthOutput::open({test::sineSoundFont()}, SynthOutput::Audio::Offline);
    return synth.get();
}

// Hands every message to the synth and to a tuning of its own whose values it checks.
class SynthDevice : public MidiOutputDevice {
public:
    explicit SynthDevice(std::size_t inputSize) : inputSize_(inputSize) {}

    void sendShort(std::span<const std::uint8_t> message) override {
        if (SynthOutput* synth = sharedSynth()) synth->sendShort(message);
    }
    void sendSysEx(std::span<const std::uint8_t> message) override {
        require(message.size() <= inputSize_, "a device gets no more bytes than were sent");
        const SysExAction action = tuning_.apply(message);
        for (int channel = 0; channel < kSynthChannelCount; ++channel) {
            for (const int cents : tuning_.channel(channel)) {
                require(cents >= -64 && cents <= 63, "a channel tuning stays within a data byte");
            }
        }
        if (action.kind == SysExAction::Kind::RhythmPart) {
            require(action.channel >= 0 && action.channel < kSynthChannelCount,
                    "a rhythm part names a channel");
        }
        if (SynthOutput* synth = sharedSynth()) synth->sendSysEx(message);
    }
    bool reset() override { return sharedSynth() == nullptr || sharedSynth()->reset(); }
    bool close() override { return true; }

private:
    std::size_t inputSize_;
    SynthTuning tuning_;
};

class SynthProvider : public MidiOutputProvider {
public:
    explicit SynthProvider(std::size_t inputSize) : inputSize_(inputSize) {}
    std::vector<std::string> portNames() override { return {}; }
    std::unique_ptr<MidiOutputDevice> open(int) override {
        return std::make_unique<SynthDevice>(inputSize_);
    }

private:
    std::size_t inputSize_;
};

}  // namespace
}  // namespace pitchloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pitchloom;
    using namespace pitchloom::fuzz;
    const std::span<const std::uint8_t> bytes(data, size);

    QuietDialogs dialogs;
    SynthProvider provider(size);
    MidiPort port(provider, dialogs);
    port.openDevice(kMidiMapperId);
    // A sounding note, so that tuning changes meet a voice.
    port.noteOn(60, 100, 0);
    std::size_t from = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0xF7 && i + 1 < size) continue;
        const auto message = bytes.subspan(from, i + 1 - from);
        port.sendLong(message);
        port.sendEscaped(message);
        from = i + 1;
    }
    if (SynthOutput* synth = sharedSynth()) {
        std::array<float, 64> left{};
        std::array<float, 64> right{};
        require(synth->render(left, right), "the synth renders after any message");
    }
    port.closeDevice();
    require(dialogs.boxCount() == 0, "no message reaches the user");
    return 0;
}
