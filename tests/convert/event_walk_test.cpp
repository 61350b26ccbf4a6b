#include "convert/event_walk.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/midi_builder.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;

// Where each event ends, walking an image of exactly the track's bytes.
std::vector<std::size_t> endsOf(const TrackBuilder& track) {
    const Bytes image = test::format0(96, track);
    std::vector<std::size_t> ends;
    EventWalk walk(image);
    while (auto e = walk.next())
        ends.push_back(e->end);
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

TEST(EventWalk, MetaEventsFollowTheSizeTable) {
    TrackBuilder t;
    t.meta(0, 0x00, {0x00, 0x07})  // sequence number: length byte + 3
        .meta(0, 0x20, {0x01})
        .meta(0, 0x03, Bytes(200, 'x'))  // two-byte length: 2 + 2 + 200
        .meta(0, 0x7F, {1, 2, 3})
        .tempo(0, 500000)
        .meta(0, 0x54, {0, 0, 0, 0, 0})
        .meta(0, 0x58, {4, 2, 24, 8})
        .meta(0, 0x59, {0, 0})
        .meta(0, 0x09, {'a', 'b'})  // unknown: length byte + 3
        .endOfTrack();
    EXPECT_EQ(endsOf(t), endsFor({6, 5, 205, 7, 7, 9, 8, 6, 6, 4}));
}

TEST(EventWalk, ExclusiveRunsThroughItsF7EscapeByItsLengthByteChannelDataByStatus) {
    TrackBuilder t;
    t.raw(0, {0xF0, 0x05, 0x41, 0x10, 0x42, 0x12, 0xF7})
        .raw(0, {0xF7, 0x03, 0x01, 0x02, 0x03})
        .noteOn(0, 0, 60, 100)
        .running(0, 62, 100)
        .programChange(0, 1, 5)
        .running1(0, 6)
        .raw(0, {0xD2, 0x40})
        .raw(0, {0xE3, 0x00, 0x40});
    EXPECT_EQ(endsOf(t), endsFor({8, 6, 4, 3, 3, 2, 3, 4}));
}

TEST(EventWalk, DataBytesWithNoChannelStatusToRunUnderEndTheWalk) {
    EXPECT_TRUE(endsOf(TrackBuilder().running(0, 60, 100).noteOn(0, 0, 60, 100)).empty());
    EXPECT_EQ(endsOf(TrackBuilder().tempo(0, 500000).running(0, 60, 100)).size(), 1u);
}

TEST(EventWalk, StopsAtAnEventRunningPastTheImage) {
    // Each image ends inside its last event; the walk must stop without reading beyond it.
    const std::vector<Bytes> truncated = {
        {0x90, 0x3C},                   // note-on missing its velocity
        {0xF0, 0x03, 0x41, 0x10},       // exclusive without F7
        {0xF7, 0x05, 0x01},             // escape shorter than its length byte
        {0xFF, 0x03, 0x85, 0x00, 'a'},  // text shorter than its length
        {0xFF, 0x03, 0x81},             // length quantity cut off
        {0xFF, 0x51, 0x03, 0x07},       // tempo cut off
        {0xFF},                         // meta without type
        {0xFF, 0x09},                   // unknown meta without length byte
        {0x81},                         // note-off without data
    };
    for (const Bytes& tail : truncated) {
        EXPECT_EQ(endsOf(TrackBuilder().noteOn(0, 0, 60, 100).raw(0, tail)), endsFor({4}))
            << "tail of " << tail.size() << " bytes starting " << int(tail[0]);
    }
}

}  // namespace
}  // namespace pitchloom
