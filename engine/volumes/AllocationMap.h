#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morrow {

// A file system found on the evidence: its kind in words ("FAT32", "NTFS", "Ext4" ...), where it
// starts, how far it claims to reach (bytes; the most 64 bits hold when its claim passes them, as
// a damaged boot sector's may), its block (cluster) size and the blocks it claims.
struct FileSystemFound {
    std::string kind;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t blockSize = 0;
    std::uint64_t blockCount = 0;
};

// The bytes `found` claims (its blocks times their size, or its size when it counts no blocks) in
// decimal, exact past 64 bits; and whether they are more than `available`.
std::string claimedBytes(const FileSystemFound& found);
bool claimsMoreThan(const FileSystemFound& found, std::uint64_t available);

// A file-system entry that holds bytes of the evidence: a live file, or a deleted one whose name
// its directory still has. Times are seconds since 1970 (UTC), 0 when the file system keeps none.
struct FileOwner {
    std::string path; // from the file system's root, '/' separated
    std::uint64_t inode = 0;
    bool nameAllocated = false; // the directory entry is live
    bool metaAllocated = false; // the inode / MFT entry is live
    std::int64_t modified = 0;
    std::int64_t accessed = 0;
    std::int64_t changed = 0;
    std::int64_t created = 0;
};

// What the file systems of one evidence image say of its bytes: which are allocated, which entry
// owns a byte, and the file systems themselves. Built once before a run's header scan.
//
// Memory stays bounded whatever the file systems hold. Allocation is kept as runs while they are
// few; once a file system's runs pass the bound on runs, its allocation turns into a bitmap of its
// blocks, and where that bitmap would pass the bound on bitmap bytes, into a coarser one whose unit
// (a power-of-two number of blocks) counts as allocated only when every block in it is. Whatever a
// coarse unit cannot prove allocated counts as unallocated, and so is carved. Owners and owned runs
// stop at their own bounds (ownersFull, ownedCapped); the file's runs merge as they arrive.
//
// Bytes outside every recognised file system (space no partition uses, a partition whose file
// system is unknown or damaged) are unallocated.
class AllocationMap {
  public:
    static constexpr std::size_t maxRuns = std::size_t{1} << 20;             // 16 MiB of runs
    static constexpr std::uint64_t maxBitmapBytes = std::uint64_t{64} << 20; // all bitmaps together
    static constexpr std::size_t maxOwners = 4'000'000;
    static constexpr std::uint64_t maxPathBytes = std::uint64_t{256} << 20;
    static constexpr std::size_t maxOwnedRuns = std::size_t{1} << 22; // 96 MiB

    // Starts the allocation of one file system: the runs added until the next call (or
    // endFileSystem) lie in [begin, end) of the evidence, in blocks of `blockSize` bytes counted
    // from `begin`; what lies outside is ignored.
    void beginFileSystem(std::uint64_t begin, std::uint64_t end, std::uint32_t blockSize);
    // Ends it; returns the bytes one unit of its allocation stands for: its block size when the
    // map of it is exact, more when it had to be coarse.
    std::uint64_t endFileSystem();
    // Marks [begin, begin + length) allocated. Runs may come in any order and overlap (in a coarse
    // map, a unit whose blocks come out of order may stay unproven: it is then carved).
    void addAllocated(std::uint64_t begin, std::uint64_t length);
    // Records `owner` and the runs it holds; returns its number for addOwned. Check ownersFull first.
    std::uint32_t addOwner(FileOwner owner);
    bool ownersFull() const { return owners_.size() >= maxOwners || pathBytes_ >= maxPathBytes; }
    // A run adjacent to the owner's last one extends it; past maxOwnedRuns runs are dropped.
    void addOwned(std::uint64_t begin, std::uint64_t length, std::uint32_t owner);
    void addFileSystem(FileSystemFound found) { fileSystems_.push_back(std::move(found)); }
    // Ends the building: sorts and merges what was added.
    void seal();

    bool allocated(std::uint64_t offset) const;
    // The entry whose file holds `offset`, or null. A live entry wins over a deleted one.
    const FileOwner* owner(std::uint64_t offset) const;
    std::uint64_t allocatedBytes() const;
    const std::vector<FileSystemFound>& fileSystems() const { return fileSystems_; }
    std::size_t ownerCount() const { return owners_.size(); }
    // Allocated runs dropped because no bitmap could take them (runs outside any file system
    // past maxRuns), or owned runs dropped past maxOwnedRuns.
    bool allocationLost() const { return allocationLost_; }
    bool ownedCapped() const { return ownedCapped_; }
    // The bytes the map itself holds (runs, bitmaps, owners), to check its bounds.
    std::uint64_t memoryBytes() const;

    // The whole of a sealed map as bytes, for a pipe between processes, and back. decode checks
    // every count against the bytes that remain and every bound above, so hostile bytes give
    // nullopt, never a crash or an allocation larger than the input; what it returns is sealed.
    std::string encode() const;
    static std::optional<AllocationMap> decode(std::string_view bytes);

  private:
    struct Run {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
    };
    struct OwnedRun {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::uint32_t owner = 0;
    };
    // One file system's allocation as a bitmap: bit i stands for [begin + i * unit, + unit).
    struct Bitmap {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::uint64_t unit = 0;
        std::vector<std::uint64_t> words;
    };
    // The file system being built.
    struct Current {
        bool open = false;
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::uint32_t blockSize = 0;
        std::size_t firstRun = 0; // its runs are allocated_[firstRun...]
        std::size_t bitmap = 0;   // bitmaps_[bitmap] once it turned into one
        bool isBitmap = false;
        std::uint64_t streakUnit = 0;    // a unit partly covered from its start ...
        std::uint64_t streakCovered = 0; // ... by this many bytes
    };

    void toBitmap();
    void markBitmap(Bitmap& bitmap, std::uint64_t begin, std::uint64_t end);

    std::vector<Run> allocated_;
    std::vector<Bitmap> bitmaps_;
    std::vector<std::uint64_t> bitmapReach_; // the furthest end of bitmaps_[0..i], once sealed
    std::vector<OwnedRun> owned_;
    std::vector<FileOwner> owners_;
    std::vector<FileSystemFound> fileSystems_;
    Current current_;
    std::uint64_t bitmapBytes_ = 0;
    std::uint64_t pathBytes_ = 0;
    bool allocationLost_ = false;
    bool ownedCapped_ = false;
};

} // namespace morrow
