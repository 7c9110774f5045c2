// The GIF block walk over a fuzzed file whose header sits at offset 0.
#include "FuzzSupport.h"
#include "formats/GifExtent.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const Extent e = GifExtent::measure(input.reader, 0);
    if (!e) {
        return 0;
    }
    // At least the header, the screen descriptor and one block, never past the evidence.
    fuzz::check(e.length >= 14 && e.length <= size, "length outside the evidence");
    if (!e.truncated) {
        fuzz::check(data[e.length - 1] == 0x3B, "a whole file that does not end with the trailer");
        fuzz::InputEvidence alone(data, static_cast<std::size_t>(e.length));
        const Extent again = GifExtent::measure(alone.reader, 0);
        fuzz::check(again && !again.truncated && again.length == e.length,
                    "the file alone measures otherwise");
    }
    return 0;
}
