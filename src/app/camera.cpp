#include "app/camera.hpp"

#include <algorithm>
#include <cmath>

#include "app/framing.hpp"

namespace v2bsp::app {
namespace {

constexpr float kRadiansPerDegree = 3.14159265f / 180;

// Half the height of the view at `distance` from the camera.
float halfHeight(float distance) {
    return distance * std::tan(kFieldOfView * 0.5f * kRadiansPerDegree);
}

}  // namespace

void Camera::setViewport(int width, int height) {
    width_ = std::max(1, width);
    height_ = std::max(1, height);
    changed();
    if (framed_) frameAll();
}

float Camera::aspect() const {
    return static_cast<float>(width_) / static_cast<float>(height_);
}

void Camera::setBounds(const Vec3& min, const Vec3& max) {
    min_ = min;
    max_ = max;
    changed();
    frameAll();
}

void Camera::setZUp(bool zUp) {
    zUp_ = zUp;
    changed();
    frameAll();
}

void Camera::setOrbit(float yaw, float pitch) {
    yaw_ = std::fmod(yaw, 360.0f);
    pitch_ = std::clamp(pitch, -kMaxPitch, kMaxPitch);
    changed();
}

void Camera::orbitBy(float yawDelta, float pitchDelta) {
    setOrbit(yaw_ + yawDelta, pitch_ + pitchDelta);
}

void Camera::orbitByPixels(int dx, int dy) {
    framed_ = false;
    orbitBy(-static_cast<float>(dx) * kDegreesPerPixel, static_cast<float>(dy) * kDegreesPerPixel);
}

// One pixel moves the target by one pixel's worth at the target's depth.
void Camera::panByPixels(int dx, int dy) {
    framed_ = false;
    const float perPixel = 2 * halfHeight(distance_) / static_cast<float>(height_);
    const Mat4 inverse = view().inverted();
    const Vec3 right = inverse.mapVector({1, 0, 0}), up = inverse.mapVector({0, 1, 0});
    target_ += (-right * static_cast<float>(dx) + up * static_cast<float>(dy)) * perPixel;
    changed();
}

void Camera::zoomAt(Pixel at, float notches) {
    if (notches == 0) return;
    framed_ = false;
    const float scale = std::pow(kZoomPerNotch, notches);
    const float half = halfHeight(distance_);
    const float nx = 2 * static_cast<float>(at.x) / static_cast<float>(width_) - 1;
    const float ny = 1 - 2 * static_cast<float>(at.y) / static_cast<float>(height_);
    const Vec3 under = view().inverted().map({nx * half * aspect(), ny * half, -distance_});
    target_ = under + (target_ - under) * scale;
    distance_ *= scale;
    changed();
}

void Camera::frameAll() {
    frameBox(min_, max_);
    framed_ = true;
}

void Camera::frameBox(const Vec3& min, const Vec3& max) {
    target_ = model().map((min + max) * 0.5f);
    distance_ = frameDistance((max - min).length() * 0.5f, aspect());
    framed_ = false;
    changed();
}

float Camera::radius() const {
    return (max_ - min_).length() * 0.5f;
}

Mat4 Camera::model() const {
    return zUp_ ? Mat4().rotated(-90, {1, 0, 0}) : Mat4();  // (x, y, z) to (x, z, -y)
}

Mat4 Camera::view() const {
    const float yaw = yaw_ * kRadiansPerDegree, pitch = pitch_ * kRadiansPerDegree;
    const Vec3 towards{std::cos(pitch) * std::sin(yaw), std::sin(pitch), std::cos(pitch) * std::cos(yaw)};
    return Mat4::lookAt(target_ + towards * distance_, target_, {0, 1, 0});
}

// The level's sphere lies within its radius of the target; a framed mesh may
// be smaller.
Mat4 Camera::projection() const {
    const float r = std::max(radius(), 0.01f);
    const float nearPlane = std::max(distance_ - r * 1.5f, distance_ * 0.001f);
    return Mat4::perspective(kFieldOfView, aspect(), nearPlane, distance_ + r * 1.5f);
}

Mat4 Camera::transform() const {
    return projection() * view() * model();
}

Pixel Camera::pixelOf(const Vec3& point) const {
    const Vec3 device = transform().map(point);
    return {static_cast<int>(std::floor((device.x + 1) * 0.5f * static_cast<float>(width_))),
            static_cast<int>(std::floor((1 - device.y) * 0.5f * static_cast<float>(height_)))};
}

void Camera::deviceOf(Pixel pixel, float& x, float& y) const {
    x = 2 * (static_cast<float>(pixel.x) + 0.5f) / static_cast<float>(width_) - 1;
    y = 1 - 2 * (static_cast<float>(pixel.y) + 0.5f) / static_cast<float>(height_);
}

Mat4 Camera::pickProjection(Pixel pixel) const {
    float x = 0, y = 0;
    deviceOf(pixel, x, y);
    const Mat4 narrow =
        Mat4().scaled({static_cast<float>(width_), static_cast<float>(height_), 1}).translated({-x, -y, 0});
    return narrow * projection();
}

}  // namespace v2bsp::app
