// morrow-cli started the way careless and hostile callers start it: with standard descriptors
// closed, with its output piped into a reader that has gone, and many times at once into one
// carving path. Every report must hold exactly its rows, and every row a whole carved file.
#include "TestSupport.h"
#include "output/Output.h"

#include <gtest/gtest.h>

#include <memory>

using namespace morrow;
using namespace morrow::test;

namespace {

struct Robustness : ::testing::Test {
    TempDir tmp;
    std::string evidence = tmp / "disk.P01";
    std::string jpeg = fixture("photo-jfif.jpg");
    void SetUp() override { ImageBuilder(16384).randomFill(4).place(4096, jpeg).writeTo(evidence); }

    // The report a complete run over the evidence writes into `folder`.
    std::string expectedReport(const std::string& folder) const {
        const std::string path = folder + "/disk~JPEGFile0.jpg";
        return Output::reportHeader() + "\r\n" + path + "\t4096\t7\t2\t958\t";
    }
};

// Broke: with descriptor 2 (or 1) closed the report was opened on it, and messages and the
// summary were written into the report.
struct ClosedRow {
    const char* name;
    std::vector<int> closed;
};

class ClosedDescriptorTest : public Robustness, public ::testing::WithParamInterface<ClosedRow> {};

TEST_P(ClosedDescriptorTest, PrintedTextNeverLandsInTheReport) {
    ChildOptions options;
    options.closed = GetParam().closed;
    const ChildResult result = runCliWith({"-t", "jpeg", "-o", tmp / "out", evidence}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(tmp / "out/disk/disk~Report.xls"), expectedReport(tmp / "out/disk"));
    EXPECT_EQ(readFile(tmp / "out/disk/disk~JPEGFile0.jpg"), jpeg);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, ClosedDescriptorTest,
                         ::testing::Values(ClosedRow{"StandardError", {2}},
                                           ClosedRow{"OutputAndError", {1, 2}},
                                           ClosedRow{"AllThree", {0, 1, 2}}),
                         [](const auto& row) { return std::string(row.param.name); });

// Broke: `| true` killed a complete run with SIGPIPE when it printed its summary (exit 141).
TEST_F(Robustness, ClosedOutputPipeKeepsACompleteRunComplete) {
    ChildOptions options;
    options.stdoutToClosedPipe = true;
    const ChildResult result = runCliWith({"-t", "jpeg", "-o", tmp / "out", evidence}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(tmp / "out/disk/disk~Report.xls"), expectedReport(tmp / "out/disk"));
}

// Broke: a folder another run made between the look and the mkdir was taken as this run's, whose
// report then could not be created ("A report file creation error.", exit 2).
TEST_F(Robustness, RunsStartedTogetherIntoOneCarvingPathEachGetAFolder) {
    constexpr int runs = 8;
    std::vector<std::unique_ptr<CliProcess>> started;
    for (int i = 0; i < runs; ++i) {
        started.push_back(std::make_unique<CliProcess>(
            std::vector<std::string>{"-t", "jpeg", "-o", tmp / "out", evidence}));
    }
    for (auto& run : started) {
        const ChildResult result = run->wait();
        EXPECT_EQ(result.status, 0) << result.err;
    }
    std::vector<std::string> expected{"disk"};
    for (int i = 1; i < runs; ++i) {
        expected.push_back("disk(" + std::to_string(i) + ")");
    }
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(listFolder(tmp / "out"), expected);
    for (const std::string& name : expected) {
        EXPECT_EQ(readFile(tmp / ("out/" + name) + "/disk~Report.xls"), expectedReport(tmp / ("out/" + name)))
            << name;
    }
}

} // namespace
