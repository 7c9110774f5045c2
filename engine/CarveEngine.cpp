#include "CarveEngine.h"

#include "BuildFeatures.h"
#include "box/FileSystemBox.h"
#include "carve/CandidateLoop.h"
#include "carve/CompoundDocCarver.h"
#include "carve/HeaderFooterCarver.h"
#include "carve/SizeDrivenCarver.h"
#include "formats/CompoundDocAnalysis.h"
#include "formats/HtmlExtent.h"
#include "formats/ZipExtent.h"
#include "platform/FileSystem.h"
#include "platform/OutputFile.h"
#include "search/HexText.h"
#include "verify/FileCheck.h"
#include "volumes/FileSystemReader.h"

#include <algorithm>
#include <ctime>
#include <iterator>

namespace morrow {

const char* const CarveEngine::warningTitle = "Morrow, Warning...";
const char* const CarveEngine::stopQuestion = "Do you want to Cancel the Carving Process?";
const char* const CarveEngine::quitQuestion =
    "Carving Process is in progress!.\n Do you want to Quit the process?";

namespace {

std::string isoTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace

CarveEngine::CarveEngine(CarveHost& host)
    : host_(host), fileSink_(output_), listSink_(output_), sink_(&fileSink_), carvers_(standardCarvers()),
      opener_(openEvidenceSource) {}

CarveEngine::~CarveEngine() = default;

CarveEngine::Carvers CarveEngine::standardCarvers() {
    return Carvers{
        [](PassContext& c, const CarvePass& p) { return HeaderFooterCarver::carve(c, p); },
        [](PassContext& c, const CarvePass& p) { return SizeDrivenCarver::carve(c, p); },
        [](PassContext& c, const CarvePass& p) { return CompoundDocCarver::carve(c, p); },
    };
}

EvidenceReader* CarveEngine::openEvidence(const std::string& path) {
    if (reader_ && source_->path() == path) {
        return reader_.get();
    }
    closeEvidence();
    std::string error;
    source_ = opener_(path, error);
    if (!source_) {
        host_.showAppMessage("Evidence file open failed: " + path + ": " + error, style::OkStop);
        return nullptr;
    }
    reader_ = std::make_unique<EvidenceReader>(*source_);
    reader_->setStopPoll([this] { return pollWalk(); });
    lastPoll_ = RunProgress::Clock::now();
    progress_.startEvidence(reader_->size());
    fetchedSeen_ = 0;
    candidatesHandled_ = 0;
    if (state_.exactEnds != 0 && state_.reassembleFragments != 0) {
        // Reassembly reads at most a few times the evidence per kind, however many of its files
        // break.
        const std::uint64_t size = reader_->size();
        reassembling_ = true;
        joinBudgets_.assign(kind::count, JoinBudget(4 * size + FragmentJoin::candidateBytes,
                                                    size / 32 + 8 * FragmentJoin::candidateJoins));
    }
    return reader_.get();
}

void CarveEngine::closeEvidence() {
    if (reader_ && reader_->bytesFetched() > fetchedSeen_) {
        progress_.carverRead(reader_->bytesFetched() - fetchedSeen_);
    }
    fetchedSeen_ = 0;
    reader_.reset();
    source_.reset();
    reassembling_ = false;
    joinBudgets_.clear();
    claimed_.clear();
    joinsMeasured_.clear();
}

bool CarveEngine::sectorTaken(std::int64_t offset, FileTypeId type, bool starts) const {
    if (starts && headerIndex_.startsFile(offset)) {
        return true;
    }
    auto after = claimed_.upper_bound(offset);
    if (after != claimed_.begin() && std::prev(after)->second > offset) {
        return true;
    }
    return !measuringContainers_ && containers_.covering(offset, type) != nullptr;
}

std::uint64_t CarveEngine::foreignFileWithin(FileTypeId type, std::int64_t H, std::uint64_t length,
                                             bool runningOut) {
    if (!reader_ || length <= static_cast<std::uint64_t>(limits::sectorSize)) {
        return length;
    }
    // Signatures start files often enough by chance; a file whose own structure holds to its end
    // does not. Few are tried, so that a bitmap full of signatures costs little.
    constexpr int maxTried = 64;
    const std::int64_t end = H + static_cast<std::int64_t>(length);
    std::int64_t at = headerIndex_.nextStart(H + limits::sectorSize, end);
    for (int tried = 0; at >= 0 && tried < maxTried; ++tried) {
        unsigned char head[24] = {};
        reader_->readAt(at, head, sizeof head);
        for (const KindInfo& k : kindTable()) {
            if (k.id == type || state_.*(k.selected) == 0 || !startsKind(k, head)) {
                continue;
            }
            const std::uint64_t whole = wholeFileAt(k, at);
            if (whole > 0 && (!runningOut || at + static_cast<std::int64_t>(whole) > end)) {
                return static_cast<std::uint64_t>(at - H);
            }
        }
        at = headerIndex_.nextStart(at + 1, end);
    }
    return length;
}

bool CarveEngine::startsKind(const KindInfo& kind, const unsigned char* head) const {
    const std::string list = headerSignature(kind);
    for (int n = 1;; ++n) {
        const std::string field = HexText::listField(list, n, ',');
        if (field.empty()) {
            return false;
        }
        const std::string bytes = HexText::toRawBytes(field);
        const std::size_t shift = kind.headerShifted ? 4 : 0;
        if (bytes.size() >= 2 && bytes.size() + shift <= 24 &&
            std::equal(bytes.begin(), bytes.end(), head + shift,
                       [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; })) {
            return true;
        }
    }
}

std::uint64_t CarveEngine::wholeFileAt(const KindInfo& kind, std::int64_t at) {
    if (kind.exactReader != nullptr) {
        const Extent extent = kind.exactReader(*reader_, at, state_.maxFileSizeBytes);
        return extent && !extent.truncated ? extent.length : 0;
    }
    if (kind.id == kind::Zip) {
        const ZipExtent::Result zip = ZipExtent::measure(*reader_, at, true);
        return zip.extent && !zip.extent.truncated && zip.endRecord ? zip.extent.length : 0;
    }
    if (kind.id == kind::CompoundDoc) {
        const CompoundDocRecord doc = CompoundDocAnalysis::analyse(*reader_, at);
        return doc.sound ? static_cast<std::uint64_t>(doc.lastSectorIndex + 1) * limits::sectorSize : 0;
    }
    return 0;
}

void CarveEngine::scanProgress(std::uint64_t position) {
    // The scan's own reads are counted by how far it has come (holes included); what the reader
    // fetched meanwhile is not the carvers'.
    fetchedSeen_ = reader_ ? reader_->bytesFetched() : 0;
    // The scan polls at every sector; the walks after it count from its last block.
    lastPoll_ = RunProgress::Clock::now();
    progress_.scanned(position);
    showOverall(false);
}

void CarveEngine::candidateProgress() {
    const std::uint64_t fetched = reader_ ? reader_->bytesFetched() : fetchedSeen_;
    const std::uint64_t read = fetched >= fetchedSeen_ ? fetched - fetchedSeen_ : 0;
    fetchedSeen_ = fetched;
    ++candidatesHandled_;
    if (checks_ && checks_->anyDone()) {
        deliverVerdicts(false);
    }
    const std::uint64_t matches = headerIndex_.gatheredMatches();
    progress_.candidate(
        read, matches > candidatesHandled_ ? static_cast<std::int64_t>(matches - candidatesHandled_) : 0);
    showOverall(false);
}

void CarveEngine::showOverall(bool now) {
    const RunProgress::Clock::time_point at = RunProgress::Clock::now();
    if (progress_.due(at) || now) {
        host_.setOverallText(RunProgress::text(progress_.figures(at)));
    }
}

ParallelDigest* CarveEngine::evidenceDigest() {
    if (evidenceDigestDone_) {
        return nullptr;
    }
    // Only evidence that can be checked pays for the hash in a run without DFXML.
    if (!evidenceDigest_ && source_ && !source_->storedMd5().empty() && Digest::available()) {
        evidenceDigest_ = std::make_unique<ParallelDigest>(std::size_t{1} << 20, true);
    }
    return evidenceDigest_.get();
}

bool CarveEngine::carve(const CarvedFile& file) {
    // A walk the stop cut short measured from zeros: nothing it found is carved.
    if (ending_) {
        return false;
    }
    // Damage read past reads as zeros, which are not the evidence's: no file holding any is
    // carved (the run names the sectors when the evidence's passes end).
    for (const ByteRun& run : file.runs) {
        if (reader_->touchesDamage(run.offset, run.length)) {
            return true;
        }
    }
    if (measuringContainers_) {
        const std::size_t dot = file.path.find_last_of('.');
        const std::string extension = dot == std::string::npos ? std::string() : file.path.substr(dot);
        if (replayable_ && (file.runs.size() != 1 || replayed_.size() >= maxReplayed)) {
            replayable_ = false;
            replayed_ = {};
        }
        if (replayable_) {
            auto ext = std::find(replayExtensions_.begin(), replayExtensions_.end(), extension);
            if (ext == replayExtensions_.end()) {
                ext = replayExtensions_.insert(replayExtensions_.end(), extension);
            }
            replayed_.push_back(Replayed{file.offset(), file.length(), file.spaceNeeded, file.number,
                                         file.type,
                                         static_cast<std::uint16_t>(ext - replayExtensions_.begin())});
        }
        if (file.runs.size() < 2) {
            // Only what the file's structure points at is its own: whatever else lies in its
            // extent (past a break its measure did not see, in a gap its structure skips) is
            // carved as a file of its own. A duplicate costs disk; a file lost costs the case.
            std::vector<ByteRun> stretches;
            if (const PartsReader parts = kindInfo(file.type).partsReader) {
                std::vector<Part> found;
                parts(*reader_, file.offset(), file.length(), found);
                stretches.reserve(found.size());
                for (const Part& part : found) {
                    stretches.push_back(
                        ByteRun{file.offset() + static_cast<std::int64_t>(part.offset), part.length});
                }
            }
            containers_.add(file, extension, std::move(stretches));
            return true;
        }
        // A file in pieces holds what lies in each of them, the join having proven every piece
        // by the file's own structure; past its first, a piece holds what starts at its own first
        // byte too (a frame or member there), as the file's first byte on would.
        for (const ByteRun& run : file.runs) {
            CarvedFile piece = file;
            piece.runs = {run};
            if (run.offset != file.offset() && run.offset > 0) {
                piece.runs = {ByteRun{run.offset - 1, run.length + 1}};
            }
            containers_.add(piece, extension, piece.runs);
        }
        return true;
    }
    // A frame, member or thumbnail of a file of another kind that this run carves is that file's
    // bytes: it is listed in the DFXML report, not written again.
    if (const ContainerMap::Container* holder =
            containers_.holding(file.offset(), file.type, file.length())) {
        ++result_.embedded;
        if (dfxml_.active()) {
            const KindInfo& kind = kindInfo(holder->type);
            const std::string holderPath = carvedFilePath(file.evidencePath, kind.kindTag, holder->number,
                                                          containers_.extension(*holder));
            dfxml_.addEmbedded(file, reader_->size(), holderPath,
                               static_cast<std::uint64_t>(file.offset() - holder->begin));
        }
        return true;
    }
    if (const OutputOutcome outcome = sink_->accept(file, *reader_); !outcome) {
        tell(outcome);
        return false;
    }
    ++state_.filesCarvedTotal;
    progress_.fileCarved();
    host_.fileCarved(file);
    if (checks_) {
        const std::uint64_t place = dfxml_.active() ? dfxml_.lastVerdictPlace() : 0;
        if (state_.reportOnly != 0) {
            // Nothing was written to read back.
            deliver(CheckedFile{file, place, FileVerdict{}});
        } else {
            checks_->submit(file, place);
            deliverVerdicts(false);
        }
    }
    const bool pieces = file.runs.size() > 1;
    if (pieces) {
        ++result_.reassembled;
    }
    if (file.type >= 0 && static_cast<std::size_t>(file.type) < result_.perKind.size()) {
        RunResult::Tally& tally = result_.perKind[static_cast<std::size_t>(file.type)];
        ++tally.files;
        tally.bytes += file.length();
        tally.reassembled += pieces ? 1 : 0;
    }
    // A reassembled file's pieces are proven its own: no other file is joined with them. (A file
    // carved to where its reader stopped may well run on into another's pieces.)
    if (reassembling_ && pieces) {
        for (const ByteRun& run : file.runs) {
            claim(run.offset, run.offset + static_cast<std::int64_t>(run.length));
        }
    }
    return true;
}

bool CarveEngine::deliverVerdicts(bool all, bool skipWaiting) {
    if (!checks_) {
        return true;
    }
    bool stopped = false;
    auto giveUp = [&] {
        stopped = stopped || !pollWalk();
        return stopped;
    };
    for (const CheckedFile& checked : all ? checks_->drain(skipWaiting, giveUp) : checks_->takeDone()) {
        deliver(checked);
    }
    return !stopped;
}

void CarveEngine::deliver(const CheckedFile& checked) {
    dfxml_.setVerdict(checked.tag, checked.verdict);
    const CarvedFile& file = checked.file;
    if (file.type >= 0 && static_cast<std::size_t>(file.type) < result_.perKind.size()) {
        RunResult::Tally& tally = result_.perKind[static_cast<std::size_t>(file.type)];
        tally.opens += checked.verdict.state == FileVerdict::State::Opens ? 1 : 0;
        tally.damaged += checked.verdict.state == FileVerdict::State::Damaged ? 1 : 0;
    }
    host_.fileVerified(file, checked.verdict);
}

void CarveEngine::claim(std::int64_t begin, std::int64_t end) {
    if (end <= begin) {
        return;
    }
    // Joined with every stretch it meets or overlaps.
    auto it = claimed_.upper_bound(begin);
    if (it != claimed_.begin() && std::prev(it)->second >= begin) {
        --it;
    }
    while (it != claimed_.end() && it->first <= end) {
        begin = std::min(begin, it->first);
        end = std::max(end, it->second);
        it = claimed_.erase(it);
    }
    claimed_.emplace(begin, end);
}

void CarveEngine::evidenceFailed(EvidenceReader& evidence) {
    tell(Output::evidenceIntact(evidence));
    state_.scanAborted = 1;
}

void CarveEngine::tell(const OutputOutcome& outcome) {
    if (!outcome.message.empty()) {
        host_.showAppMessage(outcome.message, outcome.hardError ? style::OkStop : style::Ok);
    }
    if (outcome.stopsCarving) {
        state_.carvingInProgress = 0;
    }
    if (outcome.focus == OutputOutcome::Field::CarvingPath) {
        host_.focusControl(control::CarvingPath);
    }
}

bool CarveEngine::pollWalk() {
    if (ending_) {
        return false;
    }
    const RunProgress::Clock::time_point now = RunProgress::Clock::now();
    if (host_.requestPending == 0 && now - lastPoll_ < walkPollInterval) {
        return true;
    }
    lastPoll_ = now;
    // Already spaced in time: the host's own spacing, made for a poll per sector, is passed by
    // (a window that drains only every so many polls would freeze for the whole walk).
    host_.drainMessages();
    return askStopOrQuit(false);
}

bool CarveEngine::askStopOrQuit(bool duringScan) {
    // True when the user confirmed `question`; the animation rests while it is open.
    auto confirmed = [&](const char* question) {
        if (duringScan) {
            host_.pauseAnimation();
        }
        if (host_.showMessage(question, warningTitle, style::YesNoStop) == answerYes) {
            if (duringScan) {
                state_.scanAborted = 1;
            }
            return true;
        }
        if (duringScan) {
            host_.resumeAnimation();
        }
        return false;
    };
    if (host_.takeStopRequest() && confirmed(stopQuestion)) {
        state_.carvingInProgress = 0;
        if (duringScan) {
            host_.setPercentText("");
        }
        ending_ = true;
        return false;
    }
    if (host_.takeQuitRequest() && confirmed(quitQuestion)) {
        state_.quitConfirmed = 1;
        ending_ = true;
        return false;
    }
    return true;
}

RunResult CarveEngine::startRun() {
    result_ = RunResult{};
    CarveState& st = state_;
    auto warn = [&](const char* text) {
        host_.showMessage(text, warningTitle, style::OkExclamation);
        return result_;
    };

    // Checking the settings: nothing on disk changes until all of these have passed.
    host_.readForm(st);
    st.evidenceFiles = host_.evidenceRows();
    if (st.evidenceFiles.empty()) {
        return warn("No Evidence File(s) is added.");
    }
    for (const KindInfo& k : kindTable()) {
        st.*(k.selected) = 0;
    }
    st.anyKindSelected = 0;
    for (const KindRow& row : host_.kindRows()) {
        if (!row.checked) {
            continue;
        }
        st.anyKindSelected = 1;
        for (const KindInfo& k : kindTable()) {
            if (row.text == k.rowText) {
                st.*(k.selected) = 1;
            }
        }
    }
    if (st.anyKindSelected == 0) {
        return warn("Select One of the File Type to Carve");
    }
    if (st.maxFileSizeKB < limits::minMaxFileSizeKB) {
        warn("File Size can't be null.");
        host_.focusControl(control::MaxFileSize);
        return result_;
    }
    if (st.maxFileSizeKB > limits::maxMaxFileSizeKB) {
        warn("Carving of File Size >10240KB(10MB) is not supported.");
        host_.focusControl(control::MaxFileSize);
        return result_;
    }
    if (st.carvingPath.empty()) {
        warn("Specify Folder Path for Carving Files");
        host_.focusControl(control::CarvingPath);
        return result_;
    }
    if (st.writeDfxml != 0 && dfxmlUnavailable() != nullptr) {
        return warn(dfxmlUnavailable());
    }
    if (st.unallocatedOnly != 0 && unallocatedUnavailable() != nullptr) {
        return warn(unallocatedUnavailable());
    }

    // Setting up the run.
    const std::string carvingRoot = st.carvingPath;
    sink_ = customSink_ != nullptr ? customSink_
            : st.reportOnly != 0   ? static_cast<CarveSink*>(&listSink_)
                                   : &fileSink_;
    fileSink_.setDfxml(st.writeDfxml != 0 ? &dfxml_ : nullptr);
    // Checking the carved files: on a worker thread where the machine has a core to spare.
    result_.verified = st.verifyFiles != 0;
    dfxml_.holdVerdicts(st.verifyFiles != 0);
    checks_.reset();
    checkBox_.reset();
    if (st.verifyFiles != 0) {
        checkBox_ = std::make_unique<box::CheckBox>();
        box::CheckBox* checker = checkBox_.get();
        checks_ = std::make_unique<CheckQueue>(
            true, 4096, [checker](const CarvedFile& file) { return checker->check(file); },
            [checker] { checker->cancel(); });
    }
    listSink_.setDfxml(st.writeDfxml != 0 ? &dfxml_ : nullptr);
    st.maxFileSizeBytes = static_cast<std::uint64_t>(st.maxFileSizeKB) * limits::bytesPerKB;
    st.filesCarvedTotal = 0;
    st.reportHeaderLine = Output::reportHeader();
    fileSystemSummary_.clear();
    // The DFXML's file objects wait in a scratch file: a temporary folder that cannot hold one
    // refuses the run before anything is made.
    if (st.writeDfxml != 0) {
        std::string failure;
        if (!DfxmlReport::probeScratch(failure)) {
            host_.showAppMessage("DFXML scratch file creation failed: " + failure, style::Ok);
            return result_;
        }
    }
    if (const OutputOutcome path = output_.ensureCarvingPath(st.carvingPath); !path) {
        tell(path);
        return result_;
    }
    st.scanAborted = 0;
    st.quitConfirmed = 0;
    ending_ = false;
    progress_.start(static_cast<std::int64_t>(st.evidenceFiles.size()), RunProgress::Clock::now());

    bool started = false;
    bool sound = true; // no evidence file so far was damaged or failed its stored MD5
    // A run that cannot set up an evidence file's output ends without a summary.
    auto endWithoutSummary = [&] {
        if (!started) {
            output_.discardCarvingPath();
        }
        host_.resetForm(st);
        host_.leaveRunMode();
        st.carvingInProgress = 0;
        result_.end = started ? RunResult::End::Partial : RunResult::End::Refused;
        result_.filesCarved = st.filesCarvedTotal;
        return result_;
    };
    const std::vector<std::string> evidenceFiles = st.evidenceFiles;
    for (const std::string& evidencePath : evidenceFiles) {
        st.carvingInProgress = 1;
        const bool folderMade = output_.createOutputFolder(st.carvingPath, evidencePath);
        st.outputFolder = output_.outputFolder();
        if (!folderMade) {
            host_.showAppMessage("Folder creation failed: " + st.outputFolder + ": " +
                                     systemErrorText(output_.lastError()),
                                 style::Ok);
            host_.focusControl(control::CarvingPath);
            return endWithoutSummary();
        }
        result_.outputFolders.push_back(st.outputFolder);
        if (output_.openReport(evidencePath, st.reportHeaderLine) != Output::ReportStatus::Created) {
            host_.showAppMessage("A report file creation error.: " + output_.reportPath(evidencePath) + ": " +
                                     systemErrorText(output_.lastError()),
                                 style::Ok);
            output_.discardOutputFolder();
            result_.outputFolders.pop_back();
            return endWithoutSummary();
        }
        if (st.writeDfxml != 0) {
            const std::string reportPath = output_.reportPath(evidencePath);
            const std::string dfxmlPath = reportPath.substr(0, reportPath.size() - 4) + ".dfxml";
            DfxmlCreator creator{"Morrow", st.programVersion, st.invocation, isoTimeNow(), {}};
            if (st.verifyFiles != 0) {
                creator.libraries = FileCheck::libraries();
            }
            if (!dfxml_.begin(dfxmlPath, creator)) {
                host_.showAppMessage("DFXML report creation failed: " + dfxmlPath + ": " + dfxml_.failure(),
                                     style::Ok);
                output_.discardOutputFolder();
                result_.outputFolders.pop_back();
                return endWithoutSummary();
            }
            evidenceDigest_ = std::make_unique<ParallelDigest>();
        }
        evidenceDigestDone_ = false;
        st.mp4Pass = 0;
        host_.enterRunMode();
        started = true;
        st.outputDrive = st.outputFolder;
        bool passed = runPasses(evidencePath);
        // Every verdict of this evidence file's files, before its DFXML report is written; a run
        // that is ending early does not wait for the checks not yet begun, nor one that is
        // stopped while it waits.
        passed = deliverVerdicts(true, !passed) && passed;
        // A Stop or Quit that came after the last poll point of the passes (during the last
        // candidate's file, the checks' drain) still makes the run partial: the report says so.
        passed = passed && !ending_ && askStopOrQuit(false);
        const bool reported = finishEvidence(evidencePath, passed, sound);
        closeEvidence();
        if (!passed || !reported || ending_) {
            finishPartialRun(carvingRoot);
            return result_;
        }
        output_.closeReport();
    }

    headerIndex_.clear();
    checks_.reset();
    st.evidenceFiles.clear();
    st.carvingInProgress = 0;
    host_.setStatusText("");
    result_.end = sound ? RunResult::End::Complete : RunResult::End::Partial;
    result_.filesCarved = st.filesCarvedTotal;
    showSummary(sound, carvingRoot);
    host_.resetForm(st);
    host_.leaveRunMode();
    return result_;
}

const char* CarveEngine::headerSignature(const KindInfo& kind) const {
    return state_.exactEnds != 0 && kind.exactHeaderSignature != nullptr ? kind.exactHeaderSignature
                                                                         : kind.headerSignature;
}

CarvePass CarveEngine::makePass(const KindInfo& kind, CarverFamily family,
                                const std::string& evidencePath) const {
    CarvePass pass;
    pass.type = kind.id;
    pass.kindTag = kind.kindTag;
    pass.extension = kind.extension;
    pass.headerSignature = headerSignature(kind);
    if (family != CarverFamily::CompoundDoc) {
        pass.footerSignature = kind.footerSignature;
    }
    pass.evidencePath = evidencePath;
    pass.exactEnds = state_.exactEnds != 0;
    pass.reassemble = pass.exactEnds && state_.reassembleFragments != 0;
    pass.maxFileSizeBytes = state_.maxFileSizeBytes;
    pass.passLabel = kind.passLabel != nullptr ? kind.passLabel : "";
    pass.headerShifted = kind.headerShifted;
    pass.labelsAlternatives = kind.labelsAlternatives;
    pass.footerTail = kind.footerTail;
    pass.exactReader = kind.exactReader;
    return pass;
}

bool CarveEngine::readFileSystems(const std::string& evidencePath) {
    allocation_ = AllocationMap{};
    allocationKnown_ = false;
    dfxml_.setAllocation(nullptr);
    const bool wanted =
        state_.unallocatedOnly != 0 || (state_.writeDfxml != 0 && FileSystemReader::builtIn());
    if (!wanted) {
        return true;
    }
    host_.setStatusText("");
    host_.setStatusText("Reading the file systems, evidence: " + baseName(evidencePath));
    // Through an opening of its own, so that what libtsk reads (and fails to read) leaves the
    // run's reader, its cache and its damage record as they were.
    std::string notes;
    std::string error;
    std::uint64_t size = 0;
    if (std::unique_ptr<EvidenceSource> own = opener_(evidencePath, error)) {
        size = own->size();
        // In a worker process of its own, with a budget: libtsk walks what a file system claims.
        box::FileSystemBox reading;
        const auto giveUp = [&] { return !pollWalk(); };
        if (reading.read(*own, allocation_, notes, giveUp) == box::FileSystemBox::Outcome::Stopped) {
            return false;
        }
    } else {
        allocation_.seal();
        notes = "the evidence could not be opened: " + error + "\n";
    }
    allocationKnown_ = true;
    dfxml_.setAllocation(&allocation_);
    if (state_.unallocatedOnly == 0) {
        return true;
    }
    // The run's summary names what was found; what could not be read is said now, before the
    // carving, since that space is carved whole.
    std::string found = baseName(evidencePath) + ":";
    for (const FileSystemFound& fs : allocation_.fileSystems()) {
        // A damaged boot sector may claim far more than the evidence holds, past what 64 bits
        // count: the claim is said as it stands, with what the evidence has.
        const std::uint64_t available = fs.offset < size ? size - fs.offset : 0;
        found += " " + fs.kind + " at offset " + std::to_string(fs.offset) + " (" +
                 (claimsMoreThan(fs, available)
                      ? "claims " + claimedBytes(fs) + " bytes, more than the evidence's " +
                            std::to_string(available) + ";"
                      : claimedBytes(fs) + " bytes,") +
                 " blocks of " + std::to_string(fs.blockSize) + ");";
    }
    if (allocation_.fileSystems().empty()) {
        found += " no file system;";
    }
    const std::uint64_t used = std::min(allocation_.allocatedBytes(), size);
    found += " " + std::to_string(size - used) + " of " + std::to_string(size) + " bytes unallocated (" +
             std::to_string(size == 0 ? 0 : (size - used) * 100 / size) + " %)";
    fileSystemSummary_ += found + "\n";
    if (!notes.empty()) {
        host_.showAppMessage("File systems of " + evidencePath + ": " + notes.substr(0, notes.size() - 1),
                             style::Ok);
    }
    return true;
}

bool CarveEngine::indexes(std::int64_t offset) const {
    return state_.unallocatedOnly == 0 || !allocationKnown_ ||
           !allocation_.allocated(static_cast<std::uint64_t>(offset));
}

bool CarveEngine::runPasses(const std::string& evidencePath) {
    CarveState& st = state_;
    if (!readFileSystems(evidencePath)) {
        return false;
    }

    // Every header signature this evidence file's passes will scan, so that the first scan
    // gathers them all in one read.
    std::vector<HeaderKey> keys;
    for (const KindInfo& k : kindTable()) {
        if (st.*(k.selected) == 0) {
            continue;
        }
        const std::string list = headerSignature(k);
        for (int n = 1;; ++n) {
            std::string field = HexText::listField(list, n, ',');
            if (field.empty()) {
                break;
            }
            // An exact-ends HTML pass's openings (white space, "<") match a sector in fifty: the
            // scan takes only those whose first bytes may open a page.
            keys.push_back(HeaderKey{
                st.exactEnds != 0 ? HexText::toRawBytes(field) : HexText::toBytes(field), k.headerShifted,
                st.exactEnds != 0 && k.id == kind::Html ? &HtmlExtent::opensPage : nullptr});
        }
    }
    headerIndex_.prepare(evidencePath, std::move(keys));

    // An exact-ends run of more than one kind first measures the files of the kinds that hold
    // others, without carving them, so that whichever pass reaches a frame, member or thumbnail of
    // one of them knows it for that file's bytes.
    containers_.clear();
    joinsMeasured_.clear();
    std::vector<std::int32_t CarveState::*> rowsTicked;
    for (const KindInfo& k : kindTable()) {
        if (st.*(k.selected) != 0 &&
            std::find(rowsTicked.begin(), rowsTicked.end(), k.selected) == rowsTicked.end()) {
            rowsTicked.push_back(k.selected);
        }
    }
    replayed_.clear();
    replayExtensions_.clear();
    replayable_ = false;
    if (st.exactEnds != 0 && rowsTicked.size() > 1) {
        replayable_ = st.reassembleFragments == 0;
        measuringContainers_ = true;
        for (const KindInfo& k : kindTable()) {
            if (st.*(k.selected) != 0 && k.holdsOthers && !runKind(k, evidencePath)) {
                measuringContainers_ = false;
                return false;
            }
        }
        measuringContainers_ = false;
        containers_.seal();
    }

    // The kinds in the table's order, one pass each.
    for (const KindInfo& k : kindTable()) {
        if (st.*(k.selected) == 0) {
            continue;
        }
        if (!(replayable_ && k.holdsOthers ? replayKind(k) : runKind(k, evidencePath))) {
            replayed_ = {};
            return false;
        }
    }
    replayed_ = {};
    st.mp4Pass = 0;
    return true;
}

// PDF's size-driven pass is followed by a header/footer pass over the headers it could not measure.
bool CarveEngine::runKind(const KindInfo& k, const std::string& evidencePath) {
    CarveState& st = state_;
    {
        st.pdfCarvedBySize = 0;
        for (int n = 0; n < (k.footerPassAfter ? 2 : 1); ++n) {
            const CarverFamily family = n == 0 ? k.carver : CarverFamily::HeaderFooter;
            st.passLabel = k.passLabel != nullptr ? k.passLabel : "";
            st.mp4Pass = k.headerShifted ? 1 : 0;
            const Carver& carver = family == CarverFamily::HeaderFooter ? carvers_.headerFooter
                                   : family == CarverFamily::SizeDriven ? carvers_.sizeDriven
                                                                        : carvers_.compoundDoc;
            if (carver && !carver(*this, makePass(k, family, evidencePath))) {
                return false;
            }
            // Evidence that changed under a pass that carved nothing from it still ends the run.
            if (reader_) {
                if (const OutputOutcome intact = Output::evidenceIntact(*reader_); !intact) {
                    tell(intact);
                    return false;
                }
            }
        }
    }
    return true;
}

bool CarveEngine::replayKind(const KindInfo& k) {
    CarveState& st = state_;
    st.passLabel = k.passLabel != nullptr ? k.passLabel : "";
    st.mp4Pass = k.headerShifted ? 1 : 0;
    const auto first =
        std::find_if(replayed_.begin(), replayed_.end(), [&](const Replayed& r) { return r.type == k.id; });
    const auto last = std::find_if(first, replayed_.end(), [&](const Replayed& r) { return r.type != k.id; });
    CandidateLoop loop(*this, k.kindTag, last - first);
    loop.setRange();
    loop.show();
    for (auto r = first; r != last; ++r) {
        if (!loop.next(r - first, r - first + 1)) {
            return false;
        }
        CarvedFile file;
        file.evidencePath = reader_->path();
        file.type = r->type;
        file.kindTag = k.kindTag;
        file.number = r->number;
        file.runs = {ByteRun{r->offset, r->length}};
        file.spaceNeeded = r->spaceNeeded;
        file.path = carvedFilePath(file.evidencePath, k.kindTag, r->number, replayExtensions_[r->extension]);
        if (!carve(file)) {
            return false;
        }
    }
    loop.hide();
    if (const OutputOutcome intact = Output::evidenceIntact(*reader_); !intact) {
        tell(intact);
        return false;
    }
    return !st.scanAborted;
}

bool CarveEngine::finishEvidence(const std::string& evidencePath, bool passed, bool& sound) {
    // Why what the scan hashed is not the evidence's own bytes: it changed, or parts of it could
    // not be read and were hashed as zeros.
    std::string notWhole;
    if (reader_) {
        bool unreadable = false;
        const std::string what = reader_->changed(&unreadable);
        if (!what.empty()) {
            notWhole = (unreadable ? "it could not be read whole: " : "it changed during the run: ") + what;
        } else if (!reader_->damage().empty()) {
            notWhole = "it could not be read whole: " + reader_->damageText();
            if (passed) {
                host_.showAppMessage("Evidence file is damaged: " + evidencePath + ": " +
                                         reader_->damageText() + "; no file holding them was carved",
                                     style::OkStop);
            }
            sound = false;
        }
    }
    DfxmlSource source;
    source.imageFilename = evidencePath;
    if (source_) {
        source.imageSize = source_->size();
        source.segments = source_->segments();
        source.acquisition = source_->acquisitionData();
        source.storedMd5 = source_->storedMd5();
    }
    // Digests only of a whole read of the evidence as it is: a run stopped in its first scan has
    // none, and damaged or changed evidence has none of its own.
    source.digestsOmitted = notWhole;
    if (evidenceDigest_ && evidenceDigestDone_) {
        const Digest::Values digests = evidenceDigest_->finish();
        if (notWhole.empty()) {
            source.digestsKnown = true;
            source.digests = digests;
        }
    }
    evidenceDigest_.reset();
    if (source.digestsKnown && !source.storedMd5.empty()) {
        if (source.storedMd5 == source.digests.md5) {
            host_.showAppMessage("Evidence MD5 matches the hash stored at acquisition: " + evidencePath,
                                 style::Ok);
        } else {
            host_.showAppMessage(
                "Evidence MD5 does not match the hash stored at acquisition: " + evidencePath + ": stored " +
                    source.storedMd5 + ", read " + source.digests.md5,
                style::OkStop);
            sound = false;
        }
    }
    // Up to its last block the report may still learn that the run was stopped.
    if (dfxml_.active() && !dfxml_.finish(source, passed, [this] { return pollWalk(); })) {
        host_.showAppMessage("DFXML report write failed: " + dfxml_.path() + ": " + dfxml_.failure(),
                             style::OkStop);
        return false;
    }
    return true;
}

void CarveEngine::finishPartialRun(const std::string& carvingRoot) {
    CarveState& st = state_;
    host_.resetForm(st);
    host_.leaveRunMode();
    closeEvidence();
    st.pdfHeaderIndex.clear();
    headerIndex_.clear();
    checks_.reset();
    output_.closeReport();
    st.carvingInProgress = 0;
    st.mp4Pass = 0;
    result_.end = RunResult::End::Partial;
    result_.filesCarved = st.filesCarvedTotal;
    if (st.quitConfirmed == 1) {
        result_.quit = true;
        host_.endApplication();
    }
    showSummary(false, carvingRoot);
}

void CarveEngine::showSummary(bool complete, const std::string& carvingRoot) {
    progress_.finish();
    showOverall(true);
    std::string text = complete ? "Carving Completed Successfully.\n" : "Carving Completed Partially.\n";
    // A report-only run writes no file: it says how many it found.
    text += (state_.reportOnly != 0 ? "Total No:Of files found (report only, none written): "
                                    : "Total No:Of files carved: ") +
            std::to_string(state_.filesCarvedTotal) + "\n";
    if (result_.embedded > 0) {
        text += std::to_string(result_.embedded) + " embedded in other carved files\n";
    }
    if (state_.unallocatedOnly != 0) {
        text += "Unallocated space only: " + fileSystemSummary_;
    }
    if (result_.reassembled > 0) {
        text += std::to_string(result_.reassembled) + " reassembled from fragments\n";
    }
    text += "Do you want to view the resutlted files?.";
    if (host_.showMessage(text, "Completed..", style::YesNoInfo) == answerYes) {
        host_.exploreFolder(carvingRoot);
    }
}

} // namespace morrow
