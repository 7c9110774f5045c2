#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morrow {

// Paths in the engine are UTF-8 text on every system; the platform layer hands them to the system
// in its own form (UTF-16 on Windows, with the \\?\ prefix where a path is longer than the old
// 260-character limit).

// The separator Morrow puts between a folder and a name, the one the system's own paths use:
// report rows and messages read as the examiner's other tools write paths.
#ifdef _WIN32
inline constexpr char pathSeparator = '\\';
// Every character that ends a folder in a path the examiner gives.
inline constexpr const char* pathSeparators = "\\/";
#else
inline constexpr char pathSeparator = '/';
inline constexpr const char* pathSeparators = "/";
#endif

// The name after the last separator of `path` (any of pathSeparators); the whole path when it has
// none.
inline std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of(pathSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when something (a file, a folder, a link, whatever it points at) is at `path`.
bool pathExists(const std::string& path);

// Makes the folder `path` (one level). 0, or the system's error (EEXIST when the name is taken).
int createFolder(const std::string& path);

// Removes the folder `path` if it is empty. 0, or the system's error.
int removeEmptyFolder(const std::string& path);

// What tells one file from another whatever path names it: its device (volume) and its number
// there.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The identity of what `path` names (through links); nothing when the system cannot tell.
std::optional<FileIdentity> fileIdentity(const std::string& path);

// The bytes Morrow may still write on the volume holding `folder`; nothing when the query fails.
std::optional<std::uint64_t> freeSpace(const std::string& folder);

} // namespace morrow
