#pragma once

#include "output/Digest.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace morrow {

// The MD5 and SHA-256 of a long stream (the whole evidence), each computed on a thread of its
// own while the caller goes on: update() copies the bytes into one of a few blocks and returns,
// waiting only when both threads are that far behind. Hashing the evidence costs a run the time
// of the slower digest instead of both on top of the scan. Memory is the few blocks, whatever
// the stream's length. A build without a hashing library hashes nothing.
class ParallelDigest {
  public:
    // `blockSize`: the bytes each of the few blocks holds. `md5Only`: the SHA-256 is not wanted
    // (its thread is not started, and finish() gives it empty).
    explicit ParallelDigest(std::size_t blockSize = std::size_t{1} << 20, bool md5Only = false);
    ~ParallelDigest();
    ParallelDigest(const ParallelDigest&) = delete;
    ParallelDigest& operator=(const ParallelDigest&) = delete;

    void update(const void* data, std::size_t length);
    // Waits for both threads to hash everything given so far; the digests, and a fresh start.
    Digest::Values finish();

  private:
    static constexpr std::size_t blockCount = 4;
    std::size_t blockSize_;
    bool md5Only_ = false;
    struct Block {
        std::vector<unsigned char> bytes;
        std::size_t length = 0;
    };
    void work(int which);
    void publish();

    std::array<Block, blockCount> blocks_;
    std::size_t filled_ = 0;              // blocks published so far
    std::array<std::size_t, 2> hashed_{}; // blocks each thread has hashed
    Block* open_ = nullptr;               // the block being filled, not yet published
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::array<std::string, 2> results_;
    std::array<bool, 2> finishing_{};
    std::array<std::thread, 2> threads_;
};

} // namespace morrow
