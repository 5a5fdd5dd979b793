// The Windows side of the output and of the command, through the real file
// system: what a user of the command sees where Windows differs.
#include <windows.h>

#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "mapfile.hpp"
#include "platform/mapfile.hpp"
#include "platform/utf8path.hpp"
#include "platform/win32/winsystem.hpp"
#include "runcommand.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace {

namespace fs = std::filesystem;

// How long, in milliseconds, a test waits for another process (a Unix
// program started through wine, the console helper) before calling it hung.
// A wait returns as soon as its condition holds, so only a hang reaches this;
// it is minutes so that a machine busy with other work never does.
constexpr DWORD kPatience = 2 * 60 * 1000;

// Polls `done` until it holds; false when kPatience passes first.
bool waitUntil(const std::function<bool()>& done) {
    const ULONGLONG until = ::GetTickCount64() + kPatience;
    while (!done()) {
        if (::GetTickCount64() > until) return false;
        ::Sleep(50);
    }
    return true;
}

mapbuilder::Scene named(std::string mapname) {
    mapbuilder::Scene scene = mapbuilder::samplescene();
    scene.mapname = std::move(mapname);
    return scene;
}

// The temporary files left in `folder`.
std::vector<std::string> temporaries(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        const std::string name = utf8Text(entry.path().filename());
        if (name.starts_with(".v2bsp-")) names.push_back(name);
    }
    return names;
}

// A junction at `link` to the folder `target`, made as Windows makes them;
// where the system makes none (wine), a symbolic link made by its Unix side,
// which wine shows as a reparse point. False when neither can be made.
bool makeFolderLink(const fs::path& link, const fs::path& target) {
    fs::create_directory(link);
    const HANDLE folder = ::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const std::wstring substitute = L"\\??\\" + fs::absolute(target).native();
    const std::wstring print = fs::absolute(target).native();
    struct {
        DWORD tag;
        WORD length, reserved, substituteOffset, substituteLength, printOffset, printLength;
        WCHAR names[2 * MAX_PATH];
    } reparse{};
    reparse.tag = IO_REPARSE_TAG_MOUNT_POINT;
    reparse.substituteLength = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    reparse.printOffset = static_cast<WORD>(reparse.substituteLength + sizeof(WCHAR));
    reparse.printLength = static_cast<WORD>(print.size() * sizeof(WCHAR));
    std::memcpy(reparse.names, substitute.c_str(), reparse.substituteLength);
    std::memcpy(reinterpret_cast<char*>(reparse.names) + reparse.printOffset, print.c_str(), reparse.printLength);
    reparse.length = static_cast<WORD>(8 + reparse.printOffset + reparse.printLength + sizeof(WCHAR));
    DWORD returned = 0;
    const bool junction = ::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &reparse, 8 + reparse.length, nullptr, 0,
                                            &returned, nullptr) != 0;
    ::CloseHandle(folder);
    if (junction) return true;
    fs::remove(link);

    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (unixName == nullptr) return false;
    const std::string from = unixName(fs::absolute(target).c_str());
    const std::string to = unixName(fs::absolute(link).c_str());
    std::wstring command =
        L"Z:\\bin\\ln -s \"" + pathFromUtf8(from).native() + L"\" \"" + pathFromUtf8(to).native() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &process) == 0) {
        return false;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // Wine does not wait for a Unix program: the link is looked for until it is there.
    return waitUntil([&] {
        const DWORD attributes = ::GetFileAttributesW(link.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    });
}

// One run of the command with -q on a map the builder makes, in a scratch folder.
struct CommandCase {
    const char* what;
    std::string mapfile;  // the map file's name (UTF-8)
    std::string mapname;  // the name stored in the map (Windows-1252 bytes)
    bool fromRoot;        // the map named by a path that begins with "/", without a drive
    std::string output;   // -o, under the scratch folder, "/" between its parts
    // Done before the run, given the map's folder; false skips the case.
    std::function<bool(const fs::path& folder)> prepare;
    int status;
    std::string folder;  // the folder made (UTF-8); empty for none
    std::string reason;  // "Could not create folder <folder>: <reason>" on standard error; empty for none
};

TEST(WindowsCommand, NamesPathsAndFoldersInWindowsTerms) {
    const std::string link = "It is a link or junction, which is not followed";
    const std::string exists = systemError(ERROR_ALREADY_EXISTS).message();
    const std::string longName(120, 'l');
    const CommandCase cases[] = {
        {"a map name beyond ASCII", "sample.map", "caf\xE9 \x80 room", false, "out", {}, 0, "café € room", ""},
        {"a map file name beyond ASCII and no stored name", "Ω café.map", "", false, "out", {}, 0, "Ω café", ""},
        {"a device name as map name", "sample.map", "CON", false, "out", {}, 0, "CON_", ""},
        {"a device name before a dot", "sample.map", "nul.level", false, "out", {}, 0, "nul_.level", ""},
        {"a map path that begins with /", "sample.map", "sample room", true, "out", {}, 0, "sample room", ""},
        {"an output path longer than MAX_PATH",
         "sample.map",
         "sample room",
         false,
         "out/" + longName + "/" + longName,
         {},
         0,
         "sample room",
         ""},
        {"a file at the folder's place, shown with \\ throughout", "sample.map", "sample room", false, "out/sub",
         [](const fs::path& folder) {
             fs::create_directories(folder.parent_path());
             std::ofstream(folder) << "a file";
             return true;
         },
         1, "", exists},
        {"a link at the folder's place", "sample.map", "sample room", false, "out",
         [](const fs::path& folder) {
             fs::create_directories(folder.parent_path());
             fs::create_directories(folder.parent_path().parent_path() / "elsewhere");
             return makeFolderLink(folder, folder.parent_path().parent_path() / "elsewhere");
         },
         1, "", link},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder scratch;
        // A path without a drive names one on the current drive: that map lies there.
        const fs::path mapFolder = c.fromRoot ? fs::current_path() / scratch.path().filename() : scratch.path();
        const fs::path map = writeMap(mapFolder / pathFromUtf8(c.mapfile), named(c.mapname));
        const fs::path output = scratch.path() / pathFromUtf8(c.output);
        const std::string shownOutput = utf8Text(scratch.path()) + "/" + c.output;  // as the user types it
        const std::string folderName = c.folder.empty() ? "sample room" : c.folder;
        if (c.prepare && !c.prepare(output / pathFromUtf8(folderName))) {
            ADD_FAILURE() << "could not prepare the case";
            continue;
        }
        std::string given = utf8Text(map);
        if (c.fromRoot) {
            given = "/" + utf8Text(map.relative_path());
            std::replace(given.begin(), given.end(), '\\', '/');
        }

        const fixtures::Outcome run = fixtures::runcommand({"-q", "-o", shownOutput, given});
        if (c.fromRoot) fs::remove_all(mapFolder);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.reason.empty()) {
            EXPECT_EQ(run.err, "");
        } else {
            const std::string shownFolder = shownPath(pathFromUtf8(shownOutput + "/" + folderName));
            EXPECT_EQ(run.err,
                      "v2bsp-extract: " + given + ": Could not create folder " + shownFolder + ": " + c.reason + "\n");
            EXPECT_EQ(shownFolder.find('/'), std::string::npos);
        }
        if (!c.folder.empty()) {
            EXPECT_TRUE(fs::is_regular_file(output / pathFromUtf8(c.folder) / "mesh9.obj"));
        }
        EXPECT_FALSE(fs::exists(scratch.path() / "elsewhere" / "mesh0.obj"));
    }
}

// Two maps of one run whose folders are one folder to Windows: the later
// writes nothing, whether its name differs in case or is the short name of
// the earlier map's folder.
TEST(WindowsCommand, OneFolderByTwoNamesTakesOneMap) {
    ScratchFolder scratch;
    const fs::path out = scratch.path() / "out";
    // The short name exists once the folder does; the earlier map then writes into it.
    fs::create_directories(out / "Longfoldername");
    std::wstring shortPath(MAX_PATH, L'\0');
    shortPath.resize(::GetShortPathNameW((out / "Longfoldername").c_str(), shortPath.data(), MAX_PATH));
    const std::string shortName = utf8Text(fs::path(shortPath).filename());
    struct Case {
        const char* what;
        std::string earlierFile, earlierName;  // the earlier map's file and stored name
        std::string laterFile, laterName;
        std::string earlierFolder, laterFolder;
    };
    const std::string lodz = "\u0141\u00F3d\u017A", lodzLower = "\u0142\u00F3d\u017A";
    const Case cases[] = {
        {"names equal but for case, beyond Latin-1", "a/" + lodz + ".map", "", "b/" + lodzLower + ".map", "", lodz,
         lodzLower},
        {"the short name of the earlier map's folder", "long.map", "Longfoldername", "short.map", shortName,
         "Longfoldername", shortName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.laterFolder.empty() || c.laterFolder == "Longfoldername") {
            std::cout << "not run: " << c.what << ", as this volume makes no short names\n";
            continue;
        }
        const fs::path earlier = writeMap(scratch.path() / pathFromUtf8(c.earlierFile), named(c.earlierName));
        const fs::path later = writeMap(scratch.path() / pathFromUtf8(c.laterFile), smallMap(c.laterName, 1, {}));
        const fixtures::Outcome run =
            fixtures::runcommand({"-q", "-o", utf8Text(out), utf8Text(earlier), utf8Text(later)});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "v2bsp-extract: " + utf8Text(later) + ": Could not create folder " +
                               shownPath(out / pathFromUtf8(c.laterFolder)) + ": It holds the output of " +
                               utf8Text(earlier) + " from this run\n");
        // The earlier map's files, as a run of its own writes them.
        const fs::path apart = scratch.path() / "apart";
        ASSERT_EQ(fixtures::runcommand({"-q", "-o", utf8Text(apart), utf8Text(earlier)}).status, 0);
        const fs::path folder = pathFromUtf8(c.earlierFolder);
        EXPECT_EQ(readFile(out / folder / "mesh0.obj"), readFile(apart / folder / "mesh0.obj"));
        EXPECT_TRUE(fs::is_regular_file(out / folder / "mesh9.obj"));
    }
}

TEST(WindowsOutput, FileHeldOpenWithoutSharingKeepsTheEarlierFile) {
    ScratchFolder scratch;
    const fs::path map = writeMap(scratch.path() / "sample.map", mapbuilder::samplescene());
    const fs::path folder = scratch.path() / "out" / "sample room";
    fs::create_directories(folder);
    std::ofstream(folder / "mesh0.obj", std::ios::binary) << "earlier\r\n";
    const HANDLE held =
        ::CreateFileW((folder / "mesh0.obj").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    const fixtures::Outcome run = fixtures::runcommand({"-q", "-o", utf8Text(scratch.path() / "out"), utf8Text(map)});
    ::CloseHandle(held);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "v2bsp-extract: " + utf8Text(map) + ": Could not write " + shownPath(folder / "mesh0.obj") +
                           ": " + systemError(ERROR_ACCESS_DENIED).message() + "\n");
    EXPECT_EQ(readFile(folder / "mesh0.obj"), "earlier\r\n");
    EXPECT_TRUE(fs::is_regular_file(folder / "mesh1.obj"));
    EXPECT_EQ(temporaries(folder), std::vector<std::string>{});
}

TEST(WindowsMapFile, ReadsEveryByteAsItIs) {
    ScratchFolder scratch;
    const std::string bytes("\r\n\x1A\r\r\n\0\xFF\n", 9);
    std::ofstream(scratch.path() / "bytes.map", std::ios::binary) << bytes;
    const MapBytes loaded = loadMapFile(scratch.path() / "bytes.map");
    EXPECT_EQ(std::string(loaded.begin(), loaded.end()), bytes);
}

// The helper extracting the sample on two threads, ended while its third
// mesh file is a temporary one.
struct EndCase {
    const char* how;  // the helper's HOW
    DWORD flags;      // of its process: a console of its own, without a window
    DWORD status;
};

TEST(WindowsConsole, EndingARunLeavesNoTemporaryFile) {
    constexpr DWORD kTerminated = 7;
    const EndCase cases[] = {
        {"ctrl-c", CREATE_NO_WINDOW, static_cast<DWORD>(STATUS_CONTROL_C_EXIT)},
        {"ctrl-break", CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP, static_cast<DWORD>(STATUS_CONTROL_C_EXIT)},
        {"wait", CREATE_NO_WINDOW, kTerminated},
    };
    ScratchFolder scratch;
    const fs::path map = writeMap(scratch.path() / "sample.map", mapbuilder::samplescene());
    ASSERT_EQ(fixtures::runcommand({"-q", "-o", utf8Text(scratch.path() / "whole"), utf8Text(map)}).status, 0);
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.how);
        const fs::path output = scratch.path() / c.how;
        fs::create_directories(output);
        std::wstring command = pathFromUtf8(V2BSP_CONSOLE_CHILD).make_preferred().native() + L" \"" + map.native() +
                               L"\" \"" + output.native() + L"\" " + pathFromUtf8(c.how).native();
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        ASSERT_NE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, c.flags, nullptr, nullptr,
                                   &startup, &child),
                  0);
        if (c.status == kTerminated) {
            EXPECT_TRUE(waitUntil([&] { return fs::exists(output / "ready"); }));
            ::TerminateProcess(child.hProcess, kTerminated);
        }
        const DWORD ended = ::WaitForSingleObject(child.hProcess, kPatience);
        if (ended != WAIT_OBJECT_0) ::TerminateProcess(child.hProcess, kTerminated);  // a hung helper is not left
        ASSERT_EQ(ended, WAIT_OBJECT_0);
        DWORD status = 0;
        ::GetExitCodeProcess(child.hProcess, &status);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
        if (status == 3) {
            std::cout << "not run: " << c.how << ", which this console does not raise (wine raises no Ctrl+Break)\n";
            continue;
        }
        EXPECT_EQ(status, c.status);
        const fs::path folder = output / "sample room";
        // A file deleted on close goes once the ended process's handles are
        // closed; wine closes them after the process is seen to end.
        waitUntil([&] { return temporaries(folder).empty(); });
        EXPECT_EQ(temporaries(folder), std::vector<std::string>{});
        int placed = 0;
        for (int mesh = 0; mesh < 10; ++mesh) {
            const std::string name = "mesh" + std::to_string(mesh) + ".obj";
            if (!fs::exists(folder / name)) continue;
            ++placed;
            EXPECT_EQ(readFile(folder / name), readFile(scratch.path() / "whole" / "sample room" / name)) << name;
        }
        EXPECT_GE(placed, 1);
        EXPECT_LT(placed, 10);
    }
}

}  // namespace
}  // namespace v2bsp
