#include "win32/glview.hpp"

#include <windowsx.h>

#include <algorithm>
#include <optional>

namespace v2bsp::win32 {

GlView::~GlView() {
    if (hwnd() != nullptr) DestroyWindow(hwnd());
}

namespace {

// The camera's key of virtual key `key`, if it is one.
std::optional<app::ViewKey> viewKey(UINT key) {
    switch (key) {
        case VK_LEFT:
            return app::ViewKey::left;
        case VK_RIGHT:
            return app::ViewKey::right;
        case VK_UP:
            return app::ViewKey::up;
        case VK_DOWN:
            return app::ViewKey::down;
        case VK_ADD:
        case VK_OEM_PLUS:
        case VK_PRIOR:
            return app::ViewKey::zoomIn;
        case VK_SUBTRACT:
        case VK_OEM_MINUS:
        case VK_NEXT:
            return app::ViewKey::zoomOut;
        default:
            return std::nullopt;
    }
}

}  // namespace

bool GlView::create(Wnd& parent, int id) {
    CreateArgs args;
    args.parent = parent.hwnd();
    args.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    args.bounds = {0, 0, 1, 1};
    args.menu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
    args.classStyle = CS_OWNDC;
    return Wnd::create(args);
}

namespace {

// Wine's own ntdll says what it is.
bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A hidden window whose device context holds the GL context of a view drawn through GDI.
HWND hiddenContextWindow() {
    static const wchar_t* const kClass = [] {
        WNDCLASSW wc{};
        wc.style = CS_OWNDC;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"v2bsp.GlContextWindow";
        RegisterClassW(&wc);
        return wc.lpszClassName;
    }();
    return CreateWindowExW(0, kClass, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

std::string GlView::start() {
    throughGdi_ = runningUnderWine();
    if (throughGdi_) contextWindow_ = hiddenContextWindow();
    std::string failure;
    context_ = GlContext::create(throughGdi_ ? contextWindow_ : hwnd(), failure);
    if (context_ == nullptr) return failure;
    failure = app::gl::load(&GlContext::resolve, gl_);
    if (failure.empty()) failure = renderer_.initialize(gl_);
    if (!failure.empty()) context_.reset();
    return failure;
}

LRESULT GlView::windowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    // The view takes its keys and arrows itself; the GL paints every pixel.
    if (msg == WM_GETDLGCODE) return DLGC_WANTARROWS | DLGC_WANTCHARS;
    if (msg == WM_ERASEBKGND) return 1;
    if (msg == WM_SETFOCUS || msg == WM_KILLFOCUS) InvalidateRect(hwnd(), nullptr, FALSE);
    if (msg == WM_KEYDOWN && behaviour_ != nullptr) {
        const std::optional<app::ViewKey> key = viewKey(static_cast<UINT>(wparam));
        if (key && behaviour_->keyPressed(*key, GetKeyState(VK_SHIFT) < 0)) return 0;
    }
    return Wnd::windowProc(msg, wparam, lparam);
}

app::Painted GlView::paintNow() {
    if (context_ == nullptr || !context_->makeCurrent()) return app::Painted::nothing;
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int width = std::max(1, static_cast<int>(client.right)),
              height = std::max(1, static_cast<int>(client.bottom));
    if (throughGdi_) return paintThroughGdi(width, height);
    const app::Painted painted = renderer_.paint({0, width, height});
    // A part added off screen leaves the window's picture as it is; a swap
    // would show a back buffer nobody drew.
    if (painted != app::Painted::adding) context_->swapBuffers();
    return painted;
}

app::Painted GlView::paintThroughGdi(int width, int height) {
    namespace gl = app::gl;
    if (framebuffer_ == 0 || framebufferWidth_ != width || framebufferHeight_ != height) {
        freeFramebuffer();
        gl_.GenFramebuffers(1, &framebuffer_);
        gl_.GenRenderbuffers(1, &colour_);
        gl_.GenRenderbuffers(1, &depth_);
        gl_.BindRenderbuffer(gl::kRenderbuffer, colour_);
        gl_.RenderbufferStorage(gl::kRenderbuffer, gl::kRgba8, width, height);
        gl_.BindRenderbuffer(gl::kRenderbuffer, depth_);
        gl_.RenderbufferStorage(gl::kRenderbuffer, gl::kDepthComponent24, width, height);
        gl_.BindFramebuffer(gl::kFramebuffer, framebuffer_);
        gl_.FramebufferRenderbuffer(gl::kFramebuffer, gl::kColorAttachment0, gl::kRenderbuffer, colour_);
        gl_.FramebufferRenderbuffer(gl::kFramebuffer, gl::kDepthAttachment, gl::kRenderbuffer, depth_);
        framebufferWidth_ = width;
        framebufferHeight_ = height;
        pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
    }
    const app::Painted painted = renderer_.paint({framebuffer_, width, height});
    // A part added off screen leaves the picture read last as it is.
    if (painted != app::Painted::adding) {
        constexpr gl::GLenum kBgra = 0x80E1;
        gl_.BindFramebuffer(gl::kFramebuffer, framebuffer_);
        gl_.PixelStorei(gl::kPackAlignment, 1);
        gl_.ReadPixels(0, 0, width, height, kBgra, gl::kUnsignedByte, pixels_.data());
        gl_.BindFramebuffer(gl::kFramebuffer, 0);
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // rows from the bottom, as the GL reads them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(hwnd());
    SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                      static_cast<UINT>(height), pixels_.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(hwnd(), dc);
    return painted;
}

void GlView::freeFramebuffer() {
    if (framebuffer_ == 0) return;
    gl_.DeleteFramebuffers(1, &framebuffer_);
    gl_.DeleteRenderbuffers(1, &colour_);
    gl_.DeleteRenderbuffers(1, &depth_);
    framebuffer_ = colour_ = depth_ = 0;
}

// A large level's full picture is drawn a part a paint; the next part comes
// on a timer, so that it waits behind the window's input and the other
// timers (a posted message would go before them all).
bool GlView::onPaint() {
    PAINTSTRUCT paint;
    BeginPaint(hwnd(), &paint);
    const app::Painted painted = paintNow();
    EndPaint(hwnd(), &paint);
    if (!renderer_.failure().empty() && renderer_.failure() != reported_) {
        reported_ = renderer_.failure();
        if (onFailed) onFailed(reported_);
        return true;
    }
    if (painted == app::Painted::started || painted == app::Painted::adding) {
        SetTimer(hwnd(), kPartTimer, USER_TIMER_MINIMUM, nullptr);
    }
    return true;
}

void GlView::onTimer(UINT_PTR id) {
    if (id != kPartTimer) return;
    KillTimer(hwnd(), id);
    InvalidateRect(hwnd(), nullptr, FALSE);
}

void GlView::onSize(int width, int height) {
    renderer_.camera().setViewport(std::max(1, width), std::max(1, height));
    InvalidateRect(hwnd(), nullptr, FALSE);
}

bool GlView::onMouse(UINT msg, WPARAM wparam, LPARAM lparam) {
    if (behaviour_ == nullptr) return false;
    const app::Pixel at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    switch (msg) {
        case WM_LBUTTONDOWN:
        case WM_MBUTTONDOWN:
            SetFocus(hwnd());
            SetCapture(hwnd());
            behaviour_->pointerPressed(msg == WM_LBUTTONDOWN ? app::PointerButton::left : app::PointerButton::middle,
                                       at, (wparam & MK_SHIFT) != 0);
            return true;
        case WM_MOUSEMOVE:
            behaviour_->pointerMoved(at);
            return true;
        case WM_LBUTTONUP:
        case WM_MBUTTONUP:
            // Released before the capture: its loss ends no click.
            behaviour_->pointerReleased(msg == WM_LBUTTONUP ? app::PointerButton::left : app::PointerButton::middle,
                                        at);
            ReleaseCapture();
            return true;
        case WM_CAPTURECHANGED:
            behaviour_->pointerLost();
            return true;
        case WM_LBUTTONDBLCLK:
            behaviour_->doubleClicked();
            return true;
        case WM_MOUSEWHEEL: {
            POINT where{at.x, at.y};  // the wheel's place comes in screen coordinates
            ScreenToClient(hwnd(), &where);
            behaviour_->wheelTurned({where.x, where.y}, GET_WHEEL_DELTA_WPARAM(wparam) / float(WHEEL_DELTA));
            return true;
        }
        default:
            return false;
    }
}

int GlView::meshAt(app::Pixel pixel) {
    if (context_ == nullptr || !context_->makeCurrent()) return -1;
    return renderer_.meshAt(pixel);
}

std::vector<std::uint8_t> GlView::picture(int& width, int& height) {
    RECT client{};
    GetClientRect(hwnd(), &client);
    width = std::max(1L, client.right);
    height = std::max(1L, client.bottom);
    if (context_ == nullptr || !context_->makeCurrent()) return {};
    std::vector<std::uint8_t> pixels = renderer_.picture(width, height);
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4) std::swap(pixels[i], pixels[i + 2]);
    return pixels;
}

void GlView::onDestroy() {
    if (context_ != nullptr && context_->makeCurrent()) {
        freeFramebuffer();
        renderer_.release();
    }
    context_.reset();
    if (contextWindow_ != nullptr) DestroyWindow(contextWindow_);
    contextWindow_ = nullptr;
}

}  // namespace v2bsp::win32
