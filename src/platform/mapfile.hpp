// The map load: the one place where a map file is read from the system.
//
// A map is read whole into memory; everything after the load works on those
// bytes. Each operating system gives the functions below in a file of its own
// (posix/, win32/); nothing else in the program asks the system for a map.
#pragma once

#include <cstddef>
#include <filesystem>
#include <new>
#include <utility>
#include <vector>

#include "mapimage/mapimage.hpp"
#include "platform/outputfiles.hpp"

namespace v2bsp {

// Memory for a whole map image: a large one is taken straight from the system
// where that makes first touches cheaper (on 2 MiB boundaries, offered huge
// pages, on Linux); its bytes are not zeroed first, since the read fills them.
void* allocateMapImage(std::size_t bytes);
void freeMapImage(void* pointer, std::size_t bytes);

template <typename T>
struct MapImageAllocator {
    using value_type = T;
    MapImageAllocator() = default;
    template <typename U>
    MapImageAllocator(const MapImageAllocator<U>&) {}
    T* allocate(std::size_t count) { return static_cast<T*>(allocateMapImage(count * sizeof(T))); }
    void deallocate(T* pointer, std::size_t count) { freeMapImage(pointer, count * sizeof(T)); }
    template <typename U>
    void construct(U* pointer) {
        ::new (static_cast<void*>(pointer)) U;
    }
    template <typename U, typename... Args>
    void construct(U* pointer, Args&&... args) {
        ::new (static_cast<void*>(pointer)) U(std::forward<Args>(args)...);
    }
    friend bool operator==(const MapImageAllocator&, const MapImageAllocator&) { return true; }
};

using MapBytes = std::vector<std::uint8_t, MapImageAllocator<std::uint8_t>>;

// The whole of a regular file, read in one bulk read (an implementation may
// read a large file in two parts at once). Never creates a file.
// Throws MapError with a reason a user can act on: "cannot open <path>: <OS reason>",
// "<path> is a folder", "<path> is not a regular file", "empty file",
// "file is larger than 2147483647 bytes", or a read error. Sets `identity`,
// when given, to the file's, so that no output ever replaces the map.
MapBytes loadMapFile(const std::filesystem::path& path, FileIdentity* identity = nullptr);

}  // namespace v2bsp
