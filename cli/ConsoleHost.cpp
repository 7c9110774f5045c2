#include "ConsoleHost.h"

#include "CarveState.h"
#include "Catalog.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace morrow {

namespace {

volatile std::sig_atomic_t stopSignalled = 0;
volatile std::sig_atomic_t quitSignalled = 0;
// The terminal is gone: nobody is left to answer a question.
volatile std::sig_atomic_t hungUp = 0;
// The running host's requestPending, so that a signal reaches the next poll point at once.
volatile std::sig_atomic_t* pendingFlag = nullptr;

extern "C" void onSignal(int signal) {
    if (signal == SIGINT) {
        stopSignalled = 1;
    } else {
        quitSignalled = 1;
        if (signal == SIGHUP) {
            hungUp = 1;
        }
    }
    if (pendingFlag != nullptr) {
        *pendingFlag = 1;
    }
}

bool isQuestion(int messageStyle) { return (messageStyle & 0x0F) == 0x04; }

} // namespace

ConsoleHost::ConsoleHost(ConsoleOptions options, std::string appName)
    : options_(std::move(options)), appName_(std::move(appName)) {
    // The form is the command line: every kind row, ticked when named.
    evidence = options_.evidence;
    carvingPath = options_.carvingPath;
    maxFileSizeKB = options_.maxFileSizeKB;
    exactEnds = options_.exactEnds;
    writeDfxml = options_.writeDfxml;
    reportOnly = options_.reportOnly;
    for (const std::string& name : kindRowNames()) {
        bool ticked = std::find(options_.kindRows.begin(), options_.kindRows.end(), name) != options_.kindRows.end();
        kinds.push_back(KindRow{name, ticked});
    }
    interactive_ = !options_.neverAsk && ::isatty(STDIN_FILENO) == 1;
    showProgressLine_ = !options_.quiet && ::isatty(STDERR_FILENO) == 1;
    // Requests only come from signals, which raise requestPending; there is nothing to drain.
    // The interval is a safety net only.
    pollInterval = 1 << 16;
    pendingFlag = &requestPending;
}

ConsoleHost::~ConsoleHost() {
    pendingFlag = nullptr;
    clearProgressLine();
}

void ConsoleHost::installSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // A file size limit makes the write fail (EFBIG), which ends the run through the write
    // failure path with a message, instead of killing it with a carved file cut short. A closed
    // output pipe makes printing fail quietly; the run goes on and its exit status stands.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

void ConsoleHost::clearProgressLine() {
    if (progressDrawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        progressDrawn_ = false;
    }
}

void ConsoleHost::drawProgress(bool force) {
    if (!showProgressLine_) {
        return;
    }
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(250)) {
        return;
    }
    lastDraw_ = now;
    std::string line = status_;
    if (!percent_.empty()) {
        line += "  " + percent_;
    }
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    progressDrawn_ = true;
}

void ConsoleHost::setStatusText(const std::string& text) {
    status_ = text;
    if (!text.empty()) {
        drawProgress(false);
    }
}

void ConsoleHost::setPercentText(const std::string& text) {
    percent_ = text;
    drawProgress(false);
}

bool ConsoleHost::ask(const std::string& question) {
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::cin.clear();
        std::fputc('\n', stderr);
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int ConsoleHost::showMessage(const std::string& text, const std::string& title, int messageStyle) {
    clearProgressLine();
    const bool summary = title == "Completed..";
    if (summary) {
        std::fprintf(stdout, "%s\n", text.c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    }
    if (!isQuestion(messageStyle)) {
        return answerOk;
    }
    if (!interactive_ || hungUp != 0) {
        // Nobody to ask: a Stop or Quit that was raised stands; the output folder is not opened.
        return summary ? answerNo : answerYes;
    }
    return ask(summary ? "Open the carving path?" : "Answer") ? answerYes : answerNo;
}

int ConsoleHost::showAppMessage(const std::string& text, int messageStyle) {
    return showMessage(text, appName_, messageStyle);
}

bool ConsoleHost::takeStopRequest() {
    if (stopSignalled == 0) {
        return false;
    }
    stopSignalled = 0;
    return true;
}

bool ConsoleHost::takeQuitRequest() {
    bool taken = quitSignalled != 0;
    quitSignalled = 0;
    // The poll point is over: nothing is pending unless a signal came in meanwhile.
    requestPending = 0;
    if (stopSignalled != 0 || quitSignalled != 0) {
        requestPending = 1;
    }
    return taken;
}

void ConsoleHost::resetForm(CarveState& state) {
    clearProgressLine();
    QuietHost::resetForm(state);
}

void ConsoleHost::exploreFolder(const std::string& path) {
    std::fprintf(stdout, "Carving path: %s\n", path.c_str());
    std::fflush(stdout);
}

} // namespace morrow
