// The command line of the window program on the toolkit (app/commandline.hpp
// parses it): options of the toolkit itself (-platform, -style, ...) are
// removed before the arguments reach parseCommandLine, and whether a window
// can be opened at all is judged before the toolkit starts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/commandline.hpp"
#include "app/texts.hpp"

namespace v2bsp::ui {

inline constexpr std::string_view kProgramName = app::kProgramName;
using app::kInternalName;
inline constexpr std::string_view kDescription = app::kDescription;
inline constexpr std::string_view kNoDisplay =
    "v2bsp: cannot open a window: no display; v2bsp-extract extracts without one";

using app::helpText;
using app::parseCommandLine;
using app::StartRequest;
using app::versionText;

// True when `args` (without the program name) ask only for a text answer
// (--version or --help before any "--"), which needs no display.
bool wantsTextOnly(const std::vector<std::string>& args);

// `args` without the options the toolkit takes for itself before any "--"
// (-platform NAME, -style NAME, -reverse, ...), so that the command line can
// be judged before the toolkit, which may need a display, is started.
std::vector<std::string> withoutToolkitOptions(const std::vector<std::string>& args);

// Whether the toolkit can open a window for this command line (without the
// program name) in an environment read through `env`: false when the
// platform it would use (-platform, else QT_QPA_PLATFORM, else the X or
// Wayland display found) needs a display that none of -display, DISPLAY and
// WAYLAND_DISPLAY names. A platform that needs none (offscreen) can.
using Environment = const char* (*)(const char* name);
bool canOpenWindow(const std::vector<std::string>& args, Environment env);

}  // namespace v2bsp::ui
