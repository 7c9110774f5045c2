// The JPEG marker walk over a fuzzed candidate: the input is the evidence, the candidate's
// FF D8 FF sits at offset 0.
#include "FuzzSupport.h"
#include "formats/JpegValidator.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    if (const auto scanStart = JpegValidator::check(input.reader, 0, 3)) {
        // The start of scan it names must be a real FF DA inside the evidence, after the header.
        auto at = static_cast<std::uint64_t>(*scanStart);
        fuzz::check(*scanStart >= 4 && at + 1 < size, "scan start outside the evidence");
        fuzz::check(data[at] == 0xFF && data[at + 1] == 0xDA, "scan start is no FF DA marker");
    }
    return 0;
}
