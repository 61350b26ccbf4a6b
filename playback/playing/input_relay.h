#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/user_dialogs.h"
#include "playback/inputs/midi_input.h"
#include "playback/playing/sequencer.h"

namespace pitchloom {

/// The text shown when the input in use has gone from the system.
std::string inputGoneText(std::string_view name);
/// The text shown when an input cannot be opened.
std::string inputNotOpenedText(std::string_view name);

/// Plays what one MIDI input sends through the sequencer, retuned as a song is, and watches that
/// its port stays: when it goes, the relay stops, ends the notes it left sounding and says so.
class InputRelay {
public:
    struct Entry {
        std::string name;
        int identifier;
    };

    InputRelay(MidiInputProvider& inputs, Sequencer& sequencer, UserDialogs& dialogs);
    ~InputRelay();
    InputRelay(const InputRelay&) = delete;
    InputRelay& operator=(const InputRelay&) = delete;

    /// "None", "Pitchloom Pro in", then the system's input ports.
    std::vector<Entry> inputList();
    /// Closes the input in use and opens another (kNoInputId for none); false, after a message,
    /// when it cannot be opened, and then none is in use.
    bool selectInput(int identifier);
    int currentInput() const;
    std::string currentName() const;

    /// Called on the relay's watching thread, with the message to show, after the input went
    /// and the relay stopped; without one the message goes to the dialogs from that thread.
    void setGoneHandler(std::function<void(const std::string& message)> gone);
    /// How often the port is looked for; tests shorten it.
    void setWatchPeriod(std::chrono::milliseconds period);

private:
    void watch();
    void close();

    MidiInputProvider& inputs_;
    Sequencer& sequencer_;
    UserDialogs& dialogs_;
    mutable std::mutex mutex_;  // guards the fields below
    std::chrono::milliseconds watchPeriod_{250};
    std::function<void(const std::string&)> gone_;
    std::condition_variable wake_;
    std::unique_ptr<MidiInputDevice> device_;
    int identifier_ = kNoInputId;
    std::string name_;
    bool stopping_ = false;
    bool ending_ = false;  // the watcher found the port gone and ends its notes
    std::thread watcher_;
};

}  // namespace pitchloom
