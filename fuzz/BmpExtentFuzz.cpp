// The BMP header reader over a fuzzed file whose "BM" sits at offset 0.
#include "FuzzSupport.h"
#include "formats/BmpExtent.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const Extent e = BmpExtent::measure(input.reader, 0);
    if (!e) {
        return 0;
    }
    // At least the file header and a core header; a truncated file ends where the evidence does.
    fuzz::check(e.length >= 14 + 12 && e.length <= size, "length outside the evidence");
    if (e.truncated) {
        fuzz::check(e.length == size, "a truncated file that ends before the evidence");
    } else {
        fuzz::InputEvidence alone(data, static_cast<std::size_t>(e.length));
        const Extent again = BmpExtent::measure(alone.reader, 0);
        fuzz::check(again && !again.truncated && again.length == e.length,
                    "the file alone measures otherwise");
    }
    return 0;
}
