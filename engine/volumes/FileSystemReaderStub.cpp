#include "volumes/FileSystemReader.h"

namespace morrow {

// This build has no file-system library: nothing is recognised, everything counts as unallocated.
bool FileSystemReader::builtIn() {
    return false;
}

std::string FileSystemReader::libraryVersion() {
    return {};
}

bool FileSystemReader::read(EvidenceSource&, AllocationMap& map, std::string& notes) {
    map.seal();
    notes = "this build of Morrow reads no file system";
    return false;
}

} // namespace morrow
