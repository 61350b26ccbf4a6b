#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "playback/inputs/system_midi_input.h"
#include "playback/outputs/system_midi_output.h"
#include "playback/playback_rig.h"
#include "playback/playing/input_relay.h"
#include "support/jack_server.h"

namespace pitchloom {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

// What reaches a port of a JACK client of its own.
class Receiver {
public:
    Receiver() : in_(RtMidi::UNIX_JACK, "relay test receiver") {
        in_.ignoreTypes(false, false, false);
        in_.setCallback(
            [](double, std::vector<unsigned char>* m, void* self) {
                auto* r = static_cast<Receiver*>(self);
                std::lock_guard lock(r->mutex_);
                r->got_.emplace_back(m->begin(), m->end());
            },
            this);
        in_.openVirtualPort("in");
    }
    std::vector<Bytes> waitFor(std::size_t count) {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (got_.size() >= count) break;
            }
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(100ms);  // and nothing more comes
        std::lock_guard lock(mutex_);
        return got_;
    }

private:
    RtMidiIn in_;
    std::mutex mutex_;
    std::vector<Bytes> got_;
};

int indexOf(const std::vector<std::string>& names, const std::string& part) {
    const auto it = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
        return n.find(part) != std::string::npos;
    });
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

// A keyboard's phrase: a part set up, a chord that needs three bends, its own bend, drums,
// clock, a reset of the module, and the chord let go.
const std::vector<Bytes> kPhrase{
    {0xC0, 5},          {0xB0, 7, 90},      {0x90, 60, 100},   {0x90, 64, 100},
    {0x90, 67, 100},    {0xE0, 0x00, 0x48}, {0x99, 36, 110},   {0x89, 36, 0},
    {0xF8},             {0xFA},             {0xB0, 64, 127},   {0x80, 60, 0},
    {0x80, 64, 0},      {0x80, 67, 0},      {0xB0, 64, 0},     {0x90, 62, 80},
    {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},   {0x90, 69, 80},    {0x80, 62, 0},
    {0x80, 69, 0},
};

void setUp(Session& session) {
    session.deviceType = DeviceType::Bend;
    session.tuning.selectTuningRow(kDefaultTuningRow, 7);  // just intonation in C
}

// The relay on the system's ports, playing to the receiver.
struct JackRig {
    test::ScriptedDialogs dialogs;
    SystemMidiOutput outputs;
    SystemMidiInput inputs;
    ManualTimerService timers;
    test::RecordingView view;
    Session session{dialogs};
    Player* player = nullptr;
    std::unique_ptr<InputRelay> relay;

    explicit JackRig(DeviceType type) {
        EXPECT_TRUE(session.createSong());
        setUp(session);
        session.deviceType = type;
        player = &session.attachPlayer(outputs, timers, view);
        EXPECT_TRUE(player->port.openDevice(indexOf(outputs.portNames(), "relay test receiver:in")));
        relay = std::make_unique<InputRelay>(inputs, player->sequencer, dialogs);
    }
};

TEST(JackRelay, EveryMessageThroughJackArrivesAsThroughAFakePortPair) {
    // The rules' own answer, through the fake pair.
    test::PlaybackRig<ManualTimerService> fake;
    setUp(fake.session);
    for (const Bytes& m : kPhrase)
        fake.seq.playLive(m);
    std::vector<Bytes> expected;
    for (const auto& m : fake.output.messages())
        expected.push_back(m.bytes);
    ASSERT_GT(expected.size(), kPhrase.size());

    const test::JackServer server;
    ASSERT_TRUE(server.running()) << "jackd with the dummy driver did not start";
    Receiver receiver;
    JackRig rig(DeviceType::Bend);
    ASSERT_TRUE(rig.relay->selectInput(kVirtualInputId));

    RtMidiOut sender(RtMidi::UNIX_JACK, "relay test sender");
    std::vector<std::string> ports;
    for (unsigned i = 0; i < sender.getPortCount(); ++i)
        ports.push_back(sender.getPortName(i));
    const int in = indexOf(ports, "Pitchloom Pro in");
    ASSERT_GE(in, 0);
    sender.openPort(static_cast<unsigned>(in));
    std::this_thread::sleep_for(50ms);  // connected before the first message
    for (const Bytes& m : kPhrase) {
        sender.sendMessage(m.data(), m.size());
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(receiver.waitFor(expected.size()), expected);
    EXPECT_TRUE(rig.dialogs.texts().empty());
}

TEST(JackRelay, AKeyboardThatGoesAwayLeavesNoNoteSounding) {
    const test::JackServer server;
    ASSERT_TRUE(server.running()) << "jackd with the dummy driver did not start";
    Receiver receiver;
    auto keyboard = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "relay test keyboard");
    keyboard->openVirtualPort("out");
    JackRig rig(DeviceType::GM);
    InputRelay& relay = *rig.relay;
    relay.setWatchPeriod(20ms);
    std::atomic<bool> gone{false};
    relay.setGoneHandler([&](const std::string&) { gone = true; });
    ASSERT_TRUE(relay.selectInput(indexOf(rig.inputs.portNames(), "relay test keyboard:out")));

    std::this_thread::sleep_for(50ms);
    const Bytes note{0x92, 60, 100};
    keyboard->sendMessage(note.data(), note.size());
    std::this_thread::sleep_for(50ms);
    keyboard.reset();  // unplugged
    for (int i = 0; i < 200 && !gone; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(gone);
    EXPECT_EQ(receiver.waitFor(3),
              (std::vector<Bytes>{{0x92, 60, 100}, {0x82, 60, 0}, {0xB2, 0x7B, 0}}));
}

}  // namespace
}  // namespace pitchloom
