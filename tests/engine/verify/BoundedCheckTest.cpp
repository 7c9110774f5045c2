// Files made to cost a check far more work than their size: each ends with a verdict that says
// why it was not decoded, where the same file within the caps opens.
#include "HostileFiles.h"
#include "TestSupport.h"

#include "verify/DecoderChecks.h"
#include "verify/FileCheck.h"
#include "verify/PdfDraws.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>

using namespace morrow;

namespace {

using State = FileVerdict::State;

check::Bytes view(const std::string& bytes) {
    return check::Bytes{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
}

struct BoundedRow {
    const char* name;
    FileTypeId type;
    std::function<std::string()> build;
    State state;
    const char* fault; // a regular expression the verdict's text matches
};

class BoundedCheckTest : public ::testing::TestWithParam<BoundedRow> {};

TEST_P(BoundedCheckTest, EndsWithItsVerdict) {
    const BoundedRow& row = GetParam();
    const FileVerdict verdict = FileCheck::check(view(row.build()), row.type);
    if (!decoder::builtIn()) {
        EXPECT_EQ(verdict.state, State::NotChecked);
        return;
    }
    EXPECT_EQ(verdict.state, row.state) << verdict.fault;
    EXPECT_TRUE(std::regex_search(verdict.fault, std::regex(row.fault))) << verdict.fault;
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, BoundedCheckTest,
    ::testing::Values(
        // 999 pictures of 81 Mpx on one deflated strip: the first is decoded, the rest counted.
        // Frames of 400 million pixels each, from a few bytes: none is decoded past the cap.
        BoundedRow{"GifFrameOverThePixelCap", kind::Gif,
                   [] {
                       return test::framesGif({{20000, 20000}});
                   },
                   State::NotChecked, "^GIF frame 1 and those after it are not decoded: .* 324000000 pixels"},
        BoundedRow{"GifFramesPastThePixelCap", kind::Gif,
                   [] {
                       return test::framesGif({{1, 1}, {1, 1}, {20000, 20000}, {1, 1}});
                   },
                   State::NotChecked, "^GIF frames 1 to 2 open; frame 3 and those after it are not decoded"},
        BoundedRow{"GifFramesWithinTheCap", kind::Gif,
                   [] {
                       return test::framesGif({{1, 1}, {1, 1}, {1, 1}});
                   },
                   State::Opens, "^$"},
        BoundedRow{"TiffManyLargeDirectories", kind::Tiff, [] { return test::manyDirectoriesTiff(); },
                   State::NotChecked,
                   "^TIFF image 1 opens; images 2 to 999 are not decoded: .*81000000 pixels"},
        BoundedRow{"TiffDirectoriesWithinTheCap", kind::Tiff,
                   [] { return test::manyDirectoriesTiff(8, 3000, 3000); }, State::Opens, "^$"},
        // More pictures than a check decodes, each of them small.
        BoundedRow{"TiffPastTheImageCount", kind::Tiff, [] { return test::manyDirectoriesTiff(1002, 8, 8); },
                   State::NotChecked,
                   "^TIFF images 1 to 1000 open; images 1001 to 1002 are not decoded: .* 1000 images"},
        BoundedRow{"JpegThousandsOfScans", kind::Jpeg,
                   [] { return test::emptyScansJpeg(3000, 1000, 1000, 3); }, State::NotChecked,
                   "^JPEG has more than 1000 scans"},
        // Fewer scans, each over a larger picture: the blocks they code in all are the cap.
        BoundedRow{"JpegScansOverManyBlocks", kind::Jpeg,
                   [] { return test::emptyScansJpeg(800, 4000, 4000, 1); }, State::NotChecked,
                   "^JPEG scans 1 to [0-9]+ code [0-9]+ blocks, more than the 162000000"},
        BoundedRow{"JpegScansWithinTheCaps", kind::Jpeg, [] { return test::emptyScansJpeg(30, 640, 480, 4); },
                   State::Opens, "^$"},
        // A million runs of text, and a hundred thousand (some seconds of poppler's layout); ten
        // thousand are laid out.
        BoundedRow{"PdfNestedFormsOneLevelLess", kind::Pdf, [] { return test::nestedFormsPdf(10, 5); },
                   State::NotChecked, "^PDF page 1 draws forms that draw forms"},
        BoundedRow{"PdfNestedForms", kind::Pdf, [] { return test::nestedFormsPdf(); }, State::NotChecked,
                   "^PDF page 1 draws forms that draw forms: more than 1000000 operators run in them \\(a "
                   "run of text as 20\\)"},
        // The same deflated, in an object stream, with a cross-reference stream.
        BoundedRow{"PdfNestedFormsPacked", kind::Pdf, [] { return test::nestedFormsPdf(10, 6, true); },
                   State::NotChecked, "^PDF page 1 draws forms that draw forms"},
        BoundedRow{"PdfNestedFormsPackedWithinTheCap", kind::Pdf,
                   [] { return test::nestedFormsPdf(10, 4, true); }, State::Opens, "^$"},
        BoundedRow{"PdfNestedFormsWithinTheCap", kind::Pdf, [] { return test::nestedFormsPdf(10, 4); },
                   State::Opens, "^$"}),
    [](const ::testing::TestParamInfo<BoundedRow>& row) { return std::string(row.param.name); });

// The count of a PDF's form draws, read by Morrow's own code: exact on the nested forms, finite
// where a form draws itself, and not known where there is no page tree to read.
TEST(PdfDrawsTest, CountsEachFormAsOftenAsItIsDrawn) {
    // Two forms deep, two draws each: the last form's 2 runs of BT Tf Td Tj ET (4 + a run of
    // text: 24 each), drawn twice by the first (2 Do + 2 x 48), which the page draws once.
    std::string nested = test::nestedFormsPdf(2, 2);
    pdf::Draws draws = pdf::countDraws(view(nested), 1000, 10);
    EXPECT_TRUE(draws.known);
    EXPECT_EQ(draws.formOperators, 2 + 2 * 2 * (4 + pdf::textWeight));
    EXPECT_EQ(draws.page, 0);
    // The same through deflated streams and an object stream.
    const std::string packed = test::nestedFormsPdf(2, 2, true);
    EXPECT_EQ(pdf::countDraws(view(packed), 1000, 10).formOperators, 2 + 2 * 2 * (4 + pdf::textWeight));
    // Past the limit: the page that passes it is named, the count stops a little past it.
    draws = pdf::countDraws(view(test::nestedFormsPdf(10, 6)), 1000, 10);
    EXPECT_EQ(draws.page, 1);
    EXPECT_LE(draws.formOperators, 1001u);

    // The last form drawing the first in place of its first BT: a loop the renderer stops, and
    // the count with it (the same count: the loop draws nothing more).
    std::string loop = test::nestedFormsPdf(2, 2);
    const std::size_t text = loop.find("BT /F 12 Tf");
    ASSERT_NE(text, std::string::npos);
    loop.replace(text, 6, "/Y Do ");
    const std::size_t font = loop.find("/Font<</F ");
    loop.replace(font, 10, "/XObject<</Y 5 0 R/F ");
    draws = pdf::countDraws(view(loop), 1000, 10);
    EXPECT_TRUE(draws.known);
    EXPECT_EQ(draws.page, 0);
    EXPECT_EQ(draws.formOperators, 2 + 2 * 2 * (4 + pdf::textWeight));

    // No /Root, a file cut inside its first object, random bytes: nothing known, nothing counted.
    for (const std::string& bytes : {nested.substr(0, nested.find("trailer")), nested.substr(0, 40),
                                     test::randomBytes(8192, 5), std::string()}) {
        draws = pdf::countDraws(view(bytes), 1000, 10);
        EXPECT_EQ(draws.page, 0);
        EXPECT_EQ(draws.formOperators, 0u);
    }
}

} // namespace
