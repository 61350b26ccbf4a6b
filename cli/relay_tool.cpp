#include "cli/relay_tool.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <thread>

#include "cli/convert_tool.h"
#include "base/messages.h"
#include "cli/stream_dialogs.h"
#include "playback/playing/input_relay.h"
#include "playback/playing/timer_service.h"

namespace pitchloom {

namespace {

std::string lowered(std::string_view text) {
    std::string low(text);
    std::transform(low.begin(), low.end(), low.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return low;
}

// A relay has no window: nothing to show of playback.
class NoView : public PlaybackView {
public:
    void setPlayCaption(std::string_view) override {}
    void requestRepaint() override {}
    void setWaitCursor(bool) override {}
};

}  // namespace

std::optional<int> portOf(std::string_view text, std::span<const std::string> names,
                          std::string_view own, int ownId) {
    if (text.empty()) return std::nullopt;
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error == std::errc() && end == text.data() + text.size()) {
        if (number >= 0 && static_cast<std::size_t>(number) < names.size()) return number;
        return std::nullopt;
    }
    const std::string wanted = lowered(text);
    if (wanted == lowered(own)) return ownId;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (lowered(names[i]) == wanted) return static_cast<int>(i);
    }
    std::optional<int> found;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (lowered(names[i]).find(wanted) == std::string::npos) continue;
        if (found) return std::nullopt;
        found = static_cast<int>(i);
    }
    return found;
}

void printPorts(std::ostream& out, MidiInputProvider& inputs, MidiOutputProvider& outputs) {
    out << "Inputs:\n" << kVirtualInputName << "  (our own: connect a program to it)\n";
    const auto in = inputs.portNames();
    for (std::size_t i = 0; i < in.size(); ++i)
        out << i << "  " << in[i] << '\n';
    out << "\nOutputs:\n" << kMidiMapperName << "  (the built-in synthesizer)\n";
    const auto outs = outputs.portNames();
    for (std::size_t i = 0; i < outs.size(); ++i)
        out << i << "  " << outs[i] << '\n';
}

int runRelay(const RelayRequest& request, MidiInputProvider& inputs, MidiOutputProvider& outputs,
             std::ostream& err) {
    const auto inputNames = inputs.portNames();
    const auto input = portOf(request.input, inputNames, kVirtualInputName, kVirtualInputId);
    if (!input) {
        err << "pitchloom-convert: no input \"" << oneLine(request.input)
            << "\", or more than one (see --list-ports)\n";
        return kExitUsage;
    }
    const auto outputNames = outputs.portNames();
    const auto output = portOf(request.output, outputNames, kMidiMapperName, kMidiMapperId);
    if (!output) {
        err << "pitchloom-convert: no output \"" << oneLine(request.output)
            << "\", or more than one (see --list-ports)\n";
        return kExitUsage;
    }

    StreamDialogs dialogs({}, {}, err);
    ThreadTimerService timers;
    NoView view;
    Session session(dialogs);
    if (!session.createSong()) {
        reportError(dialogs, 1001, "not enough memory");
        return kExitFailed;
    }
    request.setUp(session);
    Player& player = session.attachPlayer(outputs, timers, view);
    player.sequencer.setRetuneSettings(request.retune);
    const std::string outputName =
        *output == kMidiMapperId ? std::string(kMidiMapperName)
                                 : oneLine(outputNames[static_cast<std::size_t>(*output)]);
    if (!player.port.openDevice(*output)) {
        err << "pitchloom-convert: the output \"" << outputName << "\" cannot be opened\n";
        return kExitFailed;
    }
    int status = kExitWritten;
    {
        InputRelay relay(inputs, player.sequencer, dialogs);
        std::atomic<bool> gone{false};
        relay.setGoneHandler([&](const std::string& text) {
            dialogs.showMessage(text, BoxStyle::Plain);
            gone = true;
        });
        if (!relay.selectInput(*input)) {
            status = kExitFailed;
        } else {
            err << "Relaying " << oneLine(relay.currentName()) << " to " << outputName << " as "
                << commandLineName(session.deviceType.load()) << "; Ctrl-C stops.\n";
            while (!gone && !request.stop())
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (gone) status = kExitFailed;
            relay.selectInput(kNoInputId);
        }
    }
    player.port.closeDevice();
    timers.shutdown();
    return status;
}

}  // namespace pitchloom
