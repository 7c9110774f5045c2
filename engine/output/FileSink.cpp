#include "output/FileSink.h"

#include "evidence/EvidenceReader.h"
#include "output/Output.h"
#include "platform/OutputFile.h"

#include <algorithm>

namespace morrow {

namespace {

constexpr std::size_t copyBlockSize = 1 << 20;

} // namespace

bool FileSink::accept(const CarvedFile& file, EvidenceReader& evidence) {
    if (!output_.checkFreeSpace(file.spaceNeeded)) {
        return false;
    }
    OutputFile out;
    if (!Output::createCarvedFile(file.path, out)) {
        output_.reportWriteFailure(0, "Carved file creation failed: " + file.path);
        return false;
    }
    bool ok = true;
    int err = 0;
    std::uint64_t done = 0;
    // The part that lies in the evidence goes by the source's fast path when it has one (the
    // kernel's copy, no trip through our buffer); what it cannot copy, and the zeros past the end,
    // go through the buffer.
    const std::uint64_t size = evidence.size();
    const std::uint64_t inEvidence =
        file.offset < 0 || static_cast<std::uint64_t>(file.offset) >= size
            ? 0
            : std::min<std::uint64_t>(file.length, size - static_cast<std::uint64_t>(file.offset));
    if (inEvidence > 0) {
        const auto fast = evidence.source().copyTo(out, static_cast<std::uint64_t>(file.offset), inEvidence);
        done = fast.copied;
        if (fast.error != 0) {
            ok = false;
            err = fast.error;
        }
    }
    if (ok && done < file.length && buffer_.empty()) {
        buffer_.resize(copyBlockSize);
    }
    while (ok && done < file.length) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(copyBlockSize, file.length - done));
        evidence.readAt(file.offset + static_cast<std::int64_t>(done), buffer_.data(), chunk);
        if (!out.write(buffer_.data(), chunk)) {
            ok = false;
            err = out.error();
            break;
        }
        done += chunk;
    }
    if (!out.close() && ok) {
        ok = false;
        err = out.error();
    }
    if (!ok) {
        removeFile(file.path);
        output_.reportWriteFailure(err, "Carved file write failed: " + file.path);
        return false;
    }
    if (!output_.appendReportRow(file.path, file.offset, static_cast<std::int64_t>(file.length))) {
        // A carved file the report does not record is not carved: it goes, like a failed write.
        removeFile(file.path);
        return false;
    }
    return true;
}

} // namespace morrow
