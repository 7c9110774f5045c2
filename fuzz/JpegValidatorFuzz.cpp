// The JPEG marker walk over a fuzzed candidate: the input is the evidence, the candidate's
// FF D8 FF sits at offset 0.
#include "FuzzSupport.h"
#include "JpegValidator.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CarveState state;
    fuzz::inputFile().load(state, data, size);
    state.jpegScanStart = -1;
    if (JpegValidator::check(state, 0, 3)) {
        // The start of scan it names must be a real FF DA inside the evidence, after the header.
        auto at = static_cast<std::uint64_t>(state.jpegScanStart);
        fuzz::check(state.jpegScanStart >= 4 && at + 1 < size, "scan start outside the evidence");
        fuzz::check(data[at] == 0xFF && data[at + 1] == 0xDA, "scan start is no FF DA marker");
    } else {
        fuzz::check(state.jpegScanStart == -1, "a refused candidate moved the scan start");
    }
    state.evidence.close();
    return 0;
}
