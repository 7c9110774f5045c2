// The ASF object and packet walk (WMV) over a fuzzed file that starts at offset 0, and the chunks
// it says the movie points at.
#include "FuzzSupport.h"
#include "formats/AsfExtent.h"

#include <vector>

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const Extent movie = AsfExtent::measure(input.reader, 0);
    if (movie) {
        fuzz::check(movie.length <= size, "length past the evidence");
        std::vector<Part> parts;
        AsfExtent::parts(input.reader, 0, movie.length, parts);
        for (const Part& part : parts) {
            fuzz::check(part.offset + part.length <= movie.length, "part past the movie");
        }
    }
    return 0;
}
