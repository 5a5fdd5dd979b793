#include "mapimage/mapimage.hpp"

namespace v2bsp {
namespace {

// The four bytes at `offset`, in file order, after the bounds check.
const std::uint8_t* fourBytes(ByteView image, std::int64_t offset, std::string_view what) {
    requireInside(image, offset, 4, what);
    return image.data() + offset;
}

}  // namespace

MapError::MapError(Fields fields)
    : std::runtime_error(render(fields)),
      kind_(fields.kind),
      offset_(fields.offset),
      length_(fields.length),
      imageLength_(fields.imageLength),
      path_(std::move(fields.path)),
      osError_(fields.osError) {}

namespace {

// A reason reads as a sentence of its own: the first letter capital and a full
// stop at the end. The names of what was read stay as written (lower case but
// for abbreviations such as BSP), so only the first letter changes.
std::string sentence(std::string text) {
    if (!text.empty() && text.front() >= 'a' && text.front() <= 'z')
        text.front() = static_cast<char>(text.front() - 'a' + 'A');
    if (text.empty() || text.back() != '.') text += '.';
    return text;
}

}  // namespace

std::string MapError::render(const Fields& f) {
    const std::string at = " at offset " + std::to_string(f.offset);
    const std::string fileLength = "the file (length " + std::to_string(f.imageLength) + ")";
    switch (f.kind) {
        case MapErrorKind::outside: {
            const std::string bytes = f.length != 4 ? " (" + std::to_string(f.length) + " bytes)" : "";
            return sentence(f.what + at + bytes + " lies outside " + fileLength);
        }
        case MapErrorKind::tooLarge:
            return sentence(f.what + " " + std::to_string(f.value) + at + " is too large (at most " +
                            std::to_string(f.limit) + ")");
        case MapErrorKind::pastEnd:
            return sentence(f.what + at + " runs past the end of " + fileLength + f.detail);
        case MapErrorKind::missing:
            return sentence("no " + f.what);
        case MapErrorKind::noFile:
            return "No map file was chosen.";
        case MapErrorKind::cannotOpen:
            return sentence("cannot open " + f.path + ": " + f.osError.message());
        case MapErrorKind::cannotRead:
            return sentence("cannot read " + f.path + ": " + f.osError.message());
        case MapErrorKind::folder:
            return sentence("the path " + f.path + " names a folder, not a map file");
        case MapErrorKind::notRegular:
            return sentence("the path " + f.path + " does not name a regular file");
        case MapErrorKind::empty:
            return "The file is empty.";
        case MapErrorKind::tooLong:
            return "The file is larger than 2147483647 bytes.";
        case MapErrorKind::shrank:
            return sentence("the file " + f.path + " became shorter while it was read");
        case MapErrorKind::outOfMemory:
            // Not a fault of the map: a reason like the system's own (a capital, no full stop),
            // shown after "Could not read <path>: ".
            return "There is not enough memory to hold it (" + std::to_string(f.imageLength) + " bytes)";
    }
    return "The map cannot be read.";
}

MapError MapError::outside(std::string what, std::int64_t offset, std::int64_t length, std::size_t size) {
    Fields f;
    f.kind = MapErrorKind::outside;
    f.what = std::move(what);
    f.offset = offset;
    f.length = length;
    f.imageLength = static_cast<std::int64_t>(size);
    return MapError(std::move(f));
}

MapError MapError::tooLarge(std::string what, std::int64_t value, std::int64_t offset, std::int64_t limit,
                            std::size_t size) {
    Fields f;
    f.kind = MapErrorKind::tooLarge;
    f.what = std::move(what);
    f.offset = offset;
    f.value = value;
    f.limit = limit;
    f.imageLength = static_cast<std::int64_t>(size);
    return MapError(std::move(f));
}

MapError MapError::pastEnd(std::string what, std::int64_t offset, std::size_t size, std::string detail) {
    Fields f;
    f.kind = MapErrorKind::pastEnd;
    f.what = std::move(what);
    f.offset = offset;
    f.imageLength = static_cast<std::int64_t>(size);
    f.detail = std::move(detail);
    return MapError(std::move(f));
}

MapError MapError::missing(std::string what, std::size_t size) {
    Fields f;
    f.kind = MapErrorKind::missing;
    f.what = std::move(what);
    f.imageLength = static_cast<std::int64_t>(size);
    return MapError(std::move(f));
}

MapError MapError::file(MapErrorKind kind, std::string path, std::error_code osError) {
    Fields f;
    f.kind = kind;
    f.path = std::move(path);
    f.osError = osError;
    return MapError(std::move(f));
}

MapError MapError::outOfMemory(std::size_t size) {
    Fields f;
    f.kind = MapErrorKind::outOfMemory;
    f.imageLength = static_cast<std::int64_t>(size);
    return MapError(std::move(f));
}

void requireInside(ByteView image, std::int64_t offset, std::int64_t length, std::string_view what) {
    if (!inside(offset, length, image.size())) {
        throw MapError::outside(std::string(what), offset, length, image.size());
    }
}

std::uint32_t readu32(ByteView image, std::int64_t offset, bool littleendian, std::string_view what) {
    const std::uint8_t* p = fourBytes(image, offset, what);
    if (littleendian) return loadu32le(p);
    return static_cast<std::uint32_t>(p[3]) | static_cast<std::uint32_t>(p[2]) << 8 |
           static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[0]) << 24;
}

}  // namespace v2bsp
