#include "playback/playing/input_relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "playback/playback_rig.h"

namespace pitchloom {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using Rig = test::PlaybackRig<ManualTimerService>;

// A keyboard that sends when told, and can be unplugged.
class FakeInputs : public MidiInputProvider {
public:
    std::vector<std::string> portNames() override { return {"Keys"}; }
    std::unique_ptr<MidiInputDevice> open(int identifier, Receiver receive) override {
        if (identifier != 0 && identifier != kVirtualInputId) return nullptr;
        receive_ = std::move(receive);
        return std::make_unique<Device>(plugged);
    }
    void play(const Bytes& message) const { receive_(message); }

    std::atomic<bool> plugged{true};

private:
    struct Device : MidiInputDevice {
        explicit Device(std::atomic<bool>& plugged) : plugged_(plugged) {}
        bool present() override { return plugged_; }
        std::atomic<bool>& plugged_;
    };
    Receiver receive_;
};

struct RelayRig : Rig {
    FakeInputs inputs;
    InputRelay relay{inputs, seq, dialogs};
    RelayRig() { EXPECT_TRUE(relay.selectInput(0)); }
};

TEST(Relay, TheInputListOffersNoneOurOwnPortThenTheSystems) {
    RelayRig r;
    const auto list = r.relay.inputList();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "None");
    EXPECT_EQ(list[1].name, "Pitchloom Pro in");
    EXPECT_EQ(list[2].name, "Keys");
    EXPECT_FALSE(r.relay.selectInput(5));
    EXPECT_EQ(r.relay.currentInput(), kNoInputId);
}

TEST(Relay, NotesAreMovedOntoTheScaleAndKeepTheirKeyAfterAScaleChange) {
    RelayRig r;
    r.type = DeviceType::GM;
    r.tuning.inScale[1] = 0;  // C# out: it sounds as D
    r.inputs.play({0x90, 61, 100});
    r.tuning.inScale[1] = 1;  // let go after C# came back: the D it sounds must end
    r.inputs.play({0x80, 61, 64});
    r.inputs.play({0x99, 61, 100});  // drums stay where they are
    r.inputs.play({0xB0, 7, 90});
    r.inputs.play({0xE0, 0x00, 0x50});
    r.inputs.play({0xF8});
    EXPECT_EQ(r.shorts(), (std::vector<Bytes>{{0x90, 62, 100},
                                              {0x80, 62, 0},
                                              {0x99, 61, 100},
                                              {0xB0, 7, 90},
                                              {0xE0, 0x00, 0x50},
                                              {0xF8}}));
}

TEST(Relay, CutOrStrayMessagesAreDropped) {
    RelayRig r;
    r.type = DeviceType::GM;
    r.inputs.play({0x90, 60});
    r.inputs.play({0x40, 60, 1});
    r.inputs.play({0x90, 0x80, 1});
    r.inputs.play({0xF0, 0x41});
    EXPECT_TRUE(r.output.messages().empty());
}

TEST(Relay, GsTuningGoesBeforeTheFirstNoteAndAgainAfterAResetOrOnAnotherDevice) {
    RelayRig r;
    r.type = DeviceType::GS;
    r.inputs.play({0x90, 60, 100});
    r.inputs.play({0x80, 60, 0});
    const Bytes gsReset{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    r.inputs.play(gsReset);
    r.inputs.play({0x90, 64, 100});
    const auto m = r.output.messages();
    // 16 parts' tuning, the note and its release, the reset, 16 again, the note.
    ASSERT_EQ(m.size(), 36u);
    for (std::size_t i : {0u, 15u, 19u, 34u}) {
        EXPECT_TRUE(m[i].sysEx);
        EXPECT_EQ(m[i].bytes.size(), 22u);
    }
    EXPECT_EQ(m[16].bytes, (Bytes{0x90, 60, 100}));
    EXPECT_EQ(m[18].bytes, gsReset);
    EXPECT_EQ(m[35].bytes, (Bytes{0x90, 64, 100}));
    // A device chosen anew knows nothing yet: it gets the whole tuning before the next note.
    r.port.selectDevice(1);
    r.output.clear();
    r.inputs.play({0x90, 67, 100});
    const auto again = r.output.messages();
    ASSERT_EQ(again.size(), 17u);
    EXPECT_EQ(again[0].device, 1);
    EXPECT_EQ(again[0].bytes.size(), 22u);
    EXPECT_EQ(again[16].bytes, (Bytes{0x90, 67, 100}));
}

TEST(Relay, BendBorrowsAChannelAsNotesArriveAndCopiesThePartToIt) {
    RelayRig r;
    r.type = DeviceType::Bend;
    r.tuning.selectTuningRow(kDefaultTuningRow, 7);  // just intonation in C
    r.inputs.play({0xC0, 5});
    r.inputs.play({0xB0, 7, 90});
    r.inputs.play({0x90, 60, 100});  // C, at its key's pitch in just intonation
    r.inputs.play({0x90, 64, 100});  // E, 14 cents flat: on a channel of its own
    r.inputs.play({0x80, 64, 0});
    const auto s = r.shorts();
    ASSERT_FALSE(s.empty());
    const auto on = [&](int key) {
        return std::find_if(s.begin(), s.end(), [&](const Bytes& m) {
            return m.size() == 3 && (m[0] & 0xF0) == 0x90 && m[1] == key;
        });
    };
    ASSERT_NE(on(60), s.end());
    ASSERT_NE(on(64), s.end());
    EXPECT_EQ((*on(60))[0], 0x90);
    EXPECT_EQ((*on(64))[0], 0x91);
    // Channel 2 became a copy of the part before its note: program and volume.
    const auto before = std::vector<Bytes>(s.begin(), on(64));
    EXPECT_NE(std::find(before.begin(), before.end(), Bytes{0xC1, 5}), before.end());
    EXPECT_NE(std::find(before.begin(), before.end(), Bytes{0xB1, 7, 90}), before.end());
    // E's bend, 14 cents flat in a range of 3 semitones: 8192 - 14 / 300 * 8192 = 7810.
    EXPECT_NE(std::find(before.begin(), before.end(), Bytes{0xE1, 2, 61}), before.end());
    EXPECT_EQ(s.back(), (Bytes{0x81, 64, 0}));
}

TEST(Relay, ATuningChangedOnTheWindowIsHeardFromTheNextNote) {
    RelayRig r;
    r.type = DeviceType::Bend;
    r.tuning.selectTuningRow(kDefaultTuningRow, 7);
    r.inputs.play({0x90, 64, 100});
    r.inputs.play({0x80, 64, 0});
    r.tuning.selectTuningRow(0, 7);  // "Temparament": equal temperament
    r.output.clear();
    r.inputs.play({0x90, 64, 100});
    // E at its equal-tempered pitch: the channel bent 14 cents flat is still in its release
    // guard, so E goes to a channel of its own, set up and centred first.
    const auto s = r.shorts();
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(s[s.size() - 2], (Bytes{0xE1, 0x00, 0x40}));
    EXPECT_EQ(s.back(), (Bytes{0x91, 64, 100}));
}

TEST(Relay, APortThatGoesEndsItsNotesAndSaysSo) {
    RelayRig r;
    r.type = DeviceType::GM;
    r.relay.setWatchPeriod(5ms);
    ASSERT_TRUE(r.relay.selectInput(0));
    std::atomic<bool> gone{false};
    std::string told;
    r.relay.setGoneHandler([&](const std::string& text) {
        told = text;
        gone = true;
    });
    r.inputs.play({0x93, 60, 100});
    r.inputs.play({0xB3, 64, 127});
    r.output.clear();
    r.inputs.plugged = false;
    for (int i = 0; i < 400 && !gone; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(gone);
    EXPECT_EQ(r.relay.currentInput(), kNoInputId);
    EXPECT_EQ(r.shorts(),
              (std::vector<Bytes>{{0x83, 60, 0}, {0xB3, 64, 0}, {0xB3, 0x7B, 0}}));
    EXPECT_EQ(told,
              "The MIDI input \"Keys\" is gone. The notes it left sounding were ended; choose it "
              "again when it is back.");
    // Back again, chosen again: it plays.
    r.inputs.plugged = true;
    ASSERT_TRUE(r.relay.selectInput(0));
    r.inputs.play({0x90, 62, 1});
    EXPECT_EQ(r.shorts().back(), (Bytes{0x90, 62, 1}));
}

TEST(Relay, TheKeyboardPlaysInTheSongsChannelPoolWhileItPlays) {
    RelayRig r;
    r.type = DeviceType::Bend;
    r.tuning.selectTuningRow(kDefaultTuningRow, 7);
    test::TrackBuilder t;
    // The song holds C and E on channel 1, so E takes channel 2 and the keyboard's D channel 3.
    t.noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100).noteOff(4800, 0, 60).noteOff(0, 0, 64);
    t.endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();
    r.inputs.play({0x90, 62, 100});
    const auto s = r.shorts();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.back(), (Bytes{0x92, 62, 100}));
}

}  // namespace
}  // namespace pitchloom
