// A run that checks its carved files: every file the host is told of gets one verdict, after it,
// on the run's thread, before the summary, also when the run is stopped; the run's tally counts
// them; a run that does not check gives none.
#include "CarveEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace morrow;

namespace {

struct VerdictHost : test::FakeHost {
    std::vector<std::string> events; // "carved PATH" / "verified PATH state", in order
    bool offThread = false;
    std::thread::id runThread = std::this_thread::get_id();

    void fileCarved(const CarvedFile& file) override { events.push_back("carved " + file.path); }
    void fileVerified(const CarvedFile& file, const FileVerdict& verdict) override {
        offThread = offThread || std::this_thread::get_id() != runThread;
        events.push_back("verified " + file.path + " " + std::to_string(static_cast<int>(verdict.state)));
    }
    int showMessage(const std::string& text, const std::string& title, int style) override {
        if (title == "Completed..") {
            events.push_back("summary");
        }
        return FakeHost::showMessage(text, title, style);
    }
};

TEST(VerifiedRunTest, EveryCarvedFileGetsOneVerdictOnTheRunsThreadBeforeTheSummary) {
    struct Case {
        bool verify;
        bool stop; // stopped half way through the polls of the whole run
    };
    std::int64_t polls = 0; // of the whole run, the first case
    for (const Case c : {Case{true, false}, Case{false, false}, Case{true, true}}) {
        const bool verify = c.verify;
        test::TempDir tmp;
        const std::string evidence = tmp / "disk.img";
        // Two pictures whole, and a page that no check reads.
        test::ImageBuilder(64 * 1024)
            .place(4096, test::fixture("bitmap40.bmp"))
            .place(16384, test::fixture("image.psd"))
            .place(40960, test::fixture("page.html"))
            .writeTo(evidence);
        VerdictHost host;
        host.evidence = {evidence};
        host.carvingPath = tmp / "out";
        host.exactEnds = true;
        host.tick({"BMP Files", "PSD Files", "HTML Files"});
        if (c.stop) {
            host.stopAt = polls / 2;
            host.answer = [](const test::Message&) { return 6; }; // Yes, stop
        }
        CarveEngine engine(host);
        engine.state().verifyFiles = verify ? 1 : 0;
        const RunResult result = engine.startRun();
        polls = polls == 0 ? host.polls : polls;
        ASSERT_EQ(result.end, c.stop ? RunResult::End::Partial : RunResult::End::Complete);
        ASSERT_GT(result.filesCarved, 0);
        EXPECT_EQ(result.verified, verify);
        EXPECT_FALSE(host.offThread);
        const std::string opens = std::to_string(static_cast<int>(FileVerdict::State::Opens));
        const std::string unchecked = std::to_string(static_cast<int>(FileVerdict::State::NotChecked));
        std::vector<std::string> carved;
        for (const std::string& e : host.events) {
            if (e.rfind("carved ", 0) == 0) {
                carved.push_back(e.substr(7));
            }
        }
        ASSERT_EQ(carved.size(), static_cast<std::size_t>(result.filesCarved));
        const auto at = [&](const std::string& event) {
            return std::find(host.events.begin(), host.events.end(), event) - host.events.begin();
        };
        const auto summary = at("summary");
        for (const std::string& path : carved) {
            const bool html = path.find(".htm") != std::string::npos;
            // A stopped run does not wait for the checks not yet begun: those files are not checked.
            const auto verified = std::min(at("verified " + path + " " + (html ? unchecked : opens)),
                                           c.stop ? at("verified " + path + " " + unchecked)
                                                  : static_cast<std::ptrdiff_t>(host.events.size()));
            if (!verify) {
                EXPECT_EQ(verified, static_cast<std::ptrdiff_t>(host.events.size())) << path;
                continue;
            }
            EXPECT_GT(verified, at("carved " + path)) << path;
            EXPECT_LT(verified, summary) << path;
        }
        EXPECT_EQ(host.events.size(), (verify ? 2 : 1) * carved.size() + 1);
        if (!c.stop) {
            EXPECT_EQ(result.perKind[kind::Bmp].opens + result.perKind[kind::Psd].opens, verify ? 2 : 0);
        }
        EXPECT_EQ(result.perKind[kind::Html].opens + result.perKind[kind::Html].damaged, 0);
    }
}

} // namespace
