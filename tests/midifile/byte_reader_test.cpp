#include "midifile/byte_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace pitchloom {
namespace {

TEST(Vlq, WritesTheShortestFormAtEachBoundary) {
    struct Case {
        std::uint32_t value;
        std::vector<std::uint8_t> bytes;
    };
    for (const Case& c : {Case{0, {0x00}}, Case{127, {0x7F}}, Case{128, {0x81, 0x00}},
                          Case{30000, {0x81, 0xEA, 0x30}}, Case{0x1FFFFF, {0xFF, 0xFF, 0x7F}},
                          Case{0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}}}) {
        std::array<std::uint8_t, 5> out{};
        const std::size_t n = writeVlq(c.value, out.data());
        EXPECT_EQ(std::vector(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)), c.bytes)
            << c.value;
        EXPECT_EQ(vlqSize(c.value), n);
        ByteReader r(c.bytes);
        EXPECT_EQ(r.readVlq(), c.value);
        EXPECT_TRUE(r.atEnd());
    }
}

TEST(Vlq, RunningOffTheEndReadsNothingAndKeepsThePosition) {
    const std::vector<std::uint8_t> bytes{0x05, 0x81, 0x80};
    ByteReader r(bytes);
    EXPECT_EQ(r.readVlq(), 5u);
    EXPECT_FALSE(r.readVlq());
    EXPECT_EQ(r.position(), 1u);
}

TEST(ByteReader, ReadsPastTheEndAnswerNothing) {
    const std::vector<std::uint8_t> bytes{0xF0, 0x41, 0xF7, 0x00};
    ByteReader r(bytes, 1);
    EXPECT_EQ(r.spanThrough(0xF7), 2u);
    EXPECT_FALSE(r.spanThrough(0x99));
    EXPECT_FALSE(r.peek(3));
    EXPECT_FALSE(r.take(4));
    EXPECT_EQ(r.position(), 1u);
    ASSERT_TRUE(r.take(3));
    EXPECT_FALSE(r.readByte());
    EXPECT_FALSE(r.spanThrough(0x00));
}

}  // namespace
}  // namespace pitchloom
