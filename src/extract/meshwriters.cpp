#include "extract/meshwriters.hpp"

#include <algorithm>

namespace v2bsp {
namespace {

// How far helpers may run ahead of the caller, in meshes per thread: enough
// to keep them busy past a slow file, few enough to end soon when stopped.
constexpr std::size_t kAheadPerJob = 4;

}  // namespace

MeshFileWriters::MeshFileWriters(const MeshPlan& plan, unsigned jobs, WriteMesh write)
    : plan_(plan),
      write_(std::move(write)),
      // One thread needs no slots: it writes each mesh when it comes to it.
      slots_(jobs > 1 ? std::make_unique<Slot[]>(plan.meshes.size()) : nullptr),
      ahead_(kAheadPerJob * std::max(1u, jobs)),
      // The caller splits long sections with a thread of its own where there are cores for it.
      formatter_(std::min(2u, std::max(1u, jobs))) {
    for (unsigned helper = 1; helper < jobs && helper < plan.meshes.size(); ++helper) {
        helpers_.emplace_back([this] { helperLoop(); });
    }
}

MeshFileWriters::~MeshFileWriters() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
}

void MeshFileWriters::finish(std::size_t index, std::error_code failure) {
    {
        std::lock_guard lock(mutex_);
        slots_[index].failure = failure;
        slots_[index].state.store(done);
    }
    changed_.notify_all();
}

void MeshFileWriters::helperLoop() {
    LineFormatter formatter(1);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || (cursor_ < plan_.meshes.size() && cursor_ < position_ + ahead_); });
        if (stopping_) return;
        const std::size_t index = cursor_++;
        if (plan_.meshes[index].skip != MeshSkip::none) continue;
        int expected = waiting;
        if (!slots_[index].state.compare_exchange_strong(expected, taken)) continue;
        lock.unlock();
        std::error_code failure;
        try {
            failure = write_(plan_.meshes[index], formatter);
        } catch (const std::bad_alloc&) {
            failure = std::make_error_code(std::errc::not_enough_memory);
        }
        finish(index, failure);
        lock.lock();
    }
}

std::error_code MeshFileWriters::take(std::size_t index) {
    if (!slots_) {
        try {
            return write_(plan_.meshes[index], formatter_);
        } catch (const std::bad_alloc&) {
            return std::make_error_code(std::errc::not_enough_memory);
        }
    }
    {
        std::lock_guard lock(mutex_);
        position_ = index;
    }
    changed_.notify_all();
    const auto write_here = [this](std::size_t mesh) {
        std::error_code failure;
        try {
            failure = write_(plan_.meshes[mesh], formatter_);
        } catch (const std::bad_alloc&) {
            failure = std::make_error_code(std::errc::not_enough_memory);
        }
        return failure;
    };
    int expected = waiting;
    if (slots_[index].state.compare_exchange_strong(expected, taken)) return write_here(index);
    // A helper has this mesh: write a later one meanwhile rather than wait.
    const std::size_t end = std::min(plan_.meshes.size(), index + ahead_);
    for (std::size_t later = index + 1; later < end && slots_[index].state.load() != done; ++later) {
        if (plan_.meshes[later].skip != MeshSkip::none) continue;
        expected = waiting;
        if (slots_[later].state.compare_exchange_strong(expected, taken)) finish(later, write_here(later));
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return slots_[index].state.load() == done; });
    return slots_[index].failure;
}

}  // namespace v2bsp
