// The 3D View of v2bsp.exe after a run of the sample room, drawn by wine's
// OpenGL (Mesa's software renderer) on the virtual X server: what the
// picture shows, which mesh a pixel picks, and what its commands write.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

#include "app/level.hpp"
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
        form_->view3d()->setMessagePresenter(std::make_unique<CapturedMessages>());
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
    EXPECT_EQ(window().list().cell(0, 0), "mesh0");
    EXPECT_EQ(window().list().cell(0, 1), "1,353");
    EXPECT_EQ(window().list().cell(0, 2), "2,560");
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

// Save As writes the bytes the command line's --format writes.
TEST_F(View3DTest, SaveAsIsTheCommandLinesFile) {
    const struct {
        const char* name;
        int filter;
        const char* extension;
        bool zUp;
    } rows[] = {{"glb", 0, ".glb", false}, {"obj, Z up", 1, ".obj", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto box = std::make_unique<ScriptedSaveBox>();
        box->answer = v2bsp::shownPath(scratch_->path() / "saved" / row.name);
        box->filter = row.filter;
        ScriptedSaveBox* asked = box.get();
        window().setSaveBox(std::move(box));
        fs::create_directories(scratch_->path() / "saved");
        const auto command = [](const char* item) {
            SendMessageW(window().hwnd(), WM_COMMAND, MAKEWPARAM(window().commandId(item), 0), 0);
        };
        if (row.zUp) command("zUp");
        command("saveas");
        if (row.zUp) command("zUp");
        EXPECT_EQ(asked->title, "Save As");
        EXPECT_EQ(asked->suggested, v2bsp::shownPath(scratch_->path() / "sample room.glb"));

        v2bsp::fixtures::RecordingHost host;
        v2bsp::ExtractSettings settings;
        settings.outputParent = scratch_->path() / (std::string("cli ") + row.name);
        fs::create_directories(settings.outputParent);
        settings.formats = {false, row.filter == 1, row.filter == 0};
        settings.up = row.zUp ? v2bsp::UpAxis::z : v2bsp::UpAxis::y;
        v2bsp::extractmap(v2bsp::shownPath(map_), host, settings);
        const std::string saved = v2bsp::readFile(v2bsp::pathFromUtf8(asked->answer + row.extension));
        EXPECT_FALSE(saved.empty());
        EXPECT_EQ(saved, v2bsp::readFile(settings.outputParent / (std::string("sample room") + row.extension)));
        EXPECT_EQ(window().statusLine().rfind("Saved " + asked->answer + row.extension + ". 10 meshes", 0), 0u);
    }
}

TEST_F(View3DTest, SaveImageWritesAPng) {
    auto box = std::make_unique<ScriptedSaveBox>();
    box->answer = v2bsp::shownPath(scratch_->path() / "view");
    ScriptedSaveBox* asked = box.get();
    window().setSaveBox(std::move(box));
    window().saveImage();
    EXPECT_EQ(asked->title, "Save Image");
    const std::string png = v2bsp::readFile(scratch_->path() / "view.png");
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(window().statusLine().rfind("Saved " + asked->answer + ".png. ", 0), 0u);
}

// The box says why (a folder since removed is named as such, and the opener
// is not asked); then the status line is the level's again.
TEST_F(View3DTest, OpenFolderSaysWhereTheFilesAreWhenItFails) {
    const fs::path written = scratch_->path() / "sample room";
    const std::string folder = v2bsp::shownPath(written);
    const struct {
        const char* name;
        bool removed;
        std::string reason, asked;
    } rows[] = {
        {"the opener failed", false, "No program is set to show folders.\n\nThe mesh files are in:\n" + folder,
         folder},
        {"the folder was removed", true, "The folder " + folder + " no longer exists.", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // Moved aside and back, for the tests after this one.
        if (row.removed) fs::rename(written, scratch_->path() / "moved aside");
        fs::path asked;
        window().setFolderOpener([&](const fs::path& folder) {
            asked = folder;
            return std::string("No program is set to show folders.");
        });
        auto messages = std::make_unique<CapturedMessages>();
        CapturedMessages* said = messages.get();
        window().setMessagePresenter(std::move(messages));
        window().openFolder();
        if (row.removed) fs::rename(scratch_->path() / "moved aside", written);
        EXPECT_EQ(asked.empty() ? "" : v2bsp::shownPath(asked), row.asked);
        ASSERT_EQ(said->failures.size(), 1u);
        EXPECT_EQ(said->failures[0].reason, row.reason);
        EXPECT_EQ(window().statusLine().rfind(std::to_string(meshes_) + " meshes, ", 0), 0u) << window().statusLine();
    }
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

// Each key of the menu bar, through the window's key table, does its item's work.
TEST_F(View3DTest, KeysTriggerTheirActions) {
    auto box = std::make_unique<ScriptedSaveBox>();  // answers with a cancel
    ScriptedSaveBox* asked = box.get();
    window().setSaveBox(std::move(box));
    int opened = 0;
    window().setFolderOpener([&](const fs::path&) {
        ++opened;
        return std::string();
    });
    const struct {
        const char* name;
        UINT key;
        bool control, shift;
        std::function<bool()> done;
    } rows[] = {
        {"Ctrl+S", 'S', true, false, [&] { return asked->title == "Save As"; }},
        {"Ctrl+Shift+S", 'S', true, true, [&] { return asked->title == "Save Image"; }},
        {"Ctrl+E", 'E', true, false, [&] { return opened == 1; }},
        {"W", 'W', false, false, [] { return view().renderer().wireframe(); }},
        {"W again", 'W', false, false, [] { return !view().renderer().wireframe(); }},
        {"Z", 'Z', false, false, [] { return view().renderer().camera().zUp(); }},
        {"Z again", 'Z', false, false, [] { return !view().renderer().camera().zUp(); }},
        {"Esc", VK_ESCAPE, false, false, [] { return !IsWindowVisible(window().hwnd()); }},
    };
    window().show();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(pressKey(window(), window().list().hwnd, row.key, row.control, row.shift));
        EXPECT_TRUE(row.done());
    }
    window().show();
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
