#pragma once

// Carvers for dialog tests that only run the real header scan: its poll point comes once per
// sector, so a run on a small image passes through the host's Stop and Quit polls, its progress
// and its animation, whatever carvers the engine has been given so far.

#include "CarveEngine.h"
#include "carve/HeaderScan.h"
#include "search/HexText.h"

namespace morrow::test {

inline CarveEngine::Carvers scanningCarvers() {
    auto scan = [](PassContext& context, const CarvePass& pass) {
        EvidenceReader* evidence = context.openEvidence(pass.evidencePath);
        if (evidence == nullptr) {
            return false;
        }
        const HeaderScan::Result result =
            HeaderScan::run(context, *evidence, pass.evidencePath, pass.kindTag + pass.passLabel,
                            HeaderKey{HexText::toBytes(HexText::listField(pass.headerSignature, 1, ',')),
                                      pass.headerShifted});
        return result.finished && !context.scanAborted();
    };
    return CarveEngine::Carvers{scan, scan, scan};
}

} // namespace morrow::test
