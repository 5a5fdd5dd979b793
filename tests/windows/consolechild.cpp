// The helper of windows_test: extracts MAP into DIR on two threads, with the
// console handler installed as v2bsp-extract installs it, and when the third
// mesh file is being written does what HOW says while that file is still a
// temporary one:
//   ctrl-c, ctrl-break  raise the event on its own console, then wait to be ended by it;
//   wait                 write DIR/ready and wait to be ended from outside.
// Exit status 3: the event could not be raised on this console.
#include <windows.h>

#include <atomic>
#include <fstream>
#include <string>

#include "extract/extractmap.hpp"
#include "platform/diskfiles.hpp"
#include "platform/utf8path.hpp"

namespace {

class QuietHost final : public v2bsp::ExtractHost {
public:
    void logline(std::string_view) override {}
    void addTagName(std::string_view) override {}
    void mapFailed(const v2bsp::MapFailure&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const std::string map = argv[1];
    const std::string folder = argv[2];
    const std::string how = argv[3];
    v2bsp::installTemporaryCleanup();
    std::atomic<int> files{0};
    v2bsp::DiskFilesOptions options;
    options.whileWriting = [&] {
        if (++files != 3) return;
        if (how == "wait") {
            std::ofstream(folder + "/ready") << "ready\n";
        } else {
            const DWORD event = how == "ctrl-break" ? CTRL_BREAK_EVENT : CTRL_C_EVENT;
            const DWORD group = event == CTRL_BREAK_EVENT ? ::GetCurrentProcessId() : 0;
            if (::GenerateConsoleCtrlEvent(event, group) == 0) ::ExitProcess(3);
        }
        ::Sleep(INFINITE);  // until the event or the test ends the process
    };
    const auto files_place = v2bsp::makeDiskFiles(options);
    v2bsp::ExtractSettings settings;
    settings.outputParent = v2bsp::pathFromUtf8(folder);
    settings.jobs = 2;
    settings.files = files_place.get();
    QuietHost host;
    v2bsp::extractmap(map, host, settings);
    return 0;
}
