#include <sys/mman.h>

#include "platform/bulkmemory.hpp"

namespace v2bsp {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t wholeHugePages(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* allocateSystemBlock(std::size_t bytes) {
    const std::size_t length = wholeHugePages(bytes);
    void* memory = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    ::madvise(memory, length, MADV_HUGEPAGE);  // only advice: refused, the pages are ordinary ones
    return memory;
}

void freeSystemBlock(void* pointer, std::size_t bytes) {
    ::munmap(pointer, wholeHugePages(bytes));
}

}  // namespace v2bsp
