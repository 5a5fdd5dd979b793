// What the Windows side of the platform seams shares: the system's reasons in
// its own words, UTF-8 and UTF-16 text, and paths in the form the system
// takes at any length.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace v2bsp {

// A Windows error (GetLastError()), whose message() is the system's own
// sentence for it (FormatMessageW), in UTF-8. Compares equal to the portable
// std::errc values as std::system_category() maps them.
std::error_code systemError(DWORD code);
// The Windows error for an NTSTATUS of the native file calls.
std::error_code ntError(LONG status);

std::string utf8FromWide(std::wstring_view text);

// `path` as the file calls take it: as given while it is short, else made
// absolute in the \\?\ form, which lifts the limit of MAX_PATH characters.
std::wstring systemPath(const std::filesystem::path& path);

}  // namespace v2bsp
