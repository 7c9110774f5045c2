#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morrow {

// What a report says about the machine and the process that wrote it (the DFXML creator's
// execution environment and its closing resource use).
struct SystemDescription {
    std::string sysname; // "Linux", "Windows_NT"
    std::string release;
    std::string version;
    std::string host;
    std::string arch;
};
// Nothing when the system does not say.
std::optional<SystemDescription> describeSystem();

// The user the process runs as, in the system's own terms (a uid, or a Windows user name).
std::string currentUser();

struct ResourceUsage {
    std::uint64_t userMicroseconds = 0;
    std::uint64_t systemMicroseconds = 0;
    std::uint64_t peakResidentKiB = 0;
};
ResourceUsage resourceUsage();

} // namespace morrow
