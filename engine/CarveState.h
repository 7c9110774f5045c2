#pragma once

#include "Evidence.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// One compound document found in a pass: where it starts, the index of its last sector
// (the carved length is (lastSectorIndex + 1) * 512) and the extension its directory chose.
struct CompoundDocRecord {
    std::int64_t startOffset = 0;
    std::int64_t lastSectorIndex = 0;
    std::string extension;
};

// Everything the engine shares between the run driver, the searches and the carvers. It lives as
// long as the front end and is reused by every run; the run driver resets what belongs to a run.
// Flags are 32-bit integers holding 0 or 1.
struct CarveState {
    // Settings, exchanged with the form by readForm.
    std::int32_t maxFileSizeKB = 1024;
    std::string carvingPath;
    std::string pendingEvidencePath;
    std::int32_t allPictureFiles = 0;

    // Kind selection, set at the start of every run from the kind list.
    std::int32_t bmpSelected = 0;
    std::int32_t gifSelected = 0;
    std::int32_t jpegSelected = 0;
    std::int32_t tiffSelected = 0;
    std::int32_t pngSelected = 0;
    std::int32_t psdSelected = 0;
    std::int32_t compoundDocSelected = 0;
    std::int32_t pdfSelected = 0;
    std::int32_t htmlSelected = 0;
    std::int32_t zipSelected = 0;
    std::int32_t videoSelected = 0;
    std::int32_t anyKindSelected = 0;

    // Run.
    std::vector<std::string> evidenceFiles;
    std::uint64_t maxFileSizeBytes = 0;
    std::int32_t filesCarvedTotal = 0;
    std::string reportHeaderLine;
    std::string outputFolder;
    // The volume whose free space is tested: on this platform the output folder itself.
    std::string outputDrive;
    std::string reportRow;

    // Pass.
    std::string passLabel;
    std::int32_t mp4Pass = 0;
    std::int32_t pdfCarvedBySize = 0;
    // The signature being worked on, one char per byte; a 00 byte is held as '0'.
    std::string signatureBytes;
    std::vector<std::int64_t> headerIndex;
    std::vector<std::int64_t> pdfHeaderIndex;
    Evidence evidence; // opened read-only by each carver at the start of its pass
    std::uint64_t evidenceSize = 0;
    std::uint64_t evidenceSectors = 0;

    // Search and format results.
    std::int64_t footerMatchOffset = 0;
    std::int64_t fieldMatchOffset = 0;
    std::int64_t zipMatchOffset = 0;
    std::int64_t jpegScanStart = 0;
    std::uint64_t zipLength = 0;
    std::int32_t zipSkip = 0;
    std::uint64_t zipResumeOffset = 0;
    std::uint64_t pdfLinearizedLength = 0;
    std::uint64_t videoLength = 0;
    std::uint8_t videoContainer = 0; // 1 AVI, 2 DAT, 3 MP4, 4 MOV, 5 3GP, 0 none

    // Compound document analysis.
    std::vector<std::uint64_t> fatSectorList;
    std::vector<std::int64_t> fatTable;
    std::vector<std::uint64_t> directorySectors;
    std::vector<CompoundDocRecord> compoundDocs;

    // Run control.
    std::int32_t stopRequested = 0;
    std::int32_t quitRequested = 0;
    std::int32_t carvingInProgress = 0;
    std::int32_t scanAborted = 0;
    std::int32_t quitConfirmed = 0;
};

} // namespace morrow
