// The map load: the one place where a map file is read from the system.
//
// A map is read whole into memory; everything after the load works on those
// bytes. Each operating system gives the functions below in a file of its own
// (posix/, win32/); nothing else in the program asks the system for a map.
#pragma once

#include <cstddef>
#include <filesystem>
#include <new>
#include <vector>

#include "mapimage/mapimage.hpp"
#include "platform/bulkmemory.hpp"
#include "platform/outputfiles.hpp"
#include "platform/workerpool.hpp"

namespace v2bsp {

// Its bytes are not zeroed before the read fills them.
using MapBytes = std::vector<std::uint8_t, BulkAllocator<std::uint8_t>>;

// Room for a map of `size` bytes, not yet read; MapError::outOfMemory when
// there is not that much memory to be had.
inline MapBytes mapBytesFor(std::size_t size) {
    try {
        return MapBytes(size);
    } catch (const std::bad_alloc&) {
        throw MapError::outOfMemory(size);
    }
}

// The whole of a regular file, read in one bulk read (an implementation may
// read a large file in two parts at once, the second on a helper of `pool`
// when it has one). Never creates a file.
// Throws MapError with a reason a user can act on: "cannot open <path>: <OS reason>",
// "<path> is a folder", "<path> is not a regular file", "empty file",
// "file is larger than 2147483647 bytes", or a read error. Sets `identity`,
// when given, to the file's, so that no output ever replaces the map.
MapBytes loadMapFile(const std::filesystem::path& path, FileIdentity* identity = nullptr, WorkerPool* pool = nullptr);

}  // namespace v2bsp
