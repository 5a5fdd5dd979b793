// The window program's own command line, the same on every system:
//
//   PROGRAM [MAP]      open the window, with MAP chosen as if by File > Open
//   PROGRAM --version  the name, version and description
//   PROGRAM --help     this usage
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/texts.hpp"

namespace v2bsp::app {

inline constexpr std::string_view kInternalName = "V2 BSP Extractor";

struct StartRequest {
    enum class Action { window, version, help, usageError };
    Action action = Action::window;
    std::string map;    // empty: no map chosen
    std::string error;  // for usageError
};

// `args` without the program name. "--" ends the options; at most one MAP.
StartRequest parseCommandLine(const std::vector<std::string>& args);

std::string versionText();
// The usage of `program`, as the user calls it.
std::string helpText(std::string_view program = kProgramName);

}  // namespace v2bsp::app
