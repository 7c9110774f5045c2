#include "output/DfxmlReport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace morrow;

namespace {

// A file in several runs gets one byte_run per run, each at its place in the file; what a run
// claims past the end of the evidence is a zero fill.
TEST(DfxmlReportTest, EveryRunOfAFileIsABytesRunAtItsPlaceInTheFile) {
    test::TempDir tmp;
    DfxmlReport report;
    ASSERT_TRUE(report.begin(tmp / "r.dfxml", DfxmlCreator{"Morrow", "0", "test", "2026-01-01T00:00:00Z"}));
    CarvedFile file;
    file.path = "/out/disk~JPEGFile0.jpg";
    file.runs = {{4096, 100}, {512, 1000}, {8000, 300}};
    report.addFile(file, 8192, nullptr);
    ASSERT_TRUE(report.finish(DfxmlSource{}, true));
    const std::string xml = test::readFile(tmp / "r.dfxml");
    EXPECT_NE(xml.find("<filesize>1400</filesize>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("      <byte_run offset=\"0\" img_offset=\"4096\" len=\"100\"/>\n"
                       "      <byte_run offset=\"100\" img_offset=\"512\" len=\"1000\"/>\n"
                       "      <byte_run offset=\"1100\" img_offset=\"8000\" len=\"192\"/>\n"
                       "      <byte_run offset=\"1292\" fill=\"0\" len=\"108\"/>\n"
                       "    </byte_runs>"),
              std::string::npos)
        << xml;
}

} // namespace
