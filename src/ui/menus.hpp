// A window's menu rows (app/layout.hpp) as the toolkit's actions and menus.
#pragma once

#include <functional>
#include <span>
#include <string_view>

#include "app/layout.hpp"

class QAction;
class QMenuBar;
class QObject;

namespace v2bsp::ui {

// The item `row` as an action of `parent`, named as its row, with its
// shortcut and second shortcut, its tooltip, its check state and the text a
// toolbar shows for it.
QAction* rowAction(const app::MenuItem& row, QObject* parent);

// The menus and items of `rows` on `bar`, the items made by rowAction, with
// separators where the rows have them and tooltips shown in the menu.
// `chosen` gets the row's name when the user chooses an item, and when a
// checkable one toggles (also by setChecked, unless its signals are blocked).
void addMenuRows(QMenuBar& bar, std::span<const app::MenuItem> rows, std::function<void(std::string_view)> chosen);

}  // namespace v2bsp::ui
