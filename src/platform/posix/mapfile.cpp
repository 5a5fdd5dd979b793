#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/mapfile.hpp"

namespace v2bsp {
namespace {

// Below this an image comes from the ordinary heap.
constexpr std::size_t kLargeImage = std::size_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::size_t wholeHugePages(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* allocateMapImage(std::size_t bytes) {
    if (bytes < kLargeImage) return ::operator new(bytes);
    const std::size_t length = wholeHugePages(bytes);
    void* memory = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    ::madvise(memory, length, MADV_HUGEPAGE);  // only advice: refused, the pages are ordinary ones
    return memory;
}

void freeMapImage(void* pointer, std::size_t bytes) {
    if (pointer == nullptr) return;
    if (bytes < kLargeImage) {
        ::operator delete(pointer);
        return;
    }
    ::munmap(pointer, wholeHugePages(bytes));
}

MapBytes loadMapFile(const std::filesystem::path& path, FileIdentity* identity) {
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

    MapBytes bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw MapError::file(MapErrorKind::cannotRead, shown, lastError());
        }
        if (got == 0) {
            // The file shrank between its length being taken and the read.
            throw MapError::file(MapErrorKind::shrank, shown);
        }
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

}  // namespace v2bsp
