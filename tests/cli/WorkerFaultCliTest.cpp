// morrow-cli with a check or a file-system walk that fails as a hostile library would (a crash, a
// hang past its budget): the run goes on and names the fault where the verdict or the file
// systems are reported; SIGTERM while a worker hangs ends the run within a second or so, partial.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

using namespace morrow;

namespace {

struct FaultRow {
    const char* name;
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<std::string> options;
    bool terminated; // SIGTERM a second after the start
    int status;
    const char* said; // in the DFXML, or on the error stream
};

class WorkerFaultCliTest : public ::testing::TestWithParam<FaultRow> {};

TEST_P(WorkerFaultCliTest, TheRunGoesOnAndSaysWhyOrEndsAtOnceWhenTerminated) {
    const FaultRow& row = GetParam();
    test::TempDir dir;
    const std::string image = dir / "card.img";
    test::ImageBuilder(256 * 1024)
        .place(8192, test::fixture("bitmap40.bmp"))
        .place(65536, test::fixture("image.png"))
        .writeTo(image);
    std::vector<std::string> args = {"-y", "-q", "-t", "all", "--dfxml", "-o", dir / "out"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back(image);
    test::ChildOptions options;
    options.environment = row.environment;
    test::CliProcess cli(args, options);
    std::chrono::steady_clock::time_point signalled{};
    if (row.terminated) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        signalled = std::chrono::steady_clock::now();
        ::kill(cli.pid(), SIGTERM);
    }
    const test::ChildResult result = cli.wait();
    if (row.terminated) {
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(3));
    }
    EXPECT_EQ(result.status, row.status) << result.err;
    const std::string dfxml = test::readFile(dir / "out/card/card~Report.dfxml");
    EXPECT_NE((dfxml + result.err).find(row.said), std::string::npos) << result.err << dfxml;
    EXPECT_NE(dfxml.find(row.status == 0 ? "<run_status>complete" : "<run_status>incomplete"),
              std::string::npos);
    if (!row.terminated) {
        // The picture beside the one that broke its check is checked as ever.
        EXPECT_NE(dfxml.find("state=\"opens\""), std::string::npos);
    }
}

const std::vector<std::pair<std::string, std::string>> hang = {{"MORROW_TEST_CHECK_FAULT", "hang:BM"},
                                                               {"MORROW_CHECK_SECONDS", "1"}};
const std::vector<std::pair<std::string, std::string>> walkHangs = {{"MORROW_TEST_FILE_SYSTEM_FAULT", "hang"},
                                                                    {"MORROW_FILE_SYSTEM_SECONDS", "0.5"}};

INSTANTIATE_TEST_SUITE_P(
    Faults, WorkerFaultCliTest,
    ::testing::Values(
        FaultRow{"CheckCrashes",
                 {{"MORROW_TEST_CHECK_FAULT", "abort:BM"}},
                 {"-x", "--verify"},
                 false,
                 0,
                 "the check failed: it was killed by signal 6"},
        FaultRow{"CheckRunsPastItsBudget", hang, {"-x", "--verify"}, false, 0, "the check ran past 1 s"},
        FaultRow{"TerminatedWhileACheckHangs",
                 {{"MORROW_TEST_CHECK_FAULT", "hang:BM"}},
                 {"-x", "--verify"},
                 true,
                 1,
                 "the run was stopped before its check ended"},
        FaultRow{"WalkCrashes",
                 {{"MORROW_TEST_FILE_SYSTEM_FAULT", "abort"}},
                 {"--unallocated", "-x", "--verify"},
                 false,
                 0,
                 "file systems not read: the reading failed: it was killed by signal 6"},
        FaultRow{"WalkRunsPastItsBudget",
                 walkHangs,
                 {"--unallocated", "-x", "--verify"},
                 false,
                 0,
                 "file systems not read: the reading ran past 1 s"},
        FaultRow{"TerminatedWhileAWalkHangs",
                 {{"MORROW_TEST_FILE_SYSTEM_FAULT", "hang"}},
                 {"--unallocated"},
                 true,
                 1,
                 "<run_status>incomplete"}),
    [](const ::testing::TestParamInfo<FaultRow>& row) { return std::string(row.param.name); });

} // namespace
