// A window's menu bar and keys from the shared rows of app/layout.hpp: each
// item gets a command id of its own, its shortcut shown after its caption
// and put into the window's key table.
#pragma once

#include <windows.h>

#include <span>
#include <string_view>
#include <vector>

#include "app/layout.hpp"

namespace v2bsp::win32 {

class MenuBar {
public:
    // The rows' items get the ids firstId, firstId + 1, ... in row order.
    MenuBar(std::span<const app::MenuItem> rows, int firstId);

    HMENU handle() const { return bar_; }
    // The command id of the item named `name`; 0 for none.
    int id(std::string_view name) const;
    // The row of command `id`, or null.
    const app::MenuItem* row(int id) const;
    // Every shortcut of the items, for Wnd::setAccelerators.
    const std::vector<ACCEL>& keys() const { return keys_; }

private:
    std::span<const app::MenuItem> rows_;
    int firstId_;
    HMENU bar_;
    std::vector<ACCEL> keys_;
};

// "Ctrl+Shift+S", "F", "Esc" as a key table row for `id`; false when
// the text names no key.
bool acceleratorOf(std::string_view shortcut, int id, ACCEL& key);

}  // namespace v2bsp::win32
