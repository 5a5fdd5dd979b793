#include "app/framing.hpp"

#include <algorithm>
#include <cmath>
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
    stride = std::max<std::uint32_t>(stride, 1);
    const std::size_t triangles = indices.size() / 3;
    if (stride == 1) return static_cast<std::uint32_t>(triangles * 3);
    const std::vector<std::uint16_t> old(indices.begin(), indices.begin() + static_cast<std::ptrdiff_t>(triangles * 3));
    std::size_t at = 0;
    for (const bool coarse : {true, false}) {
        for (std::size_t t = 0; t < triangles; ++t) {
            if ((t % stride == 0) != coarse) continue;
            std::copy_n(old.begin() + static_cast<std::ptrdiff_t>(t * 3), 3,
                        indices.begin() + static_cast<std::ptrdiff_t>(at));
            at += 3;
        }
    }
    return static_cast<std::uint32_t>(((triangles + stride - 1) / stride) * 3);
}

}  // namespace v2bsp::app
