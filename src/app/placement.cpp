#include "app/placement.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace v2bsp::app {
namespace {

// `r` moved (never resized) into `area` as far as it fits.
Rect inside(Rect r, const Rect& area) {
    r.x = std::max(area.x, std::min(r.x, area.right() - r.width));
    r.y = std::max(area.y, std::min(r.y, area.bottom() - r.height));
    return r;
}

// Two thirds of `area`, or `preferred` where that is more, at most 80% of it.
int extent(int area, int preferred) {
    const int most = static_cast<int>(area * kMostOfScreen);
    const int share = static_cast<int>(std::lround(area * kViewShareOfScreen));
    return std::max(0, std::min(most, std::max(share, preferred)));
}

// The view `w` x `h` beside `form` on the first side (right, left, below,
// above) whose room holds it, or nothing.
std::optional<Rect> beside(const Rect& available, const Rect& form, int w, int h, int gap) {
    const int roomRight = available.right() - (form.right() + gap);
    const int roomLeft = form.x - gap - available.x;
    const int roomBelow = available.bottom() - (form.bottom() + gap);
    const int roomAbove = form.y - gap - available.y;
    if (roomRight >= w) return inside({form.right() + gap, form.y, w, h}, available);
    if (roomLeft >= w) return inside({form.x - gap - w, form.y, w, h}, available);
    if (roomBelow >= h) return inside({form.x, form.bottom() + gap, w, h}, available);
    if (roomAbove >= h) return inside({form.x, form.y - gap - h, w, h}, available);
    return std::nullopt;
}

}  // namespace

Rect placeView(const Rect& available, const FormFrames& form, Size preferred, int gap) {
    const int w = extent(available.width, preferred.width), h = extent(available.height, preferred.height);
    if (const auto at = beside(available, form.widest, w, h, gap)) return *at;
    if (const auto at = beside(available, form.current, w, h, gap)) return *at;
    return {available.x + (available.width - w) / 2, available.y + (available.height - h) / 2, w, h};
}

int listWidth(int width, ListNeed need) {
    if (width <= 0) return 0;
    const int room = width - static_cast<int>(std::ceil(width * kLeastViewShare));  // what the view's share leaves
    const int list = std::max(need.numbers, std::min(need.whole, room));
    return std::clamp(list, 0, width);
}

}  // namespace v2bsp::app
