// The full picture of a large level, drawn off screen a part at a time, one
// part a paint, so that the window keeps answering between parts, and shown
// once whole. Each picture is of one state of what is drawn; a paint for
// another state, or at another size, starts a new one.
//
// Every call but forget needs the context current in which the level's GL
// objects were made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/levelgl.hpp"
#include "app/offscreen.hpp"

namespace v2bsp::app {

// What is drawn, as counted changes: of the level's content and of the
// camera (Camera::revision). Equal states draw equal pictures.
struct PictureState {
    std::uint64_t content = 0, camera = 0;
    bool operator==(const PictureState&) const = default;
};

class PartPicture {
public:
    // Whether a picture of `state` at `width` x `height` is being drawn: the
    // next paint adds a part to it.
    bool continues(const PictureState& state, int width, int height) const;
    // GL. Starts an empty picture of `state` at `width` x `height`. Leaves
    // its own framebuffer bound.
    void start(const gl::Functions& g, const PictureState& state, int width, int height);
    // GL. Draws the next meshes of `scene`, kPartTriangles or one mesh more,
    // into the picture. True once every mesh is drawn: the picture is then
    // copied into `target`. Leaves `target` bound.
    bool addPart(LevelGl& level, const LevelScene& scene, const Mat4& projection, gl::GLuint target);

    // GL. Frees the off-screen picture.
    void free(const gl::Functions& g) { picture_.free(g); }
    // The context was lost with it: forget it without GL calls.
    void forget() { picture_ = {}; }

private:
    Offscreen picture_;
    PictureState state_{~std::uint64_t{0}, 0};  // the state the picture is being drawn for
    std::size_t next_ = 0;                      // the next mesh to draw into it
};

}  // namespace v2bsp::app
