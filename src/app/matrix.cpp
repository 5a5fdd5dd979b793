#include "app/matrix.hpp"

#include <cmath>

namespace v2bsp::app {
namespace {

constexpr float kRadiansPerDegree = 3.14159265358979f / 180;

}  // namespace

float Vec3::length() const {
    return std::sqrt(x * x + y * y + z * z);
}

Vec3 Vec3::normalized() const {
    const float l = length();
    return l > 0 ? *this * (1 / l) : Vec3{};
}

float dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec3 lowest(const Vec3& a, const Vec3& b) {
    return {std::fmin(a.x, b.x), std::fmin(a.y, b.y), std::fmin(a.z, b.z)};
}

Vec3 highest(const Vec3& a, const Vec3& b) {
    return {std::fmax(a.x, b.x), std::fmax(a.y, b.y), std::fmax(a.z, b.z)};
}

Mat4::Mat4() : m_{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}

Mat4 Mat4::fromColumns(const std::array<float, 16>& values) {
    Mat4 m;
    m.m_ = values;
    return m;
}

Mat4 Mat4::operator*(const Mat4& o) const {
    Mat4 product;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            float sum = 0;
            for (int k = 0; k < 4; ++k) sum += at(row, k) * o.at(k, column);
            product.at(row, column) = sum;
        }
    }
    return product;
}

Vec4 Mat4::operator*(const Vec4& v) const {
    const auto row = [&](int r) { return at(r, 0) * v.x + at(r, 1) * v.y + at(r, 2) * v.z + at(r, 3) * v.w; };
    return {row(0), row(1), row(2), row(3)};
}

Vec3 Mat4::map(const Vec3& point) const {
    const Vec4 p = *this * Vec4{point.x, point.y, point.z, 1};
    if (p.w == 1 || p.w == 0) return {p.x, p.y, p.z};
    return {p.x / p.w, p.y / p.w, p.z / p.w};
}

Vec3 Mat4::mapVector(const Vec3& vector) const {
    const Vec4 v = *this * Vec4{vector.x, vector.y, vector.z, 0};
    return {v.x, v.y, v.z};
}

// By cofactors: the matrices here are small and few.
Mat4 Mat4::inverted() const {
    const std::array<float, 16>& a = m_;
    std::array<float, 16> inv{};
    inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
             a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
             a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
             a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
              a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
             a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
             a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
             a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
              a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
             a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
             a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
              a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
              a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
             a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
             a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
              a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] + a[8] * a[1] * a[6] -
              a[8] * a[2] * a[5];
    const float determinant = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
    if (determinant == 0 || !std::isfinite(determinant)) return {};
    for (float& value : inv) value /= determinant;
    return fromColumns(inv);
}

Mat4 Mat4::translated(const Vec3& by) const {
    Mat4 t;
    t.at(0, 3) = by.x;
    t.at(1, 3) = by.y;
    t.at(2, 3) = by.z;
    return *this * t;
}

Mat4 Mat4::scaled(const Vec3& by) const {
    Mat4 s;
    s.at(0, 0) = by.x;
    s.at(1, 1) = by.y;
    s.at(2, 2) = by.z;
    return *this * s;
}

// Quarter turns are exact, so that a turned level's coordinates are the
// stored ones, moved.
Mat4 Mat4::rotated(float degrees, const Vec3& axis) const {
    float c = 0, s = 0;
    const float quarters = degrees / 90;
    if (quarters == std::round(quarters)) {
        const int q = ((static_cast<int>(quarters) % 4) + 4) % 4;
        constexpr float kCos[] = {1, 0, -1, 0}, kSin[] = {0, 1, 0, -1};
        c = kCos[q];
        s = kSin[q];
    } else {
        c = std::cos(degrees * kRadiansPerDegree);
        s = std::sin(degrees * kRadiansPerDegree);
    }
    const Vec3 n = axis.normalized();
    const float t = 1 - c;
    Mat4 r;
    r.at(0, 0) = t * n.x * n.x + c;
    r.at(0, 1) = t * n.x * n.y - s * n.z;
    r.at(0, 2) = t * n.x * n.z + s * n.y;
    r.at(1, 0) = t * n.x * n.y + s * n.z;
    r.at(1, 1) = t * n.y * n.y + c;
    r.at(1, 2) = t * n.y * n.z - s * n.x;
    r.at(2, 0) = t * n.x * n.z - s * n.y;
    r.at(2, 1) = t * n.y * n.z + s * n.x;
    r.at(2, 2) = t * n.z * n.z + c;
    return *this * r;
}

Mat4 Mat4::perspective(float fieldOfView, float aspect, float nearPlane, float farPlane) {
    const float half = fieldOfView * 0.5f * kRadiansPerDegree;
    const float cotangent = std::cos(half) / std::sin(half);
    const float depth = farPlane - nearPlane;
    Mat4 p;
    p.at(0, 0) = cotangent / aspect;
    p.at(1, 1) = cotangent;
    p.at(2, 2) = -(nearPlane + farPlane) / depth;
    p.at(2, 3) = -(2 * nearPlane * farPlane) / depth;
    p.at(3, 2) = -1;
    p.at(3, 3) = 0;
    return p;
}

Mat4 Mat4::lookAt(const Vec3& eye, const Vec3& centre, const Vec3& up) {
    const Vec3 forward = (centre - eye).normalized();
    const Vec3 side = cross(forward, up).normalized();
    const Vec3 upward = cross(side, forward);
    Mat4 m;
    m.at(0, 0) = side.x, m.at(0, 1) = side.y, m.at(0, 2) = side.z;
    m.at(1, 0) = upward.x, m.at(1, 1) = upward.y, m.at(1, 2) = upward.z;
    m.at(2, 0) = -forward.x, m.at(2, 1) = -forward.y, m.at(2, 2) = -forward.z;
    return m.translated(-eye);
}

}  // namespace v2bsp::app
