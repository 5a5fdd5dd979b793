// What the window tests share: the dialogs that answer instead of a user, output
// files that refuse some folders, and maps written by the map builder.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "extract/extractmap.hpp"
#include "fakedialogs.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "platform/diskfiles.hpp"
#include "recordinghost.hpp"
#include "refusingfiles.hpp"
#include "ui/form1.hpp"

namespace uitest {

namespace fs = std::filesystem;
namespace mb = v2bsp::mapbuilder;

// How long, in milliseconds, a test waits for what the window does by itself
// (a paint, a focus change, a run's end) before calling it hung. Every wait
// returns as soon as its condition holds, so this only bounds a hang; it is
// minutes so that a machine busy with other work never reaches it.
inline constexpr int kPatience = 2 * 60 * 1000;

using v2bsp::ui::Form1;

using v2bsp::fixtures::CapturedMessages;
using v2bsp::fixtures::ScriptedOpenBox;
using v2bsp::fixtures::RefusingFiles;

inline QStringList qtList(const std::vector<std::string>& items) {
    QStringList list;
    for (const std::string& item : items) list << QString::fromStdString(item);
    return list;
}

// The lines every complete run writes, with `meshes` mesh lines.
inline QStringList completeLog(int meshes) {
    return qtList(v2bsp::fixtures::logFor(meshes));
}

// The window's log of a complete run: those lines, then where the files went.
inline QStringList windowLog(int meshes, const QString& folder) {
    return qtList(v2bsp::fixtures::windowLog(meshes, folder.toStdString()));
}

using v2bsp::smallMap;
using v2bsp::writeMap;

inline QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// The names in `folder`, sorted; empty when it does not exist.
inline QStringList listing(const fs::path& folder) {
    return qtList(v2bsp::listing(folder));
}

}  // namespace uitest
