#pragma once

#include "base/FileType.h"
#include "formats/ExactEnds.h"

#include <cstdint>
#include <string>

namespace morrow {

// What a carver receives for one pass over one evidence file: the kind's row of the kind table
// as this pass needs it, and the run's settings. All texts are UTF-8.
struct CarvePass {
    FileTypeId type = 0;         // the kind this pass carves
    std::string kindTag;         // the kind's word in carved file names, e.g. "JPEGFile"
    std::string extension;       // with its leading dot, or empty when the carver picks it
    std::string headerSignature; // hex text, possibly a comma list
    std::string footerSignature; // hex text or empty; unused by the compound document carver
    std::string evidencePath;
    bool exactEnds = false;             // the run's exact-ends mode: ends by each file's own structure
    bool reassemble = false;            // and files broken after a sound start are reassembled
    std::uint64_t maxFileSizeBytes = 0; // the maximum size setting, in bytes

    // Shown after the kind tag while the headers are searched: "(AVI,DAT)" for a video pass.
    std::string passLabel;
    // The MP4 family's pass: its signature sits 4 bytes after the sector start.
    bool headerShifted = false;
    // Each header alternative is searched under its own label "(1)", "(2)"... (TIFF, HTML).
    bool labelsAlternatives = false;
    // Bytes after the footer that still belong to the file (the CRC of PNG's IEND chunk).
    std::int64_t footerTail = 0;
    // The exact-ends mode's reader of the kind; null where the carver's own rules already follow
    // the structure (ZIP, RIFF, ASF) or the kind has none.
    ExactReader exactReader = nullptr;

    // The bytes of one header signature of this pass as the scan compares them.
    std::string headerBytes(const std::string& hex) const;
};

} // namespace morrow
