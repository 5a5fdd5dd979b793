// The 3D View's mouse and keys over its camera, whatever the toolkit: a left
// drag orbits, a middle drag or a left drag begun with Shift held pans, the
// wheel zooms towards the cursor, a press that moves at most kClickSlack
// pixels is a click (a pick), a double-click frames the whole level. Arrows
// orbit, Shift+arrows pan, + and - (or Page Up and Page Down) zoom towards
// the middle of the view.
//
// Pixels are the view's, as the camera takes them (camera.hpp).
#pragma once

#include "app/camera.hpp"

namespace v2bsp::app {

enum class PointerButton { left, middle, other };

enum class ViewKey { left, right, up, down, zoomIn, zoomOut };

class Gestures {
public:
    // A press that moves at most this far (across plus down) is a click.
    static constexpr int kClickSlack = 3;
    // What one press of an arrow does: a drag of this many pixels.
    static constexpr int kKeyPixels = 15;
    // What one press of a zoom key does: this many notches of the wheel.
    static constexpr float kKeyNotches = 1;

    // `button` went down at `at`. Whether a left drag pans is decided here,
    // by `shift`, for the whole drag. A press while another is held is
    // ignored.
    void press(PointerButton button, Pixel at, bool shift);
    // The pointer is at `at`. True when that moved the camera: the press
    // has moved further than a click may, and from then on every move
    // drags, from where the press began.
    bool move(Camera& camera, Pixel at);
    // `button` came up at `at`. True when that ends a click of the left
    // button: the host picks at `at`.
    bool release(PointerButton button, Pixel at);
    // The press ends without a click (the pointer was taken away).
    void cancel() { held_ = PointerButton::other; }
    // The button of a double-click went down: it frames, and its release
    // picks nothing.
    void doubleClick(Camera& camera);

    // A press is held.
    bool pressed() const { return held_ != PointerButton::other; }
    // The held press drags the camera (draw cheaply meanwhile).
    bool dragging() const { return pressed() && dragged_; }

    // The wheel turned `notches` (positive towards the scene) at `at`.
    static void wheel(Camera& camera, Pixel at, float notches);
    // One press of `key`; `shift` makes an arrow pan.
    static void key(Camera& camera, ViewKey key, bool shift);

private:
    PointerButton held_ = PointerButton::other;
    bool pans_ = false;
    bool dragged_ = false;
    Pixel pressAt_, lastAt_;
};

}  // namespace v2bsp::app
