// The allocation map's bounds on memory (runs into a bitmap, a bitmap into a coarser one, owned
// runs capped) and its encoding across a pipe, hostile bytes included.
#include "volumes/AllocationMap.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace morrow;

namespace {

constexpr std::uint64_t block = 4096;
constexpr std::uint64_t fsStart = std::uint64_t{1} << 20;

// A file system of 4 KiB blocks at 1 MiB whose even blocks are allocated: more runs than the
// bound, so it is kept as a bitmap.
AllocationMap everyOtherBlock(std::uint64_t blocks) {
    AllocationMap map;
    map.beginFileSystem(fsStart, fsStart + blocks * block, block);
    for (std::uint64_t b = 0; b < blocks; b += 2) {
        map.addAllocated(fsStart + b * block, block);
    }
    EXPECT_EQ(map.endFileSystem(), block);
    return map;
}

TEST(AllocationMapTest, RunsPastTheirBoundTurnIntoAnExactBitmap) {
    const std::uint64_t blocks = 2 * AllocationMap::maxRuns + 64;
    AllocationMap map = everyOtherBlock(blocks);
    map.addAllocated(0, 512); // outside every file system: a run still
    map.seal();
    EXPECT_EQ(map.allocatedBytes(), blocks / 2 * block + 512);
    for (std::uint64_t b : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{2}, blocks / 2, blocks / 2 + 1,
                            blocks - 2, blocks - 1}) {
        EXPECT_EQ(map.allocated(fsStart + b * block + 7), b % 2 == 0) << b;
    }
    EXPECT_TRUE(map.allocated(100));
    EXPECT_FALSE(map.allocated(fsStart - 1));
    EXPECT_FALSE(map.allocated(fsStart + blocks * block));
    // A bitmap of a bit a block, not a run a block.
    EXPECT_LT(map.memoryBytes(), blocks / 8 + 1024);
}

TEST(AllocationMapTest, ACoarseMapCountsOnlyUnitsProvenWhole) {
    AllocationMap map;
    // The first file system's bitmap takes the whole bound on bitmap bytes ...
    const std::uint64_t bigBlocks = AllocationMap::maxBitmapBytes * 8;
    map.beginFileSystem(0, bigBlocks * 512, 512);
    for (std::uint64_t b = 0; b < 2 * AllocationMap::maxRuns + 2; b += 2) {
        map.addAllocated(b * 512, 512);
    }
    EXPECT_EQ(map.endFileSystem(), 512u);
    // ... so the second gets one word: 64 units of 65,536 blocks of 512 bytes.
    const std::uint64_t start = bigBlocks * 512;
    const std::uint64_t unit = std::uint64_t{1} << 25;
    const auto at = [&](std::uint64_t u, std::uint64_t b) { return start + u * unit + b * 512; };
    map.beginFileSystem(start, start + 64 * unit, 512);
    map.addAllocated(at(0, 0), 2 * unit);   // units 0 and 1 whole
    map.addAllocated(at(2, 1), unit - 512); // unit 2 lacks its first block
    map.addAllocated(at(3, 1), unit - 512); // unit 3 whole, but its first block
    map.addAllocated(at(3, 0), 512);        //   comes last: unproven
    for (std::uint64_t b = 0; b < 2 * AllocationMap::maxRuns + 2; b += 2) {
        map.addAllocated(at(4, b), 512); // units 4 on: every other block, and the runs pass the bound
    }
    map.addAllocated(at(50, 0), unit / 2); // unit 50 whole in two halves, in order
    map.addAllocated(at(50, 0) + unit / 2, unit / 2);
    map.addAllocated(at(60, 0), unit / 2 + 512); // unit 60 in halves that overlap
    map.addAllocated(at(60, 0) + unit / 2, unit / 2);
    EXPECT_EQ(map.endFileSystem(), unit);
    map.seal();
    for (std::uint64_t u = 0; u < 64; ++u) {
        EXPECT_EQ(map.allocated(at(u, 100)), u <= 1 || u == 50) << u;
    }
    EXPECT_TRUE(map.allocated(2));
    EXPECT_FALSE(map.allocated(512));
    EXPECT_LE(map.memoryBytes(), AllocationMap::maxBitmapBytes + 8 + AllocationMap::maxRuns * 16 + 4096);
}

TEST(AllocationMapTest, OwnedRunsMergeAndStopAtTheirBound) {
    AllocationMap map;
    const std::uint32_t live = map.addOwner(FileOwner{"/live", 12, true, true});
    const std::uint32_t gone = map.addOwner(FileOwner{"/gone", 13, false, false});
    for (std::uint64_t b = 0; b < 1000; ++b) {
        map.addOwned(b * block, block, live); // one run
    }
    for (std::uint64_t b = 0; b < AllocationMap::maxOwnedRuns + 10; ++b) {
        map.addOwned((2000 + 2 * b) * block, block, b % 2 == 0 ? gone : live);
    }
    map.addOwned(0, block, 99); // no such owner
    EXPECT_TRUE(map.ownedCapped());
    map.seal();
    ASSERT_NE(map.owner(999 * block), nullptr);
    EXPECT_EQ(map.owner(999 * block)->path, "/live");
    EXPECT_EQ(map.owner(2000 * block)->path, "/gone");
    EXPECT_EQ(map.owner(2001 * block), nullptr);
    EXPECT_EQ(map.owner((2000 + 2 * (AllocationMap::maxOwnedRuns + 5)) * block), nullptr);
}

// A map with something of everything: runs, a bitmap, owners, owned runs, a file system whose
// claim passes 64 bits.
AllocationMap fullMap() {
    AllocationMap map = everyOtherBlock(2 * AllocationMap::maxRuns + 64);
    map.addAllocated(3, 5);
    map.addFileSystem(FileSystemFound{"NTFS", fsStart, ~std::uint64_t{0}, 4096, std::uint64_t{1} << 56});
    map.addFileSystem(FileSystemFound{"FAT16", 0, 1 << 20, 512, 2048});
    const std::uint32_t a = map.addOwner(FileOwner{"/a/b.jpg", 77, true, true, 1, 2, 3, -4});
    const std::uint32_t b = map.addOwner(FileOwner{"/c.png", 78, false, true, 5, 6, 7, 8});
    map.addOwned(fsStart, 3 * block, a);
    map.addOwned(fsStart + block, block, b);
    map.addOwned(fsStart + 10 * block, block, b);
    map.seal();
    return map;
}

TEST(AllocationMapTest, EncodingCarriesEverythingAcross) {
    const AllocationMap map = fullMap();
    const std::string bytes = map.encode();
    const std::optional<AllocationMap> back = AllocationMap::decode(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->encode(), bytes);
    EXPECT_EQ(back->allocatedBytes(), map.allocatedBytes());
    for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{3}, std::uint64_t{7}, std::uint64_t{8}, fsStart,
                             fsStart + block, fsStart + 2 * block + 5, fsStart + 10 * block}) {
        EXPECT_EQ(back->allocated(at), map.allocated(at)) << at;
        const FileOwner* want = map.owner(at);
        const FileOwner* got = back->owner(at);
        ASSERT_EQ(got == nullptr, want == nullptr) << at;
        if (got != nullptr) {
            EXPECT_EQ(got->path, want->path);
            EXPECT_EQ(got->inode, want->inode);
            EXPECT_EQ(got->nameAllocated, want->nameAllocated);
            EXPECT_EQ(got->metaAllocated, want->metaAllocated);
            EXPECT_EQ(got->created, want->created);
        }
    }
    EXPECT_EQ(back->owner(fsStart + block)->path, "/a/b.jpg"); // the live one wins
    ASSERT_EQ(back->fileSystems().size(), 2u);
    EXPECT_EQ(back->fileSystems()[0].blockCount, std::uint64_t{1} << 56);
    EXPECT_EQ(claimedBytes(back->fileSystems()[0]), "295147905179352825856");
    EXPECT_EQ(back->fileSystems()[1].kind, "FAT16");
    EXPECT_FALSE(back->ownedCapped());
}

// Every cut of a valid encoding, and fields rewritten to lie: refused, never a crash or a huge
// allocation. Offsets are those of a map of one run, one owner, one owned run, one file system.
TEST(AllocationMapTest, DecodingRefusesHostileBytes) {
    AllocationMap small;
    small.addAllocated(4096, 4096);
    small.addOwned(4096, 4096, small.addOwner(FileOwner{"/x", 1, true, true}));
    small.addFileSystem(FileSystemFound{"EXT4", 0, 1 << 20, 4096, 256});
    small.seal();
    const std::string bytes = small.encode();
    ASSERT_TRUE(AllocationMap::decode(bytes).has_value());
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_FALSE(AllocationMap::decode(bytes.substr(0, cut)).has_value()) << cut;
    }
    EXPECT_FALSE(AllocationMap::decode(bytes + '\0').has_value());
    const auto patched = [&](std::size_t at, std::uint64_t value, int width) {
        std::string out = bytes;
        std::memcpy(&out[at], &value, width); // little-endian host
        return out;
    };
    const std::size_t runs = 5, bitmaps = runs + 8 + 16, owners = bitmaps + 8,
                      owned = owners + 8 + 4 + 2 + 8 + 1 + 32;
    struct Lie {
        const char* what;
        std::string bytes;
    };
    const Lie lies[] = {
        {"magic", patched(0, 'X', 1)},
        {"flags", patched(4, 9, 1)},
        {"run count", patched(runs, ~std::uint64_t{0}, 8)},
        {"run count one more", patched(runs, 2, 8)},
        {"empty run", patched(runs + 16, 4096, 8)},
        {"bitmap count", patched(bitmaps, std::uint64_t{1} << 40, 8)},
        {"owner count", patched(owners, ~std::uint64_t{0} / 2, 8)},
        {"path length", patched(owners + 8, 0xffffffff, 4)},
        {"owner flags", patched(owners + 8 + 4 + 2 + 8, 4, 1)},
        {"owned count", patched(owned, 3, 8)},
        {"owned owner", patched(owned + 8 + 16, 1, 4)},
    };
    for (const Lie& lie : lies) {
        EXPECT_FALSE(AllocationMap::decode(lie.bytes).has_value()) << lie.what;
    }
    // A bitmap whose word count disagrees with its span and unit, and one that agrees (its bits
    // past its 61 units count for nothing).
    std::string withBitmap = bytes.substr(0, bitmaps);
    for (std::uint64_t field : {std::uint64_t{1}, std::uint64_t{0}, std::uint64_t{610}, std::uint64_t{10},
                                std::uint64_t{1}, ~std::uint64_t{0} << 61 | 7}) {
        withBitmap.append(reinterpret_cast<const char*>(&field), 8);
    }
    withBitmap += bytes.substr(bitmaps + 8);
    const std::optional<AllocationMap> decoded = AllocationMap::decode(withBitmap);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(decoded->allocated(0));
    EXPECT_TRUE(decoded->allocated(29));
    EXPECT_FALSE(decoded->allocated(30));
    EXPECT_EQ(decoded->allocatedBytes(), 4096u + 30);
    std::string wrongWords = withBitmap;
    wrongWords[bitmaps + 8 + 24] = 3;
    EXPECT_FALSE(AllocationMap::decode(wrongWords).has_value());
}

} // namespace
