// The mesh files of a run written on several threads, with the outcome of
// one: the caller asks for each mesh's outcome in mesh order and writes the
// mesh itself unless a helper thread has taken it ahead. Helpers run at most
// a few meshes ahead of the caller, so a run that stops at a log line ends
// soon; a file a helper has begun is finished whole before the writers end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "extract/meshtext.hpp"
#include "writers/levelmesh.hpp"

namespace v2bsp {

class MeshFileWriters {
public:
    // Writes one mesh's file with the formatter of the thread that calls it.
    using WriteMesh = std::function<std::error_code(const PlannedMesh&, LineFormatter&)>;

    // `jobs` threads in all, the caller's included; only meshes not skipped are written.
    MeshFileWriters(const MeshPlan& plan, unsigned jobs, WriteMesh write);
    // Lets the files in progress end, then ends the helpers.
    ~MeshFileWriters();
    MeshFileWriters(const MeshFileWriters&) = delete;
    MeshFileWriters& operator=(const MeshFileWriters&) = delete;

    // The outcome of writing mesh `index` (a mesh not skipped, each asked for
    // once, in increasing order).
    std::error_code take(std::size_t index);

private:
    enum State : int { waiting = 0, taken = 1, done = 2 };
    struct Slot {
        std::atomic<int> state{waiting};
        std::error_code failure;
    };

    void helperLoop();
    void finish(std::size_t index, std::error_code failure);

    const MeshPlan& plan_;
    WriteMesh write_;
    std::unique_ptr<Slot[]> slots_;
    std::size_t ahead_;
    LineFormatter formatter_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t position_ = 0;  // the caller's mesh
    std::size_t cursor_ = 0;    // the next mesh a helper looks at
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

}  // namespace v2bsp
