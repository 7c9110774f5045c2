// The Windows dialog driven through window messages, as a user's clicks reach it: evidence, kinds,
// the size, the carving path, Start, Stop and Quit, with the message boxes answered by the test.
#include "Win32Dialog.h"
#include "ControlIds.h"
#include "RunModeTable.h"
#include "TestSupport.h"
#include "Win32Settings.h"
#include "output/Output.h"
#include "platform/WinApi.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

using namespace morrow;
using win32::narrow;
using win32::widen;

namespace {

const std::wstring warningTitle = L"Morrow, Warning...";

class Win32DialogTest : public ::testing::Test {
  public:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        open();
    }

    // A dialog with every seam answered by the test; remembering in `store` when one is given.
    void open(std::unique_ptr<SettingsStore> store = nullptr) {
        dialog = std::make_unique<Win32Dialog>(GetModuleHandleW(nullptr));
        if (store) {
            dialog->rememberIn(std::move(store));
        }
        dialog->host().setMessagePresenter([this](HWND owner, const Win32Message& m) {
            EXPECT_EQ(owner, dialog->window());
            messages.push_back(m);
            if (answer) {
                return answer(m);
            }
            return (m.style & 0x0F) == MB_YESNO ? IDNO : IDOK;
        });
        dialog->host().setFolderExplorer([this](const std::wstring& folder) { explored.push_back(folder); });
        dialog->setFileChooser([this](HWND, const std::wstring& folder) {
            chooserFolder = folder;
            return nextEvidence;
        });
        dialog->setFolderChooser([this](HWND, const std::wstring& title, const std::wstring&) {
            EXPECT_EQ(title, L"Choose Path for Carving Files");
            return nextFolder;
        });
        dialog->setHelpOpener([this](const std::wstring& path) { helpShown.push_back(path); });
        ASSERT_NE(dialog->createModeless(), nullptr);
        ShowWindow(dialog->window(), SW_SHOW);
    }

    HWND control(int id) const { return dialog->control(id); }
    void click(int id) { SendMessageW(control(id), BM_CLICK, 0, 0); }
    bool enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }
    std::wstring text(int id) const {
        wchar_t buffer[1024] = {};
        GetWindowTextW(control(id), buffer, 1024);
        return buffer;
    }
    void setText(int id, const std::wstring& value) { SetWindowTextW(control(id), value.c_str()); }

    std::vector<std::wstring> rows(int list, bool tickedOnly = false) const {
        std::vector<std::wstring> out;
        const int count = ListView_GetItemCount(control(list));
        for (int i = 0; i < count; ++i) {
            wchar_t buffer[1024] = {};
            ListView_GetItemText(control(list), i, 0, buffer, 1024);
            if (!tickedOnly || ListView_GetCheckState(control(list), i)) {
                out.push_back(buffer);
            }
        }
        return out;
    }
    void tick(int list, int row, bool on = true) {
        LVITEMW item{};
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
        SendMessageW(control(list), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
    }
    void tickKind(const std::wstring& name) {
        LVFINDINFOW find{};
        find.flags = LVFI_STRING;
        find.psz = name.c_str();
        const int row = static_cast<int>(SendMessageW(
            control(ctl::KindList), LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
        ASSERT_GE(row, 0);
        tick(ctl::KindList, row);
    }
    void addEvidence(const std::wstring& path) {
        nextEvidence = path;
        click(ctl::EvidenceBrowse);
        click(ctl::Add);
    }
    std::string writeImage(const std::string& name, int sectors) {
        const std::string path = temp / name;
        test::ImageBuilder(static_cast<std::uint64_t>(sectors) * 512)
            .randomFill(7)
            .place(16 * 512, test::fixture("photo-jfif.jpg"))
            .writeTo(path);
        return path;
    }
    // Evidence, JPEG ticked and a carving path: ready to start.
    std::wstring prepareRun(int sectors = 64) {
        addEvidence(widen(writeImage("disk.img", sectors)));
        tickKind(L"JPEG Files");
        nextFolder = widen(temp / "out");
        click(ctl::CarvingBrowse);
        return nextFolder;
    }

    test::TempDir temp;
    std::unique_ptr<Win32Dialog> dialog;
    std::vector<Win32Message> messages;
    std::function<int(const Win32Message&)> answer;
    std::vector<std::wstring> explored;
    std::vector<std::wstring> helpShown;
    std::wstring nextEvidence;
    std::wstring nextFolder;
    std::wstring chooserFolder;
};

TEST_F(Win32DialogTest, OpensAsDesigned) {
    wchar_t caption[128] = {};
    GetWindowTextW(dialog->window(), caption, 128);
    EXPECT_STREQ(caption, L"Morrow  - A Forensic Data Carving tool");
    EXPECT_EQ(rows(ctl::KindList),
              (std::vector<std::wstring>{L"BMP Files", L"Compound Doc Files", L"GIF Files", L"HTML Files",
                                         L"JPEG Files", L"PDF Files", L"PNG Files", L"PSD Files",
                                         L"TIFF Files", L"Video Files", L"ZIP Files"}));
    EXPECT_EQ(text(ctl::Status), L"Select all required fields and Click Start to proceed.");
    EXPECT_EQ(text(ctl::MaxFileSize), L"1024");
    for (int id : {ctl::Add, ctl::Remove, ctl::Stop}) {
        EXPECT_FALSE(enabled(id)) << id;
    }
    for (int id : {ctl::Ok, ctl::Cancel, ctl::Help, ctl::KindList, ctl::EvidenceList}) {
        EXPECT_TRUE(enabled(id)) << id;
    }
    EXPECT_FALSE(IsWindowVisible(control(ctl::Progress)));
    EXPECT_EQ(SendMessageW(control(ctl::SizeSpin), UDM_GETBUDDY, 0, 0),
              reinterpret_cast<LRESULT>(control(ctl::MaxFileSize)));

    // Tab order: the Qt dialog's.
    const int order[] = {ctl::EvidencePath,
                         ctl::EvidenceBrowse,
                         ctl::Add,
                         ctl::Remove,
                         ctl::KindList,
                         ctl::AllPictureFiles,
                         ctl::ExactEnds,
                         ctl::MaxFileSize,
                         ctl::CarvingPath,
                         ctl::CarvingBrowse,
                         ctl::WriteDfxml,
                         ctl::ReportOnly,
                         ctl::UnallocatedOnly,
                         ctl::ReassembleFragments,
                         ctl::VerifyFiles,
                         ctl::Help,
                         ctl::Ok,
                         ctl::Cancel,
                         ctl::EvidenceList,
                         ctl::EvidenceSelectAll,
                         ctl::EvidenceDeselectAll};
    // Disabled controls are no tab stops (Add, Remove, Stop), and the kinds' two buttons come
    // between All Picture Files and the exact ends box; after the last, the first again.
    std::vector<int> expected;
    for (int id : order) {
        if (id != ctl::Add && id != ctl::Remove) {
            expected.push_back(id);
        }
        if (id == ctl::AllPictureFiles) {
            expected.push_back(ctl::KindSelectAll);
            expected.push_back(ctl::KindDeselectAll);
        }
    }
    expected.push_back(ctl::EvidencePath);
    std::vector<int> walked;
    HWND at = control(ctl::EvidencePath);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        walked.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(dialog->window(), at, FALSE);
    }
    EXPECT_EQ(walked, expected);
}

TEST_F(Win32DialogTest, EvidenceIsAddedDroppedAndRemoved) {
    const std::wstring a = widen(temp / "a.img");
    const std::wstring b = widen(temp / "B.img");
    test::writeFile(temp / "a.img", "x");
    test::writeFile(temp / "B.img", "x");

    nextEvidence = a;
    click(ctl::EvidenceBrowse);
    EXPECT_EQ(text(ctl::EvidencePath), a);
    EXPECT_TRUE(enabled(ctl::Add));
    click(ctl::Add);
    EXPECT_EQ(rows(ctl::EvidenceList), std::vector<std::wstring>{a});
    EXPECT_EQ(text(ctl::EvidencePath), L"");
    EXPECT_FALSE(enabled(ctl::Add));

    addEvidence(a); // listed already
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, L"Evidence is already selected.");
    EXPECT_EQ(messages[0].title, warningTitle);
    EXPECT_EQ(messages[0].style, 0x30);
    EXPECT_EQ(ListView_GetItemCount(control(ctl::EvidenceList)), 1);
    // The chooser opens where the last file was chosen.
    EXPECT_EQ(chooserFolder, widen(temp.path()));

    // Dropped on the list: files through Add's checks, folders not at all.
    const std::wstring names = b + L'\0' + a + L'\0' + widen(temp.path()) + L'\0' + L'\0';
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, names.data(), names.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    SendMessageW(control(ctl::EvidenceList), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    EXPECT_EQ(rows(ctl::EvidenceList), (std::vector<std::wstring>{a, b}));
    EXPECT_EQ(messages.size(), 2u); // a, listed already

    // Ticks drive Remove; Select All and DeSelect All tick and untick every row.
    tick(ctl::EvidenceList, 1);
    EXPECT_TRUE(enabled(ctl::Remove));
    tick(ctl::EvidenceList, 1, false);
    EXPECT_FALSE(enabled(ctl::Remove));
    click(ctl::EvidenceSelectAll);
    EXPECT_EQ(rows(ctl::EvidenceList, true).size(), 2u);
    EXPECT_TRUE(enabled(ctl::Remove));
    click(ctl::EvidenceDeselectAll);
    EXPECT_TRUE(rows(ctl::EvidenceList, true).empty());
    EXPECT_FALSE(enabled(ctl::Remove));
    tick(ctl::EvidenceList, 0);
    click(ctl::Remove);
    EXPECT_EQ(rows(ctl::EvidenceList), std::vector<std::wstring>{b});
    EXPECT_EQ(dialog->model().evidence().texts(), std::vector<std::string>{narrow(b)});
    EXPECT_FALSE(enabled(ctl::Remove));
}

TEST_F(Win32DialogTest, AllPictureFilesTicksThePictureKinds) {
    tickKind(L"ZIP Files");
    click(ctl::AllPictureFiles);
    const std::vector<std::wstring> pictures{L"BMP Files", L"GIF Files", L"JPEG Files",
                                             L"PNG Files", L"PSD Files", L"TIFF Files"};
    EXPECT_EQ(rows(ctl::KindList, true), pictures);
    click(ctl::KindSelectAll);
    EXPECT_EQ(rows(ctl::KindList, true).size(), 11u);
    click(ctl::KindDeselectAll);
    EXPECT_TRUE(rows(ctl::KindList, true).empty());
    EXPECT_EQ(SendMessageW(control(ctl::AllPictureFiles), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(dialog->model().kinds().tickedTexts().empty());
}

// Each check of the settings, in order: its warning, and where the focus goes.
TEST_F(Win32DialogTest, SettingsChecksWarnAndMoveTheFocus) {
    struct Case {
        const char* name;
        std::function<void(Win32DialogTest&)> setUp;
        std::wstring warning;
        int focus; // 0: not moved
        bool app;
    };
    const std::vector<Case> cases = {
        {"no evidence", [](Win32DialogTest&) {}, L"No Evidence File(s) is added.", 0, false},
        {"no kind", [](Win32DialogTest& t) { t.addEvidence(widen(t.writeImage("k.img", 4))); },
         L"Select One of the File Type to Carve", 0, false},
        // The form's exchange stops at the size box; the run's own checks go on with the last good size.
        {"size not a number", [](Win32DialogTest& t) { t.setText(ctl::MaxFileSize, L""); },
         L"Please enter an integer.", ctl::MaxFileSize, true},
        {"size 0", [](Win32DialogTest& t) { t.prepareRun(), t.setText(ctl::MaxFileSize, L"0"); },
         L"File Size can't be null.", ctl::MaxFileSize, false},
        {"size too large", [](Win32DialogTest& t) { t.prepareRun(), t.setText(ctl::MaxFileSize, L"10241"); },
         L"Carving of File Size >10240KB(10MB) is not supported.", ctl::MaxFileSize, false},
        {"no carving path",
         [](Win32DialogTest& t) {
             t.addEvidence(widen(t.writeImage("p.img", 4)));
             t.tickKind(L"GIF Files");
         },
         L"Specify Folder Path for Carving Files", ctl::CarvingPath, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialog.reset();
        messages.clear();
        open();
        SetFocus(control(ctl::Help));
        c.setUp(*this);
        click(ctl::Ok);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages[0].text, c.warning);
        EXPECT_EQ(messages[0].app, c.app);
        EXPECT_EQ(messages[0].style, 0x30);
        if (c.focus != 0) {
            EXPECT_EQ(GetFocus(), control(c.focus));
        }
        EXPECT_TRUE(enabled(ctl::Ok)); // no run mode for a refused start
        EXPECT_FALSE(enabled(ctl::Stop));
    }
}

TEST_F(Win32DialogTest, RunCarvesReportsAndResetsTheForm) {
    const std::wstring out = prepareRun();
    answer = [](const Win32Message& m) { return m.title == L"Completed.." ? IDYES : IDOK; };
    click(ctl::Ok);

    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().title, L"Completed..");
    EXPECT_EQ(messages.back().style, 0x44);
    EXPECT_EQ(messages.back().text.rfind(L"Carving Completed Successfully.\nTotal No:Of files carved: ", 0),
              0u);
    EXPECT_EQ(explored, std::vector<std::wstring>{out});

    const std::string folder = narrow(out) + "\\disk";
    const std::string report = test::readFile(folder + "\\disk~Report.xls");
    EXPECT_EQ(report.rfind(Output::reportHeader(), 0), 0u);
    EXPECT_NE(report.find("disk~JPEGFile0.jpg\t8192\t15\t2\t958\t"), std::string::npos) << report;
    EXPECT_TRUE(test::readFile(folder + "\\disk~JPEGFile0.jpg") == test::fixture("photo-jfif.jpg"));

    // The form is reset; the evidence stays listed, unticked.
    EXPECT_EQ(rows(ctl::EvidenceList).size(), 1u);
    EXPECT_TRUE(rows(ctl::KindList, true).empty());
    EXPECT_EQ(text(ctl::MaxFileSize), L"1024");
    EXPECT_EQ(text(ctl::CarvingPath), L"");
    EXPECT_EQ(text(ctl::Status), L"Select all required fields and Click Start to proceed.");
    // The status area's caption keeps the run's overall line: all of the image read, one file.
    EXPECT_EQ(text(ctl::StatusArea).find(L" KiB, 1 file"), text(ctl::StatusArea).size() - 12)
        << narrow(text(ctl::StatusArea));
    EXPECT_FALSE(IsWindowVisible(control(ctl::Progress)));
    EXPECT_TRUE(enabled(ctl::Ok));
    EXPECT_FALSE(enabled(ctl::Stop));
    EXPECT_FALSE(dialog->ended());
}

// The report's rows with the file name alone in place of the full path, and each carved file's bytes.
std::map<std::string, std::string> carvedIn(const std::string& folder, std::vector<std::string>& rows) {
    const std::string report = test::readFile(folder + "\\demo~Report.xls");
    std::size_t at = report.find("\r\n"); // past the header line
    while (at != std::string::npos && at + 2 < report.size()) {
        const std::size_t end = report.find("\r\n", at + 2);
        const std::string row =
            report.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
        rows.push_back(row.substr(row.rfind('\\', row.find('\t')) + 1));
        at = end;
    }
    std::map<std::string, std::string> files;
    for (const std::string& name : test::listFolder(folder)) {
        files[name] = test::readFile(folder + "\\" + name);
    }
    return files;
}

// Every kind ticked in the dialog carves what morrow-cli.exe carves with its defaults (which
// scripts/compare-windows holds to the Linux build's): the same rows, the same bytes.
TEST_F(Win32DialogTest, CarvesWhatMorrowCliCarves) {
    test::ImageBuilder image(512);
    std::uint64_t offset = 8 * 512;
    for (const std::string& name : test::listFolder(MORROW_TEST_DATA)) {
        if (name.ends_with(".md") || name.ends_with(".sh") || name.ends_with(".py")) {
            continue;
        }
        const std::string bytes = test::fixture(name);
        image.resize(offset + bytes.size() + 4096).place(offset, bytes);
        offset = (offset + bytes.size() + 3 * 512 + 511) / 512 * 512;
    }
    const std::string evidence = temp / "demo.img";
    image.resize(offset + 8 * 512).writeTo(evidence);

    addEvidence(widen(evidence));
    click(ctl::KindSelectAll);
    nextFolder = widen(temp / "dialog");
    click(ctl::CarvingBrowse);
    click(ctl::Ok);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().title, L"Completed..");

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cli = self;
    cli = cli.substr(0, cli.find_last_of(L'\\') + 1) + L"morrow-cli.exe";
    std::wstring commandLine =
        L"\"" + cli + L"\" -y -q -o \"" + widen(temp / "cli") + L"\" \"" + widen(evidence) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(cli.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::vector<std::string> dialogRows, cliRows;
    const auto dialogFiles = carvedIn(temp / "dialog\\demo", dialogRows);
    const auto cliFiles = carvedIn(temp / "cli\\demo", cliRows);
    EXPECT_GT(dialogRows.size(), 30u);
    EXPECT_EQ(dialogRows, cliRows);
    EXPECT_EQ(dialogFiles.size(), cliFiles.size());
    for (const auto& [name, bytes] : cliFiles) {
        if (name != "demo~Report.xls") {
            EXPECT_TRUE(dialogFiles.count(name) != 0 && dialogFiles.at(name) == bytes) << name;
        }
    }
}

// During a run: run mode as its table says, Stop answered No carries on, Quit answered Yes ends it.
TEST_F(Win32DialogTest, StopAnsweredNoThenQuitEndsTheDialog) {
    prepareRun(256);
    dialog->host().setPollThrottle(1, std::chrono::microseconds(0));
    int drains = 0;
    std::vector<int> wrong;
    dialog->host().setDrainHook([&] {
        ++drains;
        if (drains == 1) {
            for (const RunModeRow& row : runModeTable()) {
                if (enabled(row.id) != (row.inRun != Enable::Off)) {
                    wrong.push_back(row.id);
                }
            }
            click(ctl::Stop);
        } else if (drains == 3) {
            click(ctl::Cancel); // a request only: the window stays
            EXPECT_FALSE(dialog->ended());
        }
    });
    answer = [](const Win32Message& m) { return m.text.find(L"Quit") != std::wstring::npos ? IDYES : IDNO; };
    click(ctl::Ok);

    EXPECT_TRUE(wrong.empty()) << "control " << (wrong.empty() ? 0 : wrong[0]);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, L"Do you want to Cancel the Carving Process?");
    EXPECT_EQ(messages[0].title, warningTitle);
    EXPECT_EQ(messages[0].style, 0x14);
    EXPECT_EQ(messages[1].text, L"Carving Process is in progress!.\n Do you want to Quit the process?");
    EXPECT_EQ(messages[1].style, 0x14);
    EXPECT_TRUE(dialog->ended());
    EXPECT_FALSE(IsWindowVisible(dialog->window()));
}

TEST_F(Win32DialogTest, QuitWithoutARunEndsAtOnce) {
    click(ctl::Cancel);
    EXPECT_TRUE(dialog->ended());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Win32DialogTest, HelpOpensTheGuideOrSaysWhyNot) {
    dialog->setHelpPath(widen(test::fixturePath("../../res/Pellucid.hlp")));
    click(ctl::Help);
    EXPECT_EQ(helpShown.size(), 1u);
    dialog->setHelpPath(widen(temp / "missing.hlp"));
    click(ctl::Help);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind(L"The help file could not be opened:\n", 0), 0u);
    EXPECT_EQ(messages[0].style, 0x10);
    EXPECT_EQ(helpShown.size(), 1u);
}

// What a run started with comes back in the next dialog, from morrow.ini or from the registry.
TEST_F(Win32DialogTest, SettingsAreRemembered) {
    for (bool registry : {false, true}) {
        SCOPED_TRACE(registry ? "registry" : "ini");
        const std::wstring key = L"Software\\Morrow-test-" + std::to_wstring(GetCurrentProcessId());
        const std::wstring ini = widen(temp / "morrow.ini");
        auto store = [&]() -> std::unique_ptr<SettingsStore> {
            if (registry) {
                return std::make_unique<RegistrySettingsStore>(key);
            }
            return std::make_unique<IniSettingsStore>(ini);
        };
        dialog.reset();
        messages.clear();
        open(store());
        const std::wstring out = prepareRun();
        setText(ctl::MaxFileSize, L"2048");
        tickKind(L"Video Files");
        click(ctl::Ok);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back().title, L"Completed..");

        dialog.reset();
        open(store());
        EXPECT_EQ(rows(ctl::KindList, true), (std::vector<std::wstring>{L"JPEG Files", L"Video Files"}));
        EXPECT_EQ(text(ctl::MaxFileSize), L"2048");
        EXPECT_EQ(text(ctl::CarvingPath), out);
        nextEvidence.clear();
        click(ctl::EvidenceBrowse);
        EXPECT_EQ(chooserFolder, widen(temp.path()));
        if (registry) {
            RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        } else {
            EXPECT_NE(test::readFile(narrow(ini)).find("[Morrow]\r\nevidenceFolder="), std::string::npos);
        }
        std::filesystem::remove_all(std::filesystem::path(out));
    }
}

} // namespace
