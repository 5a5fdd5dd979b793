#include <iostream>

#include "cli/cli.hpp"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return v2bsp::runcli(argc, argv, std::cout, std::cerr);
}
