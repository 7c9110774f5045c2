#include "platform/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(MORROW_WITH_SECCOMP)
#include <seccomp.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define MORROW_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORROW_UNDER_ASAN 1
#endif
#endif

namespace morrow {

namespace {

// The parent's end of one socket pair (both directions; send with MSG_NOSIGNAL, so a worker that
// died makes a write fail rather than raise SIGPIPE in a program that did not ignore it).
class PosixChild final : public ChildProcess {
  public:
    PosixChild(pid_t pid, int socket) : pid_(pid), socket_(socket) {}
    ~PosixChild() override {
        kill();
        reap();
        ::close(socket_);
    }

    Io write(const void* data, std::size_t length, Clock::time_point deadline,
             const GiveUp& giveUp) override {
        const auto* at = static_cast<const char*>(data);
        while (length > 0) {
            const Io ready = wait(POLLOUT, deadline, giveUp);
            if (ready != Io::Done) {
                return ready;
            }
            const ssize_t sent = ::send(socket_, at, length, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                    continue;
                }
                return Io::Closed;
            }
            at += sent;
            length -= static_cast<std::size_t>(sent);
        }
        return Io::Done;
    }

    Io read(void* data, std::size_t length, Clock::time_point deadline, const GiveUp& giveUp) override {
        auto* at = static_cast<char*>(data);
        while (length > 0) {
            const Io ready = wait(POLLIN, deadline, giveUp);
            if (ready != Io::Done) {
                return ready;
            }
            const ssize_t got = ::recv(socket_, at, length, MSG_DONTWAIT);
            if (got == 0) {
                return Io::Closed;
            }
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                    continue;
                }
                return Io::Closed;
            }
            at += got;
            length -= static_cast<std::size_t>(got);
        }
        return Io::Done;
    }

    void kill() override {
        std::lock_guard<std::mutex> hold(lock_);
        if (pid_ > 0 && !killed_) {
            ::kill(pid_, SIGKILL);
            killed_ = true;
        }
        // Whoever waits on the socket wakes now, whatever the worker was doing.
        ::shutdown(socket_, SHUT_RDWR);
    }

    std::string ending() override {
        reap();
        if (WIFSIGNALED(status_)) {
            const int signal = WTERMSIG(status_);
            const char* name = ::strsignal(signal);
            return "it was killed by signal " + std::to_string(signal) +
                   (name != nullptr ? std::string(" (") + name + ")" : std::string());
        }
        if (WIFEXITED(status_)) {
            return "it exited with status " + std::to_string(WEXITSTATUS(status_));
        }
        return "it ended";
    }

  private:
    Io wait(short event, Clock::time_point deadline, const GiveUp& giveUp) {
        while (true) {
            if (giveUp && giveUp()) {
                return Io::Stopped;
            }
            const auto now = Clock::now();
            if (now >= deadline) {
                return Io::TimedOut;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            pollfd one{socket_, event, 0};
            const int ready = ::poll(&one, 1, static_cast<int>(std::min<long long>(left + 1, 100)));
            if (ready > 0) {
                return (one.revents & (event | POLLHUP | POLLERR)) != 0 ? Io::Done : Io::Closed;
            }
            if (ready < 0 && errno != EINTR) {
                return Io::Closed;
            }
        }
    }

    void reap() {
        std::lock_guard<std::mutex> hold(lock_);
        if (pid_ <= 0) {
            return;
        }
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        pid_ = 0;
    }

    std::mutex lock_;
    pid_t pid_;
    bool killed_ = false;
    int status_ = 0;
    int socket_;
};

class PosixParentPipes final : public ParentPipes {
  public:
    PosixParentPipes(int in, int out) : in_(in), out_(out) {}
    bool read(void* data, std::size_t length) override {
        auto* at = static_cast<char*>(data);
        while (length > 0) {
            const ssize_t got = ::read(in_, at, length);
            if (got == 0 || (got < 0 && errno != EINTR)) {
                return false;
            }
            if (got > 0) {
                at += got;
                length -= static_cast<std::size_t>(got);
            }
        }
        return true;
    }
    bool write(const void* data, std::size_t length) override {
        const auto* at = static_cast<const char*>(data);
        while (length > 0) {
            const ssize_t put = ::write(out_, at, length);
            if (put < 0 && errno != EINTR) {
                return false;
            }
            if (put > 0) {
                at += put;
                length -= static_cast<std::size_t>(put);
            }
        }
        return true;
    }

  private:
    int in_;
    int out_;
};

} // namespace

std::string ChildProcess::selfPath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string("/proc/self/exe");
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& arguments,
                                                  const Limits& limits, std::string& error) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    // Everything the child needs is made before the fork: after it, in a program with threads,
    // only calls that take no lock may run.
    std::vector<std::string> strings;
    strings.push_back(selfPath());
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::strerror(errno);
        ::close(pair[0]);
        ::close(pair[1]);
        return nullptr;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGINT, SIG_IGN); // Ctrl-C is the parent's to answer; it ends us when it likes
        if (::dup2(pair[1], 0) < 0 || ::dup2(pair[1], 1) < 0) {
            ::_exit(127);
        }
        // No descriptor of the parent's (evidence, carved files, the report) stays open here.
        if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
            for (int fd = 3; fd < 65536; ++fd) {
                ::close(fd);
            }
        }
        rlimit none0{0, 0};
        ::setrlimit(RLIMIT_CORE, &none0);
#if !defined(MORROW_UNDER_ASAN)
        // The sanitizer's shadow memory is terabytes of address space: only the plain builds cap it.
        if (limits.memoryBytes > 0) {
            rlimit memory{limits.memoryBytes, limits.memoryBytes};
            ::setrlimit(RLIMIT_AS, &memory);
        }
#else
        (void)limits;
#endif
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    ::close(pair[1]);
    return std::make_unique<PosixChild>(pid, pair[0]);
}

std::unique_ptr<ParentPipes> ParentPipes::take() {
    std::signal(SIGPIPE, SIG_IGN);
    const int in = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    const int out = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (in < 0 || out < 0) {
        return nullptr;
    }
    // What a library prints goes to the run's error stream, never into the parent's pipe.
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing >= 0) {
        ::dup2(nothing, 0);
        ::close(nothing);
    }
    ::dup2(2, 1);
    return std::make_unique<PosixParentPipes>(in, out);
}

bool confineWorker(std::string& why) {
#if defined(MORROW_WITH_SECCOMP)
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        why = std::string("no_new_privs: ") + std::strerror(errno);
        return false;
    }
    // Anything not named here fails with EACCES: a library that tries to open a file or start a
    // process is told no and goes on (or fails its check); it does not kill the worker.
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EACCES));
    if (filter == nullptr) {
        why = "seccomp could not be set up";
        return false;
    }
    static const int allowed[] = {
        SCMP_SYS(read),
        SCMP_SYS(write),
        SCMP_SYS(readv),
        SCMP_SYS(writev),
        SCMP_SYS(pread64),
        SCMP_SYS(close),
        SCMP_SYS(fstat),
        SCMP_SYS(newfstatat),
        SCMP_SYS(lseek),
        SCMP_SYS(mmap),
        SCMP_SYS(munmap),
        SCMP_SYS(mremap),
        SCMP_SYS(mprotect),
        SCMP_SYS(madvise),
        SCMP_SYS(brk),
        SCMP_SYS(futex),
        SCMP_SYS(exit),
        SCMP_SYS(exit_group),
        SCMP_SYS(rt_sigreturn),
        SCMP_SYS(rt_sigprocmask),
        SCMP_SYS(rt_sigaction),
        SCMP_SYS(sigaltstack),
        SCMP_SYS(clock_gettime),
        SCMP_SYS(clock_nanosleep),
        SCMP_SYS(gettimeofday),
        SCMP_SYS(nanosleep),
        SCMP_SYS(getpid),
        SCMP_SYS(gettid),
        SCMP_SYS(tgkill),
        SCMP_SYS(sched_yield),
        SCMP_SYS(getrandom),
        SCMP_SYS(poll),
        SCMP_SYS(ppoll),
        SCMP_SYS(prlimit64),
        SCMP_SYS(getrusage),
        SCMP_SYS(sched_getaffinity),
        SCMP_SYS(set_robust_list),
        SCMP_SYS(rseq),
    };
    for (const int call : allowed) {
        if (seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) != 0) {
            seccomp_release(filter);
            why = "seccomp rule " + std::to_string(call) + " could not be added";
            return false;
        }
    }
    const int loaded = seccomp_load(filter);
    seccomp_release(filter);
    if (loaded != 0) {
        why = std::string("seccomp: ") + std::strerror(-loaded);
        return false;
    }
    return true;
#else
    why = "this build has no seccomp";
    return false;
#endif
}

} // namespace morrow
