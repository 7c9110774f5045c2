#pragma once

// Shared by the fuzz targets: the fuzz input becomes an evidence file, because every reader
// takes its bytes through CarveState::evidence, which reads a real file.

#include "CarveHost.h"
#include "CarveState.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace morrow::fuzz {

// One temporary folder per process, holding the evidence file that every input overwrites.
class InputFile {
public:
    InputFile();
    ~InputFile();
    // Writes the input as the evidence file and opens it into `state.evidence`.
    void load(CarveState& state, const std::uint8_t* data, std::size_t size);
    const std::string& folder() const { return folder_; }
    const std::string& path() const { return path_; }

private:
    std::string folder_;
    std::string path_;
};

// The process-wide input file (created on first use, removed at exit).
InputFile& inputFile();

// Aborts with a message when a reader broke one of its promises, so libFuzzer keeps the input.
[[noreturn]] void fail(const char* what);
inline void check(bool ok, const char* what) {
    if (!ok) {
        fail(what);
    }
}

// A host that shows nothing, never asks and never polls positive: the run goes through.
class QuietHost : public CarveHost {
public:
    std::int32_t maxFileSizeKB = 1;
    std::string carvingPath;
    std::vector<std::string> evidence;
    std::vector<KindRow> kinds;
    std::string lastSummary;
    std::vector<std::string> messages; // every text shown, the summary included

    int showMessage(const std::string& text, const std::string& title, int) override;
    int showAppMessage(const std::string& text, int) override {
        messages.push_back(text);
        return answerOk;
    }
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
    void readForm(CarveState& state) override;
    std::vector<std::string> evidenceRows() override { return evidence; }
    std::vector<KindRow> kindRows() override { return kinds; }
    void resetForm(CarveState& state) override;
    void focusControl(int) override {}
    void exploreFolder(const std::string&) override {}
};

} // namespace morrow::fuzz
