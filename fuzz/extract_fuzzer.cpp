// libFuzzer target: the whole extraction of one map held in memory.
#include <cstdio>
#include <cstdlib>

#include "fuzzentries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = v2bsp::fuzz::extractBytes(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "v2bsp extraction rule broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
