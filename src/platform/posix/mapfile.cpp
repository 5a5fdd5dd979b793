#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

#include "platform/mapfile.hpp"

namespace v2bsp {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// From this length on a map is read in two halves at once: the copy out of
// the system's cache, and the first touch of the pages it fills, are most of
// a load, and a second core halves them.
constexpr std::size_t kReadInHalves = std::size_t{16} << 20;

// How a read of part of a file ended: 0, an errno, or kEnded when the file
// ended first.
constexpr int kEnded = -1;

int readPart(int fd, std::uint8_t* data, std::size_t length, std::size_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, data + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return kEnded;
        done += static_cast<std::size_t>(got);
    }
    return 0;
}

// Reads all of `bytes` from the start of the file; the outcome as readPart's.
int readWhole(int fd, MapBytes& bytes, WorkerPool* pool) {
    if (bytes.size() < kReadInHalves || pool == nullptr || pool->helpers() == 0) {
        return readPart(fd, bytes.data(), bytes.size(), 0);
    }
    // The second half starts on a huge page's boundary in memory, so that no
    // page is first touched by both threads (the image itself may start
    // anywhere on a small page).
    const auto start = reinterpret_cast<std::uintptr_t>(bytes.data());
    const std::size_t half = (start + bytes.size() / 2) / kHugePage * kHugePage - start;
    struct Part {
        int fd;
        std::uint8_t* data;
        std::size_t length, offset;
        int outcome = 0;
    } second{fd, bytes.data() + half, bytes.size() - half, half};
    // Read here after the first when no helper takes it.
    PoolTask task;
    pool->post(task, [&second] { second.outcome = readPart(second.fd, second.data, second.length, second.offset); });
    const int first = readPart(fd, bytes.data(), half, 0);
    pool->wait(task);
    return first != 0 ? first : second.outcome;
}

}  // namespace

MapBytes loadMapFile(const std::filesystem::path& path, FileIdentity* identity, WorkerPool* pool) {
    const std::string shown = path.string();
    if (shown.empty()) throw MapError::file(MapErrorKind::noFile, shown);
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused right after.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw MapError::file(MapErrorKind::cannotOpen, shown, lastError());
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) throw MapError::file(MapErrorKind::cannotRead, shown, lastError());
    if (S_ISDIR(info.st_mode)) throw MapError::file(MapErrorKind::folder, shown);
    if (!S_ISREG(info.st_mode)) throw MapError::file(MapErrorKind::notRegular, shown);
    if (info.st_size == 0) throw MapError::file(MapErrorKind::empty, shown);
    if (identity != nullptr) {
        *identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), true};
    }
    if (info.st_size > std::numeric_limits<std::int32_t>::max()) {
        throw MapError::file(MapErrorKind::tooLong, shown);
    }

    MapBytes bytes = mapBytesFor(static_cast<std::size_t>(info.st_size));
    const int outcome = readWhole(fd, bytes, pool);
    if (outcome == kEnded) {
        // The file shrank between its length being taken and the read.
        throw MapError::file(MapErrorKind::shrank, shown);
    }
    if (outcome != 0) throw MapError::file(MapErrorKind::cannotRead, shown, {outcome, std::generic_category()});
    return bytes;
}

}  // namespace v2bsp
