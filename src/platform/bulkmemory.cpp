#include "platform/bulkmemory.hpp"

namespace v2bsp {
namespace {

// Below this a block comes from the ordinary heap.
constexpr std::size_t kLargeBlock = std::size_t{4} << 20;

}  // namespace

void* allocateBulk(std::size_t bytes) {
    return bytes < kLargeBlock ? ::operator new(bytes) : allocateSystemBlock(bytes);
}

void freeBulk(void* pointer, std::size_t bytes) {
    if (pointer == nullptr) return;
    if (bytes < kLargeBlock) {
        ::operator delete(pointer);
    } else {
        freeSystemBlock(pointer, bytes);
    }
}

}  // namespace v2bsp
