#include "evidence/EvidenceSource.h"
#include "TestSupport.h"
#include "evidence/CachedEvidence.h"
#include "evidence/EwfEvidence.h"
#include "evidence/RawEvidence.h"
#include "evidence/SplitRawEvidence.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

using namespace morrow;
using namespace morrow::test;

namespace {

namespace fs = std::filesystem;

bool canMakeEwf() {
    return canAcquireEwf() && EwfEvidence::builtIn();
}

// An E01 image of `size` seeded bytes, `target`.E01, .E02, … in segments of 1 MiB.
void makeEwf(const TempDir& dir, std::uint64_t size, const std::string& target) {
    ImageBuilder(size).randomFill(1).writeTo(dir / "acquired.raw");
    ASSERT_TRUE(acquireEwf(dir / "acquired.raw", dir / target, 1 << 20, "none"));
    fs::remove(dir / "acquired.raw");
}

enum class Kind { Raw, Split, Ewf, Refused };

struct KindRow {
    const char* name;
    bool ewf; // needs ewfacquire and libewf
    std::function<void(const TempDir&)> make;
    const char* path;
    Kind kind;
    const char* reason; // part of the reason, when refused
};

class EvidenceKindTest : public ::testing::TestWithParam<KindRow> {};

// The content decides first (an EWF signature makes an E01 image whatever the name), then the name
// (a first piece whose next piece is there makes a split image); the rest is raw. The common
// cases, disk.E01 and disk.001, are carved by morrow-cli in EvidenceFormatsCliTest.
TEST_P(EvidenceKindTest, KindIsToldByContentThenName) {
    const KindRow& row = GetParam();
    if (row.ewf && !canMakeEwf()) {
        GTEST_SKIP() << "needs ewfacquire (ewf-tools) and a build that reads E01 images";
    }
    TempDir tmp;
    row.make(tmp);
    std::string error;
    auto source = openEvidenceSource(tmp / row.path, error);
    EvidenceSource* s = source.get();
    switch (row.kind) {
    case Kind::Raw:
        EXPECT_NE(dynamic_cast<RawEvidence*>(s), nullptr) << error;
        break;
    case Kind::Split:
        EXPECT_NE(dynamic_cast<SplitRawEvidence*>(s), nullptr) << error;
        break;
    case Kind::Ewf: {
        // read through the cache of its chunks decoded last
        auto* cached = dynamic_cast<CachedEvidence*>(s);
        EXPECT_TRUE(cached != nullptr && dynamic_cast<EwfEvidence*>(&cached->source()) != nullptr) << error;
        break;
    }
    case Kind::Refused:
        EXPECT_EQ(s, nullptr);
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EvidenceKindTest,
    ::testing::Values(
        KindRow{"EwfUnderAnyName", true,
                [](const TempDir& dir) {
                    makeEwf(dir, 65536, "img");
                    fs::rename(dir / "img.E01", dir / "evidence.bin");
                },
                "evidence.bin", Kind::Ewf, ""},
        KindRow{"EwfVersionTwoUnknownToLibewf", true,
                [](const TempDir& dir) {
                    writeFile(dir / "disk.Ex01",
                              std::string("EVF2\x0d\x0a\x81\x00", 8) + std::string(4096, 0));
                },
                "disk.Ex01", Kind::Refused, "libewf"},
        KindRow{"RawNamedE01", false,
                [](const TempDir& dir) { writeFile(dir / "disk.E01", std::string(4096, 'r')); }, "disk.E01",
                Kind::Raw, ""},
        KindRow{"LetteredPieces", false,
                [](const TempDir& dir) {
                    writeFile(dir / "disk.aa", "a");
                    writeFile(dir / "disk.ab", "b");
                },
                "disk.aa", Kind::Split, ""},
        KindRow{"LoneFirstPiece", false, [](const TempDir& dir) { writeFile(dir / "disk.001", "1"); },
                "disk.001", Kind::Raw, ""},
        KindRow{"GapInTheNumbering", false,
                [](const TempDir& dir) {
                    for (const char* piece : {"disk.001", "disk.003", "disk.004", "disk.009"}) {
                        writeFile(dir / piece, "p");
                    }
                },
                "disk.001", Kind::Refused,
                "piece disk.002 is missing, so disk.003 to disk.009 (3 pieces) would be left out"},
        KindRow{"PieceThatIsAFolder", false,
                [](const TempDir& dir) {
                    writeFile(dir / "disk.001", "1");
                    fs::create_directory(dir / "disk.002");
                },
                "disk.001", Kind::Refused, "piece disk.002: Is a directory"}),
    [](const auto& row) { return std::string(row.param.name); });

// A change to any piece or segment of a multi-file image under a run is seen, and named.
struct SetChangeRow {
    const char* name;
    bool ewf;
    const char* changedFile;
    std::function<void(const std::string& path)> change;
    const char* what; // the start of what changed() says
};

class EvidenceSetChangeTest : public ::testing::TestWithParam<SetChangeRow> {};

TEST_P(EvidenceSetChangeTest, AChangeToAnyFileOfTheSetIsSeen) {
    const SetChangeRow& row = GetParam();
    if (row.ewf && !canMakeEwf()) {
        GTEST_SKIP() << "needs ewfacquire (ewf-tools) and a build that reads E01 images";
    }
    TempDir tmp;
    const char* const names[2][3] = {{"disk.001", "disk.002", "disk.003"},
                                     {"disk.E01", "disk.E02", "disk.E03"}};
    if (row.ewf) {
        makeEwf(tmp, 5 << 19, "disk");
    } else {
        for (const char* name : names[0]) {
            writeFile(tmp / name, std::string(4096, 'p'));
        }
    }
    // An old modification time, so that a write a moment later surely gives another one.
    for (const char* name : names[row.ewf]) {
        fs::last_write_time(tmp / name, fs::last_write_time(tmp / name) - std::chrono::hours(24 * 365));
    }
    std::string error;
    auto source = openEvidenceSource(tmp / names[row.ewf][0], error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_EQ(source->changed(), "");
    row.change(tmp / row.changedFile);
    EXPECT_EQ(source->changed().rfind(row.what, 0), 0u) << source->changed();
}

void writeInPlace(const std::string& path) {
    std::fstream file(fs::path(path), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(100);
    ASSERT_TRUE(file.write("x", 1).flush()) << path;
}

std::vector<SetChangeRow> setChangeRows() {
    std::vector<SetChangeRow> rows{
        {"SplitPieceWritten", false, "disk.002", writeInPlace, "piece disk.002: it was written to"},
        {"SplitLastPieceCut", false, "disk.003", [](const std::string& p) { fs::resize_file(p, 10); },
         "piece disk.003: its size changed from 4096 to 10 bytes"},
        {"EwfSegmentWritten", true, "disk.E02", writeInPlace, "segment disk.E02: it was written to"}};
#ifndef _WIN32
    rows.push_back({"SplitPieceWrittenWithTimesPutBack", false, "disk.002", writeWithTimesPutBack,
                    "piece disk.002: its change time moved"});
    // Windows removes no file that is open without leave to delete it.
    rows.push_back({"EwfLastSegmentRemoved", true, "disk.E03", [](const std::string& p) { fs::remove(p); },
                    "segment disk.E03: its path no longer opens"});
#endif
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Changes, EvidenceSetChangeTest, ::testing::ValuesIn(setChangeRows()),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
