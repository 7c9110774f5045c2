#include "CarveEngine.h"

#include "CompoundDocCarver.h"
#include "HeaderFooterCarver.h"
#include "HexText.h"
#include "SizeDrivenCarver.h"
#include "platform/OutputFile.h"

#include <ctime>

namespace morrow {

const char* const CarveEngine::warningTitle = "Morrow, Warning...";
const char* const CarveEngine::stopQuestion = "Do you want to Cancel the Carving Process?";
const char* const CarveEngine::quitQuestion = "Carving Process is in progress!.\n Do you want to Quit the process?";
const char* const CarveEngine::dfxmlUnavailable =
    "DFXML reports are not available in this build of Morrow: it was built without OpenSSL (MORROW_WITH_DFXML).";

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

enum class CarverKind { HeaderFooter, SizeDriven, CompoundDoc };

// One pass of the dispatch table, in the fixed order of carving.
struct PassSpec {
    std::int32_t CarveState::*selected;
    FileTypeId type;
    CarverKind carver;
    const char* kindTag;
    const char* extension;
    const char* passLabel;    // set before the pass when not null
    bool firstOfRow;          // passLabel and pdfCarvedBySize are reset before a row's first pass
    bool scansHeaders;        // false for the PDF footer pass, which takes the size-driven pass's leftovers
};

const PassSpec dispatchTable[] = {
    {&CarveState::bmpSelected, kind::Bmp, CarverKind::SizeDriven, "BMPFile", ".bmp", nullptr, true, true},
    {&CarveState::gifSelected, kind::Gif, CarverKind::HeaderFooter, "GIFFile", ".gif", nullptr, true, true},
    {&CarveState::jpegSelected, kind::Jpeg, CarverKind::HeaderFooter, "JPEGFile", ".jpg", nullptr, true, true},
    {&CarveState::tiffSelected, kind::Tiff, CarverKind::HeaderFooter, "TIFFile", ".tif", nullptr, true, true},
    {&CarveState::pngSelected, kind::Png, CarverKind::HeaderFooter, "PNGFile", ".png", nullptr, true, true},
    {&CarveState::psdSelected, kind::Psd, CarverKind::SizeDriven, "PSDFile", ".psd", nullptr, true, true},
    {&CarveState::compoundDocSelected, kind::CompoundDoc, CarverKind::CompoundDoc, "CDocFile", "", nullptr, true, true},
    {&CarveState::pdfSelected, kind::Pdf, CarverKind::SizeDriven, "PDFFile", ".pdf", nullptr, true, true},
    {&CarveState::pdfSelected, kind::Pdf, CarverKind::HeaderFooter, "PDFFile", ".pdf", nullptr, false, false},
    {&CarveState::htmlSelected, kind::Html, CarverKind::HeaderFooter, "HTMLFile", ".html", nullptr, true, true},
    {&CarveState::zipSelected, kind::Zip, CarverKind::SizeDriven, "ZIPFile", ".zip", nullptr, true, true},
    {&CarveState::videoSelected, kind::VideoRiff, CarverKind::SizeDriven, "VideoFiles", "", "(AVI,DAT)", true, true},
    {&CarveState::videoSelected, kind::VideoQuickTime, CarverKind::SizeDriven, "VideoFiles", "", "(MP4,3GP,MOV)",
     false, true},
    {&CarveState::videoSelected, kind::VideoAsf, CarverKind::SizeDriven, "VideoFiles", ".wmv", "(WMV)", false, true},
};

struct RowFlag {
    const char* text;
    std::int32_t CarveState::*flag;
};

const RowFlag rowFlags[] = {
    {"BMP Files", &CarveState::bmpSelected},   {"Compound Doc Files", &CarveState::compoundDocSelected},
    {"GIF Files", &CarveState::gifSelected},   {"HTML Files", &CarveState::htmlSelected},
    {"JPEG Files", &CarveState::jpegSelected}, {"PDF Files", &CarveState::pdfSelected},
    {"TIFF Files", &CarveState::tiffSelected}, {"PNG Files", &CarveState::pngSelected},
    {"PSD Files", &CarveState::psdSelected},   {"ZIP Files", &CarveState::zipSelected},
    {"Video Files", &CarveState::videoSelected},
};

} // namespace

CarveEngine::CarveEngine(CarveHost& host)
    : host_(host), output_(state_, host), fileSink_(output_), listSink_(output_), sink_(&fileSink_),
      catalog_(FileTypeCatalog::standard()), carvers_(standardCarvers()), opener_(openEvidenceSource) {}

CarveEngine::~CarveEngine() = default;

CarveEngine::Carvers CarveEngine::standardCarvers() {
    return Carvers{
        [](CarveEngine& e, const CarvePass& p) { return HeaderFooterCarver::carve(e, p); },
        [](CarveEngine& e, const CarvePass& p) { return SizeDrivenCarver::carve(e, p); },
        [](CarveEngine& e, const CarvePass& p) { return CompoundDocCarver::carve(e, p); },
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
    return reader_.get();
}

void CarveEngine::closeEvidence() {
    reader_.reset();
    source_.reset();
}

bool CarveEngine::carve(const CarvePass& pass, std::int64_t number, std::int64_t offset, std::uint64_t length,
                        std::uint64_t spaceNeeded, const std::string& extension) {
    CarvedFile file;
    file.evidencePath = pass.evidencePath;
    file.type = pass.type;
    file.kindTag = pass.kindTag;
    file.number = number;
    file.offset = offset;
    file.length = length;
    file.spaceNeeded = spaceNeeded;
    file.path = output_.carvedFilePath(pass.evidencePath, pass.kindTag, number, extension);
    return carve(file);
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
    // Damage read past reads as zeros, which are not the evidence's: no file holding any is
    // carved (the run names the sectors when the evidence's passes end).
    if (reader_->touchesDamage(file.offset, file.length)) {
        return true;
    }
    if (!sink_->accept(file, *reader_)) {
        return false;
    }
    if (file.type >= 0 && static_cast<std::size_t>(file.type) < result_.perKind.size()) {
        RunResult::Tally& tally = result_.perKind[static_cast<std::size_t>(file.type)];
        ++tally.files;
        tally.bytes += file.length;
    }
    return true;
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
        return false;
    }
    if (host_.takeQuitRequest() && confirmed(quitQuestion)) {
        state_.quitConfirmed = 1;
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
    for (const RowFlag& r : rowFlags) {
        st.*(r.flag) = 0;
    }
    st.anyKindSelected = 0;
    for (const KindRow& row : host_.kindRows()) {
        if (!row.checked) {
            continue;
        }
        st.anyKindSelected = 1;
        for (const RowFlag& r : rowFlags) {
            if (row.text == r.text) {
                st.*(r.flag) = 1;
            }
        }
    }
    if (st.anyKindSelected == 0) {
        return warn("Select One of the File Type to Carve");
    }
    if (st.maxFileSizeKB < 1) {
        warn("File Size can't be null.");
        host_.focusControl(control::MaxFileSize);
        return result_;
    }
    if (st.maxFileSizeKB > 10240) {
        warn("Carving of File Size >10240KB(10MB) is not supported.");
        host_.focusControl(control::MaxFileSize);
        return result_;
    }
    if (st.carvingPath.empty()) {
        warn("Specify Folder Path for Carving Files");
        host_.focusControl(control::CarvingPath);
        return result_;
    }
    if (st.writeDfxml != 0 && !Digest::available()) {
        return warn(dfxmlUnavailable);
    }

    // Setting up the run.
    const std::string carvingRoot = st.carvingPath;
    sink_ = customSink_ != nullptr ? customSink_ : st.reportOnly != 0 ? static_cast<CarveSink*>(&listSink_) : &fileSink_;
    fileSink_.setDfxml(st.writeDfxml != 0 ? &dfxml_ : nullptr);
    listSink_.setDfxml(st.writeDfxml != 0 ? &dfxml_ : nullptr);
    st.maxFileSizeBytes = static_cast<std::uint64_t>(st.maxFileSizeKB) * 1024;
    st.filesCarvedTotal = 0;
    st.reportHeaderLine = Output::reportHeader();
    // The DFXML's file objects wait in a scratch file: a temporary folder that cannot hold one
    // refuses the run before anything is made.
    if (st.writeDfxml != 0) {
        std::string failure;
        if (!DfxmlReport::probeScratch(failure)) {
            host_.showAppMessage("DFXML scratch file creation failed: " + failure, style::Ok);
            return result_;
        }
    }
    if (!output_.ensureCarvingPath(st.carvingPath)) {
        return result_;
    }
    st.scanAborted = 0;
    st.quitConfirmed = 0;

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
        if (!output_.createOutputFolder(evidencePath)) {
            host_.showAppMessage("Folder creation failed: " + st.outputFolder + ": " + systemErrorText(output_.lastError()),
                                 style::Ok);
            host_.focusControl(control::CarvingPath);
            return endWithoutSummary();
        }
        result_.outputFolders.push_back(st.outputFolder);
        if (output_.openReport(evidencePath) != Output::ReportStatus::Created) {
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
            if (!dfxml_.begin(dfxmlPath, DfxmlCreator{"Morrow", st.programVersion, st.invocation, isoTimeNow()})) {
                host_.showAppMessage("DFXML report creation failed: " + dfxmlPath + ": " + dfxml_.failure(), style::Ok);
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
        const bool passed = runPasses(evidencePath);
        const bool reported = finishEvidence(evidencePath, passed, sound);
        closeEvidence();
        if (!passed || !reported) {
            finishPartialRun(carvingRoot);
            return result_;
        }
        output_.closeReport();
    }

    headerIndex_.clear();
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

const std::string& CarveEngine::headerSignature(FileTypeId type) const {
    const auto t = static_cast<std::size_t>(type);
    if (state_.exactEnds != 0 && t < catalog_.exactHeaderSignatures.size() && !catalog_.exactHeaderSignatures[t].empty()) {
        return catalog_.exactHeaderSignatures[t];
    }
    return catalog_.headerSignatures[t];
}

bool CarveEngine::runPasses(const std::string& evidencePath) {
    CarveState& st = state_;

    // Every header signature this evidence file's passes will scan, so that the first scan
    // gathers them all in one read.
    std::vector<HeaderKey> keys;
    for (const PassSpec& p : dispatchTable) {
        if (st.*(p.selected) == 0 || !p.scansHeaders) {
            continue;
        }
        const std::string& list = headerSignature(p.type);
        for (int n = 1;; ++n) {
            std::string field = HexText::listField(list, n, ',');
            if (field.empty()) {
                break;
            }
            keys.push_back(HeaderKey{st.exactEnds != 0 ? HexText::toRawBytes(field) : HexText::toBytes(field),
                                     p.type == kind::VideoQuickTime});
        }
    }
    headerIndex_.prepare(evidencePath, std::move(keys));

    for (const PassSpec& p : dispatchTable) {
        if (st.*(p.selected) == 0) {
            continue;
        }
        if (p.firstOfRow) {
            st.passLabel.clear();
            st.pdfCarvedBySize = 0;
        }
        if (p.passLabel != nullptr) {
            st.passLabel = p.passLabel;
        }
        st.mp4Pass = p.type == kind::VideoQuickTime ? 1 : 0;

        CarvePass pass;
        pass.type = p.type;
        pass.kindTag = p.kindTag;
        pass.extension = p.extension;
        pass.headerSignature = headerSignature(p.type);
        pass.exactEnds = st.exactEnds != 0;
        if (p.carver != CarverKind::CompoundDoc && static_cast<std::size_t>(p.type) < catalog_.footerSignatures.size()) {
            pass.footerSignature = catalog_.footerSignatures[static_cast<std::size_t>(p.type)];
        }
        pass.evidencePath = evidencePath;

        const Carver& carver = p.carver == CarverKind::HeaderFooter ? carvers_.headerFooter
                               : p.carver == CarverKind::SizeDriven ? carvers_.sizeDriven
                                                                    : carvers_.compoundDoc;
        if (carver && !carver(*this, pass)) {
            return false;
        }
        // Evidence that changed under a pass that carved nothing from it still ends the run.
        if (reader_ && !output_.evidenceIntact(*reader_)) {
            return false;
        }
    }
    st.mp4Pass = 0;
    return true;
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
                host_.showAppMessage("Evidence file is damaged: " + evidencePath + ": " + reader_->damageText() +
                                         "; no file holding them was carved",
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
            host_.showAppMessage("Evidence MD5 matches the hash stored at acquisition: " + evidencePath, style::Ok);
        } else {
            host_.showAppMessage("Evidence MD5 does not match the hash stored at acquisition: " + evidencePath +
                                     ": stored " + source.storedMd5 + ", read " + source.digests.md5,
                                 style::OkStop);
            sound = false;
        }
    }
    if (dfxml_.active() && !dfxml_.finish(source, passed)) {
        host_.showAppMessage("DFXML report write failed: " + dfxml_.path() + ": " + dfxml_.failure(), style::OkStop);
        return false;
    }
    return true;
}

void CarveEngine::finishPartialRun(const std::string& carvingRoot) {
    CarveState& st = state_;
    host_.resetForm(st);
    host_.leaveRunMode();
    closeEvidence();
    st.headerIndex.clear();
    st.pdfHeaderIndex.clear();
    headerIndex_.clear();
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
    std::string text = complete ? "Carving Completed Successfully.\n" : "Carving Completed Partially.\n";
    // A report-only run writes no file: it says how many it found.
    text += (state_.reportOnly != 0 ? "Total No:Of files found (report only, none written): "
                                     : "Total No:Of files carved: ") +
            std::to_string(state_.filesCarvedTotal) + "\nDo you want to view the resutlted files?.";
    if (host_.showMessage(text, "Completed..", style::YesNoInfo) == answerYes) {
        host_.exploreFolder(carvingRoot);
    }
}

} // namespace morrow
