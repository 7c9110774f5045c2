#pragma once

#include "CarveHost.h"
#include "CarveState.h"
#include "Catalog.h"
#include "box/CheckBox.h"
#include "carve/CarvePass.h"
#include "carve/ContainerMap.h"
#include "carve/HeaderIndex.h"
#include "carve/PassContext.h"
#include "carve/RunProgress.h"
#include "evidence/EvidenceReader.h"
#include "evidence/EvidenceSource.h"
#include "output/CarveSink.h"
#include "output/DfxmlReport.h"
#include "output/Digest.h"
#include "output/FileSink.h"
#include "output/ListSink.h"
#include "output/Output.h"
#include "output/ParallelDigest.h"
#include "verify/CheckQueue.h"
#include "volumes/AllocationMap.h"

#include "formats/FragmentJoin.h"

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace morrow {

// How a run ended, for front ends that do not read the summary off the screen.
struct RunResult {
    enum class End {
        Refused,  // a setting was refused, or nothing could be set up: no evidence was started
        Complete, // every pass of every evidence file went through
        Partial,  // the run was stopped or failed after it started
    };
    End end = End::Refused;
    bool quit = false;            // the user confirmed Quit: the application is to end
    std::int32_t filesCarved = 0; // the summary's total
    // Files an exact-ends run found inside a file of another kind that it carved, and did not
    // write again.
    std::int64_t embedded = 0;
    // Files carved in several pieces, reassembled from fragments.
    std::int64_t reassembled = 0;

    // Files and bytes carved per kind, by FileTypeId.
    struct Tally {
        std::int64_t files = 0;
        std::uint64_t bytes = 0;
        std::int64_t reassembled = 0; // of those files
        // Of those files, in a run that checked them (verified): the verdicts.
        std::int64_t opens = 0;
        std::int64_t damaged = 0;
    };
    std::array<Tally, kind::count> perKind{};
    // The run checked its carved files (CarveState::verifyFiles).
    bool verified = false;
    // The output folder made for each evidence file, in order.
    std::vector<std::string> outputFolders;
};

// The carving engine: owns the shared state, reaches the front end only through CarveHost, and
// runs everything on the caller's thread. startRun is the operation behind Start. To the carvers
// it is their PassContext, and no more.
class CarveEngine : public PassContext {
  public:
    explicit CarveEngine(CarveHost& host);
    ~CarveEngine();

    CarveState& state() { return state_; }
    CarveHost& host() { return host_; }
    Output& output() { return output_; }
    HeaderIndex& headerCache() override { return headerIndex_; }

    // Reads the form, checks the settings and carves every listed evidence file with every
    // selected kind, then shows the summary. Returns how the run ended.
    RunResult startRun();

    // A carver entry point: true when the pass went through all its candidates, false when the
    // whole run must end (the carver has shown its own message first).
    using Carver = std::function<bool(PassContext&, const CarvePass&)>;
    struct Carvers {
        Carver headerFooter;
        Carver sizeDriven;
        Carver compoundDoc;
    };
    static Carvers standardCarvers();
    // Tests inject their own carvers to watch the dispatch.
    void setCarvers(Carvers carvers) { carvers_ = std::move(carvers); }

    // How evidence files are opened (raw files unless told otherwise; tests give images in memory).
    void setEvidenceOpener(EvidenceOpener opener) { opener_ = std::move(opener); }

    // The evidence of a pass. The first pass of an evidence file opens it; the passes after it
    // share it until the file's passes are over. Shows "Evidence file open failed" with the path
    // and the reason, and returns null when it cannot be opened.
    EvidenceReader* openEvidence(const std::string& path) override;
    // The evidence opened for the current evidence file; only valid after openEvidence succeeded.
    EvidenceReader& evidence() { return *reader_; }
    bool evidenceOpen() const { return reader_ != nullptr; }
    // Closes the evidence; the run does so when an evidence file's passes are over.
    void closeEvidence();

    // Where carved files go. A front end may put its own sink in place; null restores the run's
    // own choice (the file sink, or the list sink of a report-only run). The engine does not own it.
    void setSink(CarveSink* sink) { customSink_ = sink; }

    // The digest of the evidence being read whole by the first header scan of a DFXML run, or of
    // evidence that stores the MD5 it had at acquisition (an E01 image: its MD5 alone); null
    // when none is wanted or it is done. The scan feeds it every byte in order and marks it done.
    ParallelDigest* evidenceDigest() override;
    void evidenceDigestDone() override { evidenceDigestDone_ = true; }
    // Hands a carved file to the sink and counts it; tells the user when it could not. False when
    // the run must end.
    bool carve(const CarvedFile& file) override;
    using PassContext::carve;
    std::string carvedFilePath(const std::string& evidencePath, const std::string& kindTag,
                               std::int64_t number, const std::string& extension) const override {
        return output_.carvedFilePath(evidencePath, kindTag, number, extension);
    }
    PassDisplay& display() override { return host_; }
    void scanProgress(std::uint64_t position) override;
    void candidateProgress() override;
    bool measuringOnly() const override { return measuringContainers_; }
    bool indexes(std::int64_t offset) const override;
    JoinBudget* joinBudget(FileTypeId type) override {
        return reassembling_ && type >= 0 && type < kind::count
                   ? &joinBudgets_[static_cast<std::size_t>(type)]
                   : nullptr;
    }
    bool sectorTaken(std::int64_t offset, FileTypeId type, bool starts) const override;
    std::uint64_t foreignFileWithin(FileTypeId type, std::int64_t H, std::uint64_t length,
                                    bool runningOut) override;
    void rememberJoin(FileTypeId type, std::int64_t H,
                      const std::optional<std::vector<Piece>>& pieces) override {
        joinsMeasured_[{type, H}] = pieces;
    }
    const std::optional<std::vector<Piece>>* rememberedJoin(FileTypeId type, std::int64_t H) const override {
        const auto it = joinsMeasured_.find({type, H});
        return it == joinsMeasured_.end() ? nullptr : &it->second;
    }
    void claimWhole(std::int64_t offset, std::uint64_t length) override {
        if (reassembling_ && !measuringContainers_) {
            claim(offset, offset + static_cast<std::int64_t>(length));
        }
    }
    OffsetList& pdfHeaderIndex() override { return state_.pdfHeaderIndex; }
    std::int32_t& pdfCarvedBySize() override { return state_.pdfCarvedBySize; }
    // A read of the evidence failed in a way that cannot be read past: tells the user and marks
    // the scan aborted.
    void evidenceFailed(EvidenceReader& evidence) override;

    // The poll point of a carver's candidate loop and of the header scan: asks the Stop question
    // and then the Quit question when they were requested. False when the user confirmed one of
    // them (carvingInProgress cleared, or quitConfirmed set): the pass must end with false.
    // During a scan the animation pauses while a question is open, and a confirmed Stop or Quit
    // also sets scanAborted.
    // Once a Stop or Quit that ends the run now was confirmed (ending_), every poll says so.
    bool pollCandidate() override {
        lastPoll_ = RunProgress::Clock::now();
        return !ending_ && (!host_.pollDue() || askStopOrQuit(false));
    }
    bool pollScan() override { return !ending_ && (!host_.pollDue() || askStopOrQuit(true)); }
    // The poll of the walks under one candidate, of a carved file's copy and of the DFXML write
    // (through the evidence reader's stopped()): a poll point only once walkPollInterval has
    // passed since the last one, or at once when the host has a request pending, so that the
    // polls of a run whose walks are short stay those of its candidates and sectors. It drains
    // the host's input each time.
    bool pollWalk();
    static constexpr std::chrono::milliseconds walkPollInterval{50};
    // True once a confirmed Stop or Quit ends the run at its next poll point, wherever it is.
    bool ending() const { return ending_; }
    bool scanAborted() const override { return state_.scanAborted == 1; }
    bool askStopOrQuit(bool duringScan);

    // The pass of `kind` over `evidencePath` with the run's settings, as the dispatch gives it to
    // a carver of `family`.
    CarvePass makePass(const KindInfo& kind, CarverFamily family, const std::string& evidencePath) const;

    // Texts of the Stop and Quit questions and their title.
    static const char* const warningTitle;
    static const char* const stopQuestion;
    static const char* const quitQuestion;

  private:
    bool runPasses(const std::string& evidencePath);
    // Reads the file systems of the evidence when the run needs them (unallocated space only, or
    // a DFXML report's owners). False when the run must end.
    bool readFileSystems(const std::string& evidencePath);
    // The pass (or passes) of one kind; false when the run must end.
    bool runKind(const KindInfo& kind, const std::string& evidencePath);
    // The passes of a kind that holds others, from what measuring them before the passes
    // recorded: the same files in the same order, without measuring them again.
    bool replayKind(const KindInfo& kind);
    // The header signature list of a kind in the run's mode.
    const char* headerSignature(const KindInfo& kind) const;
    // Whether the first 24 bytes of a sector, `head`, open a file of `kind`; whether the file of
    // `kind` at `at` holds together from its start to its end by its own structure: its length,
    // or 0.
    bool startsKind(const KindInfo& kind, const unsigned char* head) const;
    std::uint64_t wholeFileAt(const KindInfo& kind, std::int64_t at);
    // Tells the user what an output operation that failed said, and acts on it.
    void tell(const OutputOutcome& outcome);
    // What is said of the evidence file just carved when its passes are over (`passed`: all of
    // them went through): damage read past, its MD5 against the one stored at acquisition, and
    // its DFXML report. Clears `sound` when the evidence is not sound (the run then ends
    // partially after its last evidence file); false, after a message, when the DFXML report could
    // not be written.
    bool finishEvidence(const std::string& evidencePath, bool passed, bool& sound);
    void finishPartialRun(const std::string& carvingRoot);
    // Marks [begin, end) of the evidence as a carved file's: no reassembly takes it.
    void claim(std::int64_t begin, std::int64_t end);
    void showSummary(bool complete, const std::string& carvingRoot);
    // Gives the host the run's overall line when it is due (or at once, `now`).
    void showOverall(bool now);
    // The verdicts of carved files that are ready (all of them, waiting for the checks, when
    // `all`): to the host, the DFXML report and the tally.
    // With `all`, waits for every verdict to come; a stop asked meanwhile and confirmed ends the
    // wait (the checks not yet made are "not checked") and returns false.
    bool deliverVerdicts(bool all, bool skipWaiting = false);
    void deliver(const CheckedFile& checked);

    CarveHost& host_;
    CarveState state_;
    Output output_;
    FileSink fileSink_;
    ListSink listSink_;
    CarveSink* sink_;
    CarveSink* customSink_ = nullptr;
    DfxmlReport dfxml_;
    std::unique_ptr<ParallelDigest> evidenceDigest_;
    bool evidenceDigestDone_ = false;
    HeaderIndex headerIndex_;
    ContainerMap containers_;
    AllocationMap allocation_;
    bool allocationKnown_ = false;
    std::string fileSystemSummary_; // the summary's words on the file systems of each evidence file
    // A reassembling run's: the evidence file's allowance of reassembly work, and the pieces of
    // the files reassembled so far from it and of those its formats proved whole (begin to end,
    // joined where they meet or overlap), whose sectors no reassembly takes.
    // Each kind has its own, so that a kind whose searches are dear (decoding trials) leaves the
    // others theirs.
    bool reassembling_ = false;
    std::vector<JoinBudget> joinBudgets_;
    std::map<std::int64_t, std::int64_t> claimed_;
    // The joins searched for while measuring the files that hold others, by kind and header offset.
    std::map<std::pair<FileTypeId, std::int64_t>, std::optional<std::vector<Piece>>> joinsMeasured_;
    bool measuringContainers_ = false; // carve() records files instead of carving them
    // A Stop or Quit was confirmed: the run ends at once, wherever it is. Every poll point says
    // stop, the evidence reader delivers nothing more and carve() takes no file; the headers a
    // stopped scan had found are not carved (on a large image that took as long as the run).
    bool ending_ = false;
    RunProgress::Clock::time_point lastPoll_{};
    // What measuring the kinds that hold others recorded, in order, for their passes to carve;
    // not kept past maxReplayed files (their passes then measure again), nor in a run that
    // reassembles (a join taken then may lose a piece to a file carved before its pass).
    struct Replayed {
        std::int64_t offset = 0;
        std::uint64_t length = 0;
        std::uint64_t spaceNeeded = 0;
        std::int64_t number = 0;
        FileTypeId type = 0;
        std::uint16_t extension = 0; // index into replayExtensions_
    };
    static constexpr std::size_t maxReplayed = std::size_t{1} << 20;
    std::vector<Replayed> replayed_;
    std::vector<std::string> replayExtensions_;
    bool replayable_ = false;
    Carvers carvers_;
    EvidenceOpener opener_;
    std::unique_ptr<EvidenceSource> source_;
    std::unique_ptr<EvidenceReader> reader_;
    RunResult result_;
    // The checks of a run that checks its carved files, made in a worker process (the box)
    // which the queue feeds; the queue goes first.
    std::unique_ptr<box::CheckBox> checkBox_;
    std::unique_ptr<CheckQueue> checks_;
    // The overall line: the bytes the evidence reader had fetched at the last report, and the
    // candidates handled so far of the evidence file open now.
    RunProgress progress_;
    std::uint64_t fetchedSeen_ = 0;
    std::uint64_t candidatesHandled_ = 0;
};

} // namespace morrow
