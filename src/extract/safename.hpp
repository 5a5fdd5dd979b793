// Text and names that leave the map: Windows-1252 bytes as UTF-8, and the
// output folder's name made safe for the file system.
#pragma once

#include <string>
#include <string_view>

namespace v2bsp {

// The bytes read as Windows-1252, written as UTF-8. The five codes that
// Windows-1252 leaves undefined (81 8D 8F 90 9D) become U+0081 and so on.
std::string cp1252ToUtf8(std::string_view bytes);

// `name` (UTF-8) with each control character (codes 0-31 and 127) and each of
// / \ : * ? " < > | replaced by "_", then leading and trailing spaces and dots
// removed. The result never names a parent folder and never holds a separator.
std::string safeFolderName(std::string_view name);

// The output folder's name for a map: the map name (Windows-1252 bytes) made
// safe; if nothing is left, the map file's name up to its last dot (unless that
// dot is its first character) made safe; if that is empty too, "map".
std::string outputFolderName(std::string_view mapnamebytes, std::string_view mapfilename);

}  // namespace v2bsp
