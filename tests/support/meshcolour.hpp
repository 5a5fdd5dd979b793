// Which mesh of a level a pixel of the 3D View shows, by its colour.
#pragma once

#include <algorithm>
#include <cmath>

#include "app/level.hpp"

namespace v2bsp::fixtures {

// The mesh, of `meshes`, whose hue the colour (0 to 1 a channel) has, or -1
// for a grey such as the background: shading scales a colour, which keeps its
// hue. The hues of ten meshes lie 20 degrees apart or more.
inline int meshOfColour(double red, double green, double blue, int meshes) {
    const double high = std::max({red, green, blue}), low = std::min({red, green, blue}), span = high - low;
    if (high < 0.1 || span / high < 0.25) return -1;
    const double sector = high == red     ? (green - blue) / span
                          : high == green ? 2 + (blue - red) / span
                                          : 4 + (red - green) / span;
    const double hue = std::fmod(sector / 6 + 1, 1.0);
    int best = -1;
    double bestgap = 6.0 / 360;
    for (int m = 0; m < meshes; ++m) {
        double gap = std::abs(hue - app::meshHue(m));
        gap = std::min(gap, 1 - gap);
        if (gap < bestgap) bestgap = gap, best = m;
    }
    return best;
}

}  // namespace v2bsp::fixtures
