#include "formats/AsfExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using morrow::AsfExtent;
using morrow::Part;
using morrow::test::ExtentRow;
using morrow::test::fixture;
using morrow::test::garbage;
using morrow::test::le32;

namespace {

// clip-packets.wmv: header object of 659 bytes (File Properties at 30), data object at 659, its
// 14 packets of 512 bytes from 709, Simple Index at 7877 (entries from 7933), 7969 bytes.
const std::string wmv = fixture("clip-packets.wmv");
const std::string after = garbage(3000, 9);
constexpr std::uint64_t packets = 709;
constexpr std::uint64_t packet = 512;

std::string le64(std::uint64_t v) {
    return le32(static_cast<std::uint32_t>(v)) + le32(static_cast<std::uint32_t>(v >> 32));
}

std::string with(std::size_t at, const std::string& bytes) {
    return std::string(wmv).replace(at, bytes.size(), bytes);
}

class AsfExtentTest : public testing::TestWithParam<ExtentRow> {};

TEST_P(AsfExtentTest, Measures) {
    const ExtentRow& row = GetParam();
    morrow::test::MemoryImage image(garbage(512) + row.data);
    morrow::test::expectExtent(AsfExtent::measure(image, 512), row.found, row.length, row.truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AsfExtentTest,
    testing::Values(ExtentRow{"Whole", wmv + after, true, 7969, false},
                    ExtentRow{"WholeEndingTheEvidence", wmv, true, 7969, false},
                    ExtentRow{"OnePacket", fixture("clip.wmv") + after, true, 3825, false},
                    // GStreamer gives a packet's length without its padding, the padding apart.
                    ExtentRow{"PaddingApart", fixture("clip-asfmux.wmv") + after, true, 5339, false},
                    // Cut by the evidence's end, the packets before stand; before other bytes, the last
                    // packet that parses may be one cut short.
                    ExtentRow{"CutInAPacketAtTheEnd", wmv.substr(0, 3000), true, packets + 4 * packet, true},
                    ExtentRow{"CutBeforeOtherBytes", wmv.substr(0, packets + 4 * packet) + after, true,
                              packets + 3 * packet, true},
                    ExtentRow{"ForeignBytesOverAPacket", with(packets + 6 * packet, garbage(300, 4)) + after,
                              true, packets + 5 * packet, true},
                    ExtentRow{"CutInTheIndex", wmv.substr(0, 7900), true, 7877, true},
                    ExtentRow{"FileSizeDoubled", with(30 + 40, le64(2 * 7969)) + after, true, 7969, true},
                    ExtentRow{"IndexNamingNoPacket", with(7933, le32(99)), true, 7877, true},
                    ExtentRow{"NoIndexAfterTheData", with(7877, garbage(16, 4)) + after, true, 7877, true},
                    // Its packet count not yet known: as far as its packets and index go.
                    ExtentRow{"Broadcast", with(30 + 88, "\x03") + after, true, 7969, true},
                    ExtentRow{"CutInTheHeader", wmv.substr(0, 400), false, 0, false},
                    ExtentRow{"NoDataObject", with(659, garbage(16, 4)), false, 0, false},
                    ExtentRow{"HeaderSizeAllOnes", with(16, le64(~std::uint64_t{0})), false, 0, false},
                    ExtentRow{"PacketCountAllOnes", with(30 + 56, le64(~std::uint64_t{0})), false, 0, false},
                    ExtentRow{"PacketSizeZero", with(30 + 92, le32(0) + le32(0)), false, 0, false},
                    ExtentRow{"FirstPacketBroken", with(packets, garbage(64, 4)) + after, false, 0, false}),
    morrow::test::RowName{});

TEST(AsfExtentTest, PartsAreThePacketsThatStood) {
    for (const auto& [data, length, part] :
         {std::tuple{wmv + after, std::uint64_t{7969}, Part{packets, 14 * packet}},
          std::tuple{wmv.substr(0, packets + 4 * packet) + after, packets + 3 * packet,
                     Part{packets, 3 * packet}}}) {
        morrow::test::MemoryImage image(garbage(512) + data);
        std::vector<Part> parts;
        AsfExtent::parts(image, 512, length, parts);
        EXPECT_EQ(parts, std::vector<Part>{part});
    }
}

} // namespace
