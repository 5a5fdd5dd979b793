#include <iostream>

#include "cli/cli.hpp"
#include "platform/diskfiles.hpp"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    v2bsp::installTemporaryCleanup();
    v2bsp::reportWriteSignalsAsErrors();
    return v2bsp::runCli(argc, argv, std::cout, std::cerr);
}
