#include "app/readback.hpp"

#include <algorithm>
#include <cstring>

namespace v2bsp::app {

using namespace gl;

// So that a pick in a large level draws a few meshes, not all.
std::vector<bool> meshesAround(const LevelScene& scene, Pixel pixel) {
    const Mat4 transform = scene.camera.transform();
    float x = 0, y = 0;
    scene.camera.deviceOf(pixel, x, y);
    std::vector<bool> around = scene.visible;
    for (std::size_t m = 0; m < scene.ranges.size() && m < around.size(); ++m) {
        if (!around[m]) continue;
        const LevelMeshRange& range = scene.ranges[m];
        float lowX = 2, highX = -2, lowY = 2, highY = -2;
        bool inFront = true;
        for (int corner = 0; corner < 8 && inFront; ++corner) {
            const Vec4 at =
                transform * Vec4{corner & 1 ? range.max[0] : range.min[0], corner & 2 ? range.max[1] : range.min[1],
                                 corner & 4 ? range.max[2] : range.min[2], 1};
            inFront = at.w > 0;
            if (!inFront) break;
            lowX = std::min(lowX, at.x / at.w), highX = std::max(highX, at.x / at.w);
            lowY = std::min(lowY, at.y / at.w), highY = std::max(highY, at.y / at.w);
        }
        constexpr float kSlack = 0.01f;  // of the view; rounding in the projection
        if (inFront && (x < lowX - kSlack || x > highX + kSlack || y < lowY - kSlack || y > highY + kSlack)) {
            around[m] = false;
        }
    }
    return around;
}

int MeshPicker::meshAt(LevelGl& level, const LevelScene& scene, Pixel pixel) {
    const Functions& g = level.functions();
    g.BindFramebuffer(kFramebuffer, pick_.framebuffer);
    g.Viewport(0, 0, 1, 1);
    g.ClearColor(0, 0, 0, 1);
    g.Clear(kColorBufferBit | kDepthBufferBit);
    level.draw(scene, scene.camera.pickProjection(pixel), MeshDraw::ids, 0, scene.ranges.size(),
               meshesAround(scene, pixel));
    std::uint8_t rgba[4] = {0, 0, 0, 0};
    g.PixelStorei(kPackAlignment, 1);
    g.ReadPixels(0, 0, 1, 1, kRgba, kUnsignedByte, rgba);
    g.BindFramebuffer(kFramebuffer, 0);
    return meshOfIdColour(rgba[0], rgba[1], rgba[2], static_cast<int>(scene.ranges.size()));
}

std::vector<std::uint8_t> readPicture(const Functions& g, int width, int height,
                                      const std::function<void(GLuint framebuffer)>& paint) {
    Offscreen target;
    if (!target.make(g, width, height)) {
        target.free(g);
        return {};
    }
    paint(target.framebuffer);
    const auto row = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> pixels(row * static_cast<std::size_t>(height));
    g.BindFramebuffer(kFramebuffer, target.framebuffer);
    g.PixelStorei(kPackAlignment, 1);
    g.ReadPixels(0, 0, width, height, kRgba, kUnsignedByte, pixels.data());
    g.BindFramebuffer(kFramebuffer, 0);
    target.free(g);
    // The GL's rows run from the bottom.
    std::vector<std::uint8_t> swap(row);
    for (std::size_t top = 0, bottom = static_cast<std::size_t>(height) - 1; top < bottom; ++top, --bottom) {
        std::memcpy(swap.data(), pixels.data() + top * row, row);
        std::memcpy(pixels.data() + top * row, pixels.data() + bottom * row, row);
        std::memcpy(pixels.data() + bottom * row, swap.data(), row);
    }
    return pixels;
}

}  // namespace v2bsp::app
