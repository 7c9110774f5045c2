#include "carve/SizeDrivenCarver.h"
#include "CarveEngine.h"
#include "TestSupport.h"

#include "platform/SystemInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

using namespace morrow;
using morrow::test::bytes;
using morrow::test::FakeHost;
using morrow::test::fixture;
using morrow::test::ImageBuilder;
using morrow::test::readFile;

namespace {

struct ReportRow {
    std::string path;
    std::int64_t offset = 0;
    std::int64_t size = 0;
};

// One run of the engine over one evidence image, as the dialog would start it.
class CarveRun {
  public:
    CarveRun() { host.carvingPath = dir / "out"; }

    void go(const std::string& image, std::initializer_list<const char*> rows, std::int32_t maxKB = 16) {
        morrow::test::writeFile(dir / "disk.img", image);
        host.evidence = {dir / "disk.img"};
        host.maxFileSizeKB = maxKB;
        host.tick(rows);
        engine.startRun();
    }

    std::string folder() const { return dir / "out/disk"; }
    std::string carved(const std::string& name) const { return readFile(folder() + "/disk~" + name); }
    std::vector<std::string> files() const { return morrow::test::listFolder(folder()); }

    std::vector<ReportRow> report() const {
        const std::string text = readFile(folder() + "/disk~Report.xls");
        std::vector<ReportRow> rows;
        std::size_t pos = text.find("\r\n");
        while (pos != std::string::npos) {
            std::size_t next = text.find("\r\n", pos + 2);
            std::string line =
                text.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
            std::vector<std::string> cells;
            std::size_t start = 0;
            for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
                cells.push_back(line.substr(start, tab - start));
            }
            if (cells.size() >= 5) {
                rows.push_back(ReportRow{cells[0], std::stoll(cells[1]), std::stoll(cells[4])});
            }
            pos = next;
        }
        return rows;
    }

    bool summaryComplete() const {
        for (const auto& m : host.messages) {
            if (m.title == "Completed..") {
                return m.text.rfind("Carving Completed Successfully.", 0) == 0;
            }
        }
        return false;
    }

    morrow::test::TempDir dir;
    FakeHost host;
    CarveEngine engine{host};
};

std::string withByte(std::string data, std::size_t at, int value) {
    data[at] = static_cast<char>(value);
    return data;
}

constexpr std::uint64_t slot = 0x10000; // fixtures lie 64 KiB apart, each at a sector start

} // namespace

TEST(SizeDrivenCarverTest, CarvesEveryKindFromRealFiles) {
    ImageBuilder image(0x120000);
    image.randomFill(11);
    const std::vector<std::pair<std::uint64_t, std::string>> layout = {
        {0x200, fixture("bitmap40.bmp")},
        {1 * slot, withByte(fixture("bitmap40.bmp"), 14, 0x6C)}, // refused: takes no number
        {2 * slot, fixture("bitmap12.bmp")},
        {3 * slot, fixture("image.psd")},
        {4 * slot, fixture("linearized.pdf")},
        {5 * slot, fixture("plain.pdf")},
        {6 * slot, fixture("aligned.zip")}, // its second local header, at +512, is indexed too
        {7 * slot, fixture("with-comment.zip")},
        {8 * slot, fixture("data-descriptor.zip")},
        {8 * slot + 1024, fixture("two-stored.zip")},
        {9 * slot, fixture("clip-cdxa.dat")},
        {10 * slot, fixture("clip.avi")},
        {11 * slot, fixture("clip.mp4")},
        {12 * slot, fixture("clip-isom.mp4")}, // refused brand
        {13 * slot, fixture("clip-moov.mov")},
        {14 * slot, fixture("clip.mov")}, // brand "qt  ": refused
        {15 * slot, fixture("clip.3gp")},
        {16 * slot, fixture("clip.wmv")},
    };
    for (const auto& [offset, data] : layout) {
        image.place(offset, data);
    }

    CarveRun run;
    std::vector<std::int64_t> pdfLeftOver;
    std::int32_t pdfBySize = -1;
    CarveEngine::Carvers carvers = CarveEngine::standardCarvers();
    carvers.headerFooter = [&](PassContext& context, const CarvePass& pass) {
        if (pass.kindTag == "PDFFile") {
            pdfLeftOver = context.pdfHeaderIndex().toVector();
            pdfBySize = context.pdfCarvedBySize();
            context.pdfHeaderIndex().clear();
        }
        return true;
    };
    run.engine.setCarvers(carvers);
    run.go(image.data(), {"BMP Files", "PSD Files", "PDF Files", "ZIP Files", "Video Files"});

    const std::string& d = image.data();
    const std::map<std::string, std::string> expected = {
        {"BMPFile0.bmp", fixture("bitmap40.bmp")},
        {"BMPFile1.bmp", fixture("bitmap12.bmp")},
        {"PSDFile0.psd", d.substr(3 * slot, 16384)}, // always the maximum size
        {"PDFFile0.pdf", fixture("linearized.pdf")},
        {"ZIPFile0.zip", fixture("aligned.zip")},
        {"ZIPFile1.zip", fixture("with-comment.zip").substr(0, 296)}, // the comment is left out
        {"ZIPFile2.zip", fixture("data-descriptor.zip")},
        {"ZIPFile3.zip", fixture("two-stored.zip")},
        {"VideoFiles0.dat", fixture("clip-cdxa.dat")},
        {"VideoFiles1.avi", fixture("clip.avi")},
        {"VideoFiles0.mp4", fixture("clip.mp4")},
        {"VideoFiles1.mov", fixture("clip-moov.mov")},
        {"VideoFiles2.3gp", fixture("clip.3gp")},
        {"VideoFiles0.wmv", fixture("clip.wmv")},
    };
    std::vector<std::string> names = {"disk~Report.xls"};
    for (const auto& [name, data] : expected) {
        names.push_back("disk~" + name);
        EXPECT_EQ(run.carved(name), data) << name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(run.files(), names);
    EXPECT_TRUE(run.summaryComplete());
    EXPECT_EQ(run.engine.state().filesCarvedTotal, 14);
    EXPECT_EQ(pdfLeftOver, std::vector<std::int64_t>{static_cast<std::int64_t>(5 * slot)});
    EXPECT_EQ(pdfBySize, 1);

    // One row per file, with the offset it was carved from and its size.
    const std::vector<ReportRow> rows = run.report();
    ASSERT_EQ(rows.size(), 14u);
    EXPECT_EQ(rows[0].path, run.folder() + pathSeparator + "disk~BMPFile0.bmp");
    EXPECT_EQ(rows[0].offset, 0x200);
    EXPECT_EQ(rows[1].offset, static_cast<std::int64_t>(2 * slot));
    EXPECT_EQ(rows[2].size, 16384);
    EXPECT_TRUE(std::find(run.host.statusTexts.begin(), run.host.statusTexts.end(),
                          "Carving BMPFile: 2 Of 3") != run.host.statusTexts.end());
}

TEST(SizeDrivenCarverTest, LengthsAreClippedAtTheEndOfTheEvidence) {
    // A PSD and an AVI near the end: the PSD takes the maximum size, the AVI its stated size,
    // both cut where the evidence ends; the rows show the clipped sizes.
    const std::string avi = fixture("clip.avi");
    ImageBuilder image(0x8000);
    image.randomFill(5).place(0x200, fixture("image.psd")).place(0x8000 - 0x1000, avi.substr(0, 0x1000));
    CarveRun run;
    run.go(image.data(), {"PSD Files", "Video Files"});
    EXPECT_EQ(run.carved("PSDFile0.psd"), image.data().substr(0x200, 16384));
    EXPECT_EQ(run.carved("VideoFiles0.avi"), avi.substr(0, 0x1000));
    const std::vector<ReportRow> rows = run.report();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].size, 0x1000);
}

TEST(SizeDrivenCarverTest, FreeSpaceIsTestedForTheUnclippedLength) {
    // 9364 bytes of PSD remain before the end, but the maximum size is what must fit.
    const std::string psd = fixture("image.psd");
    ImageBuilder image(0x6000);
    image.randomFill(6).place(0x6000 - 0x2600, psd.substr(0, 0x2600));
    CarveRun run;
    run.engine.output().setFreeSpaceProbe(
        [](const std::string&) { return std::optional<std::uint64_t>(12000); });
    run.go(image.data(), {"PSD Files"});
    EXPECT_EQ(run.files(), std::vector<std::string>{"disk~Report.xls"});
    EXPECT_FALSE(run.summaryComplete());
    EXPECT_TRUE(run.report().empty());
}

struct HostileRow {
    const char* name;
    std::string header;
    const char* kind;
};

// Rows print as their names in test listings.
void PrintTo(const HostileRow& row, std::ostream* os) {
    *os << row.name;
}

class SizeDrivenCarverHostileTest : public testing::TestWithParam<HostileRow> {};

// Lengths far beyond the evidence: with room to spare the file stops at the end of the evidence,
// on a volume too small for the stated length the run ends; either way nothing of that length
// is ever held in memory.
TEST_P(SizeDrivenCarverHostileTest, StatedLengthNeverSizesABuffer) {
    const std::uint64_t size = 48ull << 20;
    ImageBuilder image(size);
    image.place(0x400, GetParam().header);
    const ResourceUsage before = resourceUsage();

    CarveRun roomy;
    roomy.engine.output().setFreeSpaceProbe(
        [](const std::string&) { return std::optional<std::uint64_t>(std::uint64_t{1} << 63); });
    roomy.go(image.data(), {GetParam().kind});
    const std::vector<ReportRow> rows = roomy.report();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].size, static_cast<std::int64_t>(size - 0x400));

    CarveRun full;
    full.engine.output().setFreeSpaceProbe(
        [](const std::string&) { return std::optional<std::uint64_t>(std::uint64_t{1} << 30); });
    full.go(image.data(), {GetParam().kind});
    EXPECT_TRUE(full.report().empty());
    EXPECT_FALSE(full.summaryComplete());

    const ResourceUsage after = resourceUsage();
    // The image itself is held by the test; the carve must add no copy of its length.
    EXPECT_LT(after.peakResidentKiB - before.peakResidentKiB, 24u * 1024) << "KiB";
}

const std::string asfHeader = bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11}) + std::string(22, 'h') +
                              bytes({0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11}) + std::string(32, 'f') +
                              std::string(7, '\0') + "\x80";

INSTANTIATE_TEST_SUITE_P(
    Rows, SizeDrivenCarverHostileTest,
    testing::Values(HostileRow{"RiffSizeAllOnes",
                               "RIFF\xFF\xFF\xFF\xFF"
                               "AVI LIST",
                               "Video Files"},
                    HostileRow{"AsfSizeTwoToThe63", asfHeader, "Video Files"},
                    HostileRow{"PdfTwentyDigitL",
                               "%PDF-1.5\n1 0 obj << /Linearized 1 /L 99999999999999999999 >>", "PDF Files"},
                    HostileRow{"QuickTimeHugeMdat",
                               std::string("\0\0\0\x18"
                                           "ftypmp42",
                                           12) +
                                   std::string(12, 'm') +
                                   "\xFF\xFF\xFF\xF0"
                                   "mdat",
                               "Video Files"}),
    [](const testing::TestParamInfo<HostileRow>& row) { return std::string(row.param.name); });

// Broke: a Stop confirmed while the scan found no candidate let the pass return as if complete,
// so the run went on with the next kind after the user had stopped it.
TEST(SizeDrivenCarverTest, StopDuringAScanWithoutCandidatesEndsTheRun) {
    ImageBuilder image(0x2000);
    image.randomFill(8).place(0x1000, fixture("image.psd").substr(0, 0x400));
    CarveRun run;
    run.host.stopAt = 1; // the scan's first sector
    run.host.answer = [](const morrow::test::Message& m) {
        return m.text == CarveEngine::stopQuestion ? answerYes : answerNo;
    };
    run.go(image.data(), {"BMP Files", "PSD Files"});
    EXPECT_EQ(run.files(), std::vector<std::string>{"disk~Report.xls"});
    EXPECT_FALSE(run.summaryComplete());
    EXPECT_TRUE(run.engine.state().pdfHeaderIndex.empty());
}

struct StopRow {
    const char* name;
    int answer;
    std::size_t files;
};

// Rows print as their names in test listings.
void PrintTo(const StopRow& row, std::ostream* os) {
    *os << row.name;
}

class SizeDrivenCarverStopTest : public testing::TestWithParam<StopRow> {};

TEST_P(SizeDrivenCarverStopTest, StopAtTheSecondCandidate) {
    ImageBuilder image(0x4000); // 32 sectors: the scan polls 32 times, then once per candidate
    image.randomFill(9);
    for (std::uint64_t at : {0x0u, 0x1000u, 0x2000u}) {
        image.place(at, fixture("bitmap12.bmp"));
    }
    CarveRun run;
    run.host.stopAt = 34;
    const int answer = GetParam().answer;
    run.host.answer = [answer](const morrow::test::Message& m) {
        return m.text == CarveEngine::stopQuestion ? answer : answerNo;
    };
    run.go(image.data(), {"BMP Files"});
    EXPECT_EQ(run.report().size(), GetParam().files);
    EXPECT_EQ(run.summaryComplete(), GetParam().files == 3);
}

INSTANTIATE_TEST_SUITE_P(Rows, SizeDrivenCarverStopTest,
                         testing::Values(StopRow{"Confirmed", answerYes, 1},
                                         StopRow{"Declined", answerNo, 3}),
                         [](const testing::TestParamInfo<StopRow>& row) {
                             return std::string(row.param.name);
                         });
