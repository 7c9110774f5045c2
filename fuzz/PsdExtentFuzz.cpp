// The Photoshop section walk over a fuzzed file whose header sits at offset 0.
#include "FuzzSupport.h"
#include "formats/PsdExtent.h"

#include <cstring>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const Extent psd = PsdExtent::measure(input.reader, 0);
    if (psd) {
        // A sound start is the header and the first resource block's signature (or none).
        fuzz::check(size >= 26 + 4 + 4 && std::memcmp(data, "8BPS", 4) == 0, "found without a header");
        fuzz::check(psd.length >= 26 + 4 + 4, "shorter than the header and two section lengths");
        fuzz::check(psd.length <= size, "length past the evidence");
    }
    return 0;
}
