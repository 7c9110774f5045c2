#pragma once

#include "CheckList.h"
#include "RunControl.h"
#include "RunModeTable.h"

#include <functional>
#include <string>
#include <vector>

namespace morrow {

struct CarveState;
class SettingsStore;

// The form's boxes as a front end shows them: the size box's text as typed, the two paths and the
// seven tick boxes.
struct FormValues {
    std::string maxFileSize;
    std::string carvingPath;
    std::string evidencePath;
    bool allPictureFiles = false;
    bool exactEnds = false;
    bool writeDfxml = false;
    bool reportOnly = false;
    bool unallocatedOnly = false;
    bool reassembleFragments = false; // implies exactEnds in the run
    bool verifyFiles = false;
};

// The main dialog without its toolkit: the evidence and kind lists, the form's values and their
// checks, run mode, Start/Stop/Quit and the remembered settings. The form's values live in the
// engine's CarveState, where the run reads them; a view shows them and reports the user's changes.
class DialogModel {
  public:
    explicit DialogModel(CarveState& state);

    static const char* const caption;
    static const char* const idleStatus;
    static const char* const folderTitle;
    static const char* const integerWanted;
    static const char* const alreadyListed;

    CarveState& state() { return state_; }
    CheckList& evidence() { return evidence_; }
    CheckList& kinds() { return kinds_; }
    RunControl& run() { return run_; }

    // The fields as the form shows them, and back: false, and every field as it was, when the
    // size box holds no integer (the view then shows integerWanted at the box).
    FormValues form() const;
    bool readForm(const FormValues& shown);
    // After a run: the settings cleared, the size back to its default, every row unticked; the
    // evidence stays listed.
    void resetForm();

    // Lists `path` as Add does: in order, unless it is empty, listed already (exactly, letter
    // case counts) or cannot be opened as evidence (then `failure` says why, as the run would).
    enum class Listing { Added, AlreadyListed, CannotOpen, Nothing };
    struct Listed {
        Listing outcome = Listing::Nothing;
        int row = -1;        // where it went
        std::string failure; // "Evidence file open failed: PATH: reason"
    };
    // How Add tells evidence that cannot be opened: the reason, or "" when it opens. A view sets
    // the engine's own opener; none is set by default.
    using EvidenceCheck = std::function<std::string(const std::string& path)>;
    void setEvidenceCheck(EvidenceCheck check) { evidenceCheck_ = std::move(check); }
    // The check a run makes: the evidence opened as the engine opens it.
    static std::string evidenceOpenFailure(const std::string& path);
    // Before a run: the listed evidence checked again, as Add checked it (a file may have gone
    // since). The first failure as the run would say it, or "".
    std::string listedEvidenceFailure() const;
    Listed listEvidence(const std::string& path);
    // Add: lists the chosen evidence file and empties the evidence box.
    Listed addPendingEvidence();
    // The evidence box's text, as chosen or shown.
    void setPendingEvidence(const std::string& path);
    // An evidence file chosen in the file chooser; its folder is where the chooser opens next.
    void chooseEvidence(const std::string& path);
    void chooseCarvingPath(const std::string& path);
    const std::string& evidenceFolder() const { return evidenceFolder_; }

    bool addEnabled() const;
    bool removeEnabled() const;

    // "All Picture Files" ticked or cleared: only the picture kinds stay ticked, or none.
    void setAllPictureFiles(bool ticked);
    // The kinds' DeSelect All: no kind, and "All Picture Files" cleared.
    void deselectAllKinds();

    // Run mode on or off: what to turn on and off. Entering it remembers the run's settings.
    std::vector<EnableChange> setRunMode(bool on);
    bool runMode() const { return runMode_; }

    // What the DFXML report's creator says of the run about to start: the program's version and,
    // as the dialog has no command line, its settings in words.
    void describeRun(const FormValues& shown, const std::string& version);

    // Remembers in `store` the carving path and the evidence chooser's folder when they are
    // chosen, and the ticked kinds, the maximum size and the carving path when a run starts;
    // offers what it held before now. A folder that no longer exists and a size out of range are
    // not offered. Without a store nothing is remembered. The model does not own the store.
    void rememberIn(SettingsStore* store);

  private:
    void remember(const char* key, const std::string& value);
    void rememberForm();

    CarveState& state_;
    CheckList evidence_;
    CheckList kinds_;
    RunControl run_;
    SettingsStore* store_ = nullptr;
    std::string evidenceFolder_;
    EvidenceCheck evidenceCheck_;
    bool runMode_ = false;
};

} // namespace morrow
