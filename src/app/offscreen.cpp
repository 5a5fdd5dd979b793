#include "app/offscreen.hpp"

namespace v2bsp::app {

using namespace gl;

bool Offscreen::make(const Functions& g, int w, int h) {
    g.GenFramebuffers(1, &framebuffer);
    g.GenRenderbuffers(1, &colour);
    g.GenRenderbuffers(1, &depth);
    g.BindRenderbuffer(kRenderbuffer, colour);
    g.RenderbufferStorage(kRenderbuffer, kRgba8, w, h);
    g.BindRenderbuffer(kRenderbuffer, depth);
    g.RenderbufferStorage(kRenderbuffer, kDepthComponent24, w, h);
    g.BindRenderbuffer(kRenderbuffer, 0);
    g.BindFramebuffer(kFramebuffer, framebuffer);
    g.FramebufferRenderbuffer(kFramebuffer, kColorAttachment0, kRenderbuffer, colour);
    g.FramebufferRenderbuffer(kFramebuffer, kDepthAttachment, kRenderbuffer, depth);
    const bool complete = g.CheckFramebufferStatus(kFramebuffer) == kFramebufferComplete;
    g.BindFramebuffer(kFramebuffer, 0);
    width = w;
    height = h;
    return complete;
}

void Offscreen::free(const Functions& g) {
    if (framebuffer != 0) g.DeleteFramebuffers(1, &framebuffer);
    if (colour != 0) g.DeleteRenderbuffers(1, &colour);
    if (depth != 0) g.DeleteRenderbuffers(1, &depth);
    *this = {};
}

}  // namespace v2bsp::app
