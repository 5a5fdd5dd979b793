// A framebuffer of the renderer's own, with a colour and a depth
// renderbuffer: where a large level's full picture is drawn in parts, where
// a pick draws its one pixel and where a picture is drawn to be read back.
// Every call needs the context it was made in current.
#pragma once

#include "app/glfunctions.hpp"

namespace v2bsp::app {

struct Offscreen {
    gl::GLuint framebuffer = 0, colour = 0, depth = 0;
    int width = 0, height = 0;

    // Makes the framebuffer at `w` x `h` and leaves framebuffer 0 bound;
    // false when the GL says it is not complete (free() it all the same).
    bool make(const gl::Functions& g, int w, int h);
    // Frees what make made; harmless on what was never made.
    void free(const gl::Functions& g);
};

}  // namespace v2bsp::app
