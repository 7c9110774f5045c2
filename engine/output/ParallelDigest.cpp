#include "output/ParallelDigest.h"

#include "output/DigestStream.h"

#include <algorithm>
#include <cstring>

namespace morrow {

ParallelDigest::ParallelDigest(std::size_t blockSize, bool md5Only)
    : blockSize_(blockSize), md5Only_(md5Only) {
    for (Block& b : blocks_) {
        b.bytes.resize(blockSize_);
    }
    threads_[0] = std::thread([this] { work(0); });
    if (!md5Only_) {
        threads_[1] = std::thread([this] { work(1); });
    }
}

ParallelDigest::~ParallelDigest() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) {
        if (t.joinable()) {
            t.join();
        }
    }
}

// Thread 0 computes the MD5, thread 1 the SHA-256, each over every published block in order.
void ParallelDigest::work(int which) {
    DigestStream digest(which == 0 ? DigestStream::Algorithm::Md5 : DigestStream::Algorithm::Sha256);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || finishing_[which] || hashed_[which] < filled_; });
        if (hashed_[which] < filled_) {
            const Block& block = blocks_[hashed_[which] % blockCount];
            lock.unlock();
            digest.update(block.bytes.data(), block.length);
            lock.lock();
            ++hashed_[which];
            changed_.notify_all();
            continue;
        }
        if (finishing_[which]) {
            results_[which] = digest.finish();
            finishing_[which] = false;
            changed_.notify_all();
            continue;
        }
        if (stopping_) {
            break;
        }
    }
}

void ParallelDigest::publish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++filled_;
        open_ = nullptr;
    }
    changed_.notify_all();
}

void ParallelDigest::update(const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        if (open_ == nullptr) {
            // The next block is free once both threads are past its last use.
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] {
                return filled_ - std::min(hashed_[0], md5Only_ ? hashed_[0] : hashed_[1]) < blockCount;
            });
            open_ = &blocks_[filled_ % blockCount];
            open_->length = 0;
        }
        const std::size_t n = std::min(length, blockSize_ - open_->length);
        std::memcpy(open_->bytes.data() + open_->length, p, n);
        open_->length += n;
        p += n;
        length -= n;
        if (open_->length == blockSize_) {
            publish();
        }
    }
}

Digest::Values ParallelDigest::finish() {
    if (open_ != nullptr && open_->length > 0) {
        publish();
    }
    open_ = nullptr;
    std::unique_lock<std::mutex> lock(mutex_);
    finishing_ = {true, !md5Only_};
    changed_.notify_all();
    changed_.wait(lock, [&] { return !finishing_[0] && !finishing_[1]; });
    return Digest::Values{results_[0], results_[1]};
}

} // namespace morrow
