#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "playback/outputs/midi_output.h"

namespace pitchloom {

/// The system's MIDI outputs through RtMidi (ALSA sequencer on Linux). The mapper is whatever
/// the given factory opens (the built-in synthesizer); without one it is the first port.
/// Where RtMidi cannot start (no sequencer, as on a headless machine) there are no ports.
class SystemMidiOutput : public MidiOutputProvider {
public:
    using MapperFactory = std::function<std::unique_ptr<MidiOutputDevice>()>;

    explicit SystemMidiOutput(MapperFactory mapper = {});

    std::vector<std::string> portNames() override;
    std::unique_ptr<MidiOutputDevice> open(int identifier) override;

private:
    MapperFactory mapper_;
};

}  // namespace pitchloom
