// Where the 3D View opens: inside the available area of the screen that shows
// Form1 (never under a panel or past an edge), beside Form1 where there is
// room, at most 80% of that area in each direction. All rectangles are the
// host's window coordinates (a toolkit's logical pixels, or a system's
// physical ones) and include the windows' frames.
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

// The share of the available area the 3D View may take, each way.
inline constexpr double kMostOfScreen = 0.8;

// The 3D View's frame rectangle. `available`: the screen's available area;
// `form`: Form1's frame at its widest (the slide open); `preferred`: the
// frame size the 3D View would like at this scale (it gets less where the
// area is small); `gap`: between the windows. Right of Form1 where the
// preferred size fits, else left, below, above; else at the least size on
// the side with the most room; else where it covers the least of Form1.
// An area smaller than the least size is filled.
Rect placeView(const Rect& available, const Rect& form, Size preferred, int gap);

// The width of the 3D View's list in a window `width` wide that would like
// it `preferred` wide: never more than the view's two thirds leave.
int listWidth(int width, int preferred);

}  // namespace v2bsp::app
