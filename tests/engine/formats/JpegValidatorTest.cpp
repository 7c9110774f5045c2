#include "formats/JpegValidator.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace morrow;
using morrow::test::bytes;

namespace {

constexpr std::int64_t untouched = -7;

// Lays `data` at `offset` in an evidence image of filler and runs the check there.
struct Checked {
    bool valid = false;
    std::int64_t scanStart = untouched;
};

Checked checkAt(const std::string& data, std::uint64_t offset = 0, std::uint64_t trailing = 0) {
    test::ImageBuilder image(offset + data.size() + trailing);
    image.randomFill(11).place(offset, data);
    test::MemoryImage evidence(image.data());
    Checked c;
    if (const auto found = JpegValidator::check(evidence, static_cast<std::int64_t>(offset), 3)) {
        c.valid = true;
        c.scanStart = *found;
    }
    return c;
}

const std::string jfifApp0 =
    bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});

struct Row {
    const char* name;
    std::string data;
    bool valid;
    std::int64_t scanStart; // relative to the header; ignored when not valid
};

class JpegValidatorRows : public ::testing::TestWithParam<Row> {};

TEST_P(JpegValidatorRows, WalksTheMarkerChain) {
    const Row& row = GetParam();
    for (std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{4096}}) {
        Checked c = checkAt(row.data, offset, 64);
        EXPECT_EQ(c.valid, row.valid) << "at " << offset;
        EXPECT_EQ(c.scanStart, row.valid ? static_cast<std::int64_t>(offset) + row.scanStart : untouched);
    }
}

// A DQT segment of 67 bytes, SOF0, DHT: the ordinary baseline run-up to the scan.
std::string tables() {
    std::string s = bytes({0xFF, 0xDB, 0x00, 0x43}) + std::string(65, '\x10');
    s += bytes({0xFF, 0xC0, 0x00, 0x0B, 8, 0, 8, 0, 8, 1, 1, 0x11, 0});
    s += bytes({0xFF, 0xC4, 0x00, 0x05, 0, 1, 2});
    return s;
}

const std::string scan = bytes({0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0, 0x12, 0x34, 0xFF, 0xD9});

INSTANTIATE_TEST_SUITE_P(
    JpegValidatorTest, JpegValidatorRows,
    ::testing::Values(
        Row{"JfifStraightToScan", jfifApp0 + scan, true, 20},
        Row{"JfifWithTables", jfifApp0 + tables() + scan, true, 20 + 69 + 13 + 7},
        Row{"ExifWithCommentAndRestartInterval",
            bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'E', 'x', 'i', 'f', 0, 0}) +
                bytes({0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0xFF, 0xDD, 0x00, 0x04, 0, 0}) + scan,
            true, 12 + 6 + 6},
        Row{"ProgressiveFrame", jfifApp0 + bytes({0xFF, 0xC2, 0x00, 0x02}) + scan, true, 24},
        Row{"NoApp0OrApp1First", bytes({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43}) + std::string(65, '\x10') + scan,
            false, 0},
        Row{"App2First", bytes({0xFF, 0xD8, 0xFF, 0xE2, 0x00, 0x02}) + scan, false, 0},
        Row{"ExtendedSequentialFrame", jfifApp0 + bytes({0xFF, 0xC1, 0x00, 0x02}) + scan, false, 0},
        Row{"EndOfImageBeforeScan", jfifApp0 + bytes({0xFF, 0xD9}) + scan, false, 0},
        Row{"ArithmeticConditioning", jfifApp0 + bytes({0xFF, 0xCC, 0x00, 0x02}) + scan, false, 0},
        Row{"SegmentLengthZero", bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00}) + scan, false, 0},
        Row{"SegmentLengthOneLandsOnNoMarker", bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF}) + scan,
            false, 0},
        Row{"LengthMissesTheNextMarker",
            bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x11}) + std::string(14, 'x') + scan, false, 0}),
    [](const ::testing::TestParamInfo<Row>& p) { return std::string(p.param.name); });

TEST(JpegValidatorTest, ChainRunningPastTheEndIsRejected) {
    // The last segment claims more bytes than the evidence holds; what lies beyond reads as 00.
    std::string data = jfifApp0 + bytes({0xFF, 0xFE, 0x40, 0x00}) + std::string(100, 'c');
    Checked c = checkAt(data);
    EXPECT_FALSE(c.valid);
    EXPECT_EQ(c.scanStart, untouched);
}

TEST(JpegValidatorTest, RealFilesReachTheScanPastTheThumbnail) {
    const std::string exif = test::fixture("photo-exif.jpg");
    Checked c = checkAt(exif, 512);
    ASSERT_TRUE(c.valid);
    // The Exif thumbnail's FF D9 (at 712) lies before the start of scan.
    EXPECT_GT(c.scanStart, 512 + 713);
    EXPECT_EQ(exif.substr(static_cast<std::size_t>(c.scanStart - 512), 2), bytes({0xFF, 0xDA}));

    const std::string jfif = test::fixture("photo-jfif.jpg");
    c = checkAt(jfif);
    ASSERT_TRUE(c.valid);
    EXPECT_EQ(jfif.substr(static_cast<std::size_t>(c.scanStart), 2), bytes({0xFF, 0xDA}));
}

TEST(JpegValidatorTest, TruncationAtEveryByteNeverReachesPastTheData) {
    const std::string exif = test::fixture("photo-exif.jpg");
    for (std::size_t cut = 0; cut <= exif.size(); ++cut) {
        test::MemoryImage evidence(exif.substr(0, cut));
        if (const auto scanStart = JpegValidator::check(evidence, 0, 3)) {
            // Accepted only when the FF DA marker itself lies in the data.
            EXPECT_LE(*scanStart + 2, static_cast<std::int64_t>(cut)) << "cut at " << cut;
        }
    }
}

} // namespace
