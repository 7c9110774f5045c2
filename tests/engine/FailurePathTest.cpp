// Runs of the real engine that go wrong: evidence that is no image, a volume that fills up, and
// Stop and Quit at every kind of poll point. Every run leaves the evidence as it found it.
#include "CarveEngine.h"
#include "TestSupport.h"
#include "carve/SizeDrivenCarver.h"
#include "output/Digest.h"
#include "output/Output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace morrow;
using namespace morrow::test;

namespace {

const char* const noFreeSpace =
    "No free space availabe on the destination drive.\nCarving can't be continued.";

// The bytes and modification time of an evidence file, to prove a run never wrote to it.
struct EvidenceSnapshot {
    std::string path;
    bool present = false;
    std::string bytes;
    std::filesystem::file_time_type modified{};

    explicit EvidenceSnapshot(std::string p) : path(std::move(p)) {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        present = std::filesystem::exists(status);
        if (std::filesystem::is_regular_file(status)) {
            bytes = readFile(path);
        }
        if (present) {
            modified = std::filesystem::last_write_time(path, ec);
        }
    }
    void expectUnchanged() const {
        EvidenceSnapshot now(path);
        EXPECT_EQ(now.present, present) << path;
        EXPECT_TRUE(now.bytes == bytes) << path << " changed";
        EXPECT_TRUE(now.modified == modified) << path << " was written to";
    }
};

// A real engine over one evidence file "disk.P01", JPEG carving into out/disk.
struct FailureRun : ::testing::Test {
    TempDir tmp;
    FakeHost host;
    CarveEngine engine{host};
    std::string evidence = tmp / "disk.P01";
    std::string folder = tmp / "out/disk";

    void SetUp() override {
        host.evidence = {evidence};
        host.carvingPath = tmp / "out";
        host.tick({"JPEG Files"});
    }
    // Two real JPEG files at sectors 2 and 10 of a 16-sector image.
    void writeTwoJpegs() {
        ImageBuilder(16 * 512)
            .randomFill(3)
            .place(1024, fixture("photo-jfif.jpg"))
            .place(5120, fixture("photo-jfif.jpg"))
            .writeTo(evidence);
    }
    std::string summary() const {
        for (const auto& m : host.messages) {
            if (m.title == "Completed..") {
                return m.text;
            }
        }
        return "";
    }
    std::vector<std::string> carved() const {
        std::vector<std::string> names = listFolder(folder);
        names.erase(std::remove(names.begin(), names.end(), "disk~Report.xls"), names.end());
        return names;
    }
    std::size_t reportRows() const {
        std::string report = readFile(folder + "/disk~Report.xls");
        return static_cast<std::size_t>(std::count(report.begin(), report.end(), '\n'));
    }
};

std::string summaryText(bool complete, int files) {
    return std::string(complete ? "Carving Completed Successfully.\n" : "Carving Completed Partially.\n") +
           "Total No:Of files carved: " + std::to_string(files) +
           "\nDo you want to view the resutlted files?.";
}

// Evidence files that hold no image to carve.
struct ShapeCase {
    const char* name;
    std::function<void(const std::string& path)> make;
    bool opens; // false: "Evidence file open failed" ends a partial run
};

// Rows print as their names in test listings.
void PrintTo(const ShapeCase& row, std::ostream* os) {
    *os << row.name;
}

class EvidenceShapeTest : public FailureRun, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(EvidenceShapeTest, EvidenceThatIsNoImageEndsCleanly) {
    GetParam().make(evidence);
    EvidenceSnapshot before(evidence);
    host.tickAll();
    engine.startRun();
    if (GetParam().opens) {
        EXPECT_EQ(summary(), summaryText(true, 0));
        EXPECT_EQ(readFile(folder + "/disk~Report.xls"), Output::reportHeader());
    } else {
        ASSERT_FALSE(host.messages.empty());
        EXPECT_EQ(host.messages[0].text.rfind("Evidence file open failed: " + evidence + ": ", 0), 0u)
            << host.messages[0].text;
        EXPECT_EQ(host.messages[0].style, style::OkStop);
        EXPECT_EQ(summary(), summaryText(false, 0));
        // The output folder and its report were made before the evidence was opened.
        EXPECT_EQ(readFile(folder + "/disk~Report.xls"), Output::reportHeader());
    }
    EXPECT_TRUE(carved().empty());
    EXPECT_EQ(engine.state().carvingInProgress, 0);
    before.expectUnchanged();
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, EvidenceShapeTest,
    ::testing::Values(
        ShapeCase{"missing", [](const std::string&) {}, false},
        ShapeCase{"folder", [](const std::string& p) { std::filesystem::create_directory(p); }, false},
        ShapeCase{"empty", [](const std::string& p) { writeFile(p, ""); }, true},
        // A JPEG header in 511 bytes: no whole sector, so nothing is indexed.
        ShapeCase{"shorterThanASector",
                  [](const std::string& p) { writeFile(p, fixture("photo-jfif.jpg").substr(0, 511)); }, true},
        // Every kind's header at sector 0 of a one-sector file cut one byte short.
        ShapeCase{"oneByteShortOfASector",
                  [](const std::string& p) {
                      writeFile(p, ImageBuilder(511).place(0, fixture("doc.doc").substr(0, 511)).data());
                  },
                  true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(FailureRun, VolumeThatFillsUpKeepsTheFilesAndRowsWrittenBefore) {
    writeTwoJpegs();
    EvidenceSnapshot before(evidence);
    int probes = 0;
    engine.output().setFreeSpaceProbe([&](const std::string&) {
        ++probes;
        return std::optional<std::uint64_t>(probes == 1 ? 1u << 20 : 100u);
    });
    engine.startRun();
    EXPECT_EQ(carved(), std::vector<std::string>{"disk~JPEGFile0.jpg"});
    EXPECT_EQ(readFile(folder + "/disk~JPEGFile0.jpg"), fixture("photo-jfif.jpg"));
    EXPECT_EQ(reportRows(), 1u);
    EXPECT_EQ(host.messageTexts(), (std::vector<std::string>{noFreeSpace, summaryText(false, 1)}));
    EXPECT_TRUE(host.messages[0].app);
    EXPECT_EQ(host.messages[0].style, style::Ok);
    EXPECT_EQ(engine.state().carvingInProgress, 0);
    before.expectUnchanged();
}

#ifndef _WIN32
// Broke: evidence overwritten with its times put back went unseen, and files were carved from
// bytes the run never hashed.
TEST_F(FailureRun, EvidenceWrittenWithItsTimesPutBackEndsTheRun) {
    writeTwoJpegs();
    int probes = 0;
    engine.output().setFreeSpaceProbe([&](const std::string&) {
        if (++probes == 2) {
            writeWithTimesPutBack(evidence);
        }
        return std::optional<std::uint64_t>();
    });
    EXPECT_EQ(engine.startRun().end, RunResult::End::Partial);
    const std::vector<std::string> texts = host.messageTexts();
    EXPECT_NE(
        std::find(texts.begin(), texts.end(),
                  "Evidence file changed during carving: " + evidence +
                      ": its change time moved: it was written to with its modification time put back, or "
                      "its owner, permissions or links changed"),
        texts.end())
        << testing::PrintToString(texts);
    EXPECT_EQ(carved(), std::vector<std::string>{"disk~JPEGFile0.jpg"});
}
#endif

// The DFXML report says whether its run went through: one that was stopped ends with
// run_status "incomplete" and without the run's resource use.
struct DfxmlEndRow {
    const char* name;
    std::int64_t stopAt; // the poll that raises Stop, -1 for none
    const char* tail;
};

class DfxmlEndTest : public FailureRun, public ::testing::WithParamInterface<DfxmlEndRow> {};

TEST_P(DfxmlEndTest, TheReportSaysWhetherTheRunWentThrough) {
    if (!Digest::available()) {
        GTEST_SKIP() << "this build writes no DFXML";
    }
    writeTwoJpegs();
    host.writeDfxml = true;
    host.stopAt = GetParam().stopAt;
    host.answer = [](const Message&) { return answerYes; };
    engine.startRun();
    const std::string xml = readFile(folder + "/disk~Report.dfxml");
    EXPECT_NE(xml.find(GetParam().tail), std::string::npos) << xml;
}

INSTANTIATE_TEST_SUITE_P(
    Ends, DfxmlEndTest,
    ::testing::Values(DfxmlEndRow{"Complete", -1, "  <run_status>complete</run_status>\n  <rusage>\n"},
                      DfxmlEndRow{"Stopped", 1, "  <run_status>incomplete</run_status>\n</dfxml>\n"}),
    [](const auto& row) { return std::string(row.param.name); });

#ifndef _WIN32
// The readers that walk structures (allocation tables, ZIP records, RIFF and bitmap sizes, the
// PDF dictionary) on real files past 4 GiB of a sparse image: every offset stays 64-bit.
TEST_F(FailureRun, SizeDrivenAndCompoundFilesPastFourGiBComeOutWhole) {
    constexpr std::int64_t base = std::int64_t{1} << 32;
    const std::vector<std::pair<std::string, std::string>> placed = {{"doc.doc", "disk~CDocFile0.doc"},
                                                                     {"bitmap40.bmp", "disk~BMPFile0.bmp"},
                                                                     {"linearized.pdf", "disk~PDFFile0.pdf"},
                                                                     {"two-stored.zip", "disk~ZIPFile0.zip"},
                                                                     {"clip.avi", "disk~VideoFiles0.avi"}};
    int fd = ::open(evidence.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, base + 256 * 1024), 0);
    std::string expectedReport = Output::reportHeader();
    std::vector<std::string> names;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const std::string data = fixture(placed[i].first);
        const std::int64_t at = base + 512 + static_cast<std::int64_t>(i) * 32768; // sector 8388609 + 64 i
        ASSERT_EQ(::pwrite(fd, data.data(), data.size(), at), static_cast<ssize_t>(data.size()));
        names.push_back(placed[i].second);
    }
    ::close(fd);
    struct stat before {};
    ASSERT_EQ(::stat(evidence.c_str(), &before), 0);

    host.tick({"Compound Doc Files", "BMP Files", "PDF Files", "ZIP Files", "Video Files"});
    engine.startRun();
    EXPECT_EQ(summary(), summaryText(true, 5));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(carved(), names);
    // Rows come in pass order: BMP, compound document, PDF, ZIP, video.
    for (std::size_t i : {1, 0, 2, 3, 4}) {
        const std::string data = fixture(placed[i].first);
        const std::int64_t at = base + 512 + static_cast<std::int64_t>(i) * 32768;
        const std::string path = folder + "/" + placed[i].second;
        EXPECT_EQ(readFile(path), data) << placed[i].second;
        const auto size = static_cast<std::int64_t>(data.size());
        expectedReport += "\r\n" + path + "\t" + std::to_string(at) + "\t" + std::to_string(at / 512 - 1) +
                          "\t" + std::to_string((size + 511) / 512) + "\t" + std::to_string(size) + "\t";
    }
    EXPECT_EQ(readFile(folder + "/disk~Report.xls"), expectedReport);

    struct stat after {};
    ASSERT_EQ(::stat(evidence.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    fd = ::open(evidence.c_str(), O_RDONLY);
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const std::string data = fixture(placed[i].first);
        std::string now(data.size(), '\0');
        ASSERT_EQ(::pread(fd, now.data(), now.size(), base + 512 + static_cast<std::int64_t>(i) * 32768),
                  static_cast<ssize_t>(now.size()));
        EXPECT_TRUE(now == data) << placed[i].first << " changed in the evidence";
    }
    ::close(fd);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}
#endif // _WIN32: sparse files

// Stop and Quit raised at a header scan's poll point or at a candidate's, answered Yes or No.
struct PollCase {
    const char* name;
    bool quit;
    bool atCandidate;
    bool yes;
    std::vector<std::string> files; // carved in the end
};

// Rows print as their names in test listings.
void PrintTo(const PollCase& row, std::ostream* os) {
    *os << row.name;
}

class PollTest : public FailureRun, public ::testing::WithParamInterface<PollCase> {};

TEST_P(PollTest, StopAndQuitEndTheRunOnlyWhenConfirmed) {
    const PollCase& c = GetParam();
    writeTwoJpegs();
    EvidenceSnapshot before(evidence);
    // The scan polls once per sector (16), then each candidate once: 17 and 18. Poll 6 is in the
    // scan after the first JPEG's sector and before the second's.
    const std::int64_t at = c.atCandidate ? 18 : 6;
    (c.quit ? host.quitAt : host.stopAt) = at;
    host.answer = [&](const Message& m) {
        return m.title == "Completed.." ? answerNo : c.yes ? answerYes : answerNo;
    };
    engine.startRun();

    const char* question = c.quit ? CarveEngine::quitQuestion : CarveEngine::stopQuestion;
    ASSERT_GE(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0].text, question);
    EXPECT_EQ(host.messages[0].title, CarveEngine::warningTitle);
    EXPECT_EQ(host.messages[0].style, style::YesNoStop);
    EXPECT_EQ(summary(), summaryText(!c.yes, static_cast<int>(c.files.size())));
    EXPECT_EQ(carved(), c.files);
    EXPECT_EQ(reportRows(), c.files.size());
    EXPECT_EQ(host.ended, c.quit && c.yes);
    EXPECT_EQ(engine.state().carvingInProgress, 0);
    EXPECT_TRUE(engine.state().pdfHeaderIndex.empty());
    EXPECT_EQ(host.runModeDepth, 0);
    if (c.quit && c.yes) {
        auto end = std::find(host.log.begin(), host.log.end(), "endApplication");
        auto sum = std::find_if(host.log.begin(), host.log.end(), [](const std::string& l) {
            return l.rfind("showMessage:Carving Completed", 0) == 0;
        });
        EXPECT_LT(end, sum);
    }
    before.expectUnchanged();
}

const std::vector<std::string> both = {"disk~JPEGFile0.jpg", "disk~JPEGFile1.jpg"};
const std::vector<std::string> first = {"disk~JPEGFile0.jpg"};

const std::vector<std::string> none;

// A confirmed request during the scan ends the run there: the headers found before it are not
// carved (on a large image that took as long as the run itself).
INSTANTIATE_TEST_SUITE_P(Polls, PollTest,
                         ::testing::Values(PollCase{"stopAtScanYes", false, false, true, none},
                                           PollCase{"stopAtScanNo", false, false, false, both},
                                           PollCase{"stopAtCandidateYes", false, true, true, first},
                                           PollCase{"stopAtCandidateNo", false, true, false, both},
                                           PollCase{"quitAtScanYes", true, false, true, none},
                                           PollCase{"quitAtScanNo", true, false, false, both},
                                           PollCase{"quitAtCandidateYes", true, true, true, first},
                                           PollCase{"quitAtCandidateNo", true, true, false, both}),
                         [](const auto& row) { return std::string(row.param.name); });

// Evidence that changes under a run: the file being carved when the change is seen is not
// recorded and not left behind, what was carved before it stays, and the run ends partially with
// a message that names the evidence and what changed.
class ChangingEvidence : public MemoryEvidence {
  public:
    using MemoryEvidence::MemoryEvidence;
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override {
        const std::size_t got = MemoryEvidence::read(offset, out, length);
        return failReads ? got / 2 : got;
    }
    std::string changed() override {
        return replaced ? "its path now names another file" : MemoryEvidence::changed();
    }
    bool failReads = false;
    bool replaced = false;
};

struct ChangeRow {
    const char* name;
    std::function<void(ChangingEvidence&)> change;
    const char* what;        // how the message says it
    bool betweenPasses;      // the change comes after the JPEG pass, under a pass with nothing to carve
    bool unreadable = false; // a read failed: the evidence could not be read rather than changed
};

class ChangedEvidenceTest : public FailureRun, public ::testing::WithParamInterface<ChangeRow> {};

TEST_P(ChangedEvidenceTest, NothingReadFromChangedEvidenceIsRecorded) {
    // Two bitmaps of 6000 bytes: more than a small read, so their bytes are read when copied.
    const std::string bitmap =
        bytes({'B', 'M'}) + test::le32(6000) + test::le32(0) + test::le32(54) + test::le32(40);
    ChangingEvidence* source = nullptr;
    engine.setEvidenceOpener([&](const std::string& path, std::string&) -> std::unique_ptr<EvidenceSource> {
        auto made = std::make_unique<ChangingEvidence>(
            path, ImageBuilder(32768).randomFill(3).place(1024, bitmap).place(16384, bitmap).data());
        source = made.get();
        return made;
    });
    int probes = 0;
    engine.output().setFreeSpaceProbe([&](const std::string&) {
        // The second file's bytes are read after the change.
        if (++probes == 2 && !GetParam().betweenPasses) {
            GetParam().change(*source);
        }
        return std::optional<std::uint64_t>();
    });
    CarveEngine::Carvers carvers = CarveEngine::standardCarvers();
    carvers.sizeDriven = [&](PassContext& context, const CarvePass& pass) {
        const bool result = SizeDrivenCarver::carve(context, pass);
        if (pass.type == kind::Bmp && GetParam().betweenPasses) {
            GetParam().change(*source);
        }
        return result;
    };
    engine.setCarvers(carvers);
    host.tick({"BMP Files", "PNG Files"});

    EXPECT_EQ(engine.startRun().end, RunResult::End::Partial);
    const std::string expected = (GetParam().unreadable ? "Evidence file could not be read: "
                                                        : "Evidence file changed during carving: ") +
                                 evidence + ": " + GetParam().what;
    EXPECT_NE(std::find(host.messageTexts().begin(), host.messageTexts().end(), expected),
              host.messageTexts().end())
        << testing::PrintToString(host.messageTexts());
    const std::vector<std::string> kept =
        GetParam().betweenPasses ? std::vector<std::string>{"disk~BMPFile0.bmp", "disk~BMPFile1.bmp"}
                                 : std::vector<std::string>{"disk~BMPFile0.bmp"};
    EXPECT_EQ(carved(), kept);
    EXPECT_EQ(reportRows(), kept.size());
    EXPECT_EQ(summary(), summaryText(false, static_cast<int>(kept.size())));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedEvidenceTest,
    ::testing::Values(ChangeRow{"CutShort", [](ChangingEvidence& e) { e.bytes().resize(19384); },
                                "its size changed from 32768 to 19384 bytes", false},
                      ChangeRow{"Replaced", [](ChangingEvidence& e) { e.replaced = true; },
                                "its path now names another file", false},
                      // The second bitmap's copy gets 3000 of its 6000 bytes at 16384.
                      ChangeRow{"ReadsFail", [](ChangingEvidence& e) { e.failReads = true; },
                                "sector 37 cannot be read", false, true},
                      ChangeRow{"CutBetweenPasses", [](ChangingEvidence& e) { e.bytes().resize(4096); },
                                "its size changed from 32768 to 4096 bytes", true}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
