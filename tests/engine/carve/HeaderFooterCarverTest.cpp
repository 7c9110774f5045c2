#include "carve/HeaderFooterCarver.h"
#include "CarveEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace morrow;
using morrow::test::bytes;

namespace {

// One evidence image "disk.img" carved by a real run of the engine into out/disk.
struct Bench {
    test::TempDir dir;
    test::FakeHost host;
    CarveEngine engine{host};
    std::string evidence = dir / "disk.img";
    std::string folder = dir / "out/disk";

    explicit Bench(int maxKB = 1024) {
        host.evidence = {evidence};
        host.carvingPath = dir / "out";
        host.maxFileSizeKB = maxKB;
    }
    void run(const test::ImageBuilder& image, const std::vector<std::string>& rows) {
        image.writeTo(evidence);
        host.kinds.clear();
        for (const std::string& name : kindRowNames()) {
            host.kinds.push_back(KindRow{name, std::find(rows.begin(), rows.end(), name) != rows.end()});
        }
        engine.startRun();
    }
    std::string carved(const std::string& name) const { return test::readFile(folder + "/disk~" + name); }
    bool has(const std::string& name) const { return test::fileExists(folder + "/disk~" + name); }
    std::vector<std::string> files() const {
        std::vector<std::string> names = test::listFolder(folder);
        names.erase(std::remove(names.begin(), names.end(), "disk~Report.xls"), names.end());
        return names;
    }
    // Report rows after the header line, each as offset and size.
    std::vector<std::pair<std::int64_t, std::int64_t>> rows() const {
        std::string report = test::readFile(folder + "/disk~Report.xls");
        std::vector<std::pair<std::int64_t, std::int64_t>> out;
        std::size_t at = report.find("\r\n");
        while (at != std::string::npos) {
            std::size_t next = report.find("\r\n", at + 2);
            std::string row =
                report.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
            std::vector<std::string> cols;
            std::size_t start = 0;
            for (std::size_t tab; (tab = row.find('\t', start)) != std::string::npos; start = tab + 1) {
                cols.push_back(row.substr(start, tab - start));
            }
            if (cols.size() >= 5) {
                out.emplace_back(std::stoll(cols[1]), std::stoll(cols[4]));
            }
            at = next;
        }
        return out;
    }
};

test::ImageBuilder filler(std::uint64_t size, std::uint32_t seed = 1) {
    test::ImageBuilder image(size);
    image.randomFill(seed);
    return image;
}

std::string withoutLastByte(const std::string& s) {
    return s.substr(0, s.size() - 1);
}

TEST(HeaderFooterCarverTest, RealFilesComeOutWhole) {
    const std::string exif = test::fixture("photo-exif.jpg");
    const std::string jfif = test::fixture("photo-jfif.jpg");
    const std::string gif89 = test::fixture("image89a.gif");
    const std::string gif87 = test::fixture("image87a.gif");
    const std::string png = test::fixture("image.png");
    const std::string html = test::fixture("page.html");
    const std::string lower = test::fixture("page-lower.html");

    Bench b;
    test::ImageBuilder image = filler(400 * 1024);
    image.place(8 * 512, exif)
        .place(40 * 512, gif89)
        .place(60 * 512, jfif)
        .place(80 * 512, png)
        .place(100 * 512, gif87)
        .place(120 * 512, html)
        .place(140 * 512, lower);
    // GIF, JPEG and PNG are ticked together, so every footer rule meets the others' files.
    b.run(image, {"GIF Files", "JPEG Files", "PNG Files", "HTML Files"});

    EXPECT_EQ(b.carved("JPEGFile0.jpg"), exif); // past its thumbnail's FF D9
    EXPECT_EQ(b.carved("JPEGFile1.jpg"), jfif);
    EXPECT_EQ(b.carved("GIFFile0.gif"), gif89);
    EXPECT_EQ(b.carved("GIFFile1.gif"), gif87);
    EXPECT_EQ(b.carved("PNGFile0.png"), png);
    // Cut right after </html>, so the final newline stays behind.
    EXPECT_EQ(b.carved("HTMLFile0.html"), withoutLastByte(html));
    EXPECT_EQ(b.carved("HTMLFile1.html"), withoutLastByte(lower));
    EXPECT_EQ(b.files().size(), 7u);

    using Row = std::pair<std::int64_t, std::int64_t>;
    std::vector<Row> rows = b.rows();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<Row>{{8 * 512, 4074},
                                      {40 * 512, 419},
                                      {60 * 512, 958},
                                      {80 * 512, 1824},
                                      {100 * 512, 386},
                                      {120 * 512, 712},
                                      {140 * 512, 205}}));
    EXPECT_EQ(b.engine.state().filesCarvedTotal, 7);
    EXPECT_TRUE(b.engine.state().pdfHeaderIndex.empty());
}

// A JPEG ticked together with GIF ended at the first FF D9 that followed a 00 byte, running on
// into whatever lay after it.
TEST(HeaderFooterCarverTest, JpegEndsAtItsOwnFooterWhenGifIsTicked) {
    const std::string jfif = test::fixture("photo-jfif.jpg");
    ASSERT_NE(jfif[jfif.size() - 3], '\0');
    Bench b;
    test::ImageBuilder image = filler(64 * 1024);
    image.place(512, jfif).place(4096, bytes({0x00, 0xFF, 0xD9}));
    b.run(image, {"GIF Files", "JPEG Files"});
    EXPECT_EQ(b.carved("JPEGFile0.jpg"), jfif);
}

// The PNG was cut after the IEND chunk type, leaving out its CRC: every reader rejects that.
TEST(HeaderFooterCarverTest, PngKeepsTheCrcAfterIend) {
    const std::string png = test::fixture("image.png");
    Bench b;
    test::ImageBuilder image = filler(128 * 1024);
    image.place(1024, png);
    // Near the end: the CRC would lie beyond the evidence, and nothing is made up for it.
    const std::uint64_t last = 128 * 1024 - 2048;
    image.place(last, png).resize(last + png.size() - 2);
    b.run(image, {"PNG Files"});
    EXPECT_EQ(b.carved("PNGFile0.png"), png);
    EXPECT_EQ(b.carved("PNGFile1.png"), withoutLastByte(withoutLastByte(png)));
    EXPECT_EQ(b.rows()[0].second, 1824);
    EXPECT_EQ(b.rows()[1].second, 1822);
}

TEST(HeaderFooterCarverTest, FailedJpegCandidateTakesNoNumber) {
    const std::string jfif = test::fixture("photo-jfif.jpg");
    Bench b;
    test::ImageBuilder image = filler(64 * 1024);
    image.place(0, bytes({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43}))
        .place(2048, jfif)
        .place(8192, bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0xFF, 0xC1}))
        .place(16384, jfif);
    b.run(image, {"JPEG Files"});
    EXPECT_EQ(b.files(), (std::vector<std::string>{"disk~JPEGFile0.jpg", "disk~JPEGFile1.jpg"}));
    EXPECT_EQ(b.rows()[0].first, 2048);
    EXPECT_EQ(b.rows()[1].first, 16384);
    // Four candidates were indexed and counted in the status, two were carved.
    EXPECT_NE(std::find(b.host.statusTexts.begin(), b.host.statusTexts.end(), "Carving JPEGFile: 4 Of 4"),
              b.host.statusTexts.end());
}

TEST(HeaderFooterCarverTest, GifAndHtmlPlausibilityTests) {
    const std::string gif89 = test::fixture("image89a.gif");
    const std::string lower = test::fixture("page-lower.html");
    std::string gif88 = gif89;
    gif88[4] = '8';
    std::string broken = lower;
    broken[20] = '\n'; // inside the 16 bytes from 12 after <html>
    Bench b;
    test::ImageBuilder image = filler(96 * 1024);
    image.place(0, gif88).place(2048, gif89).place(8192, broken).place(16384, lower);
    b.run(image, {"GIF Files", "HTML Files"});
    EXPECT_EQ(b.files(), (std::vector<std::string>{"disk~GIFFile0.gif", "disk~HTMLFile0.html"}));
    EXPECT_EQ(b.carved("GIFFile0.gif"), gif89);
    EXPECT_EQ(b.carved("HTMLFile0.html"), withoutLastByte(lower));
}

// Without a footer a file gets the maximum size, or what is left of the evidence.
TEST(HeaderFooterCarverTest, TiffRunsToTheMaximumOrTheEvidenceEnd) {
    const std::string tif = test::fixture("image.tif");
    Bench b(2);
    test::ImageBuilder image = filler(40 * 1024);
    image.place(0, test::bytes({'M', 'M', '*'})).place(4096, tif);
    const std::uint64_t nearEnd = 40 * 1024 - 1024;
    image.place(nearEnd, tif.substr(0, 1024)); // ends 1024 bytes after the header
    b.run(image, {"TIFF Files"});
    // The three header alternatives are three passes; the numbers run on across them.
    EXPECT_EQ(b.carved("TIFFile0.tif"), image.data().substr(0, 2048));
    EXPECT_EQ(b.carved("TIFFile1.tif"), tif.substr(0, 2048));
    EXPECT_EQ(b.carved("TIFFile2.tif"), tif.substr(0, 1024));
    for (const char* label : {"TIFFile(1)", "TIFFile(2)", "TIFFile(3)"}) {
        EXPECT_TRUE(std::any_of(b.host.statusTexts.begin(), b.host.statusTexts.end(),
                                [&](const std::string& t) { return t.find(label) != std::string::npos; }))
            << label;
    }
}

TEST(HeaderFooterCarverTest, FooterInFirstBlockMayExceedTheMaximum) {
    const std::string exif = test::fixture("photo-exif.jpg");
    Bench b(1);
    test::ImageBuilder image = filler(128 * 1024);
    image.place(0, exif);
    // Within the last block the footer counts only inside the maximum size.
    image.place(128 * 1024 - 8192, exif);
    b.run(image, {"JPEG Files"});
    EXPECT_EQ(b.carved("JPEGFile0.jpg"), exif);
    EXPECT_EQ(b.carved("JPEGFile1.jpg"), exif.substr(0, 1024));
}

TEST(HeaderFooterCarverTest, FooterStraddlingABlockBoundaryIsNotFound) {
    const std::string png = test::fixture("image.png");
    const std::string head = png.substr(0, 100);
    const std::string tail = png.substr(png.size() - 12); // length, IEND, CRC
    Bench b(64);
    test::ImageBuilder image = filler(128 * 1024);
    const std::uint64_t h = 4096;
    image.place(h, head).place(h + 32768 - 2, "IEND").place(h + 40000, tail);
    b.run(image, {"PNG Files"});
    EXPECT_EQ(b.carved("PNGFile0.png"), image.data().substr(h, 40000 + 12));
}

// Blocks are searched only while they begin within the maximum size of the header.
TEST(HeaderFooterCarverTest, FooterBeyondTheMaximumIsNotSought) {
    const std::string png = test::fixture("image.png");
    Bench b(2);
    test::ImageBuilder image = filler(160 * 1024);
    image.place(0, png.substr(0, 100)).place(40000, png.substr(png.size() - 12));
    b.run(image, {"PNG Files"});
    EXPECT_EQ(b.carved("PNGFile0.png"), image.data().substr(0, 2048));
}

TEST(HeaderFooterCarverTest, UpperCaseClosingTagCountsInFullBlocksOnly) {
    std::string page = "<html><head><title>Upper case end</title></head><body>x</body></HTML>";
    Bench b(2);
    test::ImageBuilder image = filler(96 * 1024);
    image.place(0, page).place(96 * 1024 - 4096, page);
    b.run(image, {"HTML Files"});
    EXPECT_EQ(b.carved("HTMLFile0.html"), page);
    EXPECT_EQ(b.carved("HTMLFile1.html"), image.data().substr(96 * 1024 - 4096, 2048));
}

TEST(HeaderFooterCarverTest, RefusedFreeSpaceLeavesNoFileBehind) {
    Bench b;
    b.engine.output().setFreeSpaceProbe([](const std::string&) { return std::optional<std::uint64_t>(100); });
    test::ImageBuilder image = filler(64 * 1024);
    image.place(512, test::fixture("image.png"));
    b.run(image, {"PNG Files"});
    EXPECT_TRUE(b.files().empty());
    EXPECT_TRUE(b.rows().empty());
    const auto texts = b.host.messageTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        "No free space availabe on the destination drive.\nCarving can't be continued."),
              texts.end());
    EXPECT_EQ(texts.back().rfind("Carving Completed Partially.", 0), 0u);
    EXPECT_TRUE(b.engine.state().pdfHeaderIndex.empty());
}

// The PDF footer pass, driven directly: its candidates come from the size-driven pass.
struct PdfBench : Bench {
    CarvePass pass;
    explicit PdfBench(const test::ImageBuilder& image) {
        image.writeTo(evidence);
        CarveState& st = engine.state();
        st.carvingPath = dir / "out";
        EXPECT_TRUE(engine.output().ensureCarvingPath(st.carvingPath));
        EXPECT_TRUE(engine.output().createOutputFolder(st.carvingPath, evidence));
        EXPECT_EQ(engine.output().openReport(evidence), Output::ReportStatus::Created);
        st.maxFileSizeBytes = 1024 * 1024;
        st.carvingInProgress = 1;
        pass = engine.makePass(kindInfo(kind::Pdf), CarverFamily::HeaderFooter, evidence);
    }
    bool carve() {
        bool result = HeaderFooterCarver::carve(engine, pass);
        engine.output().closeReport();
        return result;
    }
};

TEST(HeaderFooterCarverTest, PdfPassNumbersOnFromTheSizedFiles) {
    const std::string pdf = test::fixture("plain.pdf");
    test::ImageBuilder image = filler(128 * 1024);
    const std::int64_t end = 128 * 1024;
    image.place(4096, pdf).place(65536, pdf).place(static_cast<std::uint64_t>(end - 100), "%PDF-1.4");
    PdfBench b(image);
    b.engine.state().pdfHeaderIndex = {4096, 65536, end - 100};
    b.engine.state().pdfCarvedBySize = 3;
    EXPECT_TRUE(b.carve());
    EXPECT_EQ(b.carved("PDFFile3.pdf"), withoutLastByte(pdf));
    EXPECT_EQ(b.carved("PDFFile4.pdf"), withoutLastByte(pdf));
    // A header 100 bytes before the end without a footer: the last 100 bytes.
    EXPECT_EQ(b.carved("PDFFile5.pdf"), image.data().substr(static_cast<std::size_t>(end - 100)));
    EXPECT_EQ(b.rows().size(), 3u);
    EXPECT_TRUE(b.engine.state().pdfHeaderIndex.empty());
}

TEST(HeaderFooterCarverTest, ConfirmedStopEndsThePassAndEmptiesTheLists) {
    const std::string pdf = test::fixture("plain.pdf");
    test::ImageBuilder image = filler(64 * 1024);
    image.place(0, pdf).place(32768, pdf);
    PdfBench b(image);
    b.engine.state().pdfHeaderIndex = {0, 32768};
    b.host.stopAt = 2;
    b.host.answer = [](const test::Message&) { return answerYes; };
    EXPECT_FALSE(b.carve());
    EXPECT_EQ(b.files(), (std::vector<std::string>{"disk~PDFFile0.pdf"}));
    EXPECT_EQ(b.engine.state().carvingInProgress, 0);
    EXPECT_TRUE(b.engine.state().pdfHeaderIndex.empty());
    EXPECT_EQ(b.host.messageTexts(), (std::vector<std::string>{CarveEngine::stopQuestion}));
}

TEST(HeaderFooterCarverTest, UnreadableEvidenceIsReported) {
    test::ImageBuilder image = filler(1024);
    PdfBench b(image);
    b.pass.evidencePath = b.dir / "missing.img";
    b.engine.state().pdfHeaderIndex = {0};
    EXPECT_FALSE(b.carve());
    EXPECT_EQ(b.host.messageTexts(),
              (std::vector<std::string>{"Evidence file open failed: " + b.pass.evidencePath +
                                        ": No such file or directory"}));
    EXPECT_TRUE(b.engine.state().pdfHeaderIndex.empty());
}

} // namespace
