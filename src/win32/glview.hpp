// The 3D View's drawing area on Windows: a child window with a WGL 3.3 core
// context (win32/glcontext.hpp) in which the shared renderer draws. Under
// wine, which shows nothing of a child window with a GL pixel format, the
// context lives on a hidden window and each picture is copied onto the view
// through GDI.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/glfunctions.hpp"
#include "app/renderer.hpp"
#include "app/view3dbehaviour.hpp"
#include "win32/glcontext.hpp"
#include "win32/wingui.hpp"

namespace v2bsp::win32 {

// The drawing area: a child window with its own GL context, in which the
// renderer draws. Its mouse, wheel and camera keys go to the 3D View's
// behaviour (app/view3dbehaviour.hpp), which decides what they do.
class GlView final : public Wnd {
public:
    GlView() = default;
    // Ends the window while this object can still free its context.
    ~GlView() override;
    bool create(Wnd& parent, int id);
    // Makes the context and readies the renderer; empty, or why not.
    std::string start();
    app::LevelRenderer& renderer() { return renderer_; }
    // Where the mouse and keys go; none (null) leaves them to the system.
    void setBehaviour(app::View3DBehaviour* behaviour) { behaviour_ = behaviour; }
    bool ready() const { return context_ != nullptr && renderer_.ready(); }
    // The mesh drawn at `pixel` of the view, or -1.
    int meshAt(app::Pixel pixel);
    // The whole picture at the view's size, rows from the top, blue-green-red-alpha.
    std::vector<std::uint8_t> picture(int& width, int& height);

    // The renderer failed after its start (an upload, a new picture's buffers): why, once.
    std::function<void(const std::string& reason)> onFailed;

protected:
    LRESULT windowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;
    bool onPaint() override;
    void onSize(int width, int height) override;
    bool onMouse(UINT msg, WPARAM wparam, LPARAM lparam) override;
    void onTimer(UINT_PTR id) override;
    void onDestroy() override;

private:
    static constexpr UINT_PTR kPartTimer = 1;
    // Draws now, into the window.
    app::Painted paintNow();
    app::Painted paintThroughGdi(int width, int height);
    void freeFramebuffer();

    std::unique_ptr<GlContext> context_;
    app::gl::Functions gl_;
    app::LevelRenderer renderer_;
    // Wine shows nothing of a child window that has a GL pixel format: there
    // the context lives on a hidden window of its own, the picture is drawn
    // into a framebuffer of the view's own and copied onto the view through GDI.
    bool throughGdi_ = false;
    HWND contextWindow_ = nullptr;
    app::gl::GLuint framebuffer_ = 0, colour_ = 0, depth_ = 0;
    int framebufferWidth_ = 0, framebufferHeight_ = 0;
    std::vector<std::uint8_t> pixels_;
    std::string reported_;  // the renderer's failure already told
    app::View3DBehaviour* behaviour_ = nullptr;
};

}  // namespace v2bsp::win32
