// A second thread for one job at a time: the caller runs one half of a piece
// of work while the helper runs the other, and both halves end before the
// caller goes on (the mesh files' long runs of lines); or the helper runs a
// job of its own until the caller waits for it (the whole-level OBJ's runs).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace v2bsp {

class HelperThread {
public:
    HelperThread();
    // Waits for a job in progress, then ends the thread.
    ~HelperThread();
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    // Runs `there` on the helper while the calling thread runs `here`, and
    // returns when both have ended. An exception of either is thrown here
    // once both have ended (the caller's own first).
    void run(const std::function<void()>& here, std::function<void()> there);

    // Starts `job` on the helper and returns at once; the helper must be idle.
    void start(std::function<void()> job);
    // Waits for the job started last, if any, and throws what it threw.
    void wait();

    // Appends lines(out, 0, count) to `out`, made by `lines(text, from, to)`
    // in two halves: the first by the caller, the second by the helper. The
    // bytes are exactly those of one thread.
    template <typename Lines>
    void appendInHalves(std::string& out, std::size_t count, Lines lines) {
        const std::size_t half = count / 2;
        run([&] { lines(out, 0, half); },
            [&] {
                second_.clear();
                lines(second_, half, count);
            });
        out += second_;
    }

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::function<void()> job_;
    std::exception_ptr failure_;
    bool busy_ = false;  // a job is given and not yet done
    bool quit_ = false;
    std::string second_;  // the helper's half of appendInHalves
    std::thread thread_;
};

}  // namespace v2bsp
