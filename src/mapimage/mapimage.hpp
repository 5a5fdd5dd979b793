// The byte image of a map and the readers that take values out of it.
//
// Conventions, stated once: a map image is the whole map file as bytes, index 0
// being the first byte of the file. Offsets are signed 64-bit whole numbers so
// that address arithmetic (which may go negative or beyond 32 bits) never wraps;
// a range of bytes is inside the image when its start is at least 0 and
// start + length is at most the image's length. Every reader checks that rule
// by comparing with the bytes that remain, and never returns a partial value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace v2bsp {

using ByteView = std::span<const std::uint8_t>;

// True when the `length` bytes from `offset` all lie inside an image of `size` bytes.
constexpr bool inside(std::int64_t offset, std::int64_t length, std::size_t size) {
    const auto imageLength = static_cast<std::int64_t>(size);
    return offset >= 0 && length >= 0 && offset <= imageLength && imageLength - offset >= length;
}

// Why a map could not be read.
enum class MapErrorKind {
    outside,      // bytes to be read lie outside the file
    tooLarge,     // a count is larger than the format allows
    pastEnd,      // a table runs past the end of the file
    missing,      // something every map holds is not there
    noFile,       // no path was given
    cannotOpen,   // the OS refused to open the file
    cannotRead,   // the OS failed a read
    folder,       // the path names a folder
    notRegular,   // the path names a device, a FIFO, a socket ...
    empty,        // the file holds no byte
    tooLong,      // the file is longer than a map can be
    shrank,       // the file became shorter while it was read
    outOfMemory,  // the map could not be held in memory
};

// A failure to read a map, as one value: its kind, the offset and the file's
// length (or the path and the OS's reason), and the sentence the user sees,
// rendered once into what(), which names what was being read. offset() is 0
// but for outside, tooLarge and pastEnd; length() is 0 but for outside.
class MapError : public std::runtime_error {
public:
    // A read of `length` bytes at `offset` that does not lie inside an image of `size` bytes.
    static MapError outside(std::string what, std::int64_t offset, std::int64_t length, std::size_t size);
    // `what` of `value` at `offset` is above `limit`.
    static MapError tooLarge(std::string what, std::int64_t value, std::int64_t offset, std::int64_t limit,
                             std::size_t size);
    // `what`, starting at `offset`, runs past the end; `detail` ends the sentence (may be empty).
    static MapError pastEnd(std::string what, std::int64_t offset, std::size_t size, std::string detail = {});
    // No `what` where every map has one.
    static MapError missing(std::string what, std::size_t size);
    // The file itself: `osError` is the system's reason of cannotOpen and
    // cannotRead (its message() is the text shown), else empty.
    static MapError file(MapErrorKind kind, std::string path, std::error_code osError = {});
    static MapError outOfMemory(std::size_t size);

    MapErrorKind kind() const { return kind_; }
    std::int64_t offset() const { return offset_; }
    std::int64_t length() const { return length_; }
    std::int64_t imageLength() const { return imageLength_; }
    const std::string& path() const { return path_; }
    const std::error_code& osError() const { return osError_; }

private:
    struct Fields {
        MapErrorKind kind = MapErrorKind::outside;
        std::string what;
        std::int64_t offset = 0;
        std::int64_t length = 0;
        std::int64_t value = 0;
        std::int64_t limit = 0;
        std::int64_t imageLength = 0;
        std::string detail;
        std::string path;
        std::error_code osError;
    };
    explicit MapError(Fields fields);
    static std::string render(const Fields& fields);

    MapErrorKind kind_;
    std::int64_t offset_;
    std::int64_t length_;
    std::int64_t imageLength_;
    std::string path_;
    std::error_code osError_;
};

// Throws MapError naming `what` unless the `length` bytes at `offset` lie inside `image`.
void requireInside(ByteView image, std::int64_t offset, std::int64_t length, std::string_view what);

// The unsigned 32-bit value of the four bytes at `offset`. With `littleendian`
// true that is b0 + 256*b1 + 65536*b2 + 16777216*b3; otherwise file order.
// Throws MapError (naming `what`) when the four bytes are not all inside.
std::uint32_t readu32(ByteView image, std::int64_t offset, bool littleendian, std::string_view what = "value");

// Unchecked little-endian loads; the caller has proved the bytes inside.
inline std::uint32_t loadu16le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}

inline std::uint32_t loadu32le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace v2bsp
