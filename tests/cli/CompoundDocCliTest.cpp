#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace morrow;

namespace {

TEST(CompoundDocCliTest, CarvesRealOfficeDocumentsWholeUnderTheirExtensions) {
    test::TempDir dir;
    const std::string doc = test::fixture("doc.doc");
    const std::string xls = test::fixture("sheet.xls");
    const std::string ppt = test::fixture("slides.ppt");
    test::ImageBuilder image(128 * 1024);
    image.randomFill(77).place(512, ppt).place(65536, xls).place(90112, doc);
    image.writeTo(dir / "case.img");

    std::string out, err;
    EXPECT_EQ(test::runCli({"-t", "cdoc", "-o", dir / "out", "-y", "-q", dir / "case.img"}, &out, &err), 0)
        << err;
    EXPECT_EQ(test::readFile(dir / "out/case/case~CDocFile0.ppt"), ppt);
    EXPECT_EQ(test::readFile(dir / "out/case/case~CDocFile1.xls"), xls);
    EXPECT_EQ(test::readFile(dir / "out/case/case~CDocFile2.doc"), doc);
    EXPECT_EQ(test::listFolder(dir / "out/case").size(), 4u);
}

} // namespace
