// Paths from and to UTF-8 text, alike on every system.
//
// The program keeps names as UTF-8 text (a map's folder name, the paths the
// user typed). A std::filesystem::path made from a std::string reads it in the
// system's narrow encoding, which on some systems is a legacy code page, so
// text becomes a path, and a path text, only through these.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace v2bsp {

// The path that the UTF-8 `text` names. Where paths are bytes, the bytes as
// they are, valid UTF-8 or not.
inline std::filesystem::path pathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// `path` as UTF-8 text.
inline std::string utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// `path` as a message shows it: UTF-8, with the system's own separator
// between its parts.
inline std::string shownPath(std::filesystem::path path) {
    return utf8Text(path.make_preferred());
}

}  // namespace v2bsp
