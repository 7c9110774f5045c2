#pragma once

#include "CarveHost.h"
#include "CarveState.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// A host with no screen: the form is a set of fields, nothing is shown, no question is asked
// (the answer is No) and no Stop or Quit is ever requested. Front ends without a window start
// from here and override what they do show; benchmarks and fuzz targets use it as it is.
class QuietHost : public CarveHost {
  public:
    // The form.
    std::vector<std::string> evidence;
    std::vector<KindRow> kinds;
    std::int32_t maxFileSizeKB = limits::defaultMaxFileSizeKB;
    std::string carvingPath;
    bool exactEnds = false;
    bool reassembleFragments = false; // implies exactEnds
    bool writeDfxml = false;
    bool reportOnly = false;
    bool unallocatedOnly = false;
    bool verifyFiles = false;

    int showMessage(const std::string&, const std::string&, int messageStyle) override {
        return (messageStyle & 0x0F) == 0x04 ? answerNo : answerOk;
    }
    int showAppMessage(const std::string&, int) override { return answerOk; }
    void setStatusText(const std::string&) override {}
    void setPercentText(const std::string&) override {}
    void setProgressRange(std::int64_t) override {}
    void setProgressPos(std::int64_t) override {}
    void showProgress(bool) override {}
    void startAnimation() override {}
    void pauseAnimation() override {}
    void resumeAnimation() override {}
    void closeAnimation() override {}
    void drainMessages() override {}
    bool takeStopRequest() override { return false; }
    bool takeQuitRequest() override { return false; }
    void enterRunMode() override {}
    void leaveRunMode() override {}
    void endApplication() override {}
    void readForm(CarveState& state) override {
        state.maxFileSizeKB = maxFileSizeKB;
        state.carvingPath = carvingPath;
        state.exactEnds = exactEnds || reassembleFragments ? 1 : 0;
        state.reassembleFragments = reassembleFragments ? 1 : 0;
        state.writeDfxml = writeDfxml ? 1 : 0;
        state.reportOnly = reportOnly ? 1 : 0;
        state.unallocatedOnly = unallocatedOnly ? 1 : 0;
        state.verifyFiles = verifyFiles ? 1 : 0;
    }
    std::vector<std::string> evidenceRows() override { return evidence; }
    std::vector<KindRow> kindRows() override { return kinds; }
    void resetForm(CarveState& state) override {
        state.carvingPath.clear();
        state.pendingEvidencePath.clear();
        state.maxFileSizeKB = limits::defaultMaxFileSizeKB;
        state.allPictureFiles = 0;
    }
    void focusControl(int) override {}
    void exploreFolder(const std::string&) override {}
};

} // namespace morrow
