// The top-level box walk over a fuzzed file whose ftyp box sits at offset 0.
#include "FuzzSupport.h"
#include "formats/QuickTimeExtent.h"

#include <cstring>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const Extent movie = QuickTimeExtent::measure(input.reader, 0);
    if (movie) {
        fuzz::check(size >= 16 && std::memcmp(data + 4, "ftyp", 4) == 0, "found without an ftyp box");
        const std::uint64_t ftypSize = std::uint64_t{data[0]} << 24 | std::uint64_t{data[1]} << 16 |
                                       std::uint64_t{data[2]} << 8 | data[3];
        // At least one box after ftyp, and nothing past the evidence.
        fuzz::check(movie.length >= ftypSize + 8, "no box after ftyp");
        fuzz::check(movie.length <= size, "length past the evidence");
    }
    return 0;
}
