// The few vectors and 4 x 4 matrices the 3D View needs, in single precision.
// Matrices are column-major, as OpenGL takes them: element (row r, column c)
// is at [c * 4 + r]; a point is a column vector multiplied from the right.
#pragma once

#include <array>

namespace v2bsp::app {

struct Vec3 {
    float x = 0, y = 0, z = 0;

    Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator-() const { return {-x, -y, -z}; }
    Vec3 operator*(float s) const { return {x * s, y * s, z * s}; }
    Vec3& operator+=(const Vec3& o) { return *this = *this + o; }
    bool operator==(const Vec3&) const = default;
    float length() const;
    Vec3 normalized() const;  // the zero vector stays zero
};

float dot(const Vec3& a, const Vec3& b);
Vec3 cross(const Vec3& a, const Vec3& b);
Vec3 lowest(const Vec3& a, const Vec3& b);   // per axis
Vec3 highest(const Vec3& a, const Vec3& b);  // per axis

struct Vec4 {
    float x = 0, y = 0, z = 0, w = 0;
};

class Mat4 {
public:
    Mat4();  // the identity
    static Mat4 fromColumns(const std::array<float, 16>& values);

    float at(int row, int column) const { return m_[static_cast<std::size_t>(column * 4 + row)]; }
    float& at(int row, int column) { return m_[static_cast<std::size_t>(column * 4 + row)]; }
    const float* data() const { return m_.data(); }  // 16 values, column by column

    Mat4 operator*(const Mat4& o) const;
    Vec4 operator*(const Vec4& v) const;
    // The point (w = 1), divided by the w it gets.
    Vec3 map(const Vec3& point) const;
    // The direction (w = 0): rotation and scale only.
    Vec3 mapVector(const Vec3& vector) const;
    // The inverse; the identity for a matrix that has none.
    Mat4 inverted() const;

    // Each returns this matrix times the named transform.
    Mat4 translated(const Vec3& by) const;
    Mat4 scaled(const Vec3& by) const;
    Mat4 rotated(float degrees, const Vec3& axis) const;

    // The projection of a camera looking down -z: `fieldOfView` vertical, in
    // degrees; `aspect` width over height; the planes at `nearPlane` and
    // `farPlane` map to depth -1 and 1.
    static Mat4 perspective(float fieldOfView, float aspect, float nearPlane, float farPlane);
    // The view from `eye` towards `centre`, with `up` up.
    static Mat4 lookAt(const Vec3& eye, const Vec3& centre, const Vec3& up);

private:
    std::array<float, 16> m_;
};

}  // namespace v2bsp::app
