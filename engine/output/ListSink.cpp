#include "output/ListSink.h"

#include "evidence/EvidenceReader.h"
#include "output/DfxmlReport.h"
#include "output/Output.h"

namespace morrow {

OutputOutcome ListSink::accept(const CarvedFile& file, EvidenceReader& evidence) {
    // A row stands for bytes that are the evidence's, here as in a full run.
    if (OutputOutcome intact = Output::evidenceIntact(evidence); !intact) {
        return intact;
    }
    if (OutputOutcome row =
            output_.appendReportRow(file.path, file.offset(), static_cast<std::int64_t>(file.length()));
        !row) {
        return row;
    }
    if (dfxml_ != nullptr) {
        dfxml_->addFile(file, evidence.size(), nullptr);
    }
    return OutputOutcome::done();
}

} // namespace morrow
