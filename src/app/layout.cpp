#include "app/layout.hpp"

#include <algorithm>
#include <cmath>

namespace v2bsp::app {

int twipsToPixels(double twips, double dpi) {
    if (!(dpi > 0)) dpi = 96;
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

// Edges, not widths, are rounded: two controls 7.5 px wide side by side
// would otherwise leave a gap between them.
Rect pixelRect(const TwipsRect& place, double dpi) {
    const int x = twipsToPixels(place.left, dpi);
    const int y = twipsToPixels(place.top, dpi);
    return {x, y, twipsToPixels(place.left + place.width, dpi) - x, twipsToPixels(place.top + place.height, dpi) - y};
}

const Control* findControl(const FormLayout& form, std::string_view name) {
    const auto found = std::find_if(form.controls.begin(), form.controls.end(),
                                    [name](const Control& control) { return control.name == name; });
    return found == form.controls.end() ? nullptr : &*found;
}

const MenuItem* findMenuItem(const FormLayout& form, std::string_view name) {
    const auto found =
        std::find_if(form.menu.begin(), form.menu.end(), [name](const MenuItem& item) { return item.name == name; });
    return found == form.menu.end() ? nullptr : &*found;
}

std::string toolbarText(const MenuItem& item) {
    // "&&" stands for "&" itself.
    std::string text;
    const std::string_view caption = item.caption;
    for (std::size_t at = 0; at < caption.size(); ++at) {
        if (caption[at] != '&') {
            text.push_back(caption[at]);
        } else if (caption.size() - at > 1 && caption[at + 1] == '&') {
            text.push_back('&');
            ++at;
        }
    }
    if (text.ends_with("...")) text.resize(text.size() - 3);
    return text;
}

int clientPixels(const FormLayout& form, double outerWidth, double dpi) {
    return twipsToPixels(outerWidth - form.frameWidth, dpi);
}

}  // namespace v2bsp::app
