#include "ui/twips.hpp"

#include <cmath>

namespace v2bsp::ui {

Twips::Twips(double dpi) : dpi_(dpi > 0 ? dpi : 96.0) {}

int Twips::pixels(double twips) const {
    return static_cast<int>(std::lround(twips * dpi_ / kTwipsPerInch));
}

QRect Twips::rect(double left, double top, double width, double height) const {
    const int x = pixels(left);
    const int y = pixels(top);
    return {x, y, pixels(left + width) - x, pixels(top + height) - y};
}

}  // namespace v2bsp::ui
