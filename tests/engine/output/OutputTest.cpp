#include "output/Output.h"
#include "TestSupport.h"
#include "evidence/EvidenceReader.h"
#include "evidence/EvidenceSource.h"
#include "output/FileSink.h"

#include <memory>

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace morrow;
using namespace morrow::test;

namespace {

struct StemCase {
    const char* name;
    const char* path;
    const char* stem;
};

class OutputStemTest : public ::testing::TestWithParam<StemCase> {};

TEST_P(OutputStemTest, StemIsTheNameCutBeforeItsLastFullStop) {
    EXPECT_EQ(Output::evidenceStem(GetParam().path), GetParam().stem);
}

INSTANTIATE_TEST_SUITE_P(
    Stems, OutputStemTest,
    ::testing::Values(StemCase{"plain", "/ev/disk.P01", "disk"}, StemCase{"twoDots", "/ev/a.b.P01", "a.b"},
                      StemCase{"noDot", "/ev/disk", ""}, StemCase{"onlyExtension", "/ev/.P01", ""},
                      StemCase{"noFolder", "disk.img", "disk"}, StemCase{"dotInFolderOnly", "/ev.d/disk", ""},
                      // E01 and split images are named by their first file
                      StemCase{"ewfFirstSegment", "/ev/disk.E01", "disk"},
                      StemCase{"splitFirstPiece", "/ev/disk.001", "disk"},
                      StemCase{"splitLetters", "/ev/disk.img.aa", "disk.img"}),
    [](const auto& row) { return std::string(row.param.name); });

// Output pointed at a temporary carving path, with no engine around it.
struct OutputFixture : ::testing::Test {
    TempDir tmp;
    Output out;
    std::unique_ptr<EvidenceSource> source;
    std::unique_ptr<EvidenceReader> reader;
    OutputOutcome last; // what the last carveFile said

    bool createOutputFolder(const std::string& evidence) {
        return out.createOutputFolder(tmp.path(), evidence);
    }
    std::string report(const std::string& evidence) {
        return readFile(out.outputFolder() + "/" + Output::evidenceStem(evidence) + "~Report.xls");
    }
    void openEvidence(const std::string& path) {
        std::string error;
        source = openEvidenceSource(path, error);
        ASSERT_TRUE(source) << error;
        reader = std::make_unique<EvidenceReader>(*source);
    }
    // Writes `runs` of the open evidence to `path` through the file sink, testing the free space
    // for `spaceNeeded`.
    bool carveFile(const std::string& path, std::vector<ByteRun> runs, std::uint64_t spaceNeeded) {
        CarvedFile file;
        file.runs = std::move(runs);
        file.spaceNeeded = spaceNeeded;
        file.path = path;
        FileSink sink(out);
        last = sink.accept(file, *reader);
        return last.ok;
    }
    bool carveFile(const std::string& path, std::int64_t offset, std::uint64_t length,
                   std::uint64_t spaceNeeded) {
        return carveFile(path, {ByteRun{offset, length}}, spaceNeeded);
    }
};

TEST_F(OutputFixture, OutputFoldersAreNumberedWhenTheStemIsTaken) {
    ASSERT_TRUE(createOutputFolder("/a/disk.P01"));
    EXPECT_EQ(out.outputFolder(), tmp / "disk");
    ASSERT_TRUE(createOutputFolder("/b/disk.P01"));
    EXPECT_EQ(out.outputFolder(), tmp / "disk(1)");
    ASSERT_TRUE(createOutputFolder("/c/disk.img"));
    EXPECT_EQ(out.outputFolder(), tmp / "disk(2)");
    // A file (not a folder) of the same name counts as taken too.
    writeFile(tmp / "disk(3)", "x");
    ASSERT_TRUE(createOutputFolder("/d/disk.P01"));
    EXPECT_EQ(out.outputFolder(), tmp / "disk(4)");
}

TEST_F(OutputFixture, EmptyStemGetsANumberedFolderDirectlyUnderTheCarvingPath) {
    ASSERT_TRUE(createOutputFolder("/ev/disk"));
    EXPECT_EQ(out.outputFolder(), tmp / "(1)");
    ASSERT_EQ(out.openReport("/ev/disk"), Output::ReportStatus::Created);
    out.closeReport();
    EXPECT_TRUE(fileExists(tmp / "(1)/~Report.xls"));
    EXPECT_EQ(out.carvedFilePath("/ev/disk", "JPEGFile", 0, ".jpg"), tmp / "(1)/~JPEGFile0.jpg");
}

TEST_F(OutputFixture, ReportOfARunThatCarvesNothingIsTheHeaderLineWithoutLineEnd) {
    ASSERT_TRUE(createOutputFolder("/ev/disk.P01"));
    ASSERT_EQ(out.openReport("/ev/disk.P01"), Output::ReportStatus::Created);
    out.closeReport();
    EXPECT_EQ(report("/ev/disk.P01"),
              "File Name\tFile Offset\tStarting Sector\tNo: of Sectors\tFile Size(in Bytes)");
}

TEST_F(OutputFixture, AnExistingReportIsNeverTouched) {
    ASSERT_TRUE(createOutputFolder("/ev/disk.P01"));
    writeFile(out.outputFolder() + "/disk~Report.xls", "earlier run");
    EXPECT_EQ(out.openReport("/ev/disk.P01"), Output::ReportStatus::Exists);
    EXPECT_EQ(report("/ev/disk.P01"), "earlier run");
}

#ifndef _WIN32 // permission bits
TEST_F(OutputFixture, ReportInAReadOnlyFolderIsAFailureNotASilentSkip) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders";
    }
    ASSERT_TRUE(createOutputFolder("/ev/disk.P01"));
    ::chmod(out.outputFolder().c_str(), 0555);
    EXPECT_EQ(out.openReport("/ev/disk.P01"), Output::ReportStatus::Failed);
}
#endif

TEST_F(OutputFixture, RowsHoldOffsetSectorsAndSizeInFullWithCrLf) {
    ASSERT_TRUE(createOutputFolder("/ev/disk.P01"));
    ASSERT_EQ(out.openReport("/ev/disk.P01"), Output::ReportStatus::Created);
    ASSERT_TRUE(out.appendReportRow("/o/a.jpg", 1024, 1536));
    ASSERT_TRUE(out.appendReportRow("/o/b.jpg", 0, 1));
    ASSERT_TRUE(out.appendReportRow("/o/c.jpg", 4294967808LL, 0));
    ASSERT_TRUE(out.appendReportRow("/o/d.jpg", 512, 513));
    out.closeReport();
    EXPECT_EQ(report("/ev/disk.P01"), Output::reportHeader() + "\r\n/o/a.jpg\t1024\t1\t3\t1536\t"
                                                               "\r\n/o/b.jpg\t0\t-1\t1\t1\t"
                                                               "\r\n/o/c.jpg\t4294967808\t8388608\t0\t0\t"
                                                               "\r\n/o/d.jpg\t512\t0\t2\t513\t");
}

TEST(OutputReportTextTest, PathsAreWrittenAsLatin1WithUnholdableCharactersAsReferences) {
    EXPECT_EQ(Output::pathToReportBytes("/ev/caf\xC3\xA9"), "/ev/caf\xE9");   // é fits in one byte
    EXPECT_EQ(Output::pathToReportBytes("/ev/\xE6\x97\xA5"), "/ev/&#x65E5;"); // 日 does not
    EXPECT_EQ(Output::pathToReportBytes("/ev/a\tb\nc"), "/ev/a&#x9;b&#xA;c"); // would break the row
    EXPECT_EQ(Output::pathToReportBytes("/ev/\xFF\xFE"), "/ev/\xFF\xFE");     // not UTF-8: kept
    EXPECT_EQ(Output::toReportBytes("a\nb"), "a\r\nb");
}

TEST_F(OutputFixture, FreeSpaceEqualToTheNeedPasses) {
    out.setFreeSpaceProbe([](const std::string&) { return std::optional<std::uint64_t>(1000); });
    EXPECT_TRUE(out.checkFreeSpace(1000));
    const OutputOutcome refused = out.checkFreeSpace(1001);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(refused.stopsCarving);
    EXPECT_FALSE(refused.hardError);
    EXPECT_EQ(refused.message,
              "No free space availabe on the destination drive.\nCarving can't be continued.");
}

TEST_F(OutputFixture, AFailedFreeSpaceQueryMeansNoTest) {
    out.setFreeSpaceProbe([](const std::string&) { return std::optional<std::uint64_t>(); });
    EXPECT_TRUE(out.checkFreeSpace(~0ULL));
}

TEST_F(OutputFixture, CarveFileCopiesInBlocksAndPadsPastTheEndWithZeros) {
    std::string evidence = tmp / "ev.img";
    ImageBuilder img(3 * 1024 * 1024);
    img.randomFill(5);
    img.writeTo(evidence);
    openEvidence(evidence);
    ASSERT_TRUE(createOutputFolder(evidence));
    ASSERT_EQ(out.openReport(evidence), Output::ReportStatus::Created);
    std::string path = out.carvedFilePath(evidence, "CDocFile", 0, ".doc");
    const std::int64_t at = 2 * 1024 * 1024 + 512;
    const std::uint64_t length = 1024 * 1024 + 100; // runs past the end
    ASSERT_TRUE(carveFile(path, at, length, length));
    std::string carved = readFile(path);
    ASSERT_EQ(carved.size(), length);
    std::string real = img.data().substr(static_cast<std::size_t>(at));
    EXPECT_EQ(carved.substr(0, real.size()), real);
    EXPECT_EQ(carved.substr(real.size()), std::string(length - real.size(), '\0'));
}

TEST_F(OutputFixture, ACarvedFileIsItsRunsInOrderAndItsRowGivesTheFirstOffsetAndTheTotal) {
    std::string evidence = tmp / "ev.img";
    ImageBuilder img(8192);
    img.randomFill(3);
    img.writeTo(evidence);
    openEvidence(evidence);
    ASSERT_TRUE(createOutputFolder(evidence));
    ASSERT_EQ(out.openReport(evidence), Output::ReportStatus::Created);
    const std::string path = out.carvedFilePath(evidence, "JPEGFile", 0, ".jpg");
    // Three runs: one from the middle, one from before it, one running 10 bytes past the end.
    ASSERT_TRUE(carveFile(path, {{4096, 100}, {512, 1000}, {8000, 202}}, 1302));
    out.closeReport();
    const std::string& d = img.data();
    EXPECT_EQ(readFile(path),
              d.substr(4096, 100) + d.substr(512, 1000) + d.substr(8000) + std::string(10, '\0'));
    EXPECT_EQ(report(evidence), Output::reportHeader() + "\r\n" + path + "\t4096\t7\t3\t1302\t");
}

TEST_F(OutputFixture, CarvedFileReplacesStaleBytesAndRefusesSymbolicLinks) {
    std::string evidence = tmp / "ev.img";
    writeFile(evidence, std::string(2048, 'e'));
    openEvidence(evidence);
    ASSERT_TRUE(createOutputFolder(evidence));
    ASSERT_EQ(out.openReport(evidence), Output::ReportStatus::Created);

    std::string stale = out.carvedFilePath(evidence, "BMPFile", 0, ".bmp");
    writeFile(stale, std::string(5000, 's'));
    ASSERT_TRUE(carveFile(stale, 0, 10, 10));
    EXPECT_EQ(readFile(stale), std::string(10, 'e'));

#ifndef _WIN32 // symbolic links
    // A link planted at the next name must not let a carve write elsewhere.
    std::string victim = tmp / "victim";
    writeFile(victim, "keep");
    std::string planted = out.carvedFilePath(evidence, "BMPFile", 1, ".bmp");
    ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);
    EXPECT_FALSE(carveFile(planted, 0, 10, 10));
    EXPECT_EQ(readFile(victim), "keep");
    EXPECT_EQ(last.message,
              "Carved file creation failed: " + planted + ": Too many levels of symbolic links");
    EXPECT_TRUE(last.hardError);
#endif
}

TEST_F(OutputFixture, RefusedFreeSpaceCreatesNoFile) {
    std::string evidence = tmp / "ev.img";
    writeFile(evidence, std::string(2048, 'e'));
    openEvidence(evidence);
    ASSERT_TRUE(createOutputFolder(evidence));
    ASSERT_EQ(out.openReport(evidence), Output::ReportStatus::Created);
    out.setFreeSpaceProbe([](const std::string&) { return std::optional<std::uint64_t>(5); });
    std::string path = out.carvedFilePath(evidence, "PSDFile", 0, ".psd");
    EXPECT_FALSE(carveFile(path, 0, 10, 10));
    EXPECT_FALSE(fileExists(path));
    out.closeReport();
    EXPECT_EQ(report(evidence), Output::reportHeader());
}

} // namespace
