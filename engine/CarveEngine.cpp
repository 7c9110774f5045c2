#include "CarveEngine.h"

#include "CompoundDocCarver.h"
#include "HeaderFooterCarver.h"
#include "HexText.h"
#include "SizeDrivenCarver.h"

namespace morrow {

const char* const CarveEngine::warningTitle = "Morrow, Warning...";
const char* const CarveEngine::stopQuestion = "Do you want to Cancel the Carving Process?";
const char* const CarveEngine::quitQuestion = "Carving Process is in progress!.\n Do you want to Quit the process?";

namespace {

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
    bool needsPreviousPass;   // runs only when the row's previous pass returned true
};

const PassSpec dispatchTable[] = {
    {&CarveState::bmpSelected, kind::Bmp, CarverKind::SizeDriven, "BMPFile", ".bmp", nullptr, true, false},
    {&CarveState::gifSelected, kind::Gif, CarverKind::HeaderFooter, "GIFFile", ".gif", nullptr, true, false},
    {&CarveState::jpegSelected, kind::Jpeg, CarverKind::HeaderFooter, "JPEGFile", ".jpg", nullptr, true, false},
    {&CarveState::tiffSelected, kind::Tiff, CarverKind::HeaderFooter, "TIFFile", ".tif", nullptr, true, false},
    {&CarveState::pngSelected, kind::Png, CarverKind::HeaderFooter, "PNGFile", ".png", nullptr, true, false},
    {&CarveState::psdSelected, kind::Psd, CarverKind::SizeDriven, "PSDFile", ".psd", nullptr, true, false},
    {&CarveState::compoundDocSelected, kind::CompoundDoc, CarverKind::CompoundDoc, "CDocFile", "", nullptr, true,
     false},
    {&CarveState::pdfSelected, kind::Pdf, CarverKind::SizeDriven, "PDFFile", ".pdf", nullptr, true, false},
    {&CarveState::pdfSelected, kind::Pdf, CarverKind::HeaderFooter, "PDFFile", ".pdf", nullptr, false, true},
    {&CarveState::htmlSelected, kind::Html, CarverKind::HeaderFooter, "HTMLFile", ".html", nullptr, true, false},
    {&CarveState::zipSelected, kind::Zip, CarverKind::SizeDriven, "ZIPFile", ".zip", nullptr, true, false},
    {&CarveState::videoSelected, kind::VideoRiff, CarverKind::SizeDriven, "VideoFiles", "", "(AVI,DAT)", true,
     false},
    {&CarveState::videoSelected, kind::VideoQuickTime, CarverKind::SizeDriven, "VideoFiles", "", "(MP4,3GP,MOV)",
     false, false},
    {&CarveState::videoSelected, kind::VideoAsf, CarverKind::SizeDriven, "VideoFiles", ".wmv", "(WMV)", false,
     false},
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
    : host_(host), output_(state_, host), catalog_(FileTypeCatalog::standard()), carvers_(standardCarvers()) {}

CarveEngine::Carvers CarveEngine::standardCarvers() {
    return Carvers{
        [](CarveEngine& e, const CarvePass& p) { return HeaderFooterCarver::carve(e, p); },
        [](CarveEngine& e, const CarvePass& p) { return SizeDrivenCarver::carve(e, p); },
        [](CarveEngine& e, const CarvePass& p) { return CompoundDocCarver::carve(e, p); },
    };
}

bool CarveEngine::openEvidence(const std::string& path) {
    if (!state_.evidence.open(path)) {
        host_.showAppMessage("Evidence file open failed", style::OkStop);
        return false;
    }
    state_.evidenceSize = state_.evidence.size();
    state_.evidenceSectors = state_.evidenceSize / 512;
    return true;
}

bool CarveEngine::pollCandidate() {
    if (!host_.pollDue()) {
        return true;
    }
    if (host_.takeStopRequest() && host_.showMessage(stopQuestion, warningTitle, style::YesNoStop) == answerYes) {
        state_.carvingInProgress = 0;
        return false;
    }
    if (host_.takeQuitRequest() && host_.showMessage(quitQuestion, warningTitle, style::YesNoStop) == answerYes) {
        state_.quitConfirmed = 1;
        return false;
    }
    return true;
}

void CarveEngine::startRun() {
    CarveState& st = state_;
    auto warn = [&](const char* text) { host_.showMessage(text, warningTitle, style::OkExclamation); };

    // Checking the settings: nothing on disk changes until all of these have passed.
    host_.readForm(st);
    st.evidenceFiles = host_.evidenceRows();
    if (st.evidenceFiles.empty()) {
        warn("No Evidence File(s) is added.");
        return;
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
        warn("Select One of the File Type to Carve");
        return;
    }
    if (st.maxFileSizeKB < 1) {
        warn("File Size can't be null.");
        host_.focusControl(control::MaxFileSize);
        return;
    }
    if (st.maxFileSizeKB > 10240) {
        warn("Carving of File Size >10240KB(10MB) is not supported.");
        host_.focusControl(control::MaxFileSize);
        return;
    }
    if (st.carvingPath.empty()) {
        warn("Specify Folder Path for Carving Files");
        host_.focusControl(control::CarvingPath);
        return;
    }

    // Setting up the run.
    const std::string carvingRoot = st.carvingPath;
    st.maxFileSizeBytes = static_cast<std::uint64_t>(st.maxFileSizeKB) * 1024;
    st.filesCarvedTotal = 0;
    st.reportHeaderLine = Output::reportHeader();
    if (!output_.ensureCarvingPath(st.carvingPath)) {
        return;
    }
    st.scanAborted = 0;
    st.quitConfirmed = 0;

    const std::vector<std::string> evidenceFiles = st.evidenceFiles;
    for (const std::string& evidencePath : evidenceFiles) {
        st.carvingInProgress = 1;
        if (!output_.createOutputFolder(evidencePath)) {
            host_.showAppMessage("Folder creation failed: " + st.outputFolder, style::Ok);
            host_.focusControl(control::CarvingPath);
            host_.resetForm(st);
            host_.leaveRunMode();
            st.carvingInProgress = 0;
            return;
        }
        if (output_.openReport(evidencePath) != Output::ReportStatus::Created) {
            host_.showAppMessage("A report file creation error.", style::Ok);
            host_.resetForm(st);
            host_.leaveRunMode();
            st.carvingInProgress = 0;
            return;
        }
        st.mp4Pass = 0;
        host_.enterRunMode();
        st.outputDrive = st.outputFolder;
        if (!runPasses(evidencePath)) {
            finishPartialRun(carvingRoot);
            return;
        }
        output_.closeReport();
    }

    headerIndex_.clear();
    st.evidenceFiles.clear();
    st.carvingInProgress = 0;
    host_.setStatusText("");
    showSummary(true, carvingRoot);
    host_.resetForm(st);
    host_.leaveRunMode();
}

bool CarveEngine::runPasses(const std::string& evidencePath) {
    CarveState& st = state_;

    // Every header signature this evidence file's passes will scan, so that the first scan
    // gathers them all in one read.
    std::vector<HeaderKey> keys;
    for (const PassSpec& p : dispatchTable) {
        if (st.*(p.selected) == 0 || p.needsPreviousPass) {
            continue; // the PDF footer pass takes its candidates from the size-driven pass
        }
        const std::string& list = catalog_.headerSignatures[static_cast<std::size_t>(p.type)];
        for (int n = 1;; ++n) {
            std::string field = HexText::listField(list, n, ',');
            if (field.empty()) {
                break;
            }
            HexText::toSignatureBytes(st, field);
            keys.push_back(HeaderKey{st.signatureBytes, p.type == kind::VideoQuickTime});
        }
    }
    headerIndex_.prepare(evidencePath, std::move(keys));

    bool previousResult = true;
    for (const PassSpec& p : dispatchTable) {
        if (st.*(p.selected) == 0) {
            continue;
        }
        if (p.needsPreviousPass && !previousResult) {
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
        pass.kindTag = p.kindTag;
        pass.extension = p.extension;
        pass.headerSignature = catalog_.headerSignatures[static_cast<std::size_t>(p.type)];
        if (p.carver != CarverKind::CompoundDoc && static_cast<std::size_t>(p.type) < catalog_.footerSignatures.size()) {
            pass.footerSignature = catalog_.footerSignatures[static_cast<std::size_t>(p.type)];
        }
        pass.evidencePath = evidencePath;

        const Carver& carver = p.carver == CarverKind::HeaderFooter ? carvers_.headerFooter
                               : p.carver == CarverKind::SizeDriven ? carvers_.sizeDriven
                                                                    : carvers_.compoundDoc;
        previousResult = carver ? carver(*this, pass) : true;
        if (!previousResult) {
            return false;
        }
        st.evidence.close();
    }
    st.mp4Pass = 0;
    return true;
}

void CarveEngine::finishPartialRun(const std::string& carvingRoot) {
    CarveState& st = state_;
    host_.resetForm(st);
    host_.leaveRunMode();
    st.evidence.close();
    st.headerIndex.clear();
    st.pdfHeaderIndex.clear();
    st.compoundDocs.clear();
    headerIndex_.clear();
    output_.closeReport();
    st.carvingInProgress = 0;
    st.mp4Pass = 0;
    if (st.quitConfirmed == 1) {
        host_.endApplication();
    }
    showSummary(false, carvingRoot);
}

void CarveEngine::showSummary(bool complete, const std::string& carvingRoot) {
    std::string text = complete ? "Carving Completed Successfully.\n" : "Carving Completed Partially.\n";
    text += "Total No:Of files carved: " + std::to_string(state_.filesCarvedTotal) +
            "\nDo you want to view the resutlted files?.";
    if (host_.showMessage(text, "Completed..", style::YesNoInfo) == answerYes) {
        host_.exploreFolder(carvingRoot);
    }
}

} // namespace morrow
