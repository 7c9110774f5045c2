#include "formats/ZipExtent.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using namespace morrow;
using morrow::Part;
using morrow::test::bytes;
using morrow::test::fixture;
using morrow::test::le16;
using morrow::test::le32;

namespace {

class Image {
  public:
    explicit Image(const std::string& data) { reopen(data); }
    void reopen(const std::string& data) { evidence_ = std::make_unique<morrow::test::MemoryImage>(data); }
    ZipExtent::Result measure(std::int64_t H) { return ZipExtent::measure(*evidence_, H); }

  private:
    std::unique_ptr<morrow::test::MemoryImage> evidence_;
};

std::string garbage(std::size_t n, std::uint32_t seed = 3) {
    return morrow::test::ImageBuilder(n).randomFill(seed).data();
}

// A local header with no name or extra field claiming `compressedSize` bytes of data.
std::string localHeader(std::uint32_t compressedSize) {
    return bytes({0x50, 0x4B, 0x03, 0x04}) + std::string(14, '\x01') + le32(compressedSize) +
           std::string(4, '\0') + std::string(2, '\0') + std::string(2, '\0');
}
const std::string centralSig = bytes({0x50, 0x4B, 0x01, 0x02});
const std::string endSig = bytes({0x50, 0x4B, 0x05, 0x06});

struct FixtureRow {
    const char* name;
    const char* file;
    std::uint64_t length;
};

// Rows print as their names in test listings.
void PrintTo(const FixtureRow& row, std::ostream* os) {
    *os << row.name;
}

class ZipExtentFixtureTest : public testing::TestWithParam<FixtureRow> {};

TEST_P(ZipExtentFixtureTest, EndsTwentyTwoBytesAfterTheEndRecord) {
    const std::string zip = fixture(GetParam().file);
    Image img(garbage(1024) + zip + garbage(5000));
    const ZipExtent::Result r = img.measure(1024);
    EXPECT_TRUE(r.extent);
    EXPECT_EQ(r.extent.length, GetParam().length);
    EXPECT_EQ(r.resumeOffset, 1024 + GetParam().length);

    // The exact walk proves the same end by the archive's own directory.
    morrow::test::MemoryImage image(garbage(1024) + zip + garbage(5000));
    const ZipExtent::Result exact = ZipExtent::measure(image, 1024, true);
    ASSERT_TRUE(exact.extent) << exact.extent.whyNot;
    EXPECT_EQ(exact.extent.length, GetParam().length);
    EXPECT_FALSE(exact.extent.truncated);
    EXPECT_NE(exact.directory, 0u);
    EXPECT_EQ(ZipExtent::lengthWithComment(image, 1024, exact), zip.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ZipExtentFixtureTest,
    testing::Values(FixtureRow{"TwoStored", "two-stored.zip", 296},
                    FixtureRow{"CommentLeftOut", "with-comment.zip", 296},
                    FixtureRow{"DataDescriptors", "data-descriptor.zip", 329},
                    FixtureRow{"InnerHeaderAtSector", "aligned.zip", 714},
                    FixtureRow{"DocxDescriptors", "doc.docx", 4348}, FixtureRow{"Odt", "doc.odt", 11412},
                    FixtureRow{"Jar", "app.jar", 357}, FixtureRow{"Epub", "book.epub", 1177}),
    [](const testing::TestParamInfo<FixtureRow>& row) { return std::string(row.param.name); });

// Broke: after the last member written with a data descriptor the walk searched for local
// headers only, stepped over its own central directory and ended at the next archive's end
// record, so one carved file swallowed both archives.
TEST(ZipExtentTest, DataDescriptorArchiveDoesNotSwallowTheNextArchive) {
    Image img(garbage(512) + fixture("data-descriptor.zip") + garbage(695) + fixture("two-stored.zip") +
              garbage(3000));
    const ZipExtent::Result first = img.measure(512);
    EXPECT_TRUE(first.extent);
    EXPECT_EQ(first.extent.length, 329u);
    EXPECT_EQ(first.resumeOffset, 512u + 329u);
    EXPECT_EQ(img.measure(1536).extent.length, 296u);
}

TEST(ZipExtentTest, TruncatedArchiveIsSkippedAfterItsLastLocalHeader) {
    const std::string zip = fixture("two-stored.zip");
    Image img(garbage(512) + zip.substr(0, 200));
    const ZipExtent::Result r = img.measure(512);
    EXPECT_FALSE(r.extent);
    EXPECT_EQ(r.resumeOffset, 512u + 72u); // the second member's header
}

// An archive cut before its end record, then a whole one. The default walk runs on to the second
// archive's end record; the exact walk ends the first, truncated, with its own central directory
// (or, cut before it, where the second archive's members begin) and measures the second whole.
TEST(ZipExtentTest, WithoutEndRecordEndsAtTheDirectoryItWalked) {
    const std::string whole = fixture("with-comment.zip"); // end record at 274
    const std::string second = fixture("data-descriptor.zip");
    for (const std::size_t cut : {274u, 165u}) { // before the end record; before the directory
        const std::string first = fixture("two-stored.zip").substr(0, cut);
        morrow::test::MemoryImage image(garbage(512) + first + second + garbage(3000));
        const ZipExtent::Result exact = ZipExtent::measure(image, 512, true);
        ASSERT_TRUE(exact.extent) << cut;
        EXPECT_EQ(exact.extent.length, cut);
        EXPECT_TRUE(exact.extent.truncated);
        EXPECT_EQ(exact.resumeOffset, 512u + cut);
        EXPECT_EQ(ZipExtent::lengthWithComment(image, 512, exact), cut);
        EXPECT_EQ(ZipExtent::measure(image, 512).extent.length, cut + 329u); // the default walk
        EXPECT_EQ(ZipExtent::measure(image, static_cast<std::int64_t>(512 + cut), true).extent.length, 329u);
    }
    // A whole archive measures as before.
    morrow::test::MemoryImage image(garbage(512) + whole + garbage(3000));
    const ZipExtent::Result r = ZipExtent::measure(image, 512, true);
    EXPECT_EQ(r.extent.length, 296u);
    EXPECT_EQ(ZipExtent::lengthWithComment(image, 512, r), whole.size());
}

TEST(ZipExtentTest, TruncatedAtEveryByteEndsAndNeverMeasuresPastTheEndRecord) {
    const std::string zip = fixture("data-descriptor.zip");
    Image img("");
    for (std::size_t cut = 4; cut <= zip.size(); ++cut) {
        img.reopen(zip.substr(0, cut));
        const ZipExtent::Result r = img.measure(0);
        // The end record's signature lies at 307: from then on the archive is measured whole
        // (the carver clips at the end of the evidence), before it the candidate is skipped.
        if (cut >= 311) {
            EXPECT_TRUE(r.extent) << cut;
            EXPECT_EQ(r.extent.length, 329u) << cut;
        } else {
            EXPECT_FALSE(r.extent) << cut;
        }
    }
}

TEST(ZipExtentTest, HostileSizesEndTheWalk) {
    // A compressed size that reaches past the end of the evidence, then one that wraps nothing.
    Image huge(localHeader(0xFFFFFFFFu) + garbage(2000));
    EXPECT_FALSE(huge.measure(0).extent);

    // A chain of local headers claiming no data and no directory: walked to the end, then skipped.
    std::string chain;
    for (int i = 0; i < 2000; ++i) {
        chain += localHeader(0);
    }
    Image img(chain);
    const ZipExtent::Result r = img.measure(0);
    EXPECT_FALSE(r.extent);
    EXPECT_EQ(r.resumeOffset, chain.size() - 30);
}

// The exact walk on archives that break: each ends, truncated, after its last member whose chain
// is sound, and never takes in the files after it.
struct BreakRow {
    const char* name;
    std::string image;    // the archive at 512
    std::uint64_t length; // 0: rejected
    std::int64_t laterAt; // a whole archive that must still measure whole on its own; 0: none
    std::uint64_t laterLength;
};

void PrintTo(const BreakRow& row, std::ostream* os) {
    *os << row.name;
}

class ZipExtentBreakTest : public testing::TestWithParam<BreakRow> {};

TEST_P(ZipExtentBreakTest, EndsAtTheLastSoundMember) {
    const BreakRow& row = GetParam();
    morrow::test::MemoryImage image(row.image);
    const ZipExtent::Result r = ZipExtent::measure(image, 512, true);
    if (row.length == 0) {
        EXPECT_FALSE(r.extent) << r.extent.length;
        return;
    }
    ASSERT_TRUE(r.extent) << r.extent.whyNot;
    EXPECT_EQ(r.extent.length, row.length);
    EXPECT_TRUE(r.extent.truncated);
    EXPECT_EQ(r.directory, 0u);
    EXPECT_EQ(ZipExtent::lengthWithComment(image, 512, r), row.length);
    if (row.laterAt != 0) {
        EXPECT_LE(r.resumeOffset, static_cast<std::uint64_t>(row.laterAt));
        const ZipExtent::Result later = ZipExtent::measure(image, row.laterAt, true);
        EXPECT_EQ(later.extent.length, row.laterLength);
        EXPECT_FALSE(later.extent.truncated);
    }
}

const std::string stored = fixture("two-stored.zip");         // members at 0 and 72, directory at 165
const std::string described = fixture("data-descriptor.zip"); // directory at 198
const std::string docx = fixture("doc.docx");                 // directory at 3754

// The second member's data overwritten from 100 on.
std::string overwritten(const std::string& zip, std::size_t from) {
    return zip.substr(0, from) + garbage(zip.size() - from, 9);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ZipExtentBreakTest,
    testing::Values(
        BreakRow{"NoDirectoryThenOtherFiles",
                 garbage(512) + stored.substr(0, 165) + garbage(347) + fixture("image.png") +
                     fixture("photo-jfif.jpg") + garbage(600),
                 165, 0, 0},
        BreakRow{"DescriptorsWithoutDirectory",
                 garbage(512) + described.substr(0, 198) + garbage(314) + fixture("page.html") + garbage(900),
                 198, 0, 0},
        BreakRow{"DocxWithoutDirectory", garbage(512) + docx.substr(0, 3754) + garbage(4000), 3754, 0, 0},
        BreakRow{"BrokenThenWholeArchive",
                 garbage(512) + overwritten(stored, 100) + garbage(10000) + fixture("with-comment.zip") +
                     garbage(1000),
                 72, static_cast<std::int64_t>(512 + stored.size() + 10000), 296},
        BreakRow{"BrokenDescriptorThenWholeArchive",
                 garbage(512) + overwritten(described, 60) + garbage(700) + described + garbage(1000), 0,
                 static_cast<std::int64_t>(512 + described.size() + 700), 329},
        BreakRow{"RanIntoAnotherArchive", garbage(512) + stored.substr(0, 165) + described + garbage(1000),
                 165, 512 + 165, 329}),
    [](const testing::TestParamInfo<BreakRow>& row) { return std::string(row.param.name); });

// The CRC-32 checks of members no directory proves share one allowance per evidence file: headers
// whose stored data would run past the evidence (chance "PK 03 04" in other data) spend none of it,
// so a cut archive after thousands of them is still proven member by member.
TEST(ZipExtentTest, ChanceHeadersLeaveTheChecksTheirAllowance) {
    std::string sector(512, '\0');
    sector.replace(0, 30,
                   std::string("PK\3\4", 4) + std::string(14, '\0') + morrow::test::le32(0xF0000000) +
                       morrow::test::le32(0xF0000000) + std::string(4, '\0'));
    std::string image = garbage(512);
    for (int i = 0; i < 4096; ++i) {
        image += sector;
    }
    const auto at = static_cast<std::int64_t>(image.size());
    image += stored.substr(0, 165) + garbage(347) + fixture("image.png") + garbage(600);
    morrow::test::MemoryImage evidence(image);
    for (std::int64_t h = 512; h < at; h += 512) {
        EXPECT_FALSE(ZipExtent::measure(evidence, h, true).extent) << h;
    }
    const ZipExtent::Result cut = ZipExtent::measure(evidence, at, true);
    ASSERT_TRUE(cut.extent) << cut.extent.whyNot;
    EXPECT_EQ(cut.extent.length, 165u);
    EXPECT_TRUE(cut.extent.truncated);
}

// The parts of an archive are its members' data where the directory and local headers agree.
TEST(ZipExtentTest, PartsAreTheMembersData) {
    const std::string zip = fixture("stored-png.zip"); // pad.txt's data at 37, image.png's at 512
    morrow::test::MemoryImage image(garbage(1024) + zip + garbage(2048));
    std::vector<Part> parts;
    ZipExtent::parts(image, 1024, zip.size(), parts);
    EXPECT_EQ(parts, (std::vector<Part>{{37, 436}, {512, 1824}}));
    EXPECT_EQ(zip.substr(512, 1824), fixture("image.png"));

    // Without its end record the archive vouches for nothing.
    parts.clear();
    ZipExtent::parts(image, 1024, zip.size() - 22, parts);
    EXPECT_TRUE(parts.empty());
}

} // namespace
