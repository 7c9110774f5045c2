#include "TestSupport.h"
#include "output/Output.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace morrow;
using namespace morrow::test;

namespace {

struct CliFixture : ::testing::Test {
    TempDir tmp;
    std::string evidence = tmp / "disk.P01";
    std::string out, err;
    void SetUp() override { ImageBuilder(8192).randomFill(1).writeTo(evidence); }
};

struct RefusalCase {
    const char* name;
    std::vector<std::string> args;
    const char* message;                           // expected on standard error
    std::function<void(const TempDir&)> make = {}; // more evidence files
};

class CliRefusalTest : public CliFixture, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CliRefusalTest, RefusedSettingsExitWithTwoAndTheExactWarning) {
    if (GetParam().make) {
        GetParam().make(tmp);
    }
    std::vector<std::string> args;
    for (const auto& a : GetParam().args) {
        args.push_back(a == "EV"                ? evidence
                       : a == "OUT"             ? tmp / "out"
                       : a.rfind("TMP", 0) == 0 ? tmp.path() + a.substr(3)
                                                : a);
    }
    EXPECT_EQ(runCli(args, &out, &err), 2);
    std::string message = GetParam().message;
    for (auto at = message.find("TMP"); at != std::string::npos; at = message.find("TMP", at)) {
        message.replace(at, 3, tmp.path());
    }
    EXPECT_NE(err.find(message), std::string::npos) << err;
    EXPECT_TRUE(out.empty()) << out;
    EXPECT_FALSE(fileExists(tmp / "out"));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, CliRefusalTest,
    ::testing::Values(
        // morrow-cli's own words for its own options, each naming the option.
        RefusalCase{"noArguments", {}, "Usage: morrow-cli [options] EVIDENCE...\n"},
        RefusalCase{"noEvidence", {"-o", "OUT"}, "morrow-cli: no evidence file given"},
        RefusalCase{"sizeZero",
                    {"-s", "0", "-o", "OUT", "EV"},
                    "morrow-cli: -s: the maximum size is 1 to 10240 KB, not 0"},
        RefusalCase{"sizeTooLarge",
                    {"-s", "10241", "-o", "OUT", "EV"},
                    "-s: the maximum size is 1 to 10240 KB, not 10241"},
        RefusalCase{"noCarvingPath", {"EV"}, "morrow-cli: -o DIR is required"},
        RefusalCase{"sizeNotAnInteger", {"-s", "12k", "-o", "OUT", "EV"}, "Please enter an integer."},
        RefusalCase{"sizeEmpty", {"-s", "", "-o", "OUT", "EV"}, "Please enter an integer."},
        RefusalCase{"unknownKind",
                    {"-t", "jpeg,mp3", "-o", "OUT", "EV"},
                    "-t: unknown kind 'mp3'; kinds are: bmp gif jpeg jpg tiff tif png psd cdoc doc xls ppt "
                    "pdf html htm"},
        RefusalCase{"unknownOption", {"--frobnicate", "-o", "OUT", "EV"}, "unknown option"},
        // Evidence that cannot be read is refused before anything is made, wherever it is listed.
        RefusalCase{"missingEvidence",
                    {"-o", "OUT", "EV", "TMP/absent.P01", "EV"},
                    "morrow-cli: Evidence file open failed: TMP/absent.P01: No such file or directory\n"},
        RefusalCase{"folderAsEvidence",
                    {"-o", "OUT", "TMP"},
                    "morrow-cli: Evidence file open failed: TMP: Is a directory"},
        RefusalCase{
            "namedPipe",
            {"-o", "OUT", "TMP/pipe"},
            "Evidence file open failed: TMP/pipe: not a regular file or block device but a named pipe\n",
            [](const TempDir& dir) { ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0); }},
        RefusalCase{"nullDevice",
                    {"-o", "OUT", "/dev/null"},
                    "Evidence file open failed: /dev/null: not a regular file or block device but a "
                    "character device\n"},
        // Broke: the run went on with the two pieces before the gap and said nothing.
        RefusalCase{"gapInSplitPieces",
                    {"-o", "OUT", "TMP/set.001"},
                    "Evidence file open failed: TMP/set.001: piece set.003 is missing, so set.004 would be "
                    "left out\n",
                    [](const TempDir& dir) {
                        for (const char* piece : {"set.001", "set.002", "set.004"}) {
                            writeFile(dir / piece, std::string(512, 's'));
                        }
                    }},
        // Broke: taken as "unknown option: OUT", the word before the group.
        RefusalCase{"unknownLetterInGroup", {"-o", "OUT", "-dash", "EV"}, "morrow-cli: unknown option: -d\n"},
        RefusalCase{"sameEvidenceTwice",
                    {"-o", "OUT", "EV", "EV"},
                    "morrow-cli: Evidence is already selected.: TMP/disk.P01\n"},
        RefusalCase{
            "sameEvidenceUnderAnotherName",
            {"-o", "OUT", "EV", "TMP/link.P01"},
            "morrow-cli: Evidence is already selected.: TMP/link.P01 (the same file as TMP/disk.P01)\n",
            [](const TempDir& dir) {
                ASSERT_EQ(::link((dir / "disk.P01").c_str(), (dir / "link.P01").c_str()), 0);
            }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(CliFixture, HelpPrintsTheUsage) {
    EXPECT_EQ(runCli({"--help"}, &out, &err), 0);
    EXPECT_NE(out.find("Usage: morrow-cli"), std::string::npos);
}

TEST_F(CliFixture, ACompleteRunPrintsTheSummaryAndExitsZero) {
    std::string second = tmp / "b/disk.P01";
    ::mkdir((tmp / "b").c_str(), 0777);
    ImageBuilder(512).writeTo(second);
    EXPECT_EQ(runCli({"-y", "-t", "jpeg,bmp", "-o", tmp / "out", evidence, second}, &out, &err), 0) << err;
    // Every kind asked for has its row, zero included, in the table's order.
    EXPECT_EQ(out, "Carving Completed Successfully.\nTotal No:Of files carved: 0\nDo you want to view the "
                   "resutlted files?.\n\n"
                   "Carved                    files            bytes\n"
                   "BMP                           0                0\n"
                   "JPEG                          0                0\n"
                   "all kinds                     0                0\n"
                   "Output folder: " +
                       tmp / "out/disk" +
                       "\n"
                       "Output folder: " +
                       tmp / "out/disk(1)" + "\n");
    EXPECT_EQ(listFolder(tmp / "out"), (std::vector<std::string>{"disk", "disk(1)"}));
    EXPECT_EQ(readFile(tmp / "out/disk(1)/disk~Report.xls"), Output::reportHeader());
}

// Broke: every sector of a sparse image was read, holes and all: 5 minutes for 1 TiB of nothing.
// The holes are passed over now; a run with every kind is over in moments.
TEST_F(CliFixture, SparseTebibyteWithNoDataCompletes) {
    std::string huge = tmp / "huge.P01";
    const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 40), 0);
    ::close(fd);
    EXPECT_EQ(runCli({"-t", "all", "-o", tmp / "out", huge}, &out, &err), 0) << err;
    EXPECT_EQ(readFile(tmp / "out/huge/huge~Report.xls"), Output::reportHeader());
}

// Ctrl-C raises Stop, SIGTERM Quit and a closed terminal (SIGHUP) a Quit that nobody can answer;
// without a terminal the questions are answered Yes, so the run ends at the next poll point as a
// partial run, with its report on disk.
struct SignalRow {
    const char* name;
    int signal;
    const char* question;
};

class CliSignalTest : public CliFixture, public ::testing::WithParamInterface<SignalRow> {};

TEST_P(CliSignalTest, SignalEndsALongScanAsAPartialRun) {
    // Sparse, with a byte of data every 64 MiB so that the scan cannot pass it all over as holes:
    // costs little disk, takes a while to scan, three of them (one evidence file is given once).
    std::vector<std::string> args{"-t", "all", "-o", tmp / "out"};
    for (const char* folder : {"a", "b", "c"}) {
        ASSERT_EQ(::mkdir((tmp / folder).c_str(), 0755), 0);
        args.push_back(tmp / (std::string(folder) + "/big.P01"));
        int fd = ::open(args.back().c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_EQ(::ftruncate(fd, off_t{256} << 30), 0);
        for (off_t at = 0; at < (off_t{256} << 30); at += off_t{64} << 20) {
            ASSERT_EQ(::pwrite(fd, "\x01", 1, at), 1);
        }
        ::close(fd);
    }
    CliProcess cli(args);
    // Wait until the run has made its first report (its signal handlers are in place by then),
    // then hold it still while the signal is sent, so the signal lands during the run however
    // fast the machine is.
    for (int i = 0; i < 5000 && !fileExists(tmp / "out/big/big~Report.xls"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(cli.pid(), SIGSTOP);
    ::kill(cli.pid(), GetParam().signal);
    ::kill(cli.pid(), SIGCONT);
    const ChildResult result = cli.wait();
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.err.find(GetParam().question), std::string::npos) << result.err;
    EXPECT_NE(result.out.find("Carving Completed Partially."), std::string::npos);
    EXPECT_EQ(readFile(tmp / "out/big/big~Report.xls"), Output::reportHeader());
}

INSTANTIATE_TEST_SUITE_P(
    Signals, CliSignalTest,
    ::testing::Values(SignalRow{"Interrupt", SIGINT, "Do you want to Cancel the Carving Process?"},
                      SignalRow{"Terminate", SIGTERM, "Do you want to Quit the process?"},
                      SignalRow{"HangUp", SIGHUP, "Do you want to Quit the process?"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
