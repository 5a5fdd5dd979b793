// v2bsp-extract run in-process with its streams captured.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.hpp"

namespace v2bsp::fixtures {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// `args` without the program name.
inline Outcome runcommand(std::vector<std::string> args) {
    args.insert(args.begin(), "v2bsp-extract");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    const int status = runCli(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

}  // namespace v2bsp::fixtures
