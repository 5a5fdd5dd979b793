// v2bsp-winicon FILE.ico: writes the program's icon for the Windows program
// file, at 16, 20, 32, 48 and 256 pixels. Runs on the build machine.
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "icondrawing.hpp"

namespace {

void put32be(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void chunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
    put32be(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32be(out, static_cast<std::uint32_t>(crc32(0, &out[start], static_cast<uInt>(out.size() - start))));
}

// An 8-bit RGBA PNG, each row with filter 0.
std::vector<std::uint8_t> png(const std::vector<std::uint8_t>& rgba, int size) {
    std::vector<std::uint8_t> raw;
    const std::size_t row = static_cast<std::size_t>(size) * 4;
    for (int y = 0; y < size; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgba.begin() + static_cast<std::ptrdiff_t>(y * row),
                   rgba.begin() + static_cast<std::ptrdiff_t>((y + 1) * row));
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION);
    packed.resize(packedSize);

    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<std::uint8_t> header;
    put32be(header, static_cast<std::uint32_t>(size));
    put32be(header, static_cast<std::uint32_t>(size));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, filter 0, no interlace
    chunk(out, "IHDR", header);
    chunk(out, "IDAT", packed);
    chunk(out, "IEND", {});
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: v2bsp-winicon FILE.ico\n");
        return 2;
    }
    const std::vector<int> sizes(std::begin(v2bsp::icon::kWindowsIconSizes), std::end(v2bsp::icon::kWindowsIconSizes));
    const std::vector<std::uint8_t> file = v2bsp::icon::iconFile(sizes, png);
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "v2bsp-winicon: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
