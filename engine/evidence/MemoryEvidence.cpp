#include "evidence/MemoryEvidence.h"

#include <algorithm>
#include <cstring>

namespace morrow {

std::size_t MemoryEvidence::read(std::uint64_t offset, void* out, std::size_t length) {
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, bytes_.size() - offset));
    std::memcpy(out, bytes_.data() + offset, n);
    return n;
}

std::string MemoryEvidence::changed() {
    if (bytes_.size() != size_) {
        return "its size changed from " + std::to_string(size_) + " to " + std::to_string(bytes_.size()) +
               " bytes";
    }
    return {};
}

} // namespace morrow
