#include <iostream>

#include "cli/cli.hpp"
#include "platform/diskfiles.hpp"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    v2bsp::installtemporarycleanup();
    return v2bsp::runcli(argc, argv, std::cout, std::cerr);
}
