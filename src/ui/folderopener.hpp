// Showing a folder in the system's file manager, for the 3D View's Open Folder.
#pragma once

#include <QString>
#include <functional>

class QObject;

namespace v2bsp::ui {

// Shows `folder` in the system's file manager, then calls `done` with why
// that failed, or with an empty text when it did not; at once, or when the
// opener has ended.
using FolderOpener = std::function<void(const QString& folder, std::function<void(const QString& failure)> done)>;
// The system's: xdg-open, whose exit status and last words say whether it
// found a file manager; the toolkit's own way where there is no xdg-open.
// Its processes belong to `owner`.
FolderOpener systemFolderOpener(QObject* owner);

}  // namespace v2bsp::ui
