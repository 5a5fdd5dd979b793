// v2bsp.exe: the window program on Windows.
//
//   v2bsp.exe [MAP]      opens Form1, with MAP chosen as if by File > Open
//   v2bsp.exe --version  says the name, version and what it does
//   v2bsp.exe --help     says this usage
//
// The arguments arrive as UTF-16 and are kept as UTF-8, as every path of the
// program is. A program without a console answers in a message box; a
// wrong command line ends with status 2.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "app/commandline.hpp"
#include "platform/diskfiles.hpp"
#include "win32/form1.hpp"

namespace {

constexpr char kProgram[] = "v2bsp.exe";

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(v2bsp::win32::utf8(argv[i]));
    LocalFree(argv);
    using Action = v2bsp::app::StartRequest::Action;
    const v2bsp::app::StartRequest request = v2bsp::app::parseCommandLine(args);
    if (request.action != Action::window) {
        const bool wrong = request.action == Action::usageError;
        const std::string text = request.action == Action::version ? v2bsp::app::versionText()
                                 : wrong ? "v2bsp: " + request.error + "\n\n" + v2bsp::app::helpText(kProgram)
                                         : v2bsp::app::helpText(kProgram);
        MessageBoxW(nullptr, v2bsp::win32::wide(text).c_str(), L"v2bsp",
                    MB_OK | (wrong ? MB_ICONWARNING : MB_ICONINFORMATION));
        return wrong ? 2 : 0;
    }
    const std::string& map = request.map;

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
