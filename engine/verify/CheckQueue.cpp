#include "verify/CheckQueue.h"

#include "verify/FileCheck.h"

#include <chrono>

namespace morrow {

CheckQueue::CheckQueue(bool worker, std::size_t capacity, Check check, Cancel cancel)
    : check_(check ? std::move(check) : Check([](const CarvedFile& file) {
          return FileCheck::checkFile(file.path, file.type);
      })),
      cancel_(std::move(cancel)), capacity_(capacity == 0 ? 1 : capacity) {
    if (worker) {
        worker_ = std::thread([this] { work(); });
    }
}

CheckQueue::~CheckQueue() {
    if (worker_.joinable()) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stopping_ = true;
            skipping_ = true; // nobody takes their verdicts any more
        }
        changed_.notify_all();
        if (cancel_) {
            cancel_();
        }
        worker_.join();
    }
}

void CheckQueue::submit(const CarvedFile& file, std::uint64_t tag) {
    if (!worker_.joinable()) {
        CheckedFile checked{file, tag, check_(file)};
        std::lock_guard<std::mutex> hold(lock_);
        done_.push_back(std::move(checked));
        doneCount_.store(done_.size(), std::memory_order_relaxed);
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return waiting_.size() < capacity_; });
    waiting_.push_back(CheckedFile{file, tag, {}});
    changed_.notify_all();
}

std::vector<CheckedFile> CheckQueue::takeDone() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<CheckedFile> ready;
    ready.swap(done_);
    doneCount_.store(0, std::memory_order_relaxed);
    return ready;
}

std::vector<CheckedFile> CheckQueue::drain(bool skipWaiting, const std::function<bool()>& giveUp) {
    std::unique_lock<std::mutex> hold(lock_);
    auto skip = [&] {
        skipping_ = true;
        changed_.notify_all();
        if (cancel_ && busy_) {
            hold.unlock();
            cancel_();
            hold.lock();
        }
    };
    skipping_ = false;
    if (skipWaiting) {
        skip();
    }
    while (!changed_.wait_for(hold, std::chrono::milliseconds(100),
                              [&] { return waiting_.empty() && !busy_; })) {
        if (!skipping_ && giveUp) {
            hold.unlock();
            const bool stop = giveUp();
            hold.lock();
            if (stop) {
                skip();
            }
        }
    }
    skipping_ = false;
    std::vector<CheckedFile> ready;
    ready.swap(done_);
    doneCount_.store(0, std::memory_order_relaxed);
    return ready;
}

void CheckQueue::work() {
    std::unique_lock<std::mutex> hold(lock_);
    while (true) {
        changed_.wait(hold, [&] { return stopping_ || !waiting_.empty(); });
        if (waiting_.empty()) {
            return; // stopping, and nothing left
        }
        CheckedFile job = std::move(waiting_.front());
        waiting_.pop_front();
        busy_ = true;
        const bool skip = skipping_;
        changed_.notify_all(); // a place is free
        hold.unlock();
        job.verdict = skip ? check::notChecked("the run ended before its check") : check_(job.file);
        hold.lock();
        busy_ = false;
        done_.push_back(std::move(job));
        doneCount_.store(done_.size(), std::memory_order_relaxed);
        changed_.notify_all();
    }
}

} // namespace morrow
