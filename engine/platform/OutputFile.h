#pragma once

#include "platform/NativeFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace morrow {

// A file Morrow writes: a carved file or a report. Opened for writing only, never through a
// symbolic link at its last component. Failures keep the system's error number in error().
//
// Error numbers throughout the engine are errno values. On Windows the platform layer gives a
// system error the errno value of the same meaning where there is one (a full disk is ENOSPC, a
// missing folder ENOENT), so that the engine tells them apart and words them alike on both systems,
// and keeps any other as a number of its own whose text Windows gives.
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
    // Opens a file in `folder` that has no name yet, where the system allows it (Linux's
    // O_TMPFILE): it gets its name with giveName() and is gone, whole or not, if the program dies
    // before. False when the system cannot; the caller then writes under a scratch name.
    bool openUnnamed(const std::string& folder);
    // Gives the file opened by openUnnamed its name `path`, replacing a file of that name; 0, or
    // the system's error.
    int giveName(const std::string& path);
    bool isOpen() const { return file_ != noFile; }
    // Writes all of `data` or fails.
    bool write(const void* data, std::size_t length);
    // Where the next write lands; -1 on failure.
    std::int64_t position();
    // Cuts the file at `length` and moves the write position there.
    bool truncate(std::int64_t length);
    // Closes; false when the system reported a failure on closing (a delayed write error).
    bool close();

    int error() const { return error_; }
    // The system's descriptor or handle, for a source's fast copy path.
    NativeFile native() const { return file_; }

  private:
    NativeFile file_ = noFile;
    int error_ = 0;
};

// The system's text for an error number, as the messages quote it ("No space left on device").
std::string systemErrorText(int error);

// True for the errors of a full volume or an exhausted quota.
bool isOutOfSpace(int error);

// Removes the file at `path`; nothing when there is none.
void removeFile(const std::string& path);

// Gives the file at `from` the name `to`, replacing a file of that name. 0, or the system's error.
int renameFile(const std::string& from, const std::string& to);

// True when `path` names something that is not a plain file (a symbolic link, a folder, a device):
// a carved file must never be written through it or over it.
bool namesNonFile(const std::string& path);

} // namespace morrow
