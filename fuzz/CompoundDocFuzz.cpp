// The compound document analysis and classification of one fuzzed document at offset 0.
#include "FuzzSupport.h"
#include "formats/CompoundDocAnalysis.h"
#include "formats/CompoundDocClassifier.h"

using namespace morrow;

namespace {

bool knownExtension(const std::string& ext) {
    return ext == ".doc" || ext == ".xls" || ext == ".ppt" || ext == ".db" || ext == ".ukn";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const CompoundDocRecord record = CompoundDocAnalysis::analyse(input.reader, 0);
    fuzz::check(record.startOffset == 0, "record start");
    fuzz::check(knownExtension(record.extension), "extension");
    // The table is read only as far as the evidence holds sectors, 128 entries per sector, so
    // the document can count no more sectors than that (besides its header).
    const std::uint64_t sectors = (size + 511) / 512;
    fuzz::check(record.lastSectorIndex >= -1 &&
                    static_cast<std::uint64_t>(record.lastSectorIndex) <= sectors * 128,
                "document longer than its table could say");

    // The classifier alone over a whole table taken from the input.
    std::vector<std::int64_t> table;
    for (std::size_t i = 0; i + 4 <= size && i < 4096; i += 4) {
        std::uint32_t v = static_cast<std::uint32_t>(data[i]) | static_cast<std::uint32_t>(data[i + 1]) << 8 |
                          static_cast<std::uint32_t>(data[i + 2]) << 16 |
                          static_cast<std::uint32_t>(data[i + 3]) << 24;
        table.push_back(v >= 0xFFFFFFFC ? -static_cast<std::int64_t>(0xFFFFFFFFu - v + 1) : v);
    }
    fuzz::check(knownExtension(CompoundDocClassifier::classify(input.reader, 0, table)),
                "classifier extension");
    return 0;
}
