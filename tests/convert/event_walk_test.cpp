#include "convert/event_walk.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/midi_builder.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;

// The events' ends and statuses, walking an image of exactly the given bytes.
struct Walked {
    std::vector<std::size_t> ends;
    std::vector<int> statuses;
    std::vector<bool> unknown;
};

Walked walkAll(const Bytes& image) {
    Walked out;
    EventWalk walk(image);
    while (auto e = walk.next()) {
        out.ends.push_back(e->end);
        out.statuses.push_back(e->status);
        out.unknown.push_back(e->unknownMeta);
    }
    return out;
}

std::vector<std::size_t> endsOf(const TrackBuilder& track) {
    return walkAll(test::format0(96, track)).ends;
}

TEST(MeasureEvent, MetaEventsFollowTheSizeTable) {
    // Each meta event in turn, the sizes including the delta time byte in front.
    TrackBuilder t;
    t.meta(0, 0x00, {0x00, 0x07})  // sequence number: length byte + 3
        .meta(0, 0x20, {0x01})
        .meta(0, 0x03, Bytes(200, 'x'))  // two-byte length: 2 + 2 + 200
        .meta(0, 0x7F, {1, 2, 3})
        .tempo(0, 500000)
        .meta(0, 0x54, {0, 0, 0, 0, 0})
        .meta(0, 0x58, {4, 2, 24, 8})
        .meta(0, 0x59, {0, 0})
        .endOfTrack();
    const std::vector<std::size_t> sizes = {6, 5, 205, 7, 7, 9, 8, 6, 4};
    std::vector<std::size_t> expected;
    std::size_t at = kFirstEventOffset;
    for (std::size_t s : sizes)
        expected.push_back(at += s);
    EXPECT_EQ(endsOf(t), expected);
}

TEST(MeasureEvent, SystemExclusiveRunsThroughTheFirstF7AndEscapeByItsLengthByte) {
    TrackBuilder t;
    t.raw(0, {0xF0, 0x05, 0x41, 0x10, 0x42, 0x12, 0xF7})
        .raw(0, {0xF7, 0x03, 0x01, 0x02, 0x03})
        .noteOn(0, 0, 60, 100);
    EXPECT_EQ(endsOf(t), (std::vector<std::size_t>{22 + 8, 30 + 6, 36 + 4}));
}

TEST(MeasureEvent, UnknownMetaIsFlaggedAndSkippedByItsLengthByte) {
    TrackBuilder t;
    t.meta(0, 0x09, {'a', 'b', 'c'}).noteOn(0, 0, 60, 100);
    const Walked w = walkAll(test::format0(96, t));
    EXPECT_EQ(w.ends, (std::vector<std::size_t>{22 + 7, 29 + 4}));
    EXPECT_EQ(w.unknown, (std::vector<bool>{true, false}));
}

TEST(EventWalk, DataBytesRunUnderTheLastChannelStatus) {
    TrackBuilder t;
    t.noteOn(0, 3, 60, 100).running(10, 62, 100).programChange(0, 1, 5).running1(0, 6);
    const Bytes image = test::format0(96, t);
    EventWalk walk(image);
    walk.next();
    const auto running = walk.next();
    ASSERT_TRUE(running);
    EXPECT_TRUE(running->runningStatus);
    EXPECT_TRUE(running->isNoteOn());
    EXPECT_EQ(running->status, 0x93);
    EXPECT_EQ(running->delta, 10u);
    EXPECT_EQ(image[running->dataAt()], 62);
    EXPECT_EQ(running->end, 22u + 4 + 3);
    walk.next();
    const auto program = walk.next();
    ASSERT_TRUE(program);
    EXPECT_EQ(program->status, 0xC1);
    EXPECT_EQ(image[program->dataAt()], 6);
    EXPECT_FALSE(walk.next());
}

TEST(EventWalk, FirstEventWithoutStatusEndsTheWalk) {
    TrackBuilder t;
    t.running(0, 60, 100).noteOn(0, 0, 60, 100);
    EXPECT_TRUE(endsOf(t).empty());
}

TEST(EventWalk, DataAfterAMetaOrExclusiveStatusEndsTheWalk) {
    TrackBuilder t;
    t.tempo(0, 500000).running(0, 60, 100);
    EXPECT_EQ(endsOf(t).size(), 1u);
}

TEST(EventWalk, StopsAtAnEventRunningPastTheImage) {
    // Each image ends inside its last event; the walk must stop without reading beyond it.
    const std::vector<Bytes> truncated = {
        {0x90, 0x3C},                   // note-on missing its velocity
        {0xF0, 0x03, 0x41, 0x10},       // exclusive without F7
        {0xF7, 0x05, 0x01},             // escape shorter than its length byte
        {0xFF, 0x03, 0x85, 0x00, 'a'},  // text longer than what is left
        {0xFF, 0x03, 0x81},             // length quantity cut off
        {0xFF, 0x51, 0x03, 0x07},       // tempo cut off
        {0xFF},                         // meta without type
        {0xFF, 0x09},                   // unknown meta without length byte
    };
    for (const Bytes& tail : truncated) {
        TrackBuilder t;
        t.noteOn(0, 0, 60, 100).raw(0, tail);
        Bytes image = test::format0(96, t);
        EXPECT_EQ(walkAll(image).ends, (std::vector<std::size_t>{26}))
            << "tail size " << tail.size();
    }
    const Bytes endsInDelta = {'M', 'T', 'h', 'd', 0,   0,   0, 6, 0, 0, 0,   1,
                               0,   96,  'M', 'T', 'r', 'k', 0, 0, 0, 1, 0x81};
    EXPECT_TRUE(walkAll(endsInDelta).ends.empty());
}

}  // namespace
}  // namespace pitchloom
