// An OpenGL 3.3 core context on a window, made with WGL: a pixel format with
// depth and double buffering on the window's own device context, then the
// context through wglCreateContextAttribsARB. Functions are found through
// wglGetProcAddress, and in opengl32's exports for those of OpenGL 1.1,
// which wglGetProcAddress does not give.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace v2bsp::win32 {

class GlContext {
public:
    // The context for `window`, whose class must own its device context
    // (CS_OWNDC); null with `failure` saying why when OpenGL 3.3 core cannot
    // be had here ("OpenGL 3.3 core is not offered: ...").
    static std::unique_ptr<GlContext> create(HWND window, std::string& failure);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    bool makeCurrent() const;
    void swapBuffers() const;
    // "3.3.0 ..." or whatever the driver says; the context must be current.
    static std::string version();

    // The address of the GL function `name`, or null; for any context of this process.
    static void* resolve(const char* name);

private:
    GlContext(HDC dc, HGLRC context) : dc_(dc), context_(context) {}
    HDC dc_;
    HGLRC context_;
};

}  // namespace v2bsp::win32
