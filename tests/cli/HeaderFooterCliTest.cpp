#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace morrow;

namespace {

// morrow-cli on an image holding real pictures, pages and a PDF: each footer-ended file comes out
// whole with one report row.
TEST(HeaderFooterCliTest, CarvesPicturesAndPagesWhole) {
    test::TempDir dir;
    struct Placed {
        const char* fixture;
        std::uint64_t offset;
        const char* carved;
        std::size_t dropped; // bytes after the footer that stay behind
    };
    const Placed placed[] = {
        {"photo-exif.jpg", 4096, "disk~JPEGFile0.jpg", 0}, {"image89a.gif", 16384, "disk~GIFFile0.gif", 0},
        {"image.png", 24576, "disk~PNGFile0.png", 0},      {"photo-jfif.jpg", 32768, "disk~JPEGFile1.jpg", 0},
        {"page.html", 49152, "disk~HTMLFile0.html", 1},    {"image87a.gif", 65536, "disk~GIFFile1.gif", 0},
    };
    test::ImageBuilder image(256 * 1024);
    image.randomFill(7).place(98304, test::fixture("plain.pdf"));
    for (const Placed& p : placed) {
        image.place(p.offset, test::fixture(p.fixture));
    }
    image.writeTo(dir / "disk.img");

    std::string out;
    std::string err;
    int status = test::runCli({"-o", dir / "out", "-t", "pictures,html,pdf", "-y", "-q", dir / "disk.img"},
                              &out, &err);
    ASSERT_EQ(status, 0) << out << err;

    const std::string report = test::readFile(dir / "out/disk/disk~Report.xls");
    for (const Placed& p : placed) {
        const std::string original = test::fixture(p.fixture);
        const std::string path = dir / ("out/disk/" + std::string(p.carved));
        EXPECT_EQ(test::readFile(path), original.substr(0, original.size() - p.dropped)) << p.carved;
        std::string row = path + "\t" + std::to_string(p.offset) + "\t";
        EXPECT_NE(report.find(row), std::string::npos) << p.carved;
    }
}

} // namespace
