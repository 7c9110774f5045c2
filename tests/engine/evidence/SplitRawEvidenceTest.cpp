#include "evidence/SplitRawEvidence.h"
#include "TestSupport.h"
#include "evidence/EvidenceSource.h"
#include "platform/OutputFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <unistd.h>

using namespace morrow;
using namespace morrow::test;

namespace {

#ifdef _WIN32
constexpr bool namesIgnoreCase = true;
#else
constexpr bool namesIgnoreCase = false;
#endif

// Which files make a set, given the first: split's and the imagers' numbering, a gap ending the
// set, and names that start none.
struct PieceRow {
    const char* name;
    std::vector<std::string> files; // made in the folder; the first is given
    std::size_t pieces;
};

class SplitRawPieceTest : public ::testing::TestWithParam<PieceRow> {};

TEST_P(SplitRawPieceTest, FollowingPiecesAreFoundByName) {
    TempDir tmp;
    for (const std::string& file : GetParam().files) {
        writeFile(tmp / file, "x");
    }
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < GetParam().pieces; ++i) {
        expected.push_back(tmp / GetParam().files[i]);
    }
    std::vector<std::string> found = SplitRawEvidence::pieceNames(tmp / GetParam().files[0]);
    if (namesIgnoreCase) {
        // The names are built in the first piece's letter case; the file system takes either.
        for (auto* names : {&expected, &found}) {
            for (std::string& n : *names) {
                std::transform(n.begin(), n.end(), n.begin(),
                               [](unsigned char c) { return std::tolower(c); });
            }
        }
    }
    EXPECT_EQ(found, expected);
}

std::vector<std::string> pieces(const std::string& base, int count, bool letters) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%03d", i + 1);
        names.push_back(base + (letters ? std::string{char('a' + i / 26), char('a' + i % 26)} : suffix));
    }
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    Names, SplitRawPieceTest,
    ::testing::Values(PieceRow{"NumberedPastNine", pieces("disk.", 11, false), 11},
                      PieceRow{"TwoDigits", {"disk.01", "disk.02"}, 2},
                      PieceRow{"GapEndsTheSet", {"disk.001", "disk.002", "disk.004"}, 2},
                      PieceRow{"LoneFirstPiece", {"disk.001"}, 1},
                      PieceRow{"LaterPieceStartsNoSet", {"disk.002", "disk.003"}, 1},
                      PieceRow{"OneDigitIsNoPiece", {"disk.1", "disk.2"}, 1},
                      PieceRow{"LettersCarry", pieces("disk.", 28, true), 28},
                      PieceRow{"CapitalLetters", {"disk.AA", "disk.AB"}, 2},
                      // Windows' file names ignore letter case: there it is the next.
                      PieceRow{"MixedCaseIsNoNext", {"disk.aa", "disk.AB"}, namesIgnoreCase ? 2u : 1u}),
    [](const auto& row) { return std::string(row.param.name); });

// Uneven pieces, an empty and a sparse one among them: reads and kernel copies that span pieces
// give the pieces' bytes one after the other, and holes are passed over across the bounds.
TEST(SplitRawEvidenceTest, ReadsCopiesAndHolesSpanPieces) {
    TempDir tmp;
    const std::string head = ImageBuilder(4100).randomFill(5).data();
    const std::string tail = ImageBuilder(700).randomFill(6).data();
    writeFile(tmp / "disk.001", head);
    writeFile(tmp / "disk.002", "");
    const int fd = ::open((tmp / "disk.003").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::ftruncate(fd, 64 << 20), 0);
    ::close(fd);
    writeFile(tmp / "disk.004", tail);
    const std::string whole = head + std::string(64 << 20, '\0') + tail;

    std::string error;
    auto source = openEvidenceSource(tmp / "disk.001", error);
    ASSERT_NE(dynamic_cast<SplitRawEvidence*>(source.get()), nullptr) << error;
    ASSERT_EQ(source->size(), whole.size());
    for (const std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{3000}, whole.size() - 900}) {
        std::string got(2000, '\0');
        got.resize(source->read(offset, got.data(), got.size()));
        EXPECT_TRUE(got == whole.substr(offset, 2000)) << "at " << offset;
    }
    OutputFile out;
    ASSERT_TRUE(out.open(tmp / "copy", OutputFile::Mode::Replace));
    const auto copied = source->copyTo(out, whole.size() - 1000, 1000);
    out.close();
    EXPECT_EQ(copied.error, 0);
    EXPECT_TRUE(copied.copied == 1000 || copied.copied == 0) << copied.copied; // 0: no kernel copy here
    EXPECT_TRUE(readFile(tmp / "copy") == whole.substr(whole.size() - 1000, copied.copied));

    const std::uint64_t next = source->nextData(head.size());
    if (next == head.size()) {
        GTEST_SKIP() << "this file system does not report holes";
    }
    EXPECT_EQ(next, head.size() + (64 << 20));
}

} // namespace
