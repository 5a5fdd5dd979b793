#include "platform/bulkmemory.hpp"

#include <windows.h>

namespace v2bsp {

void* allocateSystemBlock(std::size_t bytes) {
    void* memory = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

void freeSystemBlock(void* pointer, std::size_t) {
    ::VirtualFree(pointer, 0, MEM_RELEASE);
}

}  // namespace v2bsp
