#include "app/partpicture.hpp"

#include "app/framing.hpp"

namespace v2bsp::app {

using namespace gl;

bool PartPicture::continues(const PictureState& state, int width, int height) const {
    return state_ == state && picture_.framebuffer != 0 && picture_.width == width && picture_.height == height;
}

void PartPicture::start(const Functions& g, const PictureState& state, int width, int height) {
    if (picture_.width != width || picture_.height != height) {
        picture_.free(g);
        picture_.make(g, width, height);
    }
    state_ = state;
    next_ = 0;
    g.BindFramebuffer(kFramebuffer, picture_.framebuffer);
    g.Clear(kColorBufferBit | kDepthBufferBit);
}

// A part ends with the mesh that takes it to kPartTriangles: a mesh is never
// split between parts.
bool PartPicture::addPart(LevelGl& level, const LevelScene& scene, const Mat4& projection, GLuint target) {
    const Functions& g = level.functions();
    const std::size_t meshes = scene.ranges.size();
    g.BindFramebuffer(kFramebuffer, picture_.framebuffer);
    std::int64_t drawn = 0;
    while (next_ < meshes && drawn < kPartTriangles) {
        drawn += level.draw(scene, projection, MeshDraw::full, next_, next_ + 1, scene.visible);
        ++next_;
    }
    if (next_ < meshes) {
        g.BindFramebuffer(kFramebuffer, target);
        return false;
    }
    g.BindFramebuffer(kReadFramebuffer, picture_.framebuffer);
    g.BindFramebuffer(kDrawFramebuffer, target);
    g.BlitFramebuffer(0, 0, picture_.width, picture_.height, 0, 0, picture_.width, picture_.height, kColorBufferBit,
                      kNearest);
    g.BindFramebuffer(kFramebuffer, target);
    return true;
}

}  // namespace v2bsp::app
