// The joins themselves, over images in memory: what the search may not take (sectors claimed or
// starting another file), what its budget allows, and the split-CRC search that the PNG and ZIP
// proofs stand on.
#include "formats/FragmentJoin.h"
#include "ExtentTests.h"
#include "TestSupport.h"
#include "formats/SplitCrc.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace morrow;

namespace {

constexpr std::uint64_t sector = 512;

std::uint32_t crc32Of(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char ch : bytes) {
        crc ^= static_cast<unsigned char>(ch);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

class SetClaims final : public ClusterClaims {
  public:
    std::set<std::int64_t> sectors;
    bool taken(std::int64_t s) const override { return sectors.count(s) != 0; }
    bool claimed(std::int64_t s) const override { return sectors.count(s) != 0; }
};

// A file cut at `cut` with `gap` random bytes before its rest, at 4 KiB into the image.
struct Split {
    std::string image;
    std::int64_t H = 4096;
    std::int64_t tail = 0;
};
Split split(const std::string& file, std::uint64_t cut, std::uint64_t gap) {
    Split s;
    s.image = test::randomBytes(4096, 1) + file.substr(0, cut) + test::randomBytes(gap, 2) +
              file.substr(cut) + test::randomBytes(8192, 3);
    s.tail = s.H + static_cast<std::int64_t>(cut + gap);
    return s;
}

struct JoinRow {
    const char* name;
    FileTypeId type;
    const char* fixture;
    std::uint64_t cut;
};

class FragmentJoinTest : public ::testing::TestWithParam<JoinRow> {};

// Joined where the pieces are; not joined when the tail's first sector, or one inside it, is
// another file's; not joined when the budget runs out; a whole file proved whole.
TEST_P(FragmentJoinTest, JoinsOnlyWhatIsFreeAndAffordable) {
    const JoinRow& row = GetParam();
    const std::string file = test::fixture(row.fixture);
    const Split s = split(file, row.cut, 9 * sector);
    test::MemoryImage image(s.image);
    const std::vector<Piece> expected{Piece{s.H, row.cut}, Piece{s.tail, file.size() - row.cut}};

    SetClaims none;
    JoinBudget budget(FragmentJoin::candidateBytes, FragmentJoin::candidateJoins);
    EXPECT_EQ(FragmentJoin::join(row.type, image, s.H, none, budget), std::optional(expected));

    for (const std::int64_t claimed : {s.tail, s.tail + static_cast<std::int64_t>(sector)}) {
        SetClaims claims;
        claims.sectors.insert(claimed);
        JoinBudget fresh(FragmentJoin::candidateBytes, FragmentJoin::candidateJoins);
        EXPECT_EQ(FragmentJoin::join(row.type, image, s.H, claims, fresh), std::nullopt)
            << "tail sector " << claimed - s.tail << " claimed";
    }

    JoinBudget tiny(2 * sector, 2);
    EXPECT_EQ(FragmentJoin::join(row.type, image, s.H, none, tiny), std::nullopt);

    // A whole file is one piece when its format proves it so (a ZIP's directory is not read
    // for that).
    test::MemoryImage whole(test::randomBytes(4096, 1) + file + test::randomBytes(4096, 2));
    JoinBudget again(FragmentJoin::candidateBytes, FragmentJoin::candidateJoins);
    const auto one =
        row.type == kind::Zip ? std::nullopt : std::optional(std::vector<Piece>{Piece{4096, file.size()}});
    EXPECT_EQ(FragmentJoin::join(row.type, whole, 4096, none, again), one);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FragmentJoinTest,
                         ::testing::Values(JoinRow{"Png", kind::Png, "image-large.png", 65536},
                                           JoinRow{"Jpeg", kind::Jpeg, "photo-large.jpg", 65536},
                                           JoinRow{"JpegWithoutRestarts", kind::Jpeg, "photo-exif.jpg", 2048},
                                           JoinRow{"Gif", kind::Gif, "image-00-3b.gif", 1024},
                                           JoinRow{"Zip", kind::Zip, "stored-png.zip", 1536}),
                         test::RowName());

// Every split of a stretch is found from one pass over each side, and only that split: the CRC
// of the bytes before it and of those after the gap combine into the stretch's CRC.
TEST(SplitCrcTest, FindsTheSplitAtEverySector) {
    const std::string stretch = test::randomBytes(6 * sector + 100, 7);
    const std::uint32_t crc = crc32Of(stretch);
    for (std::uint64_t cut = sector; cut < stretch.size(); cut += sector) {
        // The stretch starts 40 bytes into its first sector, as a chunk's data does.
        const std::string image = test::randomBytes(40, 1) + stretch.substr(0, cut - 40) +
                                  test::randomBytes(3 * sector, 2) + stretch.substr(cut - 40) +
                                  test::randomBytes(sector, 3);
        test::MemoryImage evidence(image);
        JoinBudget budget(1 << 20, 1 << 10);
        SplitCrc splits(evidence, 40, 40 + stretch.size(), 40, 40 + stretch.size(), budget);
        auto any = [](std::uint64_t) { return true; };
        EXPECT_EQ(splits.find(3 * sector, crc, any), std::optional<std::uint64_t>(cut)) << "cut " << cut;
        EXPECT_EQ(splits.find(2 * sector, crc, any), std::nullopt);
        EXPECT_EQ(splits.find(3 * sector, crc ^ 1, any), std::nullopt);
        EXPECT_EQ(splits.find(3 * sector, crc, [](std::uint64_t) { return false; }), std::nullopt);
    }
}

} // namespace
