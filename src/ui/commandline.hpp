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

namespace v2bsp::ui {

inline constexpr std::string_view kProgramName = "v2bsp";
inline constexpr std::string_view kInternalName = "V2 BSP Extractor";
inline constexpr std::string_view kDescription =
    "Extracts the meshes of the first BSP of a Vorun 2 map as Wavefront OBJ files";

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

// True for the folders a package installs programs into (/usr/bin,
// /usr/local/bin, /bin, /opt/...): mesh files never go there, even for a
// user who may write there.
bool isSystemFolder(const std::filesystem::path& folder);

std::string versionText();
std::string helpText();

}  // namespace v2bsp::ui
