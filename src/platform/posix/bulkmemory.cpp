#include "platform/bulkmemory.hpp"

#include <sys/mman.h>

namespace v2bsp {
namespace {

// Below this a block comes from the ordinary heap.
constexpr std::size_t kLargeBlock = std::size_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t wholeHugePages(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* allocateBulk(std::size_t bytes) {
    if (bytes < kLargeBlock) return ::operator new(bytes);
    const std::size_t length = wholeHugePages(bytes);
    void* memory = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    ::madvise(memory, length, MADV_HUGEPAGE);  // only advice: refused, the pages are ordinary ones
    return memory;
}

void freeBulk(void* pointer, std::size_t bytes) {
    if (pointer == nullptr) return;
    if (bytes < kLargeBlock) {
        ::operator delete(pointer);
        return;
    }
    ::munmap(pointer, wholeHugePages(bytes));
}

}  // namespace v2bsp
