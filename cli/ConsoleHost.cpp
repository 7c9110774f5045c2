#include "ConsoleHost.h"

#include "CarveState.h"
#include "Catalog.h"
#include "Console.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace morrow {

namespace {

using console::hungUp;
using console::quitSignalled;
using console::stopSignalled;

bool isQuestion(int messageStyle) {
    return (messageStyle & 0x0F) == 0x04;
}

// Characters of UTF-8 text, and the text cut to its first `count` characters.
std::size_t characters(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}
std::string firstCharacters(const std::string& text, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count) {
            break;
        }
    }
    return text.substr(0, i);
}

} // namespace

ConsoleHost::ConsoleHost(ConsoleOptions options, std::string appName)
    : options_(std::move(options)), appName_(std::move(appName)) {
    // The form is the command line: every kind row, ticked when named.
    evidence = options_.evidence;
    carvingPath = options_.carvingPath;
    maxFileSizeKB = options_.maxFileSizeKB;
    exactEnds = options_.exactEnds;
    reassembleFragments = options_.reassembleFragments;
    writeDfxml = options_.writeDfxml;
    reportOnly = options_.reportOnly;
    unallocatedOnly = options_.unallocatedOnly;
    verifyFiles = options_.verifyFiles;
    for (const std::string& name : kindRowNames()) {
        bool ticked =
            std::find(options_.kindRows.begin(), options_.kindRows.end(), name) != options_.kindRows.end();
        kinds.push_back(KindRow{name, ticked});
    }
    interactive_ = !options_.neverAsk && console::isTerminal(0);
    showProgressLine_ = !options_.quiet && console::isTerminal(2);
    // Requests only come from signals, which raise requestPending; there is nothing to drain.
    // The interval is a safety net only.
    pollInterval = 1 << 16;
    console::pendingFlag = &requestPending;
    if (stopSignalled != 0 || quitSignalled != 0) {
        requestPending = 1; // came before the host was there to be told
    }
}

ConsoleHost::~ConsoleHost() {
    console::pendingFlag = nullptr;
    clearProgressLine();
    console::runOver();
}

void ConsoleHost::installSignalHandlers() {
    console::installHandlers();
}

void ConsoleHost::clearProgressLine() {
    if (progressDrawn_) {
        console::clearLine();
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
    if (!overall_.empty()) {
        // The run's figures stay whole at the end of the line; a pass's text too long for the
        // terminal gives way (a line that wraps could not be redrawn in place).
        const std::string tail = (line.empty() ? "" : " | ") + overall_;
        const std::size_t width = console::columns();
        if (width == 0 || characters(line) + characters(tail) < width) {
            line += tail;
        } else if (characters(tail) + 10 < width) {
            line = firstCharacters(line, width - 1 - characters(tail)) + tail;
        }
    }
    console::drawLine(line);
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

void ConsoleHost::setOverallText(const std::string& text) {
    overall_ = text;
    drawProgress(false);
}

bool ConsoleHost::ask(const std::string& question) {
    console::print(stderr, question + " [y/N] ");
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
        console::print(stdout, text + "\n");
        std::fflush(stdout);
    } else {
        console::print(stderr, title + ": " + text + "\n");
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
    console::print(stdout, "Carving path: " + path + "\n");
    std::fflush(stdout);
}

} // namespace morrow
