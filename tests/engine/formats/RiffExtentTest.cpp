#include "formats/RiffExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using morrow::Part;
using morrow::RiffExtent;
using morrow::test::ExtentRow;
using morrow::test::fixture;
using morrow::test::garbage;
using morrow::test::le32;

namespace {

// clip.avi: hdrl, JUNK, movi at 5708 with five Motion-JPEG frames (headers at 5720, 6510, 7300,
// 8092, 8882), idx1 at 9676 (five entries from 9684), 9764 bytes.
const std::string avi = fixture("clip.avi");
// clip-cdxa.dat: 'data' at 36, its three sectors at 44, 2396 and 4748, 7100 bytes.
const std::string dat = fixture("clip-cdxa.dat");
const std::string after = garbage(3000, 9);

std::string put(std::string s, std::size_t at, const std::string& bytes) {
    return s.replace(at, bytes.size(), bytes);
}

std::string aviWith(std::size_t at, const std::string& bytes) {
    return put(avi, at, bytes);
}

// The movie's frames again in an OpenDML form after it.
std::string avix() {
    const std::string frames = avi.substr(5720, 9676 - 5720);
    const std::string movi = "LIST" + le32(static_cast<std::uint32_t>(4 + frames.size())) + "movi" + frames;
    return "RIFF" + le32(static_cast<std::uint32_t>(4 + movi.size())) + "AVIX" + movi;
}

// The JUNK chunk ffmpeg keeps for OpenDML made the 'odml' list it stands for, counting `frames`.
std::string withFrameCount(std::uint32_t frames) {
    return put(aviWith(4416, "LIST"), 4436, le32(frames));
}

std::string deepLists() {
    std::string inner;
    for (int i = 0; i < 64; ++i) {
        inner = "LIST" + le32(static_cast<std::uint32_t>(4 + inner.size())) + "deep" + inner;
    }
    const std::string hdrl = "LIST" + le32(static_cast<std::uint32_t>(4 + 64 + inner.size())) + "hdrl" +
                             "avih" + le32(56) + std::string(56, '\0') + inner;
    return "RIFF" + le32(static_cast<std::uint32_t>(4 + hdrl.size())) + "AVI " + hdrl;
}

class RiffExtentTest : public testing::TestWithParam<ExtentRow> {};

TEST_P(RiffExtentTest, Measures) {
    const ExtentRow& row = GetParam();
    morrow::test::MemoryImage image(garbage(512) + row.data);
    morrow::test::expectExtent(RiffExtent::measure(image, 512), row.found, row.length, row.truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RiffExtentTest,
    testing::Values(
        ExtentRow{"AviWhole", avi + after, true, 9764, false},
        ExtentRow{"AviEndingTheEvidence", avi, true, 9764, false},
        ExtentRow{"MjpegAligned", fixture("clip-mjpeg-aligned.avi") + after, true, 9668, false},
        // Cut in the last frame: at the evidence's end the frames before stand; before other
        // bytes the frame cut short is left out all the same.
        ExtentRow{"CutInAFrameAtTheEnd", avi.substr(0, 9000), true, 8882, true},
        ExtentRow{"CutInAFrameBeforeOtherBytes", avi.substr(0, 9000) + after, true, 8882, true},
        ExtentRow{"CutInAnEarlierFrame", avi.substr(0, 7000) + after, true, 6510, true},
        ExtentRow{"CutInTheIndex", avi.substr(0, 9700) + after, true, 9700, true},
        ExtentRow{"CutInTheFirstFrame", avi.substr(0, 6000) + after, false, 0, false},
        ExtentRow{"CutBeforeTheMovie", avi.substr(0, 5000), false, 0, false},
        ExtentRow{"RiffSizeDoubled", aviWith(4, le32(2 * 9756)) + after, true, 9764, true},
        ExtentRow{"RiffSizeDoubledBeforeAGif", aviWith(4, le32(2 * 9756)) + fixture("image89a.gif") + after,
                  true, 9764, true},
        ExtentRow{"ForeignBytesOverAFrameEnd", aviWith(7000, garbage(400, 4)) + after, true, 6510, true},
        ExtentRow{"ForeignBytesOverAFrameHead", aviWith(7308, garbage(100, 4)) + after, true, 7300, true},
        ExtentRow{"IndexEntryNamingNoChunk", aviWith(9684 + 2 * 16 + 8, le32(12345)), true, 9684 + 2 * 16,
                  true},
        ExtentRow{"StreamTheHeaderHasNot", aviWith(7300, "05dc"), true, 7300, true},
        // A writer stopped before its end: the sizes of the RIFF and its movie list never written.
        ExtentRow{"SizesNeverWritten",
                  put(aviWith(4, le32(0xFFFFFFFF)), 5712, le32(0xFFFFFFFF)).substr(0, 8000), true, 7300,
                  true},
        ExtentRow{"ChunkSizeAllOnes", aviWith(7304, le32(0xFFFFFFFF)) + after, true, 7300, true},
        ExtentRow{"RiffSizeAllOnes", aviWith(4, le32(0xFFFFFFFF)) + after, true, 9764, true},
        ExtentRow{"NoAviHeader", aviWith(24, "avix"), false, 0, false},
        ExtentRow{"DeepLists", deepLists() + after, false, 0, false},
        ExtentRow{"NotAMovie", aviWith(8, "WAVE"), false, 0, false},
        ExtentRow{"OpenDmlForms", avi + avix() + after, true, 9764 + 3980, false},
        ExtentRow{"OpenDmlFormCut", avi + avix().substr(0, 1700), true, 9764 + 24 + (7300 - 5720), true},
        ExtentRow{"OpenDmlCountsMoreFrames", withFrameCount(10) + after, true, 9764, true},
        ExtentRow{"OpenDmlCountsItsFrames", withFrameCount(5) + after, true, 9764, false},
        ExtentRow{"CdxaWhole", dat + after, true, 7100, false},
        ExtentRow{"CdxaCutInASector", dat.substr(0, 5000), true, 4748, true},
        ExtentRow{"CdxaRiffSizeDoubled", put(dat, 4, le32(2 * 7092)) + after, true, 7100, true},
        // Other bytes where a sector's sync should be: the sector before may be one cut short.
        ExtentRow{"CdxaDataSizeDoubled", put(put(dat, 4, le32(2 * 7092)), 40, le32(2 * 7056)) + after, true,
                  4748, true},
        ExtentRow{"CdxaSyncOverwritten", put(dat, 4748, garbage(12, 4)), true, 2396, true},
        ExtentRow{"CdxaNoSoundSector", put(dat, 2396, garbage(12, 4)), false, 0, false}),
    morrow::test::RowName{});

struct PartsRow {
    const char* name;
    std::string data;
    std::uint64_t length;
    std::vector<Part> parts;
};
void PrintTo(const PartsRow& row, std::ostream* os) {
    *os << row.name;
}

class RiffPartsTest : public testing::TestWithParam<PartsRow> {};

// The frames' chunks touch: one part from the first frame's data to the last one's end.
TEST_P(RiffPartsTest, ListsTheStreamChunks) {
    const PartsRow& row = GetParam();
    morrow::test::MemoryImage image(garbage(512) + row.data);
    std::vector<Part> parts;
    RiffExtent::parts(image, 512, row.length, parts);
    EXPECT_EQ(parts, row.parts);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RiffPartsTest,
    testing::Values(PartsRow{"Avi", avi + after, 9764, {{5728, 9675 - 5728}}},
                    PartsRow{"AviCut", avi.substr(0, 9000) + after, 8882, {{5728, 8882 - 5728}}},
                    PartsRow{
                        "OpenDml", avi + avix(), 9764 + 3980, {{5728, 9675 - 5728}, {9764 + 32, 3955 - 8}}},
                    PartsRow{"Cdxa", dat + after, 7100, {{44, 7056}}}),
    morrow::test::RowName{});

} // namespace
