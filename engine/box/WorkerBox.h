#pragma once

#include "box/Wire.h"
#include "platform/ChildProcess.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace morrow::box {

// The parent's side of one worker process, started when first asked for and again after it died.
// One thread talks to it at a time; cancel() may come from any other.
class WorkerBox {
  public:
    using Clock = ChildProcess::Clock;
    // Memory a worker may use: a decoder of a forged picture fails there instead of taking the
    // machine's memory.
    static constexpr std::uint64_t defaultMemoryBytes = std::uint64_t{2} << 30;

    // `role`: what the worker sets up when it starts (Worker.h).
    explicit WorkerBox(std::string role, std::uint64_t memoryBytes = defaultMemoryBytes)
        : role_(std::move(role)), memoryBytes_(memoryBytes) {}

    enum class Outcome {
        Replied,  // `message` and `body` hold the worker's answer
        TimedOut, // the deadline passed; the worker was killed
        Stopped,  // giveUp said so, or cancel() came; the worker was killed
        Failed,   // the worker could not start or died: `why` says how
    };
    struct Answer {
        Outcome outcome = Outcome::Failed;
        Message message = Message::Failed;
        std::string body;
        std::string why;
    };

    // Sends one frame whose body is the parts laid end to end.
    Answer send(Message message, const std::vector<std::string_view>& parts, Clock::time_point deadline,
                const ChildProcess::GiveUp& giveUp);
    // As send, with the file at `path` handed over with the frame (where ChildProcess::passesFiles;
    // elsewhere the caller sends its bytes). `opened` false: it could not be opened, nothing sent.
    Answer sendWithFile(Message message, const std::vector<std::string_view>& parts, const std::string& path,
                        bool& opened, Clock::time_point deadline, const ChildProcess::GiveUp& giveUp);
    // The next frame from the worker; one whose body would pass `maxBody` ends the worker.
    Answer receive(Clock::time_point deadline, const ChildProcess::GiveUp& giveUp,
                   std::uint32_t maxBody = maxBodyBytes);

    // A budget's base in seconds from the environment variable `name` (tests, slow machines), or
    // `fallback` where it is unset or not a positive number of seconds.
    static double secondsFromEnvironment(const char* name, double fallback);

    // Kills the worker now and makes every exchange from here on Stopped, until reset().
    void cancel();
    void reset();
    bool cancelled() const { return cancelled_; }

  private:
    Answer ended(ChildProcess::Io io);

    std::string role_;
    std::uint64_t memoryBytes_;
    std::mutex lock_; // guards child_ against cancel() from another thread
    std::unique_ptr<ChildProcess> child_;
    std::atomic<bool> cancelled_{false};
};

} // namespace morrow::box
