#pragma once

#include "output/CarvedFile.h"
#include "output/FileVerdict.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace morrow {

// A carved file with its verdict, and the number its submitter gave it.
struct CheckedFile {
    CarvedFile file;
    std::uint64_t tag = 0;
    FileVerdict verdict;
};

// The checks of a run's carved files, on a worker thread beside the carving when the machine has a
// core to spare, otherwise on the submitter's thread at once. The run's thread submits each file
// once it is written and takes the verdicts back when it likes (takeDone), or waits for all of
// them (drain): verdicts are only ever handed to the thread that submitted. At most `capacity`
// files wait; submit blocks while that many do, so memory stays bounded however fast the carving
// outruns the checks. A waiting file is its name and extents, not its bytes: the default lets the
// checks of one pass's large pictures go on while the next passes carve, rather than stopping
// the carving until they are done.
class CheckQueue {
  public:
    using Check = std::function<FileVerdict(const CarvedFile&)>;
    // Ends the check in hand at once (it then returns a "not checked" verdict), from any thread.
    using Cancel = std::function<void()>;
    // The check of a file as written (FileCheck::checkFile) unless told otherwise.
    explicit CheckQueue(bool worker = spareCore(), std::size_t capacity = 4096, Check check = {},
                        Cancel cancel = {});
    ~CheckQueue();
    CheckQueue(const CheckQueue&) = delete;
    CheckQueue& operator=(const CheckQueue&) = delete;

    void submit(const CarvedFile& file, std::uint64_t tag);
    // The verdicts ready now, in the order the files were submitted.
    std::vector<CheckedFile> takeDone();
    // Every verdict still to come, waiting for the worker. A run that is ending early (stopped,
    // failed) passes `skipWaiting`: the check in the worker's hands is cancelled (or finished,
    // without a way to cancel), those still waiting are "not checked" at once, so that the run
    // does not wait for their checks. `giveUp` is asked about ten times a second while the
    // drain waits; when it says yes the drain goes on as if `skipWaiting` had been passed.
    std::vector<CheckedFile> drain(bool skipWaiting = false, const std::function<bool()>& giveUp = {});
    // Whether a verdict is ready (cheap: the run asks once per candidate).
    bool anyDone() const { return doneCount_.load(std::memory_order_relaxed) > 0; }

    static bool spareCore() { return std::thread::hardware_concurrency() > 1; }

  private:
    void work();

    Check check_;
    Cancel cancel_;
    std::size_t capacity_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<CheckedFile> waiting_;
    std::vector<CheckedFile> done_;
    std::atomic<std::size_t> doneCount_{0};
    bool busy_ = false;     // the worker holds a file
    bool skipping_ = false; // waiting files are passed on unchecked
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace morrow
