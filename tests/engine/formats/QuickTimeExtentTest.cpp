#include "formats/QuickTimeExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

using morrow::Extent;
using morrow::QuickTimeExtent;
using morrow::test::be32;
using morrow::test::fixture;

namespace test = morrow::test;

namespace {

std::string garbage(std::size_t n, std::uint32_t seed = 3) {
    return morrow::test::ImageBuilder(n).randomFill(seed).data();
}

Extent measure(const std::string& data, std::int64_t H) {
    morrow::test::MemoryImage image(data);
    return QuickTimeExtent::measure(image, H);
}

std::string box(const char* type, std::size_t payload) {
    return be32(static_cast<std::uint32_t>(8 + payload)) + type + std::string(payload, '\x11');
}
const std::string ftyp = be32(20) + "ftypisom" + be32(0x200) + "mp41";

struct WalkRow {
    const char* name;
    std::string file;     // trailing bytes follow it
    std::uint64_t length; // 0: rejected
    bool truncated;
};

void PrintTo(const WalkRow& row, std::ostream* os) {
    *os << row.name;
}

class QuickTimeExtentWalkTest : public testing::TestWithParam<WalkRow> {};

const std::string trailing = std::string(8, '\0') + garbage(300, 8);

TEST_P(QuickTimeExtentWalkTest, Measures) {
    const Extent e = measure(garbage(512) + GetParam().file + trailing, 512);
    if (GetParam().length == 0) {
        EXPECT_FALSE(e) << e.length;
        return;
    }
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, GetParam().length);
    EXPECT_EQ(e.truncated, GetParam().truncated);
}

const std::string movie = ftyp + box("moov", 40) + box("mdat", 100);

std::string nest(const char* type, const std::string& content) {
    return be32(static_cast<std::uint32_t>(8 + content.size())) + type + content;
}

// A movie whose one track holds two chunks in an mdat of size 0: samples of 10 and 20 bytes, then
// (`second` bytes after the first chunk) one of 40, and 30 bytes of data that no sample covers; the
// file ends after the 40.
std::string movieWithSampleTables(std::uint32_t second = 30) {
    const auto tables = [second](std::uint32_t data) {
        const std::string flags = be32(0);
        return nest(
            "trak",
            nest("mdia",
                 nest("minf", nest("stbl", nest("stco", flags + be32(2) + be32(data) + be32(data + second)) +
                                               nest("stsc", flags + be32(2) + be32(1) + be32(2) + be32(1) +
                                                                be32(2) + be32(1) + be32(1)) +
                                               nest("stsz", flags + be32(0) + be32(3) + be32(10) + be32(20) +
                                                                be32(40))))));
    };
    const std::string probe = nest("moov", tables(0));
    const auto data = static_cast<std::uint32_t>(ftyp.size() + probe.size() + 8);
    return ftyp + nest("moov", tables(data)) + be32(0) + "mdat" + std::string(100, 'm');
}

// The sample fixture written index first (ftyp moov free mdat) with its mdat's size set to 0.
std::string fastStartSizeZero() {
    std::string clip = fixture("clip-faststart.mp4");
    clip.replace(855, 4, be32(0));
    return clip;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QuickTimeExtentWalkTest,
    testing::Values(
        WalkRow{"MovieLast", ftyp + box("mdat", 100) + box("moov", 40), 20 + 108 + 48, false},
        WalkRow{"LargeSize",
                ftyp + box("moov", 40) + be32(1) + "mdat" + std::string(4, '\0') + be32(16 + 70) +
                    std::string(70, 'm'),
                20 + 48 + 86, false},
        // Size 0: the box runs to the end of the file, which is the end of the evidence.
        WalkRow{"SizeZeroRunsToTheEnd", ftyp + box("moov", 40) + be32(0) + "mdat" + std::string(50, 'm'),
                20 + 48 + 58 + trailing.size(), false},
        WalkRow{"HeifMeta", be32(24) + "ftypheic" + be32(0) + "mif1heic" + box("meta", 60) + box("mdat", 30),
                24 + 68 + 38, false},
        // The media data alone is no movie.
        WalkRow{"NoMovieBox", ftyp + box("free", 4) + box("mdat", 100), 0, false},
        WalkRow{"TypeNotPrintable",
                movie + be32(16) +
                    "\x01"
                    "abc" +
                    std::string(8, 'x'),
                movie.size(), false},
        WalkRow{"SizeBelowEight", movie + be32(7) + "free", movie.size(), false},
        // Text after the file reads as a box "text" of 0x536F6D65 bytes, far past the evidence.
        WalkRow{"TextAfterTheFile", movie + "Some text follows the movie.", movie.size(), false},
        WalkRow{"SizeZeroOfUnknownType", movie + be32(0) + "abcd" + std::string(50, 'm'), movie.size(),
                false},
        // After the movie box only top-level boxes follow: random bytes that read as a box that fits
        // are not the file's.
        WalkRow{"UnknownBoxAfterTheMovie", movie + be32(40) + "k3$Q" + garbage(32, 5), movie.size(), false},
        WalkRow{"UnknownBoxAfterMovieLast",
                ftyp + box("mdat", 100) + box("moov", 40) + be32(16) + "zq7r" + garbage(8, 6), 20 + 108 + 48,
                false},
        WalkRow{"TopLevelBoxAfterTheMovie", movie + box("uuid", 20), movie.size() + 28, false},
        // Size 0 after a movie box with sample tables: the data ends with its last sample.
        WalkRow{"SizeZeroEndsAtTheLastSample", movieWithSampleTables(), movieWithSampleTables().size() - 30,
                false},
        WalkRow{"SizeZeroFastStartClip", fastStartSizeZero(), fastStartSizeZero().size(), false},
        WalkRow{"FtypTooShort", be32(12) + "ftypisom" + be32(0) + box("moov", 8), 0, false},
        WalkRow{"FtypPartialBrand", be32(22) + "ftypisom" + be32(0) + "mp41xx" + box("moov", 8), 0, false},
        WalkRow{"FtypAbsurd", be32(8192) + "ftypisom" + be32(0) + box("moov", 8), 0, false},
        WalkRow{"BrandNotPrintable", be32(16) + "ftyp\x01som" + be32(0) + box("moov", 8), 0, false},
        WalkRow{"NothingAfterFtyp", ftyp, 0, false}),
    [](const testing::TestParamInfo<WalkRow>& row) { return std::string(row.param.name); });

// Real movies whole, then with their media data overwritten from a point on (the movie box
// standing whole before it, or after it as where it was) or cut there by the end of the evidence:
// each ends at the sample whose bytes first fail (the NAL chains of an AVC movie are read by their
// length prefixes; the others' samples by their start codes), at or less than a sector before the
// break, never past it.
struct MediaRow {
    const char* name;
    const char* file;
    std::size_t at;   // the break; 0: whole
    bool overwritten; // else cut by the end of the evidence
    std::uint64_t length;
};

void PrintTo(const MediaRow& row, std::ostream* os) {
    *os << row.name;
}

class QuickTimeExtentMediaTest : public testing::TestWithParam<MediaRow> {};

TEST_P(QuickTimeExtentMediaTest, EndsAtTheFirstSampleThatFails) {
    const MediaRow& row = GetParam();
    const std::string clip = fixture(row.file);
    std::string data = clip + test::randomBytes(300, 9);
    if (row.at != 0) {
        data = clip.substr(0, row.at);
        if (row.overwritten) {
            std::string rest = test::randomBytes(clip.size() - row.at, 7);
            // The movie box after the media data stays where it was.
            const std::size_t movieAt = clip.rfind("moov") - 4;
            if (movieAt > row.at) {
                rest.replace(movieAt - row.at, std::string::npos, clip.substr(movieAt));
            }
            data += rest;
        }
    }
    const Extent e = measure(data, 0);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, row.length);
    EXPECT_EQ(e.truncated, row.at != 0);
}

// clip-avc.mp4: ftyp(32) moov(899) free(8) mdat(4722); its first sample (947..2422) ends with a
// slice from 1967 on, the next are 41, 44, 66 ... bytes; at 2923 a key frame of 863 bytes whose
// second slice's length prefix lies past 3072.
INSTANTIATE_TEST_SUITE_P(
    Rows, QuickTimeExtentMediaTest,
    testing::Values(MediaRow{"Mp4", "clip.mp4", 0, false, 1224}, MediaRow{"Mov", "clip.mov", 0, false, 1179},
                    MediaRow{"FastStart", "clip-faststart.mp4", 0, false, 1224},
                    MediaRow{"ThreeGp", "clip.3gp", 0, false, 2749},
                    MediaRow{"Avc", "clip-avc.mp4", 0, false, 5661},
                    // Inside the first sample: nothing of the media data is proven.
                    MediaRow{"AvcFirstSample", "clip-avc.mp4", 1024, true, 947},
                    MediaRow{"AvcLastSliceRunsOver", "clip-avc.mp4", 2048, true, 2048},
                    MediaRow{"AvcKeyFrame", "clip-avc.mp4", 3072, true, 2923},
                    MediaRow{"AvcLate", "clip-avc.mp4", 5120, true, 5120},
                    // Cut by the end of the evidence: as far as it goes.
                    MediaRow{"AvcCut", "clip-avc.mp4", 3072, false, 3072},
                    // The movie box last, after the media data overwritten from the second frame on.
                    MediaRow{"MovieLastStartCodes", "clip.3gp", 1873, true, 1873}),
    [](const testing::TestParamInfo<MediaRow>& row) { return std::string(row.param.name); });

// The parts of a movie: its chunks, each over its samples, those next to each other as one,
// within the length measured.
TEST(QuickTimeExtentTest, PartsAreTheChunks) {
    struct Case {
        std::uint32_t second;            // the second chunk's offset past the first's
        std::uint64_t length;            // measured
        std::vector<morrow::Part> parts; // from the first chunk's offset
    };
    for (const Case& c : {Case{30, 1000, {{0, 70}}}, Case{50, 1000, {{0, 30}, {50, 40}}},
                          Case{50, 60, {{0, 30}, {50, 10}}}, Case{50, 40, {{0, 30}}}}) {
        const std::string file = movieWithSampleTables(c.second);
        const std::uint64_t data = file.find("mdat") + 4;
        std::vector<morrow::Part> parts;
        test::MemoryImage image(file + std::string(200, 'm'));
        QuickTimeExtent::parts(image, 0, data + c.length, parts);
        std::vector<morrow::Part> expected;
        for (const morrow::Part& p : c.parts) {
            expected.push_back({data + p.offset, p.length});
        }
        EXPECT_EQ(parts, expected) << c.second << " " << c.length;
    }
    std::vector<morrow::Part> parts;
    test::MemoryImage avc(fixture("clip-avc.mp4"));
    QuickTimeExtent::parts(avc, 0, 5661, parts);
    EXPECT_EQ(parts, (std::vector<morrow::Part>{{947, 5661 - 947}}));
}

// A few bytes of tables that claim four million samples of one byte each (a fuzzed input once
// built them all, hundreds of MB): a file has room for no more samples than it has bytes, so these
// tables prove nothing, and the walk's extent stands.
TEST(QuickTimeExtentTest, TablesClaimingMoreSamplesThanBytes) {
    const auto movieBox = [](std::uint32_t data) {
        const std::string flags = be32(0);
        return nest(
            "moov",
            nest(
                "trak",
                nest("mdia", nest("minf", nest("stbl", nest("stco", flags + be32(1) + be32(data)) +
                                                           nest("stsc", flags + be32(1) + be32(1) +
                                                                            be32(1 << 22) + be32(1)) +
                                                           nest("stsz", flags + be32(1) + be32(1 << 22)))))));
    };
    const auto data = static_cast<std::uint32_t>(ftyp.size() + movieBox(0).size() + 8);
    const std::string file = ftyp + movieBox(data) + box("mdat", 64);
    const Extent e = measure(file + garbage(100), 0);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, file.size());
    EXPECT_FALSE(e.truncated);
}

TEST(QuickTimeExtentTest, BoxPastTheEvidenceGoesToItsEnd) {
    const std::string file = movie + be32(100000) + "mdat" + std::string(200, 'm');
    const Extent e = measure(garbage(512) + file, 512);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, file.size());
    EXPECT_TRUE(e.truncated);
}

TEST(QuickTimeExtentTest, TruncatedAtEveryByteNeverMeasuresPastTheData) {
    const std::string clip = fixture("clip-isom.mp4"); // ftyp(28) free(8) mdat(369) moov(819)
    // Its movie box comes last: cut anywhere, it has none whole and is no movie.
    for (std::size_t cut = 0; cut < clip.size(); ++cut) {
        EXPECT_FALSE(measure(clip.substr(0, cut), 0)) << cut;
    }
}

TEST(QuickTimeExtentTest, BoxHeadersStraddlingReadBlocks) {
    // The moov header straddles the evidence offset 8192, the free header 12288 (4 KiB steps).
    const std::size_t H = 8192 - 20 - 3;
    const std::string file = ftyp + box("moov", 4087) + box("free", 4000) + box("mdat", 300);
    const Extent e = measure(garbage(H) + file + garbage(2000), static_cast<std::int64_t>(H));
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, file.size());
    EXPECT_FALSE(e.truncated);
}

} // namespace
