// The 3D View's camera: it orbits around a target, pans, zooms towards a
// point of the view and frames a box. Framed by frameAll, it stays framed as
// the view changes size until the user moves it. With Z up the stored
// positions (x, y, z) are shown as (x, z, -y).
//
// Pixels are the host's window coordinates of the view (logical pixels for a
// toolkit that scales, physical ones otherwise), from its top-left corner;
// the aspect and the picking use the same ones, so the GL's own pixel size
// does not matter here.
//
// Every call that changes what the camera shows counts a revision, so that
// whoever draws through it can tell whether a picture it keeps is still of
// the camera as it is.
#pragma once

#include <cstdint>

#include "app/matrix.hpp"

namespace v2bsp::app {

struct Pixel {
    int x = 0, y = 0;
    bool operator==(const Pixel&) const = default;
};

class Camera {
public:
    static constexpr float kMaxPitch = 89.5f;
    static constexpr float kDegreesPerPixel = 0.4f;  // orbiting by a drag
    static constexpr float kZoomPerNotch = 0.85f;    // of the distance, a wheel notch

    // The view's size in pixels; not above zero is taken as 1.
    void setViewport(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    float aspect() const;

    // The level's bounds, as stored. Frames them.
    void setBounds(const Vec3& min, const Vec3& max);
    void setZUp(bool zUp);  // frames the level
    bool zUp() const { return zUp_; }

    // In degrees: yaw about the up axis, pitch above the horizon (held
    // within kMaxPitch).
    void setOrbit(float yaw, float pitch);
    void orbitBy(float yawDelta, float pitchDelta);
    float yaw() const { return yaw_; }
    float pitch() const { return pitch_; }

    // A drag of (dx, dy) pixels: orbits, or pans so that the point under
    // the cursor at the target's depth follows it.
    void orbitByPixels(int dx, int dy);
    void panByPixels(int dx, int dy);
    // `notches` of the wheel (positive towards the scene) at `at`: the point
    // under it, at the target's depth, stays where it is.
    void zoomAt(Pixel at, float notches);

    void frameAll();
    // Frames a box of stored positions.
    void frameBox(const Vec3& min, const Vec3& max);
    // Framed by frameAll and not moved since.
    bool framed() const { return framed_; }
    // The user moved the camera: a new size no longer frames the level.
    void unframe() { framed_ = false; }

    Vec3 target() const { return target_; }
    float distance() const { return distance_; }

    Mat4 model() const;
    Mat4 view() const;
    Mat4 projection() const;
    // projection * view * model.
    Mat4 transform() const;

    // Where the stored position `point` is drawn.
    Pixel pixelOf(const Vec3& point) const;
    // The centre of `pixel` in normalised device coordinates (-1 to 1, y up).
    void deviceOf(Pixel pixel, float& x, float& y) const;
    // The projection narrowed so that `pixel` fills the whole view: what a
    // 1 x 1 pick buffer draws.
    Mat4 pickProjection(Pixel pixel) const;

    // Counts the changes of what the camera shows; it never goes back.
    std::uint64_t revision() const { return revision_; }

private:
    float radius() const;  // of the level's bounds
    void changed() { ++revision_; }

    int width_ = 1, height_ = 1;
    Vec3 min_, max_;
    Vec3 target_;
    float distance_ = 10;
    float yaw_ = 35;
    float pitch_ = 30;
    bool zUp_ = false;
    bool framed_ = true;
    std::uint64_t revision_ = 0;
};

}  // namespace v2bsp::app
