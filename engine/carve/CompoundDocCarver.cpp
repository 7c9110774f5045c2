#include "carve/CompoundDocCarver.h"

#include "base/Limits.h"
#include "carve/CandidateLoop.h"
#include "carve/CarvePass.h"
#include "carve/HeaderScan.h"
#include "carve/PassContext.h"
#include "evidence/EvidenceReader.h"

#include <algorithm>

namespace morrow {

std::uint64_t CompoundDocCarver::carvedLength(std::int64_t offset, std::uint64_t length,
                                              std::uint64_t evidenceSize) {
    const std::uint64_t start = static_cast<std::uint64_t>(offset);
    const std::uint64_t inEvidence = start < evidenceSize ? evidenceSize - start : 0;
    // A document cut by the end of the evidence is carved up to that end: zeros in place of the
    // missing sectors would pass for carved data.
    return std::min(length, inEvidence);
}

int CompoundDocCarver::analyse(PassContext& context, EvidenceReader& evidence, const OffsetList& headers,
                               std::int64_t first, std::int64_t last, std::int64_t upper,
                               std::vector<CompoundDocRecord>& records) {
    PassDisplay& host = context.display();

    host.setStatusText("");
    host.setStatusText("Analysing Copound Doc file system...");
    host.setProgressPos(first);
    host.setProgressRange(upper);
    host.showProgress(true);
    for (std::int64_t w = first; w <= last; ++w) {
        if (!context.pollCandidate()) {
            records.clear();
            return 0;
        }
        host.setProgressPos(w);
        const std::int64_t H = headers[static_cast<std::size_t>(w)];
        records.push_back(CompoundDocAnalysis::analyse(evidence, H));
    }
    host.showProgress(false);
    return 1;
}

bool CompoundDocCarver::carve(PassContext& context, const CarvePass& pass) {
    EvidenceReader* opened = context.openEvidence(pass.evidencePath);
    if (opened == nullptr) {
        return false;
    }
    OffsetList headers =
        HeaderScan::run(context, *opened, pass.evidencePath, pass.kindTag + pass.passLabel,
                        HeaderKey{pass.headerBytes(pass.headerSignature), pass.headerShifted})
            .matches;

    const std::int64_t n = static_cast<std::int64_t>(headers.size());
    if (n == 0) {
        // A Stop or Quit confirmed during a scan that found nothing still ends the run.
        return !context.scanAborted();
    }
    std::vector<CompoundDocRecord> records;
    auto endPass = [&] {
        records.clear();
        headers.clear();
    };
    CandidateLoop loop(context, pass.kindTag, n);
    std::int64_t fileNumber = 0;
    for (std::int64_t first = 0; first < n; first += window) {
        const std::int64_t last = std::min(n, first + window) - 1;
        records.clear();
        if (analyse(context, *opened, headers, first, last, n - 1, records) == 0) {
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
            if (pass.reassemble) {
                // A document whose tables or streams break may go on past a gap.
                std::vector<ByteRun> joined;
                if (!context.carveJoined(pass, *opened, fileNumber, record.startOffset, record.extension,
                                         joined, &CompoundDocAnalysis::extension)) {
                    endPass();
                    return false;
                }
                if (!joined.empty()) {
                    ++fileNumber;
                    continue;
                }
            }
            if (pass.exactEnds && !record.sound) {
                continue; // exact ends are only read from a document that holds together
            }
            const std::uint64_t length =
                static_cast<std::uint64_t>(record.lastSectorIndex + 1) * limits::sectorSize;
            std::uint64_t x = carvedLength(record.startOffset, length, opened->size());
            if (pass.exactEnds) {
                // Its sectors carry no check of their own: a whole file of another kind that
                // starts in them and runs on past the document overwrote it there.
                x = context.foreignFileWithin(pass.type, record.startOffset, x, true);
            }
            if (!context.carve(pass, fileNumber, record.startOffset, x, x, record.extension)) {
                endPass();
                return false;
            }
            ++fileNumber;
        }
    }

    loop.hide();
    endPass();
    return !context.scanAborted();
}

} // namespace morrow
