// v2bsp-extract on Windows: the arguments arrive as UTF-16 and are handed on
// as UTF-8, as every path of the program is kept; what the program prints is
// UTF-8, and a console is told so.
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.hpp"
#include "platform/diskfiles.hpp"
#include "platform/win32/winsystem.hpp"

namespace {

// The console's output code page, UTF-8 while the program runs and given
// back at its end.
class ConsoleUtf8 {
public:
    ConsoleUtf8() : earlier_(::GetConsoleOutputCP()) {
        if (earlier_ != 0) ::SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleUtf8() {
        if (earlier_ != 0) ::SetConsoleOutputCP(earlier_);
    }
    ConsoleUtf8(const ConsoleUtf8&) = delete;
    ConsoleUtf8& operator=(const ConsoleUtf8&) = delete;

private:
    UINT earlier_;  // 0: no console
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    static const ConsoleUtf8 kConsole;
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) arguments.push_back(v2bsp::utf8FromWide(argv[i]));
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);

    std::ios::sync_with_stdio(false);
    v2bsp::installTemporaryCleanup();
    return v2bsp::runCli(argc, pointers.data(), std::cout, std::cerr);
}
