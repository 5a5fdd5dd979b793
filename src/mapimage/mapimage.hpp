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
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace v2bsp {

using ByteView = std::span<const std::uint8_t>;

// True when the `length` bytes from `offset` all lie inside an image of `size` bytes.
constexpr bool inside(std::int64_t offset, std::int64_t length, std::size_t size) {
    const auto image_length = static_cast<std::int64_t>(size);
    return offset >= 0 && length >= 0 && offset <= image_length && image_length - offset >= length;
}

// A failure to read a map: what was being read, where, and how long the image is.
// `message()` renders it as a sentence a user can act on.
class MapError : public std::runtime_error {
public:
    // A read of `length` bytes at `offset` that does not lie inside an image of `size` bytes.
    MapError(std::string what, std::int64_t offset, std::int64_t length, std::size_t size);
    // A failure that is not about one offset ("empty file", "cannot open x: ...").
    explicit MapError(const std::string& reason);

    const std::string& what_read() const { return what_read_; }
    std::int64_t offset() const { return offset_; }
    std::int64_t length() const { return length_; }
    std::int64_t image_length() const { return image_length_; }
    bool has_offset() const { return has_offset_; }

private:
    std::string what_read_;
    std::int64_t offset_ = 0;
    std::int64_t length_ = 0;
    std::int64_t image_length_ = 0;
    bool has_offset_ = false;
};

// Throws MapError naming `what` unless the `length` bytes at `offset` lie inside `image`.
void requireinside(ByteView image, std::int64_t offset, std::int64_t length, std::string_view what);

// The unsigned 32-bit value of the four bytes at `offset`. With `littleendian`
// true that is b0 + 256*b1 + 65536*b2 + 16777216*b3; otherwise file order.
// Throws MapError (naming `what`) when the four bytes are not all inside.
std::uint32_t readu32(ByteView image, std::int64_t offset, bool littleendian,
                      std::string_view what = "value");

// The same four bytes as four characters, one per byte (a zero byte included):
// c3 c2 c1 c0 with `littleendian` true, c0 c1 c2 c3 otherwise. Throws as readu32.
std::string readfourcc(ByteView image, std::int64_t offset, bool littleendian,
                       std::string_view what = "value");

// Unchecked little-endian 32-bit load; the caller has proved the bytes inside.
inline std::uint32_t loadu32le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The whole of a regular file, read with one bulk read. Never creates a file.
// Throws MapError with a reason a user can act on: "cannot open <path>: <OS reason>",
// "<path> is a folder", "<path> is not a regular file", "empty file",
// "file is larger than 2147483647 bytes", or a read error.
std::vector<std::uint8_t> loadmapfile(const std::filesystem::path& path);

}  // namespace v2bsp
