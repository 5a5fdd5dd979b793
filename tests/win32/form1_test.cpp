// Form1 of v2bsp.exe driven through its messages, as a user's clicks and keys
// reach it, under wine on a virtual X server; and the program file's version
// information and icon read back.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <array>
#include <fstream>

#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "meshfixtures.hpp"
#include "platform/utf8path.hpp"
#include "recordinghost.hpp"
#include "refusingfiles.hpp"
#include "scratchfolder.hpp"
#include "win32/form1.hpp"
#include "win32test.hpp"

namespace {

namespace fs = std::filesystem;
namespace mb = v2bsp::mapbuilder;
using namespace v2bsp::win32;
using namespace win32test;
using v2bsp::smallMap;

std::string u8(const fs::path& path) {
    return v2bsp::shownPath(path);
}

std::vector<std::string> windowLog(int meshes, const fs::path& folder) {
    return v2bsp::fixtures::windowLog(meshes, u8(folder));
}

using v2bsp::listing;

// One window, hidden, with answering dialogs and its output in a scratch folder.
struct Fixture {
    v2bsp::ScratchFolder scratch;
    fs::path program = scratch.path() / "program";
    fs::path maps = scratch.path() / "maps";
    ScriptedOpenBox* openbox = nullptr;
    CapturedMessages* messages = nullptr;
    Form1 form;

    explicit Fixture(std::vector<std::string> answers = {}) {
        fs::create_directories(program);
        fs::create_directories(maps);
        EXPECT_TRUE(form.create());
        auto box = std::make_unique<ScriptedOpenBox>(std::move(answers));
        openbox = box.get();
        form.setOpenBox(std::move(box));
        auto presenter = std::make_unique<CapturedMessages>();
        messages = presenter.get();
        form.setMessagePresenter(std::move(presenter));
        form.setOutputParent(program);
        form.setGlProbe([] { return std::string("not wanted in this test"); });
        command("mnu3dwindow");  // the 3D View has tests of its own
    }
    HWND control(const char* name) const { return form.control(name); }
    // A menu item chosen, by its name.
    void command(const char* item) { SendMessageW(form.hwnd(), WM_COMMAND, MAKEWPARAM(form.commandId(item), 0), 0); }
    void click(const char* name) {
        SendMessageW(form.hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control(name)), BN_CLICKED),
                     reinterpret_cast<LPARAM>(control(name)));
    }
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        const std::string log = text(control("datalog"));
        for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
            lines.push_back(log.substr(at, end - at));
        }
        return lines;
    }
    std::vector<std::string> tagList() const {
        const v2bsp::win32::ListBox list{{control("List1")}};
        std::vector<std::string> items;
        for (int i = 0; i < list.count(); ++i) items.push_back(list.item(i));
        return items;
    }
    void extract(const fs::path& map) {
        form.chooseMap(u8(map));
        click("Command1");
        EXPECT_TRUE(pumpUntil([this] { return !form.running(); }));
    }
    SIZE client() const {
        RECT r{};
        GetClientRect(form.hwnd(), &r);
        return {r.right, r.bottom};
    }
};

TEST(Form1, StartState) {
    Fixture f;
    EXPECT_EQ(text(f.form.hwnd()), "Vorun2 BSP Extracter");
    EXPECT_EQ(text(f.control("Command1")), "Extract");
    EXPECT_FALSE(IsWindowEnabled(f.control("Command1")));
    EXPECT_EQ(text(f.control("cmdright")), ">");
    EXPECT_TRUE(IsWindowEnabled(f.control("cmdright")));
    EXPECT_EQ(text(f.control("datalog")), "");
    EXPECT_EQ(text(f.control("Txt1")), "0");
    EXPECT_EQ(GetWindowLongW(f.control("Txt1"), GWL_STYLE) & WS_VISIBLE, 0);
    EXPECT_EQ(SendMessageW(f.control("List1"), LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(f.form.mappath(), "");
    EXPECT_EQ(f.form.outerWidth(), 5184.0);
    EXPECT_EQ(f.form.slide().runs(), v2bsp::app::Slide::Timer::none);
    EXPECT_NE(GetClassLongPtrW(f.form.hwnd(), GCLP_HICON), 0);

    const LONG log = GetWindowLongW(f.control("datalog"), GWL_STYLE);
    for (const LONG style : {ES_MULTILINE, WS_HSCROLL, WS_VSCROLL, ES_AUTOHSCROLL, WS_TABSTOP}) {
        EXPECT_EQ(log & style, style) << std::hex << style;
    }
    // The closed tag list is no Tab stop.
    EXPECT_EQ(GetWindowLongW(f.control("List1"), GWL_STYLE) & WS_TABSTOP, 0);
    const LONG window = GetWindowLongW(f.form.hwnd(), GWL_STYLE);
    EXPECT_EQ(window & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);  // one size: no maximize, no resizing
    EXPECT_EQ(window & (WS_SYSMENU | WS_MINIMIZEBOX), WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(GetWindowLongW(f.form.hwnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, WS_EX_ACCEPTFILES);

    const HMENU bar = GetMenu(f.form.hwnd());
    ASSERT_EQ(GetMenuItemCount(bar), 3);
    const char* menus[] = {"&File", "&View", "&Help"};
    for (int i = 0; i < 3; ++i) {
        wchar_t title[32] = {};
        GetMenuStringW(bar, static_cast<UINT>(i), title, 32, MF_BYPOSITION);
        EXPECT_EQ(utf8(title), menus[i]);
    }
    EXPECT_EQ(menuText(bar, f.form.commandId("mnuopen")), "Open\tCtrl+O");
    EXPECT_EQ(menuText(bar, f.form.commandId("mnuexit")), "Exit\tCtrl+Q");
    EXPECT_EQ(menuText(bar, f.form.commandId("mnu3dwindow")), "3D Window");
    EXPECT_FALSE(menuItemChecked(bar, f.form.commandId("mnu3dwindow")));  // the fixture cleared it
    Form1 fresh;
    ASSERT_TRUE(fresh.create());
    EXPECT_TRUE(menuItemChecked(fresh.menu(), fresh.commandId("mnu3dwindow")));
    EXPECT_EQ(menuText(bar, f.form.commandId("mnuabout")), "About v2bsp");
}

// Every control at its twips, in pixels at 96 dpi (15 twips a pixel, each
// edge rounded to the nearest), in tab order.
TEST(Form1, GeometryAt96Dpi) {
    Fixture f;
    ASSERT_EQ(f.form.dpi(), 96u);
    EXPECT_EQ(f.client().cx, 339);  // 5088 twips
    EXPECT_EQ(f.client().cy, 123);  // 1848 twips
    const struct {
        const char* name;
        RECT place;
    } rows[] = {
        {"datalog", {8, 40, 313, 113}}, {"Command1", {72, 16, 225, 33}}, {"cmdright", {320, 24, 337, 113}},
        {"List1", {344, 8, 465, 114}},  {"Txt1", {232, 16, 249, 35}},
    };
    HWND previous = nullptr;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const RECT at = placeOf(f.control(row.name));
        EXPECT_EQ((std::array{at.left, at.top, at.right, at.bottom}),
                  (std::array{row.place.left, row.place.top, row.place.right, row.place.bottom}));
        // The tab order is the order of the window's children.
        EXPECT_EQ(GetWindow(f.control(row.name), GW_HWNDPREV), previous);
        previous = f.control(row.name);
    }
    EXPECT_GE(placeOf(f.control("List1")).left, f.client().cx);  // out of view until the slide
}

// Tab through the message loop's translation: out of the log, to Extract
// once a map is chosen.
TEST(Form1, TabLeavesTheLog) {
    Fixture f({"C:\\maps\\a.map"});
    f.command("mnuopen");
    ShowWindow(f.form.hwnd(), SW_SHOWNORMAL);
    EXPECT_EQ(GetFocus(), f.control("datalog"));  // the first control, as in a dialog box
    pressKey(f.form, f.control("datalog"), VK_TAB, false);
    EXPECT_EQ(text(f.control("datalog")), "");
    EXPECT_EQ(GetFocus(), f.control("Command1"));
}

// Every item of the menu, chosen or by its key, reaches the behaviour.
TEST(Form1, EveryMenuItemReachesTheBehaviour) {
    const struct {
        const char* item;
        UINT key;  // with Ctrl; 0: none
        std::function<bool(Fixture&)> done;
    } rows[] = {
        {"mnuopen", 'O', [](Fixture& f) { return f.openbox->shown == 1; }},
        {"mnuexit", 'Q', [](Fixture& f) { return f.form.hwnd() == nullptr; }},
        {"mnu3dwindow", 0, [](Fixture& f) { return menuItemChecked(f.form.menu(), f.form.commandId("mnu3dwindow")); }},
        {"mnuabout", 0, [](Fixture& f) { return f.messages->abouts.size() == 1; }},
    };
    std::size_t items = 0;
    for (const v2bsp::app::MenuItem& item : v2bsp::app::kForm1.menu) items += item.parent.empty() ? 0 : 1;
    EXPECT_EQ(std::size(rows), items);
    for (const auto& row : rows) {
        for (const bool byKey : {false, true}) {
            if (byKey && row.key == 0) continue;
            SCOPED_TRACE(std::string(row.item) + (byKey ? " by its key" : ""));
            Fixture f({""});
            if (byKey) {
                ShowWindow(f.form.hwnd(), SW_SHOWNORMAL);
                pressKey(f.form, f.control("datalog"), row.key, true);
            } else {
                f.command(row.item);
            }
            EXPECT_TRUE(row.done(f));
        }
    }
}

// The run's lines, tags and end reach the window through its messages.
TEST(Form1, ExtractShowsTheRunsLinesAndTags) {
    Fixture f;
    const fs::path map = v2bsp::writeMap(f.maps / "first.map", smallMap("first", 3, {"weapons\\rifle", "ui\\hud"}));
    f.extract(map);
    EXPECT_EQ(f.logLines(), windowLog(3, f.program / "first"));
    EXPECT_EQ(f.tagList(),
              (std::vector<std::string>{"levels\\scenario", "levels\\scenario bsp", "weapons\\rifle", "ui\\hud"}));
    EXPECT_FALSE(IsWindowEnabled(f.control("Command1")));  // until the next File > Open
    // The caret stands after the last line break.
    EXPECT_EQ(v2bsp::win32::Edit{{f.control("datalog")}}.caret(), GetWindowTextLengthW(f.control("datalog")));
}

// A tag name longer than the list is wide scrolls sideways, and the list
// has a tooltip that shows the name under the mouse whole.
TEST(Form1, TagListShowsLongNames) {
    Fixture f;
    const std::string longname = "levels\\a rather long folder name\\and a longer tag name inside it";
    f.extract(v2bsp::writeMap(f.maps / "tags.map", smallMap("tags", 1, {"short", longname})));
    RECT client{};
    GetClientRect(f.control("List1"), &client);
    EXPECT_GT(SendMessageW(f.control("List1"), LB_GETHORIZONTALEXTENT, 0, 0), client.right);
    EXPECT_EQ(GetWindowLongW(f.control("List1"), GWL_STYLE) & WS_HSCROLL, WS_HSCROLL);
    struct Found {
        HWND owner;
        HWND tooltip = nullptr;
    } found{f.form.hwnd()};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto* found = reinterpret_cast<Found*>(data);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (std::wstring(name) == TOOLTIPS_CLASSW && GetWindow(window, GW_OWNER) == found->owner) {
                found->tooltip = window;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    ASSERT_NE(found.tooltip, nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    ASSERT_TRUE(SendMessageW(found.tooltip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(tool.uId, reinterpret_cast<UINT_PTR>(f.control("List1")));
}

// Program Files is one of the system's folders: a program folder there
// is never written to, writable or not.
TEST(Form1, ProgramFilesIsNeverWritten) {
    Fixture f;
    wchar_t* folder = nullptr;
    ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &folder), S_OK);
    f.program = fs::path(folder) / "v2bsp";
    CoTaskMemFree(folder);
    f.form.setOutputParent(f.program);
    f.extract(v2bsp::writeMap(f.maps / "room.map", smallMap("room", 2, {})));
    std::vector<std::string> expected = v2bsp::fixtures::logFor(2);
    expected.insert(std::find(expected.begin(), expected.end(), "Creating BSP...") + 1,
                    "Program folder is not writable; writing to " + u8(f.maps / "room"));
    expected.push_back("Wrote 2 mesh files to " + u8(f.maps / "room"));
    EXPECT_EQ(f.logLines(), expected);
    EXPECT_FALSE(fs::exists(f.program / "room"));
}

// A map whose path is longer than MAX_PATH is taken when chosen, as the
// load reads it (in the \\?\ form), and its meshes are written.
TEST(Form1, TakesAMapOfALongPath) {
    Fixture f;
    const std::wstring prefix = L"\\\\?\\";
    fs::path folder = fs::absolute(f.maps);
    while (folder.native().size() < MAX_PATH + 20) {
        folder /= std::string(40, 'd');
        ASSERT_TRUE(CreateDirectoryW((prefix + folder.native()).c_str(), nullptr)) << GetLastError();
    }
    const fs::path map = folder / "room.map";
    v2bsp::writeMap(prefix + map.native(), smallMap("room", 2, {}));
    f.extract(map);
    EXPECT_EQ(listing(f.program / "room"), (std::vector<std::string>{"mesh0.obj", "mesh1.obj"}));
    for (fs::path gone = map; gone != fs::absolute(f.maps); gone = gone.parent_path()) {
        (gone == map ? DeleteFileW : RemoveDirectoryW)((prefix + gone.native()).c_str());
    }
}

// Closing during a run ends the run at its next log line; every file
// written is whole, and then the window goes.
TEST(Form1, ClosingDuringARunStopsItCleanly) {
    Fixture f;
    const fs::path map = v2bsp::writeMap(f.maps / "many.map", smallMap("many", 40, {}));
    v2bsp::fixtures::RefusingFiles files;
    const HWND window = f.form.hwnd();
    files.afterwrite = [window](int written) {
        if (written == 5) SendMessageW(window, WM_CLOSE, 0, 0);  // from the run's thread: waits for the window
    };
    f.form.setOutputFiles(&files);
    f.form.chooseMap(u8(map));
    f.click("Command1");
    ASSERT_TRUE(pumpUntil([&] { return f.form.hwnd() == nullptr; }));
    EXPECT_EQ(f.form.lastResult().status, v2bsp::ExtractStatus::stopped);
    EXPECT_EQ(listing(f.program / "many"),
              (std::vector<std::string>{"mesh0.obj", "mesh1.obj", "mesh2.obj", "mesh3.obj", "mesh4.obj"}));
    EXPECT_EQ(f.form.view3d(), nullptr);
}

// The slide's ends, click after click, at 96 dpi: the width in twips and the
// client area it leaves.
TEST(Form1, Slide) {
    const struct {
        int ticks;
        double width;
        int clientPixels;
        const char *caption, *state;
    } clicks[] = {
        {170, 7224, 475, "<", "1"},
        {171, 5172, 338, ">", "0"},
        {171, 7224, 475, "<", "1"},
        {171, 5172, 338, ">", "0"},
    };
    using Timer = v2bsp::app::Slide::Timer;
    Fixture f;
    for (const auto& click : clicks) {
        SCOPED_TRACE(&click - clicks + 1);
        f.click("cmdright");
        const Timer runs = f.form.slide().runs();
        EXPECT_EQ(runs, click.state == std::string("1") ? Timer::widening : Timer::narrowing);
        int ticks = 0;
        for (; f.form.slide().runs() != Timer::none && ticks < 1000; ++ticks) {
            SendMessageW(f.form.hwnd(), WM_TIMER, runs == Timer::widening ? kTimer1 : kTimer2, 0);
        }
        EXPECT_EQ(ticks, click.ticks);
        EXPECT_EQ(f.form.outerWidth(), click.width);
        EXPECT_EQ(f.client().cx, click.clientPixels);
        EXPECT_EQ(f.client().cy, 123);
        EXPECT_EQ(text(f.control("cmdright")), click.caption);
        EXPECT_EQ(text(f.control("Txt1")), click.state);
        EXPECT_EQ(placeOf(f.control("List1")).right <= f.client().cx, click.state == std::string("1"));
        // Tab stops at the tag list only while the slide is open.
        EXPECT_EQ((GetWindowLongW(f.control("List1"), GWL_STYLE) & WS_TABSTOP) != 0, click.state == std::string("1"));
    }
}

// A file dropped from the Explorer is chosen as by File > Open.
TEST(Form1, DroppedMapIsChosen) {
    Fixture f;
    const fs::path map = v2bsp::writeMap(f.maps / "Dropped.MAP", smallMap("dropped", 1, {}));
    const std::wstring name = map.wstring();
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::copy(name.begin(), name.end(), reinterpret_cast<wchar_t*>(drop + 1));
    GlobalUnlock(memory);
    SendMessageW(f.form.hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    EXPECT_EQ(f.form.mappath(), u8(map));
    EXPECT_TRUE(IsWindowEnabled(f.control("Command1")));
}

// The program file's version information and icon.
TEST(ProgramFile, VersionInformationAndIcon) {
    const std::wstring exe = v2bsp::pathFromUtf8(V2BSP_WINDOW_PROGRAM).make_preferred().wstring();
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    const auto value = [&](const std::wstring& key) -> std::string {
        wchar_t* text = nullptr;
        UINT size = 0;
        if (!VerQueryValueW(info.data(), (L"\\StringFileInfo\\040904B0\\" + key).c_str(),
                            reinterpret_cast<void**>(&text), &size)) {
            return "<none>";
        }
        return utf8(std::wstring_view(text, size > 0 ? size - 1 : 0));
    };
    const std::pair<const wchar_t*, const char*> strings[] = {
        {L"FileVersion", "1.00"},
        {L"ProductVersion", "1.00"},
        {L"InternalName", "V2 BSP Extractor"},
        {L"OriginalFilename", "V2 BSP Extractor.exe"},
    };
    for (const auto& [key, expected] : strings) EXPECT_EQ(value(key), expected) << utf8(key);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size));
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(translation[0], 0x0409);  // US English
    EXPECT_EQ(translation[1], 0x04B0);  // Unicode

    // The icon group holds each size once.
    const HMODULE file = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(file, nullptr);
    const HRSRC group = FindResourceW(file, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(file, group)));
    std::vector<int> sizes;
    for (int i = 0; i < bytes[4]; ++i) sizes.push_back(bytes[6 + 14 * i] == 0 ? 256 : bytes[6 + 14 * i]);
    FreeLibrary(file);
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 32, 48, 256}));
}

}  // namespace
