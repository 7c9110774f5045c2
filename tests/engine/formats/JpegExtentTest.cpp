#include "formats/JpegExtent.h"
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
    return JpegExtent::measure(image, H);
}

// The pieces of a small baseline file: SOI, JFIF APP0, DQT, SOF0 (8x8, one component), DHT.
const std::string soi = bytes({0xFF, 0xD8});
const std::string app0 = bytes({0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
const std::string dqt = bytes({0xFF, 0xDB, 0x00, 0x43, 0x00}) + std::string(64, '\x01');
std::string sof(int code = 0xC0, int precision = 8, int width = 8, int components = 1, int sampling = 0x11) {
    std::string s =
        bytes({0xFF, code, 0x00, 8 + 3 * components, precision, 0, 8, width >> 8, width & 0xFF, components});
    for (int i = 0; i < components; ++i) {
        s += bytes({i + 1, sampling, 0});
    }
    return s;
}
const std::string dht = bytes({0xFF, 0xC4, 0x00, 0x05, 0x00, 0x00, 0x00});
const std::string sos = bytes({0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
const std::string eoi = bytes({0xFF, 0xD9});
// A progressive frame: its scans are walked by their markers (a baseline one's are decoded).
std::string head() {
    return soi + app0 + dqt + sof(0xC2) + dht;
}

using Row = test::ExtentRow;

class JpegExtentRowsTest : public testing::TestWithParam<Row> {};

TEST_P(JpegExtentRowsTest, WalksTheMarkers) {
    const Row& row = GetParam();
    const Extent e = measure(row.data);
    test::expectExtent(e, row.found, row.length, row.truncated);
}

const std::string scanData = bytes({0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56, 0xFF, 0xFF, 0x00, 0x78});

INSTANTIATE_TEST_SUITE_P(
    Rows, JpegExtentRowsTest,
    testing::Values(Row{"StuffedBytesRestartsAndFill",
                        head() + sos + scanData + bytes({0xFF, 0xFF, 0xFF}) + eoi + garbage(9), true,
                        head().size() + sos.size() + scanData.size() + 5, false},
                    // Without a frame header and a scan there is no picture.
                    Row{"TablesOnly", soi + dqt + dht + eoi + garbage(9), false, 0, false},
                    Row{"TwoScansWithTablesBetween", head() + sos + "ab" + dht + sos + "cd" + eoi, true,
                        head().size() + 2 * sos.size() + 4 + dht.size() + 2, false},
                    Row{"StartOfImageInTheScan", head() + sos + "abc" + soi + app0, true,
                        head().size() + sos.size() + 3, true},
                    Row{"NoMarkerAfterASegment", head() + sos + "ab" + dht + "xyz" + eoi, true,
                        head().size() + sos.size() + 2 + dht.size(), true},
                    Row{"NoMarkerBeforeAnyScan", head() + "xyz" + eoi, false, 0, false},
                    Row{"SegmentRunsOutOfTheEvidence", soi + app0 + bytes({0xFF, 0xFE, 0x01, 0x00}) + "short",
                        false, 0, false},
                    Row{"ScanDataRunsOutOfTheEvidence", head() + sos + "abcdef", true,
                        head().size() + sos.size() + 6, true},
                    Row{"ImpossibleFrameAfterAScan", head() + sos + "ab" + sof(0xC1, 8, 0) + eoi, true,
                        head().size() + sos.size() + 2, true},
                    Row{"ImpossibleScanHeader",
                        head() + bytes({0xFF, 0xDA, 0x00, 0x08, 0x05, 0, 0, 0, 0x3F, 0}) + eoi, false, 0,
                        false},
                    Row{"NoSoi", bytes({0xFF, 0xD9, 0xFF}) + app0 + eoi, false, 0, false},
                    Row{"FirstMarkerIsNoSegment", soi + bytes({0xFF, 0x01}) + app0 + eoi, false, 0, false},
                    Row{"EndRightAfterStart", soi + eoi + garbage(9), false, 0, false},
                    Row{"FirstSegmentPastTheEvidence", soi + bytes({0xFF, 0xE1, 0x40, 0x00}) + garbage(100),
                        false, 0, false},
                    Row{"ScanBeforeAnyFrame", soi + app0 + dqt + dht + sos + "ab" + eoi, false, 0, false},
                    Row{"ZeroWidth", soi + app0 + sof(0xC0, 8, 0) + dht + sos + eoi, false, 0, false},
                    Row{"FiveComponents", soi + app0 + sof(0xC0, 8, 8, 5) + dht + sos + eoi, false, 0, false},
                    Row{"FrameLengthDisagrees",
                        soi + app0 + bytes({0xFF, 0xC0, 0, 14, 8, 0, 8, 0, 8, 1, 1, 0x11, 0, 0}) + eoi, false,
                        0, false}),
    test::RowName());

// A baseline file whose data breaks at a sector boundary (the file placed at one), the bytes
// after it another's: measured to that boundary or less than a sector before it, never past it,
// and not on to the EOI of a JPEG that follows. Past JpegExtent::decodedBytes of data the marker
// walk's signs (a marker that is no EOI, a sector of zeros) send the decode on to the break.
struct BreakRow {
    const char* name;
    const char* file;
    std::size_t at; // the break
    std::string after;
};

void PrintTo(const BreakRow& row, std::ostream* os) {
    *os << row.name;
}

class JpegExtentBreakTest : public testing::TestWithParam<BreakRow> {};

TEST_P(JpegExtentBreakTest, EndsAtTheBreak) {
    const BreakRow& row = GetParam();
    const std::string jpeg = fixture(row.file);
    const Extent whole = measure(jpeg + garbage(700));
    ASSERT_TRUE(whole) << whole.whyNot;
    EXPECT_EQ(whole.length, jpeg.size());
    EXPECT_FALSE(whole.truncated);

    const Extent e = measure(jpeg.substr(0, row.at) + row.after);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_TRUE(e.truncated);
    EXPECT_LE(e.length, row.at);
    EXPECT_GT(e.length + 512, row.at);
}

// Another picture's data from a point on to its EOI.
std::string tailOf(const char* file, std::size_t bytes) {
    const std::string jpeg = fixture(file);
    return jpeg.substr(jpeg.size() - bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JpegExtentBreakTest,
    testing::Values(
        BreakRow{"RandomBytes", "photo-exif.jpg", 2048, test::randomBytes(4096, 1)},
        BreakRow{"RandomBytesEarly", "photo-jfif.jpg", 512, test::randomBytes(4096, 2)},
        BreakRow{"Zeros", "photo-exif.jpg", 3072, std::string(4096, '\0')},
        BreakRow{"Text", "photo-exif.jpg", 1536, std::string(2048, 'x') + "<html></html>"},
        BreakRow{"GapThenAnothersTail", "photo-exif.jpg", 2048,
                 test::randomBytes(1536, 3) + tailOf("photo-exif.jpg", 1500)},
        BreakRow{"AnothersTailRightAway", "photo-exif.jpg", 2560, tailOf("photo-large.jpg", 20000)},
        BreakRow{"WithRestartsRandomBytes", "photo-large.jpg", 65536, test::randomBytes(8192, 4)},
        BreakRow{"PastTheDecodedBytesRandom", "photo-large.jpg", 600 * 1024, test::randomBytes(8192, 5)},
        BreakRow{"PastTheDecodedBytesZeros", "photo-large.jpg", 700 * 1024,
                 std::string(4096, '\0') + tailOf("photo-exif.jpg", 1500)},
        BreakRow{"PastTheDecodedBytesGapThenTail", "photo-large.jpg", 900 * 1024,
                 test::randomBytes(2048, 6) + tailOf("photo-large.jpg", 30000)}),
    test::RowName());

// A cut file is never measured past its cut, and is found whole only when nothing is missing.
TEST(JpegExtentTest, CutAnywhereNeverReachesPastTheCut) {
    struct Cut {
        const char* file;
        std::size_t step;
    };
    for (const Cut c :
         {Cut{"photo-exif.jpg", 1}, Cut{"photo-progressive.jpg", 1}, Cut{"photo-large.jpg", 997}}) {
        const std::string jpeg = fixture(c.file);
        for (std::size_t cut = 1; cut < jpeg.size(); cut += c.step) {
            const Extent e = measure(jpeg.substr(0, cut));
            if (e) {
                EXPECT_TRUE(e.truncated) << c.file << " cut at " << cut;
                EXPECT_LE(e.length, cut) << c.file << " cut at " << cut;
                EXPECT_GE(e.length, 4u) << c.file << " cut at " << cut;
            }
        }
    }
    // photo-exif.jpg cut after its APP1 segment (which ends at 714), before its frame header and
    // scan, is no picture.
    EXPECT_FALSE(measure(fixture("photo-exif.jpg").substr(0, 800)));
}

// A marker whose FF is the last byte of a scan block and whose code is the first of the next,
// and fill bytes running across the block end: found in either case.
TEST(JpegExtentTest, MarkerAcrossAScanBlockBoundary) {
    const std::string before = head() + sos;
    for (std::size_t fill : {std::size_t{1}, std::size_t{3}}) {
        for (const std::string& data :
             {std::string(JpegExtent::blockSize - fill, '\x11'),
              std::string(JpegExtent::blockSize - fill - 2, '\x11') + bytes({0xFF, 0x00})}) {
            const std::string jpeg = before + data + std::string(fill, '\xFF') + eoi;
            const Extent e = measure(jpeg + garbage(100));
            ASSERT_TRUE(e) << e.whyNot;
            EXPECT_EQ(e.length, jpeg.size()) << fill;
            EXPECT_FALSE(e.truncated);
        }
    }
    // A stuffed FF 00 split by the block end is data, not a marker.
    const std::string jpeg =
        before + std::string(JpegExtent::blockSize - 1, '\x11') + bytes({0xFF, 0x00, 0x22}) + eoi;
    const Extent e = measure(jpeg);
    ASSERT_TRUE(e);
    EXPECT_EQ(e.length, jpeg.size());
}

} // namespace
