// Showing a folder in the system's file manager, for the 3D View's Open Folder.
#pragma once

#include "app/dialogs.hpp"

class QObject;

namespace v2bsp::ui {

// The system's opener: xdg-open, whose exit status and last words say
// whether it found a file manager; the toolkit's own way where there is no
// xdg-open. It answers when xdg-open has ended, or at once. Its processes
// belong to `owner`.
app::FolderOpener systemFolderOpener(QObject* owner);

}  // namespace v2bsp::ui
