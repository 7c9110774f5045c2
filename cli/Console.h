#pragma once

// What morrow-cli needs of the system's console, POSIX (ConsolePosix.cpp) and Windows
// (ConsoleWin32.cpp) side by side: the interrupt requests, whether a stream is a terminal, UTF-8
// text out, the progress line drawn in place, the command line as UTF-8 and the carving path made
// absolute.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace morrow::console {

// Raised by the signal handler (POSIX) or the console control handler (Windows); ConsoleHost
// takes them at its poll points. Stop: SIGINT, Ctrl-C. Quit: SIGTERM, SIGHUP, Ctrl-Break, the
// console window closed, logoff or shutdown. After a hang-up or a closed console nobody is left
// to answer a question (hungUp).
extern volatile std::sig_atomic_t stopSignalled;
extern volatile std::sig_atomic_t quitSignalled;
extern volatile std::sig_atomic_t hungUp;
// The running host's requestPending, so that a request reaches the next poll point at once.
extern volatile std::sig_atomic_t* volatile pendingFlag;

// Routes the requests above; on POSIX also ignores SIGXFSZ and SIGPIPE so that failed writes are
// seen as such, on Windows also makes the console take UTF-8.
void installHandlers();
// Called when the run is over: on Windows a closed console's handler waits for it (the system
// ends the process as soon as the handler returns), so the run can close its report first.
void runOver();

// Standard input (0) or standard error (2) is a terminal or console.
bool isTerminal(int stream);

// Writes UTF-8 text to `stream`: to a Windows console as UTF-16, so every character shows as it is.
void print(std::FILE* stream, const std::string& text);

// The progress line on standard error: redrawn in place, and cleared before other text.
void drawLine(const std::string& text);
void clearLine();
// The width of the terminal or console on standard error in characters; 0 when it is not known.
std::size_t columns();

// The command line as UTF-8 (on Windows from the system's UTF-16 command line; argv holds the
// ANSI code page's version of it there).
std::vector<std::string> arguments(int argc, char** argv);

// Descriptors 0, 1 and 2 that the caller left closed are opened on the null device, so that
// nothing Morrow opens later (a report, a carved file) takes their number and receives what is
// printed. Nothing to do on Windows, whose handles are not numbered that way.
void keepStandardStreamsOpen();

// `path` made absolute and cleaned of "." and ".." and of separators at its end (the root keeps
// its own), as the dialog's folder chooser gives a carving path: the report records full paths.
std::string absolutePath(const std::string& path);

} // namespace morrow::console
