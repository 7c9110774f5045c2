#include "formats/PsdExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <ostream>
#include <string>

using morrow::Extent;
using morrow::PsdExtent;
using morrow::test::be32;
using morrow::test::fixture;

namespace test = morrow::test;

namespace {

std::string garbage(std::size_t n, std::uint32_t seed = 3) {
    return morrow::test::ImageBuilder(n).randomFill(seed).data();
}

Extent measure(const std::string& data, std::int64_t H) {
    morrow::test::MemoryImage image(data);
    return PsdExtent::measure(image, H);
}

std::string be16(std::uint16_t v) {
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

// A PSD with no color mode data, one resource block and no layers, then the image data section
// from its compression method on.
std::string psd(std::uint16_t channels, std::uint32_t height, std::uint32_t width,
                const std::string& imageData) {
    const std::string resource = std::string("8BIM") + be16(1005) + std::string(2, '\0') + be32(0);
    return std::string("8BPS") + be16(1) + std::string(6, '\0') + be16(channels) + be32(height) +
           be32(width) + be16(8) + be16(3) + be32(0) + be32(static_cast<std::uint32_t>(resource.size())) +
           resource + be32(0) + imageData;
}
constexpr std::size_t imageDataStart = 26 + 4 + 4 + 12 + 4;

std::string deflated(const std::string& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             static_cast<uLong>(raw.size()));
    out.resize(size);
    return out;
}

struct CorruptRow {
    const char* name;
    std::size_t offset; // into layers.psd
    std::string bytes;
};

void PrintTo(const CorruptRow& row, std::ostream* os) {
    *os << row.name;
}

class PsdExtentRejectTest : public testing::TestWithParam<CorruptRow> {};

TEST_P(PsdExtentRejectTest, IsRejected) {
    std::string data = fixture("layers.psd");
    data.replace(GetParam().offset, GetParam().bytes.size(), GetParam().bytes);
    const Extent e = measure(garbage(512) + data + garbage(512, 5), 512);
    EXPECT_FALSE(e) << e.length;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PsdExtentRejectTest,
    testing::Values(CorruptRow{"Version", 4, be16(3)}, CorruptRow{"Reserved", 9, "\x01"},
                    CorruptRow{"NoChannels", 12, be16(0)}, CorruptRow{"TooManyChannels", 12, be16(57)},
                    CorruptRow{"NoRows", 14, be32(0)}, CorruptRow{"TooWideForPsd", 18, be32(30001)},
                    CorruptRow{"Depth", 22, be16(7)}, CorruptRow{"ColorMode", 24, be16(5)},
                    CorruptRow{"IndexedWithoutPalette", 24, be16(2)},
                    CorruptRow{"ResourcesWithoutBlock", 34, "8BIN"}),
    [](const testing::TestParamInfo<CorruptRow>& row) { return std::string(row.param.name); });

TEST(PsdExtentTest, TruncatedAtEveryByteNeverMeasuresPastTheData) {
    for (const char* file : {"layers.psd", "layers.psb"}) {
        const std::string data = fixture(file);
        for (std::size_t cut = 0; cut < data.size(); ++cut) {
            const Extent e = measure(data.substr(0, cut), 0);
            if (e) {
                EXPECT_LE(e.length, cut) << file << " " << cut;
                EXPECT_TRUE(e.truncated) << file << " " << cut;
            }
            // Sound once the first resource block's signature is in.
            EXPECT_EQ(static_cast<bool>(e), cut >= 38) << file << " " << cut;
        }
    }
}

TEST(PsdExtentTest, RleTableIsSummedAcrossReadBlocks) {
    // 3 channels x 12000 rows of one byte: 72000 bytes of table, past the first 64 KiB block.
    // Every row is the PackBits literal run "00 07" (2 bytes) except the last, which adds the
    // no-op byte 80 (3 bytes), so a sum that skips or repeats an entry comes out wrong.
    const std::uint32_t rows = 3 * 12000;
    std::string table, data;
    for (std::uint32_t i = 0; i < rows; ++i) {
        const bool last = i + 1 == rows;
        table += be16(last ? 3 : 2);
        data += last ? std::string("\x00\x07\x80", 3) : std::string("\x00\x07", 2);
    }
    const std::string file = psd(3, 12000, 1, be16(1) + table + data);
    const Extent e = measure(garbage(700) + file + garbage(900, 6), 700);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, file.size());

    // A count no PackBits row of one byte can have: the table is broken and the file ends before
    // its image data.
    std::string broken = file;
    broken.replace(imageDataStart + 2 + 2 * 20000, 2, be16(900));
    const Extent b = measure(broken + garbage(900, 6), 0);
    ASSERT_TRUE(b) << b.whyNot;
    EXPECT_EQ(b.length, imageDataStart);
    EXPECT_TRUE(b.truncated);
}

struct ZipRow {
    const char* name;
    bool perChannel; // one zlib stream per channel, or one for the whole picture
    bool damaged;    // a byte of the deflate data overwritten
};

void PrintTo(const ZipRow& row, std::ostream* os) {
    *os << row.name;
}

class PsdExtentZipTest : public testing::TestWithParam<ZipRow> {};

TEST_P(PsdExtentZipTest, EndsWithTheZlibStreams) {
    // Two channels of 400 x 300 noise-like bytes: each stream is longer than a 64 KiB read block.
    std::string channel[2];
    std::uint32_t x = 12345;
    for (std::string& c : channel) {
        for (int i = 0; i < 400 * 300; ++i) {
            x = x * 1103515245u + 12345u;
            c += static_cast<char>((x >> 16) & 0x3F);
        }
    }
    const std::string streams = GetParam().perChannel ? deflated(channel[0]) + deflated(channel[1])
                                                      : deflated(channel[0] + channel[1]);
    std::string file = psd(2, 300, 400, be16(2) + streams);
    if (GetParam().damaged) {
        file[imageDataStart + 2 + 70000] = static_cast<char>(~file[imageDataStart + 2 + 70000]);
    }
    const Extent e = measure(garbage(1536) + file + garbage(4000, 7), 1536);
    ASSERT_TRUE(e) << e.whyNot;
    if (GetParam().damaged) {
        EXPECT_EQ(e.length, imageDataStart);
        EXPECT_TRUE(e.truncated);
    } else {
        EXPECT_EQ(e.length, file.size());
        EXPECT_FALSE(e.truncated);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, PsdExtentZipTest,
                         testing::Values(ZipRow{"OneStream", false, false},
                                         ZipRow{"StreamPerChannel", true, false},
                                         ZipRow{"DamagedStream", false, true}),
                         [](const testing::TestParamInfo<ZipRow>& row) {
                             return std::string(row.param.name);
                         });

} // namespace
