#pragma once

#include "volumes/AllocationMap.h"

#include <string>

namespace morrow {

class EvidenceSource;

// Reads the partition table and the file systems of an evidence image through its own evidence
// source (raw, split or E01 alike), with The Sleuth Kit's library, into an AllocationMap: every
// partition of a recognised volume system, or the whole image as one file system when it has no
// table; every file system the library recognises (FAT, exFAT, NTFS, ext2/3/4, HFS+, ISO 9660,
// UFS). A build without the library has none of it (builtIn() false).
class FileSystemReader {
  public:
    static bool builtIn();
    static std::string libraryVersion();

    // Fills `map` (sealed on return). `notes` gets, in words for the examiner, each region whose
    // file system could not be read, which therefore counts as unallocated and is carved whole.
    // False when no file system was recognised at all.
    static bool read(EvidenceSource& source, AllocationMap& map, std::string& notes);
};

} // namespace morrow
