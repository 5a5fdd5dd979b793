// The helper threads of a run: one pool, made once, that every part of the
// run hands its side work to (the map's second half, the mesh files written
// ahead, the halves of long sections, the whole-level OBJ's runs, the
// window's decoding of the level).
//
// Work is handed over as a PoolTask that the one who posts it also waits
// for. A helper that is free takes the oldest queued task; a task nobody has
// taken when its owner waits runs on the waiting thread. So a run with no
// helper at all does the same work, in the same order of its owners' waits,
// on its own thread: nothing here ever depends on a thread being made.
//
// Threads are made when tasks wait for one, up to the pool's count. When one
// cannot be made (the system refuses: std::system_error, or no memory), the
// pool keeps the threads it has, makes no more, and says nothing. Standard C++
// only: the pool is the same on every system.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace v2bsp {

class WorkerPool;

// One job handed to a pool, and then its outcome until it is collected. It
// is posted, then waited for, taken back or cancelled, then may be posted
// again. A task must not move while posted, and must not outlive the pool it
// was posted to; its destructor cancels it.
class PoolTask {
public:
    PoolTask() = default;
    ~PoolTask();
    PoolTask(const PoolTask&) = delete;
    PoolTask& operator=(const PoolTask&) = delete;

private:
    friend class WorkerPool;
    enum class State { idle, queued, running, done };

    WorkerPool* pool_ = nullptr;  // while posted
    State state_ = State::idle;
    std::function<void()> job_;
    std::exception_ptr failure_;
    PoolTask* prev_ = nullptr;  // the queue, linked through its tasks, so
    PoolTask* next_ = nullptr;  // that queueing never allocates
};

class WorkerPool {
public:
    // Makes a thread running `body`; the seam by which a test refuses threads.
    using StartThread = std::function<std::thread(std::function<void()> body)>;

    // A pool of at most `helpers` threads besides the callers'; none is made
    // yet. `start` empty: std::thread.
    explicit WorkerPool(unsigned helpers, StartThread start = {}) noexcept;
    // Ends the threads once the tasks they run have ended.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The helpers asked for: the callers' threads and these share the work.
    unsigned helpers() const { return helpers_; }
    // The threads made so far.
    unsigned threads() const;

    enum class Order {
        last,   // after every queued task
        first,  // before them: a part of work its owner is waiting on
    };

    // Queues `job` as `task` (idle: never posted, or waited for, taken back
    // or cancelled since). A job should capture little (two pointers fit in the function
    // without allocating). Never throws.
    void post(PoolTask& task, std::function<void()> job, Order order = Order::last) noexcept;

    // Runs `task` on this thread when it is queued, and is true; false when a
    // helper has it, it has ended, or it was never posted. Its outcome waits
    // for wait().
    bool runHere(PoolTask& task);
    // Whether `task` has ended and waits to be collected.
    bool done(const PoolTask& task) const;
    // Whether a helper is free, or could be made, to take work posted now.
    bool helperFree() const;
    // Waits for `task` to end, running it here when nobody has taken it, and
    // throws what it threw. `task` is idle after.
    void wait(PoolTask& task);
    // wait(), but while a helper has `task`, this thread runs the tasks
    // later(0), later(1) ... later(count - 1) that nobody has begun, until
    // `task` has ended: the work queued behind it goes on rather than wait.
    template <typename Later>
    void waitHelping(PoolTask& task, std::size_t count, Later later) {
        if (!runHere(task)) {
            for (std::size_t next = 0; next < count && !done(task); ++next) runHere(later(next));
        }
        wait(task);
    }
    // Drops `task` when it is queued, and is true (`task` is idle); false,
    // and nothing changes, when a helper has it or it has ended.
    bool takeBack(PoolTask& task) noexcept;
    // Drops `task` when it is queued; else waits for its end and drops what
    // it threw. `task` is idle after. Never throws.
    void cancel(PoolTask& task) noexcept;

private:
    void unlink(PoolTask& task);
    void run(PoolTask& task, std::unique_lock<std::mutex>& lock);
    void addThread();
    void work();

    const unsigned helpers_;
    StartThread start_;

    mutable std::mutex mutex_;  // guards what follows and every task's state
    std::condition_variable queued_;  // for the helpers: a task or the end
    std::condition_variable ended_;   // for the owners: a task has ended
    PoolTask* head_ = nullptr;
    PoolTask* tail_ = nullptr;
    std::size_t queuedCount_ = 0;
    unsigned idle_ = 0;       // helpers waiting for a task
    bool makeMore_ = true;    // false once a thread could not be made
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace v2bsp
