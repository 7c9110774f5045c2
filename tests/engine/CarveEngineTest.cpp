#include "CarveEngine.h"
#include "TestSupport.h"

#include <map>

#include <gtest/gtest.h>

using namespace morrow;
using namespace morrow::test;

namespace {

const char* const title = "Morrow, Warning...";

// An engine whose carvers only record the passes they were given.
struct RunFixture : ::testing::Test {
    TempDir tmp;
    FakeHost host;
    CarveEngine engine{host};
    std::vector<std::string> passes; // "carver kindTag ext label shifted"
    std::function<bool(const CarvePass&)> passResult = [](const CarvePass&) { return true; };

    void SetUp() override {
        auto recorder = [this](const char* carver) {
            return [this, carver](PassContext&, const CarvePass& p) {
                passes.push_back(std::string(carver) + " " + p.kindTag + " " + p.extension + " " +
                                 p.passLabel + " " + std::to_string(p.headerShifted));
                return passResult(p);
            };
        };
        engine.setCarvers({recorder("hf"), recorder("size"), recorder("cdoc")});
        host.evidence = {tmp / "ev/disk.P01"};
        host.carvingPath = tmp / "out";
        host.tickAll();
    }
    std::string summary() const {
        for (const auto& m : host.messages) {
            if (m.title == "Completed..") {
                return m.text;
            }
        }
        return "";
    }
};

TEST_F(RunFixture, PassesRunInDispatchOrderWithTheirRecords) {
    engine.startRun();
    std::vector<std::string> expected = {
        "size BMPFile .bmp  0",
        "hf GIFFile .gif  0",
        "hf JPEGFile .jpg  0",
        "hf TIFFile .tif  0",
        "hf PNGFile .png  0",
        "size PSDFile .psd  0",
        "cdoc CDocFile   0",
        "size PDFFile .pdf  0",
        "hf PDFFile .pdf  0",
        "hf HTMLFile .html  0",
        "size ZIPFile .zip  0",
        "size VideoFiles  (AVI,DAT) 0",
        "size VideoFiles  (MP4,3GP,MOV) 1",
        "size VideoFiles .wmv (WMV) 0",
    };
    EXPECT_EQ(passes, expected);
    EXPECT_EQ(summary(), "Carving Completed Successfully.\nTotal No:Of files carved: 0\nDo you want to view "
                         "the resutlted files?.");
    EXPECT_EQ(host.messages.back().style, 0x44);
    EXPECT_EQ(readFile(tmp / "out/disk/disk~Report.xls"), Output::reportHeader());
    EXPECT_EQ(engine.state().carvingInProgress, 0);
}

TEST_F(RunFixture, OnlyTickedRowsRunAndRowOrderDoesNotMatter) {
    host.kinds = {{"ZIP Files", true}, {"JPEG Files", true}, {"BMP Files", false}, {"Bogus", false}};
    engine.startRun();
    EXPECT_EQ(passes, (std::vector<std::string>{"hf JPEGFile .jpg  0", "size ZIPFile .zip  0"}));
}

TEST_F(RunFixture, AnUnknownTickedRowCountsAsASelectionButCarvesNothing) {
    host.kinds = {{"Bogus Files", true}};
    engine.startRun();
    EXPECT_TRUE(passes.empty());
    EXPECT_EQ(summary().substr(0, 31), "Carving Completed Successfully.");
}

struct CheckCase {
    const char* name;
    std::function<void(FakeHost&)> setUp;
    const char* warning;
    int focus; // 0: none
};

class RunCheckTest : public RunFixture, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(RunCheckTest, SettingsAreCheckedInOrderAndNothingIsCreated) {
    GetParam().setUp(host);
    engine.startRun();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, GetParam().warning);
    EXPECT_EQ(host.messages[0].title, title);
    EXPECT_EQ(host.messages[0].style, 0x30);
    EXPECT_EQ(host.focused, GetParam().focus ? std::vector<int>{GetParam().focus} : std::vector<int>{});
    EXPECT_FALSE(fileExists(tmp / "out"));
    EXPECT_TRUE(passes.empty());
    EXPECT_EQ(host.runModeDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Warnings, RunCheckTest,
    ::testing::Values(CheckCase{"noEvidenceBeatsEverythingElse",
                                [](FakeHost& h) {
                                    h.evidence.clear();
                                    h.kinds.clear();
                                    h.maxFileSizeKB = 0;
                                    h.carvingPath.clear();
                                },
                                "No Evidence File(s) is added.", 0},
                      CheckCase{"noKindBeatsABadSize",
                                [](FakeHost& h) {
                                    h.tick({});
                                    h.maxFileSizeKB = -5;
                                },
                                "Select One of the File Type to Carve", 0},
                      CheckCase{"sizeZero", [](FakeHost& h) { h.maxFileSizeKB = 0; },
                                "File Size can't be null.", 1009},
                      CheckCase{"sizeNegative", [](FakeHost& h) { h.maxFileSizeKB = -5; },
                                "File Size can't be null.", 1009},
                      CheckCase{"sizeTooLarge", [](FakeHost& h) { h.maxFileSizeKB = 10241; },
                                "Carving of File Size >10240KB(10MB) is not supported.", 1009},
                      CheckCase{"noCarvingPath", [](FakeHost& h) { h.carvingPath.clear(); },
                                "Specify Folder Path for Carving Files", 1003}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(RunFixture, LargestSizeIsAccepted) {
    host.maxFileSizeKB = 10240;
    engine.startRun();
    EXPECT_EQ(engine.state().maxFileSizeBytes, 10485760u);
    EXPECT_FALSE(passes.empty());
}

TEST_F(RunFixture, CarvingPathWhoseParentIsMissingIsRefusedWithFocus) {
    host.carvingPath = tmp / "missing/out";
    engine.startRun();
    EXPECT_EQ(host.messageTexts(), std::vector<std::string>{"Folder creation failed: " + tmp / "missing/out" +
                                                            ": No such file or directory"});
    EXPECT_EQ(host.focused, std::vector<int>{1003});
    EXPECT_TRUE(passes.empty());
    EXPECT_EQ(host.runModeDepth, 0);
}

TEST_F(RunFixture, SameStemTwiceGivesNumberedFoldersAndTheNextRunContinues) {
    host.evidence = {tmp / "a/disk.P01", tmp / "b/disk.P01", tmp / "c/disk.P01"};
    engine.startRun();
    host.carvingPath = tmp / "out";
    host.tickAll();
    engine.startRun();
    EXPECT_EQ(listFolder(tmp / "out"),
              (std::vector<std::string>{"disk", "disk(1)", "disk(2)", "disk(3)", "disk(4)", "disk(5)"}));
}

TEST_F(RunFixture, StopDuringTheSecondEvidenceEndsAPartialRunThatCountsTheFirst) {
    host.evidence = {tmp / "a/one.P01", tmp / "b/two.P01", tmp / "c/three.P01"};
    host.tick({"JPEG Files"});
    int call = 0;
    passResult = [&](const CarvePass&) {
        ++call;
        engine.state().filesCarvedTotal += 2;
        if (call == 2) {
            engine.state().carvingInProgress = 0; // what a confirmed Stop leaves
            return false;
        }
        return true;
    };
    host.answer = [](const Message& m) { return m.title == "Completed.." ? answerYes : answerOk; };
    engine.startRun();
    EXPECT_EQ(summary(), "Carving Completed Partially.\nTotal No:Of files carved: 4\nDo you want to view the "
                         "resutlted files?.");
    EXPECT_EQ(listFolder(tmp / "out"), (std::vector<std::string>{"one", "two"}));
    // Yes opens the root the user chose, although the form was reset before the summary.
    EXPECT_EQ(host.explored, std::vector<std::string>{tmp / "out"});
    EXPECT_FALSE(host.ended);
    auto reset = std::find(host.log.begin(), host.log.end(), "resetForm");
    auto leave = std::find(host.log.begin(), host.log.end(), "leaveRunMode");
    EXPECT_LT(reset, leave);
}

TEST_F(RunFixture, ConfirmedQuitEndsTheApplicationBeforeTheSummary) {
    passResult = [&](const CarvePass&) {
        engine.state().quitConfirmed = 1;
        return false;
    };
    engine.startRun();
    auto end = std::find(host.log.begin(), host.log.end(), "endApplication");
    auto sum = std::find_if(host.log.begin(), host.log.end(), [](const std::string& l) {
        return l.rfind("showMessage:Carving Completed Partially.", 0) == 0;
    });
    ASSERT_NE(end, host.log.end());
    ASSERT_NE(sum, host.log.end());
    EXPECT_LT(end, sum);
    EXPECT_EQ(passes.size(), 1u);
}

TEST_F(RunFixture, PdfFooterPassRunsOnlyAfterTheSizePassWentThrough) {
    host.tick({"PDF Files", "HTML Files"});
    passResult = [](const CarvePass& p) { return p.kindTag != "PDFFile"; };
    engine.startRun();
    EXPECT_EQ(passes, std::vector<std::string>{"size PDFFile .pdf  0"});
}

TEST_F(RunFixture, AReportThatCannotBeCreatedEndsTheRunWithoutCarving) {
    // A stem of 246 characters fits a folder name, but with "~Report.xls" the report name
    // passes the 255-byte limit, so the report cannot be created.
    host.evidence = {tmp / (std::string(246, 'a') + ".P01")};
    engine.startRun();
    const std::string expected = "A report file creation error.: " +
                                 tmp / ("out/" + std::string(246, 'a') + "/" + std::string(246, 'a')) +
                                 "~Report.xls: ";
#ifdef _WIN32
    // Windows words an overlong name in ways of its own (and Wine in others): the path is what counts.
    ASSERT_EQ(host.messageTexts().size(), 1u);
    EXPECT_EQ(host.messageTexts()[0].rfind(expected, 0), 0u) << host.messageTexts()[0];
#else
    EXPECT_EQ(host.messageTexts(), std::vector<std::string>{expected + "File name too long"});
#endif
    EXPECT_TRUE(host.messages[0].app);
    EXPECT_TRUE(passes.empty());
    EXPECT_TRUE(summary().empty());
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "resetForm"), host.log.end());
    EXPECT_EQ(engine.state().carvingInProgress, 0);
}

// The real carvers over two images in memory: each evidence file is opened once for all its
// passes, and the run's result says how it ended and what it carved, kind by kind.
TEST(CarveEngineRunTest, EachEvidenceIsOpenedOnceAndTheResultCountsWhatWasCarved) {
    TempDir tmp;
    FakeHost host;
    CarveEngine engine(host);
    const std::string jpeg = fixture("photo-jfif.jpg");
    const std::string zip = fixture("two-stored.zip");
    const std::map<std::string, std::string> images = {
        {"/ev/a.img", ImageBuilder(64 * 1024).randomFill(1).place(4096, jpeg).place(32768, zip).data()},
        {"/ev/b.img", ImageBuilder(16 * 1024).randomFill(2).place(512, jpeg).data()},
    };
    std::map<std::string, int> opens;
    engine.setEvidenceOpener([&](const std::string& path, std::string&) -> std::unique_ptr<EvidenceSource> {
        ++opens[path];
        return std::make_unique<MemoryEvidence>(path, images.at(path));
    });
    host.evidence = {"/ev/a.img", "/ev/b.img"};
    host.carvingPath = tmp / "out";
    host.tickAll();

    const RunResult result = engine.startRun();
    EXPECT_EQ(opens, (std::map<std::string, int>{{"/ev/a.img", 1}, {"/ev/b.img", 1}}));
    EXPECT_EQ(result.end, RunResult::End::Complete);
    EXPECT_EQ(result.filesCarved, 3);
    EXPECT_EQ(result.perKind[kind::Jpeg].files, 2);
    EXPECT_EQ(result.perKind[kind::Jpeg].bytes, 2 * jpeg.size());
    EXPECT_EQ(result.perKind[kind::Zip].files, 1);
    EXPECT_EQ(readFile(tmp / "out/b/b~JPEGFile0.jpg"), jpeg);

    host.polls = 0;
    host.stopAt = 1;
    host.answer = [](const Message& m) { return m.style == 0x14 ? answerYes : answerNo; };
    host.carvingPath = tmp / "out";
    host.tickAll();
    EXPECT_EQ(engine.startRun().end, RunResult::End::Partial);
    host.tick({});
    EXPECT_EQ(engine.startRun().end, RunResult::End::Refused);
}

} // namespace
