// What the Windows half of the platform layer does differently: backslashes in what the examiner
// reads, paths past 260 characters, UTF-8 paths at UTF-16 system calls, evidence shared with its
// writers, and system errors in words.
#include "CarveEngine.h"
#include "TestSupport.h"
#include "evidence/RawEvidence.h"
#include "platform/FileSystem.h"
#include "platform/OutputFile.h"
#include "platform/WinApi.h"

#include <gtest/gtest.h>

#include <functional>
#include <windows.h>

using namespace morrow;
using namespace morrow::test;

namespace {

// The whole file at `path` (UTF-8), read through the W functions.
std::string readWide(const std::string& path) {
    HANDLE h = CreateFileW(win32::systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string bytes;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(h, block, sizeof block, &got, nullptr) && got > 0) {
        bytes.append(block, got);
    }
    CloseHandle(h);
    return bytes;
}

// The first report row's path (what the report holds, in its 8-bit form).
std::string firstRowPath(const std::string& report) {
    const std::size_t start = report.find("\r\n");
    return start == std::string::npos ? std::string()
                                      : report.substr(start + 2, report.find('\t', start) - start - 2);
}

// A run of the real engine carving one JPEG out of `evidence` into `carvingPath`.
struct JpegRun {
    FakeHost host;
    CarveEngine engine{host};
    std::string jpeg = fixture("photo-jfif.jpg");

    RunResult go(const std::string& evidence, const std::string& carvingPath) {
        HANDLE h = CreateFileW(win32::systemPath(evidence).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               0, nullptr);
        const std::string image = ImageBuilder(64 * 1024).randomFill(5).place(8192, jpeg).data();
        DWORD put = 0;
        WriteFile(h, image.data(), static_cast<DWORD>(image.size()), &put, nullptr);
        CloseHandle(h);
        host.evidence = {evidence};
        host.carvingPath = carvingPath;
        host.tick({"JPEG Files"});
        return engine.startRun();
    }
};

TEST(PlatformWin32Test, PathsAreJoinedWithBackslashesAndSplitAtEitherSeparator) {
    EXPECT_EQ(pathSeparator, '\\');
    for (const char* path : {"C:\\cases\\17\\disk.P01", "C:/cases/17/disk.P01", "\\\\server\\share\\disk.P01",
                             "C:\\cases/17\\disk.P01"}) {
        EXPECT_EQ(Output::evidenceStem(path), "disk") << path;
    }
    TempDir tmp;
    JpegRun run;
    ASSERT_EQ(run.go(tmp / "disk.img", tmp / "carved").end, RunResult::End::Complete);
    const std::string folder = tmp.path() + "\\carved\\disk";
    EXPECT_EQ(firstRowPath(readWide(folder + "\\disk~Report.xls")), folder + "\\disk~JPEGFile0.jpg");
    EXPECT_EQ(readWide(folder + "\\disk~JPEGFile0.jpg"), run.jpeg);
}

// Broke without the \\?\ prefix: every call past 260 characters failed with "path not found".
TEST(PlatformWin32Test, OutputPastTheOldPathLimitIsWrittenAndReportedWithoutPrefix) {
    TempDir tmp;
    std::string deep = tmp.path();
    for (char c : std::string("abcde")) {
        deep += "\\" + std::string(60, c);
        ASSERT_EQ(createFolder(deep), 0) << deep.size();
    }
    ASSERT_GT(deep.size(), 300u);
    EXPECT_TRUE(freeSpace(deep).has_value());
    JpegRun run;
    ASSERT_EQ(run.go(deep + "\\disk.img", deep + "\\carved").end, RunResult::End::Complete);
    const std::string carved = deep + "\\carved\\disk\\disk~JPEGFile0.jpg";
    EXPECT_EQ(readWide(carved), run.jpeg);
    EXPECT_EQ(firstRowPath(readWide(deep + "\\carved\\disk\\disk~Report.xls")), carved);
}

TEST(PlatformWin32Test, Utf8PathsReachTheSystemAsUtf16) {
    TempDir tmp;
    const std::string name = "F\xC3\xA4lle-\xE6\x97\xA5"; // "Fälle-日"
    JpegRun run;
    ASSERT_EQ(run.go(tmp / (name + ".img"), tmp / name).end, RunResult::End::Complete);
    const std::string folder = tmp / (name + "\\" + name);
    EXPECT_EQ(readWide(folder + "\\" + name + "~JPEGFile0.jpg"), run.jpeg);
    // The report is 8-bit: ä fits, 日 is written as a reference.
    EXPECT_EQ(firstRowPath(readWide(folder + "\\" + name + "~Report.xls")),
              tmp.path() + "\\F\xE4lle-&#x65E5;\\F\xE4lle-&#x65E5;\\F\xE4lle-&#x65E5;~JPEGFile0.jpg");
}

// Evidence stays open to the system's other writers (a mounted volume is written all the time),
// and what they change is seen; deleting or renaming it under the run is refused.
struct ShareRow {
    const char* name;
    std::function<void(HANDLE writer)> change;
    const char* what; // what changed() says; "" for nothing
};

class EvidenceSharingTest : public ::testing::TestWithParam<ShareRow> {};

TEST_P(EvidenceSharingTest, OtherWritersMayGoOnAndTheirChangesAreSeen) {
    TempDir tmp;
    const std::string path = tmp / "disk.img";
    writeFile(path, std::string(4096, 'e'));
    const std::wstring wide = win32::systemPath(path);
    // The writer shares even deletion: only Morrow's own handle may stand in the way of one.
    HANDLE writer = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    // An old write time, so that a write a moment later surely gives another one.
    FILETIME old{0x10000000, 0x01C00000};
    ASSERT_TRUE(SetFileTime(writer, nullptr, nullptr, &old));

    std::string error;
    auto source = openEvidenceSource(path, error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_FALSE(DeleteFileW(wide.c_str()));
    EXPECT_FALSE(MoveFileExW(wide.c_str(), win32::systemPath(tmp / "moved.img").c_str(), 0));
    GetParam().change(writer);
    CloseHandle(writer);
    EXPECT_EQ(source->changed(), GetParam().what);
    char b[4];
    EXPECT_EQ(source->read(0, b, 4), 4u);
}

INSTANTIATE_TEST_SUITE_P(Writers, EvidenceSharingTest,
                         ::testing::Values(ShareRow{"Untouched", [](HANDLE) {}, ""},
                                           ShareRow{"WrittenInPlace",
                                                    [](HANDLE w) {
                                                        DWORD put = 0;
                                                        ASSERT_TRUE(WriteFile(w, "x", 1, &put, nullptr));
                                                    },
                                                    "it was written to"},
                                           ShareRow{"CutShort",
                                                    [](HANDLE w) {
                                                        LARGE_INTEGER at{};
                                                        at.QuadPart = 1000;
                                                        ASSERT_TRUE(
                                                            SetFilePointerEx(w, at, nullptr, FILE_BEGIN));
                                                        ASSERT_TRUE(SetEndOfFile(w));
                                                    },
                                                    "its size changed from 4096 to 1000 bytes"}),
                         [](const auto& row) { return std::string(row.param.name); });

// Messages quote system errors mid-line: the common ones in the same words as on Linux, the
// others in Windows' own, without its closing full stop and line break.
TEST(PlatformWin32Test, SystemErrorsReadAsOnLinuxOrInWindowsOwnWords) {
    TempDir tmp;
    EXPECT_EQ(systemErrorText(createFolder(tmp / "missing/out")), "No such file or directory");
    EXPECT_EQ(createFolder(tmp.path()), EEXIST);
    EXPECT_TRUE(isOutOfSpace(win32::errorNumber(ERROR_DISK_FULL)));
    const std::string sharing = systemErrorText(win32::errorNumber(ERROR_SHARING_VIOLATION));
    ASSERT_FALSE(sharing.empty());
    EXPECT_EQ(sharing.find_first_of("\r\n"), std::string::npos) << sharing;
    EXPECT_NE(sharing.back(), '.') << sharing;
}

} // namespace
