// Text and names that leave the map: Windows-1252 bytes as UTF-8, and the
// output folder's name made safe for the file system.
#pragma once

#include <string>
#include <string_view>

namespace v2bsp {

// The bytes read as Windows-1252, written as UTF-8. The five codes that
// Windows-1252 leaves undefined (81 8D 8F 90 9D) become U+0081 and so on.
std::string cp1252ToUtf8(std::string_view bytes);

// `name` (UTF-8) with each control character (U+0000-U+001F, U+007F-U+009F)
// and each of / \ : * ? " < > | replaced by "_", then leading and trailing
// spaces and dots removed. The result never names a parent folder and never
// holds a separator.
std::string safeFolderName(std::string_view name);

// The output folder's name for a map: the map name (Windows-1252 bytes) made
// safe; if nothing is left, the map file's name up to its last dot (unless that
// dot is its first character) made safe; if that is empty too, "map". A name
// whose part before its first dot is a device name that Windows reserves
// (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any case) gets "_" after that
// part ("nul.level" becomes "nul_.level"), on every system, so that a map
// gets the same names everywhere.
std::string outputFolderName(std::string_view mapnamebytes, std::string_view mapfilename);

// `name` (UTF-8) with its letters folded to one case, as the file systems
// that ignore case compare names: two folder names are the same folder there
// when their keys are equal. Folds the letters a map name can hold (ASCII,
// Latin-1 and the letters of Windows-1252); others are kept as they are.
std::string caseKey(std::string_view name);

}  // namespace v2bsp
