#include "mapimage/mapimage.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace v2bsp {
namespace {

std::string describeRead(const std::string& what, std::int64_t offset, std::int64_t length,
                         std::size_t size) {
    std::string text = what + " at offset " + std::to_string(offset);
    if (length != 4) text += " (" + std::to_string(length) + " bytes)";
    return text + " lies outside the file (length " + std::to_string(size) + ")";
}

// The four bytes at `offset`, in file order, after the bounds check.
const std::uint8_t* fourBytes(ByteView image, std::int64_t offset, std::string_view what) {
    requireinside(image, offset, 4, what);
    return image.data() + offset;
}

std::string osReason(int error) { return std::strerror(error); }

}  // namespace

MapError::MapError(std::string what, std::int64_t offset, std::int64_t length, std::size_t size)
    : std::runtime_error(describeRead(what, offset, length, size)),
      what_read_(std::move(what)),
      offset_(offset),
      length_(length),
      image_length_(static_cast<std::int64_t>(size)),
      has_offset_(true) {}

MapError::MapError(const std::string& reason) : std::runtime_error(reason) {}

void requireinside(ByteView image, std::int64_t offset, std::int64_t length, std::string_view what) {
    if (!inside(offset, length, image.size())) {
        throw MapError(std::string(what), offset, length, image.size());
    }
}

std::uint32_t readu32(ByteView image, std::int64_t offset, bool littleendian,
                      std::string_view what) {
    const std::uint8_t* p = fourBytes(image, offset, what);
    if (littleendian) return loadu32le(p);
    return static_cast<std::uint32_t>(p[3]) | static_cast<std::uint32_t>(p[2]) << 8 |
           static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[0]) << 24;
}

std::string readfourcc(ByteView image, std::int64_t offset, bool littleendian,
                       std::string_view what) {
    const std::uint8_t* p = fourBytes(image, offset, what);
    std::string text(4, '\0');
    for (int i = 0; i < 4; ++i) text[i] = static_cast<char>(p[littleendian ? 3 - i : i]);
    return text;
}

std::vector<std::uint8_t> loadmapfile(const std::filesystem::path& path) {
    const std::string shown = path.string();
    if (shown.empty()) throw MapError("no map file was chosen");
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused right after.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw MapError("cannot open " + shown + ": " + osReason(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) throw MapError("cannot read " + shown + ": " + osReason(errno));
    if (S_ISDIR(info.st_mode)) throw MapError(shown + " is a folder, not a map file");
    if (!S_ISREG(info.st_mode)) throw MapError(shown + " is not a regular file");
    if (info.st_size == 0) throw MapError("empty file");
    if (info.st_size > std::numeric_limits<std::int32_t>::max()) {
        throw MapError("file is larger than 2147483647 bytes");
    }

    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw MapError("cannot read " + shown + ": " + osReason(errno));
        }
        if (got == 0) {
            // The file shrank between its length being taken and the read.
            throw MapError("file " + shown + " became shorter while it was read");
        }
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

}  // namespace v2bsp
