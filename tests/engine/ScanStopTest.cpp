#include "CarveEngine.h"
#include "TestSupport.h"

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

INSTANTIATE_TEST_SUITE_P(Carvers, ScanStopTest, ::testing::Values("BMP Files", "JPEG Files", "Compound Doc Files"),
                         [](const auto& row) {
                             std::string name = row.param;
                             name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
                             return name;
                         });

} // namespace
