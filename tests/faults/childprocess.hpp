// Runs work in a child process, so that a test survives work that blocks or
// never ends, and can measure the peak memory of work that started afresh.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace v2bsp {

// How long a child may take before it is taken for hung and killed. It only
// catches a run that blocks or never ends, far beyond any run's time on a
// busy machine; a bound on work is one of CPU time (ProgramSetup::cpuSeconds),
// never this.
inline constexpr std::chrono::minutes kHangLimit{10};

struct ChildOutcome {
    bool finished = false;       // false: killed when the time limit passed
    int status = -1;             // exit status; -1 when ended by a signal
    int signal = 0;              // the signal that ended it; 0 when it exited
    std::string out;             // standard output
    std::string err;             // standard error
    double seconds = 0;          // wall time, start to end
    std::int64_t peakbytes = 0;  // peak resident memory of the child
};

// Runs `body` in a forked child; what it writes to its two streams comes back
// as `out` and `err`, and its return value as the exit status.
ChildOutcome runForked(const std::function<int(std::ostream& out, std::ostream& err)>& body,
                       std::chrono::milliseconds limit);

// What a program is started with besides its arguments.
struct ProgramSetup {
    std::string stdoutfile;           // standard output goes to this file, not to `out`
    bool closedStdout = false;        // standard output is a pipe whose reading end is closed
    std::uint64_t addressspace = 0;   // RLIMIT_AS of the program, in bytes; 0 leaves it as it is
    std::uint64_t datasize = 0;       // RLIMIT_DATA, the same way
    std::uint64_t stacksize = 0;      // RLIMIT_STACK, the same way (also the size of its threads' stacks)
    std::uint64_t fileSizeLimit = 0;  // RLIMIT_FSIZE, the same way
    unsigned cpuSeconds = 0;          // RLIMIT_CPU, in seconds (SIGXCPU past it); 0 leaves it as it is
};

// Runs the program `argv[0]` with the arguments that follow, capturing its
// standard output and error. A fresh process image, so `peakbytes` is its own.
ChildOutcome runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                        const ProgramSetup& setup = {});

}  // namespace v2bsp
