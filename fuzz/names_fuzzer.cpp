// libFuzzer target: the output folder's name and the case rule of names.
#include "checkedinput.hpp"
#include "fuzzentries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return v2bsp::fuzz::checkedInput("name", v2bsp::fuzz::checknames, data, size);
}
