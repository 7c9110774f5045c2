#include "formats/PdfExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

using morrow::Extent;
using morrow::PdfExtent;
using morrow::test::fixture;

namespace test = morrow::test;

namespace {

std::string garbage(std::size_t n, std::uint32_t seed = 3) {
    return morrow::test::ImageBuilder(n).randomFill(seed).data();
}

Extent measure(const std::string& data, std::int64_t H) {
    morrow::test::MemoryImage image(data);
    return PdfExtent::measure(image, H);
}

const std::string body = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
const std::string trailer =
    "xref\n0 2\n0000000000 65535 f \n0000000009 00000 n \ntrailer\n<< /Size 2 /Root 1 0 R >>\n"
    "startxref\n45\n";

struct EndRow {
    const char* name;
    std::string file;
    std::uint64_t length; // 0: rejected
    bool truncated;
};

void PrintTo(const EndRow& row, std::ostream* os) {
    *os << row.name;
}

class PdfExtentEndTest : public testing::TestWithParam<EndRow> {};

TEST_P(PdfExtentEndTest, Measures) {
    // Zeros follow, as in the slack of a file's last sector.
    const Extent e = measure(GetParam().file + std::string(600, '\0'), 0);
    if (GetParam().length == 0) {
        EXPECT_FALSE(e) << e.length;
        return;
    }
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, GetParam().length);
    EXPECT_EQ(e.truncated, GetParam().truncated);
}

const std::string plain = body + trailer + "%%EOF";
const std::string update = "2 0 obj\n<< >>\nendobj\n" + trailer;

INSTANTIATE_TEST_SUITE_P(
    Rows, PdfExtentEndTest,
    testing::Values(EndRow{"LineFeed", plain + "\n", plain.size() + 1, false},
                    EndRow{"CarriageReturnLineFeed", plain + "\r\n", plain.size() + 2, false},
                    EndRow{"CarriageReturn", plain + "\r", plain.size() + 1, false},
                    EndRow{"ObjectUpdateAfterBlankLines", plain + "\n\n \n" + update + "%%EOF\r\n",
                           plain.size() + 4 + update.size() + 7, false},
                    EndRow{"XrefOnlyUpdate", plain + "\r\n" + trailer + "%%EOF\n",
                           plain.size() + 2 + trailer.size() + 6, false},
                    EndRow{"NextFileIsNoUpdate", plain + "\n" + body, plain.size() + 1, false},
                    EndRow{"UpdateCutOff", plain + "\n" + update, plain.size() + 1 + 21, true},
                    EndRow{"NoEofAfterObjects", body + "2 0 obj\n<< >>\nendobj\r\n3 0 obj\n<<",
                           body.size() + 22, true},
                    EndRow{"NoEofNoObject", "%PDF-1.4\n1 0 obj\n<< >>\n", 0, false},
                    EndRow{"BadVersion", "%PDF-a.4\n1 0 obj\n<< >>\nendobj\n%%EOF\n", 0, false}),
    [](const testing::TestParamInfo<EndRow>& row) { return std::string(row.param.name); });

TEST(PdfExtentTest, EvidenceEndingRightAfterTheMarkerEndsThere) {
    const std::string file = body + trailer + "%%EOF";
    const Extent e = measure(garbage(512) + file, 512);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, file.size());
}

TEST(PdfExtentTest, TruncatedAtEveryByteNeverMeasuresPastTheData) {
    const std::string pdf = fixture("update.pdf");
    const std::size_t firstEof = 12788; // the original file, before the update
    for (std::size_t cut = 0; cut < pdf.size(); ++cut) {
        const Extent e = measure(pdf.substr(0, cut), 0);
        if (!e) {
            continue;
        }
        EXPECT_LE(e.length, cut) << cut;
        if (cut > firstEof) {
            EXPECT_GE(e.length, firstEof) << cut;
        }
        // Once the update's first line "13 0 obj" is in, the update is known to be cut off, until
        // only the last line feed is missing.
        if (cut >= firstEof + 8 && cut < pdf.size() - 1) {
            EXPECT_TRUE(e.truncated) << cut;
        }
    }
}

TEST(PdfExtentTest, MarkersStraddlingReadBlocksAreFound) {
    // The search reads 64 KiB blocks, the first from H + 5, each next one overlapping the last by
    // five bytes: they end at H + 5 + 64 KiB and H + 128 KiB. An "endobj" straddles the first end,
    // the %%EOF the second.
    const std::size_t block = PdfExtent::blockSize;
    std::string file = "%PDF-1.4\n1 0 obj\n<< /Length 99 >>\nstream\n";
    file += std::string(5 + block - 3 - file.size(), 'x') + "endobj\n";
    file += std::string(2 * block - 2 - file.size(), 'y') + "%%EOF\n";
    const Extent whole = measure(garbage(1000) + file + garbage(3000), 1000);
    ASSERT_TRUE(whole) << whole.whyNot;
    EXPECT_EQ(whole.length, file.size());

    // Without the %%EOF the file ends after the straddling "endobj" line.
    const std::string cut = file.substr(0, file.size() - 6) + garbage(200);
    const Extent e = measure(cut, 0);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, 5 + block - 3 + 7);
    EXPECT_TRUE(e.truncated);
}

TEST(PdfExtentTest, OverwrittenEndStopsAtTheNextPdfOrAfterTheGap) {
    // The end of the first file is gone; the next PDF starts at a sector start further on. The
    // first must not run on into the second's %%EOF.
    const std::string head = body + "2 0 obj\n<< >>\nendobj\n";
    std::string image = head + garbage(2048 - head.size()) + plain + "\n";
    Extent e = measure(image, 0);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, head.size());
    EXPECT_TRUE(e.truncated);

    // Nothing but stream-like bytes without an object end for longer than maxObjectGap.
    image = head + std::string(PdfExtent::maxObjectGap + 2 * PdfExtent::blockSize, 's') + "endobj\n%%EOF\n";
    e = measure(image, 0);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, head.size());
    EXPECT_TRUE(e.truncated);
}

struct LinearizedRow {
    const char* name;
    std::string file;
    std::uint64_t L;
    bool agrees;
};

void PrintTo(const LinearizedRow& row, std::ostream* os) {
    *os << row.name;
}

class PdfExtentLinearizedTest : public testing::TestWithParam<LinearizedRow> {};

TEST_P(PdfExtentLinearizedTest, LengthAgrees) {
    morrow::test::MemoryImage image(garbage(512) + GetParam().file);
    EXPECT_EQ(PdfExtent::linearizedLengthAgrees(image, 512, GetParam().L), GetParam().agrees);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PdfExtentLinearizedTest,
    testing::Values(LinearizedRow{"FileLength", fixture("linearized.pdf"), 13197, true},
                    LinearizedRow{"OneShort", fixture("linearized.pdf"), 13196, false},
                    LinearizedRow{"PastTheEvidence", fixture("linearized.pdf"), 13198, false},
                    LinearizedRow{"InsideAnObject", fixture("linearized.pdf"), 9000, false},
                    LinearizedRow{"CarriageReturnLineFeed", plain + "\r\n" + "xx", plain.size() + 2, true},
                    LinearizedRow{"BeforeTheLineFeedOfCrLf", plain + "\r\n", plain.size() + 1, false},
                    LinearizedRow{"CarriageReturn", plain + "\r" + "xx", plain.size() + 1, true},
                    LinearizedRow{"MarkerAtTheEvidenceEnd", plain, plain.size(), true},
                    LinearizedRow{"MarkerWithoutLineEnd", plain + "xx", plain.size(), false}),
    [](const testing::TestParamInfo<LinearizedRow>& row) { return std::string(row.param.name); });

// A PDF of `bodies` (object i + 1 is bodies[i]) with its cross-reference table.
std::string makePdf(const std::vector<std::string>& bodies) {
    std::string pdf = "%PDF-1.4\n";
    std::string table = "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
        table += entry;
        pdf += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    return pdf + table + "trailer\n<< /Size " + std::to_string(bodies.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

const std::string jpeg = fixture("photo-jfif.jpg");
const std::string imageObject =
    "<< /Type /XObject /Subtype /Image /Width 8 /Height 8 /Filter /DCTDecode /Length " +
    std::to_string(jpeg.size()) + " >>\nstream\n" + jpeg + "\nendstream";
const std::string withJpeg = makePdf(
    {"<< /Type /Catalog >>", imageObject, "<< /Length 4 0 R >>\nstream\nHELLO WORLD\nendstream", "11"});

// Whole files end at their last %%EOF as the cross-reference proves it; a %%EOF of another file
// that the search runs into ends none.
TEST(PdfExtentTest, CrossReferenceProvesTheEnd) {
    for (const std::string& pdf :
         {fixture("plain.pdf"), fixture("update.pdf"), fixture("linearized.pdf"), withJpeg}) {
        const Extent e = measure(pdf + garbage(3000), 0);
        ASSERT_TRUE(e) << e.whyNot;
        EXPECT_EQ(e.length, pdf.size());
        EXPECT_FALSE(e.truncated);
        morrow::test::MemoryImage image(pdf);
        EXPECT_TRUE(PdfExtent::endProven(image, 0, pdf.size()));
    }
    const std::string linearized = fixture("linearized.pdf");
    morrow::test::MemoryImage image(linearized + withJpeg);
    EXPECT_FALSE(PdfExtent::endProven(image, 0, linearized.size() + withJpeg.size()));

    // Cut, then another PDF straight after it (not at a sector start, so the search does not stop
    // there), or only the other's tail: the first ends after its last object before the cut.
    const std::string cut = fixture("update.pdf").substr(0, 6000);
    const std::size_t lastObject = cut.rfind("endobj\n") + 7;
    for (const std::string& next : {withJpeg, withJpeg.substr(300)}) {
        const Extent e = measure(cut + next + garbage(600), 0);
        ASSERT_TRUE(e) << e.whyNot;
        EXPECT_EQ(e.length, lastObject);
        EXPECT_TRUE(e.truncated);
    }

    // The table points at objects that are not there (the body after the first object is
    // another's): broken after the last object before the first one missing.
    std::string moved = withJpeg;
    const std::size_t second = moved.find("2 0 obj");
    moved.replace(second, 7, "9 0 obj");
    const Extent e = measure(moved + garbage(600), 0);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, second);
    EXPECT_TRUE(e.truncated);
}

TEST(PdfExtentTest, PartsAreTheStreamsTheCrossReferencePlaces) {
    morrow::test::MemoryImage image(garbage(512) + withJpeg + garbage(512));
    std::vector<morrow::Part> parts;
    PdfExtent::parts(image, 512, withJpeg.size(), parts);
    const std::uint64_t at = withJpeg.find(jpeg);
    const std::uint64_t hello = withJpeg.find("HELLO");
    EXPECT_EQ(parts, (std::vector<morrow::Part>{{at, jpeg.size()}, {hello, 11}}));
}

} // namespace
