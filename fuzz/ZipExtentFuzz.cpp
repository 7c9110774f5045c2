// The ZIP walk over a fuzzed archive whose first local file header sits at offset 0.
#include "FuzzSupport.h"
#include "ZipExtent.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CarveState state;
    fuzz::inputFile().load(state, data, size);
    state.zipSkip = 0;
    state.zipLength = 0;
    state.zipResumeOffset = 0; // as the carver sets it: H
    ZipExtent::measure(state, 0);
    fuzz::check(state.zipSkip == 0 || state.zipSkip == 1, "zipSkip is no flag");
    if (state.zipSkip == 0) {
        // The end record was found in the evidence, after at least one local header; the archive
        // ends 22 bytes after its start and the walk resumes there.
        const std::uint64_t end = state.zipLength;
        fuzz::check(end >= 30 + 22 && end - 22 + 4 <= size, "end record outside the evidence");
        const std::uint8_t* record = data + (end - 22);
        fuzz::check(record[0] == 0x50 && record[1] == 0x4B && record[2] == 0x05 && record[3] == 0x06,
                    "the extent does not end 22 bytes after an end record");
        fuzz::check(state.zipResumeOffset == end, "resume offset is not the end of the archive");
    } else {
        fuzz::check(state.zipResumeOffset < size || state.zipResumeOffset == 0, "resume offset past the evidence");
    }
    state.evidence.close();
    return 0;
}
