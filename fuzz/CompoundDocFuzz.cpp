// The compound document analysis and classification of one fuzzed document at offset 0.
#include "CarveEngine.h"
#include "CompoundDocCarver.h"
#include "CompoundDocClassifier.h"
#include "FuzzSupport.h"

using namespace morrow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::QuietHost host;
    static CarveEngine engine(host);
    CarveState& state = engine.state();
    fuzz::inputFile().load(state, data, size);

    state.headerIndex = {0};
    state.compoundDocs.clear();
    fuzz::check(CompoundDocCarver::analyse(engine, 0) == 1, "analysis refused without a Stop");
    fuzz::check(state.compoundDocs.size() == 1, "one header gives one record");
    const CompoundDocRecord& record = state.compoundDocs[0];
    fuzz::check(record.startOffset == 0, "record start");
    const std::string& ext = record.extension;
    fuzz::check(ext == ".doc" || ext == ".xls" || ext == ".ppt" || ext == ".db" || ext == ".ukn", "extension");
    // The table is read only as far as the evidence holds sectors, 128 entries per sector, so
    // the document can count no more sectors than that (besides its header).
    const std::uint64_t sectors = (size + 511) / 512;
    fuzz::check(record.lastSectorIndex >= -1 && static_cast<std::uint64_t>(record.lastSectorIndex) <= sectors * 128,
                "document longer than its table could say");
    fuzz::check(state.fatTable.empty() && state.fatSectorList.empty() && state.directorySectors.empty(),
                "working lists kept");

    // The classifier alone over a whole table taken from the input.
    state.fatTable.clear();
    for (std::size_t i = 0; i + 4 <= size && i < 4096; i += 4) {
        std::uint32_t v = static_cast<std::uint32_t>(data[i]) | static_cast<std::uint32_t>(data[i + 1]) << 8 |
                          static_cast<std::uint32_t>(data[i + 2]) << 16 | static_cast<std::uint32_t>(data[i + 3]) << 24;
        state.fatTable.push_back(v >= 0xFFFFFFFC ? -static_cast<std::int64_t>(0xFFFFFFFFu - v + 1) : v);
    }
    const std::string alone = CompoundDocClassifier::classify(state, 0);
    fuzz::check(alone == ".doc" || alone == ".xls" || alone == ".ppt" || alone == ".db" || alone == ".ukn",
                "classifier extension");
    state.fatTable.clear();
    state.directorySectors.clear();
    state.compoundDocs.clear();
    state.headerIndex.clear();
    state.evidence.close();
    return 0;
}
