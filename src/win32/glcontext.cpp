#include "win32/glcontext.hpp"

#include <GL/gl.h>

#include "platform/win32/winsystem.hpp"

namespace v2bsp::win32 {

namespace {

// From WGL_ARB_create_context and WGL_ARB_create_context_profile.
constexpr int kMajorVersion = 0x2091;
constexpr int kMinorVersion = 0x2092;
constexpr int kProfileMask = 0x9126;
constexpr int kCoreProfile = 0x00000001;
using CreateContextAttribs = HGLRC(WINAPI*)(HDC, HGLRC, const int*);

// The system's reason for the last failure, without its closing period: it
// is quoted inside a sentence.
std::string systemReason() {
    std::string reason = systemError(GetLastError()).message();
    while (!reason.empty() && reason.back() == '.') reason.pop_back();
    return reason;
}

}  // namespace

std::unique_ptr<GlContext> GlContext::create(HWND window, std::string& failure) {
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR wanted{};
    wanted.nSize = sizeof wanted;
    wanted.nVersion = 1;
    wanted.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    wanted.iPixelType = PFD_TYPE_RGBA;
    wanted.cColorBits = 32;
    wanted.cAlphaBits = 8;
    wanted.cDepthBits = 24;
    wanted.iLayerType = PFD_MAIN_PLANE;
    const int format = ChoosePixelFormat(dc, &wanted);
    if (format == 0 || SetPixelFormat(dc, format, &wanted) == FALSE) {
        failure = "no OpenGL pixel format for the window: " + systemReason();
        return nullptr;
    }
    // A context of any version first: only a current one gives the function
    // that makes a core context.
    HGLRC legacy = wglCreateContext(dc);
    if (legacy == nullptr || wglMakeCurrent(dc, legacy) == FALSE) {
        failure = "no OpenGL context: " + systemReason();
        if (legacy != nullptr) wglDeleteContext(legacy);
        return nullptr;
    }
    const auto createAttribs = reinterpret_cast<CreateContextAttribs>(resolve("wglCreateContextAttribsARB"));
    const int attributes[] = {kMajorVersion, 3, kMinorVersion, 3, kProfileMask, kCoreProfile, 0};
    HGLRC core = createAttribs != nullptr ? createAttribs(dc, nullptr, attributes) : nullptr;
    const std::string offered = version();
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(legacy);
    if (core == nullptr) {
        failure = "OpenGL 3.3 core is not offered (the driver gives OpenGL " +
                  (offered.empty() ? std::string("of no version") : offered) + ")";
        return nullptr;
    }
    std::unique_ptr<GlContext> context(new GlContext(dc, core));
    if (!context->makeCurrent()) {
        failure = "the OpenGL 3.3 context cannot be used: " + systemReason();
        return nullptr;
    }
    return context;
}

GlContext::~GlContext() {
    if (wglGetCurrentContext() == context_) wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(context_);
}

bool GlContext::makeCurrent() const {
    return wglMakeCurrent(dc_, context_) != FALSE;
}

void GlContext::swapBuffers() const {
    SwapBuffers(dc_);
}

std::string GlContext::version() {
    const auto* text = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return text != nullptr ? text : "";
}

void* GlContext::resolve(const char* name) {
    PROC found = wglGetProcAddress(name);
    const auto value = reinterpret_cast<INT_PTR>(found);
    // Some drivers answer 1, 2, 3 or -1 for "none".
    if (value >= -1 && value <= 3) {
        static const HMODULE kOpenGl = LoadLibraryW(L"opengl32.dll");
        found = kOpenGl != nullptr ? GetProcAddress(kOpenGl, name) : nullptr;
    }
    return reinterpret_cast<void*>(found);
}

}  // namespace v2bsp::win32
