#include "platform/ChildProcess.h"

#include "platform/WinApi.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <io.h>
#include <mutex>

namespace morrow {

namespace {

// The parent's end of one duplex named pipe, read and written overlapped so that a wait has a
// deadline; the worker sits in a job object that caps its memory and ends it with the parent.
class Win32Child final : public ChildProcess {
  public:
    Win32Child(HANDLE process, HANDLE job, HANDLE pipe) : process_(process), job_(job), pipe_(pipe) {
        event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Win32Child() override {
        kill();
        ::WaitForSingleObject(process_, 5000);
        ::CloseHandle(pipe_);
        ::CloseHandle(event_);
        ::CloseHandle(process_);
        ::CloseHandle(job_);
    }

    Io write(const void* data, std::size_t length, Clock::time_point deadline,
             const GiveUp& giveUp) override {
        return transfer(const_cast<void*>(data), length, deadline, giveUp, true);
    }
    Io read(void* data, std::size_t length, Clock::time_point deadline, const GiveUp& giveUp) override {
        return transfer(data, length, deadline, giveUp, false);
    }

    void kill() override {
        std::lock_guard<std::mutex> hold(lock_);
        if (!killed_) {
            ::TerminateJobObject(job_, 1);
            ::TerminateProcess(process_, 1);
            killed_ = true;
        }
    }

    std::string ending() override {
        ::WaitForSingleObject(process_, 5000);
        DWORD code = 0;
        if (!::GetExitCodeProcess(process_, &code) || code == STILL_ACTIVE) {
            return "it ended";
        }
        if (code >= 0xC0000000u) {
            char text[16];
            std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
            return std::string("it ended with exception ") + text;
        }
        return "it exited with status " + std::to_string(code);
    }

  private:
    Io transfer(void* data, std::size_t length, Clock::time_point deadline, const GiveUp& giveUp,
                bool writing) {
        auto* at = static_cast<char*>(data);
        while (length > 0) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = event_;
            ::ResetEvent(event_);
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 20));
            DWORD moved = 0;
            BOOL done = writing ? ::WriteFile(pipe_, at, ask, &moved, &overlapped)
                                : ::ReadFile(pipe_, at, ask, &moved, &overlapped);
            if (!done && ::GetLastError() != ERROR_IO_PENDING) {
                return Io::Closed;
            }
            if (!done) {
                Io waited = Io::Done;
                while (true) {
                    if (giveUp && giveUp()) {
                        waited = Io::Stopped;
                        break;
                    }
                    const auto now = Clock::now();
                    if (now >= deadline) {
                        waited = Io::TimedOut;
                        break;
                    }
                    const auto left =
                        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
                    HANDLE both[2] = {event_, process_};
                    const DWORD woke = ::WaitForMultipleObjects(
                        2, both, FALSE, static_cast<DWORD>(std::min<long long>(left + 1, 100)));
                    if (woke == WAIT_OBJECT_0) {
                        break;
                    }
                    if (woke == WAIT_OBJECT_0 + 1) {
                        // The worker ended; what it wrote before may still be in the pipe.
                        if (::WaitForSingleObject(event_, 50) == WAIT_OBJECT_0) {
                            break;
                        }
                        waited = Io::Closed;
                        break;
                    }
                }
                if (waited != Io::Done) {
                    ::CancelIoEx(pipe_, &overlapped);
                    ::GetOverlappedResult(pipe_, &overlapped, &moved, TRUE);
                    return waited;
                }
                if (!::GetOverlappedResult(pipe_, &overlapped, &moved, FALSE)) {
                    return Io::Closed;
                }
            }
            if (moved == 0) {
                return Io::Closed;
            }
            at += moved;
            length -= moved;
        }
        return Io::Done;
    }

    std::mutex lock_;
    HANDLE process_;
    HANDLE job_;
    HANDLE pipe_;
    HANDLE event_ = nullptr;
    bool killed_ = false;
};

class Win32ParentPipes final : public ParentPipes {
  public:
    Win32ParentPipes(HANDLE in, HANDLE out) : in_(in), out_(out) {}
    bool read(void* data, std::size_t length) override {
        auto* at = static_cast<char*>(data);
        while (length > 0) {
            DWORD got = 0;
            if (!::ReadFile(in_, at, static_cast<DWORD>(std::min<std::size_t>(length, 1u << 20)), &got,
                            nullptr) ||
                got == 0) {
                return false;
            }
            at += got;
            length -= got;
        }
        return true;
    }
    bool write(const void* data, std::size_t length) override {
        const auto* at = static_cast<const char*>(data);
        while (length > 0) {
            DWORD put = 0;
            if (!::WriteFile(out_, at, static_cast<DWORD>(std::min<std::size_t>(length, 1u << 20)), &put,
                             nullptr) ||
                put == 0) {
                return false;
            }
            at += put;
            length -= put;
        }
        return true;
    }

  private:
    HANDLE in_;
    HANDLE out_;
};

std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

} // namespace

bool ChildProcess::passesFiles() {
    return false;
}

std::string ChildProcess::selfPath() {
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return win32::narrow(path);
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& arguments,
                                                  const Limits& limits, std::string& error) {
    static std::atomic<unsigned> serial{0};
    const std::wstring name = L"\\\\.\\pipe\\morrow-worker-" + std::to_wstring(::GetCurrentProcessId()) +
                              L"-" + std::to_wstring(serial.fetch_add(1));
    HANDLE ours = ::CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 1 << 16, 1 << 16, 0, nullptr);
    if (ours == INVALID_HANDLE_VALUE) {
        error = "the worker's pipe could not be made (error " + std::to_string(::GetLastError()) + ")";
        return nullptr;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE theirs =
        ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    if (theirs == INVALID_HANDLE_VALUE) {
        error = "the worker's pipe could not be opened (error " + std::to_string(::GetLastError()) + ")";
        ::CloseHandle(ours);
        return nullptr;
    }
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
    info.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (limits.memoryBytes > 0) {
        info.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        info.ProcessMemoryLimit = static_cast<SIZE_T>(limits.memoryBytes);
    }
    if (job != nullptr) {
        ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof info);
    }
    std::wstring command = quoted(win32::widen(selfPath()));
    for (const std::string& argument : arguments) {
        command += L" " + quoted(win32::widen(argument));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = theirs;
    startup.hStdOutput = theirs;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL made =
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                         nullptr, nullptr, &startup, &process);
    const DWORD why = ::GetLastError();
    ::CloseHandle(theirs);
    if (!made) {
        error = "the worker could not be started (error " + std::to_string(why) + ")";
        ::CloseHandle(ours);
        if (job != nullptr) {
            ::CloseHandle(job);
        }
        return nullptr;
    }
    if (job == nullptr || !::AssignProcessToJobObject(job, process.hProcess)) {
        // A job inside a job the system will not nest: the worker runs, unbounded but owned.
        if (job != nullptr) {
            ::CloseHandle(job);
        }
        job = ::CreateJobObjectW(nullptr, nullptr);
    }
    ::ResumeThread(process.hThread);
    ::CloseHandle(process.hThread);
    return std::make_unique<Win32Child>(process.hProcess, job, ours);
}

std::unique_ptr<ParentPipes> ParentPipes::take() {
    HANDLE pipe = ::GetStdHandle(STD_INPUT_HANDLE);
    HANDLE own = nullptr;
    // A copy of our own: the C run-time's descriptors 0 and 1 share the handle, and pointing them
    // elsewhere closes it.
    if (pipe == INVALID_HANDLE_VALUE || pipe == nullptr ||
        !::DuplicateHandle(::GetCurrentProcess(), pipe, ::GetCurrentProcess(), &own, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    // What a library prints goes to the error stream, never into the parent's pipe.
    ::_dup2(2, 1);
    if (std::FILE* nothing = std::fopen("NUL", "rb")) {
        ::_dup2(::_fileno(nothing), 0);
        std::fclose(nothing);
    }
    ::SetStdHandle(STD_OUTPUT_HANDLE, ::GetStdHandle(STD_ERROR_HANDLE));
    ::SetStdHandle(STD_INPUT_HANDLE, nullptr);
    return std::make_unique<Win32ParentPipes>(own, own);
}

bool confineWorker(std::string& why) {
    why = "Windows workers are bounded by their job object only";
    return false;
}

} // namespace morrow
