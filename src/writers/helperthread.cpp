#include "writers/helperthread.hpp"

#include <utility>

namespace v2bsp {

HelperThread::HelperThread() : thread_([this] { loop(); }) {}

HelperThread::~HelperThread() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void HelperThread::run(const std::function<void()>& here, std::function<void()> there) {
    start(std::move(there));
    // The helper must be waited for even when this half fails: its job may
    // use what the caller's frame holds.
    std::exception_ptr failure;
    try {
        here();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        try {
            wait();
        } catch (...) {
        }
        std::rethrow_exception(failure);
    }
    wait();
}

void HelperThread::start(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        busy_ = true;
        failure_ = nullptr;
    }
    wake_.notify_one();
}

void HelperThread::wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return !busy_; });
    if (const std::exception_ptr failure = std::exchange(failure_, nullptr)) std::rethrow_exception(failure);
}

void HelperThread::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || busy_; });
        if (!busy_) return;  // quit, with nothing left to do
        const std::function<void()> job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        failure_ = failure;
        busy_ = false;
        done_.notify_one();
    }
}

}  // namespace v2bsp
