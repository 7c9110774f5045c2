#pragma once

#include "Catalog.h"

#include <cstdint>
#include <string>

namespace morrow {

// One file a carver decided on: where it lies in which evidence, what it is and what it is called.
struct CarvedFile {
    std::string evidencePath;
    FileTypeId type = 0;
    std::string kindTag;
    std::int64_t number = 0;      // the number in its name
    std::int64_t offset = 0;      // byte offset of its first byte in the evidence
    std::uint64_t length = 0;     // bytes it gets: the evidence's from `offset`, zeros past its end
    std::uint64_t spaceNeeded = 0; // the free space tested before writing (the length the data claims)
    std::string path;             // the full path it is written to and recorded under
};

} // namespace morrow
