#include "midifile/event_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "midifile/midi_song.h"
#include "support/midi_builder.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;

// Where each event ends, reading an image of exactly the track's bytes.
std::vector<std::size_t> endsOf(const TrackBuilder& track) {
    const Bytes image = test::format0(96, track);
    std::vector<std::size_t> ends;
    EventReader reader(image, kFirstEventOffset);
    while (auto e = reader.next())
        ends.push_back(e->end());
    return ends;
}

// The ends that events of these sizes (delta time included) give from byte 22.
std::vector<std::size_t> endsFor(const std::vector<std::size_t>& sizes) {
    std::vector<std::size_t> ends;
    std::size_t at = kFirstEventOffset;
    for (std::size_t s : sizes)
        ends.push_back(at += s);
    return ends;
}

TEST(EventReader, MetaEventsAndEscapesGoByTheirVariableLengthLength) {
    Bytes escape = {0xF7, 0x81, 0x48};  // an escape of 200 bytes that look like notes
    for (int i = 0; i < 100; ++i)
        escape.insert(escape.end(), {0x90, 0x3C});
    TrackBuilder t;
    t.meta(0, 0x00, {0x00, 0x07})
        .meta(0, 0x03, Bytes(200, 'x'))  // a length of two bytes: 2 + 2 + 200
        .tempo(0, 500000)
        .meta(0, 0x08, Bytes(130, 'p'))  // program name, past 127 bytes
        .meta(0, 0x60, Bytes(128, 0))    // a type of no meaning, sized all the same
        .raw(0, escape)
        .noteOn(0, 0, 60, 100)
        .endOfTrack();
    EXPECT_EQ(endsOf(t), endsFor({6, 205, 7, 135, 133, 204, 4, 4}));

    const Bytes image = test::format0(96, TrackBuilder().meta(0, 0x09, {'a'}).meta(0, 0x60, {}));
    EventReader reader(image, kFirstEventOffset);
    EXPECT_FALSE(reader.next()->unknownMeta) << "FF 09, device name, is known";
    EXPECT_TRUE(reader.next()->unknownMeta);
}

TEST(EventReader, SystemExclusiveEndsAtItsF7OrGoesOnInPackets) {
    TrackBuilder t;
    t.raw(0, {0xF0, 0x05, 0x41, 0x10, 0x42, 0x12, 0xF7})     // length and F7 agree
        .raw(0, {0xF0, 0x09, 0x43, 0x10, 0x4C, 0xF7})        // length too long: by its F7
        .raw(0, {0xF0, 0x03, 0x43, 0x10, 0x4C, 0x00, 0xF7})  // length too short: by its F7
        .raw(0, {0xF0, 0x03, 0x43, 0x10, 0x4C})              // a first packet ...
        .raw(0, {0xF7, 0x02, 0x00, 0x00})                    // ... one in the middle ...
        .raw(0, {0xF7, 0x02, 0x7E, 0xF7})                    // ... and the last
        .noteOn(0, 0, 60, 100);
    EXPECT_EQ(endsOf(t), endsFor({8, 7, 8, 6, 5, 5, 4}));

    const Bytes image = test::format0(96, t);
    EventReader reader(image, kFirstEventOffset);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(reader.next()->unfinishedSysEx);
    const auto first = reader.next();
    EXPECT_TRUE(first->unfinishedSysEx);
    EXPECT_EQ(Bytes(first->payload.begin(), first->payload.end()), (Bytes{0x43, 0x10, 0x4C}));
    EXPECT_TRUE(reader.next()->isEscape());
}

TEST(EventReader, RunningStatusIsTheLastChannelStatus) {
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).running(0, 62, 100).programChange(0, 1, 5).running1(0, 6);
    t.raw(0, {0xD2, 0x40}).raw(0, {0xE3, 0x00, 0x40});
    // Meta and System Exclusive events between leave it in force.
    t.tempo(0, 500000).running(0, 0, 0x40).raw(0, {0xF0, 0x01, 0xF7}).running(0, 0, 0x41);
    EXPECT_EQ(endsOf(t), endsFor({4, 3, 3, 2, 3, 4, 7, 3, 4, 3}));
    // Before any channel status, a data byte has nothing to run under.
    EXPECT_TRUE(endsOf(TrackBuilder().running(0, 60, 100).noteOn(0, 0, 60, 100)).empty());
    EXPECT_EQ(endsOf(TrackBuilder().tempo(0, 500000).running(0, 60, 100)).size(), 1u);

    // Reported instead, the stray byte is read again as the next delta time.
    const Bytes image = test::format0(96, TrackBuilder().raw(0, {0x40, 0x90, 0x3C, 0x01}));
    EventReader reader(image, kFirstEventOffset, 0, EventReader::StrayData::Report);
    const auto stray = reader.next();
    ASSERT_TRUE(stray && stray->stray);
    const auto note = reader.next();
    ASSERT_TRUE(note);
    EXPECT_EQ(note->delta, 0x40u);
    EXPECT_TRUE(note->isNoteOn());
}

TEST(EventReader, StopsAtAnEventRunningPastTheImage) {
    // Each image ends inside its last event; the reader must stop without reading beyond it.
    const std::vector<Bytes> truncated = {
        {0x90, 0x3C},                   // note-on missing its velocity
        {0xF0, 0x03, 0x41, 0x10},       // exclusive without F7
        {0xF7, 0x05, 0x01},             // escape shorter than its length
        {0xF7, 0x81},                   // escape length cut off
        {0xFF, 0x03, 0x85, 0x00, 'a'},  // text shorter than its length
        {0xFF, 0x51, 0x03, 0x07},       // tempo cut off
        {0xFF},                         // meta without type
        {0xFF, 0x09},                   // meta without length
        {0x81},                         // note-off without data
    };
    for (const Bytes& tail : truncated) {
        const Bytes image = test::format0(96, TrackBuilder().noteOn(0, 0, 60, 100).raw(0, tail));
        EventReader reader(image, kFirstEventOffset);
        ASSERT_TRUE(reader.next());
        EXPECT_FALSE(reader.next()) << "tail starting " << int(tail[0]);
        EXPECT_EQ(reader.stop(), EventReader::Stop::Cut);
    }
}

}  // namespace
}  // namespace pitchloom
