#include "CarveEngine.h"
#include "TestSupport.h"
#include "carve/HeaderScan.h"
#include "search/HexText.h"

#include <gtest/gtest.h>

using namespace morrow;
using namespace morrow::test;

namespace {

// Each carver must end the run when the user confirmed Stop during its header scan, also when
// the scan found nothing to carve. This broke once: a pass with no candidate returned "go on",
// and the run carried on with the next kind after the user had stopped it.
class ScanStopTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ScanStopTest, StopConfirmedInAScanThatFoundNothingEndsTheRun) {
    TempDir tmp;
    FakeHost host;
    CarveEngine engine(host);
    ImageBuilder(64 * 512).randomFill(2).writeTo(tmp / "ev.img");
    host.evidence = {tmp / "ev.img"};
    host.carvingPath = tmp / "out";
    host.kinds = {{GetParam(), true}, {"ZIP Files", true}};
    host.stopAt = 3;
    host.answer = [](const Message& m) { return m.style == 0x14 ? answerYes : answerOk; };
    engine.startRun();
    auto texts = host.messageTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back().substr(0, 29), "Carving Completed Partially.\n");
    // The ZIP pass never ran: only one scan's status line was shown.
    int scans = 0;
    for (const auto& s : host.statusTexts) {
        scans += s.rfind("Searching ", 0) == 0;
    }
    EXPECT_EQ(scans, 1);
}

INSTANTIATE_TEST_SUITE_P(Carvers, ScanStopTest,
                         ::testing::Values("BMP Files", "JPEG Files", "Compound Doc Files"),
                         [](const auto& row) {
                             std::string name = row.param;
                             name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
                             return name;
                         });

// The Stop and Quit questions the engine asks at a header scan's poll points.
struct ScanQuestionFixture : ::testing::Test {
    TempDir tmp;
    FakeHost host;
    CarveEngine engine{host};
    CarveState& st = engine.state();
    std::string path = tmp / "image.P01";
    const std::string jpeg = bytes({0xFF, 0xD8, 0xFF});

    HeaderScan::Result scan() {
        EXPECT_TRUE(engine.openEvidence(path));
        return HeaderScan::run(engine, engine.evidence(), path, "JPEGFile",
                               HeaderKey{HexText::toBytes("FFD8FF")});
    }
};

TEST_F(ScanQuestionFixture, StopAnsweredYesAbortsTheScanAndEndsCarving) {
    ImageBuilder img(10 * 512);
    for (int s : {1, 3, 4, 7}) {
        img.place(static_cast<std::uint64_t>(s) * 512, jpeg);
    }
    img.writeTo(path);
    host.stopAt = 5; // the poll of sector 4
    host.answer = [](const Message& m) { return m.style == 0x14 ? answerYes : answerOk; };
    st.carvingInProgress = 1;
    const HeaderScan::Result result = scan();
    EXPECT_FALSE(result.finished);
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{512, 1536}));
    EXPECT_EQ(st.scanAborted, 1);
    EXPECT_EQ(st.carvingInProgress, 0);
    EXPECT_EQ(host.messages.at(0).text, "Do you want to Cancel the Carving Process?");
    EXPECT_EQ(host.percentTexts.back(), "");
    // The animation stopped on its frame while the question was open.
    EXPECT_EQ(host.log.back(), "showMessage:Do you want to Cancel the Carving Process?");
}

TEST_F(ScanQuestionFixture, StopAnsweredNoComparesTheSameSectorAndGoesOn) {
    ImageBuilder img(10 * 512);
    img.place(4 * 512, jpeg);
    img.writeTo(path);
    host.stopAt = 5;
    const HeaderScan::Result result = scan();
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{2048}));
    EXPECT_EQ(st.scanAborted, 0);
    auto pause = std::find(host.log.begin(), host.log.end(), "pauseAnimation");
    ASSERT_NE(pause, host.log.end());
    EXPECT_EQ(*(pause + 2), "resumeAnimation");
}

TEST_F(ScanQuestionFixture, QuitAnsweredYesEndsTheScanAndConfirmsQuit) {
    ImageBuilder(10 * 512).writeTo(path);
    host.quitAt = 3;
    host.answer = [](const Message& m) { return m.style == 0x14 ? answerYes : answerOk; };
    EXPECT_FALSE(scan().finished);
    EXPECT_EQ(st.quitConfirmed, 1);
    EXPECT_EQ(st.scanAborted, 1);
    EXPECT_EQ(host.messages.at(0).text,
              "Carving Process is in progress!.\n Do you want to Quit the process?");
}

} // namespace
