#include "platform/SystemInfo.h"

#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace morrow {

std::optional<SystemDescription> describeSystem() {
    utsname system{};
    if (::uname(&system) != 0) {
        return std::nullopt;
    }
    return SystemDescription{system.sysname, system.release, system.version, system.nodename, system.machine};
}

std::string currentUser() {
    return std::to_string(::getuid());
}

ResourceUsage resourceUsage() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto micro = [](const timeval& t) {
        return static_cast<std::uint64_t>(t.tv_sec) * 1000000 + static_cast<std::uint64_t>(t.tv_usec);
    };
    return ResourceUsage{micro(usage.ru_utime), micro(usage.ru_stime),
                         static_cast<std::uint64_t>(usage.ru_maxrss)};
}

} // namespace morrow
