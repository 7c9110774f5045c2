#include "carve/RunProgress.h"

#include <gtest/gtest.h>

#include <functional>

using namespace morrow;

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

// The figures a run's feeds lead to, and the line they make: the bytes done and the total from
// the scan's position and the carvers' reads, the files counted, the time left at the rate so far.
TEST(RunProgressTest, FiguresFollowTheFeeds) {
    using Clock = RunProgress::Clock;
    const Clock::time_point t0{};
    struct Case {
        const char* name;
        std::function<void(RunProgress&)> feed;
        double seconds; // since the start
        std::uint64_t done;
        std::uint64_t total;
        std::int64_t files;
        std::int64_t secondsLeft;
        const char* line;
    };
    const Case cases[] = {
        {"nothing read yet: no rate", [](RunProgress& p) { p.startEvidence(4 * MiB); }, 5, 0, 4 * MiB, 0, -1,
         "0 B of 4.0 MiB, 0 files"},
        {"half the scan in 10 s: 10 s left",
         [](RunProgress& p) {
             p.startEvidence(4 * MiB);
             p.scanned(2 * MiB);
         },
         10, 2 * MiB, 4 * MiB, 0, 10, "2.0 MiB of 4.0 MiB, 0 files, less than a minute left"},
        {"a scan never goes back, nor past the end",
         [](RunProgress& p) {
             p.startEvidence(4 * MiB);
             p.scanned(3 * MiB);
             p.scanned(1 * MiB);
             p.scanned(9 * MiB);
         },
         1, 4 * MiB, 4 * MiB, 0, 0, "4.0 MiB of 4.0 MiB, 0 files"},
        {"candidates ahead at the bytes per candidate so far",
         [](RunProgress& p) {
             p.startEvidence(4 * MiB);
             p.scanned(4 * MiB);
             p.candidate(0, 9);
             p.candidate(2 * MiB, 8); // the first candidate's reads: 1 MiB each so far
             p.fileCarved();
         },
         300, 6 * MiB, 14 * MiB, 1, 400, "6.0 MiB of 14.0 MiB, 1 file, about 7 min left"},
        {"a file not opened yet counts as the opened did, carving included",
         [](RunProgress& p) {
             p.startEvidence(4 * MiB);
             p.scanned(4 * MiB);
             p.candidate(2 * MiB, 0);
             p.fileCarved();
             p.fileCarved();
         },
         3 * 3600, 6 * MiB, 12 * MiB, 2, 3 * 3600, "6.0 MiB of 12.0 MiB, 2 files, about 3 h 0 min left"},
        {"over: the total is what was done",
         [](RunProgress& p) {
             p.startEvidence(3 * 1024);
             p.scanned(1024);
             p.finish();
         },
         2, 1024, 1024, 0, 0, "1.0 KiB of 1.0 KiB, 0 files"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunProgress progress;
        progress.start(std::string(c.name).find("not opened") != std::string::npos ? 2 : 1, t0);
        c.feed(progress);
        const auto now =
            t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(c.seconds));
        const RunProgress::Figures f = progress.figures(now);
        EXPECT_EQ(f.bytesDone, c.done);
        EXPECT_EQ(f.bytesTotal, c.total);
        EXPECT_EQ(f.files, c.files);
        EXPECT_EQ(f.secondsLeft, c.secondsLeft);
        EXPECT_EQ(RunProgress::text(f), c.line);
    }
}

// Shown the first time, then no more than ten times a second.
TEST(RunProgressTest, DueATenthOfASecondApart) {
    RunProgress progress;
    const RunProgress::Clock::time_point t0{};
    progress.start(1, t0);
    EXPECT_TRUE(progress.due(t0));
    EXPECT_FALSE(progress.due(t0 + std::chrono::milliseconds(99)));
    EXPECT_TRUE(progress.due(t0 + std::chrono::milliseconds(100)));
    EXPECT_EQ(RunProgress::sizeText(1023), "1023 B");
    EXPECT_EQ(RunProgress::sizeText(std::uint64_t{5} << 40), "5.0 TiB");
}

} // namespace
