#include "ui/menus.hpp"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <map>

#include "ui/paths.hpp"

namespace v2bsp::ui {

QAction* rowAction(const app::MenuItem& row, QObject* parent) {
    auto* action = new QAction(text(row.caption), parent);
    action->setObjectName(text(row.name));
    QList<QKeySequence> keys;
    for (const std::string_view key : {row.shortcut, row.alternate}) {
        if (!key.empty()) keys << QKeySequence(text(key));
    }
    action->setShortcuts(keys);
    action->setCheckable(row.checkable);
    action->setChecked(row.checked);
    if (!row.tooltip.empty()) action->setToolTip(text(row.tooltip));
    action->setIconText(text(app::toolbarText(row)));
    return action;
}

void addMenuRows(QMenuBar& bar, std::span<const app::MenuItem> rows, std::function<void(std::string_view)> chosen) {
    std::map<std::string_view, QMenu*> menus;
    for (const app::MenuItem& item : rows) {
        if (item.parent.empty()) {
            QMenu* menu = bar.addMenu(text(item.caption));
            menu->setObjectName(text(item.name));
            menus[item.name] = menu;
            continue;
        }
        QMenu* menu = menus.at(item.parent);
        if (item.name == app::kSeparator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = rowAction(item, menu);
        menu->addAction(action);
        if (!item.tooltip.empty()) menu->setToolTipsVisible(true);
        // A checkable item is also checked by the program, and then tells only `toggled`.
        const auto reach = [chosen, name = item.name] { chosen(name); };
        if (item.checkable) {
            QObject::connect(action, &QAction::toggled, action, reach);
        } else {
            QObject::connect(action, &QAction::triggered, action, reach);
        }
    }
}

}  // namespace v2bsp::ui
