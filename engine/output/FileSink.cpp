#include "output/FileSink.h"

#include "evidence/EvidenceReader.h"
#include "output/DfxmlReport.h"
#include "output/Output.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <cerrno>

namespace morrow {

namespace {

constexpr std::size_t copyBlockSize = 1 << 20;
// A stretch the kernel copies in well under a second, even to a slow disk.
constexpr std::uint64_t fastCopyStretch = std::uint64_t{32} << 20;

} // namespace

OutputOutcome FileSink::accept(const CarvedFile& file, EvidenceReader& evidence) {
    if (OutputOutcome space = output_.checkFreeSpace(file.spaceNeeded); !space) {
        return space;
    }
    // The file gets its final name only when it is whole, just before its row: a run that is
    // killed leaves no cut-off file under a name that looks carved. Where the system allows, it is
    // written with no name at all until then; elsewhere under a scratch name in its folder (one
    // file is written at a time and each run has a folder of its own, so one short name serves,
    // and never makes a name too long that would fit as the final one).
    const std::size_t slash = file.path.rfind(pathSeparator);
    const std::string folder = slash == std::string::npos ? std::string(".") : file.path.substr(0, slash);
    const std::string partial = folder + pathSeparator + "~carving.part";
    OutputFile out;
    if (namesNonFile(file.path)) {
        return Output::writeFailure(0, "Carved file creation failed: " + file.path + ": " +
                                           systemErrorText(ELOOP));
    }
    const bool unnamed = out.openUnnamed(folder);
    if (!unnamed && (namesNonFile(partial) || !Output::createCarvedFile(partial, out))) {
        return Output::writeFailure(0, "Carved file creation failed: " + file.path + ": " +
                                           systemErrorText(out.error() != 0 ? out.error() : ELOOP));
    }
    bool ok = true;
    int err = 0;
    // Bytes to be hashed must pass through our buffer: the kernel's copy is for runs without.
    const bool hashing = dfxml_ != nullptr;
    if (hashing && !digest_) {
        digest_ = std::make_unique<ParallelDigest>(std::size_t{256} << 10); // carved files are mostly small
    }
    const std::uint64_t size = evidence.size();
    bool stopped = false;
    for (const ByteRun& run : file.runs) {
        std::uint64_t done = 0;
        // The part of a run that lies in the evidence goes by the source's fast path when it has
        // one (the kernel's copy, no trip through our buffer); what it cannot copy, and the zeros
        // past the end, go through the buffer.
        const std::uint64_t inEvidence =
            run.offset < 0 || static_cast<std::uint64_t>(run.offset) >= size
                ? 0
                : std::min<std::uint64_t>(run.length, size - static_cast<std::uint64_t>(run.offset));
        // The kernel's copy goes a stretch at a time, so that the run's Stop is asked between them.
        while (ok && !hashing && done < inEvidence && !(stopped = evidence.stopped())) {
            const std::uint64_t want = std::min<std::uint64_t>(inEvidence - done, fastCopyStretch);
            const auto fast =
                evidence.source().copyTo(out, static_cast<std::uint64_t>(run.offset) + done, want);
            done += fast.copied;
            if (fast.error != 0) {
                ok = false;
                err = fast.error;
            }
            if (fast.copied < want) {
                break;
            }
        }
        if (ok && !stopped && done < run.length && buffer_.empty()) {
            buffer_.resize(copyBlockSize);
        }
        while (ok && done < run.length && !(stopped = stopped || evidence.stopped())) {
            const std::size_t chunk =
                static_cast<std::size_t>(std::min<std::uint64_t>(copyBlockSize, run.length - done));
            evidence.readAt(run.offset + static_cast<std::int64_t>(done), buffer_.data(), chunk);
            if (hashing) {
                digest_->update(buffer_.data(), chunk);
            }
            if (!out.write(buffer_.data(), chunk)) {
                ok = false;
                err = out.error();
                break;
            }
            done += chunk;
        }
        if (!ok || stopped) {
            break;
        }
    }
    // A copy the run's Stop cut short is no carved file: it goes, and the run ends with nothing
    // more said.
    if (ok && stopped) {
        ok = false;
    }
    // Bytes read from evidence that changed under the run are not the evidence's: not recorded.
    OutputOutcome intact = ok ? Output::evidenceIntact(evidence) : OutputOutcome::done();
    const bool isIntact = ok && intact.ok;
    int naming = 0;
    if (isIntact && unnamed) {
        naming = out.giveName(file.path);
    }
    if (!out.close() && ok) {
        ok = false;
        err = out.error();
    }
    const Digest::Values digests = hashing ? digest_->finish() : Digest::Values{};
    // What is left of a file that is not carved: the scratch name, or the final name given just
    // before closing failed. An unnamed file leaves nothing.
    auto discard = [&] {
        if (!unnamed) {
            removeFile(partial);
        } else if (isIntact && naming == 0) {
            removeFile(file.path);
        }
    };
    if (stopped) {
        discard();
        OutputOutcome ended;
        ended.ok = false;
        return ended;
    }
    if (!ok) {
        discard();
        return Output::writeFailure(err,
                                    "Carved file write failed: " + file.path + ": " + systemErrorText(err));
    }
    if (!isIntact) {
        discard();
        return intact;
    }
    if (!unnamed) {
        naming = renameFile(partial, file.path);
    }
    if (naming != 0) {
        // The file is whole but cannot have its name (too long, say): it is not carved.
        if (!unnamed) {
            removeFile(partial);
        }
        return Output::writeFailure(0, "Carved file creation failed: " + file.path + ": " +
                                           systemErrorText(naming));
    }
    if (OutputOutcome row =
            output_.appendReportRow(file.path, file.offset(), static_cast<std::int64_t>(file.length()));
        !row) {
        // A carved file the report does not record is not carved: it goes, like a failed write.
        removeFile(file.path);
        return row;
    }
    if (hashing) {
        dfxml_->addFile(file, evidence.size(), &digests);
    }
    return OutputOutcome::done();
}

} // namespace morrow
