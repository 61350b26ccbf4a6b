#include "playback/outputs/midi_port.h"

#include <gtest/gtest.h>

#include "playback/outputs/recording_output.h"
#include "support/midi_builder.h"
#include "support/scripted_dialogs.h"

namespace pitchloom {
namespace {

using test::Bytes;

struct PortRig {
    test::ScriptedDialogs dialogs;
    RecordingOutput output{{"Synth A", "Synth B"}};
    MidiPort port{output, dialogs};
    MidiSong song;
};

TEST(MidiPort, SendersPackTheirBytes) {
    PortRig r;
    r.port.initOutput(r.song);
    r.port.noteOn(60, 100, 3);
    r.port.noteOff(61, 3);
    r.port.programChange(5, 15);
    r.port.channelMessage(0xE2, 0x00, 0x40);
    r.port.channelPressure(0xD1, 0x33);
    const auto m = r.output.messages();
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[0].bytes, (Bytes{0x93, 60, 100}));
    EXPECT_EQ(m[1].bytes, (Bytes{0x83, 61, 0}));  // release velocity always 0
    EXPECT_EQ(m[2].bytes, (Bytes{0xCF, 5}));
    EXPECT_EQ(m[3].bytes, (Bytes{0xE2, 0x00, 0x40}));
    EXPECT_EQ(m[4].bytes, (Bytes{0xD1, 0x33}));
}

TEST(MidiPort, AllNotesOffSweepsSixteenChannelsInOrder) {
    PortRig r;
    r.port.initOutput(r.song);
    r.port.allNotesOff();
    const auto m = r.output.messages();
    ASSERT_EQ(m.size(), 16u);
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(m[static_cast<std::size_t>(c)].bytes,
                  (Bytes{static_cast<std::uint8_t>(0xB0 + c), 0x7B, 0x00}));
    }
}

TEST(MidiPort, LongMessagesLoseOnlyTheirFileFormLength) {
    PortRig r;
    r.port.initOutput(r.song);
    Bytes gs{0xF0, 0x15, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x40};
    gs.insert(gs.end(), 12, 0x40);
    gs.insert(gs.end(), {0x6F, 0xF7});
    r.port.sendLong(gs);

    // 300 bytes: a two-byte length, longer than any fixed block.
    Bytes body(299, 0x11);
    body.push_back(0xF7);
    Bytes longEvent{0xF0};
    test::appendVlq(longEvent, static_cast<std::uint32_t>(body.size()));
    longEvent.insert(longEvent.end(), body.begin(), body.end());
    r.port.sendLong(longEvent);

    r.port.sendLong(Bytes{0x43, 0x10, 0xF7});  // not file form: sent as it stands

    const auto m = r.output.messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_TRUE(m[0].sysEx);
    EXPECT_EQ(m[0].bytes.size(), 22u);
    EXPECT_EQ(m[0].bytes[0], 0xF0);
    EXPECT_EQ(m[0].bytes[1], 0x41);
    Bytes expected{0xF0};
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(m[1].bytes, expected);
    EXPECT_EQ(m[2].bytes, (Bytes{0x43, 0x10, 0xF7}));
}

TEST(MidiPort, DeviceListStartsWithTheMapper) {
    PortRig r;
    const auto list = r.port.deviceList();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "MIDI MAPPER");
    EXPECT_EQ(list[0].identifier, -1);
    EXPECT_EQ(list[1].name, "Synth A");
    EXPECT_EQ(list[1].identifier, 0);
    EXPECT_EQ(list[2].identifier, 1);
}

TEST(MidiPort, StartUpCreatesTheSongBufferAndOpensTheMapper) {
    PortRig r;
    r.port.initOutput(r.song);
    EXPECT_TRUE(r.song.exists());
    EXPECT_EQ(r.port.currentIdentifier(), -1);
    EXPECT_TRUE(r.port.isOpen());
    EXPECT_TRUE(r.dialogs.boxes().empty());
    r.port.shutdownOutput(r.song);
    EXPECT_FALSE(r.song.exists());
    EXPECT_FALSE(r.port.isOpen());
    EXPECT_EQ(r.output.closedCount(), 1);
}

TEST(MidiPort, AFailedOpenShowsUndefinedErrorInAPlainBox) {
    PortRig r;
    r.output.failOpenOf(-1);
    r.port.initOutput(r.song);
    ASSERT_EQ(r.dialogs.boxes().size(), 1u);
    EXPECT_EQ(r.dialogs.boxes()[0].text, "Undefined error!");
    EXPECT_EQ(r.dialogs.boxes()[0].style, BoxStyle::Plain);
    r.port.noteOn(60, 1, 0);  // sends after a failed open go nowhere, silently
    EXPECT_EQ(r.output.messageCount(), 0u);
    EXPECT_EQ(r.dialogs.boxes().size(), 1u);
}

TEST(MidiPort, ResetAndCloseFailuresAreEachReported) {
    PortRig r;
    r.output.failResetAndClose(true);
    r.port.initOutput(r.song);
    r.port.closeDevice();
    EXPECT_EQ(r.dialogs.texts(),
              (std::vector<std::string>{"Undefined error!", "Undefined error!"}));
}

TEST(MidiPort, SelectDeviceSwitchesWhereMessagesGo) {
    PortRig r;
    r.port.initOutput(r.song);
    r.port.noteOn(60, 1, 0);
    r.port.selectDevice(1);
    r.port.noteOn(61, 1, 0);
    const auto m = r.output.messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].device, -1);
    EXPECT_EQ(m[1].device, 1);
    EXPECT_EQ(r.port.currentIdentifier(), 1);
    EXPECT_EQ(r.output.closedCount(), 1);
}

}  // namespace
}  // namespace pitchloom
