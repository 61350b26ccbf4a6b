#include "midifile/event_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/midi_builder.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;

// The events of a track as the reader gives them, each with its bytes there, delta time first.
struct Read {
    std::span<const std::uint8_t> spelled;
    MidiEvent event;
};
std::vector<Read> readAll(const Bytes& track) {
    std::vector<Read> out;
    EventReader reader(track, 0);
    std::size_t from = 0;
    while (auto e = reader.next()) {
        out.push_back({std::span(track).subspan(from, reader.position() - from), *e});
        from = reader.position();
    }
    return out;
}

Bytes written(const Bytes& buffer, EventWriter& w) {
    return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(w.finish())};
}

const Bytes kMarker = {0xF0, 0x03, 0x7D, 0x01, 0xF7};

TEST(EventWriter, CopiedEventsRunOnWhereTheSongDidAcrossMetaAndSysEx) {
    const Bytes track = TrackBuilder()
                            .noteOn(0, 0, 60, 100)
                            .running(0x80, 62, 100)  // a delta time of two bytes
                            .meta(0, 0x01, {'a'})
                            .running(5, 64, 100)
                            .sysex(0, {0x7D, 0xF7})
                            .running(0, 60, 0)
                            .bytes();
    Bytes buffer(track.size());
    EventWriter w(buffer);
    for (const Read& r : readAll(track))
        w.copy(r.spelled, r.event);
    EXPECT_TRUE(w.fits());
    EXPECT_EQ(written(buffer, w),
              (Bytes{0x00, 0x90, 0x3C, 0x64, 0x81, 0x00, 0x3E, 0x64, 0x00, 0xFF, 0x01, 0x01,
                     0x61, 0x05, 0x40, 0x64, 0x00, 0xF0, 0x02, 0x7D, 0xF7, 0x00, 0x3C, 0x00}));
}

TEST(EventWriter, StatusIsWrittenOutBehindAnAddedMessageOrAnotherStatus) {
    const Bytes track =
        TrackBuilder().controlChange(0, 0, 7, 100).running(10, 10, 64).running(0, 11, 127).bytes();
    const auto events = readAll(track);
    Bytes buffer(64);
    EventWriter w(buffer);
    w.copy(events[0].spelled, events[0].event);
    w.add(0, kMarker);
    w.copy(events[1].spelled, events[1].event);
    const Bytes moved = {0x0B, 0x7F};
    w.copy(events[2].spelled, events[2].event, 0xB1, moved);  // onto channel 2
    w.copy(events[2].spelled, events[2].event);
    EXPECT_EQ(written(buffer, w),
              (Bytes{0x00, 0xB0, 0x07, 0x64, 0x00, 0xF0, 0x03, 0x7D, 0x01, 0xF7, 0x0A,
                     0xB0, 0x0A, 0x40, 0x00, 0xB1, 0x0B, 0x7F, 0x00, 0xB0, 0x0B, 0x7F}));
}

TEST(EventWriter, AnAddedChannelEventRunsOnOnlyWhereAllowed) {
    Bytes buffer(64);
    EventWriter w(buffer);
    const Bytes volume = {0xB0, 0x07, 0x64};
    w.add(0, volume);
    w.add(0x80, volume);
    w.add(0, volume, EventWriter::RunOn::Allowed);
    w.add(0, kMarker);
    w.add(0, volume, EventWriter::RunOn::Allowed);
    EXPECT_EQ(written(buffer, w),
              (Bytes{0x00, 0xB0, 0x07, 0x64, 0x81, 0x00, 0xB0, 0x07, 0x64, 0x00, 0x07,
                     0x64, 0x00, 0xF0, 0x03, 0x7D, 0x01, 0xF7, 0x00, 0xB0, 0x07, 0x64}));
}

TEST(EventWriter, WhatDoesNotFitIsLeftOutWithAllAfterIt) {
    Bytes buffer(8, 0xEE);
    EventWriter w{std::span(buffer).first(7)};
    w.add(0, Bytes{0x90, 0x3C, 0x64});
    w.add(0, kMarker);  // 6 bytes where 3 are left
    EXPECT_FALSE(w.fits());
    w.copyRaw(Bytes{0x00});  // would fit, but the stream is broken off
    EXPECT_FALSE(w.fits());
    EXPECT_EQ(w.finish(), 4u);
    EXPECT_EQ(buffer, (Bytes{0x00, 0x90, 0x3C, 0x64, 0xEE, 0xEE, 0xEE, 0xEE}));
}

}  // namespace
}  // namespace pitchloom
