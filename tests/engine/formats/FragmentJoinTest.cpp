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

    // A whole file is one piece when its format proves it so (a ZIP's directory, a PDF's tables,
    // a movie's sample offsets and a compound document's tables are not read for that).
    test::MemoryImage whole(test::randomBytes(4096, 1) + file + test::randomBytes(4096, 2));
    JoinBudget again(FragmentJoin::candidateBytes, FragmentJoin::candidateJoins);
    const bool byOffsets = row.type == kind::Zip || row.type == kind::Pdf ||
                           row.type == kind::VideoQuickTime || row.type == kind::VideoRiff ||
                           row.type == kind::VideoAsf || row.type == kind::CompoundDoc;
    const auto one = byOffsets ? std::nullopt : std::optional(std::vector<Piece>{Piece{4096, file.size()}});
    EXPECT_EQ(FragmentJoin::join(row.type, whole, 4096, none, again), one);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FragmentJoinTest,
                         ::testing::Values(JoinRow{"Png", kind::Png, "image-large.png", 65536},
                                           JoinRow{"Jpeg", kind::Jpeg, "photo-large.jpg", 65536},
                                           JoinRow{"JpegWithoutRestarts", kind::Jpeg, "photo-exif.jpg", 2048},
                                           JoinRow{"Gif", kind::Gif, "image-00-3b.gif", 1024},
                                           JoinRow{"Zip", kind::Zip, "stored-png.zip", 1536},
                                           JoinRow{"Pdf", kind::Pdf, "plain.pdf", 4096},
                                           JoinRow{"Movie", kind::VideoQuickTime, "clip.3gp", 2048},
                                           JoinRow{"MovieBoxBrokenInside", kind::VideoQuickTime, "clip.mp4",
                                                   512},
                                           JoinRow{"Avi", kind::VideoRiff, "clip.avi", 6144},
                                           JoinRow{"Workbook", kind::CompoundDoc, "sheet.xls", 2048},
                                           JoinRow{"Wmv", kind::VideoAsf, "clip.wmv", 2048}),
                         test::RowName());

// Three pieces joined where they are; refused when a sector of the middle or the last piece is
// claimed, and when the middle piece is missing (random bytes where it stood).
TEST(FragmentJoinThreePieces, JoinsOnlyAllThree) {
    struct Row {
        FileTypeId type;
        const char* fixture;
        std::uint64_t cut1;
        std::uint64_t cut2;
    };
    for (const Row& row :
         {Row{kind::VideoRiff, "clip-mjpeg-aligned.avi", 6144, 9216},
          Row{kind::VideoRiff, "clip.avi", 1536, 8704}, Row{kind::VideoAsf, "clip.wmv", 512, 3584},
          Row{kind::Png, "image-large.png", 65536, 196608}, Row{kind::Jpeg, "photo-large.jpg", 65536, 196608},
          Row{kind::Zip, "stored-png.zip", 512, 1536}, Row{kind::Pdf, "plain.pdf", 4096, 10752}}) {
        const std::string file = test::fixture(row.fixture);
        const std::uint64_t gap1 = 11 * sector;
        const std::uint64_t gap2 = 7 * sector;
        const std::int64_t H = 4096;
        const auto middle = static_cast<std::int64_t>(H + row.cut1 + gap1);
        const auto last = static_cast<std::int64_t>(middle + (row.cut2 - row.cut1) + gap2);
        for (const bool missing : {false, true}) {
            const std::string second = file.substr(row.cut1, row.cut2 - row.cut1);
            test::MemoryImage image(
                test::randomBytes(4096, 1) + file.substr(0, row.cut1) + test::randomBytes(gap1, 2) +
                (missing ? test::randomBytes(second.size(), 5) : second) + test::randomBytes(gap2, 3) +
                file.substr(row.cut2) + test::randomBytes(8192, 4));
            const std::vector<Piece> expected{Piece{H, row.cut1}, Piece{middle, row.cut2 - row.cut1},
                                              Piece{last, file.size() - row.cut2}};
            SetClaims none;
            JoinBudget budget(FragmentJoin::candidateBytes, FragmentJoin::candidateJoins);
            EXPECT_EQ(FragmentJoin::join(row.type, image, H, none, budget),
                      missing ? std::nullopt : std::optional(expected))
                << row.fixture << (missing ? " without its middle piece" : "");
            for (const std::int64_t claimed : {middle + static_cast<std::int64_t>(sector), last}) {
                SetClaims claims;
                claims.sectors.insert(claimed);
                JoinBudget fresh(FragmentJoin::candidateBytes, FragmentJoin::candidateJoins);
                EXPECT_EQ(FragmentJoin::join(row.type, image, H, claims, fresh), std::nullopt)
                    << row.fixture << " sector " << claimed << " claimed";
            }
        }
    }
}

std::string box(const char* type, const std::string& payload) {
    return test::be32(static_cast<std::uint32_t>(payload.size() + 8)) + type + payload;
}

// An H.264 movie, its movie box last: ftyp, then an mdat of samples that are chains of 4-byte
// length-prefixed NAL units, then the movie box's one track. `starts` gets each sample's offset.
std::string avcMovie(std::vector<std::uint64_t>& starts) {
    std::mt19937 random(11);
    std::string media;
    const std::string head = box("ftyp", "isom" + test::be32(0) + "isomavc1");
    std::string sizes;
    for (int i = 0; i < 8; ++i) {
        starts.push_back(head.size() + 8 + media.size());
        std::string sample;
        const std::size_t size = 600 + random() % 1400;
        while (sample.size() < size) {
            std::size_t length = std::min<std::size_t>(40 + random() % 300, size - sample.size() - 4);
            if (size - sample.size() - 4 - length < 40) {
                length = size - sample.size() - 4;
            }
            sample += test::be32(static_cast<std::uint32_t>(length)) + static_cast<char>(0x41) +
                      test::randomBytes(length - 1, static_cast<std::uint32_t>(random()));
        }
        sizes += test::be32(static_cast<std::uint32_t>(sample.size()));
        media += sample;
    }
    const std::string avcC = box("avcC", std::string("\x01\x42\x00\x1e\xff\xe0\x00", 7));
    const std::string entry = box("avc1", std::string(78, '\0') + avcC);
    const std::string stbl =
        box("stsd", test::be32(0) + test::be32(1) + entry) +
        box("stsc", test::be32(0) + test::be32(1) + test::be32(1) + test::be32(8) + test::be32(1)) +
        box("stsz", test::be32(0) + test::be32(0) + test::be32(8) + sizes) +
        box("stco", test::be32(0) + test::be32(1) + test::be32(static_cast<std::uint32_t>(starts.front())));
    const std::string moov = box("moov", box("trak", box("mdia", box("minf", box("stbl", stbl)))));
    return head + box("mdat", media) + moov;
}

// A movie split inside a sample that spans several sector starts: the sample offsets alone leave
// them all, and the NAL chains across the split choose the one; a gap of another movie's look-alike
// chains is refused.
TEST(FragmentJoinTest, MovieSplitInsideASampleByItsNalChains) {
    std::vector<std::uint64_t> starts;
    const std::string movie = avcMovie(starts);
    // The last sector start inside the first sample that holds two.
    std::uint64_t cut = 0;
    for (std::size_t i = 0; i + 1 < starts.size() && cut == 0; ++i) {
        const std::uint64_t first = (starts[i] + 8 + sector - 1) / sector * sector;
        if (first + sector < starts[i + 1]) {
            cut = (starts[i + 1] - 1) / sector * sector;
        }
    }
    ASSERT_NE(cut, 0u);
    const Split s = split(movie, cut, 5 * sector);
    test::MemoryImage image(s.image);
    SetClaims none;
    JoinBudget budget(FragmentJoin::candidateBytes, FragmentJoin::candidateJoins);
    const std::vector<Piece> expected{Piece{s.H, cut}, Piece{s.tail, movie.size() - cut}};
    EXPECT_EQ(FragmentJoin::join(kind::VideoQuickTime, image, s.H, none, budget), std::optional(expected));

    // The gap ends in a copy of the sector before the cut: a split a sector earlier reads as well
    // as the true one, and no join is made.
    std::string doubled = s.image;
    doubled.replace(static_cast<std::size_t>(s.tail) - sector, sector, movie.substr(cut - sector, sector));
    test::MemoryImage twice(doubled);
    JoinBudget again(FragmentJoin::candidateBytes, FragmentJoin::candidateJoins);
    EXPECT_EQ(FragmentJoin::join(kind::VideoQuickTime, twice, s.H, none, again), std::nullopt);
}

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
