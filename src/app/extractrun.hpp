// A window's run of extractmap on a thread of its own.
//
// The run's thread reports through a host that only queues: log lines,
// problem lines, tag names, the failure, and at last the end (the
// ExtractResult, the run's MapExtraction with its plan, and the level decoded
// for the 3D View while the run wrote); for a large level, the level's
// positions and indices after the end. The window takes what is queued when
// it asks, on its own thread, and gets it in the run's order through the
// RunWindow interface. The run never waits for the window, and the window
// waits for the run only when it asks to (waitForEvents).
//
// The run tells the window there is something to take through `wake`, a
// call on the run's thread that only posts (a queued call, a message to the
// window): once after the window has taken everything, then not again until
// it takes, except that the end always wakes it. When deliver() returns
// true, more is queued and no wake comes for it: the window asks again after
// handling its own events. A window may take at most every kTakeInterval
// (a timer started by the wake), so that a fast run of thousands of lines
// wakes it a few times, not thousands; endQueued() says when to take at once.
//
// stop() ends the run at its next log line (extractmap asks after every
// line); the files written are whole, since a stop waits for the files in
// progress. The end is delivered all the same, and exactly once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "app/level.hpp"
#include "extract/extraction.hpp"
#include "platform/workerpool.hpp"

namespace v2bsp::app {

// How often at most deliver() lets the window handle its own events in the
// middle of what is queued: it returns after the run's first line, and after
// a line when it has been delivering this long.
inline constexpr std::chrono::milliseconds kYieldInterval{15};

// How often at most a window takes what the run queued, but for the run's
// end: ten times a second keeps the log moving, and leaves the window's
// system the rest. Under wine a window that took every few milliseconds
// answered the window manager's pings only now and then.
inline constexpr std::chrono::milliseconds kTakeInterval{100};

// What ends a run.
struct RunEnd {
    ExtractResult result;
    // The run's state; its plan is what the 3D View and Save As read.
    std::unique_ptr<MapExtraction> extraction;
    // Decoded while the run wrote, when the request asked for it and the run
    // went to its end without being stopped. A large level comes without its
    // positions and indices (arraysToCome): RunWindow::levelArrays brings them.
    std::optional<LevelGeometry> level;
    // Complete or incomplete: the run was neither refused nor stopped.
    bool toItsEnd() const;
};

// The window side: what a run reported, in its order, on the window's thread.
class RunWindow {
public:
    virtual ~RunWindow() = default;
    virtual void logline(std::string_view line) = 0;
    // A line that reports missing output; by default a log line.
    virtual void logProblem(std::string_view line) { logline(line); }
    virtual void addTagName(std::string_view name) = 0;
    // The map was refused; nothing was created. The end follows.
    virtual void mapFailed(const MapFailure& failure) = 0;
    // The last call of a run but levelArrays. The window may start another
    // run from here; the window keeps the end's extraction until it does, or
    // until the ExtractRun's end, when the end's level awaits its arrays.
    virtual void runEnded(RunEnd end) = 0;
    // After runEnded, when its level came without them: the level's
    // positions and indices (LevelDecode::whole of the plan), decoded on the
    // run's thread after the end. Not called when another run starts, or the
    // run is stopped, first.
    virtual void levelArrays(LevelGeometry arrays) = 0;
};

struct RunRequest {
    std::string path;  // the map, as the file system's bytes
    // Seams (files, claims) must outlive the run.
    ExtractSettings settings;
    // Decode the level for the 3D View while the run writes (on a helper of
    // the run's pool, one more than the writers', from the plan), for
    // RunEnd::level: a large level's first picture, its arrays after the end.
    bool decodeLevel = false;
};

class ExtractRun {
public:
    // `wake`: see above; called on the run's thread, so it must be safe to
    // call from any thread, and cheap. May be empty for a window that polls.
    // `startThread` makes the run's thread (empty: std::thread); where the
    // system makes none, the run goes on the window's thread, inside start().
    explicit ExtractRun(std::function<void()> wake = {}, WorkerPool::StartThread startThread = {});
    // Stops a run in progress and waits for its thread; what it queued is dropped.
    ~ExtractRun();
    ExtractRun(const ExtractRun&) = delete;
    ExtractRun& operator=(const ExtractRun&) = delete;

    // Window thread. Starts a run; false (and nothing happens) while one is
    // running. The last run's arrays still to come are stopped and dropped.
    bool start(RunRequest request);
    // Window thread. Started, and its end not yet delivered.
    bool running() const { return running_; }

    // Any thread. The run ends at its next log line.
    void stop();
    bool stopping() const { return stop_; }
    // Any thread. The run's end is queued: nothing more comes of this run.
    bool endQueued() const { return endQueued_; }
    // Window thread. What the window calls, on any thread and at most once,
    // when a large level's arrays are wanted: its first picture is drawn,
    // which their decoding would slow. The run's thread decodes them only
    // then (on the window's thread, when the run went there, at once). It
    // may outlive this object; the next start or the stop makes it nothing.
    std::function<void()> arraysWanted();

    // Window thread. Delivers what is queued to `window`, in order; returns
    // true when more is queued (the window yields, then asks again), false
    // when nothing is left. A call from inside a call (a modal box shown by
    // the window while it takes a line) returns false at once; the outer
    // call goes on.
    bool deliver(RunWindow& window);
    // Window thread. Blocks until something is queued or `timeout` passes;
    // true when something is queued.
    bool waitForEvents(std::chrono::milliseconds timeout);

private:
    class QueueingHost;
    struct Event;
    // Opened by arraysWanted()'s call, the next start or the stop.
    struct Gate;
    void push(Event event);
    // `arraysGate`: on the run's own thread, the gate of its arrays; none
    // on the window's.
    void work(RunRequest request, Gate* arraysGate);
    void finishThread();

    std::function<void()> wake_;
    WorkerPool::StartThread startThread_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<Event> queue_;   // filled by the run's thread
    std::deque<Event> taking_;  // taken by the window, not yet delivered
    bool wakePending_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<bool> endQueued_{false};
    std::atomic<bool> arraysToCome_{false};  // the run's thread goes on after the end, to the level's arrays
    std::shared_ptr<Gate> arraysGate_;       // this run's; under mutex_
    bool running_ = false;
    bool delivering_ = false;
    bool firstLine_ = false;  // the run's first line is still to be delivered
    std::thread thread_;
};

}  // namespace v2bsp::app
