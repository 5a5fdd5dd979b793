// The command line of the window program:
//
//   v2bsp [MAP]      open the window, with MAP chosen as if by File > Open
//   v2bsp --version  print the name, version and description
//   v2bsp --help     print this usage
//
// Options of the toolkit itself (-platform, -style, ...) are removed before
// the arguments reach parseCommandLine.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/texts.hpp"

namespace v2bsp::ui {

inline constexpr std::string_view kProgramName = app::kProgramName;
inline constexpr std::string_view kInternalName = "V2 BSP Extractor";
inline constexpr std::string_view kDescription = app::kDescription;
inline constexpr std::string_view kNoDisplay =
    "v2bsp: cannot open a window: no display; v2bsp-extract extracts without one";

struct StartRequest {
    enum class Action { window, version, help, usageError };
    Action action = Action::window;
    std::string map;    // empty: no map chosen
    std::string error;  // for usageError
};

// `args` without the program name. "--" ends the options; at most one MAP.
StartRequest parseCommandLine(const std::vector<std::string>& args);

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

// True for the folders a package installs programs into (/usr/bin,
// /usr/local/bin, /bin, /opt/...): mesh files never go there, even for a
// user who may write there.
bool isSystemFolder(const std::filesystem::path& folder);

std::string versionText();
std::string helpText();

}  // namespace v2bsp::ui
