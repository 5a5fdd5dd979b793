#include "app/gestures.hpp"

#include <cstdlib>

namespace v2bsp::app {

void Gestures::press(PointerButton button, Pixel at, bool shift) {
    if (pressed() || button == PointerButton::other) return;
    held_ = button;
    pans_ = button == PointerButton::middle || shift;
    dragged_ = false;
    pressAt_ = lastAt_ = at;
}

// The first move past the slack moves the camera by the whole way from the
// press, so that what was under the pointer stays with it.
bool Gestures::move(Camera& camera, Pixel at) {
    if (!pressed()) return false;
    if (!dragged_ && std::abs(at.x - pressAt_.x) + std::abs(at.y - pressAt_.y) <= kClickSlack) return false;
    dragged_ = true;
    const int dx = at.x - lastAt_.x, dy = at.y - lastAt_.y;
    lastAt_ = at;
    if (dx == 0 && dy == 0) return false;
    if (pans_) {
        camera.panByPixels(dx, dy);
    } else {
        camera.orbitByPixels(dx, dy);
    }
    return true;
}

bool Gestures::release(PointerButton button, Pixel at) {
    if (!pressed() || button != held_) return false;
    held_ = PointerButton::other;
    const bool click = !dragged_ && std::abs(at.x - pressAt_.x) + std::abs(at.y - pressAt_.y) <= kClickSlack;
    dragged_ = false;
    return click && button == PointerButton::left;
}

void Gestures::doubleClick(Camera& camera) {
    held_ = PointerButton::other;
    dragged_ = false;
    camera.frameAll();
}

void Gestures::wheel(Camera& camera, Pixel at, float notches) {
    if (notches != 0) camera.zoomAt(at, notches);
}

void Gestures::key(Camera& camera, ViewKey key, bool shift) {
    int dx = 0, dy = 0;
    switch (key) {
        case ViewKey::left:
            dx = -kKeyPixels;
            break;
        case ViewKey::right:
            dx = kKeyPixels;
            break;
        case ViewKey::up:
            dy = -kKeyPixels;
            break;
        case ViewKey::down:
            dy = kKeyPixels;
            break;
        case ViewKey::zoomIn:
        case ViewKey::zoomOut:
            camera.zoomAt({camera.width() / 2, camera.height() / 2},
                          key == ViewKey::zoomIn ? kKeyNotches : -kKeyNotches);
            return;
    }
    if (shift) {
        camera.panByPixels(dx, dy);
    } else {
        camera.orbitByPixels(dx, dy);
    }
}

}  // namespace v2bsp::app
