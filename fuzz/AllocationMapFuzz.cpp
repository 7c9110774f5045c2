// AllocationMap::decode of the input, as a map comes back across a pipe from the process that
// read the file systems: hostile bytes are refused or give a map that answers every question
// and encodes back to the same bytes.
#include "FuzzSupport.h"
#include "volumes/AllocationMap.h"

#include <string_view>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::optional<AllocationMap> map = AllocationMap::decode(input);
    if (!map) {
        return 0;
    }
    fuzz::check(map->memoryBytes() <= 4 * size + 4096, "a map larger than the bytes it came from");
    const std::string again = map->encode();
    const std::optional<AllocationMap> back = AllocationMap::decode(again);
    fuzz::check(back.has_value() && back->encode() == again, "a decoded map does not encode back");
    std::uint64_t allocated = 0;
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
        std::uint64_t offset = 0;
        for (int i = 0; i < 8; ++i) {
            offset |= std::uint64_t{data[at + i]} << (8 * i);
        }
        allocated += map->allocated(offset) ? 1 : 0;
        if (const FileOwner* owner = map->owner(offset)) {
            fuzz::check(owner->path.size() <= size, "an owner's path longer than the input");
        }
    }
    static_cast<void>(allocated);
    static_cast<void>(map->allocatedBytes());
    for (const FileSystemFound& found : map->fileSystems()) {
        fuzz::check(!claimedBytes(found).empty(), "a claim without digits");
    }
    return 0;
}
