#include "formats/GifExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

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
// `data` in sub-blocks of up to 255 bytes, then the terminator.
std::string inSubBlocks(const std::string& data) {
    std::string s;
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::string piece = data.substr(at, 255);
        s += static_cast<char>(piece.size()) + piece;
    }
    return s + '\0';
}
// An LZW code stream (GIF89a appendix F) of `pixels` pixels of colour 0, each coded alone, with
// the code size growing as a decoder's table does and a clear code where the table is full; then
// `extra` more codes of `extraCode`, and the end code unless `end` is false.
std::string lzw(int minimum, std::size_t pixels, int extra = 0, unsigned extraCode = 0, bool end = true) {
    const unsigned clear = 1u << minimum;
    unsigned size = static_cast<unsigned>(minimum) + 1;
    unsigned next = clear + 2;
    bool first = true;
    std::string out;
    std::uint32_t bits = 0;
    unsigned count = 0;
    auto put = [&](unsigned code) {
        bits |= code << count;
        for (count += size; count >= 8; count -= 8) {
            out += static_cast<char>(bits & 0xFF);
            bits >>= 8;
        }
    };
    auto grow = [&] {
        if (!first && next < 4096 && ++next == (1u << size) && size < 12) {
            ++size;
        }
        first = false;
    };
    put(clear);
    for (std::size_t i = 0; i < pixels + static_cast<std::size_t>(extra); ++i) {
        put(i < pixels ? 0 : extraCode);
        grow();
        if (next == 4096) {
            put(clear);
            size = static_cast<unsigned>(minimum) + 1;
            next = clear + 2;
            first = true;
        }
    }
    if (end) {
        put(clear + 1);
    }
    if (count > 0) {
        out += static_cast<char>(bits & 0xFF);
    }
    return out;
}
const std::string control = bytes({0x21, 0xF9}) + subBlocks({4});
// A 4x3 image whose data decodes to its 12 pixels.
std::string image(int codeSize = 2, const std::string& data = inSubBlocks(lzw(2, 12))) {
    return bytes({0x2C, 0, 0, 0, 0, 4, 0, 3, 0, 0, codeSize}) + data;
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
                inSubBlocks(lzw(2, 12)) + trailer,
            true, screen.size() + 10 + 12 + 1 + inSubBlocks(lzw(2, 12)).size() + 1, false},
        Row{"GarbageAfterTheFirstImage", screen + image() + bytes({0x00, 0x3B}), true,
            screen.size() + image().size(), true},
        Row{"CodeSizeThirteenInTheSecondImage", screen + image() + image(13) + trailer, true,
            screen.size() + image().size(), true},
        Row{"SubBlocksPastTheEvidence", screen + image() + bytes({0x21, 0xFE, 200}) + "short", true,
            screen.size() + image().size(), true},
        // The second image's data does not decode to its pixels: the file ends after the first.
        Row{"DataOfNoLzwCodes", screen + image() + control + image(2, subBlocks({3, 0x3B})) + trailer, true,
            screen.size() + image().size() + control.size(), true},
        Row{"CodeNamingNoEntry", screen + image() + image(2, inSubBlocks(lzw(2, 5, 1, 15))) + trailer, true,
            screen.size() + image().size(), true},
        Row{"TooFewPixels", screen + image() + image(2, inSubBlocks(lzw(2, 11))) + trailer, true,
            screen.size() + image().size(), true},
        Row{"TooFewPixelsWithoutEndCode",
            screen + image() + image(2, inSubBlocks(lzw(2, 11, 0, 0, false))) + trailer, true,
            screen.size() + image().size(), true},
        Row{"TooManyPixels", screen + image() + image(2, inSubBlocks(lzw(2, 13))) + trailer, true,
            screen.size() + image().size(), true},
        Row{"SubBlockAfterTheEndCode",
            screen + image() +
                image(2, inSubBlocks(lzw(2, 12)).substr(0, lzw(2, 12).size() + 1) + subBlocks({2})) + trailer,
            true, screen.size() + image().size(), true},
        // Exactly the frame's pixels, and the terminator without an end code: whole.
        Row{"PixelsWithoutEndCode", screen + image(2, inSubBlocks(lzw(2, 12, 0, 0, false))) + trailer, true,
            screen.size() + image(2, inSubBlocks(lzw(2, 12, 0, 0, false))).size() + 1, false},
        // Extensions without an image are no picture.
        Row{"NoImage", screen + control + trailer, false, 0, false},
        Row{"Version88a", std::string("GIF88a") + screen.substr(6) + image() + trailer, false, 0, false},
        Row{"NoBlockFirst", screen + bytes({0x2D}) + image() + trailer, false, 0, false},
        Row{"CodeSizeThirteenFirst", screen + image(13) + trailer, false, 0, false},
        Row{"FirstImageDoesNotDecode", screen + image(2, subBlocks({3, 0x3B})) + trailer, false, 0, false},
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
// alignment of the data's start (a comment before the image moves it).
TEST(GifExtentTest, SubBlocksAcrossReadBlocks) {
    const std::string data = inSubBlocks(lzw(8, 400 * 300));
    ASSERT_GT(data.size(), 2u * GifExtent::blockSize);
    for (int shift : {0, 1, 200}) {
        std::string comment;
        if (shift > 0) {
            comment = bytes({0x21, 0xFE, shift}) + std::string(static_cast<std::size_t>(shift), 'c') + '\0';
        }
        const std::string gif = screen + comment +
                                bytes({0x2C, 0, 0, 0, 0, 400 & 0xFF, 400 >> 8, 300 & 0xFF, 300 >> 8, 0, 8}) +
                                data + trailer;
        const Extent e = measure(gif + garbage(50));
        ASSERT_TRUE(e) << e.whyNot;
        EXPECT_EQ(e.length, gif.size()) << shift;
        EXPECT_FALSE(e.truncated);
    }
}

// Where each image descriptor of a sound GIF starts, by its blocks.
std::vector<std::size_t> imageStarts(const std::string& gif) {
    const auto table = [&](std::size_t packed) {
        return (gif[packed] & 0x80) != 0 ? std::size_t{3} << ((gif[packed] & 7) + 1) : 0;
    };
    std::vector<std::size_t> starts;
    std::size_t at = 13 + table(10);
    while (at < gif.size() && gif[at] != 0x3B) {
        if (gif[at] == 0x2C) {
            starts.push_back(at);
            at += 10 + table(at + 9) + 1;
        } else {
            at += 2;
        }
        while (gif[at] != 0) {
            at += 1 + static_cast<unsigned char>(gif[at]);
        }
        ++at;
    }
    return starts;
}

// Real files: whole, each is measured to its trailer; with a frame's data overwritten from a
// point on (a file system's break), the file ends after the last whole frame before it.
TEST(GifExtentTest, OverwrittenFrameEndsTheFile) {
    for (const char* file : {"image-animated.gif", "image-00-3b.gif", "image89a.gif", "image87a.gif"}) {
        const std::string gif = fixture(file);
        const Extent whole = measure(gif + garbage(300));
        ASSERT_TRUE(whole) << file;
        EXPECT_EQ(whole.length, gif.size()) << file;
        EXPECT_FALSE(whole.truncated) << file;
    }
    const std::string gif = fixture("image-animated.gif");
    const std::vector<std::size_t> frames = imageStarts(gif);
    ASSERT_EQ(frames.size(), 3u);
    for (const std::uint32_t seed : {1u, 2u, 3u, 4u}) {
        // The second image's data from its first sub-block on replaced by other bytes.
        const std::size_t from = frames[1] + 11;
        const std::string broken =
            gif.substr(0, from) + test::randomBytes(gif.size() - from + 64, seed) + trailer;
        const Extent e = measure(broken);
        ASSERT_TRUE(e) << seed;
        EXPECT_TRUE(e.truncated) << seed;
        EXPECT_LE(e.length, frames[1]) << seed;
        EXPECT_GT(e.length, frames[0]) << seed;
    }
}

} // namespace
