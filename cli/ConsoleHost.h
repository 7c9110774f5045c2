#pragma once

#include "QuietHost.h"
#include "base/Limits.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// The settings morrow-cli takes from its command line.
struct ConsoleOptions {
    std::vector<std::string> evidence;
    std::vector<std::string> kindRows; // the kind list rows to tick
    std::string carvingPath;
    std::int32_t maxFileSizeKB = limits::defaultMaxFileSizeKB;
    bool neverAsk = false;
    bool quiet = false;
    bool exactEnds = false;
    bool reassembleFragments = false; // with exactEnds
    bool writeDfxml = false;
    bool reportOnly = false;
    bool unallocatedOnly = false;
    bool verifyFiles = false;
};

// The terminal's CarveHost. Messages go to standard error as "TITLE: TEXT", the summary to
// standard output. Questions are asked on the terminal; without one (or with --yes, or once the
// terminal hung up) the Stop and Quit questions are answered Yes and the summary's question No.
// SIGINT (Ctrl-C) raises Stop, SIGTERM and SIGHUP Quit; on Windows Ctrl-C raises Stop, Ctrl-Break
// and a closed console Quit (Console.h).
class ConsoleHost : public QuietHost {
  public:
    ConsoleHost(ConsoleOptions options, std::string appName);
    ~ConsoleHost() override;

    // Routes SIGINT to the Stop request and SIGTERM and SIGHUP to the Quit request (after SIGHUP
    // nobody can answer: Yes); ignores SIGXFSZ and SIGPIPE so that failed writes are seen as such.
    // On Windows the console's control events, likewise.
    static void installSignalHandlers();

    int showMessage(const std::string& text, const std::string& title, int style) override;
    int showAppMessage(const std::string& text, int style) override;
    void setStatusText(const std::string& text) override;
    void setPercentText(const std::string& text) override;
    void setOverallText(const std::string& text) override;
    bool takeStopRequest() override;
    bool takeQuitRequest() override;
    void resetForm(CarveState& state) override;
    void exploreFolder(const std::string& path) override;

  private:
    bool ask(const std::string& question);
    void drawProgress(bool force);
    void clearProgressLine();

    ConsoleOptions options_;
    std::string appName_;
    bool interactive_ = false;
    bool showProgressLine_ = false;
    bool progressDrawn_ = false;
    std::string status_;
    std::string percent_;
    std::string overall_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace morrow
