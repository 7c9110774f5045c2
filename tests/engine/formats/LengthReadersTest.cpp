#include "formats/LengthReaders.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

using namespace morrow;
using morrow::test::bytes;
using morrow::test::fixture;
using morrow::test::le32;

namespace {

// What the last read found: a length, and the container code (1 AVI, 2 DAT, 3 mp4, 4 mov, 5 3gp,
// 0 none); all zero when it found nothing.
struct Found {
    std::uint64_t pdfLength = 0;
    std::uint64_t videoLength = 0;
    int container = 0;
};

// A reader's evidence in memory, and the readers run over it.
class OpenImage {
  public:
    explicit OpenImage(const std::string& data) { reopen(data); }
    // Replaces the evidence with `data` (the truncation tests go through thousands of them).
    void reopen(const std::string& data) { evidence_ = std::make_unique<morrow::test::MemoryImage>(data); }

    bool checkBitmap(std::int64_t H) { return LengthReaders::checkBitmap(*evidence_, H); }
    bool readPdfLinearized(std::int64_t H) {
        const auto length = LengthReaders::readPdfLinearized(*evidence_, H);
        found = Found{};
        found.pdfLength = length.value_or(0);
        return length.has_value();
    }
    bool readAsfFileSize(std::int64_t H) {
        const auto length = LengthReaders::readAsfFileSize(*evidence_, H);
        found = Found{};
        found.videoLength = length.value_or(0);
        return length.has_value();
    }
    bool readVideoLength(std::int64_t H, bool quickTime) {
        const auto video = LengthReaders::readVideoLength(*evidence_, H, quickTime);
        found = Found{};
        found.videoLength = video ? video->length : 0;
        found.container = video ? static_cast<int>(video->container) : 0;
        return video.has_value();
    }
    Found found;

  private:
    std::unique_ptr<morrow::test::MemoryImage> evidence_;
};

struct RowName {
    template <class Row> std::string operator()(const testing::TestParamInfo<Row>& row) const {
        return row.param.name;
    }
};

// A big-endian 32-bit field; named apart from morrow::be32, which reads one.
std::string be(std::uint32_t v) {
    return morrow::test::be32(v);
}

std::string garbage(std::size_t n) {
    return morrow::test::ImageBuilder(n).randomFill(7).data();
}

std::string box(const std::string& type, std::uint32_t size) {
    std::string b = be(size) + type;
    b.resize(size < 8 ? 8 : size, '\0');
    return b;
}

} // namespace

// ---------------------------------------------------------------- BMP

struct BitmapRow {
    const char* name;
    int infoHeaderByte;
    bool accepted;
};

// Rows print as their names in test listings.
void PrintTo(const BitmapRow& row, std::ostream* os) {
    *os << row.name;
}

class LengthReadersBitmapTest : public testing::TestWithParam<BitmapRow> {};

TEST_P(LengthReadersBitmapTest, AcceptsOnlyKnownInfoHeaderSizes) {
    std::string bmp = fixture("bitmap40.bmp");
    bmp[14] = static_cast<char>(GetParam().infoHeaderByte);
    OpenImage ev(garbage(512) + bmp);
    EXPECT_EQ(ev.checkBitmap(512), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(Rows, LengthReadersBitmapTest,
                         testing::Values(BitmapRow{"Windows40", 0x28, true},
                                         BitmapRow{"Os2Core12", 0x0C, true}, BitmapRow{"F0", 0xF0, true},
                                         BitmapRow{"V4Header108", 0x6C, false},
                                         BitmapRow{"V5Header124", 0x7C, false},
                                         BitmapRow{"Zero", 0x00, false}),
                         RowName());

TEST(LengthReadersTest, BitmapFixturesAcceptedAndTruncationRefused) {
    OpenImage ev12(garbage(512) + fixture("bitmap12.bmp"));
    EXPECT_TRUE(ev12.checkBitmap(512));
    // Cut before the info header: the byte reads as zero.
    OpenImage cut(garbage(512) + fixture("bitmap40.bmp").substr(0, 14));
    EXPECT_FALSE(cut.checkBitmap(512));
}

// ---------------------------------------------------------------- PDF

TEST(LengthReadersTest, LinearizedPdfGivesItsStatedLength) {
    OpenImage ev(garbage(1024) + fixture("linearized.pdf") + garbage(100));
    ASSERT_TRUE(ev.readPdfLinearized(1024));
    EXPECT_EQ(ev.found.pdfLength, 13197u);

    OpenImage plain(garbage(1024) + fixture("plain.pdf"));
    EXPECT_FALSE(plain.readPdfLinearized(1024));
}

struct PdfRow {
    const char* name;
    std::string head; // the file's first bytes, from %PDF
    bool accepted;
    std::uint64_t length;
};

// Rows print as their names in test listings.
void PrintTo(const PdfRow& row, std::ostream* os) {
    *os << row.name;
}

class LengthReadersPdfTest : public testing::TestWithParam<PdfRow> {};

TEST_P(LengthReadersPdfTest, ReadsTheLengthKey) {
    OpenImage ev(garbage(512) + GetParam().head + "\nendobj\n" + garbage(600));
    EXPECT_EQ(ev.readPdfLinearized(512), GetParam().accepted);
    if (GetParam().accepted) {
        EXPECT_EQ(ev.found.pdfLength, GetParam().length);
    }
}

const std::string pdfStart = "%PDF-1.6\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< ";

INSTANTIATE_TEST_SUITE_P(
    Rows, LengthReadersPdfTest,
    testing::Values(PdfRow{"Plain", pdfStart + "/Linearized 1 /L 4823 /H [ 600 140 ] /N 1 >>", true, 4823},
                    PdfRow{"DigitsThenLetter", pdfStart + "/Linearized 1 /L 482x /N 1 >>", true, 482},
                    PdfRow{"LineBreakAfterKey", pdfStart + "/Linearized 1 /L\n4823 >>", false, 0},
                    PdfRow{"NoDigits", pdfStart + "/Linearized 1 /L /N 1 >>", true, 0},
                    // A hostile run of digits: only the first 16 are taken, never a negative value.
                    PdfRow{"TwentyDigits", pdfStart + "/Linearized 1 /L 98765432109876543210 >>", true,
                           9876543210987654u},
                    PdfRow{"KeywordAt502", std::string(502, ' ') + "Linearized /L 77 >>", true, 77},
                    PdfRow{"KeywordAt503", std::string(503, ' ') + "Linearized /L 77 >>", false, 0}),
    RowName());

TEST(LengthReadersTest, PdfTruncatedAtEveryByteNeverOverreads) {
    const std::string head = pdfStart + "/Linearized 1 /L 4823 /H [ 600 140 ] >>";
    OpenImage ev("");
    for (std::size_t cut = 0; cut <= head.size(); ++cut) {
        ev.reopen(head.substr(0, cut));
        if (ev.readPdfLinearized(0)) {
            // Only a prefix of the digits can have been read.
            EXPECT_LE(ev.found.pdfLength, 4823u) << "cut " << cut;
        }
    }
}

// ---------------------------------------------------------------- ASF

TEST(LengthReadersTest, AsfFileSizeFromFileProperties) {
    OpenImage ev(garbage(2048) + fixture("clip.wmv") + garbage(100));
    ASSERT_TRUE(ev.readAsfFileSize(2048));
    EXPECT_EQ(ev.found.videoLength, 3825u);

    std::string broken = fixture("clip.wmv");
    broken[30 + 5] = 0; // the identifier's sixth byte
    OpenImage bad(garbage(2048) + broken);
    EXPECT_FALSE(bad.readAsfFileSize(2048));
    EXPECT_EQ(bad.found.videoLength, 0u);
}

TEST(LengthReadersTest, AsfIdentifierMustBeginWithin514BytesOfTheHeader) {
    const std::string id = bytes({0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11});
    auto image = [&](std::size_t at, std::uint64_t size) {
        std::string d = bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11});
        d += garbage(at - d.size()) + id + garbage(32);
        d += le32(static_cast<std::uint32_t>(size)) + le32(static_cast<std::uint32_t>(size >> 32));
        return d + garbage(64);
    };
    OpenImage last(image(514, 1ull << 63));
    ASSERT_TRUE(last.readAsfFileSize(0));
    EXPECT_EQ(last.found.videoLength, 1ull << 63); // taken as written: the carver decides
    OpenImage late(image(515, 100));
    EXPECT_FALSE(late.readAsfFileSize(0));
}

// ---------------------------------------------------------------- RIFF

struct VideoRow {
    const char* name;
    const char* file;
    bool quickTime;
    bool accepted;
    std::uint64_t length;
    int container;
};

// Rows print as their names in test listings.
void PrintTo(const VideoRow& row, std::ostream* os) {
    *os << row.name;
}

class LengthReadersVideoFixtureTest : public testing::TestWithParam<VideoRow> {};

TEST_P(LengthReadersVideoFixtureTest, MeasuresRealFiles) {
    const VideoRow& row = GetParam();
    OpenImage ev(garbage(1536) + fixture(row.file) + std::string(64, '\0') + garbage(300));
    EXPECT_EQ(ev.readVideoLength(1536, row.quickTime), row.accepted);
    EXPECT_EQ(ev.found.videoLength, row.length);
    EXPECT_EQ(ev.found.container, row.container);
}

INSTANTIATE_TEST_SUITE_P(Rows, LengthReadersVideoFixtureTest,
                         testing::Values(VideoRow{"Avi", "clip.avi", 0, true, 9764, 1},
                                         VideoRow{"Cdxa", "clip-cdxa.dat", 0, true, 7100, 2},
                                         VideoRow{"Mp4Brandmp42", "clip.mp4", 1, true, 1224, 3},
                                         VideoRow{"MovBrandmoov", "clip-moov.mov", 1, true, 1179, 4},
                                         VideoRow{"ThreeGp", "clip.3gp", 1, true, 2749, 5},
                                         VideoRow{"Mp4Brandisom", "clip-isom.mp4", 1, false, 0, 0},
                                         VideoRow{"MovBrandqt", "clip.mov", 1, false, 0, 0},
                                         VideoRow{"AviInQuickTimePass", "clip.avi", 1, false, 0, 0},
                                         VideoRow{"Mp4InRiffPass", "clip.mp4", 0, false, 0, 0}),
                         RowName());

TEST(LengthReadersTest, RiffSizeIsSummedIn64Bits) {
    OpenImage ev("RIFF" + le32(0xFFFFFFFFu) + "AVI LIST" + garbage(100));
    ASSERT_TRUE(ev.readVideoLength(0, 0));
    EXPECT_EQ(ev.found.videoLength, 0x100000007ull);

    OpenImage wave("RIFF" + le32(1000) + "WAVEfmt " + garbage(100));
    EXPECT_FALSE(wave.readVideoLength(0, 0));
    OpenImage lower("RIFF" + le32(1000) + "avi " + garbage(100));
    EXPECT_FALSE(lower.readVideoLength(0, 0));
}

TEST(LengthReadersTest, VideoTruncatedAtEveryByteNeverOverreads) {
    for (const char* name : {"clip.avi", "clip.mp4"}) {
        const std::string file = fixture(name);
        const std::int32_t pass = std::string(name) == "clip.avi" ? 0 : 1;
        OpenImage ev("");
        // The RIFF reader looks at the first 12 bytes only; the box walk at the whole file.
        const std::size_t last = pass == 0 ? 64 : file.size();
        for (std::size_t cut = 0; cut <= last; ++cut) {
            ev.reopen(file.substr(0, cut));
            if (ev.readVideoLength(0, pass)) {
                // Box and chunk sizes are claims: never more than the whole file claims.
                EXPECT_LE(ev.found.videoLength, file.size()) << name << " cut " << cut;
            }
        }
    }
}

// ---------------------------------------------------------------- QuickTime

struct BoxRow {
    const char* name;
    std::string data;
    bool accepted;
    std::uint64_t length;
    int container;
};

// Rows print as their names in test listings.
void PrintTo(const BoxRow& row, std::ostream* os) {
    *os << row.name;
}

class LengthReadersBoxTest : public testing::TestWithParam<BoxRow> {};

TEST_P(LengthReadersBoxTest, WalksTopLevelBoxes) {
    const BoxRow& row = GetParam();
    OpenImage ev(garbage(512) + row.data);
    EXPECT_EQ(ev.readVideoLength(512, 1), row.accepted);
    EXPECT_EQ(ev.found.videoLength, row.length);
    EXPECT_EQ(ev.found.container, row.container);
}

std::string ftyp(const std::string& brand) {
    return be(24) + "ftyp" + brand + be(0) + brand + "isom";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LengthReadersBoxTest,
    testing::Values(
        BoxRow{"MoovMdatThenZeros",
               ftyp("mp42") + box("moov", 1000) + box("mdat", 5000) + std::string(16, '\0'), true, 6024, 3},
        // The walk stops before a box whose type is not listed; what follows it is not counted.
        BoxRow{"UuidStopsTheWalk", ftyp("mp42") + box("moov", 1000) + box("uuid", 100) + box("mdat", 5000),
               true, 1024, 3},
        BoxRow{"Brand3gp5", ftyp("3gp5") + box("mdat", 100) + std::string(8, '\0'), true, 124, 5},
        BoxRow{"BrandMoov", ftyp("moov") + box("mdat", 100) + std::string(8, '\0'), true, 124, 4},
        BoxRow{"BrandIsom", ftyp("isom") + box("mdat", 100), false, 0, 0},
        BoxRow{"BrandQt", ftyp("qt  ") + box("mdat", 100), false, 0, 0},
        BoxRow{"BrandM4v", ftyp("M4V ") + box("mdat", 100), false, 0, 0},
        // A 64-bit size mark gets no special treatment: the walk moves one byte and stops.
        BoxRow{"FtypSizeOne", be(1) + "ftypmp42" + be(0) + "mp42", true, 1, 3},
        BoxRow{"FtypSizeZero", be(0) + "ftypmp42" + be(0) + "mp42", true, 0, 3},
        // Regression: a zero byte where the next type would be was taken as a listed
        // type, and the size field before it (here the disk's next bytes, 0x01000000)
        // was added: a 1124-byte file was carved as 16 MiB of unrelated data.
        BoxRow{"ZeroTypeAfterTheLastBoxEndsTheWalk",
               ftyp("mp42") + box("mdat", 100) + be(0x01000000) + std::string(4, '\0') + std::string(20, 'x'),
               true, 124, 3}),
    RowName());

TEST(LengthReadersTest, QuickTimeWalkStopsAtItsLimit) {
    // Eight-byte free boxes without end: the walk must stop once it has counted 10 MiB.
    std::string data = ftyp("mp42");
    data.reserve(11 * 1024 * 1024);
    const std::string freeBox = box("free", 8);
    while (data.size() < 11u * 1024 * 1024) {
        data += freeBox;
    }
    OpenImage ev(data);
    ASSERT_TRUE(ev.readVideoLength(0, 1));
    EXPECT_EQ(ev.found.videoLength, LengthReaders::quickTimeWalkLimit);
}
