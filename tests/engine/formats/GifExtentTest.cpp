#include "formats/GifExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using namespace morrow;
using morrow::test::bytes;
using morrow::test::fixture;
using morrow::test::garbage;

namespace {

Extent measure(const std::string& data, std::int64_t H = 0) {
    test::MemoryImage image(data);
    return GifExtent::measure(image, H);
}

// Header and screen descriptor with a global colour table of 2 entries (6 bytes).
const std::string screen = std::string("GIF89a") + bytes({4, 0, 3, 0, 0x80, 0, 0}) + std::string(6, '\x40');
// Sub-blocks of `sizes` bytes each, then the terminator.
std::string subBlocks(std::initializer_list<int> sizes) {
    std::string s;
    for (int n : sizes) {
        s += static_cast<char>(n) + std::string(static_cast<std::size_t>(n), '\x3B');
    }
    return s + '\0';
}
const std::string control = bytes({0x21, 0xF9}) + subBlocks({4});
std::string image(int codeSize = 2) {
    return bytes({0x2C, 0, 0, 0, 0, 4, 0, 3, 0, 0, codeSize}) + subBlocks({3, 0x3B});
}
const std::string trailer = bytes({0x3B});

using Row = test::ExtentRow;

class GifExtentRowsTest : public testing::TestWithParam<Row> {};

TEST_P(GifExtentRowsTest, WalksTheBlocks) {
    const Row& row = GetParam();
    const Extent e = measure(row.data);
    test::expectExtent(e, row.found, row.length, row.truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GifExtentRowsTest,
    testing::Values(
        Row{"ControlImageTrailer", screen + control + image() + trailer + garbage(9), true,
            screen.size() + control.size() + image().size() + 1, false},
        Row{"LocalColourTable",
            screen + bytes({0x2C, 0, 0, 0, 0, 4, 0, 3, 0, 0x81}) + std::string(12, '\x3B') + bytes({2}) +
                subBlocks({1}) + trailer,
            true, screen.size() + 10 + 12 + 1 + 3 + 1, false},
        Row{"GarbageAfterTheFirstImage", screen + image() + bytes({0x00, 0x3B}), true,
            screen.size() + image().size(), true},
        Row{"CodeSizeThirteenInTheSecondImage", screen + image() + image(13) + trailer, true,
            screen.size() + image().size(), true},
        Row{"SubBlocksPastTheEvidence", screen + image() + bytes({0x21, 0xFE, 200}) + "short", true,
            screen.size() + image().size(), true},
        // Extensions without an image are no picture.
        Row{"NoImage", screen + control + trailer, false, 0, false},
        Row{"Version88a", std::string("GIF88a") + screen.substr(6) + image() + trailer, false, 0, false},
        Row{"NoBlockFirst", screen + bytes({0x2D}) + image() + trailer, false, 0, false},
        Row{"CodeSizeThirteenFirst", screen + image(13) + trailer, false, 0, false},
        Row{"ColourTablePastTheEvidence",
            std::string("GIF89a") + bytes({4, 0, 3, 0, 0x87, 0, 0}) + garbage(100), false, 0, false}),
    test::RowName());

TEST(GifExtentTest, CutAnywhereNeverReachesPastTheCut) {
    for (const char* file : {"image-00-3b.gif", "image-animated.gif"}) {
        const std::string gif = fixture(file);
        for (std::size_t cut = 1; cut < gif.size(); ++cut) {
            const Extent e = measure(gif.substr(0, cut));
            if (e) {
                EXPECT_TRUE(e.truncated) << file << " cut at " << cut;
                EXPECT_LE(e.length, cut) << file << " cut at " << cut;
            }
        }
    }
}

// Sub-blocks read in 64 KiB blocks: size bytes on either side of a block's end, whatever the
// alignment of the data's start.
TEST(GifExtentTest, SubBlocksAcrossReadBlocks) {
    for (int shift : {0, 1, 200}) {
        std::string data;
        if (shift > 0) {
            data = static_cast<char>(shift) + std::string(static_cast<std::size_t>(shift), '\0');
        }
        for (int i = 0; i < 600; ++i) {
            data += static_cast<char>(255) + std::string(255, '\0');
        }
        const std::string gif = screen + bytes({0x2C, 0, 0, 0, 0, 4, 0, 3, 0, 0, 8}) + data + '\0' + trailer;
        const Extent e = measure(gif + garbage(50));
        ASSERT_TRUE(e) << e.whyNot;
        EXPECT_EQ(e.length, gif.size()) << shift;
        EXPECT_FALSE(e.truncated);
    }
}

} // namespace
