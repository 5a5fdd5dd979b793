// Paths and texts between the toolkit and the core: a QString as the file
// system's own bytes, and back, so that a name that is not valid in the
// locale's encoding still names the same file; the core's UTF-8 texts.
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>
#include <string_view>

namespace v2bsp::ui {

inline std::filesystem::path localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

inline QString qtPath(const std::filesystem::path& path) {
    return QFile::decodeName(path.string().c_str());
}

inline QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace v2bsp::ui
