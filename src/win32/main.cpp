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

#include "app/texts.hpp"
#include "platform/diskfiles.hpp"
#include "version.hpp"
#include "win32/form1.hpp"

namespace {

constexpr char kUsage[] = "Usage: v2bsp.exe [MAP]\nOpens the window; MAP, when given, is chosen as if by File > Open.";

// The map of the command line: empty for none; false when it is not one MAP
// (`error` says why) or asks for a text (`error` is empty, `text` holds it).
bool mapArgument(int argc, wchar_t** argv, std::string& map, std::string& error, std::string& text) {
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view arg = argv[i];
        if (options && arg == L"--") {
            options = false;
        } else if (options && (arg == L"--version" || arg == L"--help")) {
            text = arg == L"--help" ? std::string(kUsage)
                                    : std::string(v2bsp::app::kProgramName) + " " + std::string(v2bsp::kVersionText) +
                                          " (V2 BSP Extractor)\n" + std::string(v2bsp::app::kDescription) + ".";
            return false;
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
    std::string map, error, text;
    const bool valid = mapArgument(argc, argv, map, error, text);
    LocalFree(argv);
    if (!valid) {
        const std::wstring shown = v2bsp::win32::wide(error.empty() ? text : "v2bsp: " + error + "\n\n" + kUsage);
        MessageBoxW(nullptr, shown.c_str(), L"v2bsp", MB_OK | (error.empty() ? MB_ICONINFORMATION : MB_ICONWARNING));
        return error.empty() ? 0 : 2;
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
