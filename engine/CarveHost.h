#pragma once

#include "carve/PassContext.h"
#include "output/CarvedFile.h"
#include "output/FileVerdict.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

struct CarveState;

// Message box styles the engine passes to showMessage and showAppMessage.
namespace style {
inline constexpr int Ok = 0x00;            // OK (showAppMessage adds the exclamation icon)
inline constexpr int OkStop = 0x10;        // OK, stop icon: hard errors
inline constexpr int YesNoStop = 0x14;     // Yes/No, stop icon: the Stop and Quit questions
inline constexpr int OkExclamation = 0x30; // OK, exclamation icon: settings warnings
inline constexpr int YesNoInfo = 0x44;     // Yes/No, information icon: the summary
} // namespace style

inline constexpr int answerYes = 6;
inline constexpr int answerNo = 7;
inline constexpr int answerOk = 1;

// Control ids the engine names when it moves the focus.
namespace control {
inline constexpr int MaxFileSize = 1009;
inline constexpr int CarvingPath = 1003;
} // namespace control

// One row of the kind list as the run reads it.
struct KindRow {
    std::string text;
    bool checked = false;
};

// Everything the engine needs from a front end. The engine never touches a window or the
// console itself; the desktop dialog and the console each implement this. All texts are UTF-8.
// The progress display (status and percentage texts, progress bar, animation) is the part the
// passes see, PassDisplay.
class CarveHost : public PassDisplay {
  public:
    // Modal; returns the button pressed (answerYes for Yes).
    virtual int showMessage(const std::string& text, const std::string& title, int style) = 0;
    // As showMessage, titled with the application's name.
    virtual int showAppMessage(const std::string& text, int style) = 0;

    // Handles whatever input is waiting, then returns. May run the Stop and Quit handlers.
    virtual void drainMessages() = 0;
    // Drain, then read and clear the request. Called once per sector and once per candidate,
    // so an implementation must be cheap when nothing is pending.
    virtual bool takeStopRequest() = 0;
    virtual bool takeQuitRequest() = 0;

    virtual void enterRunMode() = 0;
    virtual void leaveRunMode() = 0;
    // Marks the application for closing once the running operation returns.
    virtual void endApplication() = 0;

    // Copies the form's settings (maxFileSizeKB, carvingPath, allPictureFiles,
    // pendingEvidencePath, and the opt-in modes exactEnds, writeDfxml, reportOnly and verifyFiles) into
    // `state`; a field that cannot be read keeps its value.
    virtual void readForm(CarveState& state) = 0;
    // The texts of every evidence list row, in display order.
    virtual std::vector<std::string> evidenceRows() = 0;
    // Every row of the kind list, in display order, with its check state.
    virtual std::vector<KindRow> kindRows() = 0;
    // The form's reset after a run: clears the settings in `state` and on screen, unticks rows.
    virtual void resetForm(CarveState& state) = 0;
    virtual void focusControl(int controlId) = 0;
    // The run as a whole, beside the pass's status and bar: "1.2 GiB of 4.0 GiB, 312 files, about
    // 2 min left" (RunProgress), ten times a second at most, and once more when the run is over
    // (until the next run). A host that has nowhere to show it leaves it.
    virtual void setOverallText(const std::string& text) { (void)text; }
    // Each file the run has written (or recorded, in a report-only run), once it is in the report.
    // A host that shows the run's files (the dialog's gallery) keeps what it needs.
    virtual void fileCarved(const CarvedFile& file) { (void)file; }
    // The check of a carved file (when the run checks them): on the run's thread, after
    // fileCarved for the same file, perhaps some files later.
    virtual void fileVerified(const CarvedFile& file, const FileVerdict& verdict) {
        (void)file;
        (void)verdict;
    }
    virtual void exploreFolder(const std::string& path) = 0;

    // The inline front of every poll point, which runs once per sector: millions of times in a
    // run. A host that knows when nothing can be pending sets pollInterval above 1; poll points
    // then call takeStopRequest and takeQuitRequest only every pollInterval-th time, or at once
    // while requestPending is set (a signal handler may set it at any moment). With the default
    // interval of 1 every poll point calls the host.
    bool pollDue() {
        if (requestPending != 0 || pollInterval <= 1) {
            return true;
        }
        if (++pollsSkipped < pollInterval) {
            return false;
        }
        pollsSkipped = 0;
        return true;
    }

    volatile std::sig_atomic_t requestPending = 0;
    int pollInterval = 1;
    int pollsSkipped = 0;
};

} // namespace morrow
