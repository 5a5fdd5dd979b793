// What every libFuzzer target does with one input: run its checks, and end
// the process (so that libFuzzer keeps the input) when a rule broke or the
// input took more CPU time than the bound. The bound is on the CPU time of
// the process, not on the clock, so that it holds however busy the machine
// is; V2BSP_FUZZ_CPU_SECONDS sets it (scripts/fuzz.sh says why it is what it is).
#pragma once

#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace v2bsp::fuzz {

inline double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The bound of one input in CPU seconds; none (0) unless the environment sets one.
inline double cpuBound() {
    static const double bound = [] {
        const char* text = std::getenv("V2BSP_FUZZ_CPU_SECONDS");
        return text != nullptr ? std::atof(text) : 0.0;
    }();
    return bound;
}

template <typename Check>
int checkedInput(const char* what, Check check, const std::uint8_t* data, std::size_t size) {
    const double before = processCpuSeconds();
    std::string broken = check(data, size);
    const double spent = processCpuSeconds() - before;
    if (broken.empty() && cpuBound() > 0 && spent > cpuBound()) {
        char text[128];
        std::snprintf(text, sizeof text, "the input took %.2f s of CPU time, more than the bound of %.2f s", spent,
                      cpuBound());
        broken = text;
    }
    if (!broken.empty()) {
        std::fprintf(stderr, "v2bsp %s rule broken: %s\n", what, broken.c_str());
        std::abort();
    }
    return 0;
}

}  // namespace v2bsp::fuzz
