// The JPEG marker walk over a fuzzed file whose SOI sits at offset 0.
#include "FuzzSupport.h"
#include "formats/JpegExtent.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const Extent e = JpegExtent::measure(input.reader, 0);
    if (!e) {
        return 0;
    }
    // At least SOI and one whole segment, never past the evidence.
    fuzz::check(e.length >= 6 && e.length <= size, "length outside the evidence");
    if (!e.truncated) {
        fuzz::check(data[e.length - 2] == 0xFF && data[e.length - 1] == 0xD9,
                    "a whole file that does not end in EOI");
        // The file alone, without what follows it, measures the same.
        fuzz::InputEvidence alone(data, static_cast<std::size_t>(e.length));
        const Extent again = JpegExtent::measure(alone.reader, 0);
        fuzz::check(again && !again.truncated && again.length == e.length,
                    "the file alone measures otherwise");
    }
    return 0;
}
