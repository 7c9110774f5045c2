// morrow-cli on every kind of evidence: the same image as a raw file, as E01 images in one segment
// and in several, and as split raw pieces numbered and lettered, carves into the same report rows
// and the same bytes; and no run changes the evidence's bytes or its access and modification times.
#include "TestSupport.h"
#include "evidence/EwfEvidence.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace morrow;
using namespace morrow::test;

namespace {

constexpr std::uint64_t mib = 1 << 20;

// About 3 MiB of the real samples one after the other at sector starts, with filler between, so
// that carved files straddle the pieces' and the segments' bounds.
std::string sampleImage() {
    const char* samples[] = {"photo-jfif.jpg", "slides.ppt", "image.png", "plain.pdf",    "clip.avi",
                             "two-stored.zip", "image.psd",  "doc.doc",   "image89a.gif", "bitmap40.bmp",
                             "image.tif",      "page.html",  "clip.mp4",  "sheet.xls",    "photo-exif.jpg"};
    ImageBuilder image(3 * mib + 40960);
    image.randomFill(15);
    std::uint64_t at = 0;
    for (std::size_t i = 0;; ++i) {
        const std::string sample = fixture(samples[i % std::size(samples)]);
        if (at + sample.size() > image.data().size()) {
            break;
        }
        image.place(at, sample);
        at = (at + sample.size() + 511) / 512 * 512 + 512 * (1 + i % 5);
    }
    return image.data();
}

// The report's rows with the carving path taken off the front of each file's path.
std::vector<std::string> reportRows(const std::string& out) {
    std::vector<std::string> rows;
    std::istringstream in(readFile(out + "/disk/disk~Report.xls"));
    std::string row;
    std::getline(in, row); // the header line
    while (std::getline(in, row)) {
        EXPECT_EQ(row.rfind(out + "/", 0), 0u) << row;
        rows.push_back(row.substr(out.size() + 1));
    }
    return rows;
}

// What must not change: each evidence file's bytes and its access and modification times.
using FileState = std::tuple<std::string, long, long, long, long>;

// Reads without touching the access time, which the test's own reads would otherwise update.
std::string readUnnoticed(const std::string& path) {
    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOATIME);
    EXPECT_GE(fd, 0) << path;
    char buffer[65536];
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

std::map<std::string, FileState> snapshot(const std::string& folder) {
    std::map<std::string, FileState> files;
    for (const std::string& name : listFolder(folder)) {
        struct stat st {};
        ::stat((folder + "/" + name).c_str(), &st);
        files[name] = {readUnnoticed(folder + "/" + name), st.st_atim.tv_sec, st.st_atim.tv_nsec,
                       st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    }
    return files;
}

// Access times older than the modification times: with relatime, the common mount option, the
// next read of a file through a descriptor without O_NOATIME updates its access time then.
void ageAccessTimes(const std::string& folder) {
    for (const std::string& name : listFolder(folder)) {
        const timespec times[2] = {{1000000000, 0}, {1500000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "/" + name).c_str(), times, 0), 0);
    }
}

struct FormatRow {
    const char* name;
    bool ewf;
    const char* command; // makes the evidence in DIR from the raw image RAW
    const char* first;   // the file given to morrow-cli
    const char* last;    // the last file the command makes
};

class EvidenceFormatsCliTest : public ::testing::TestWithParam<FormatRow> {};

TEST_P(EvidenceFormatsCliTest, EveryKindCarvesAsTheRawImageAndStaysUntouched) {
    const FormatRow& row = GetParam();
    if (row.ewf && (!haveProgram("ewfacquire") || !EwfEvidence::builtIn())) {
        GTEST_SKIP() << "needs ewfacquire (ewf-tools) and a build that reads E01 images";
    }
    TempDir tmp;
    const std::string image = sampleImage();
    writeFile(tmp / "disk.raw", image);
    const std::string reference = tmp / "reference";
    ASSERT_EQ(runCli({"-y", "-q", "-t", "all", "-o", reference, tmp / "disk.raw"}), 0);
    const std::vector<std::string> rows = reportRows(reference);
    ASSERT_GT(rows.size(), 100u);

    const std::string folder = tmp / "evidence";
    ::mkdir(folder.c_str(), 0755);
    std::string command = row.command;
    command.replace(command.find("RAW"), 3, tmp / "disk.raw");
    command.replace(command.find("DIR"), 3, folder);
    ASSERT_EQ(runCommand(command), 0) << command;
    ASSERT_TRUE(fileExists(folder + "/" + row.last)) << command;
    const std::string evidence = folder + "/" + row.first;
    ageAccessTimes(folder);
    const auto before = snapshot(folder);

    const std::string out = tmp / "out";
    std::string err;
    EXPECT_EQ(runCli({"-y", "-q", "-t", "all", "-o", out, evidence}, nullptr, &err), 0) << err;
    EXPECT_TRUE(snapshot(folder) == before) << "the evidence was changed, or its times";
    EXPECT_EQ(reportRows(out), rows);
    EXPECT_EQ(listFolder(out + "/disk"), listFolder(reference + "/disk"));
    for (const std::string& name : listFolder(reference + "/disk")) {
        if (name != "disk~Report.xls") {
            EXPECT_TRUE(readFile(out + "/disk/" + name) == readFile(reference + "/disk/" + name)) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EvidenceFormatsCliTest,
    ::testing::Values(FormatRow{"Raw", false, "cp RAW DIR/disk.dd", "disk.dd", "disk.dd"},
                      FormatRow{"EwfOneSegment", true, "ewfacquire -u -q -c none -S 64MiB -t DIR/disk RAW",
                                "disk.E01", "disk.E01"},
                      FormatRow{"EwfSegmentsDeflated", true,
                                "ewfacquire -u -q -c fast -S 1MiB -t DIR/disk RAW", "disk.E01", "disk.E02"},
                      FormatRow{"EwfSegmentsStored", true, "ewfacquire -u -q -c none -S 1MiB -t DIR/disk RAW",
                                "disk.E01", "disk.E04"},
                      FormatRow{"SplitNumbered", false,
                                "split -b 1M -d -a 3 --numeric-suffixes=1 RAW DIR/disk.", "disk.001",
                                "disk.004"},
                      FormatRow{"SplitLettered", false, "split -b 700K RAW DIR/disk.", "disk.aa", "disk.ae"}),
    [](const auto& row) { return std::string(row.param.name); });

// A set that cannot be read whole is refused before anything is made, with the reason (the
// reasons for each kind of damage: EwfEvidenceTest).
TEST(EvidenceFormatsCli, MissingSegmentIsRefusedWithExitTwo) {
    if (!haveProgram("ewfacquire") || !EwfEvidence::builtIn()) {
        GTEST_SKIP() << "needs ewfacquire (ewf-tools) and a build that reads E01 images";
    }
    TempDir tmp;
    ImageBuilder(3 * mib).randomFill(4).writeTo(tmp / "disk.raw");
    ASSERT_TRUE(acquireEwf(tmp / "disk.raw", tmp / "disk", mib, "none"));
    ASSERT_EQ(::unlink((tmp / "disk.E02").c_str()), 0);
    std::string err;
    EXPECT_EQ(runCli({"-y", "-o", tmp / "out", tmp / "disk.E01"}, nullptr, &err), 2);
    EXPECT_EQ(err, "morrow-cli: Evidence file open failed: " + (tmp / "disk.E01") +
                       ": segment disk.E02 is missing\n");
    EXPECT_FALSE(fileExists(tmp / "out"));
}

} // namespace
