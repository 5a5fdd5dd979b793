#include "platform/workerpool.hpp"

#include <utility>

namespace v2bsp {

PoolTask::~PoolTask() {
    if (pool_ != nullptr) pool_->cancel(*this);
}

WorkerPool::WorkerPool(unsigned helpers, StartThread start) noexcept : helpers_(helpers), start_(std::move(start)) {}

WorkerPool::~WorkerPool() {
    std::unique_lock lock(mutex_);
    quit_ = true;
    // Tasks still queued belong to owners that never wait for them now.
    while (head_ != nullptr) {
        PoolTask& task = *head_;
        unlink(task);
        task.state_ = PoolTask::State::idle;
        task.pool_ = nullptr;
        task.job_ = nullptr;
    }
    lock.unlock();
    queued_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

unsigned WorkerPool::threads() const {
    const std::lock_guard lock(mutex_);
    return static_cast<unsigned>(threads_.size());
}

void WorkerPool::post(PoolTask& task, std::function<void()> job, Order order) noexcept {
    const std::lock_guard lock(mutex_);
    task.pool_ = this;
    task.job_ = std::move(job);
    task.failure_ = nullptr;
    task.state_ = PoolTask::State::queued;
    task.prev_ = order == Order::first ? nullptr : tail_;
    task.next_ = order == Order::first ? head_ : nullptr;
    (task.prev_ != nullptr ? task.prev_->next_ : head_) = &task;
    (task.next_ != nullptr ? task.next_->prev_ : tail_) = &task;
    ++queuedCount_;
    if (queuedCount_ > idle_ && makeMore_ && threads_.size() < helpers_) addThread();
    queued_.notify_one();
}

bool WorkerPool::runHere(PoolTask& task) {
    std::unique_lock lock(mutex_);
    if (task.pool_ != this || task.state_ != PoolTask::State::queued) return false;
    unlink(task);
    run(task, lock);
    return true;
}

bool WorkerPool::done(const PoolTask& task) const {
    const std::lock_guard lock(mutex_);
    return task.pool_ == this && task.state_ == PoolTask::State::done;
}

bool WorkerPool::helperFree() const {
    const std::lock_guard lock(mutex_);
    return idle_ > queuedCount_ || (makeMore_ && threads_.size() < helpers_);
}

void WorkerPool::wait(PoolTask& task) {
    std::unique_lock lock(mutex_);
    if (task.pool_ != this) return;
    if (task.state_ == PoolTask::State::queued) {
        unlink(task);
        run(task, lock);
    }
    ended_.wait(lock, [&task] { return task.state_ == PoolTask::State::done; });
    const std::exception_ptr failure = std::exchange(task.failure_, nullptr);
    task.state_ = PoolTask::State::idle;
    task.pool_ = nullptr;
    lock.unlock();
    if (failure) std::rethrow_exception(failure);
}

bool WorkerPool::takeBack(PoolTask& task) noexcept {
    const std::lock_guard lock(mutex_);
    if (task.pool_ != this || task.state_ != PoolTask::State::queued) return false;
    unlink(task);
    task.job_ = nullptr;
    task.state_ = PoolTask::State::idle;
    task.pool_ = nullptr;
    return true;
}

void WorkerPool::cancel(PoolTask& task) noexcept {
    if (takeBack(task)) return;
    std::unique_lock lock(mutex_);
    if (task.pool_ != this) return;
    ended_.wait(lock, [&task] { return task.state_ == PoolTask::State::done; });
    task.failure_ = nullptr;
    task.state_ = PoolTask::State::idle;
    task.pool_ = nullptr;
}

void WorkerPool::unlink(PoolTask& task) {
    (task.prev_ != nullptr ? task.prev_->next_ : head_) = task.next_;
    (task.next_ != nullptr ? task.next_->prev_ : tail_) = task.prev_;
    task.prev_ = task.next_ = nullptr;
    --queuedCount_;
}

// Runs an unlinked task with the lock released, and marks it ended.
void WorkerPool::run(PoolTask& task, std::unique_lock<std::mutex>& lock) {
    task.state_ = PoolTask::State::running;
    lock.unlock();
    std::exception_ptr failure;
    try {
        task.job_();
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    task.job_ = nullptr;
    task.failure_ = failure;
    task.state_ = PoolTask::State::done;
    ended_.notify_all();
}

// Called with the lock held. A thread that cannot be made, for whatever
// reason the system or the seam gives, leaves the work to the threads there
// are: the waiting owners run what nobody takes.
void WorkerPool::addThread() {
    try {
        threads_.emplace_back();
    } catch (...) {
        makeMore_ = false;
        return;
    }
    try {
        threads_.back() = start_ ? start_([this] { work(); }) : std::thread([this] { work(); });
    } catch (...) {
    }
    if (!threads_.back().joinable()) {
        threads_.pop_back();
        makeMore_ = false;
    }
}

void WorkerPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        queued_.wait(lock, [this] { return quit_ || head_ != nullptr; });
        --idle_;
        if (quit_) return;
        PoolTask& task = *head_;
        unlink(task);
        run(task, lock);
    }
}

}  // namespace v2bsp
