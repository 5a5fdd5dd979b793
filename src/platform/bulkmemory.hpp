// Memory for a large array that is filled right after it is taken: a map's
// image, the 3D View's level. A large block is taken straight from the system
// where that makes its first touches cheaper (on 2 MiB boundaries, offered
// huge pages, on Linux), and the elements are not zeroed first, since whoever
// asked fills them. Each operating system gives the way to a large block in
// a file of its own (posix/, win32/).
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace v2bsp {

void* allocateBulk(std::size_t bytes);
void freeBulk(void* pointer, std::size_t bytes);

// A large block straight from the system, for the two above; throws
// std::bad_alloc when there is none.
void* allocateSystemBlock(std::size_t bytes);
void freeSystemBlock(void* pointer, std::size_t bytes);

template <typename T>
struct BulkAllocator {
    using value_type = T;  // NOLINT(readability-identifier-naming): the name an allocator must have
    BulkAllocator() = default;
    template <typename U>
    BulkAllocator(const BulkAllocator<U>&) {}
    T* allocate(std::size_t count) { return static_cast<T*>(allocateBulk(count * sizeof(T))); }
    void deallocate(T* pointer, std::size_t count) { freeBulk(pointer, count * sizeof(T)); }
    // resize() leaves new elements as they are; a value given is stored.
    template <typename U>
    void construct(U* pointer) {
        ::new (static_cast<void*>(pointer)) U;
    }
    template <typename U, typename... Args>
    void construct(U* pointer, Args&&... args) {
        ::new (static_cast<void*>(pointer)) U(std::forward<Args>(args)...);
    }
    friend bool operator==(const BulkAllocator&, const BulkAllocator&) { return true; }
};

}  // namespace v2bsp
