#include "app/commandline.hpp"

#include "version.hpp"

namespace v2bsp::app {

StartRequest parseCommandLine(const std::vector<std::string>& args) {
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
            return {StartRequest::Action::usageError, {}, "unknown option " + arg};
        } else if (!request.map.empty()) {
            return {StartRequest::Action::usageError, {}, "only one MAP can be opened"};
        } else if (arg.empty()) {
            return {StartRequest::Action::usageError, {}, "the MAP is an empty name"};
        } else {
            request.map = arg;
        }
    }
    return request;
}

std::string versionText() {
    return std::string(kProgramName) + " " + std::string(kVersionText) + " (" + std::string(kInternalName) + ")\n" +
           std::string(kDescription) + ".\n";
}

std::string helpText(std::string_view program) {
    return "Usage: " + std::string(program) +
           " [MAP]\n"
           "Opens the window; MAP, when given, is chosen as if by File > Open.\n"
           "\n"
           "  --version  print the version and exit\n"
           "  --help     print this help and exit\n";
}

}  // namespace v2bsp::app
