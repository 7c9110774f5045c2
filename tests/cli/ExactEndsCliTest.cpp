// morrow-cli -x on an image holding one real file of a rule the exact-ends mode follows: the file
// comes out byte for byte under the name a default run would give it, where the default run cuts
// it short, runs it on or misses it. An archive that -x names by what it holds (.docx, .odt ...)
// keeps its tag and number, and a default run still names it .zip.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace morrow;

namespace {

struct ExactRow {
    const char* name;
    const char* fixture;
    const char* kind;   // morrow-cli's -t
    const char* carved; // its name in the output folder
    bool defaultWhole;  // a default run carves it whole too
    // Its name in a default run when -x names it otherwise (an archive named by what it holds).
    const char* defaultCarved = nullptr;
};

class ExactEndsCliTest : public ::testing::TestWithParam<ExactRow> {};

TEST_P(ExactEndsCliTest, CarvesTheFileByteForByte) {
    const ExactRow& row = GetParam();
    test::TempDir dir;
    const std::string file = test::fixture(row.fixture);
    test::ImageBuilder(8192 + file.size() + 16384).randomFill(11).place(8192, file).writeTo(dir / "disk.img");

    for (const bool exact : {true, false}) {
        const std::string out = dir / (exact ? "exact" : "default");
        std::vector<std::string> args = {"-y", "-q", "-t", row.kind, "-o", out, dir / "disk.img"};
        if (exact) {
            args.insert(args.begin(), "-x");
        }
        const test::ChildResult result = test::runCliWith(args);
        ASSERT_EQ(result.status, 0) << result.err;
        const std::string carved =
            out + "/disk/" + (exact || row.defaultCarved == nullptr ? row.carved : row.defaultCarved);
        const bool whole = test::fileExists(carved) && test::readFile(carved) == file;
        EXPECT_EQ(whole, exact || row.defaultWhole)
            << (exact ? "exact" : "default") << " run of " << row.fixture;
        if (exact) {
            EXPECT_NE(test::readFile(out + "/disk/disk~Report.xls").find(carved + "\t8192\t15\t"),
                      std::string::npos);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ExactEndsCliTest,
    ::testing::Values(
        ExactRow{"JpegOverAMebibyte", "photo-large.jpg", "jpeg", "disk~JPEGFile0.jpg", false},
        ExactRow{"ProgressiveJpeg", "photo-progressive.jpg", "jpeg", "disk~JPEGFile0.jpg", true},
        ExactRow{"PngOverAMebibyte", "image-large.png", "png", "disk~PNGFile0.png", false},
        ExactRow{"GifHolding003B", "image-00-3b.gif", "gif", "disk~GIFFile0.gif", false},
        ExactRow{"AnimatedGif", "image-animated.gif", "gif", "disk~GIFFile0.gif", true},
        ExactRow{"BmpVersion5", "bitmap124.bmp", "bmp", "disk~BMPFile0.bmp", false},
        ExactRow{"BmpRle8", "bitmap-rle8.bmp", "bmp", "disk~BMPFile0.bmp", true},
        ExactRow{"BmpVersion5WithProfile", "bitmap124-profile.bmp", "bmp", "disk~BMPFile0.bmp", false},
        ExactRow{"TiffLittleEndian", "image.tif", "tiff", "disk~TIFFile0.tif", false},
        ExactRow{"TiffBigEndianWithExif", "exif-be.tif", "tiff", "disk~TIFFile0.tif", false},
        ExactRow{"TiffPages", "pages.tif", "tiff", "disk~TIFFile0.tif", false},
        ExactRow{"BigTiff", "bigtiff.tif", "tiff", "disk~TIFFile0.tif", false},
        ExactRow{"PsdLayers", "layers.psd", "psd", "disk~PSDFile0.psd", false},
        ExactRow{"Psb", "layers.psb", "psd", "disk~PSDFile0.psd", false},
        ExactRow{"PdfWithAnUpdate", "update.pdf", "pdf", "disk~PDFFile0.pdf", false},
        ExactRow{"LinearizedPdf", "linearized.pdf", "pdf", "disk~PDFFile0.pdf", true},
        ExactRow{"HtmlAfterXmlDeclaration", "page-xml.html", "html", "disk~HTMLFile0.html", false},
        ExactRow{"HtmlAfterComment", "page-comment.html", "html", "disk~HTMLFile0.html", false},
        ExactRow{"HtmlUtf8UpperCaseEnd", "page-utf8.html", "html", "disk~HTMLFile0.html", false},
        ExactRow{"HtmlTrailingComments", "page-stamp.html", "html", "disk~HTMLFile0.html", false},
        ExactRow{"Mp4Isom", "clip-isom.mp4", "video", "disk~VideoFiles0.mp4", false},
        ExactRow{"QuickTimeMov", "clip.mov", "video", "disk~VideoFiles0.mov", false},
        ExactRow{"Mp4FastStart", "clip-faststart.mp4", "video", "disk~VideoFiles0.mp4", false},
        ExactRow{"ZipWithComment", "with-comment.zip", "zip", "disk~ZIPFile0.zip", false},
        ExactRow{"Docx", "doc.docx", "zip", "disk~ZIPFile0.docx", true, "disk~ZIPFile0.zip"},
        ExactRow{"Xlsx", "sheet.xlsx", "zip", "disk~ZIPFile0.xlsx", true, "disk~ZIPFile0.zip"},
        ExactRow{"Pptx", "slides.pptx", "zip", "disk~ZIPFile0.pptx", true, "disk~ZIPFile0.zip"},
        ExactRow{"Odt", "doc.odt", "zip", "disk~ZIPFile0.odt", true, "disk~ZIPFile0.zip"},
        ExactRow{"Ods", "sheet.ods", "zip", "disk~ZIPFile0.ods", true, "disk~ZIPFile0.zip"},
        ExactRow{"Odp", "slides.odp", "zip", "disk~ZIPFile0.odp", true, "disk~ZIPFile0.zip"},
        ExactRow{"Odg", "drawing.odg", "zip", "disk~ZIPFile0.odg", true, "disk~ZIPFile0.zip"},
        ExactRow{"Epub", "book.epub", "zip", "disk~ZIPFile0.epub", true, "disk~ZIPFile0.zip"},
        ExactRow{"Jar", "app.jar", "zip", "disk~ZIPFile0.jar", true, "disk~ZIPFile0.zip"}),
    [](const auto& row) { return std::string(row.param.name); });

// An archive cut before its end record, then a whole one a sector later: the default run carves
// one file from the first to the second's end record; -x ends the first with its central
// directory and carves the second on its own.
TEST(ExactEndsCliTest, ZipWithoutEndRecordLeavesTheNextArchive) {
    test::TempDir dir;
    const std::string first = test::fixture("two-stored.zip").substr(0, 274); // end record at 274
    const std::string second = test::fixture("with-comment.zip");
    test::ImageBuilder(16384).randomFill(11).place(8192, first).place(8704, second).writeTo(dir / "disk.img");
    for (const bool exact : {true, false}) {
        const std::string out = dir / (exact ? "exact" : "default");
        std::vector<std::string> args = {"-y", "-q", "-t", "zip", "-o", out, dir / "disk.img"};
        if (exact) {
            args.insert(args.begin(), "-x");
        }
        const test::ChildResult result = test::runCliWith(args);
        ASSERT_EQ(result.status, 0) << result.err;
        if (exact) {
            EXPECT_EQ(test::readFile(out + "/disk/disk~ZIPFile0.zip"), first);
            EXPECT_EQ(test::readFile(out + "/disk/disk~ZIPFile1.zip"), second);
        } else {
            EXPECT_EQ(test::readFile(out + "/disk/disk~ZIPFile0.zip").size(), 8704 - 8192 + 296u);
            EXPECT_FALSE(test::fileExists(out + "/disk/disk~ZIPFile1.zip"));
        }
    }
}

// A document archive whose central directory is cut off, then ten files of other kinds, each at
// the next sector, then a whole archive: -x ends the first archive with its last member instead
// of running it over them to the second's end record, and carves every one of the ten byte for
// byte as a file of its own, and the second archive whole.
TEST(ExactEndsCliTest, ArchiveWithoutDirectoryLeavesTheFilesAfterIt) {
    test::TempDir dir;
    const std::string archive = test::fixture("doc.docx").substr(0, 3754); // its directory starts at 3754
    const std::vector<std::string> files = {"photo-jfif.jpg", "image.png", "image89a.gif", "bitmap40.bmp",
                                            "image.tif",      "page.html", "plain.pdf",    "doc.doc",
                                            "clip.avi",       "clip.mp4"};
    test::ImageBuilder image(1 << 17);
    image.randomFill(7).place(8192, archive);
    std::uint64_t at = 8192 + archive.size();
    for (const std::string& name : files) {
        at = (at + 511) / 512 * 512;
        image.place(at, test::fixture(name));
        at += test::fixture(name).size();
    }
    const std::string later = test::fixture("with-comment.zip");
    image.place((at + 511) / 512 * 512, later);
    image.writeTo(dir / "disk.img");
    const test::ChildResult result =
        test::runCliWith({"-x", "-y", "-q", "-t", "all", "-o", dir / "out", dir / "disk.img"});
    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<std::string> carved;
    for (const std::string& name : test::listFolder(dir / "out/disk")) {
        carved.push_back(test::readFile(dir / "out/disk" + "/" + name));
    }
    EXPECT_NE(std::find(carved.begin(), carved.end(), archive), carved.end())
        << "the archive as far as it goes";
    for (const std::string& name : files) {
        // Files reported embedded in the archive are not written: that is the container rule's to
        // mend (ContainerMap), not the archive's measure.
        EXPECT_NE(std::find(carved.begin(), carved.end(), test::fixture(name)), carved.end()) << name;
    }
}

// Every sector of 1 MiB starts a JPEG with only an APP1 running into the next sector's, or an ftyp
// with an mdat of size 0: each was carved to the end of the image, about 1 GiB in all. Neither is
// a file.
TEST(ExactEndsCliTest, HostileEverySectorStartsCarveNothing) {
    const std::pair<const char*, std::string> shapes[] = {
        {"jpeg", std::string("\xFF\xD8\xFF\xE1\x01\xFE", 6)},
        {"video", std::string("\0\0\0\x14"
                              "ftypisom\0\0\0\1"
                              "isom\0\0\0\0"
                              "mdat",
                              28)}};
    for (const auto& [kind, start] : shapes) {
        test::TempDir dir;
        std::string bytes;
        for (int i = 0; i < 2048; ++i) {
            bytes += start + std::string(512 - start.size(), '\0');
        }
        test::writeFile(dir / "disk.img", bytes);
        const test::ChildResult result =
            test::runCliWith({"-x", "-y", "-q", "-t", kind, "-o", dir / "out", dir / "disk.img"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(test::listFolder(dir / "out/disk"), std::vector<std::string>{"disk~Report.xls"}) << kind;
    }
}

} // namespace

// A movie's first frame and a picture stored in an archive, each at a sector start: -x carves
// the movie and the archive whole and lists the two pictures in the DFXML as their bytes, not
// written; a run for pictures alone has no container and carves them.
TEST(ExactEndsCliTest, EmbeddedFilesAreNotCarvedAgain) {
    test::TempDir dir;
    const std::string movie = test::fixture("clip-mjpeg-aligned.avi"); // a JPEG at 5632
    const std::string archive = test::fixture("stored-png.zip");       // a PNG at 512
    test::ImageBuilder(65536)
        .randomFill(5)
        .place(8192, movie)
        .place(32768, archive)
        .writeTo(dir / "disk.img");

    test::ChildResult all =
        test::runCliWith({"-x", "--dfxml", "-y", "-t", "all", "-o", dir / "all", dir / "disk.img"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(test::listFolder(dir / "all/disk"),
              (std::vector<std::string>{"disk~Report.dfxml", "disk~Report.xls", "disk~VideoFiles0.avi",
                                        "disk~ZIPFile0.zip"}));
    EXPECT_EQ(test::readFile(dir / "all/disk/disk~VideoFiles0.avi"), movie);
    EXPECT_EQ(test::readFile(dir / "all/disk/disk~ZIPFile0.zip"), archive);
    EXPECT_NE(all.out.find("2 embedded in other carved files"), std::string::npos) << all.out;
    const std::string dfxml = test::readFile(dir / "all/disk/disk~Report.dfxml");
    for (const auto& [holder, at, img] : {std::tuple{"disk~VideoFiles0.avi", 5632, 8192 + 5632},
                                          std::tuple{"disk~ZIPFile0.zip", 512, 32768 + 512}}) {
        const std::string parent = "<filename>" + dir / "all/disk/" + holder +
                                   "</filename>\n      <byte_runs>\n" + "        <byte_run offset=\"" +
                                   std::to_string(at) + "\" img_offset=\"" + std::to_string(img) + "\"";
        EXPECT_NE(dfxml.find(parent), std::string::npos) << holder;
    }

    ASSERT_EQ(
        test::runCliWith({"-x", "-y", "-q", "-t", "pictures", "-o", dir / "pics", dir / "disk.img"}).status,
        0);
    EXPECT_EQ(test::listFolder(dir / "pics/disk"),
              (std::vector<std::string>{"disk~JPEGFile0.jpg", "disk~PNGFile0.png", "disk~Report.xls"}));
}

// A movie cut short whose RIFF size still claims twice its bytes, then a picture, a page and a
// document with no gap: -x ends the movie with its last whole frame and carves each of the three
// byte for byte.
TEST(ExactEndsCliTest, CutMovieLeavesTheFilesAfterIt) {
    test::TempDir dir;
    std::string movie = test::fixture("clip.avi").substr(0, 8192); // cut in its fourth frame's chunk
    movie.replace(4, 4, test::le32(2 * 8192 - 8));
    const std::string gif = test::fixture("image89a.gif");
    const std::string html = test::fixture("page.html");
    const std::string pdf = test::fixture("plain.pdf");
    test::ImageBuilder(65536)
        .randomFill(13)
        .place(8192, movie)
        .place(16384, gif)
        .place(16896, html)
        .place(17920, pdf)
        .writeTo(dir / "disk.img");
    const test::ChildResult result =
        test::runCliWith({"-x", "-y", "-q", "-t", "video,gif,html,pdf", "-o", dir / "out", dir / "disk.img"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(test::readFile(dir / "out/disk/disk~VideoFiles0.avi"), movie.substr(0, 8092)); // frames to 8092
    EXPECT_EQ(test::readFile(dir / "out/disk/disk~GIFFile0.gif"), gif);
    EXPECT_EQ(test::readFile(dir / "out/disk/disk~HTMLFile0.html"), html);
    EXPECT_EQ(test::readFile(dir / "out/disk/disk~PDFFile0.pdf"), pdf);
}

// A movie written index first whose media data was cut after its first sector by a file system,
// a JPEG, a GIF and a ZIP in the sectors where its media data box claims more: -x ends the movie
// where its samples' bytes fail and carves each of the three byte for byte.
TEST(ExactEndsCliTest, FilesWhereACutMovieClaimsItsMediaData) {
    test::TempDir dir;
    const std::string movie = test::fixture("clip-avc.mp4"); // media data from 947 to 5661
    const std::string jpeg = test::fixture("photo-exif.jpg");
    const std::string gif = test::fixture("image89a.gif");
    const std::string zip = test::fixture("two-stored.zip");
    test::ImageBuilder(32768)
        .randomFill(13)
        .place(8192, movie.substr(0, 1024))
        .place(9216, jpeg)
        .place(13312, gif)
        .place(13824, zip)
        .writeTo(dir / "disk.img");
    ASSERT_LT(13824u, 8192 + movie.size());

    const test::ChildResult result =
        test::runCliWith({"-x", "-y", "-q", "-t", "all", "-o", dir / "out", dir / "disk.img"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(test::readFile(dir / "out/disk/disk~JPEGFile0.jpg"), jpeg);
    EXPECT_EQ(test::readFile(dir / "out/disk/disk~GIFFile0.gif"), gif);
    EXPECT_EQ(test::readFile(dir / "out/disk/disk~ZIPFile0.zip"), zip);
    const std::string carved = test::readFile(dir / "out/disk/disk~VideoFiles0.mp4");
    EXPECT_LE(carved.size(), 1024u);
    EXPECT_EQ(carved, movie.substr(0, carved.size()));
}
