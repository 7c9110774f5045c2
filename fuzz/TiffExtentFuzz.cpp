// The TIFF IFD walk over a fuzzed file whose header sits at offset 0.
#include "FuzzSupport.h"
#include "formats/TiffExtent.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const Extent tiff = TiffExtent::measure(input.reader, 0);
    if (tiff) {
        // Found only after a byte order mark and a whole first IFD, which lies past the header;
        // every reference is clipped at the end of the evidence.
        fuzz::check(size >= 8 + 2 + 12 + 4, "found without room for a header and an IFD");
        fuzz::check((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M'),
                    "no byte order mark");
        fuzz::check(tiff.length >= 8 + 2 + 12 + 4, "shorter than a header and one IFD");
        fuzz::check(tiff.length <= size, "length past the evidence");
    } else {
        fuzz::check(tiff.whyNot != nullptr && tiff.length == 0, "a rejection with a length");
    }
    return 0;
}
