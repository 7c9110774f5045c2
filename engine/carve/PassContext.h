#pragma once

#include "formats/FragmentJoin.h"
#include "output/CarvedFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morrow {

class EvidenceReader;
class HeaderIndex;
class JoinBudget;
class OffsetList;
class ParallelDigest;
struct Piece;
struct CarvePass;

// The progress a pass shows while it runs: the status and percentage texts, the progress bar and
// the animation. A front end's host provides it.
class PassDisplay {
  public:
    virtual ~PassDisplay() = default;

    virtual void setStatusText(const std::string& text) = 0;
    virtual void setPercentText(const std::string& text) = 0;
    // The lower bound is always 0. The carvers pass count - 1, which is -1 for no candidate.
    virtual void setProgressRange(std::int64_t upper) = 0;
    virtual void setProgressPos(std::int64_t position) = 0;
    virtual void showProgress(bool visible) = 0;

    virtual void startAnimation() = 0;
    virtual void pauseAnimation() = 0;
    virtual void resumeAnimation() = 0;
    virtual void closeAnimation() = 0;
};

// What a carver, the header scan and a candidate loop get from the run for one pass: the evidence,
// where carved files go, the display, the Stop and Quit poll, and what passes of one evidence file
// share (the header matches gathered by one read, the evidence's digest, the PDF headers the
// size-driven pass leaves to the footer pass). The run driver provides it; nothing below the run
// driver sees more of the run.
class PassContext {
  public:
    virtual ~PassContext() = default;

    // The evidence of a pass. The first pass of an evidence file opens it; the passes after it
    // share it. Null, after the user has been told why, when it cannot be opened.
    virtual EvidenceReader* openEvidence(const std::string& path) = 0;
    // Hands a carved file to the sink and counts it. False (the user has been told) when the
    // run must end.
    virtual bool carve(const CarvedFile& file) = 0;
    // The path file `number` of a kind gets in the output folder of `evidencePath`.
    virtual std::string carvedFilePath(const std::string& evidencePath, const std::string& kindTag,
                                       std::int64_t number, const std::string& extension) const = 0;

    virtual PassDisplay& display() = 0;
    // The run's overall progress, beside the pass's own: the reading header scan tells how far
    // it has come, once per block it reads or passes, and a candidate loop each candidate it
    // reaches. Only for the display: nothing the run carves depends on them.
    virtual void scanProgress(std::uint64_t position) { (void)position; }
    virtual void candidateProgress() {}
    // True while a pass only measures its files for the run (carve() records them, writes
    // nothing): its candidates show as "Measuring", not "Carving".
    virtual bool measuringOnly() const { return false; }
    // Whether a header found at `offset` is a candidate of the run: a run of unallocated space
    // only leaves out what a file system allocates.
    virtual bool indexes(std::int64_t offset) const {
        (void)offset;
        return true;
    }
    // The poll point of a carver's candidate loop: asks the Stop question and then the Quit
    // question when they were requested. False when the user confirmed one of them: the pass
    // must end with false.
    virtual bool pollCandidate() = 0;
    // The same at every sector of a header scan, where the animation pauses while a question is
    // open and a confirmed Stop or Quit also marks the scan aborted.
    virtual bool pollScan() = 0;
    // True once the user confirmed Stop or Quit during a header scan of this run, or a scan met
    // evidence it could not read past.
    virtual bool scanAborted() const = 0;
    // A read of `evidence` failed in a way that cannot be read past: the user is told what the
    // evidence says, and the scan counts as aborted, so the run ends.
    virtual void evidenceFailed(EvidenceReader& evidence) = 0;

    // The header matches of every signature of this evidence file's passes, gathered by one read.
    virtual HeaderIndex& headerCache() = 0;
    // The digest of the evidence that the first header scan of a DFXML run feeds every byte, in
    // order; null when none is wanted or it is done. The scan marks it done.
    virtual ParallelDigest* evidenceDigest() = 0;
    virtual void evidenceDigestDone() = 0;

    // The PDF headers the size-driven pass could not measure, and how many PDF files it carved:
    // the footer pass takes the first and numbers on from the second.
    virtual OffsetList& pdfHeaderIndex() = 0;
    virtual std::int32_t& pdfCarvedBySize() = 0;

    // Reassembly of fragmented files: what this evidence file's searches for files of `type` may
    // still do, or null when the run does not reassemble.
    virtual JoinBudget* joinBudget(FileTypeId type) {
        (void)type;
        return nullptr;
    }
    // The sector at `offset` may not continue a file of `type`: it lies in a piece of a file
    // reassembled already or in a file measured as holding others, or (`starts`) it starts
    // another indexed file.
    virtual bool sectorTaken(std::int64_t offset, FileTypeId type, bool starts) const {
        (void)offset;
        (void)type;
        (void)starts;
        return false;
    }
    // Where, in the `length` bytes at H, the first file of another kind starts that its own
    // structure proves whole (past H's first sector; with `runningOut`, only one that runs on past
    // those bytes): a file of `type` whose payload carries no check of its own (a bitmap's pixels,
    // a document's sectors) breaks there. `length` when none does.
    virtual std::uint64_t foreignFileWithin(FileTypeId type, std::int64_t H, std::uint64_t length,
                                            bool runningOut = false) {
        (void)type;
        (void)H;
        (void)runningOut;
        return length;
    }
    // The `length` bytes at `offset` proved one whole file by its format: no reassembly takes them.
    virtual void claimWhole(std::int64_t offset, std::uint64_t length) {
        (void)offset;
        (void)length;
    }
    // A run that measures the files holding others before it carves remembers each join searched
    // for then (the pieces, or nothing when none was proven), so that the pass that carves takes the
    // answer instead of searching again with what is left of the allowance.
    virtual void rememberJoin(FileTypeId type, std::int64_t H,
                              const std::optional<std::vector<Piece>>& pieces) {
        (void)type;
        (void)H;
        (void)pieces;
    }
    virtual const std::optional<std::vector<Piece>>* rememberedJoin(FileTypeId type, std::int64_t H) const {
        (void)type;
        (void)H;
        return nullptr;
    }
    // In a reassembling pass, the file at H broke after a sound start (or none of its reader's
    // could be read whole): when its format proves where it goes on, it is carved in its pieces as
    // file `number`, and `runs` holds them (else it is empty). False when the run must end.
    // `name`, when given, tells the extension from the pieces (a document's directory read across them).
    bool carveJoined(const CarvePass& pass, EvidenceReader& evidence, std::int64_t number, std::int64_t H,
                     const std::string& extension, std::vector<ByteRun>& runs,
                     std::string (*name)(EvidenceReader&, const std::vector<Piece>&) = nullptr);

    // Hands file `number` of `pass`, `length` bytes at `offset` named with `extension`, to carve.
    bool carve(const CarvePass& pass, std::int64_t number, std::int64_t offset, std::uint64_t length,
               std::uint64_t spaceNeeded, const std::string& extension);

  private:
    // The join of the file of `type` at H, searched within a candidate's share of `run`.
    std::optional<std::vector<Piece>> search(FileTypeId type, EvidenceReader& evidence, std::int64_t H,
                                             JoinBudget& run);
};

} // namespace morrow
