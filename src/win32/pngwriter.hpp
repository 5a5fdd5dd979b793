// PNG files through the system's image encoder (WIC).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace v2bsp::win32 {

// Makes `file` the PNG of a `width` x `height` picture of 8-bit blue, green,
// red, alpha pixels, rows top first, `stride` bytes apart. It is written to a
// temporary file in the same folder and moved into place once whole, so a
// failed save leaves an earlier `file` as it was and no temporary file.
// Empty on success, else why not, in the system's words.
std::string writePng(const std::filesystem::path& file, int width, int height, const std::uint8_t* bgra, int stride);

}  // namespace v2bsp::win32
