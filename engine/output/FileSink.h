#pragma once

#include "output/CarveSink.h"

#include <vector>

namespace morrow {

class Output;

// The sink of a normal run: tests the free space, writes the carved file (the evidence's bytes
// copied in blocks, zeros past its end) and appends its report row.
class FileSink : public CarveSink {
public:
    explicit FileSink(Output& output) : output_(output) {}
    bool accept(const CarvedFile& file, EvidenceReader& evidence) override;

private:
    Output& output_;
    std::vector<unsigned char> buffer_;
};

} // namespace morrow
