#include "DialogModel.h"

#include "CarveState.h"
#include "Catalog.h"
#include "FormRules.h"
#include "SettingsStore.h"
#include "evidence/EvidenceSource.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace morrow {

const char* const DialogModel::caption = "Morrow  - A Forensic Data Carving tool";
const char* const DialogModel::idleStatus = "Select all required fields and Click Start to proceed.";
const char* const DialogModel::folderTitle = "Choose Path for Carving Files";
const char* const DialogModel::integerWanted = "Please enter an integer.";
const char* const DialogModel::alreadyListed = "Evidence is already selected.";

namespace {

// Keys of the remembered settings.
const char* const carvingPathKey = "carvingPath";
const char* const evidenceFolderKey = "evidenceFolder";
const char* const kindsKey = "kinds";
const char* const allPictureFilesKey = "allPictureFiles";
const char* const maxFileSizeKey = "maxFileSizeKB";
const char* const exactEndsKey = "exactEnds";
const char* const writeDfxmlKey = "writeDfxml";
const char* const reassembleFragmentsKey = "reassembleFragments";
const char* const verifyFilesKey = "verifyFiles";

std::filesystem::path pathOf(const std::string& utf8) {
    return std::u8string(utf8.begin(), utf8.end());
}

// A remembered folder, or empty when it is gone or not a folder any more.
std::string existingFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(pathOf(path), error) ? path : std::string();
}

// The folder holding the file at `path`, with '/' between names.
std::string folderOf(const std::string& path) {
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(pathOf(path), error);
    if (error) {
        full = pathOf(path);
    }
    const std::u8string text = full.lexically_normal().parent_path().generic_u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

DialogModel::DialogModel(CarveState& state) : state_(state), run_(state) {
    for (const std::string& name : kindRowNames()) {
        kinds_.insert(name);
    }
    state_.stopRequested = 0;
    state_.quitRequested = 0;
    state_.carvingInProgress = 0;
    state_.scanAborted = 0;
    state_.maxFileSizeKB = form::defaultMaxFileSizeKB;
}

FormValues DialogModel::form() const {
    FormValues shown;
    shown.maxFileSize = std::to_string(state_.maxFileSizeKB);
    shown.carvingPath = state_.carvingPath;
    shown.evidencePath = state_.pendingEvidencePath;
    shown.allPictureFiles = state_.allPictureFiles != 0;
    shown.exactEnds = state_.exactEnds != 0;
    shown.reassembleFragments = state_.reassembleFragments != 0;
    shown.writeDfxml = state_.writeDfxml != 0;
    shown.reportOnly = state_.reportOnly != 0;
    shown.unallocatedOnly = state_.unallocatedOnly != 0;
    shown.verifyFiles = state_.verifyFiles != 0;
    return shown;
}

bool DialogModel::readForm(const FormValues& shown) {
    const std::optional<std::int32_t> size = parseInteger(shown.maxFileSize);
    if (!size) {
        return false;
    }
    state_.maxFileSizeKB = *size;
    state_.carvingPath = shown.carvingPath;
    state_.allPictureFiles = shown.allPictureFiles ? 1 : 0;
    // Reassembly works on exact file ends: the box implies them, as --fragments implies -x.
    state_.exactEnds = shown.exactEnds || shown.reassembleFragments ? 1 : 0;
    state_.reassembleFragments = shown.reassembleFragments ? 1 : 0;
    state_.writeDfxml = shown.writeDfxml ? 1 : 0;
    state_.reportOnly = shown.reportOnly ? 1 : 0;
    state_.unallocatedOnly = shown.unallocatedOnly ? 1 : 0;
    state_.verifyFiles = shown.verifyFiles ? 1 : 0;
    state_.pendingEvidencePath = shown.evidencePath;
    return true;
}

void DialogModel::resetForm() {
    state_.carvingPath.clear();
    state_.pendingEvidencePath.clear();
    state_.maxFileSizeKB = form::defaultMaxFileSizeKB;
    state_.allPictureFiles = 0;
    state_.exactEnds = 0;
    state_.reassembleFragments = 0;
    state_.writeDfxml = 0;
    state_.reportOnly = 0;
    state_.unallocatedOnly = 0;
    state_.verifyFiles = 0;
    evidence_.setAllTicked(false);
    kinds_.setAllTicked(false);
}

std::string DialogModel::evidenceOpenFailure(const std::string& path) {
    std::string error;
    return openEvidenceSource(path, error) ? std::string() : error.empty() ? "cannot be opened" : error;
}

std::string DialogModel::listedEvidenceFailure() const {
    if (evidenceCheck_) {
        for (const std::string& path : evidence_.texts()) {
            if (const std::string why = evidenceCheck_(path); !why.empty()) {
                return "Evidence file open failed: " + path + ": " + why;
            }
        }
    }
    return {};
}

DialogModel::Listed DialogModel::listEvidence(const std::string& path) {
    if (evidence_.find(path) >= 0) {
        return {Listing::AlreadyListed, -1, {}};
    }
    if (path.empty()) {
        return {};
    }
    if (evidenceCheck_) {
        if (const std::string why = evidenceCheck_(path); !why.empty()) {
            return {Listing::CannotOpen, -1, "Evidence file open failed: " + path + ": " + why};
        }
    }
    return {Listing::Added, evidence_.insert(path), {}};
}

DialogModel::Listed DialogModel::addPendingEvidence() {
    const Listed listed = listEvidence(state_.pendingEvidencePath);
    state_.pendingEvidencePath.clear();
    return listed;
}

void DialogModel::setPendingEvidence(const std::string& path) {
    state_.pendingEvidencePath = path;
}

void DialogModel::chooseEvidence(const std::string& path) {
    state_.pendingEvidencePath = path;
    evidenceFolder_ = folderOf(path);
    remember(evidenceFolderKey, evidenceFolder_);
}

void DialogModel::chooseCarvingPath(const std::string& path) {
    state_.carvingPath = path;
    remember(carvingPathKey, path);
}

bool DialogModel::addEnabled() const {
    return !state_.pendingEvidencePath.empty() && !runMode_;
}

bool DialogModel::removeEnabled() const {
    return evidence_.anyTicked() && !runMode_;
}

void DialogModel::setAllPictureFiles(bool ticked) {
    state_.allPictureFiles = ticked ? 1 : 0;
    kinds_.setAllTicked(false);
    if (!ticked) {
        return;
    }
    const auto& pictures = pictureRowNames();
    for (int i = 0; i < kinds_.size(); ++i) {
        const std::string& text = kinds_.rows()[static_cast<std::size_t>(i)].text;
        if (std::find(pictures.begin(), pictures.end(), text) != pictures.end()) {
            kinds_.setTicked(i, true);
        }
    }
}

void DialogModel::deselectAllKinds() {
    state_.allPictureFiles = 0;
    kinds_.setAllTicked(false);
}

std::vector<EnableChange> DialogModel::setRunMode(bool on) {
    runMode_ = on;
    if (on) {
        rememberForm();
    }
    return runModeChanges(on);
}

void DialogModel::describeRun(const FormValues& shown, const std::string& version) {
    state_.programVersion = version;
    std::string kinds;
    for (const std::string& text : kinds_.tickedTexts()) {
        kinds += (kinds.empty() ? "" : ", ") + text;
    }
    std::string text = "morrow (dialog): kinds: " + kinds + "; maximum size: " + shown.maxFileSize +
                       " KB; carving path: " + shown.carvingPath;
    if (shown.exactEnds || shown.reassembleFragments) {
        text += "; exact file ends";
    }
    if (shown.reassembleFragments) {
        text += "; reassemble fragmented files";
    }
    if (shown.writeDfxml) {
        text += "; DFXML report with hashes";
    }
    if (shown.reportOnly) {
        text += "; report only";
    }
    if (shown.unallocatedOnly) {
        text += "; unallocated space only";
    }
    if (shown.verifyFiles) {
        text += "; check that carved files open";
    }
    state_.invocation = text;
}

void DialogModel::rememberIn(SettingsStore* store) {
    store_ = store;
    evidenceFolder_ = existingFolder(store->text(evidenceFolderKey));
    state_.carvingPath = existingFolder(store->text(carvingPathKey));
    const std::optional<std::int32_t> size = parseInteger(store->text(maxFileSizeKey));
    if (size && *size >= form::minimumFileSizeKB && *size <= form::maximumFileSizeKB) {
        state_.maxFileSizeKB = *size;
    }
    state_.allPictureFiles = form::flagValue(store->text(allPictureFilesKey)) ? 1 : 0;
    state_.exactEnds = form::flagValue(store->text(exactEndsKey)) ? 1 : 0;
    state_.reassembleFragments = form::flagValue(store->text(reassembleFragmentsKey)) ? 1 : 0;
    state_.verifyFiles = form::flagValue(store->text(verifyFilesKey)) ? 1 : 0;
    state_.writeDfxml = form::flagValue(store->text(writeDfxmlKey)) ? 1 : 0;
    const std::vector<std::string> ticked = store->texts(kindsKey);
    for (int i = 0; i < kinds_.size(); ++i) {
        const std::string& text = kinds_.rows()[static_cast<std::size_t>(i)].text;
        kinds_.setTicked(i, std::find(ticked.begin(), ticked.end(), text) != ticked.end());
    }
}

void DialogModel::remember(const char* key, const std::string& value) {
    if (store_ != nullptr) {
        store_->setText(key, value);
        store_->sync();
    }
}

// The settings a run was started with; the form itself is reset when the run ends.
void DialogModel::rememberForm() {
    if (store_ == nullptr) {
        return;
    }
    store_->setTexts(kindsKey, kinds_.tickedTexts());
    store_->setText(allPictureFilesKey, state_.allPictureFiles != 0 ? "true" : "false");
    store_->setText(exactEndsKey, state_.exactEnds != 0 ? "true" : "false");
    store_->setText(reassembleFragmentsKey, state_.reassembleFragments != 0 ? "true" : "false");
    store_->setText(verifyFilesKey, state_.verifyFiles != 0 ? "true" : "false");
    store_->setText(writeDfxmlKey, state_.writeDfxml != 0 ? "true" : "false");
    store_->setText(maxFileSizeKey, std::to_string(state_.maxFileSizeKB));
    store_->setText(carvingPathKey, state_.carvingPath);
    store_->sync();
}

} // namespace morrow
