#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morrow {

// A worker process that Morrow starts and owns: this very program run again with the arguments
// that make it a worker, its standard input and output joined to pipes of ours. What a worker
// does with hostile bytes (a library that crashes, loops or swallows memory) then ends in the
// worker: the parent kills it when its budget is spent or when the run is stopped, and answers for
// it. The worker's memory is capped by the system (an address-space limit on Linux, a job object
// on Windows) and it dies with its parent.
class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;

    struct Limits {
        std::uint64_t memoryBytes = 0; // address space (Linux) or committed memory (Windows); 0: none
    };

    // Null with the reason in `error` when the process cannot be started.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments,
                                               const Limits& limits, std::string& error);
    // Kills the process if it still runs, and reaps it.
    virtual ~ChildProcess() = default;

    enum class Io {
        Done,     // all of it went across
        TimedOut, // the deadline passed first
        Stopped,  // `giveUp` said so
        Closed,   // the process ended or closed its pipe (or was killed)
    };
    // Writes or reads exactly `length` bytes. While waiting, `giveUp` is asked about ten times a
    // second; when it says yes the wait ends (the process is left as it is).
    using GiveUp = std::function<bool()>;
    virtual Io write(const void* data, std::size_t length, Clock::time_point deadline,
                     const GiveUp& giveUp) = 0;
    // Whether writeWithFile hands a file over itself (Linux: its descriptor rides on the socket),
    // so that the worker reads it and the parent never does.
    static bool passesFiles();
    // As write, with the file at `path` (UTF-8) opened read-only and passed along with the bytes;
    // false in `opened` when it cannot be opened (nothing is then written).
    virtual Io writeWithFile(const void* data, std::size_t length, const std::string& path, bool& opened,
                             Clock::time_point deadline, const GiveUp& giveUp) {
        (void)path;
        opened = false;
        return write(data, length, deadline, giveUp);
    }
    virtual Io read(void* data, std::size_t length, Clock::time_point deadline, const GiveUp& giveUp) = 0;

    // Ends the process at once. Safe from any thread, also while another waits in read or write,
    // which then returns Closed.
    virtual void kill() = 0;
    // Once the process has ended (after Closed, or kill): how, in words for a verdict or a
    // message: "it was killed by signal 11 (Segmentation fault)", "it exited with status 3".
    virtual std::string ending() = 0;

    // This program's own path, which workers are started from.
    static std::string selfPath();
};

// The worker's side of the pipes. takeParentPipes runs first thing in a worker: it keeps its
// standard input and output for the parent and points the standard streams elsewhere, so that
// nothing a library prints can reach the parent as a message.
class ParentPipes {
  public:
    static std::unique_ptr<ParentPipes> take();
    virtual ~ParentPipes() = default;
    // Exactly `length` bytes, or false when the parent has gone.
    virtual bool read(void* data, std::size_t length) = 0;
    virtual bool write(const void* data, std::size_t length) = 0;
    // The file passed with the last message (writeWithFile), read whole into `out` (`length`
    // bytes) and let go. False when none came or it cannot be read.
    virtual bool readPassedFile(void* out, std::size_t length) {
        (void)out;
        (void)length;
        return false;
    }
    // The file passed with the last message kept open instead, to be read where it likes: up to
    // `length` bytes at `offset`, the bytes read (fewer at its end or on a failure). -1 when
    // none came.
    virtual bool keepPassedFile() { return false; }
    virtual long long readKeptFile(std::uint64_t offset, void* out, std::size_t length) {
        (void)offset;
        (void)out;
        (void)length;
        return -1;
    }
};

// Confines the calling worker process, where the system allows, to what a decoder needs once it
// is running: reading and writing the pipes it already has, memory, the clock, ending. Opening
// files, starting processes and the network are refused from then on. False with the reason when
// the system cannot confine (the worker still runs, under its limits).
bool confineWorker(std::string& why);

} // namespace morrow
