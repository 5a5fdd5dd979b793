// The program's icon, drawn here: a small faceted solid on a dark tile, the
// kind of mesh the program writes out.
#pragma once

#include <QIcon>
#include <QImage>
#include <initializer_list>

namespace v2bsp::ui {

// Sizes drawn for the window (20 is the window's own) and for the desktop.
inline constexpr std::initializer_list<int> kIconSizes = {16, 20, 22, 24, 32, 48, 64, 128, 256};

// The icon drawn at `size` × `size` pixels on a transparent ground.
QImage iconImage(int size);

QIcon appIcon();

}  // namespace v2bsp::ui
