#include "app/slide.hpp"

namespace v2bsp::app {

// The other way's timer stops first, so that two timers never undo each
// other's steps.
void Slide::click() {
    wide_ = !wide_;
    caption_ = wide_ ? "<" : ">";
    timer_ = wide_ ? Timer::widening : Timer::narrowing;
}

// The tick that finds the limit stops the timer and still takes its step.
void Slide::wideningTick() {
    caption_ = "<";
    if (width_ >= kSlideWide && timer_ == Timer::widening) timer_ = Timer::none;
    width_ += kSlideStep;
}

void Slide::narrowingTick() {
    if (width_ <= kSlideNarrow && timer_ == Timer::narrowing) timer_ = Timer::none;
    width_ -= kSlideStep;
}

}  // namespace v2bsp::app
