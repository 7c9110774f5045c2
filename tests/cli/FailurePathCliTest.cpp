// morrow-cli against real files and folders that get in the way: read-only and missing folders, a
// write that fails half-way, awkward evidence names, and evidence larger than 4 GiB. Every run
// leaves the evidence with the bytes and modification time it had.
#include "TestSupport.h"
#include "output/Output.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace morrow;
using namespace morrow::test;

namespace {

// The account the child runs under when the tests run as root, for whom permission bits do not
// stop writes.
constexpr uid_t nobody = 65534;

// As runCli, with the child's account and file size limit set before it starts morrow-cli.
int runCliLimited(const std::vector<std::string>& args, const ChildOptions& options, std::string* out,
                  std::string* err) {
    ChildResult result = runCliWith(args, options);
    *out = result.out;
    *err = result.err;
    return result.status;
}

struct EvidenceSnapshot {
    std::string path;
    std::string bytes;
    timespec modified{};

    explicit EvidenceSnapshot(std::string p) : path(std::move(p)) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        bytes = readFile(path);
        modified = st.st_mtim;
    }
    void expectUnchanged() const {
        EvidenceSnapshot now(path);
        EXPECT_TRUE(now.bytes == bytes) << path << " changed";
        EXPECT_EQ(now.modified.tv_sec, modified.tv_sec) << path;
        EXPECT_EQ(now.modified.tv_nsec, modified.tv_nsec) << path;
    }
};

const std::string summaryPartial = "Carving Completed Partially.\n";

std::string row(const std::string& path, std::int64_t offset, std::int64_t size) {
    return "\r\n" + Output::pathToReportBytes(path) + "\t" + std::to_string(offset) + "\t" +
           std::to_string(offset / 512 - 1) + "\t" + std::to_string((size + 511) / 512) + "\t" +
           std::to_string(size) + "\t";
}

struct CliFailure : ::testing::Test {
    TempDir tmp;
    std::string evidence = tmp / "disk.P01";
    std::string out, err;
    // The unprivileged child must reach the temporary folder and read the evidence.
    void SetUp() override { ::chmod(tmp.path().c_str(), 0755); }
};

// A carving path morrow-cli may not write to: the output folder cannot be made in it, or the
// carving path itself cannot be made. Nothing is carved and nothing is left behind.
struct ReadOnlyCase {
    const char* name;
    bool carvingPathExists; // true: out is read-only; false: out is missing in a read-only folder
};

// Rows print as their names in test listings.
void PrintTo(const ReadOnlyCase& row, std::ostream* os) {
    *os << row.name;
}

class ReadOnlyTest : public CliFailure, public ::testing::WithParamInterface<ReadOnlyCase> {};

TEST_P(ReadOnlyTest, ReadOnlyOutputIsRefusedWithTheFolderNamed) {
    ImageBuilder(4096).randomFill(1).place(512, fixture("photo-jfif.jpg")).writeTo(evidence);
    EvidenceSnapshot before(evidence);
    const std::string locked = GetParam().carvingPathExists ? tmp / "out" : tmp / "locked";
    const std::string carvingPath = tmp / "out";
    ASSERT_EQ(::mkdir(locked.c_str(), 0555), 0);
    if (::getuid() == 0) {
        // Owned by the child's account: only the missing write bit stands in its way.
        ASSERT_EQ(::chown(locked.c_str(), nobody, nobody), 0);
    }
    const std::string target = GetParam().carvingPathExists ? carvingPath : locked + "/out";
    const std::string refused = GetParam().carvingPathExists ? carvingPath + "/disk" : target;

    const int status =
        runCliLimited({"-y", "-t", "jpeg", "-o", target, evidence}, {true, 0, {}, false, {}}, &out, &err);
    if (status == unprivilegedImpossible) {
        GTEST_SKIP() << "morrow-cli cannot be run under uid " << nobody;
    }
    EXPECT_EQ(status, 2) << err;
    EXPECT_EQ(err, "morrow-cli: Folder creation failed: " + refused + ": Permission denied\n");
    EXPECT_TRUE(out.empty()) << out;
    EXPECT_TRUE(listFolder(locked).empty());
    before.expectUnchanged();
}

INSTANTIATE_TEST_SUITE_P(Folders, ReadOnlyTest,
                         ::testing::Values(ReadOnlyCase{"readOnlyCarvingPath", true},
                                           ReadOnlyCase{"carvingPathInReadOnlyFolder", false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(CliFailure, CarvingPathWhoseParentIsMissingIsRefused) {
    ImageBuilder(1024).randomFill(1).writeTo(evidence);
    const std::string target = tmp / "missing/out";
    EXPECT_EQ(runCli({"-y", "-o", target, evidence}, &out, &err), 2);
    EXPECT_EQ(err, "morrow-cli: Folder creation failed: " + target + ": No such file or directory\n");
    EXPECT_FALSE(fileExists(tmp / "missing"));
}

TEST_F(CliFailure, CarvingPathThatIsAFileIsRefused) {
    ImageBuilder(1024).randomFill(1).writeTo(evidence);
    const std::string target = tmp / "out";
    writeFile(target, "not a folder");
    EXPECT_EQ(runCli({"-y", "-o", target, evidence}, &out, &err), 2);
    EXPECT_EQ(err, "morrow-cli: Folder creation failed: " + target + "/disk: Not a directory\n");
    EXPECT_EQ(readFile(target), "not a folder");
}

// A write that fails for real (the file size limit gives EFBIG): the file being written is
// removed, gets no row, and the run ends partially with what was carved before.
TEST_F(CliFailure, FailedWriteRemovesTheFileAndEndsAPartialRun) {
    const std::string small = fixture("photo-jfif.jpg"); // 958 bytes: under the limit
    const std::string large = fixture("photo-exif.jpg"); // 4074 bytes: over it
    ImageBuilder(16384).randomFill(2).place(512, small).place(8192, large).writeTo(evidence);
    EvidenceSnapshot before(evidence);
    const std::string folder = tmp / "out/disk";

    EXPECT_EQ(runCliLimited({"-y", "-t", "jpeg", "-o", tmp / "out", evidence}, {false, 2048, {}, false, {}},
                            &out, &err),
              1)
        << err;
    EXPECT_EQ(err,
              "morrow-cli: Carved file write failed: " + folder + "/disk~JPEGFile1.jpg: File too large\n");
    EXPECT_EQ(out.rfind(summaryPartial + "Total No:Of files carved: 1\n", 0), 0u) << out;
    EXPECT_EQ(listFolder(folder), (std::vector<std::string>{"disk~JPEGFile0.jpg", "disk~Report.xls"}));
    EXPECT_EQ(readFile(folder + "/disk~JPEGFile0.jpg"), small);
    EXPECT_EQ(readFile(folder + "/disk~Report.xls"),
              Output::reportHeader() + row(folder + "/disk~JPEGFile0.jpg", 512, 958));
    before.expectUnchanged();
}

// A name the file system refuses (242 + 14 bytes for the JPEG's name, one over the limit, while
// the report's name still fits): not carved, not counted, and the run says so.
TEST_F(CliFailure, CarvedFileThatCannotBeCreatedIsNotCounted) {
    const std::string stem(242, 'n');
    const std::string path = tmp / (stem + ".P01");
    ImageBuilder(4096).randomFill(8).place(512, fixture("photo-jfif.jpg")).writeTo(path);
    const std::string folder = tmp / ("out/" + stem);

    EXPECT_EQ(runCli({"-y", "-t", "jpeg", "-o", tmp / "out", path}, &out, &err), 1) << err;
    EXPECT_EQ(err, "morrow-cli: Carved file creation failed: " + folder + "/" + stem +
                       "~JPEGFile0.jpg: File name too long\n");
    EXPECT_EQ(out.rfind(summaryPartial + "Total No:Of files carved: 0\n", 0), 0u) << out;
    EXPECT_EQ(listFolder(folder), std::vector<std::string>{stem + "~Report.xls"});
    EXPECT_EQ(readFile(folder + "/" + stem + "~Report.xls"), Output::reportHeader());
}

// Broke: an evidence name too long for its report's name left the output folder and the carving
// path behind, empty. The folder's name (250 bytes) fits, the report's (261) does not.
TEST_F(CliFailure, NameTooLongForTheReportLeavesNothingBehind) {
    const std::string stem(250, 'n');
    const std::string path = tmp / (stem + ".P01");
    ImageBuilder(4096).randomFill(8).place(512, fixture("photo-jfif.jpg")).writeTo(path);

    EXPECT_EQ(runCli({"-y", "-t", "jpeg", "-o", tmp / "out", path}, &out, &err), 2) << err;
    EXPECT_EQ(err, "morrow-cli: A report file creation error.: " + tmp / ("out/" + stem + "/" + stem) +
                       "~Report.xls: File name too long\n");
    EXPECT_FALSE(fileExists(tmp / "out"));
}

// Regression: a report row that hit the file size limit was left half-written in the report, and
// the carved file it described stayed behind without a row.
TEST_F(CliFailure, FailedReportRowLeavesNeitherAPartRowNorAnUnrecordedFile) {
    const std::string page = fixture("page-lower.html");
    const auto carvedSize = static_cast<std::int64_t>(page.find("</html>") + 7); // to the footer's end
    ImageBuilder(8192).randomFill(7).place(512, page).place(4096, page).writeTo(evidence);
    EvidenceSnapshot before(evidence);
    // A long carving path makes each row longer than a carved page, so the report, not a page,
    // reaches the limit first: in the middle of the second row.
    const std::string carvingPath = tmp / ("out-" + std::string(180, 'r'));
    const std::string folder = carvingPath + "/disk";
    const std::string firstRow = row(folder + "/disk~HTMLFile0.html", 512, carvedSize);
    const std::uint64_t limit = Output::reportHeader().size() + firstRow.size() + 100;
    ASSERT_GT(limit, page.size());

    EXPECT_EQ(runCliLimited({"-y", "-t", "html", "-o", carvingPath, evidence}, {false, limit, {}, false, {}},
                            &out, &err),
              1)
        << err;
    EXPECT_EQ(err, "morrow-cli: Report write failed: " + folder + "/disk~Report.xls: File too large\n");
    EXPECT_EQ(out.rfind(summaryPartial + "Total No:Of files carved: 1\n", 0), 0u) << out;
    EXPECT_EQ(listFolder(folder), (std::vector<std::string>{"disk~HTMLFile0.html", "disk~Report.xls"}));
    EXPECT_EQ(readFile(folder + "/disk~Report.xls"), Output::reportHeader() + firstRow);
    before.expectUnchanged();
}

// Evidence names with blanks, Latin-1 and other scripts name the output folder and the files;
// the report holds the path as Latin-1, with references for what Latin-1 cannot hold.
struct NameCase {
    const char* name;
    const char* stem;
};

// Rows print as their names in test listings.
void PrintTo(const NameCase& row, std::ostream* os) {
    *os << row.name;
}

class EvidenceNameTest : public CliFailure, public ::testing::WithParamInterface<NameCase> {};

TEST_P(EvidenceNameTest, AwkwardEvidenceNamesCarveIntoTheirOwnFolder) {
    const std::string stem = GetParam().stem;
    const std::string path = tmp / (stem + ".P01");
    const std::string jpeg = fixture("photo-jfif.jpg");
    ImageBuilder(4096).randomFill(4).place(1024, jpeg).writeTo(path);
    EvidenceSnapshot before(path);

    EXPECT_EQ(runCli({"-y", "-t", "jpeg", "-o", tmp / "out", path}, &out, &err), 0) << err;
    const std::string folder = tmp / ("out/" + stem);
    const std::string carved = folder + "/" + stem + "~JPEGFile0.jpg";
    EXPECT_EQ(readFile(carved), jpeg);
    EXPECT_EQ(readFile(folder + "/" + stem + "~Report.xls"), Output::reportHeader() + row(carved, 1024, 958));
    before.expectUnchanged();
}

INSTANTIATE_TEST_SUITE_P(
    Names, EvidenceNameTest,
    ::testing::Values(NameCase{"blanks", "my disk  image"}, NameCase{"latin1AsUtf8", "caf\xC3\xA9 \xC3\xBF"},
                      NameCase{"latin1Bytes", "caf\xE9"},
                      NameCase{"nonLatin", "\xE8\xAF\x81\xE6\x8D\xAE \xD0\xB4\xD0\xB8\xD1\x81\xD0\xBA"},
                      NameCase{"leadingDash", "-disk"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(CliFailure, SameStemEvidenceCarvesIntoSeparateNumberedFolders) {
    const std::string a = tmp / "a/disk.P01", b = tmp / "b/disk.P01";
    ::mkdir((tmp / "a").c_str(), 0755);
    ::mkdir((tmp / "b").c_str(), 0755);
    ImageBuilder(4096).randomFill(5).place(512, fixture("photo-jfif.jpg")).writeTo(a);
    ImageBuilder(4096).randomFill(6).place(1536, fixture("image.png")).writeTo(b);
    EvidenceSnapshot beforeA(a), beforeB(b);

    EXPECT_EQ(runCli({"-y", "-t", "jpeg,png", "-o", tmp / "out", a, b}, &out, &err), 0) << err;
    EXPECT_EQ(listFolder(tmp / "out/disk"),
              (std::vector<std::string>{"disk~JPEGFile0.jpg", "disk~Report.xls"}));
    EXPECT_EQ(listFolder(tmp / "out/disk(1)"),
              (std::vector<std::string>{"disk~PNGFile0.png", "disk~Report.xls"}));
    EXPECT_EQ(readFile(tmp / "out/disk(1)/disk~Report.xls"),
              Output::reportHeader() + row(tmp / "out/disk(1)/disk~PNGFile0.png", 1536, 1824));
    EXPECT_EQ(readFile(tmp / "out/disk(1)/disk~PNGFile0.png"), fixture("image.png"));
    beforeA.expectUnchanged();
    beforeB.expectUnchanged();
}

// Real files past 4 GiB in a sparse image: their offsets and sectors appear in full.
TEST_F(CliFailure, FilesPastFourGiBAreCarvedWithFullOffsets) {
    constexpr std::int64_t jpegAt = 4294967808;          // sector 8388609
    constexpr std::int64_t pngAt = 4294967296 + 9 * 512; // sector 8388617
    constexpr std::int64_t size = 4294967296 + 64 * 1024;
    const std::string jpeg = fixture("photo-exif.jpg"), png = fixture("image.png");
    int fd = ::open(evidence.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ASSERT_EQ(::pwrite(fd, jpeg.data(), jpeg.size(), jpegAt), static_cast<ssize_t>(jpeg.size()));
    ASSERT_EQ(::pwrite(fd, png.data(), png.size(), pngAt), static_cast<ssize_t>(png.size()));
    ::close(fd);
    struct stat before {};
    ASSERT_EQ(::stat(evidence.c_str(), &before), 0);

    EXPECT_EQ(runCli({"-y", "-t", "jpeg,png", "-o", tmp / "out", evidence}, &out, &err), 0) << err;
    const std::string folder = tmp / "out/disk";
    EXPECT_EQ(readFile(folder + "/disk~JPEGFile0.jpg"), jpeg);
    EXPECT_EQ(readFile(folder + "/disk~PNGFile0.png"), png);
    const std::string report = readFile(folder + "/disk~Report.xls");
    EXPECT_EQ(report, Output::reportHeader() + row(folder + "/disk~JPEGFile0.jpg", jpegAt, 4074) +
                          row(folder + "/disk~PNGFile0.png", pngAt, 1824));
    EXPECT_NE(report.find("\t4294967808\t8388608\t8\t4074\t"), std::string::npos) << report;

    struct stat after {};
    ASSERT_EQ(::stat(evidence.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, size);
    fd = ::open(evidence.c_str(), O_RDONLY);
    std::string now(jpeg.size(), '\0');
    EXPECT_EQ(::pread(fd, now.data(), now.size(), jpegAt), static_cast<ssize_t>(now.size()));
    EXPECT_TRUE(now == jpeg);
    now.assign(png.size(), '\0');
    EXPECT_EQ(::pread(fd, now.data(), now.size(), pngAt), static_cast<ssize_t>(now.size()));
    EXPECT_TRUE(now == png);
    ::close(fd);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

} // namespace
