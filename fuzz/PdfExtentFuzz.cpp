// The PDF end search over a fuzzed file whose header sits at offset 0, and the linearized length
// check for two lengths taken from the input.
#include "FuzzSupport.h"
#include "formats/PdfExtent.h"

#include <cstring>

using namespace morrow;

namespace {

// True when data[0, end) ends with %%EOF and at most one line end after it.
bool endsWithMarkerLine(const std::uint8_t* data, std::size_t end) {
    for (std::size_t lineEnd = 0; lineEnd <= 2 && lineEnd <= end; ++lineEnd) {
        if (end - lineEnd >= 5 && std::memcmp(data + end - lineEnd - 5, "%%EOF", 5) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const Extent pdf = PdfExtent::measure(input.reader, 0);
    if (pdf) {
        fuzz::check(size >= 8 && std::memcmp(data, "%PDF-", 5) == 0, "found without a header");
        fuzz::check(pdf.length <= size, "length past the evidence");
        fuzz::check(pdf.length > 8, "shorter than the header");
        if (!pdf.truncated) {
            fuzz::check(endsWithMarkerLine(data, static_cast<std::size_t>(pdf.length)),
                        "a whole file that does not end with its %%EOF line");
        }
    }

    for (const std::uint64_t L :
         {static_cast<std::uint64_t>(size), size >= 2 ? std::uint64_t{data[0]} << 8 | data[1] : 0}) {
        if (PdfExtent::linearizedLengthAgrees(input.reader, 0, L)) {
            fuzz::check(L <= size && endsWithMarkerLine(data, static_cast<std::size_t>(L)),
                        "agrees with a length that ends no %%EOF line");
        }
    }
    return 0;
}
