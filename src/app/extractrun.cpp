#include "app/extractrun.hpp"

#include <algorithm>
#include <exception>
#include <new>

#include "platform/threadpriority.hpp"

namespace v2bsp::app {

bool RunEnd::toItsEnd() const {
    return result.status == ExtractStatus::complete || result.status == ExtractStatus::incomplete;
}

struct ExtractRun::Event {
    enum class Kind { line, problem, tag, failed, ended, arrays };
    Kind kind = Kind::line;
    std::string text;
    // Held apart, so that the many lines of a run stay small.
    std::unique_ptr<MapFailure> failure;
    std::unique_ptr<RunEnd> end;
    std::unique_ptr<LevelGeometry> arrays;
};

// The host on the run's thread: it only queues, and decodes the level from
// the plan on a helper of the run's pool when asked to.
class ExtractRun::QueueingHost final : public ExtractHost {
public:
    QueueingHost(ExtractRun& run, bool decode, WorkerPool& pool) : run_(run), decode_(decode), pool_(pool) {}
    ~QueueingHost() override { pool_.cancel(decoding_); }

    void logline(std::string_view line) override { run_.push({Event::Kind::line, std::string(line), {}, {}, {}}); }
    void logProblem(std::string_view line) override {
        run_.push({Event::Kind::problem, std::string(line), {}, {}, {}});
    }
    void addTagName(std::string_view name) override { run_.push({Event::Kind::tag, std::string(name), {}, {}, {}}); }
    void mapFailed(const MapFailure& failure) override {
        run_.push({Event::Kind::failed, {}, std::make_unique<MapFailure>(failure), {}, {}});
    }
    bool keepGoing() override { return !run_.stop_; }
    // The plan stays as it is until the run's extraction ends, which is
    // after levelAfter(). Posted before any of the writers' work, the
    // decoding is the first a helper takes. Beside the writers only what the
    // first picture needs is decoded: the fresh pages of a large level's
    // arrays would cost the writers more than the decoding itself.
    void meshesPlanned(const MeshPlan& plan) override {
        if (!decode_) return;
        plan_ = &plan;
        pool_.post(decoding_, [this] { level_ = levelGeometry(*plan_, &stopDecoding_, LevelDecode::firstPicture); });
    }

    // The decoded level when `wanted` (made here when no helper took it);
    // none when memory ran out for it, so that the window decodes it once the
    // run's own memory is free. Else the decoding is told to stop, and its
    // end awaited all the same.
    std::optional<LevelGeometry> levelAfter(bool wanted) {
        if (plan_ == nullptr) return std::nullopt;
        if (!wanted) {
            stopDecoding_ = true;
            pool_.cancel(decoding_);
            return std::nullopt;
        }
        try {
            pool_.wait(decoding_);
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
        return std::move(level_);
    }

private:
    ExtractRun& run_;
    bool decode_;
    WorkerPool& pool_;
    const MeshPlan* plan_ = nullptr;
    std::atomic<bool> stopDecoding_{false};
    std::optional<LevelGeometry> level_;
    PoolTask decoding_;  // last: it ends before what it fills
};

ExtractRun::ExtractRun(std::function<void()> wake, WorkerPool::StartThread startThread)
    : wake_(std::move(wake)), startThread_(std::move(startThread)) {}

struct ExtractRun::Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;

    void openIt() {
        {
            const std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    void waitOpen() {
        std::unique_lock lock(mutex);
        opened.wait(lock, [this] { return open; });
    }
};

ExtractRun::~ExtractRun() {
    stop();
    if (thread_.joinable()) thread_.join();
}

// The last run's thread may still be decoding its level's arrays: told to
// stop, it queues nothing more; what it queued is dropped.
void ExtractRun::finishThread() {
    if (!thread_.joinable()) return;
    stop();
    thread_.join();
    const std::lock_guard lock(mutex_);
    queue_.clear();
    taking_.clear();
}

bool ExtractRun::start(RunRequest request) {
    if (running_) return false;
    finishThread();
    stop_ = false;
    endQueued_ = false;
    running_ = true;
    firstLine_ = true;
    auto gate = std::make_shared<Gate>();
    {
        const std::lock_guard lock(mutex_);
        arraysGate_ = gate;
    }
    auto held = std::make_shared<RunRequest>(std::move(request));
    auto body = [this, held, gate] { work(std::move(*held), gate.get()); };
    try {
        thread_ = startThread_ ? startThread_(body) : std::thread(body);
    } catch (const std::exception&) {
        // No thread to be had: the window waits for the run, which ends all the same.
        work(std::move(*held), nullptr);
    }
    return true;
}

void ExtractRun::stop() {
    stop_ = true;
    std::shared_ptr<Gate> gate;
    {
        const std::lock_guard lock(mutex_);
        gate = arraysGate_;
    }
    if (gate) gate->openIt();
}

std::function<void()> ExtractRun::arraysWanted() {
    const std::lock_guard lock(mutex_);
    return [gate = arraysGate_] {
        if (gate) gate->openIt();
    };
}

void ExtractRun::work(RunRequest request, Gate* arraysGate) {
    auto end = std::make_unique<RunEnd>();
    end->extraction = std::make_unique<MapExtraction>();
    {
        // The run's helpers (as it would make them) and, beside them, one for the decoding.
        WorkerPool pool(std::max(2u, request.settings.jobs) - 1 + (request.decodeLevel ? 1 : 0));
        request.settings.pool = &pool;
        QueueingHost host(*this, request.decodeLevel, pool);
        try {
            end->result = end->extraction->extractmap(request.path, host, request.settings);
        } catch (const std::exception& failure) {
            // Nothing the run could say in its log: the window says it, and the run ends.
            host.logProblem(std::string("The run ended early: ") + failure.what());
            end->result.status = ExtractStatus::stopped;
        }
        end->level = host.levelAfter(end->toItsEnd() && !stop_);
    }
    // The plan stays with the window, which keeps it until the next start or
    // this object's end, and both stop this thread first.
    const MeshPlan* plan = end->extraction != nullptr ? &end->extraction->plan : nullptr;
    const bool arrays = end->level && end->level->arraysToCome && plan != nullptr;
    arraysToCome_ = arrays;
    push({Event::Kind::ended, {}, {}, std::move(end), {}});
    if (!arrays) return;
    // The window draws the first picture meanwhile: its drawing comes first.
    if (arraysGate != nullptr) {
        arraysGate->waitOpen();
        if (stop_) return;
        lowerThisThreadsPriority();
    }
    try {
        auto level = std::make_unique<LevelGeometry>(levelGeometry(*plan, &stop_));
        if (!stop_) push({Event::Kind::arrays, {}, {}, {}, std::move(level)});
    } catch (const std::bad_alloc&) {
        // None: the view takes them itself once the run's memory is free.
        if (!stop_) push({Event::Kind::arrays, {}, {}, {}, std::make_unique<LevelGeometry>()});
    }
}

void ExtractRun::push(Event event) {
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        const bool end = event.kind == Event::Kind::ended;
        queue_.push_back(std::move(event));
        if (end) endQueued_ = true;
        wake = !wakePending_ || end;
        wakePending_ = true;
    }
    queued_.notify_all();
    if (wake && wake_) wake_();
}

bool ExtractRun::waitForEvents(std::chrono::milliseconds timeout) {
    if (!taking_.empty()) return true;
    std::unique_lock lock(mutex_);
    return queued_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
}

// What the run queued meanwhile is taken whenever the taken part is used
// up, so a call from inside this one (which returns at once) leaves nothing
// behind that no wake would announce.
bool ExtractRun::deliver(RunWindow& window) {
    if (delivering_) return false;
    delivering_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{delivering_};
    const auto began = std::chrono::steady_clock::now();
    while (true) {
        if (taking_.empty()) {
            const std::lock_guard lock(mutex_);
            wakePending_ = false;
            if (queue_.empty()) return false;
            std::swap(taking_, queue_);
        }
        Event event = std::move(taking_.front());
        taking_.pop_front();
        bool line = false;
        switch (event.kind) {
            case Event::Kind::line:
                window.logline(event.text);
                line = true;
                break;
            case Event::Kind::problem:
                window.logProblem(event.text);
                line = true;
                break;
            case Event::Kind::tag:
                window.addTagName(event.text);
                break;
            case Event::Kind::failed:
                window.mapFailed(*event.failure);
                break;
            case Event::Kind::ended:
                // The run's thread has queued its last and is ending, unless
                // it goes on to the level's arrays.
                if (!arraysToCome_ && thread_.joinable()) thread_.join();
                running_ = false;
                window.runEnded(std::move(*event.end));
                // The level's arrays may have been taken with the end: no wake comes for them.
                return !taking_.empty();
            case Event::Kind::arrays:
                if (thread_.joinable()) thread_.join();
                window.levelArrays(std::move(*event.arrays));
                return false;
        }
        const bool first = line && firstLine_;
        if (line) firstLine_ = false;
        if (first || std::chrono::steady_clock::now() - began >= kYieldInterval) return true;
    }
}

}  // namespace v2bsp::app
