#include "evidence/EvidenceReader.h"
#include "TestSupport.h"
#include "evidence/EvidenceSource.h"

#include <functional>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace morrow;
using namespace morrow::test;

namespace {

// A named pipe given as evidence used to block the open until some writer came along.
TEST(EvidenceTest, PipesAndFoldersAreRefusedWithoutWaiting) {
    TempDir tmp;
    std::string error;
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((tmp / "pipe").c_str(), 0644), 0);
    EXPECT_EQ(openEvidenceSource(tmp / "pipe", error), nullptr);
#endif
    EXPECT_EQ(openEvidenceSource(tmp.path(), error), nullptr);
    EXPECT_FALSE(error.empty());
    writeFile(tmp / "img", "abc");
    auto source = openEvidenceSource(tmp / "img", error);
    ASSERT_NE(source, nullptr);
    EvidenceReader ev(*source);
    unsigned char b[6];
    EXPECT_EQ(ev.readAt(1, b, 6), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 6), std::string("bc\0\0\0\0", 6));
    EXPECT_EQ(ev.readAt(-4, b, 2), 0u);
}

#ifndef _WIN32
// What an open raw image notices of changes made under it through its path. (On Windows the
// evidence is open without delete sharing, so it cannot be replaced or removed under a run; its
// size and writes are tested in RawEvidenceWin32Test.cpp.)
struct RawChangeRow {
    const char* name;
    std::function<void(const std::string& path, const TempDir& tmp)> change;
    const char* what; // the start of what changed() says; "" for no change
};

class RawEvidenceChangeTest : public ::testing::TestWithParam<RawChangeRow> {};

TEST_P(RawEvidenceChangeTest, ChangesThroughThePathAreSeen) {
    TempDir tmp;
    const std::string path = tmp / "disk.img";
    writeFile(path, std::string(4096, 'e'));
    // An old modification time, so that a write a moment later surely gives another one.
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    std::string error;
    auto source = openEvidenceSource(path, error);
    ASSERT_NE(source, nullptr) << error;
    // Morrow's own reads change nothing it checks.
    std::string all(4096, '\0');
    ASSERT_EQ(source->read(0, all.data(), all.size()), all.size());
    GetParam().change(path, tmp);
    EXPECT_EQ(source->changed().rfind(GetParam().what, 0), 0u) << source->changed();
    EXPECT_EQ(source->changed().empty(), std::string(GetParam().what).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Changes, RawEvidenceChangeTest,
    ::testing::Values(
        RawChangeRow{"Untouched", [](const std::string&, const TempDir&) {}, ""},
        RawChangeRow{"Truncated",
                     [](const std::string& p, const TempDir&) { ASSERT_EQ(::truncate(p.c_str(), 1000), 0); },
                     "its size changed from 4096 to 1000 bytes"},
        RawChangeRow{"WrittenInPlace",
                     [](const std::string& p, const TempDir&) {
                         const int fd = ::open(p.c_str(), O_WRONLY);
                         ASSERT_EQ(::pwrite(fd, "x", 1, 10), 1);
                         ::close(fd);
                     },
                     "it was written to"},
        // Broke: unseen, the bytes carved were not those hashed.
        RawChangeRow{"WrittenWithTimesPutBack",
                     [](const std::string& p, const TempDir&) { writeWithTimesPutBack(p); },
                     "its change time moved"},
        RawChangeRow{"Replaced",
                     [](const std::string& p, const TempDir& folder) {
                         writeFile(folder / "other", std::string(4096, 'z'));
                         ASSERT_EQ(::rename((folder / "other").c_str(), p.c_str()), 0);
                     },
                     "its path now names another file"},
        RawChangeRow{"Removed",
                     [](const std::string& p, const TempDir&) { ASSERT_EQ(::unlink(p.c_str()), 0); },
                     "its path no longer opens"}),
    [](const auto& row) { return std::string(row.param.name); });

// Holes of a sparse image are told apart from its data, so a scan can pass over them.
TEST(EvidenceTest, SparseImageSaysWhereItsDataIs) {
    TempDir tmp;
    const std::string path = tmp / "sparse.img";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
    ASSERT_EQ(::pwrite(fd, "data", 4, off_t{512} << 20), 4);
    ::close(fd);
    std::string error;
    auto source = openEvidenceSource(path, error);
    ASSERT_NE(source, nullptr);
    const std::uint64_t data = source->nextData(0);
    EXPECT_LE(data, std::uint64_t{512} << 20);
    if (data == 0) {
        GTEST_SKIP() << "this file system does not report holes";
    }
    EXPECT_GT(data, 0u);
    EXPECT_EQ(source->nextData((std::uint64_t{512} << 20) + (1 << 20)), source->size());
}
#endif // _WIN32

} // namespace
