// The run's helper threads: every task runs once, on a helper or on the
// thread that waits for it, whatever threads the system lets the pool make.
#include "platform/workerpool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace v2bsp {
namespace {

// A thread maker that makes `allowed` threads, then fails as the system does
// when it has no more (or as an allocation does).
WorkerPool::StartThread refusingAfter(int allowed, bool outOfMemory = false) {
    auto made = std::make_shared<int>(0);
    return [made, allowed, outOfMemory](std::function<void()> body) {
        if (*made == allowed) {
            if (outOfMemory) throw std::bad_alloc();
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        ++*made;
        return std::thread(std::move(body));
    };
}

TEST(WorkerPool, EveryTaskRunsOnceWhateverThreadsCanBeMade) {
    struct Case {
        const char* name;
        unsigned helpers;
        WorkerPool::StartThread start;
        unsigned most;  // threads the pool can have made
    };
    const Case cases[] = {
        {"no helper", 0, {}, 0},
        {"one helper", 1, {}, 1},
        {"four helpers", 4, {}, 4},
        {"the second thread refused", 4, refusingAfter(1), 1},
        {"every thread refused", 4, refusingAfter(0), 0},
        {"no memory for a thread", 4, refusingAfter(2, true), 2},
    };
    constexpr int kTasks = 60;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::atomic<int>> runs(kTasks);
        std::vector<PoolTask> tasks(kTasks);
        WorkerPool pool(c.helpers, c.start);
        for (int i = 0; i < kTasks; ++i) {
            pool.post(tasks[i], [&runs, i] {
                ++runs[i];
                if (i % 7 == 3) throw std::runtime_error("task " + std::to_string(i));
            });
        }
        for (int i = 0; i < kTasks; ++i) {
            if (i % 7 == 3) {
                EXPECT_THROW(pool.wait(tasks[i]), std::runtime_error) << i;
            } else {
                EXPECT_NO_THROW(pool.wait(tasks[i])) << i;
            }
            EXPECT_EQ(runs[i].load(), 1) << i;
        }
        EXPECT_LE(pool.threads(), c.most);
        if (c.most == 0) {
            EXPECT_EQ(pool.threads(), 0u);
        }
    }
}

TEST(WorkerPool, TasksNobodyTookRunOnTheWaiterOrNotAtAll) {
    WorkerPool pool(0);
    PoolTask waited, later, takenBack, cancelled;
    std::thread::id ranOn;
    int runs = 0;
    pool.post(waited, [&] {
        ranOn = std::this_thread::get_id();
        ++runs;
    });
    pool.post(later, [&] { ++runs; });
    pool.post(takenBack, [&] { runs += 100; });
    pool.post(cancelled, [&] { runs += 100; });
    pool.wait(waited);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(pool.done(later));
    EXPECT_TRUE(pool.runHere(later));
    EXPECT_TRUE(pool.done(later));
    EXPECT_FALSE(pool.runHere(later));
    EXPECT_TRUE(pool.takeBack(takenBack));
    pool.cancel(cancelled);
    pool.wait(later);
    pool.wait(takenBack);  // idle: nothing to wait for
    EXPECT_EQ(runs, 2);
}

TEST(WorkerPool, WorkPostedFirstIsTakenBeforeWhatIsQueued) {
    WorkerPool pool(1);
    std::promise<void> started, release, bothRan;
    std::shared_future<void> released = release.get_future().share();
    PoolTask gate, queued, urgent;
    std::vector<std::string> order;
    pool.post(gate, [&] {
        started.set_value();
        released.wait();
    });
    started.get_future().wait();  // the one helper is held by the gate
    pool.post(queued, [&] {
        order.push_back("queued");
        bothRan.set_value();
    });
    pool.post(urgent, [&] { order.push_back("urgent"); }, WorkerPool::Order::first);
    EXPECT_FALSE(pool.helperFree());
    release.set_value();
    bothRan.get_future().wait();  // the helper ran both, in the order it took them
    pool.wait(gate);
    pool.wait(urgent);
    pool.wait(queued);
    EXPECT_EQ(order, (std::vector<std::string>{"urgent", "queued"}));
}

}  // namespace
}  // namespace v2bsp
