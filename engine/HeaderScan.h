#pragma once

#include <string>

namespace morrow {

class CarveEngine;

// Indexes every whole 512-byte sector of the open evidence whose first bytes (for the MP4 pass,
// the bytes 4 after its start) equal a header signature, appending the sector offsets to
// headerIndex in ascending order. Drives the progress display and is the poll point for Stop and
// Quit at every sector.
class HeaderScan {
public:
    // `signature` is a copy of signatureBytes. Returns 1 when every sector was visited, 0 when the
    // user confirmed Stop or Quit (scanAborted is then 1).
    static int run(CarveEngine& engine, const std::string& evidencePath, const std::string& kindTag,
                   const std::string& signature);
};

} // namespace morrow
