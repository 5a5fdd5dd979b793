// libFuzzer target: the readers, float decoding, number text, OBJ text and names.
#include "checkedinput.hpp"
#include "fuzzentries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return v2bsp::fuzz::checkedInput("reader", v2bsp::fuzz::checkreaders, data, size);
}
