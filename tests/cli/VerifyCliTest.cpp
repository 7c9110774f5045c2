// morrow-cli --verify on an image of whole and cut files: each carved file's verdict is in the
// DFXML (well-formed, in Morrow's namespace) and in the table's opens and damaged columns; a run
// without --verify prints the table it always did; a report-only run checks nothing.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

using namespace morrow;

namespace {

// The verdict of the file object named `name` in the DFXML.
std::string verdictOf(const std::string& xml, const std::string& name) {
    const std::size_t at = xml.find(name + "</filename>");
    if (at == std::string::npos) {
        return "(no file object)";
    }
    const std::size_t end = xml.find("</fileobject>", at);
    static const std::regex verdict("<morrow:verdict state=\"([a-z-]+)\"(/>|>([^<]*)</morrow:verdict>)");
    std::smatch m;
    const std::string body = xml.substr(at, end - at);
    if (!std::regex_search(body, m, verdict)) {
        return "(no verdict)";
    }
    return m[3].matched ? std::string(m[1]) + ": " + std::string(m[3]) : std::string(m[1]);
}

// A whole ZIP, a whole BMP and a JPEG whose middle sector was overwritten with zeros.
void buildImage(const std::string& path) {
    test::ImageBuilder(40960)
        .place(4096, test::fixture("two-stored.zip"))
        .place(16384, test::fixture("bitmap40.bmp"))
        .place(24576, test::fixture("photo-exif.jpg"))
        .place(24576 + 1536, std::string(512, '\0'))
        .writeTo(path);
}

TEST(VerifyCliTest, VerdictsInTheDfxmlAndTheTable) {
    test::TempDir dir;
    const std::string evidence = dir / "disk.img";
    buildImage(evidence);
    const test::ChildResult result =
        test::runCliWith({"--verify", "--dfxml", "-y", "-t", "zip,bmp,jpeg", "-o", dir / "out", evidence});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string dfxml = dir / "out/disk/disk~Report.dfxml";
    EXPECT_EQ(std::system(("xmllint --noout '" + dfxml + "'").c_str()), 0);
    const std::string xml = test::readFile(dfxml);
    EXPECT_NE(xml.find("xmlns:morrow=\"urn:morrow:dfxml:1\""), std::string::npos);
    // The decoders behind the verdicts are named with their versions.
    EXPECT_TRUE(
        std::regex_search(xml, std::regex("<library name=\"libjpeg-turbo\" version=\"[0-9]+\\.[0-9.]+\"/>")))
        << xml.substr(0, 1200);
    EXPECT_EQ(verdictOf(xml, "disk~ZIPFile0.zip"), "opens");
    EXPECT_EQ(verdictOf(xml, "disk~BMPFile0.bmp"), "opens");
    EXPECT_TRUE(std::regex_match(verdictOf(xml, "disk~JPEGFile0.jpg"),
                                 std::regex("damaged: JPEG data at byte [0-9]+: Corrupt JPEG data: .*")))
        << verdictOf(xml, "disk~JPEGFile0.jpg");
    EXPECT_TRUE(std::regex_search(result.out, std::regex("Carved +files +bytes +opens +damaged\n")))
        << result.out;
    EXPECT_TRUE(std::regex_search(result.out, std::regex("\nall kinds +3 +[0-9]+ +2 +1\n"))) << result.out;
}

TEST(VerifyCliTest, WithoutVerifyTheTableIsAsItWasAndReportOnlyChecksNothing) {
    test::TempDir dir;
    const std::string evidence = dir / "disk.img";
    buildImage(evidence);
    const test::ChildResult plain = test::runCliWith({"-y", "-t", "zip,bmp,jpeg", "-o", dir / "a", evidence});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_TRUE(std::regex_search(plain.out, std::regex("Carved +files +bytes\n"))) << plain.out;
    EXPECT_EQ(plain.out.find("opens"), std::string::npos);

    const test::ChildResult listed =
        test::runCliWith({"--list", "--verify", "--dfxml", "-y", "-t", "zip", "-o", dir / "b", evidence});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::string xml = test::readFile(dir / "b/disk/disk~Report.dfxml");
    EXPECT_EQ(verdictOf(xml, "disk~ZIPFile0.zip"), "not-checked");
    EXPECT_TRUE(std::regex_search(listed.out, std::regex("\nall kinds +1 +[0-9]+ +0 +0\n"))) << listed.out;
}

} // namespace
