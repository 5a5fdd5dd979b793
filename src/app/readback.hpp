// Reading the GL's pictures back: the mesh drawn at a pixel (picking) and
// a whole picture as RGBA rows (Save Image).
//
// Every GL call needs the context current in which the level's GL objects
// were made.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/levelgl.hpp"
#include "app/offscreen.hpp"

namespace v2bsp::app {

// The visible meshes of `scene` whose bounds may cover `pixel`: a mesh
// whose box lies wholly in front of the camera and is drawn beside the pixel
// is left out; one whose box reaches behind the camera is kept.
std::vector<bool> meshesAround(const LevelScene& scene, Pixel pixel);

// Picks through a 1 x 1 framebuffer of its own.
class MeshPicker {
public:
    // GL. Makes the pick buffer; false when the GL refused it (free() it
    // all the same).
    bool make(const gl::Functions& g) { return pick_.make(g, 1, 1); }
    void free(const gl::Functions& g) { pick_.free(g); }
    // The context was lost with it: forget it without GL calls.
    void forget() { pick_ = {}; }

    // GL. The mesh of `scene` drawn at `pixel`, or -1 for none: the ids of
    // the meshes around it drawn into the pick buffer through a projection
    // narrowed to that pixel. Leaves framebuffer 0 bound.
    int meshAt(LevelGl& level, const LevelScene& scene, Pixel pixel);

private:
    Offscreen pick_;
};

// GL. The picture `paint` draws into a framebuffer of `width` x `height`
// (both above zero), read back as RGBA rows from the top; empty when no
// such framebuffer can be made. Leaves framebuffer 0 bound.
std::vector<std::uint8_t> readPicture(const gl::Functions& g, int width, int height,
                                      const std::function<void(gl::GLuint framebuffer)>& paint);

}  // namespace v2bsp::app
