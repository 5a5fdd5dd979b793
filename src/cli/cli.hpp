// v2bsp-extract: the command-line host of the extraction.
//
//   v2bsp-extract [-o DIR] [-q] MAP...   extract each map in turn
//   v2bsp-extract --list-tags MAP        print the tag names, one a line
//   v2bsp-extract --help | --version
//
// Exit status: 0 when every map was extracted completely; 1 when any map
// failed, any file could not be written, any mesh was skipped or a mesh table
// was cut short; 2 for a usage error.
#pragma once

#include <ostream>

namespace v2bsp {

inline constexpr int kExitComplete = 0;
inline constexpr int kExitIncomplete = 1;
inline constexpr int kExitUsage = 2;

// Runs the command with its arguments (argv[0] included), writing the log and
// tag names to `out` and the errors to `err`. Returns the exit status.
int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace v2bsp
