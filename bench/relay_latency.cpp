// How much time the relay adds between a MIDI input and its output, and whether it drops
// anything: a sender plays notes at a steady rate into "Pitchloom Pro in" on a JACK server of
// its own (dummy driver), the relay retunes them to a receiver, and each note's times are taken
// where the relay hears it, where it sends it, and where the receiver gets it; then the same
// notes go from the sender straight to the receiver, the reference.
//   relay_latency [--notes N] [--rate EVENTS_PER_SECOND] [--type TYPE] [--period FRAMES]
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "playback/inputs/system_midi_input.h"
#include "playback/outputs/system_midi_output.h"
#include "playback/playback_rig.h"
#include "playback/playing/input_relay.h"
#include "support/jack_server.h"

using namespace pitchloom;
using Clock = std::chrono::steady_clock;

namespace {

bool isNoteOn(std::span<const std::uint8_t> m) {
    return m.size() == 3 && (m[0] & 0xF0) == 0x90 && m[2] != 0;
}

// Times of the Note Ons that pass one place, in order.
struct Stamps {
    std::mutex mutex;
    std::vector<Clock::time_point> times;
    void take(std::span<const std::uint8_t> m) {
        if (!isNoteOn(m)) return;
        const auto now = Clock::now();
        std::lock_guard lock(mutex);
        times.push_back(now);
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return times.size();
    }
};

// The system's inputs, with the time each message reaches the relay.
class TimedInputs : public MidiInputProvider {
public:
    explicit TimedInputs(Stamps& stamps) : stamps_(stamps) {}
    std::vector<std::string> portNames() override { return inner_.portNames(); }
    std::unique_ptr<MidiInputDevice> open(int identifier, Receiver receive) override {
        return inner_.open(identifier, [this, receive](std::span<const std::uint8_t> m) {
            stamps_.take(m);
            receive(m);
        });
    }

private:
    SystemMidiInput inner_;
    Stamps& stamps_;
};

// The system's outputs, with the time each message leaves the relay.
class TimedOutputs : public MidiOutputProvider {
public:
    explicit TimedOutputs(Stamps& stamps) : stamps_(stamps) {}
    std::vector<std::string> portNames() override { return inner_.portNames(); }
    std::unique_ptr<MidiOutputDevice> open(int identifier) override {
        auto device = inner_.open(identifier);
        if (!device) return nullptr;
        return std::make_unique<Device>(std::move(device), stamps_);
    }

private:
    struct Device : MidiOutputDevice {
        Device(std::unique_ptr<MidiOutputDevice> inner, Stamps& stamps)
            : inner_(std::move(inner)), stamps_(stamps) {}
        void sendShort(std::span<const std::uint8_t> m) override {
            inner_->sendShort(m);
            stamps_.take(m);
        }
        void sendSysEx(std::span<const std::uint8_t> m) override { inner_->sendSysEx(m); }
        bool reset() override { return inner_->reset(); }
        bool close() override { return inner_->close(); }
        std::unique_ptr<MidiOutputDevice> inner_;
        Stamps& stamps_;
    };
    SystemMidiOutput inner_;
    Stamps& stamps_;
};

class Receiver {
public:
    explicit Receiver(Stamps& stamps) : in_(RtMidi::UNIX_JACK, "latency receiver"), stamps_(stamps) {
        in_.ignoreTypes(false, false, false);
        in_.setCallback(
            [](double, std::vector<unsigned char>* m, void* self) {
                static_cast<Receiver*>(self)->stamps_.take(*m);
            },
            this);
        in_.openVirtualPort("in");
    }

private:
    RtMidiIn in_;
    Stamps& stamps_;
};

int indexOf(const std::vector<std::string>& names, const std::string& part) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i].find(part) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::string> portsOf(RtMidiOut& out) {
    std::vector<std::string> names;
    for (unsigned i = 0; i < out.getPortCount(); ++i)
        names.push_back(out.getPortName(i));
    return names;
}

// Plays `notes` notes at `rate` events a second (a Note On and a Note Off each), two keys
// sounding at once over a walk of the keys; the time each Note On was sent.
std::vector<Clock::time_point> play(RtMidiOut& out, int notes, int rate) {
    std::vector<Clock::time_point> sent;
    const auto step = std::chrono::nanoseconds(1'000'000'000 / rate);
    auto due = Clock::now() + std::chrono::milliseconds(100);
    int previous = -1;
    for (int i = 0; i < notes; ++i) {
        const int key = 48 + (i * 7) % 36;
        std::this_thread::sleep_until(due);
        const std::uint8_t on[3] = {0x90, static_cast<std::uint8_t>(key), 100};
        sent.push_back(Clock::now());
        out.sendMessage(on, 3);
        due += step;
        if (previous >= 0) {
            std::this_thread::sleep_until(due);
            const std::uint8_t off[3] = {0x80, static_cast<std::uint8_t>(previous), 0};
            out.sendMessage(off, 3);
        }
        due += step;
        previous = key;
    }
    const std::uint8_t off[3] = {0x80, static_cast<std::uint8_t>(previous), 0};
    out.sendMessage(off, 3);
    return sent;
}

struct Spread {
    double p50, p99, max;
};

Spread spreadOf(std::vector<double> v) {
    if (v.empty()) return {0, 0, 0};
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min(v.size() - 1, std::size_t(q * v.size()))]; };
    return {at(0.50), at(0.99), v.back()};
}

std::vector<double> gaps(const std::vector<Clock::time_point>& from,
                         const std::vector<Clock::time_point>& to) {
    std::vector<double> ms;
    for (std::size_t i = 0; i < std::min(from.size(), to.size()); ++i)
        ms.push_back(std::chrono::duration<double, std::milli>(to[i] - from[i]).count());
    return ms;
}

void print(const char* what, const Spread& s) {
    std::printf("%-38s p50 %7.3f ms   p99 %7.3f ms   max %7.3f ms\n", what, s.p50, s.p99, s.max);
}

void waitFor(Stamps& stamps, std::size_t count) {
    for (int i = 0; i < 300 && stamps.size() < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

int main(int argc, char** argv) {
    int notes = 10000;
    int rate = 1000;
    int frames = 64;
    std::string type = "BEND";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--notes")) notes = std::stoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rate")) rate = std::stoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--period")) frames = std::stoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--type")) type = argv[i + 1];
    }
    const auto deviceType = deviceTypeFromName(type);
    if (!deviceType) {
        std::fprintf(stderr, "relay_latency: unknown type %s\n", type.c_str());
        return 2;
    }
    const test::JackServer server(frames);
    if (!server.running()) {
        std::fprintf(stderr, "relay_latency: jackd with the dummy driver did not start\n");
        return 1;
    }
    Stamps heard, relayed, received, direct;

    // The reference: the sender straight to the receiver.
    {
        Receiver receiver(direct);
        RtMidiOut sender(RtMidi::UNIX_JACK, "latency sender");
        sender.openPort(static_cast<unsigned>(indexOf(portsOf(sender), "latency receiver:in")));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto sent = play(sender, notes, rate);
        waitFor(direct, sent.size());
        std::printf("%d notes at %d events/s, JACK period %d frames at 48 kHz (%.2f ms), %s\n",
                    notes, rate, frames, frames / 48.0, type.c_str());
        print("sender to receiver, straight", spreadOf(gaps(sent, direct.times)));
        std::printf("  received %zu of %zu\n", direct.size(), sent.size());
    }

    Receiver receiver(received);
    test::ScriptedDialogs dialogs;
    TimedInputs inputs(heard);
    TimedOutputs outputs(relayed);
    ThreadTimerService timers;
    test::RecordingView view;
    Session session(dialogs);
    if (!session.createSong()) return 1;
    session.deviceType = *deviceType;
    session.tuning.selectTuningRow(kDefaultTuningRow, 7);
    Player& player = session.attachPlayer(outputs, timers, view);
    if (!player.port.openDevice(indexOf(outputs.portNames(), "latency receiver:in"))) return 1;
    InputRelay relay(inputs, player.sequencer, dialogs);
    if (!relay.selectInput(kVirtualInputId)) return 1;
    RtMidiOut sender(RtMidi::UNIX_JACK, "latency sender");
    sender.openPort(static_cast<unsigned>(indexOf(portsOf(sender), "Pitchloom Pro in")));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto sent = play(sender, notes, rate);
    waitFor(received, sent.size());
    relay.selectInput(kNoInputId);

    print("relay: heard to sent on (what it adds)", spreadOf(gaps(heard.times, relayed.times)));
    print("sender to receiver, through the relay", spreadOf(gaps(sent, received.times)));
    std::printf("  heard %zu, sent on %zu, received %zu of %zu notes\n", heard.size(),
                relayed.size(), received.size(), sent.size());
    timers.shutdown();
    const bool whole = received.size() == sent.size() && relayed.size() == sent.size();
    return whole && spreadOf(gaps(heard.times, relayed.times)).p99 < 1.0 ? 0 : 1;
}
