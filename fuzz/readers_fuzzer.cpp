// libFuzzer target: the readers, float decoding, number text, OBJ text and names.
#include <cstdio>
#include <cstdlib>

#include "fuzzentries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = v2bsp::fuzz::checkreaders(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "v2bsp reader rule broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
