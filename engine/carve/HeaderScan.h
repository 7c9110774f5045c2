#pragma once

#include "carve/HeaderIndex.h"
#include "search/OffsetList.h"

#include <string>

namespace morrow {

class EvidenceReader;
class PassContext;

// Finds every whole 512-byte sector of the evidence whose first bytes (for a shifted key, the
// bytes 4 after its start) equal a header signature, and returns the sector offsets in ascending
// order. Drives the progress display and is the poll point for Stop and Quit at every sector.
class HeaderScan {
  public:
    struct Result {
        OffsetList matches;
        bool finished = true; // false when the user confirmed Stop or Quit (the scan is then aborted)
    };
    // `label` names what is searched in the status text: the kind tag and the pass label.
    static Result run(PassContext& context, EvidenceReader& evidence, const std::string& evidencePath,
                      const std::string& label, const HeaderKey& key);
};

} // namespace morrow
