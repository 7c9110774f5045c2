// The PNG chunk walk over a fuzzed file whose signature sits at offset 0.
#include "FuzzSupport.h"
#include "formats/PngExtent.h"

#include <cstring>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const Extent e = PngExtent::measure(input.reader, 0);
    if (!e) {
        return 0;
    }
    // At least the signature and IHDR, never past the evidence, always at a chunk's end.
    fuzz::check(e.length >= 8 + 25 && e.length <= size, "length outside the evidence");
    if (!e.truncated) {
        fuzz::check(e.length >= 8 + 25 + 12 && std::memcmp(data + e.length - 8, "IEND", 4) == 0,
                    "a whole file that does not end with IEND");
        fuzz::InputEvidence alone(data, static_cast<std::size_t>(e.length));
        const Extent again = PngExtent::measure(alone.reader, 0);
        fuzz::check(again && !again.truncated && again.length == e.length,
                    "the file alone measures otherwise");
    }
    return 0;
}
