// libFuzzer target: the output folder's name and the case rule of names.
#include <cstdio>
#include <cstdlib>

#include "fuzzentries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = v2bsp::fuzz::checknames(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "v2bsp name rule broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
