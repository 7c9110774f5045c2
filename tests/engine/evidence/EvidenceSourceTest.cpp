#include "evidence/EvidenceSource.h"
#include "TestSupport.h"
#include "evidence/EwfEvidence.h"
#include "evidence/RawEvidence.h"
#include "evidence/SplitRawEvidence.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace morrow;
using namespace morrow::test;

namespace {

// An E01 image of `bytes` made with ewfacquire as `target`.E01, .E02, …
void makeEwf(const TempDir& tmp, const std::string& bytes, const std::string& target, std::uint64_t segment) {
    writeFile(tmp / "acquired.raw", bytes);
    ASSERT_TRUE(acquireEwf(tmp / "acquired.raw", tmp / target, segment, "none"));
    ::unlink((tmp / "acquired.raw").c_str());
}

enum class Kind { Raw, Split, Ewf, Refused };

struct KindRow {
    const char* name;
    std::function<void(const TempDir&)> make;
    const char* path;
    Kind kind;
    std::uint64_t size;  // of the image, when opened
    const char* message; // part of the reason, when refused
};

class EvidenceKindTest : public ::testing::TestWithParam<KindRow> {};

// The content decides first (an EWF signature makes an E01 image whatever the name), then the name
// (a first piece whose next piece is there makes a split image); the rest is raw.
TEST_P(EvidenceKindTest, KindIsToldByContentThenName) {
    const KindRow& row = GetParam();
    const bool ewf = row.kind == Kind::Ewf || std::string(row.name).rfind("Ewf", 0) == 0;
    if (ewf && !haveProgram("ewfacquire")) {
        GTEST_SKIP() << "ewfacquire (ewf-tools) is not installed";
    }
    TempDir tmp;
    row.make(tmp);
    std::string error;
    auto source = openEvidenceSource(tmp / row.path, error);
    if (ewf && !EwfEvidence::builtIn()) {
        EXPECT_EQ(source, nullptr);
        EXPECT_EQ(error, "E01 images are not supported by this build");
        return;
    }
    switch (row.kind) {
    case Kind::Raw:
        EXPECT_NE(dynamic_cast<RawEvidence*>(source.get()), nullptr) << error;
        break;
    case Kind::Split:
        EXPECT_NE(dynamic_cast<SplitRawEvidence*>(source.get()), nullptr) << error;
        break;
    case Kind::Ewf:
        EXPECT_NE(dynamic_cast<EwfEvidence*>(source.get()), nullptr) << error;
        break;
    case Kind::Refused:
        EXPECT_EQ(source, nullptr);
        EXPECT_NE(error.find(row.message), std::string::npos) << error;
        return;
    }
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->size(), row.size);
    EXPECT_EQ(source->path(), tmp / row.path);
}

const std::string ewf2Header = std::string("EVF2\x0d\x0a\x81\x00", 8);

INSTANTIATE_TEST_SUITE_P(
    Kinds, EvidenceKindTest,
    ::testing::Values(
        KindRow{"EwfUnderAnyName",
                [](const TempDir& dir) {
                    makeEwf(dir, ImageBuilder(65536).randomFill(1).data(), "img", 1 << 20);
                    ASSERT_EQ(::rename((dir / "img.E01").c_str(), (dir / "evidence.bin").c_str()), 0);
                },
                "evidence.bin", Kind::Ewf, 65536, ""},
        KindRow{"EwfTwoSegments",
                [](const TempDir& dir) {
                    makeEwf(dir, ImageBuilder(3 << 19).randomFill(2).data(), "disk", 1 << 20);
                },
                "disk.E01", Kind::Ewf, 3 << 19, ""},
        KindRow{"EwfVersionTwo",
                [](const TempDir& dir) { writeFile(dir / "disk.Ex01", ewf2Header + std::string(4096, 0)); },
                "disk.Ex01", Kind::Refused, 0, "libewf"},
        KindRow{"RawNamedE01",
                [](const TempDir& dir) { writeFile(dir / "disk.E01", std::string(4096, 'r')); }, "disk.E01",
                Kind::Raw, 4096, ""},
        KindRow{"SplitNumbered",
                [](const TempDir& dir) {
                    writeFile(dir / "disk.001", std::string(1000, '1'));
                    writeFile(dir / "disk.002", std::string(24, '2'));
                },
                "disk.001", Kind::Split, 1024, ""},
        KindRow{"SplitLetters",
                [](const TempDir& dir) {
                    writeFile(dir / "disk.aa", std::string(512, 'a'));
                    writeFile(dir / "disk.ab", std::string(512, 'b'));
                    writeFile(dir / "disk.ac", std::string(1, 'c'));
                },
                "disk.aa", Kind::Split, 1025, ""},
        KindRow{"LoneFirstPieceIsRaw",
                [](const TempDir& dir) { writeFile(dir / "disk.001", std::string(512, '1')); }, "disk.001",
                Kind::Raw, 512, ""},
        KindRow{"SplitPieceThatIsAFolder",
                [](const TempDir& dir) {
                    writeFile(dir / "disk.001", std::string(512, '1'));
                    ::mkdir((dir / "disk.002").c_str(), 0755);
                },
                "disk.001", Kind::Refused, 0, "piece disk.002: Is a directory"}),
    [](const auto& row) { return std::string(row.param.name); });

// Any piece or segment of a multi-file image that changes under a run is noticed, and named.
struct SetChangeRow {
    const char* name;
    bool ewf;
    const char* changedFile;
    std::function<void(const std::string& path, const TempDir& tmp)> change;
    const char* what; // the start of what changed() says
};

class EvidenceSetChangeTest : public ::testing::TestWithParam<SetChangeRow> {};

TEST_P(EvidenceSetChangeTest, AChangeToAnyFileOfTheSetIsSeen) {
    const SetChangeRow& row = GetParam();
    if (row.ewf && (!haveProgram("ewfacquire") || !EwfEvidence::builtIn())) {
        GTEST_SKIP() << "needs ewfacquire and a build that reads E01 images";
    }
    TempDir tmp;
    std::string first;
    std::vector<std::string> files;
    if (row.ewf) {
        makeEwf(tmp, ImageBuilder(5 << 19).randomFill(3).data(), "disk", 1 << 20);
        first = tmp / "disk.E01";
        files = {"disk.E01", "disk.E02", "disk.E03"};
    } else {
        files = {"disk.001", "disk.002", "disk.003"};
        for (const std::string& f : files) {
            writeFile(tmp / f, std::string(4096, f.back()));
        }
        first = tmp / "disk.001";
    }
    // An old modification time, so that a write a moment later surely gives another one.
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    for (const std::string& f : files) {
        ASSERT_EQ(::utimensat(AT_FDCWD, (tmp / f).c_str(), old, 0), 0);
    }
    std::string error;
    auto source = openEvidenceSource(first, error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_EQ(source->changed(), "");
    row.change(tmp / row.changedFile, tmp);
    EXPECT_EQ(source->changed().rfind(row.what, 0), 0u) << source->changed();
}

void writeInPlace(const std::string& p, const TempDir&) {
    const int fd = ::open(p.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, "x", 1, 100), 1);
    ::close(fd);
}
void replace(const std::string& p, const TempDir& tmp) {
    writeFile(tmp / "other", readFile(p));
    ASSERT_EQ(::rename((tmp / "other").c_str(), p.c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, EvidenceSetChangeTest,
    ::testing::Values(
        SetChangeRow{"SplitPieceWritten", false, "disk.002", writeInPlace,
                     "piece disk.002: it was written to"},
        SetChangeRow{"SplitLastPieceCut", false, "disk.003",
                     [](const std::string& p, const TempDir&) { ASSERT_EQ(::truncate(p.c_str(), 10), 0); },
                     "piece disk.003: its size changed from 4096 to 10 bytes"},
        SetChangeRow{"SplitPieceReplaced", false, "disk.002", replace,
                     "piece disk.002: its path now names another file"},
        SetChangeRow{"EwfSegmentWritten", true, "disk.E02", writeInPlace,
                     "segment disk.E02: it was written to"},
        SetChangeRow{"EwfLastSegmentRemoved", true, "disk.E03",
                     [](const std::string& p, const TempDir&) { ASSERT_EQ(::unlink(p.c_str()), 0); },
                     "segment disk.E03: its path no longer opens"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
