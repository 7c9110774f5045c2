#include "formats/PngExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <zlib.h>

using namespace morrow;
using morrow::test::be32;
using morrow::test::bytes;
using morrow::test::fixture;
using morrow::test::garbage;

namespace {

Extent measure(const std::string& data, std::int64_t H = 0) {
    test::MemoryImage image(data);
    return PngExtent::measure(image, H);
}

const std::string signature = bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});

// A chunk with its length and CRC; `crcDelta` spoils the CRC.
std::string chunk(const std::string& type, const std::string& data, std::uint32_t crcDelta = 0) {
    const std::string body = type + data;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    return be32(static_cast<std::uint32_t>(data.size())) + body + be32(crc + crcDelta);
}
std::string ihdr(std::uint32_t width = 4, int depth = 8, int colour = 2) {
    return chunk("IHDR", be32(width) + be32(3) + bytes({depth, colour, 0, 0, 0}));
}
const std::string idat = chunk("IDAT", "not really deflate");
const std::string iend = chunk("IEND", "");

using Row = test::ExtentRow;

class PngExtentRowsTest : public testing::TestWithParam<Row> {};

TEST_P(PngExtentRowsTest, WalksTheChunks) {
    const Row& row = GetParam();
    const Extent e = measure(row.data);
    test::expectExtent(e, row.found, row.length, row.truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PngExtentRowsTest,
    testing::Values(
        Row{"Minimal", signature + ihdr() + idat + iend + garbage(20), true, 8 + 25 + idat.size() + 12,
            false},
        Row{"AppleChunkBeforeHeader",
            signature + chunk("CgBI", bytes({0x50, 0x00, 0x20, 0x06})) + ihdr() + idat + iend, true,
            8 + 16 + 25 + idat.size() + 12, false},
        Row{"BadCrcAfterTheData", signature + ihdr() + idat + chunk("IDAT", "abc", 1) + iend, true,
            33 + idat.size(), true},
        // Without image data there is no picture, however sound the chunks.
        Row{"BadCrcBeforeAnyData", signature + ihdr() + chunk("IDAT", "abc", 1) + iend, false, 0, false},
        Row{"NoImageData", signature + ihdr() + chunk("tEXt", "a") + iend, false, 0, false},
        Row{"DigitInAChunkType", signature + ihdr() + idat + chunk("ID4T", "abc") + iend, true,
            33 + idat.size(), true},
        Row{"ChunkPastTheEvidence", signature + ihdr() + idat + be32(5000) + "IDAT" + garbage(64), true,
            33 + idat.size(), true},
        Row{"EndChunkWithData", signature + ihdr() + idat + chunk("IEND", "x"), true, 33 + idat.size(), true},
        Row{"NoSignature", bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}) + ihdr() + iend, false, 0,
            false},
        Row{"HeaderCrcSpoilt",
            signature + chunk("IHDR", be32(4) + be32(3) + bytes({8, 2, 0, 0, 0}), 1) + iend, false, 0, false},
        Row{"DataBeforeTheHeader", signature + idat + ihdr() + iend, false, 0, false},
        Row{"ZeroWidth", signature + ihdr(0) + iend, false, 0, false},
        Row{"SixteenBitIndexed", signature + ihdr(4, 16, 3) + iend, false, 0, false}),
    test::RowName());

TEST(PngExtentTest, CutAnywhereNeverReachesPastTheCut) {
    struct Cut {
        const char* file;
        std::size_t step;
    };
    for (const Cut c : {Cut{"image.png", 1}, Cut{"image-large.png", 1009}}) {
        const std::string png = fixture(c.file);
        // Up to the first IDAT chunk's CRC there is no picture yet.
        const std::size_t data = png.find("IDAT") - 4;
        const std::size_t dataEnd =
            data + 12 +
            (static_cast<unsigned char>(png[data + 2]) << 8 | static_cast<unsigned char>(png[data + 3]));
        for (std::size_t cut = 1; cut < png.size(); cut += c.step) {
            const Extent e = measure(png.substr(0, cut));
            if (cut < dataEnd) {
                EXPECT_FALSE(e) << c.file << " cut at " << cut;
            } else {
                ASSERT_TRUE(e) << c.file << " cut at " << cut;
                EXPECT_TRUE(e.truncated) << c.file << " cut at " << cut;
                EXPECT_LE(e.length, cut) << c.file << " cut at " << cut;
                EXPECT_GT(e.length + 12 + 32768, cut) << "a chunk was lost before the cut: " << cut;
            }
        }
    }
}

// A chunk whose type and data fill two CRC blocks but the last two bytes.
TEST(PngExtentTest, ChunkAcrossReadBlocks) {
    const std::size_t dataLength = 2 * PngExtent::blockSize - 4 - 2;
    const std::string png = signature + ihdr() + chunk("IDAT", garbage(dataLength, 9)) + iend;
    const Extent e = measure(png + garbage(100));
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, png.size());
    EXPECT_FALSE(e.truncated);
}

} // namespace
