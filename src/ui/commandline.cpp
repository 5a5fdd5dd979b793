#include "ui/commandline.hpp"

#include "version.hpp"

namespace v2bsp::ui {

StartRequest parsecommandline(const std::vector<std::string>& args) {
    StartRequest request;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--version") {
            return {StartRequest::Action::version, {}, {}};
        } else if (options && (arg == "--help" || arg == "-h")) {
            return {StartRequest::Action::help, {}, {}};
        } else if (options && arg.size() > 1 && arg.front() == '-') {
            return {StartRequest::Action::usageerror, {}, "unknown option " + arg};
        } else if (!request.map.empty()) {
            return {StartRequest::Action::usageerror, {}, "only one MAP can be opened"};
        } else if (arg.empty()) {
            return {StartRequest::Action::usageerror, {}, "the MAP is an empty name"};
        } else {
            request.map = arg;
        }
    }
    return request;
}

bool wantstextonly(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--") return false;
        if (arg == "--version" || arg == "--help" || arg == "-h") return true;
    }
    return false;
}

std::string versiontext() {
    return std::string(kProgramName) + " " + std::string(kVersionText) + " (" + std::string(kInternalName) +
           ")\n" + std::string(kDescription) + ".\n";
}

std::string helptext() {
    return "Usage: " + std::string(kProgramName) +
           " [MAP]\n"
           "Opens the window; MAP, when given, is chosen as if by File > Open.\n"
           "\n"
           "  --version  print the version and exit\n"
           "  --help     print this help and exit\n";
}

}  // namespace v2bsp::ui
