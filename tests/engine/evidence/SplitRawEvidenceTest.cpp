#include "evidence/SplitRawEvidence.h"
#include "TestSupport.h"
#include "evidence/EvidenceSource.h"
#include "platform/OutputFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace morrow;
using namespace morrow::test;

namespace {

// Which files make a set, given the first: the numbering of split and the imagers, a gap ending
// the set, and first names that start none.
struct PieceRow {
    const char* name;
    std::vector<std::string> files; // made in the folder, one byte each
    const char* first;
    std::size_t pieces;
};

class SplitRawPieceTest : public ::testing::TestWithParam<PieceRow> {};

TEST_P(SplitRawPieceTest, FollowingPiecesAreFoundByName) {
    TempDir tmp;
    for (const std::string& file : GetParam().files) {
        writeFile(tmp / file, "x");
    }
    const std::vector<std::string> names = SplitRawEvidence::pieceNames(tmp / GetParam().first);
    ASSERT_EQ(names.size(), GetParam().pieces);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], tmp / GetParam().files[i]);
    }
}

std::vector<std::string> letterPieces(const char* base, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(std::string(base) + static_cast<char>('a' + i / 26) +
                        static_cast<char>('a' + i % 26));
    }
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    Names, SplitRawPieceTest,
    ::testing::Values(PieceRow{"Numbered", {"disk.001", "disk.002", "disk.003"}, "disk.001", 3},
                      PieceRow{"NumberedPastNine",
                               {"d.001", "d.002", "d.003", "d.004", "d.005", "d.006", "d.007", "d.008",
                                "d.009", "d.010", "d.011"},
                               "d.001",
                               11},
                      PieceRow{"TwoDigits", {"disk.01", "disk.02"}, "disk.01", 2},
                      PieceRow{"GapEndsTheSet", {"disk.001", "disk.002", "disk.004"}, "disk.001", 2},
                      PieceRow{"LoneFirstPieceIsRaw", {"disk.001"}, "disk.001", 1},
                      PieceRow{"LaterPieceIsRaw", {"disk.002", "disk.003"}, "disk.002", 1},
                      PieceRow{"OneDigitIsNoPiece", {"disk.1", "disk.2"}, "disk.1", 1},
                      PieceRow{"Letters", {"disk.aa", "disk.ab", "disk.ac"}, "disk.aa", 3},
                      PieceRow{"LettersCarry", letterPieces("disk.", 28), "disk.aa", 28},
                      PieceRow{"CapitalLetters", {"disk.AA", "disk.AB"}, "disk.AA", 2},
                      PieceRow{"MixedCaseIsNoNext", {"disk.aa", "disk.AB"}, "disk.aa", 1}),
    [](const auto& row) { return std::string(row.param.name); });

// A set of uneven pieces, an empty one among them, read as one image: every read and bulk copy
// that spans pieces gives the bytes of the pieces one after the other.
TEST(SplitRawEvidenceTest, ReadsAndCopiesSpanPieces) {
    TempDir tmp;
    const std::string whole = ImageBuilder(700 + 1500 + 512 + 3).randomFill(5).data();
    const std::vector<std::pair<const char*, std::string>> pieces = {{"disk.001", whole.substr(0, 700)},
                                                                     {"disk.002", ""},
                                                                     {"disk.003", whole.substr(700, 1500)},
                                                                     {"disk.004", whole.substr(2200, 512)},
                                                                     {"disk.005", whole.substr(2712)}};
    for (const auto& [name, bytes] : pieces) {
        writeFile(tmp / name, bytes);
    }
    std::string error;
    auto source = openEvidenceSource(tmp / "disk.001", error);
    ASSERT_NE(dynamic_cast<SplitRawEvidence*>(source.get()), nullptr) << error;
    ASSERT_EQ(source->size(), whole.size());
    EXPECT_EQ(source->path(), tmp / "disk.001");
    for (std::uint64_t offset = 0; offset < whole.size(); offset += 97) {
        std::string got(1000, '\0');
        const std::size_t n = source->read(offset, got.data(), got.size());
        EXPECT_EQ(got.substr(0, n), whole.substr(offset, 1000)) << "at " << offset;
    }
    OutputFile out;
    ASSERT_TRUE(out.open(tmp / "copy", OutputFile::Mode::Replace));
    const auto copied = source->copyTo(out, 600, 2110);
    EXPECT_EQ(copied.error, 0);
    out.close();
    // A file system without a kernel copy copies nothing, and the caller's buffer does it all.
    EXPECT_EQ(readFile(tmp / "copy"), whole.substr(600, static_cast<std::size_t>(copied.copied)));
    EXPECT_TRUE(copied.copied == 2110 || copied.copied == 0) << copied.copied;
}

// Holes of a sparse piece are passed over as a raw image's are, across the piece's bounds.
TEST(SplitRawEvidenceTest, HolesArePassedOverPieceByPiece) {
    TempDir tmp;
    writeFile(tmp / "disk.001", std::string(4096, 'a'));
    const int fd = ::open((tmp / "disk.002").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::ftruncate(fd, 64 << 20), 0);
    ::close(fd);
    writeFile(tmp / "disk.003", std::string(4096, 'c'));
    std::string error;
    auto source = openEvidenceSource(tmp / "disk.001", error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_EQ(source->nextData(100), 100u);
    const std::uint64_t third = 4096 + (64 << 20);
    const std::uint64_t next = source->nextData(4096);
    if (next == 4096) {
        GTEST_SKIP() << "this file system does not report holes";
    }
    EXPECT_EQ(next, third);
    EXPECT_EQ(source->nextData(third + 10), third + 10);
}

} // namespace
