#include <iostream>
#include <string_view>
#include <vector>

#include "mapbuilder/mapbuilder.hpp"

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return v2bsp::mapbuilder::runMkmap(args, std::cout, std::cerr);
}
