#include "platform/SystemInfo.h"

#include "platform/WinApi.h"

// <windows.h> before the headers that build on it.
#include <windows.h>

#include <psapi.h>

namespace morrow {

namespace {

std::uint64_t microseconds(const FILETIME& t) {
    return ((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10;
}

} // namespace

std::optional<SystemDescription> describeSystem() {
    SystemDescription d;
    d.sysname = "Windows_NT";
    // GetVersionEx answers what the program's manifest claims; ntdll tells the truth.
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
        auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
        if (rtlGetVersion != nullptr && rtlGetVersion(&version) == 0) {
            d.release = std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion);
            d.version = "build " + std::to_string(version.dwBuildNumber);
        }
    }
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD hostLength = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(host, &hostLength)) {
        d.host = win32::narrow(std::wstring(host, hostLength));
    }
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    d.arch = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? "x86_64"
             : info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? "aarch64"
                                                                           : "x86";
    return d;
}

std::string currentUser() {
    wchar_t name[256];
    DWORD length = 256;
    return GetUserNameW(name, &length) && length > 0 ? win32::narrow(std::wstring(name, length - 1))
                                                     : std::string();
}

ResourceUsage resourceUsage() {
    ResourceUsage usage;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        usage.userMicroseconds = microseconds(user);
        usage.systemMicroseconds = microseconds(kernel);
    }
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
        usage.peakResidentKiB = memory.PeakWorkingSetSize / 1024;
    }
    return usage;
}

} // namespace morrow
