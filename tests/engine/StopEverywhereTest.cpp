#include "CarveEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace morrow;
using namespace morrow::test;

namespace {

// A Stop or Quit confirmed at any poll point of a run (the scans, the containers measured first,
// each candidate, the walks under one, the copy of a carved file, after the last candidate and
// while the DFXML report is written) ends the run there as a partial run: the summary and the
// report say so, and no file is carved after it. Broke: a stop in a scan still carved every
// header the scan had found, and one after the last candidate ended the run as complete.
struct StopRow {
    const char* name;
    bool quit;
    bool exact;
};

class StopEverywhereTest : public ::testing::TestWithParam<StopRow> {
  protected:
    TempDir tmp;
    std::string evidence = tmp / "disk.P01";

    void SetUp() override {
        ImageBuilder(40 * 512)
            .randomFill(5)
            .place(4 * 512, fixture("photo-jfif.jpg"))
            .place(10 * 512, fixture("clip-faststart.mp4"))
            .place(16 * 512, fixture("aligned.zip"))
            .writeTo(evidence);
    }

    // A run whose Stop (or Quit) is raised at poll `at` (0: never); answered Yes.
    RunResult run(FakeHost& host, std::int64_t at, const std::string& out) {
        host.evidence = {evidence};
        host.carvingPath = out;
        host.kinds = {{"JPEG Files", true}, {"Video Files", true}, {"ZIP Files", true}};
        host.exactEnds = GetParam().exact;
        host.writeDfxml = true;
        (GetParam().quit ? host.quitAt : host.stopAt) = at > 0 ? at : -1;
        host.answer = [](const Message& m) { return m.style == 0x14 ? answerYes : answerOk; };
        CarveEngine engine(host);
        return engine.startRun();
    }
};

TEST_P(StopEverywhereTest, EveryPollPointEndsTheRunPartially) {
    FakeHost whole;
    const RunResult complete = run(whole, 0, tmp / "whole");
    ASSERT_EQ(complete.end, RunResult::End::Complete);
    const std::int64_t wholeFiles = complete.filesCarved;
    ASSERT_GT(wholeFiles, 0);
    const std::int64_t polls = whole.polls;
    ASSERT_GT(polls, 10);
    const std::string report = readFile(tmp / "whole/disk/disk~Report.dfxml");
    ASSERT_NE(report.find("<run_status>complete</run_status>"), std::string::npos);

    for (std::int64_t at = 1; at <= polls; ++at) {
        SCOPED_TRACE("poll " + std::to_string(at) + " of " + std::to_string(polls));
        FakeHost host;
        const std::string out = tmp / ("stopped" + std::to_string(at));
        const RunResult result = run(host, at, out);
        EXPECT_EQ(result.end, RunResult::End::Partial);
        ASSERT_FALSE(host.messages.empty());
        EXPECT_EQ(host.messages.back().text.rfind("Carving Completed Partially.\n", 0), 0u);
        EXPECT_NE(readFile(out + "/disk/disk~Report.dfxml").find("<run_status>incomplete</run_status>"),
                  std::string::npos);
        // The run went no further than the poll that stopped it.
        EXPECT_EQ(host.polls, at) << "polled on after the stop";
        EXPECT_LE(result.filesCarved, wholeFiles);
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, StopEverywhereTest,
                         ::testing::Values(StopRow{"Stop", false, false}, StopRow{"Quit", true, false},
                                           StopRow{"StopExact", false, true},
                                           StopRow{"QuitExact", true, true}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
