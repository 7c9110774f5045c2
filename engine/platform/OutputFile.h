#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morrow {

// A file Morrow writes: a carved file or a report. Opened for writing only, never through a
// symbolic link at its last component. Failures keep the system's error number in error().
class OutputFile {
public:
    enum class Mode {
        Replace,   // create or empty the file (carved files)
        CreateNew, // fail when the name is taken (reports)
    };

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open(const std::string& path, Mode mode);
    bool isOpen() const { return fd_ >= 0; }
    // Writes all of `data` or fails.
    bool write(const void* data, std::size_t length);
    // Where the next write lands; -1 on failure.
    std::int64_t position();
    // Cuts the file at `length` and moves the write position there.
    bool truncate(std::int64_t length);
    // Closes; false when the system reported a failure on closing (a delayed write error).
    bool close();

    int error() const { return error_; }
    // The system's descriptor, for a source's fast copy path.
    int native() const { return fd_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

// The system's text for an error number, as the messages quote it ("No space left on device").
std::string systemErrorText(int error);

// Removes the file at `path`; nothing when there is none.
void removeFile(const std::string& path);

// Gives the file at `from` the name `to`, replacing a file of that name. 0, or the system's error.
int renameFile(const std::string& from, const std::string& to);

// True when `path` names something that is not a plain file (a symbolic link, a folder, a device):
// a carved file must never be written through it or over it.
bool namesNonFile(const std::string& path);

} // namespace morrow
