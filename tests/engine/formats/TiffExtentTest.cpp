#include "formats/TiffExtent.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

using morrow::Extent;
using morrow::TiffExtent;
using morrow::test::fixture;
using morrow::test::le16;
using morrow::test::le32;

namespace {

std::string garbage(std::size_t n, std::uint32_t seed = 3) {
    return morrow::test::ImageBuilder(n).randomFill(seed).data();
}

Extent measure(const std::string& data, std::int64_t H) {
    morrow::test::MemoryImage image(data);
    return TiffExtent::measure(image, H);
}

// A little-endian classic TIFF built in the test: the header, then whatever the test places.
struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value;
};

std::string ifd(const std::vector<Entry>& entries, std::uint32_t next) {
    std::string out = le16(static_cast<std::uint16_t>(entries.size()));
    for (const Entry& e : entries) {
        out += le16(e.tag) + le16(e.type) + le32(e.count) + le32(e.value);
    }
    return out + le32(next);
}

std::string header(std::uint32_t firstIfd) {
    return std::string("II*\0", 4) + le32(firstIfd);
}

std::string at(std::string data, std::size_t offset, const std::string& piece) {
    if (data.size() < offset + piece.size()) {
        data.resize(offset + piece.size(), '\0');
    }
    data.replace(offset, piece.size(), piece);
    return data;
}

struct FixtureRow {
    const char* name;
    const char* file;
    std::size_t offset; // of the TIFF header in the file
    std::uint64_t length;
};

void PrintTo(const FixtureRow& row, std::ostream* os) {
    *os << row.name;
}

class TiffExtentFixtureTest : public testing::TestWithParam<FixtureRow> {};

TEST_P(TiffExtentFixtureTest, EndsAtTheFurthestReferencedByte) {
    const FixtureRow& row = GetParam();
    const Extent e = measure(garbage(1024) + fixture(row.file) + garbage(5000, 4), 1024 + row.offset);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, row.length);
    EXPECT_FALSE(e.truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TiffExtentFixtureTest,
    testing::Values(FixtureRow{"LittleEndian", "image.tif", 0, 4872},
                    FixtureRow{"BigEndian", "image-be.tif", 0, 4872},
                    // Three IFDs chained by their next-IFD offsets; the last one ends the file.
                    FixtureRow{"ThreePages", "pages.tif", 0, 4844},
                    // IFD0 first, then the Exif, GPS and Interoperability IFDs, strips last.
                    FixtureRow{"ExifGpsInteropBigEndian", "exif-be.tif", 0, 2936},
                    FixtureRow{"BigTiff", "bigtiff.tif", 0, 5004},
                    // The TIFF structure inside a JPEG's APP1 Exif segment ends with the thumbnail
                    // that IFD1's JPEGInterchangeFormat (202) and its length (500) point to.
                    FixtureRow{"ExifThumbnailInJpeg", "photo-exif.jpg", 12, 702}),
    [](const testing::TestParamInfo<FixtureRow>& row) { return std::string(row.param.name); });

struct CorruptRow {
    const char* name;
    std::size_t offset; // into image.tif (first IFD at 4616, 15 entries, ends at 4802)
    std::string bytes;
};

void PrintTo(const CorruptRow& row, std::ostream* os) {
    *os << row.name;
}

class TiffExtentRejectTest : public testing::TestWithParam<CorruptRow> {};

TEST_P(TiffExtentRejectTest, IsRejected) {
    const std::string data = at(fixture("image.tif"), GetParam().offset, GetParam().bytes);
    const Extent e = measure(garbage(512) + data + garbage(512, 5), 512);
    EXPECT_FALSE(e) << e.length;
}

std::string mostlyUnknownTypes() {
    std::string entries;
    for (int i = 0; i < 15; ++i) {
        entries += le16(static_cast<std::uint16_t>(256 + i)) + le16(i < 8 ? 99 : 3) + le32(1) + le32(0);
    }
    return entries;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TiffExtentRejectTest,
    testing::Values(CorruptRow{"ByteOrderMark", 0, "IM"}, CorruptRow{"Magic", 2, le16(41)},
                    CorruptRow{"BigTiffOffsetSize", 2, le16(43) + le16(4)},
                    CorruptRow{"FirstIfdInHeader", 4, le32(4)},
                    CorruptRow{"FirstIfdPastEvidence", 4, le32(0x7FFFFFF0)},
                    CorruptRow{"NoEntries", 4616, le16(0)}, CorruptRow{"AbsurdEntryCount", 4616, le16(40000)},
                    CorruptRow{"MostTypesUnknown", 4618, mostlyUnknownTypes()}),
    [](const testing::TestParamInfo<CorruptRow>& row) { return std::string(row.param.name); });

TEST(TiffExtentTest, TruncatedAtEveryByteNeverMeasuresPastTheData) {
    for (const char* file : {"pages.tif", "exif-be.tif", "bigtiff.tif"}) {
        const std::string tif = fixture(file);
        for (std::size_t cut = 0; cut < tif.size(); ++cut) {
            const Extent e = measure(tif.substr(0, cut), 0);
            if (e) {
                EXPECT_LE(e.length, cut) << file << " " << cut;
                EXPECT_TRUE(e.truncated) << file << " " << cut;
            }
        }
    }
    // Sound once the first IFD is whole: pages.tif's ends at 2510, exif-be.tif's at 242.
    EXPECT_TRUE(measure(fixture("pages.tif").substr(0, 2510), 0));
    EXPECT_FALSE(measure(fixture("pages.tif").substr(0, 2509), 0));
    EXPECT_TRUE(measure(fixture("exif-be.tif").substr(0, 242), 0));
}

TEST(TiffExtentTest, StripArraysPairAcrossReadBlocks) {
    // 3000 strips: LONG offsets (1024 to a 4 KiB block) and SHORT byte counts (2048 to a block), so
    // the two arrays refill at different strips. Every strip is one byte at 30000 except strip
    // 2500, which holds the file's last 100 bytes.
    const std::uint32_t n = 3000;
    std::string offsets, counts;
    for (std::uint32_t i = 0; i < n; ++i) {
        offsets += le32(i == 2500 ? 40000 : 30000);
        counts += le16(i == 2500 ? 100 : 1);
    }
    std::string tif = header(8) + ifd({{256, 3, 1, 1}, {273, 4, n, 100}, {279, 3, n, 100 + 4 * n}}, 0);
    tif = at(tif, 100, offsets + counts);
    tif = at(tif, 40099, "x");
    const Extent e = measure(garbage(4096 - 7) + tif + garbage(3000), 4096 - 7);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, 40100u);
    EXPECT_FALSE(e.truncated);
}

TEST(TiffExtentTest, LoopsAndBrokenPointersEndTheWalk) {
    // IFD0 at 8 points to IFD1 at 100 (next) and to an Exif IFD at 200; IFD1 points back to IFD0
    // and its Exif IFD to itself. The walk visits each once.
    const std::string ifd0 = ifd({{256, 3, 1, 1}, {34665, 4, 1, 200}}, 100);
    const std::string ifd1 = ifd({{256, 3, 1, 1}, {273, 4, 1, 300}, {279, 4, 1, 50}}, 8);
    const std::string exif = ifd({{33434, 5, 1, 250}, {34665, 4, 1, 200}}, 0);
    std::string tif = at(at(at(header(8) + ifd0, 100, ifd1), 200, exif), 349, "x");
    Extent e = measure(tif + garbage(700), 0);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, 350u);
    EXPECT_FALSE(e.truncated);

    // The same with the Exif pointer leading into garbage: what was sound is kept, truncated.
    e = measure(at(tif, 8 + 2 + 12 + 8, le32(400)) + garbage(700), 0);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, 350u);
    EXPECT_TRUE(e.truncated);

    // A strip that runs past the end of the evidence after a sound first IFD: to the end, truncated.
    const std::string cut = at(tif, 100 + 2 + 24 + 8, le32(5000));
    e = measure(cut, 0);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, cut.size());
    EXPECT_TRUE(e.truncated);
}

} // namespace
