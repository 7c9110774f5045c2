#include "output/Output.h"
#include "TestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
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
    const char* message; // expected on standard error
};

class CliRefusalTest : public CliFixture, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CliRefusalTest, RefusedSettingsExitWithTwoAndTheExactWarning) {
    std::vector<std::string> args;
    for (const auto& a : GetParam().args) {
        args.push_back(a == "EV" ? evidence : a == "OUT" ? tmp / "out" : a);
    }
    EXPECT_EQ(runCli(args, &out, &err), 2);
    EXPECT_NE(err.find(GetParam().message), std::string::npos) << err;
    EXPECT_TRUE(out.empty()) << out;
    EXPECT_FALSE(fileExists(tmp / "out"));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, CliRefusalTest,
    ::testing::Values(
        RefusalCase{"noEvidence", {"-o", "OUT"}, "Morrow, Warning...: No Evidence File(s) is added."},
        RefusalCase{"sizeZero", {"-s", "0", "-o", "OUT", "EV"}, "Morrow, Warning...: File Size can't be null."},
        RefusalCase{"sizeTooLarge", {"-s", "10241", "-o", "OUT", "EV"},
                    "Morrow, Warning...: Carving of File Size >10240KB(10MB) is not supported."},
        RefusalCase{"noCarvingPath", {"EV"}, "Morrow, Warning...: Specify Folder Path for Carving Files"},
        RefusalCase{"sizeNotAnInteger", {"-s", "12k", "-o", "OUT", "EV"}, "Please enter an integer."},
        RefusalCase{"sizeEmpty", {"-s", "", "-o", "OUT", "EV"}, "Please enter an integer."},
        RefusalCase{"unknownKind", {"-t", "jpeg,mp3", "-o", "OUT", "EV"}, "unknown kind: 'mp3'"},
        RefusalCase{"unknownOption", {"--frobnicate", "-o", "OUT", "EV"}, "unknown option"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(CliFixture, HelpPrintsTheUsage) {
    EXPECT_EQ(runCli({"--help"}, &out, &err), 0);
    EXPECT_NE(out.find("Usage: morrow-cli"), std::string::npos);
}

TEST_F(CliFixture, ACompleteRunPrintsTheSummaryAndExitsZero) {
    std::string second = tmp / "b/disk.P01";
    ::mkdir((tmp / "b").c_str(), 0777);
    ImageBuilder(512).writeTo(second);
    EXPECT_EQ(runCli({"-y", "-o", tmp / "out", evidence, second}, &out, &err), 0) << err;
    EXPECT_EQ(out, "Carving Completed Successfully.\nTotal No:Of files carved: 0\nDo you want to view the "
                   "resutlted files?.\n");
    EXPECT_EQ(listFolder(tmp / "out"), (std::vector<std::string>{"disk", "disk(1)"}));
    EXPECT_EQ(readFile(tmp / "out/disk(1)/disk~Report.xls"), Output::reportHeader());
}

TEST_F(CliFixture, MissingEvidenceEndsAPartialRun) {
    EXPECT_EQ(runCli({"-y", "-t", "jpeg", "-o", tmp / "out", tmp / "absent.P01"}, &out, &err), 1);
    EXPECT_NE(err.find("Evidence file open failed"), std::string::npos) << err;
    EXPECT_NE(out.find("Carving Completed Partially."), std::string::npos);
}

// Ctrl-C raises Stop and SIGTERM raises Quit; without a terminal the question is answered Yes,
// so the run ends at the next poll point as a partial run, with its report on disk.
class CliSignalTest : public CliFixture, public ::testing::WithParamInterface<int> {};

TEST_P(CliSignalTest, SignalEndsALongScanAsAPartialRun) {
    std::string big = tmp / "big.P01";
    int fd = ::open(big.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_EQ(::ftruncate(fd, off_t{256} << 30), 0); // sparse: costs no disk, takes long to scan
    ::close(fd);
    CliProcess cli({"-t", "jpeg", "-o", tmp / "out", big});
    // Wait until the run has made its report, so the signal arrives during the scan.
    for (int i = 0; i < 500 && !fileExists(tmp / "out/big/big~Report.xls"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(cli.pid(), GetParam());
    const ChildResult result = cli.wait();
    EXPECT_EQ(result.status, 1);
    const std::string& errText = result.err;
    EXPECT_NE(errText.find(GetParam() == SIGINT ? "Do you want to Cancel the Carving Process?"
                                                : "Do you want to Quit the process?"),
              std::string::npos)
        << errText;
    EXPECT_NE(result.out.find("Carving Completed Partially."), std::string::npos);
    EXPECT_EQ(readFile(tmp / "out/big/big~Report.xls"), Output::reportHeader());
}

INSTANTIATE_TEST_SUITE_P(Signals, CliSignalTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& row) { return row.param == SIGINT ? "Interrupt" : "Terminate"; });

} // namespace
