#pragma once

#include "base/Limits.h"
#include "search/OffsetList.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// What the engine shares between the run driver, the front end and the carvers: the form's
// settings, the run's counters and the run control. It lives as long as the front end and is
// reused by every run; the run driver resets what belongs to a run. Flags are 32-bit integers
// holding 0 or 1. What a format reader finds it returns to its caller; none of it is kept here.
struct CarveState {
    // Settings, exchanged with the form by readForm.
    std::int32_t maxFileSizeKB = limits::defaultMaxFileSizeKB;
    std::string carvingPath;
    std::string pendingEvidencePath;
    std::int32_t allPictureFiles = 0;

    // Opt-in modes beyond the design's run, from the form: each file ends where its own
    // structure ends; a DFXML report with digests beside each report; the report alone, no
    // carved file written. And, for the DFXML creator, the program's version and the command line
    // or the dialog's settings in words.
    std::int32_t exactEnds = 0;
    // With exactEnds: a file whose structure breaks after a sound start is searched for where it
    // goes on, and carved in its pieces when its format proves the join.
    std::int32_t reassembleFragments = 0;
    std::int32_t writeDfxml = 0;
    std::int32_t reportOnly = 0;
    // Each carved file read back and checked by a decoder made for its format (verify/): the
    // verdicts go to the host, the DFXML report and the run's tally. A report-only run writes no
    // file to read back: its files are all "not checked".
    std::int32_t verifyFiles = 0;
    // Only candidates whose first sector no file system allocates (read with libtsk).
    std::int32_t unallocatedOnly = 0;
    std::string programVersion;
    std::string invocation;

    // Kind selection, set at the start of every run from the kind list; each kind's row in the
    // kind table (Catalog.h) names its flag.
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

    // Pass: the label shown in the status text, whether the MP4 family's pass is on (its header
    // signature sits 4 bytes in), how many PDF files the size-driven pass carved (the footer pass
    // numbers on from there), and the PDF headers the size-driven pass could not measure, handed
    // to the footer pass. The header scan returns its matches to the carver that asked.
    std::string passLabel;
    std::int32_t mp4Pass = 0;
    std::int32_t pdfCarvedBySize = 0;
    OffsetList pdfHeaderIndex;

    // Run control.
    std::int32_t stopRequested = 0;
    std::int32_t quitRequested = 0;
    std::int32_t carvingInProgress = 0;
    std::int32_t scanAborted = 0;
    std::int32_t quitConfirmed = 0;
};

} // namespace morrow
