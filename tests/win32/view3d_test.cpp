// The 3D View of v2bsp.exe after a run of the sample room, drawn by wine's
// OpenGL (Mesa's software renderer) on the virtual X server: what the
// picture shows, which mesh a pixel picks, that its keys reach the
// behaviour, and what its controls add. What it decides is tested in
// tests/app.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

#include "app/level.hpp"
#include "fakedialogs.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "meshcolour.hpp"
#include "platform/utf8path.hpp"
#include "recordinghost.hpp"
#include "scratchfolder.hpp"
#include "win32/form1.hpp"
#include "win32test.hpp"

namespace {

namespace fs = std::filesystem;
namespace mb = v2bsp::mapbuilder;
using namespace v2bsp::win32;
using namespace win32test;

// The mesh whose hue `pixel` (blue, green, red, alpha) has, or -1.
int meshOfColour(const std::uint8_t* pixel, int meshes) {
    return v2bsp::fixtures::meshOfColour(pixel[2] / 255.0, pixel[1] / 255.0, pixel[0] / 255.0, meshes);
}

class View3DTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = new v2bsp::ScratchFolder;
        form_ = new Form1;
        ASSERT_TRUE(form_->create());
        form_->setOutputParent(scratch_->path());
        ShowWindow(form_->hwnd(), SW_SHOWNORMAL);
        const mb::Scene scene = mb::samplescene();
        meshes_ = static_cast<int>(scene.meshes.size());
        map_ = v2bsp::writeMap(scratch_->path() / "maps" / "sample.map", scene);
        form_->chooseMap(v2bsp::shownPath(map_));
        SendMessageW(form_->hwnd(), WM_COMMAND, MAKEWPARAM(kIdCommand1, BN_CLICKED),
                     reinterpret_cast<LPARAM>(form_->control("Command1")));
        ASSERT_TRUE(pumpUntil([] { return !form_->running(); }));
        ASSERT_NE(form_->view3d(), nullptr);
        form_->view3d()->setMessagePresenter(std::make_unique<v2bsp::fixtures::CapturedMessages>());
        pump();
    }
    static void TearDownTestSuite() {
        delete form_;
        delete scratch_;
    }

    static View3D& window() { return *form_->view3d(); }
    static GlView& view() {
        GlView* view = window().view();
        if (view == nullptr) ADD_FAILURE() << "no OpenGL 3.3 under wine: " << window().unavailableText();
        return *view;
    }
    static void lookFrom(float yaw, float pitch) {
        view().renderer().camera().setZUp(false);
        view().renderer().camera().frameAll();
        view().renderer().camera().setOrbit(yaw, pitch);
    }
    static std::map<int, int> pixelsPerMesh() {
        int width = 0, height = 0;
        const std::vector<std::uint8_t> picture = view().picture(width, height);
        std::map<int, int> counts;
        for (std::size_t i = 0; i + 3 < picture.size(); i += 4) ++counts[meshOfColour(&picture[i], meshes_)];
        return counts;
    }
    static v2bsp::app::Pixel pixelOf(float x, float y, float z) {
        return view().renderer().camera().pixelOf({x, y, z});
    }

    static inline v2bsp::ScratchFolder* scratch_ = nullptr;
    static inline Form1* form_ = nullptr;
    static inline int meshes_ = 0;
    static inline fs::path map_;
};

TEST_F(View3DTest, ShowsTheRun) {
    EXPECT_EQ(text(window().hwnd()), "sample room - 3D View");
    ASSERT_EQ(window().list().rows(), meshes_);
    EXPECT_EQ(cellText(window().list().hwnd, 0, 0), "mesh0");
    EXPECT_EQ(cellText(window().list().hwnd, 0, 1), "1,353");
    EXPECT_EQ(cellText(window().list().hwnd, 0, 2), "2,560");
    EXPECT_TRUE(window().list().checked(9));
    EXPECT_EQ(window().statusLine(),
              "10 meshes, 3,317 vertices, 6,088 triangles in " + v2bsp::shownPath(scratch_->path() / "sample room"));
    EXPECT_EQ(window().unavailableText(), "");
    EXPECT_TRUE(IsWindowVisible(window().hwnd()));
}

TEST_F(View3DTest, EveryMeshIsDrawnInItsColour) {
    lookFrom(30, 60);
    const std::map<int, int> counts = pixelsPerMesh();
    for (int m = 0; m < meshes_; ++m) EXPECT_GE(counts.count(m) ? counts.at(m) : 0, 20) << "mesh " << m;
    EXPECT_TRUE(counts.count(-1));  // the background around the room
}

// A box cleared in the list hides its mesh.
TEST_F(View3DTest, HidingAMeshRemovesItsColour) {
    for (const int mesh : {0, 2, 6, 9}) {
        SCOPED_TRACE(mesh);
        lookFrom(30, 60);
        ListView_SetCheckState(window().list().hwnd, mesh, FALSE);
        EXPECT_FALSE(pixelsPerMesh().count(mesh));
        ListView_SetCheckState(window().list().hwnd, mesh, TRUE);
        EXPECT_TRUE(pixelsPerMesh().count(mesh));
    }
}

TEST_F(View3DTest, Picking) {
    const struct {
        const char* name;
        float x, y, z;
        int mesh;
    } rows[] = {
        {"floor centre", 0, 0, 0, 0},        {"floor corner", 8, 0, 6, 0},       {"pillar -6 -4.5", -6, 4, -4.5f, 5},
        {"pillar -6 4.5", -6, 4, 4.5f, 6},   {"pillar 6 -4.5", 6, 4, -4.5f, 7},  {"pillar 6 4.5", 6, 4, 4.5f, 8},
        {"steps' landing", 0, 1, -7.25f, 9}, {"outside the room", 12, 0, 0, -1},
    };
    lookFrom(0, 90);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(view().meshAt(pixelOf(row.x, row.y, row.z)), row.mesh);
    }
    // A click picks the mesh and selects its row.
    const v2bsp::app::Pixel at = pixelOf(6, 4, 4.5f);
    SendMessageW(view().hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    SendMessageW(view().hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    EXPECT_EQ(view().renderer().highlighted(), 8);
    EXPECT_EQ(window().list().selected(), 8);
}

TEST_F(View3DTest, SaveImageWritesAPng) {
    auto box = std::make_unique<v2bsp::fixtures::ScriptedSaveBox>();
    box->answer = v2bsp::shownPath(scratch_->path() / "view");
    v2bsp::fixtures::ScriptedSaveBox* asked = box.get();
    window().setSaveBox(std::move(box));
    SendMessageW(window().hwnd(), WM_COMMAND, MAKEWPARAM(window().commandId("saveimage"), 0), 0);
    EXPECT_EQ(asked->title, "Save Image");
    const std::string png = v2bsp::readFile(scratch_->path() / "view.png");
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(window().statusLine().rfind("Saved " + asked->answer + ".png. ", 0), 0u);
}

// Closing the 3D View unchecks View > 3D Window; checking it shows the View again.
TEST_F(View3DTest, ViewMenuFollowsTheWindow) {
    SendMessageW(window().hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window().hwnd()));
    const int item = form_->commandId("mnu3dwindow");
    EXPECT_FALSE(menuItemChecked(form_->menu(), item));
    SendMessageW(form_->hwnd(), WM_COMMAND, MAKEWPARAM(item, 0), 0);
    EXPECT_TRUE(menuItemChecked(form_->menu(), item));
    EXPECT_TRUE(IsWindowVisible(window().hwnd()));
}

// Each key of the menu bar, through the window's key table, and each key of
// the camera in the view, reaches the behaviour.
TEST_F(View3DTest, KeysReachTheBehaviour) {
    auto box = std::make_unique<v2bsp::fixtures::ScriptedSaveBox>();  // answers with a cancel
    v2bsp::fixtures::ScriptedSaveBox* asked = box.get();
    window().setSaveBox(std::move(box));
    int opened = 0;
    window().setFolderOpener([&](const fs::path&, const std::function<void(const std::string&)>& done) {
        ++opened;
        done("");
    });
    lookFrom(30, 30);
    ListView_SetItemState(window().list().hwnd, 6, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    v2bsp::app::Camera before;
    const auto camera = [] { return view().renderer().camera(); };
    const auto orbited = [&] { return camera().yaw() != before.yaw() || camera().pitch() != before.pitch(); };
    const auto zoomed = [&] { return camera().distance() != before.distance(); };
    const auto panned = [&] {
        const v2bsp::app::Vec3 moved = camera().target() - before.target();
        return !orbited() && std::abs(moved.x) + std::abs(moved.y) + std::abs(moved.z) > 1e-3f;
    };
    const struct {
        const char* name;
        UINT key;
        bool control, shift, inView;
        std::function<bool()> done;
    } rows[] = {
        {"Ctrl+S", 'S', true, false, false, [&] { return asked->title == "Save As"; }},
        {"Ctrl+Shift+S", 'S', true, true, false, [&] { return asked->title == "Save Image"; }},
        {"Ctrl+E", 'E', true, false, false, [&] { return opened == 1; }},
        {"W", 'W', false, false, false, [] { return view().renderer().wireframe(); }},
        {"W again", 'W', false, false, false, [] { return !view().renderer().wireframe(); }},
        {"Z", 'Z', false, false, false, [] { return view().renderer().camera().zUp(); }},
        {"Z again", 'Z', false, false, false, [] { return !view().renderer().camera().zUp(); }},
        {"Left", VK_LEFT, false, false, true, orbited},
        {"Down", VK_DOWN, false, false, true, orbited},
        {"Shift+Right", VK_RIGHT, false, true, true, panned},
        {"Shift+Up", VK_UP, false, true, true, panned},
        {"+", VK_OEM_PLUS, false, false, true, zoomed},
        {"numeric -", VK_SUBTRACT, false, false, true, zoomed},
        {"Page Up", VK_PRIOR, false, false, true, zoomed},
        {"Page Down", VK_NEXT, false, false, true, zoomed},
        {"F", 'F', false, false, false, [] { return view().renderer().camera().framed(); }},
        {"Shift+F", 'F', false, true, false,
         [] {
             // Row 6, selected below: the pillar at (-6, 4.5).
             const v2bsp::app::Vec3 target = view().renderer().camera().target();
             return std::abs(target.x + 6) < 0.5f && std::abs(target.z - 4.5f) < 0.5f;
         }},
        {"Ctrl+W", 'W', true, false, false, [] { return !IsWindowVisible(window().hwnd()); }},
        {"Esc", VK_ESCAPE, false, false, false, [] { return !IsWindowVisible(window().hwnd()); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        window().show();
        view().renderer().camera().orbitByPixels(5, 5);
        before = camera();
        const HWND target = row.inView ? view().hwnd() : window().list().hwnd;
        SetFocus(target);
        pressKey(window(), target, row.key, row.control, row.shift);
        EXPECT_TRUE(row.done());
    }
    window().show();
}

// The list's rows carry their meshes' colours, and the list shows where its
// focus is; the toolbar says what Qt's says, whole however narrow the window.
TEST_F(View3DTest, ListAndToolbarAsOnEverySystem) {
    const HIMAGELIST swatches = ListView_GetImageList(window().list().hwnd, LVSIL_SMALL);
    ASSERT_NE(swatches, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(swatches), meshes_);
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = 7;
    ASSERT_TRUE(ListView_GetItem(window().list().hwnd, &item));
    EXPECT_EQ(item.iImage, 7);
    // Its swatch: the mesh's colour inside, the list's background at the corner.
    int side = 0, height = 0;
    ASSERT_TRUE(ImageList_GetIconSize(swatches, &side, &height));
    const HDC screen = GetDC(nullptr), dc = CreateCompatibleDC(screen);
    const HBITMAP drawn = CreateCompatibleBitmap(screen, side, height);
    const HGDIOBJ was = SelectObject(dc, drawn);
    ASSERT_TRUE(ImageList_Draw(swatches, 7, dc, 0, 0, ILD_NORMAL));
    const COLORREF centre = GetPixel(dc, side / 2, height / 2), corner = GetPixel(dc, 0, 0);
    SelectObject(dc, was);
    DeleteObject(drawn);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    const std::uint8_t bgr[3] = {GetBValue(centre), GetGValue(centre), GetRValue(centre)};
    EXPECT_EQ(meshOfColour(bgr, meshes_), 7);
    EXPECT_EQ(corner, GetSysColor(COLOR_WINDOW));

    // Focused with no row focused yet, as after a new run.
    window().show();
    SetFocus(view().hwnd());
    ListView_SetItemState(window().list().hwnd, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    SetFocus(window().list().hwnd);
    pump();
    EXPECT_EQ(GetFocus(), window().list().hwnd);
    EXPECT_GE(ListView_GetNextItem(window().list().hwnd, -1, LVNI_FOCUSED), 0);

    RECT frame{};
    GetWindowRect(window().hwnd(), &frame);
    SetWindowPos(window().hwnd(), nullptr, 0, 0, 200, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    pump();
    for (const std::string_view name : v2bsp::app::kView3DToolbar) {
        if (name == v2bsp::app::kSeparator) continue;
        SCOPED_TRACE(std::string(name));
        const HWND button = GetDlgItem(window().hwnd(), window().commandId(name));
        ASSERT_NE(button, nullptr);
        const std::string caption = text(button);
        for (const v2bsp::app::MenuItem& item : v2bsp::app::kView3DMenu) {
            if (item.name == name) {
                EXPECT_EQ(caption, v2bsp::app::toolbarText(item));
            }
        }
        RECT place = placeOf(button), client{};
        GetClientRect(window().hwnd(), &client);
        EXPECT_LE(place.right, client.right);
        HDC dc = GetDC(button);
        const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
        SIZE size{};
        const std::wstring wide = v2bsp::win32::wide(caption);
        GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(button, dc);
        EXPECT_GT(place.right - place.left, size.cx);
    }
    SetWindowPos(window().hwnd(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    pump();
}

// What Form1's behaviour asks of it: the frame it would like, and a frame given.
TEST(View3DFrame, PlaceSetsTheWholeFrame) {
    View3D window([] { return std::string("not needed here"); });
    ASSERT_TRUE(window.create());
    const v2bsp::app::Size preferred = window.preferredFrame();
    EXPECT_GT(preferred.width, window.scaled(v2bsp::app::kView3DWidth));
    EXPECT_GT(preferred.height, window.scaled(v2bsp::app::kView3DHeight));
    window.place({30, 40, 1000, 700});
    RECT frame{};
    GetWindowRect(window.hwnd(), &frame);
    EXPECT_EQ(frame.left, 30);
    EXPECT_EQ(frame.top, 40);
    EXPECT_EQ(frame.right - frame.left, 1000);
    EXPECT_EQ(frame.bottom - frame.top, 700);
}

// Where OpenGL 3.3 cannot be had, the view's place says why, and the rest works.
TEST(View3DUnavailable, SaysWhyAndListsTheMeshes) {
    v2bsp::ScratchFolder scratch;
    const fs::path map = v2bsp::writeMap(scratch.path() / "sample.map", mb::samplescene());
    v2bsp::MapExtraction extraction;
    v2bsp::fixtures::RecordingHost host;
    v2bsp::ExtractSettings settings;
    settings.outputParent = scratch.path();
    const v2bsp::ExtractResult result = extraction.extractmap(v2bsp::shownPath(map), host, settings);
    View3D window([] { return std::string("no OpenGL 3.3 here"); });
    ASSERT_TRUE(window.create());
    window.showRun(extraction, result);
    EXPECT_EQ(window.view(), nullptr);
    EXPECT_EQ(window.unavailableText(), "3D view unavailable: no OpenGL 3.3 here");
    EXPECT_EQ(window.list().rows(), 10);
    EXPECT_EQ(window.statusLine().rfind("10 meshes, 3,317 vertices, 6,088 triangles in ", 0), 0u);
}

}  // namespace
