#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "playback/inputs/midi_input.h"
#include "playback/outputs/midi_output.h"
#include "session/session.h"

namespace pitchloom {

/// The port a --input or --output names among `names` (the system's ports, port i at index i):
/// its number as --list-ports prints it, its whole name, or a part of one name only, in any
/// case. `own` is the port of our own (the input "Pitchloom Pro in", the output "MIDI MAPPER"),
/// named by its name; it stands for `ownId`. Nothing when no port or more than one matches.
std::optional<int> portOf(std::string_view text, std::span<const std::string> names,
                          std::string_view own, int ownId);

/// Writes the inputs and outputs that --input and --output take, under headings.
void printPorts(std::ostream& out, MidiInputProvider& inputs, MidiOutputProvider& outputs);

/// What a relay run needs: where from, where to, and how to set up the session's tuning.
struct RelayRequest {
    std::string input;
    std::string output;
    std::function<void(Session&)> setUp;
    RetuneSettings retune;
    /// Whether to stop: asked a few times a second (Ctrl-C came).
    std::function<bool()> stop;
};

/// Plays what the input sends, retuned, to the output until `stop` says so or the input goes;
/// the exit status. Messages go to err.
int runRelay(const RelayRequest& request, MidiInputProvider& inputs, MidiOutputProvider& outputs,
             std::ostream& err);

}  // namespace pitchloom
