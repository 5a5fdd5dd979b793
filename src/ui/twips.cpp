#include "ui/twips.hpp"

#include "app/layout.hpp"

namespace v2bsp::ui {

Twips::Twips(double dpi) : dpi_(dpi > 0 ? dpi : 96.0) {}

int Twips::pixels(double twips) const {
    return app::twipsToPixels(twips, dpi_);
}

QRect Twips::rect(double left, double top, double width, double height) const {
    const app::Rect at = app::pixelRect({left, top, width, height}, dpi_);
    return {at.x, at.y, at.width, at.height};
}

}  // namespace v2bsp::ui
