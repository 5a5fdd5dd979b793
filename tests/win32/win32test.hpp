// What the Win32 window tests share: dialogs that answer instead of a user,
// the message pump a test waits in, and a window's text read back.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "fakedialogs.hpp"
#include "win32/wingui.hpp"

namespace win32test {

using v2bsp::fixtures::CapturedMessages;
using v2bsp::fixtures::ScriptedOpenBox;

// Handles what is queued for the thread, as the program's loop would.
inline void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;  // the window's end; the test goes on
        v2bsp::win32::Wnd* root = v2bsp::win32::Wnd::fromHandle(GetAncestor(msg.hwnd, GA_ROOT));
        if (root != nullptr && root->translate(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// How long a test waits for what the window does by itself (a run's end, its
// closing) before calling it hung. A wait returns as soon as its condition
// holds, so this only bounds a hang; it is minutes so that a machine busy
// with other work never reaches it.
inline constexpr std::chrono::minutes kPatience{2};

// Handles the thread's messages until `done`, or kPatience passes; false on a hang.
inline bool pumpUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        pump();
    }
    return true;
}

inline std::string text(HWND hwnd) {
    return v2bsp::win32::Control{hwnd}.text();
}

// The text of a list view's cell.
inline std::string cellText(HWND list, int row, int column) {
    wchar_t buffer[512] = {};
    ListView_GetItemText(list, row, column, buffer, 512);
    return v2bsp::win32::utf8(buffer);
}

// A menu item's text, by its command id.
inline std::string menuText(HMENU menu, int id) {
    wchar_t buffer[128] = {};
    GetMenuStringW(menu, static_cast<UINT>(id), buffer, 128, MF_BYCOMMAND);
    return v2bsp::win32::utf8(buffer);
}

// A control's rectangle in its parent's client area.
inline RECT placeOf(HWND control) {
    return v2bsp::win32::Control{control}.bounds();
}

// A key as the message loop gets it, with the modifiers held.
inline bool pressKey(v2bsp::win32::Wnd& window, HWND target, UINT key, bool control, bool shift = false) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_CONTROL] = control ? 0x80 : 0;
    state[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(state);
    MSG msg{target, WM_KEYDOWN, key, 1, static_cast<DWORD>(GetMessageTime()), {}};
    const bool used = window.translate(msg);
    if (!used) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    state[VK_CONTROL] = state[VK_SHIFT] = 0;
    SetKeyboardState(state);
    pump();
    return used;
}

}  // namespace win32test
