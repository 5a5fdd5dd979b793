#include "app/placement.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace v2bsp::app {
namespace {

std::int64_t overlap(const Rect& a, const Rect& b) {
    const std::int64_t w = std::max(0, std::min(a.right(), b.right()) - std::max(a.x, b.x));
    const std::int64_t h = std::max(0, std::min(a.bottom(), b.bottom()) - std::max(a.y, b.y));
    return w * h;
}

// `r` moved (never resized) into `area` as far as it fits.
Rect inside(Rect r, const Rect& area) {
    r.x = std::max(area.x, std::min(r.x, area.right() - r.width));
    r.y = std::max(area.y, std::min(r.y, area.bottom() - r.height));
    return r;
}

}  // namespace

Rect placeView(const Rect& available, const Rect& form, Size preferred, int gap) {
    const int most_w = static_cast<int>(available.width * kMostOfScreen);
    const int most_h = static_cast<int>(available.height * kMostOfScreen);
    const int w = std::min(preferred.width, most_w), h = std::min(preferred.height, most_h);
    // Below this a side is no place for the view; half the preferred size.
    const int least_w = std::min(w, preferred.width / 2), least_h = std::min(h, preferred.height / 2);

    const int room_right = available.right() - (form.right() + gap);
    const int room_left = form.x - gap - available.x;
    const int room_below = available.bottom() - (form.bottom() + gap);
    const int room_above = form.y - gap - available.y;
    const auto beside = [&](int width, bool right) {
        return inside({right ? form.right() + gap : form.x - gap - width, form.y, width, h}, available);
    };
    const auto over = [&](int height, bool below) {
        return inside({form.x, below ? form.bottom() + gap : form.y - gap - height, w, height}, available);
    };
    if (room_right >= w) return beside(w, true);
    if (room_left >= w) return beside(w, false);
    if (room_below >= h) return over(h, true);
    if (room_above >= h) return over(h, false);
    const int room_side = std::max(room_right, room_left);
    if (room_side >= least_w) return beside(room_side, room_right >= room_left);
    const int room_over = std::max(room_below, room_above);
    if (room_over >= least_h) return over(room_over, room_below >= room_above);

    // No room beside it: the corner of the area where it covers least of Form1.
    const std::array<Rect, 4> corners = {
        Rect{available.right() - w, available.y, w, h}, Rect{available.right() - w, available.bottom() - h, w, h},
        Rect{available.x, available.bottom() - h, w, h}, Rect{available.x, available.y, w, h}};
    return *std::min_element(corners.begin(), corners.end(),
                             [&](const Rect& a, const Rect& b) { return overlap(a, form) < overlap(b, form); });
}

int listWidth(int width, int preferred) {
    const int view = (2 * width + 2) / 3;  // two thirds, rounded up
    return std::max(0, std::min(preferred, width - view));
}

}  // namespace v2bsp::app
