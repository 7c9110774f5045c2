// morrow-cli --verify on an image of whole and damaged files: each carved file's verdict is in the
// DFXML (well-formed, in Morrow's namespace) and in the table's opens and damaged columns; a run
// without --verify prints the table it always did; a report-only run checks nothing.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
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

// What the image holds, each file whole or with one sector of it overwritten, and the verdict its
// file object gets in the DFXML (a regular expression).
struct Placed {
    std::int64_t at;
    const char* fixture;
    std::int64_t overwritten; // the offset in the file of a sector overwritten, or -1
    const char* carved;
    const char* verdict;
};
const Placed placed[] = {
    {4096, "two-stored.zip", -1, "disk~ZIPFile0.zip", "opens"},
    {16384, "bitmap40.bmp", -1, "disk~BMPFile0.bmp", "opens"},
    {24576, "photo-exif.jpg", 1536, "disk~JPEGFile0.jpg",
     "damaged: JPEG data at byte [0-9]+: Corrupt JPEG data: .*"},
    {32768, "image.png", -1, "disk~PNGFile0.png", "opens"},
    {40960, "plain.pdf", -1, "disk~PDFFile0.pdf", "opens"},
    {61440, "pages.tif", -1, "disk~TIFFile0.tif", "opens"},
    {73728, "page.html", -1, "disk~HTMLFile0.html", "not-checked"},
    {81920, "image-large.png", 600 * 512, "disk~PNGFile1.png",
     "damaged: PNG chunk IDAT at byte [0-9]+: CRC mismatch"},
};

void buildImage(const std::string& path) {
    test::ImageBuilder image(1400 * 1024);
    for (const Placed& p : placed) {
        image.place(p.at, test::fixture(p.fixture));
        if (p.overwritten >= 0) {
            image.place(p.at + p.overwritten, std::string(512, '\x5A'));
        }
    }
    image.writeTo(path);
}

TEST(VerifyCliTest, VerdictsInTheDfxmlAndTheTable) {
    test::TempDir dir;
    const std::string evidence = dir / "disk.img";
    buildImage(evidence);
    const test::ChildResult result = test::runCliWith(
        {"--verify", "--dfxml", "-y", "-t", "all", "-s", "2048", "-o", dir / "out", evidence});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string dfxml = dir / "out/disk/disk~Report.dfxml";
    EXPECT_EQ(std::system(("xmllint --noout '" + dfxml + "'").c_str()), 0);
    const std::string xml = test::readFile(dfxml);
    EXPECT_NE(xml.find("xmlns:morrow=\"urn:morrow:dfxml:1\""), std::string::npos);
    // The decoders behind the verdicts are named with their versions.
    EXPECT_TRUE(
        std::regex_search(xml, std::regex("<library name=\"libjpeg-turbo\" version=\"[0-9]+\\.[0-9.]+\"/>")))
        << xml.substr(0, 1200);
    int opens = 0;
    int damaged = 0;
    for (const Placed& p : placed) {
        EXPECT_TRUE(std::regex_match(verdictOf(xml, p.carved), std::regex(p.verdict)))
            << p.fixture << ": " << verdictOf(xml, p.carved);
        opens += std::string(p.verdict) == "opens" ? 1 : 0;
        damaged += std::string(p.verdict).rfind("damaged", 0) == 0 ? 1 : 0;
    }
    EXPECT_TRUE(std::regex_search(result.out, std::regex("Carved +files +bytes +opens +damaged\n")))
        << result.out;
    EXPECT_TRUE(std::regex_search(result.out, std::regex("\nall kinds +" + std::to_string(std::size(placed)) +
                                                         " +[0-9]+ +" + std::to_string(opens) + " +" +
                                                         std::to_string(damaged) + "\n")))
        << result.out;
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
