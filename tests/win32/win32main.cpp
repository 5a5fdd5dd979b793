// The main of the window test programs: the tests, then an end without the
// process's own clean-up, in which wine was seen to hang once windows had
// been shown; nothing is left to do by then.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    return status;
}
