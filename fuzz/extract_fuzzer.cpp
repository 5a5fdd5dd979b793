// libFuzzer target: the whole extraction of one map held in memory.
#include "checkedinput.hpp"
#include "fuzzentries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return v2bsp::fuzz::checkedInput("extraction", v2bsp::fuzz::extractBytes, data, size);
}
