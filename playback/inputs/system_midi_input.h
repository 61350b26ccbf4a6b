#pragma once

#include <memory>
#include <string>
#include <vector>

#include "playback/inputs/midi_input.h"

namespace pitchloom {

/// The system's MIDI inputs through RtMidi: the ALSA sequencer's ports, then JACK's when a JACK
/// server runs. The port of our own is made on the first of the two that starts.
class SystemMidiInput : public MidiInputProvider {
public:
    std::vector<std::string> portNames() override;
    std::unique_ptr<MidiInputDevice> open(int identifier, Receiver receive) override;
};

}  // namespace pitchloom
