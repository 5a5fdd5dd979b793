// The slide of Form1 between its narrow width, which shows the log and the
// Extract button, and its wide one, which also shows the tag list.
//
// The state is what the hidden box Txt1 shows ("0" narrow, "1" wide), the
// slide button's caption points the way the next click slides (">" widens,
// "<" narrows), and one timer at a time steps the outer width by 12 twips a
// tick. The width is kept here, in twips, never read back from the window
// system, which holds it in whole pixels.
//
// A widening tick stops its timer once the width is at least 7212, and still
// takes its step; a narrowing tick stops at 5184 or below, and still takes
// its step. From 5184 at start the first widening ends at 7224 after 170
// ticks; every slide after that runs between 7224 and 5172 in 171 ticks. A
// click during a slide stops that slide's timer before starting the other,
// so the slide reverses from where it is.
//
// The host calls click() and the ticks of the timer that runs(), then shows
// caption(), state() and outerWidth() and starts or stops its two timers to
// match runs().
#pragma once

#include <string_view>

namespace v2bsp::app {

inline constexpr double kSlideNarrow = 5184;  // outer width at start, and the narrowing limit
inline constexpr double kSlideWide = 7212;    // the widening limit
inline constexpr double kSlideStep = 12;      // twips a tick: one pixel at 120 dpi
inline constexpr int kSlideTickMs = 1;        // the timers' interval
// The widest the window becomes: the tick that meets the limit still steps.
inline constexpr double kSlideWidest = kSlideWide + kSlideStep;

class Slide {
public:
    enum class Timer {
        none,
        widening,   // Timer1
        narrowing,  // Timer2
    };

    // Narrow, at rest, `outerWidth` wide.
    explicit Slide(double outerWidth = kSlideNarrow) : width_(outerWidth) {}

    // The slide button.
    void click();
    // One tick of the widening timer (Timer1) or the narrowing one (Timer2),
    // whether or not it runs.
    void wideningTick();
    void narrowingTick();

    std::string_view state() const { return wide_ ? "1" : "0"; }
    std::string_view caption() const { return caption_; }
    Timer runs() const { return timer_; }
    double outerWidth() const { return width_; }

private:
    bool wide_ = false;
    std::string_view caption_ = ">";
    Timer timer_ = Timer::none;
    double width_;
};

}  // namespace v2bsp::app
