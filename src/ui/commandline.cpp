#include "ui/commandline.hpp"

#include <algorithm>
#include <array>


namespace v2bsp::ui {

bool wantsTextOnly(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--") return false;
        if (arg == "--version" || arg == "--help" || arg == "-h") return true;
    }
    return false;
}

std::vector<std::string> withoutToolkitOptions(const std::vector<std::string>& args) {
    static const std::array<std::string_view, 12> kWithValue = {"-platform",        "-platformpluginpath",
                                                                "-platformtheme",   "-plugin",
                                                                "-qwindowgeometry", "-qwindowicon",
                                                                "-qwindowtitle",    "-style",
                                                                "-stylesheet",      "-session",
                                                                "-display",         "-geometry"};
    static const std::array<std::string_view, 6> kFlags = {"-reverse", "-nograb",      "-dograb",
                                                           "-sync",    "-widgetcount", "-qmljsdebugger"};
    std::vector<std::string> kept;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options && arg == "--") options = false;
        const std::string_view name = std::string_view(arg).substr(0, arg.find('='));
        if (options && std::find(kWithValue.begin(), kWithValue.end(), name) != kWithValue.end()) {
            if (name.size() == arg.size()) ++i;  // the value is the next argument
            continue;
        }
        if (options && std::find(kFlags.begin(), kFlags.end(), name) != kFlags.end()) continue;
        kept.push_back(arg);
    }
    return kept;
}

bool canOpenWindow(const std::vector<std::string>& args, Environment env) {
    const auto variable = [env](const char* name) {
        const char* value = env(name);
        return std::string(value != nullptr ? value : "");
    };
    std::string platform = variable("QT_QPA_PLATFORM"), display;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") break;
        for (const std::string_view option : {"-platform", "-display"}) {
            std::string value;
            if (args[i] == option && i + 1 < args.size()) {
                value = args[i + 1];
            } else if (args[i].rfind(std::string(option) + "=", 0) == 0) {
                value = args[i].substr(option.size() + 1);
            } else {
                continue;
            }
            (option == "-platform" ? platform : display) = value;
        }
    }
    // The first of "name:options;other" is the one tried first.
    const std::string name = platform.substr(0, platform.find_first_of(":;"));
    const bool x = !display.empty() || !variable("DISPLAY").empty();
    if (name.empty()) return x || !variable("WAYLAND_DISPLAY").empty();
    if (name == "xcb") return x;
    return true;
}

}  // namespace v2bsp::ui
