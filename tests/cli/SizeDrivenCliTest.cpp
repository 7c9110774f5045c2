#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using morrow::test::fixture;
using morrow::test::readFile;

// The console front end carves every size-driven kind from one image, one report row each.
TEST(SizeDrivenCliTest, CarvesSizeDrivenKindsFromAnImage) {
    morrow::test::TempDir dir;
    morrow::test::ImageBuilder image(0x80000);
    image.randomFill(21)
        .place(0x00200, fixture("bitmap40.bmp"))
        .place(0x10000, fixture("image.psd"))
        .place(0x20000, fixture("linearized.pdf"))
        .place(0x30000, fixture("two-stored.zip"))
        .place(0x40000, fixture("clip.avi"))
        .place(0x50000, fixture("clip.mp4"))
        .place(0x60000, fixture("clip.wmv"));
    image.writeTo(dir / "disk.img");

    std::string out;
    std::string err;
    const int status = morrow::test::runCli(
        {"-o", dir / "out", "-t", "bmp,psd,pdf,zip,video", "-s", "16", "-y", "-q", dir / "disk.img"}, &out,
        &err);
    ASSERT_EQ(status, 0) << out << err;

    const std::string folder = dir / "out/disk";
    EXPECT_EQ(morrow::test::listFolder(folder),
              (std::vector<std::string>{"disk~BMPFile0.bmp", "disk~PDFFile0.pdf", "disk~PSDFile0.psd",
                                        "disk~Report.xls", "disk~VideoFiles0.avi", "disk~VideoFiles0.mp4",
                                        "disk~VideoFiles0.wmv", "disk~ZIPFile0.zip"}));
    EXPECT_EQ(readFile(folder + "/disk~BMPFile0.bmp"), fixture("bitmap40.bmp"));
    EXPECT_EQ(readFile(folder + "/disk~PSDFile0.psd"), image.data().substr(0x10000, 16384));
    EXPECT_EQ(readFile(folder + "/disk~PDFFile0.pdf"), fixture("linearized.pdf"));
    EXPECT_EQ(readFile(folder + "/disk~ZIPFile0.zip"), fixture("two-stored.zip"));
    EXPECT_EQ(readFile(folder + "/disk~VideoFiles0.avi"), fixture("clip.avi"));
    EXPECT_EQ(readFile(folder + "/disk~VideoFiles0.mp4"), fixture("clip.mp4"));
    EXPECT_EQ(readFile(folder + "/disk~VideoFiles0.wmv"), fixture("clip.wmv"));

    const std::string report = readFile(folder + "/disk~Report.xls");
    std::size_t rows = 0;
    for (std::size_t pos = report.find("\r\n"); pos != std::string::npos;
         pos = report.find("\r\n", pos + 2)) {
        ++rows;
    }
    EXPECT_EQ(rows, 7u);
}
