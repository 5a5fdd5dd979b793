#include "platform/bulkmemory.hpp"

#include <windows.h>

namespace v2bsp {
namespace {

// Below this a block comes from the ordinary heap.
constexpr std::size_t kLargeBlock = std::size_t{4} << 20;

}  // namespace

void* allocateBulk(std::size_t bytes) {
    if (bytes < kLargeBlock) return ::operator new(bytes);
    void* memory = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

void freeBulk(void* pointer, std::size_t bytes) {
    if (pointer == nullptr) return;
    if (bytes < kLargeBlock) {
        ::operator delete(pointer);
        return;
    }
    ::VirtualFree(pointer, 0, MEM_RELEASE);
}

}  // namespace v2bsp
