#include "CompoundDocCarver.h"

#include "CandidateLoop.h"
#include "CarveEngine.h"
#include "HeaderScan.h"
#include "HexText.h"

#include <algorithm>

namespace morrow {

namespace {

constexpr std::int64_t sectorSize = 512;

} // namespace

std::uint64_t CompoundDocCarver::carvedLength(std::int64_t offset, std::uint64_t length, std::uint64_t evidenceSize) {
    const std::uint64_t start = static_cast<std::uint64_t>(offset);
    const std::uint64_t inEvidence = start < evidenceSize ? evidenceSize - start : 0;
    // A document cut by the end of the evidence is carved up to that end: zeros in place of the
    // missing sectors would pass for carved data.
    return std::min(length, inEvidence);
}

int CompoundDocCarver::analyse(CarveEngine& engine, std::int64_t first, std::int64_t last, std::int64_t upper,
                               std::vector<CompoundDocRecord>& records) {
    CarveState& st = engine.state();
    CarveHost& host = engine.host();

    host.setStatusText("");
    host.setStatusText("Analysing Copound Doc file system...");
    host.setProgressPos(first);
    host.setProgressRange(upper);
    host.showProgress(true);
    for (std::int64_t w = first; w <= last; ++w) {
        if (!engine.pollCandidate()) {
            records.clear();
            return 0;
        }
        host.setProgressPos(w);
        const std::int64_t H = st.headerIndex[static_cast<std::size_t>(w)];
        records.push_back(CompoundDocAnalysis::analyse(engine.evidence(), H));
    }
    host.showProgress(false);
    return 1;
}

bool CompoundDocCarver::carve(CarveEngine& engine, const CarvePass& pass) {
    CarveState& st = engine.state();
    EvidenceReader* opened = engine.openEvidence(pass.evidencePath);
    if (opened == nullptr) {
        return false;
    }
    HeaderScan::run(engine, pass.evidencePath, pass.kindTag, pass.headerBytes(pass.headerSignature));

    const std::int64_t n = static_cast<std::int64_t>(st.headerIndex.size());
    if (n == 0) {
        // A Stop or Quit confirmed during a scan that found nothing still ends the run.
        return st.scanAborted != 1;
    }
    std::vector<CompoundDocRecord> records;
    auto endPass = [&] {
        records.clear();
        st.headerIndex.clear();
    };
    CandidateLoop loop(engine, pass.kindTag, n);
    std::int64_t fileNumber = 0;
    for (std::int64_t first = 0; first < n; first += window) {
        const std::int64_t last = std::min(n, first + window) - 1;
        records.clear();
        if (analyse(engine, first, last, n - 1, records) == 0) {
            endPass();
            return false;
        }
        loop.setRange();
        loop.show();
        for (std::int64_t j = first; j <= last; ++j) {
            if (!loop.next(j, j + 1)) {
                endPass();
                return false;
            }
            const CompoundDocRecord& record = records[static_cast<std::size_t>(j - first)];
            if (pass.exactEnds && !record.sound) {
                continue; // exact ends are only read from a document that holds together
            }
            const std::uint64_t length = static_cast<std::uint64_t>(record.lastSectorIndex + 1) * sectorSize;
            const std::uint64_t x = carvedLength(record.startOffset, length, opened->size());
            if (!engine.carve(pass, fileNumber, record.startOffset, x, x, record.extension)) {
                endPass();
                return false;
            }
            ++fileNumber;
        }
    }

    loop.hide();
    endPass();
    return st.scanAborted != 1;
}

} // namespace morrow
