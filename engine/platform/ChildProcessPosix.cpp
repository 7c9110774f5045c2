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
#include <sys/uio.h>
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

    Io writeWithFile(const void* data, std::size_t length, const std::string& path, bool& opened,
                     Clock::time_point deadline, const GiveUp& giveUp) override {
        const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        opened = file >= 0;
        if (!opened || length == 0) {
            if (opened) {
                ::close(file);
            }
            return opened ? Io::Closed : Io::Done;
        }
        // The descriptor rides on the first byte; the rest follows as plain bytes.
        const Io ready = wait(POLLOUT, deadline, giveUp);
        if (ready != Io::Done) {
            ::close(file);
            return ready;
        }
        char byte = *static_cast<const char*>(data);
        iovec one{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &one;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &file, sizeof file);
        ssize_t sent = -1;
        do {
            sent = ::sendmsg(socket_, &message, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        ::close(file);
        if (sent != 1) {
            return Io::Closed;
        }
        return write(static_cast<const char*>(data) + 1, length - 1, deadline, giveUp);
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
    ~PosixParentPipes() override {
        letGo();
        if (kept_ >= 0) {
            ::close(kept_);
        }
    }
    bool read(void* data, std::size_t length) override {
        auto* at = static_cast<char*>(data);
        while (length > 0) {
            // Every read takes what rides along: a file passed with the message.
            iovec some{at, length};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
            msghdr message{};
            message.msg_iov = &some;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t got = ::recvmsg(in_, &message, MSG_CMSG_CLOEXEC);
            if (got == 0 || (got < 0 && errno != EINTR)) {
                return false;
            }
            for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
                 header = CMSG_NXTHDR(&message, header)) {
                if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
                    header->cmsg_len >= CMSG_LEN(sizeof(int))) {
                    letGo();
                    std::memcpy(&passed_, CMSG_DATA(header), sizeof passed_);
                }
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
    bool keepPassedFile() override {
        if (passed_ < 0) {
            return false;
        }
        if (kept_ >= 0) {
            ::close(kept_);
        }
        kept_ = passed_;
        passed_ = -1;
        return true;
    }
    long long readKeptFile(std::uint64_t offset, void* out, std::size_t length) override {
        if (kept_ < 0) {
            return -1;
        }
        ssize_t got = -1;
        do {
            got = ::pread(kept_, out, length, static_cast<off_t>(offset));
        } while (got < 0 && errno == EINTR);
        return got < 0 ? 0 : got;
    }
    bool readPassedFile(void* out, std::size_t length) override {
        if (passed_ < 0) {
            return false;
        }
        auto* at = static_cast<char*>(out);
        std::size_t done = 0;
        bool whole = true;
        while (done < length) {
            const ssize_t got = ::pread(passed_, at + done, length - done, static_cast<off_t>(done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                whole = false;
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        letGo();
        return whole;
    }

  private:
    void letGo() {
        if (passed_ >= 0) {
            ::close(passed_);
            passed_ = -1;
        }
    }
    int in_;
    int out_;
    int passed_ = -1;
    int kept_ = -1;
};

} // namespace

bool ChildProcess::passesFiles() {
    return true;
}

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
#if defined(MORROW_UNDER_ASAN)
    // The sanitizers' runtime makes calls of its own when it checks an object's type or reports
    // (pipes to probe memory, /proc/self/maps): a sanitized build's workers run unconfined, under
    // their other limits; the plain build confines them.
    why = "sanitized builds do not confine their workers";
    return false;
#elif defined(MORROW_WITH_SECCOMP)
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
        SCMP_SYS(recvmsg),
        SCMP_SYS(recvfrom),
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
