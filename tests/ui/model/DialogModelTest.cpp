// The dialog's behaviour without a window: what any front end over DialogModel does.
#include "DialogModel.h"
#include "CarveState.h"
#include "ControlIds.h"
#include "FormRules.h"
#include "HelpGuide.h"
#include "MessageLook.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>
#include <optional>
#include <tuple>

using namespace morrow;

namespace {

class MapStore : public SettingsStore {
  public:
    std::string text(const std::string& key) const override {
        const auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    }
    std::vector<std::string> texts(const std::string& key) const override {
        const auto it = lists.find(key);
        return it == lists.end() ? std::vector<std::string>() : it->second;
    }
    void setText(const std::string& key, const std::string& value) override { values[key] = value; }
    void setTexts(const std::string& key, const std::vector<std::string>& list) override {
        lists[key] = list;
    }
    void sync() override { ++syncs; }

    std::map<std::string, std::string> values;
    std::map<std::string, std::vector<std::string>> lists;
    int syncs = 0;
};

std::filesystem::path pathOf(const std::string& utf8) {
    return std::u8string(utf8.begin(), utf8.end());
}

} // namespace

TEST(DialogModelTest, FormReadStopsAtASizeThatIsNoInteger) {
    CarveState st;
    DialogModel model(st);
    EXPECT_EQ(model.form().maxFileSize, "1024");
    ASSERT_TRUE(model.readForm(FormValues{"333", "/out", "/e/x.img", true, true, false, true}));
    EXPECT_EQ(st.maxFileSizeKB, 333);
    EXPECT_EQ(st.carvingPath, "/out");
    EXPECT_EQ(st.pendingEvidencePath, "/e/x.img");
    EXPECT_EQ(std::tuple(st.allPictureFiles, st.exactEnds, st.writeDfxml, st.reportOnly),
              std::tuple(1, 1, 0, 1));

    // Every field keeps its value, so the box gets the last good number back.
    EXPECT_FALSE(model.readForm(FormValues{"", "/other", "", false, false, true, false}));
    EXPECT_EQ(model.form().maxFileSize, "333");
    EXPECT_EQ(st.carvingPath, "/out");
    EXPECT_EQ(std::tuple(st.allPictureFiles, st.writeDfxml), std::tuple(1, 0));
    // Reassembly implies exact ends in the run; the box itself is shown as ticked.
    ASSERT_TRUE(model.readForm(FormValues{"333", "/out", "", false, false, false, false, false, true}));
    EXPECT_EQ(std::tuple(st.exactEnds, st.reassembleFragments), std::tuple(1, 1));
    EXPECT_TRUE(model.form().reassembleFragments);

    model.listEvidence("/e/a.img");
    model.evidence().setAllTicked(true);
    model.kinds().setAllTicked(true);
    model.resetForm();
    const FormValues reset = model.form();
    EXPECT_EQ(std::tuple(reset.maxFileSize, reset.carvingPath, reset.evidencePath),
              std::tuple("1024", "", ""));
    EXPECT_FALSE(reset.allPictureFiles || reset.exactEnds || reset.writeDfxml || reset.reportOnly ||
                 reset.reassembleFragments);
    EXPECT_EQ(model.evidence().texts(), std::vector<std::string>{"/e/a.img"}); // stays listed, unticked
    EXPECT_FALSE(model.evidence().anyTicked() || model.kinds().anyTicked());
}

TEST(DialogModelTest, EvidenceListedInOrderOnceEach) {
    CarveState st;
    DialogModel model(st);
    using L = DialogModel::Listing;
    const struct {
        const char* path;
        L outcome;
        int row;
    } steps[] = {
        {"/e/b.P01", L::Added, 0}, {"/e/a.P01", L::Added, 0}, {"/e/b.P01", L::AlreadyListed, -1},
        {"/e/B.P01", L::Added, 1}, // letter case makes another path, sorted beside its twin
        {"", L::Nothing, -1},      {"/e/c.img", L::Added, 3},
    };
    for (const auto& step : steps) {
        const DialogModel::Listed listed = model.listEvidence(step.path);
        EXPECT_EQ(listed.outcome, step.outcome) << step.path;
        EXPECT_EQ(listed.row, step.row) << step.path;
    }
    EXPECT_EQ(model.evidence().texts(),
              (std::vector<std::string>{"/e/a.P01", "/e/B.P01", "/e/b.P01", "/e/c.img"}));

    // Add follows the evidence box and empties it; Remove follows the ticks.
    EXPECT_FALSE(model.addEnabled());
    model.chooseEvidence("/e/d.img");
    EXPECT_TRUE(model.addEnabled());
    EXPECT_EQ(model.addPendingEvidence().row, 4);
    EXPECT_FALSE(model.addEnabled());
    EXPECT_FALSE(model.removeEnabled());
    model.evidence().setTicked(0, true);
    model.evidence().setTicked(2, true);
    EXPECT_TRUE(model.removeEnabled());
    EXPECT_EQ(model.evidence().removeTicked(), (std::vector<int>{2, 0}));
    EXPECT_EQ(model.evidence().texts(), (std::vector<std::string>{"/e/B.P01", "/e/c.img", "/e/d.img"}));
    EXPECT_FALSE(model.removeEnabled());
}

TEST(DialogModelTest, KindsInOrderAndAllPictureFilesTicksExactlyThePictures) {
    CarveState st;
    DialogModel model(st);
    EXPECT_EQ(model.kinds().texts(),
              (std::vector<std::string>{"BMP Files", "Compound Doc Files", "GIF Files", "HTML Files",
                                        "JPEG Files", "PDF Files", "PNG Files", "PSD Files", "TIFF Files",
                                        "Video Files", "ZIP Files"}));
    model.kinds().setTicked(model.kinds().find("ZIP Files"), true);
    model.setAllPictureFiles(true);
    EXPECT_EQ(model.kinds().tickedTexts(),
              (std::vector<std::string>{"BMP Files", "GIF Files", "JPEG Files", "PNG Files", "PSD Files",
                                        "TIFF Files"}));
    EXPECT_EQ(st.allPictureFiles, 1);
    model.setAllPictureFiles(false);
    EXPECT_FALSE(model.kinds().anyTicked());

    model.setAllPictureFiles(true);
    model.kinds().setAllTicked(true);
    model.deselectAllKinds();
    EXPECT_FALSE(model.kinds().anyTicked());
    EXPECT_EQ(st.allPictureFiles, 0);
}

TEST(DialogModelTest, RunModeLeavesOnlyStopQuitAndHelpOn) {
    // clang-format off
    const int ids[] = {ctl::Ok, ctl::Cancel, ctl::KindList, ctl::KindSelectAll, ctl::KindDeselectAll,
                       ctl::CarvingPath, ctl::CarvingBrowse, ctl::SizeSpin, ctl::MaxFileSize, ctl::AllPictureFiles,
                       ctl::EvidenceList, ctl::Progress, ctl::Stop, ctl::EvidencePath, ctl::EvidenceBrowse, ctl::Add,
                       ctl::Remove, ctl::Status, ctl::EvidenceSelectAll, ctl::EvidenceDeselectAll, ctl::Help,
                       ctl::Percent, ctl::Animation, ctl::ExactEnds, ctl::WriteDfxml, ctl::ReportOnly,
                       ctl::UnallocatedOnly, ctl::ReassembleFragments, ctl::VerifyFiles};
    // clang-format on
    // At rest every control is on but Add, Remove and Stop; here Add and Remove are on by their
    // own rules, with a file chosen and one ticked.
    std::map<int, bool> on;
    for (int id : ids) {
        on[id] = id != ctl::Stop;
    }
    CarveState st;
    DialogModel model(st);
    model.listEvidence("/e/a.img");
    model.evidence().setTicked(0, true);
    model.chooseEvidence("/e/b.img");

    const struct {
        bool runMode;
        bool listedOn; // the listed controls are on and the others off, or the other way round
        std::vector<int> listed;
    } rows[] = {
        {true, true, {ctl::Stop, ctl::Cancel, ctl::Help, ctl::Status, ctl::Percent, ctl::Animation}},
        // Add and Remove stay off until their own rules turn them on again.
        {false, false, {ctl::Add, ctl::Remove, ctl::Stop}},
    };
    for (const auto& row : rows) {
        for (const EnableChange& change : model.setRunMode(row.runMode)) {
            on[change.id] = change.enabled;
        }
        for (int id : ids) {
            const bool listed = std::find(row.listed.begin(), row.listed.end(), id) != row.listed.end();
            EXPECT_EQ(on[id], listed == row.listedOn)
                << "control " << id << (row.runMode ? " in run mode" : " after it");
        }
        EXPECT_EQ(model.addEnabled(), !row.runMode);
        EXPECT_EQ(model.removeEnabled(), !row.runMode);
    }
}

TEST(DialogModelTest, StartStopAndQuit) {
    using Q = RunControl::Quit;
    const struct {
        const char* name;
        int carving;        // carvingInProgress when Quit is pressed
        bool confirmedQuit; // the engine's endApplication during the run
        bool pressQuit;
        Q quit;            // what the press does
        int quitRequested; // the request the next poll point reads
        bool endsAfterRun; // the dialog ends when the run returns
    } rows[] = {
        {"quit_while_carving", 1, false, true, Q::Request, 1, false},
        {"quit_confirmed", 1, true, true, Q::Request, 1, true},
        {"quit_at_the_summary", 0, false, true, Q::AfterRun, 0, true},
        {"no_quit", 1, false, false, Q::Now, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CarveState st;
        DialogModel model(st);
        RunControl& run = model.run();
        EXPECT_EQ(run.quit(), Q::Now); // no run: the dialog ends at once
        ASSERT_TRUE(run.start());
        EXPECT_FALSE(run.start()); // a queued click behind the run
        st.carvingInProgress = row.carving;
        if (row.pressQuit) {
            EXPECT_EQ(run.quit(), row.quit);
        }
        if (row.confirmedQuit) {
            run.endApplication();
        }
        EXPECT_EQ(st.quitRequested, row.quitRequested);
        EXPECT_EQ(run.finish(), row.endsAfterRun);
        st.carvingInProgress = 0;
        EXPECT_EQ(run.quit(), Q::Now); // after the run Quit ends at once
    }
    CarveState st;
    DialogModel model(st);
    model.run().stop();
    EXPECT_EQ(st.stopRequested, 1);
}

// What the last run was started with comes back at the next start, unless it no longer fits.
TEST(DialogModelTest, SettingsOfferedAtTheNextStart) {
    for (const bool stillThere : {true, false}) {
        SCOPED_TRACE(stillThere ? "offered_again" : "gone_folders_and_bad_size_not_offered");
        test::TempDir temp;
        const std::string cases = temp / "cases";
        const std::string out = temp / "out";
        std::filesystem::create_directories(pathOf(cases));
        std::filesystem::create_directories(pathOf(out));
        MapStore store;
        {
            CarveState st;
            DialogModel model(st);
            model.rememberIn(&store);
            EXPECT_EQ(model.evidenceFolder(), ""); // nothing remembered yet
            model.chooseEvidence(temp / "cases" + "/disk.img");
            model.chooseCarvingPath(out);
            model.kinds().setTicked(model.kinds().find("JPEG Files"), true);
            model.kinds().setTicked(model.kinds().find("PNG Files"), true);
            ASSERT_TRUE(model.readForm(FormValues{"333", out, "", false, false, false, false}));
            model.setRunMode(true);
        }
        EXPECT_EQ(store.text("maxFileSizeKB"), "333");
        EXPECT_EQ(store.text("allPictureFiles"), "false");
        EXPECT_EQ(store.syncs, 3);
        if (!stillThere) {
            std::filesystem::remove_all(pathOf(cases));
            std::filesystem::remove_all(pathOf(out));
            store.setText("maxFileSizeKB", "10241");
        }
        CarveState st;
        DialogModel model(st);
        model.rememberIn(&store);
        EXPECT_EQ(model.kinds().tickedTexts(), (std::vector<std::string>{"JPEG Files", "PNG Files"}));
        EXPECT_EQ(st.maxFileSizeKB, stillThere ? 333 : 1024);
        EXPECT_EQ(st.carvingPath, stillThere ? out : "");
        EXPECT_EQ(model.evidenceFolder(), stillThere ? pathOf(cases).generic_string() : "");
    }
    // Flags as QSettings-style stores write them.
    for (const auto& [text, set] : std::vector<std::pair<const char*, bool>>{
             {"true", true}, {"1", true}, {"false", false}, {"FALSE", false}, {"0", false}, {"", false}}) {
        EXPECT_EQ(form::flagValue(text), set) << text;
    }
}

// A build folder has the guide beside the program; an install has it in share/morrow/ beside
// bin/, found relative to the program wherever the tree was put.
TEST(DialogModelTest, HelpGuideFoundBesideOrInstalled) {
    const struct {
        bool beside;
        bool installed;
        const char* found;
    } rows[] = {
        {true, false, "bin/Pellucid.hlp"},
        {false, true, "share/morrow/Pellucid.hlp"},
        {true, true, "bin/Pellucid.hlp"},
        {false, false, "share/morrow/Pellucid.hlp"}, // neither: names the installed place
    };
    for (const auto& row : rows) {
        test::TempDir temp;
        const std::filesystem::path prefix = pathOf(temp / "prefix");
        std::filesystem::create_directories(prefix / "bin");
        std::filesystem::create_directories(prefix / "share" / "morrow");
        if (row.beside) {
            test::writeFile(temp / "prefix" + "/bin/Pellucid.hlp", "<html></html>");
        }
        if (row.installed) {
            test::writeFile(temp / "prefix" + "/share/morrow/Pellucid.hlp", "<html></html>");
        }
        const std::string found = findHelpGuide(temp / "prefix" + "/bin");
        EXPECT_EQ(pathOf(found).lexically_normal().generic_string(),
                  (prefix / row.found).lexically_normal().generic_string());
    }
}

TEST(DialogModelTest, AppMessagesWithoutAnIconGetTheExclamation) {
    const std::pair<int, int> rows[] = {
        {0x00, 0x30}, {0x01, 0x31}, {0x04, 0x34},
        {0x10, 0x10}, {0x44, 0x44}, {0x02, 0x02}, // abort, retry, ignore: never with the exclamation
    };
    for (const auto& [style, shown] : rows) {
        EXPECT_EQ(appMessageStyle(style), shown) << style;
    }
}
