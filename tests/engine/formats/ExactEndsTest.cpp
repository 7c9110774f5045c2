#include "formats/ExactEnds.h"
#include "Catalog.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace morrow;

namespace {

// A real sample file of tests/data and the kind it is measured as.
struct SampleRow {
    const char* name;
    FileTypeId type;
    const char* file;
    std::vector<std::size_t> prefixes; // garbage before it; no multiple of 4 KiB puts headers across a block
    std::uint32_t seed;
};
void PrintTo(const SampleRow& row, std::ostream* os) {
    *os << row.name;
}

class ExactEndsSampleTest : public testing::TestWithParam<SampleRow> {};

// Every sample, between garbage, measures whole through the reader the kind table gives its kind. The
// prefixes put its headers across the readers' 4 KiB and 8 KiB windows and the 64 KiB scan blocks.
TEST_P(ExactEndsSampleTest, MeasuresTheWholeFile) {
    const SampleRow& row = GetParam();
    const std::string file = test::fixture(row.file);
    for (std::size_t prefix : row.prefixes) {
        test::MemoryImage image(test::garbage(prefix, row.seed) + file + test::garbage(3000, row.seed));
        const Extent e =
            kindInfo(row.type).exactReader(image, static_cast<std::int64_t>(prefix), std::uint64_t{1} << 30);
        ASSERT_TRUE(e) << e.whyNot << " after " << prefix;
        EXPECT_EQ(e.length, file.size()) << "after " << prefix;
        EXPECT_FALSE(e.truncated) << "after " << prefix;
    }
}

const std::vector<std::size_t> nearBlock = {1024, 4096 - 7};

INSTANTIATE_TEST_SUITE_P(
    Samples, ExactEndsSampleTest,
    testing::Values(
        SampleRow{"BmpInfoHeader", kind::Bmp, "bitmap40.bmp", {1024, 4096 - 20}, 13},
        SampleRow{"BmpCoreHeader", kind::Bmp, "bitmap12.bmp", {1024, 4096 - 20}, 13},
        SampleRow{"BmpV5HeaderWithBitfields", kind::Bmp, "bitmap124.bmp", {1024, 4096 - 20}, 13},
        SampleRow{"BmpRunLength8", kind::Bmp, "bitmap-rle8.bmp", {1024, 4096 - 20}, 13},
        // An ICC profile after the pixels, counted by the file size field.
        SampleRow{"BmpV5HeaderWithProfile", kind::Bmp, "bitmap124-profile.bmp", {1024, 4096 - 20}, 13},
        SampleRow{"Gif89a", kind::Gif, "image89a.gif", {1024, 4096 - 3}, 11},
        SampleRow{"Gif87a", kind::Gif, "image87a.gif", {1024, 4096 - 3}, 11},
        // 00 3B at 925, inside the image data.
        SampleRow{"GifInnerZeroAndTrailerByte", kind::Gif, "image-00-3b.gif", {1024, 4096 - 3}, 11},
        SampleRow{"GifAnimated", kind::Gif, "image-animated.gif", {1024, 4096 - 3}, 11},
        SampleRow{"JpegJfif", kind::Jpeg, "photo-jfif.jpg", {1024, 4096 - 5, 65536 - 700}, 5},
        // The thumbnail's FF D9 inside APP1 is stepped over.
        SampleRow{"JpegExifThumbnail", kind::Jpeg, "photo-exif.jpg", {1024, 4096 - 5, 65536 - 700}, 5},
        SampleRow{"JpegProgressive", kind::Jpeg, "photo-progressive.jpg", {1024, 4096 - 5, 65536 - 700}, 5},
        // 1.1 MB of scan data with 760 restart markers.
        SampleRow{"JpegLargeWithRestarts", kind::Jpeg, "photo-large.jpg", {1024, 4096 - 5, 65536 - 700}, 5},
        SampleRow{"PngSmall", kind::Png, "image.png", {1024, 4096 - 9}, 7},
        // 1.2 MB in 37 IDAT chunks of stored deflate blocks.
        SampleRow{"PngLarge", kind::Png, "image-large.png", {1024, 4096 - 9}, 7},
        SampleRow{"PsdRawSixteenBit", kind::Psd, "image.psd", nearBlock, 7},
        SampleRow{"PsdLayersRle", kind::Psd, "layers.psd", nearBlock, 7},
        SampleRow{"PsbLargeDocumentFormat", kind::Psd, "layers.psb", nearBlock, 7},
        SampleRow{"PdfPlain", kind::Pdf, "plain.pdf", nearBlock, 7},
        // The first %%EOF (at 655) ends the first-page section.
        SampleRow{"PdfLinearized", kind::Pdf, "linearized.pdf", nearBlock, 7},
        SampleRow{"PdfIncrementalUpdate", kind::Pdf, "update.pdf", nearBlock, 7},
        SampleRow{"HtmlDoctype", kind::Html, "page.html", nearBlock, 7},
        SampleRow{"HtmlLowerCaseRoot", kind::Html, "page-lower.html", nearBlock, 7},
        SampleRow{"HtmlXmlDeclaration", kind::Html, "page-xml.html", nearBlock, 7},
        // Byte order mark, a comment first, CR LF line ends.
        SampleRow{"HtmlCommentFirst", kind::Html, "page-comment.html", nearBlock, 7},
        SampleRow{"HtmlUtf8UpperCase", kind::Html, "page-utf8.html", nearBlock, 7},
        // Comments and blank lines after </html>.
        SampleRow{"HtmlTrailingComments", kind::Html, "page-stamp.html", nearBlock, 7},
        SampleRow{"QuickTimeIsom", kind::VideoQuickTime, "clip-isom.mp4", nearBlock, 7},
        SampleRow{"QuickTimeBrand", kind::VideoQuickTime, "clip.mov", nearBlock, 7},
        SampleRow{"QuickTimeMp42", kind::VideoQuickTime, "clip.mp4", nearBlock, 7},
        // Index first: ftyp moov free mdat.
        SampleRow{"QuickTimeFastStart", kind::VideoQuickTime, "clip-faststart.mp4", nearBlock, 7},
        SampleRow{"QuickTimeMoovBrand", kind::VideoQuickTime, "clip-moov.mov", nearBlock, 7},
        SampleRow{"QuickTimeThreeGpp", kind::VideoQuickTime, "clip.3gp", nearBlock, 7}),
    test::RowName());

} // namespace
