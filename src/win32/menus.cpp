#include "win32/menus.hpp"

#include <map>
#include <string>

#include "win32/wingui.hpp"

namespace v2bsp::win32 {

bool acceleratorOf(std::string_view shortcut, int id, ACCEL& key) {
    key = {FVIRTKEY, 0, static_cast<WORD>(id)};
    while (true) {
        const std::size_t plus = shortcut.find('+');
        if (plus == std::string_view::npos || plus + 1 == shortcut.size()) break;
        const std::string_view modifier = shortcut.substr(0, plus);
        if (modifier == "Ctrl") {
            key.fVirt |= FCONTROL;
        } else if (modifier == "Shift") {
            key.fVirt |= FSHIFT;
        } else if (modifier == "Alt") {
            key.fVirt |= FALT;
        } else {
            return false;
        }
        shortcut.remove_prefix(plus + 1);
    }
    if (shortcut.size() == 1 &&
        ((shortcut[0] >= 'A' && shortcut[0] <= 'Z') || (shortcut[0] >= '0' && shortcut[0] <= '9'))) {
        key.key = static_cast<WORD>(shortcut[0]);
    } else if (shortcut == "Esc") {
        key.key = VK_ESCAPE;
    } else {
        return false;
    }
    return true;
}

MenuBar::MenuBar(std::span<const app::MenuItem> rows, int firstId)
    : rows_(rows), firstId_(firstId), bar_(CreateMenu()) {
    std::map<std::string_view, HMENU> dropDowns;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const app::MenuItem& item = rows[i];
        const int command = firstId + static_cast<int>(i);
        if (item.parent.empty()) {
            HMENU dropDown = CreatePopupMenu();
            dropDowns[item.name] = dropDown;
            AppendMenuW(bar_, MF_POPUP, reinterpret_cast<UINT_PTR>(dropDown), wide(item.caption).c_str());
            continue;
        }
        HMENU parent = dropDowns.at(item.parent);
        if (item.name == app::kSeparator) {
            AppendMenuW(parent, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        std::string text(item.caption);
        if (!item.shortcut.empty()) {
            text.push_back('\t');
            text.append(item.shortcut);
        }
        AppendMenuW(parent, MF_STRING | (item.checked ? MF_CHECKED : 0), static_cast<UINT_PTR>(command),
                    wide(text).c_str());
        for (const std::string_view shortcut : {item.shortcut, item.alternate}) {
            ACCEL key{};
            if (!shortcut.empty() && acceleratorOf(shortcut, command, key)) keys_.push_back(key);
        }
    }
}

int MenuBar::id(std::string_view name) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].name == name) return firstId_ + static_cast<int>(i);
    }
    return 0;
}

const app::MenuItem* MenuBar::row(int id) const {
    const int index = id - firstId_;
    return index >= 0 && index < static_cast<int>(rows_.size()) ? &rows_[static_cast<std::size_t>(index)] : nullptr;
}

}  // namespace v2bsp::win32
