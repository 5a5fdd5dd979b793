// Paths between the toolkit and the core: a QString as the file system's own
// bytes, and back, so that a name that is not valid in the locale's encoding
// still names the same file.
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>

namespace v2bsp::ui {

inline std::filesystem::path localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

inline QString qtPath(const std::filesystem::path& path) {
    return QFile::decodeName(path.string().c_str());
}

}  // namespace v2bsp::ui
