#include "app/framing.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace v2bsp::app {

float frameDistance(float radius, float aspect, float fieldOfView) {
    constexpr float kRadians = 3.14159265f / 180;
    if (!(aspect > 0)) aspect = 1;
    const float half = std::tan(fieldOfView * 0.5f * kRadians) * std::min(1.0f, aspect);
    return std::max(radius, 0.01f) / std::sin(std::atan(half)) * 1.05f;
}

std::uint32_t coarseStride(std::int64_t triangles, std::int64_t budget) {
    if (budget <= 0 || triangles <= budget) return 1;
    return static_cast<std::uint32_t>((triangles + budget - 1) / budget);
}

std::uint32_t putCoarseFirst(std::span<std::uint16_t> indices, std::uint32_t stride) {
    const std::size_t triangles = indices.size() / 3;
    if (std::max<std::uint32_t>(stride, 1) == 1) return static_cast<std::uint32_t>(triangles * 3);
    const std::vector<std::uint16_t> old(indices.begin(), indices.begin() + static_cast<std::ptrdiff_t>(triangles * 3));
    return copyCoarseFirst(reinterpret_cast<const std::uint8_t*>(old.data()), triangles, indices.data(), stride);
}

std::uint32_t copyCoarseFirst(const std::uint8_t* from, std::size_t triangles, std::uint16_t* to,
                              std::uint32_t stride) {
    constexpr std::size_t kTriangleBytes = 6;
    if (triangles == 0) return 0;
    if (stride <= 1) {
        std::memcpy(to, from, triangles * kTriangleBytes);
        return static_cast<std::uint32_t>(triangles * 3);
    }
    std::uint16_t* at = to;
    for (std::size_t t = 0; t < triangles; t += stride) {
        std::memcpy(at, from + t * kTriangleBytes, kTriangleBytes);
        at += 3;
    }
    const auto coarse = static_cast<std::uint32_t>(at - to);
    // Then the runs between the coarse ones, each in one copy.
    for (std::size_t t = 0; t < triangles; t += stride) {
        const std::size_t run = std::min<std::size_t>(stride - 1, triangles - t - 1);
        std::memcpy(at, from + (t + 1) * kTriangleBytes, run * kTriangleBytes);
        at += run * 3;
    }
    return coarse;
}

}  // namespace v2bsp::app
