#pragma once

#include "output/CarvedFile.h"
#include "output/Output.h"

namespace morrow {

class EvidenceReader;

// Where the carvers hand every file they decided on. The sink writes it (or only records it) and
// adds its report row; hashes, a second report and a preview run plug in here.
class CarveSink {
  public:
    virtual ~CarveSink() = default;
    // Goes through when the file was written and recorded. Fails when it was not and the run
    // must end, with what the user is to be told; nothing of the file is left behind.
    virtual OutputOutcome accept(const CarvedFile& file, EvidenceReader& evidence) = 0;
};

} // namespace morrow
