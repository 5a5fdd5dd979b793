// Where the 3D View opens, and how its list shares the window's width. All
// rectangles are the host's window coordinates (a toolkit's logical pixels,
// or a system's physical ones) and include the windows' frames.
//
// The 3D View opens large: two thirds of the screen's available area each
// way, or its preferred size where that is more, but never more than 80% of
// the area. It stays inside the area (never under a panel or past an edge).
// It goes beside Form1 at the slide's open width, where a side's room holds
// it, so the tag list stays in sight when the slide opens; where none does,
// beside Form1 as it is when the view opens; where none of those does
// either, it is centred on the area and may cover part of Form1. The sides
// are tried right, left, below, above; the view is aligned with Form1's top
// (or left) edge and moved back into the area as far as needed.
#pragma once

namespace v2bsp::app {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    int right() const { return x + width; }  // one past the last column
    int bottom() const { return y + height; }
    bool operator==(const Rect&) const = default;
};

struct Size {
    int width = 0, height = 0;
};

// The share of the available area the 3D View takes at least (where its
// preferred size is less) and at most, each way.
inline constexpr double kViewShareOfScreen = 2.0 / 3.0;
inline constexpr double kMostOfScreen = 0.8;

// Form1's frame as it is now, and as it is with the slide open (wider, same
// top-left corner; the same as `current` where the slide is open already).
struct FormFrames {
    Rect current, widest;
};

// The 3D View's frame rectangle. `available`: the screen's available area;
// `form`: Form1's frames; `preferred`: the frame size the 3D View would like
// at this scale; `gap`: between the windows.
Rect placeView(const Rect& available, const FormFrames& form, Size preferred, int gap);

// What the 3D View's list needs to show its texts whole, measured by the
// host in its pixels, the list's borders and vertical scroll bar included:
// `whole` with every column as wide as its longest text (or heading);
// `numbers` with the two number columns whole and the name column at its
// heading's width.
struct ListNeed {
    int whole = 0, numbers = 0;
};

// The view's least share of the window's width, while the list's numbers
// leave it that.
inline constexpr double kLeastViewShare = 0.5;

// The width of the 3D View's list in a window part `width` wide that holds
// the view and the list. The list gets what its texts need whole, as far as
// the view keeps half the width; never less than its numbers need, even
// where that leaves the view less (or nothing); never more than `width`.
int listWidth(int width, ListNeed need);

}  // namespace v2bsp::app
