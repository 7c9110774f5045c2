#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// A file system found on the evidence: its kind in words ("FAT32", "NTFS", "Ext4" ...), where it
// starts and how far it reaches (bytes of the evidence) and its block (cluster) size.
struct FileSystemFound {
    std::string kind;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t blockSize = 0;
};

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

// What the file systems of one evidence image say of its bytes: the runs their allocated blocks
// cover, which entry owns a byte, and the file systems themselves. Built once before a run's
// header scan; memory grows with the number of runs (a file's fragments), not with the image.
//
// Bytes outside every recognised file system (space no partition uses, a partition whose file
// system is unknown or damaged) are unallocated.
class AllocationMap {
  public:
    // Marks [begin, begin + length) allocated. Runs may come in any order and overlap.
    void addAllocated(std::uint64_t begin, std::uint64_t length);
    // Records `owner` and the runs it holds; returns its number for addOwned.
    std::uint32_t addOwner(FileOwner owner);
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

  private:
    struct Run {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::uint32_t owner = 0;
    };
    std::vector<Run> allocated_;
    std::vector<Run> owned_;
    std::vector<FileOwner> owners_;
    std::vector<FileSystemFound> fileSystems_;
};

} // namespace morrow
