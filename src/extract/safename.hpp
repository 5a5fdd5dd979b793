// Text and names that leave the map: Windows-1252 bytes as UTF-8, and the
// output folder's name made safe for the file system.
#pragma once

#include <string>
#include <string_view>

namespace v2bsp {

// The bytes read as Windows-1252, written as UTF-8. The five codes that
// Windows-1252 leaves undefined (81 8D 8F 90 9D) become U+0081 and so on.
std::string cp1252ToUtf8(std::string_view bytes);

// `name` (UTF-8) with each control character (U+0000-U+001F, U+007F-U+009F),
// each of / \ : * ? " < > | and each byte that is not part of well-formed
// UTF-8 replaced by "_", then leading and trailing spaces and dots removed.
// The result is valid UTF-8, never names a parent folder and never holds a
// separator.
std::string safeFolderName(std::string_view name);

// The output folder's name for a map: the map name (Windows-1252 bytes) made
// safe; if nothing is left, the map file's name (UTF-8, or any bytes) up to
// its last dot (unless that dot is its first character) made safe; if that is
// empty too, "map". Where the part before the first dot, without the blanks
// at its end, is a device name that Windows reserves (CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM1-COM9, LPT1-LPT9, COM and LPT followed by a superscript
// 1, 2 or 3; in any ASCII case), "_" goes right after the device name
// ("nul.level" becomes "nul_.level", "CON .x" "CON_ .x"), on every system, so
// that a map gets the same names everywhere.
std::string outputFolderName(std::string_view mapNameBytes, std::string_view mapFileName);

// `name` (UTF-8) with each letter replaced by its uppercase as Windows
// compares names (extract/uppercase.hpp): two names are the same name to a
// file system that ignores case when their keys are equal. Applied to its own
// result it changes nothing; a malformed byte is kept as it is.
std::string caseKey(std::string_view name);

}  // namespace v2bsp
