#pragma once

#include "output/CarveSink.h"
#include "output/ParallelDigest.h"

#include <memory>
#include <vector>

namespace morrow {

class DfxmlReport;
class Output;

// The sink of a normal run: tests the free space, writes the carved file (the evidence's bytes
// copied in blocks, zeros past its end) and appends its report row. With a DFXML report it also
// hashes each file from the bytes it writes, in the same pass (MD5 and SHA-256 each on a thread
// of its own while the copy goes on), and records it there.
class FileSink : public CarveSink {
  public:
    explicit FileSink(Output& output) : output_(output) {}
    // Null for none.
    void setDfxml(DfxmlReport* dfxml) { dfxml_ = dfxml; }
    OutputOutcome accept(const CarvedFile& file, EvidenceReader& evidence) override;

  private:
    Output& output_;
    DfxmlReport* dfxml_ = nullptr;
    std::unique_ptr<ParallelDigest> digest_; // made when a DFXML run first needs it
    std::vector<unsigned char> buffer_;
};

} // namespace morrow
