#pragma once

#include "output/CarveSink.h"

namespace morrow {

class DfxmlReport;
class Output;

// The sink of a report-only run: every file a full run would carve gets its report row (and its
// DFXML file object, without digests), and no file is written, so no free space is needed.
class ListSink : public CarveSink {
  public:
    explicit ListSink(Output& output) : output_(output) {}
    void setDfxml(DfxmlReport* dfxml) { dfxml_ = dfxml; }
    OutputOutcome accept(const CarvedFile& file, EvidenceReader& evidence) override;

  private:
    Output& output_;
    DfxmlReport* dfxml_ = nullptr;
};

} // namespace morrow
