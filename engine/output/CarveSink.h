#pragma once

#include "output/CarvedFile.h"

namespace morrow {

class EvidenceReader;

// Where the carvers hand every file they decided on. The sink writes it (or only records it) and
// adds its report row; hashes, a second report and a preview run plug in here.
class CarveSink {
public:
    virtual ~CarveSink() = default;
    // True when the file was written and recorded. False when it was not and the run must end:
    // the user has been told, and nothing of the file is left behind.
    virtual bool accept(const CarvedFile& file, EvidenceReader& evidence) = 0;
};

} // namespace morrow
