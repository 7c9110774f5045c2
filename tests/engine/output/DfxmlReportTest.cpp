#include "output/DfxmlReport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace morrow;

namespace {

// A file in several runs gets one byte_run per run, each at its place in the file; what a run
// claims past the end of the evidence is a zero fill.
TEST(DfxmlReportTest, EveryRunOfAFileIsABytesRunAtItsPlaceInTheFile) {
    test::TempDir tmp;
    DfxmlReport report;
    ASSERT_TRUE(
        report.begin(tmp / "r.dfxml", DfxmlCreator{"Morrow", "0", "test", "2026-01-01T00:00:00Z", {}}));
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

// A verdict lands in its own file's object, however many files came after it; a fault with markup,
// bytes XML cannot carry or more text than the place holds stays well-formed, cut short.
TEST(DfxmlReportTest, VerdictsFillTheirFilesPlacesLater) {
    test::TempDir tmp;
    DfxmlReport report;
    report.holdVerdicts(true);
    ASSERT_TRUE(
        report.begin(tmp / "r.dfxml", DfxmlCreator{"Morrow", "0", "test", "2026-01-01T00:00:00Z", {}}));
    std::vector<std::uint64_t> places;
    for (int i = 0; i < 3; ++i) {
        CarvedFile file;
        file.path = "/out/f" + std::to_string(i);
        file.runs = {{512 * i, 100}};
        report.addFile(file, 8192, nullptr);
        places.push_back(report.lastVerdictPlace());
    }
    report.setVerdict(places[2], FileVerdict{FileVerdict::State::Opens, {}});
    report.setVerdict(places[0], FileVerdict{FileVerdict::State::Damaged,
                                             "ZIP member <a&b>\x01: " + std::string(900, 'x')});
    ASSERT_TRUE(report.finish(DfxmlSource{}, true));
#ifndef _WIN32
    EXPECT_EQ(std::system(("xmllint --noout '" + tmp / "r.dfxml" + "'").c_str()), 0);
#endif
    const std::string xml = test::readFile(tmp / "r.dfxml");
    EXPECT_NE(xml.find("xmlns:morrow=\"urn:morrow:dfxml:1\""), std::string::npos);
    const std::size_t f0 = xml.find("/out/f0"), f1 = xml.find("/out/f1"), f2 = xml.find("/out/f2");
    const std::size_t damaged =
        xml.find("<morrow:verdict state=\"damaged\" encoding=\"backslash-escaped\">ZIP "
                 "member &lt;a&amp;b&gt;\\x01: xxx");
    EXPECT_TRUE(damaged > f0 && damaged < f1) << xml;
    EXPECT_NE(xml.find("xxx...</morrow:verdict>"), std::string::npos);
    const std::size_t opens = xml.find("<morrow:verdict state=\"opens\"/>");
    EXPECT_TRUE(opens > f2 && opens != std::string::npos) << xml;
    EXPECT_EQ(xml.substr(f1, f2 - f1).find("morrow:verdict"), std::string::npos); // never given one
}

} // namespace
