// The program's icon without a toolkit, for the Windows program file: the
// same picture as the window's (src/ui/appicon.cpp), a faceted solid on a
// dark rounded tile on a 20-unit grid, drawn with 8 x 8 samples a pixel.
#pragma once

#include <cstdint>
#include <vector>

namespace v2bsp::icon {

// The sizes the program file carries.
inline constexpr int kWindowsIconSizes[] = {16, 20, 32, 48, 256};

// `size` x `size` pixels, rows top first, each pixel red, green, blue, alpha
// (not premultiplied).
std::vector<std::uint8_t> drawIcon(int size);

// An .ico file of the pictures drawIcon makes at `sizes`: 32-bit images with
// their mask, and a PNG (made by `png`) for 256 pixels, as the system reads
// its largest icons.
using PngEncoder = std::vector<std::uint8_t> (*)(const std::vector<std::uint8_t>& rgba, int size);
std::vector<std::uint8_t> iconFile(const std::vector<int>& sizes, PngEncoder png);

}  // namespace v2bsp::icon
