// v2bsp.exe: the window program on Windows.
//
//   v2bsp.exe [MAP]   opens Form1, with MAP chosen as if by File > Open
//
// The arguments arrive as UTF-16 and are kept as UTF-8, as every path of the
// program is. A program without a console answers a wrong command line in a
// message box.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "app/texts.hpp"
#include "platform/diskfiles.hpp"
#include "win32/form1.hpp"

namespace {

// The map of the command line: empty for none; false when it is not one MAP.
bool mapArgument(int argc, wchar_t** argv, std::string& map, std::string& error) {
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view arg = argv[i];
        if (options && arg == L"--") {
            options = false;
        } else if (options && arg.size() > 1 && arg.front() == L'-') {
            error = "unknown option " + v2bsp::win32::utf8(arg);
            return false;
        } else if (!map.empty()) {
            error = "only one MAP can be opened";
            return false;
        } else if (arg.empty()) {
            error = "the MAP is an empty name";
            return false;
        } else {
            map = v2bsp::win32::utf8(arg);
        }
    }
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::string map, error;
    const bool valid = mapArgument(argc, argv, map, error);
    LocalFree(argv);
    if (!valid) {
        const std::wstring text = v2bsp::win32::wide("v2bsp: " + error + "\n\nUsage: v2bsp.exe [MAP]");
        MessageBoxW(nullptr, text.c_str(), L"v2bsp", MB_OK | MB_ICONWARNING);
        return 2;
    }

    v2bsp::installTemporaryCleanup();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    v2bsp::win32::Form1 window;
    if (!window.create()) return 1;
    ShowWindow(window.hwnd(), show);
    UpdateWindow(window.hwnd());
    if (!map.empty()) window.chooseMap(map);
    const int status = v2bsp::win32::runMessageLoop();
    CoUninitialize();
    return status;
}
