#pragma once

// Carvers for dialog tests that only run the real header scan: its poll point comes once per
// sector, so a run on a small image passes through the host's Stop and Quit polls, its progress
// and its animation, whatever carvers the engine has been given so far.

#include "CarveEngine.h"
#include "HeaderScan.h"
#include "HexText.h"

namespace morrow::test {

inline CarveEngine::Carvers scanningCarvers() {
    auto scan = [](CarveEngine& engine, const CarvePass& pass) {
        CarveState& st = engine.state();
        if (engine.openEvidence(pass.evidencePath) == nullptr) {
            return false;
        }
        const int finished = HeaderScan::run(engine, pass.evidencePath, pass.kindTag,
                                             HexText::toBytes(HexText::listField(pass.headerSignature, 1, ',')));
        st.headerIndex.clear();
        return finished == 1 && st.scanAborted == 0;
    };
    return CarveEngine::Carvers{scan, scan, scan};
}

} // namespace morrow::test
