#include "Console.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/ioctl.h>
#include <unistd.h>

namespace morrow::console {

volatile std::sig_atomic_t stopSignalled = 0;
volatile std::sig_atomic_t quitSignalled = 0;
volatile std::sig_atomic_t hungUp = 0;
volatile std::sig_atomic_t* volatile pendingFlag = nullptr;

namespace {

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

} // namespace

void installHandlers() {
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

void runOver() {}

bool isTerminal(int stream) {
    return ::isatty(stream) == 1;
}

void print(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
}

void drawLine(const std::string& text) {
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
}

void clearLine() {
    std::fputs("\r\033[K", stderr);
}

std::size_t columns() {
    struct winsize size {};
    return ::ioctl(2, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

std::vector<std::string> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void keepStandardStreamsOpen() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                ::close(opened); // a lower one was closed too and took it; the loop reaches it
            }
        }
    }
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec);
    if (ec) {
        return path;
    }
    std::string result = absolute.lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') {
        result.pop_back();
    }
    return result;
}

} // namespace morrow::console
