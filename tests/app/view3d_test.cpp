// The 3D View's behaviour through a window that records what it is asked and
// dialogs that answer instead of a user: what a run shows, its commands by
// name, Save As, Save Image, Open Folder, the list, and the mouse and keys
// over the camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/gestures.hpp"
#include "app/layout.hpp"
#include "app/texts.hpp"
#include "app/view3dbehaviour.hpp"
#include "fakedialogs.hpp"
#include "mapfile.hpp"
#include "recordinghost.hpp"
#include "scratchfolder.hpp"

namespace v2bsp::app {
namespace {

namespace fs = std::filesystem;
namespace mb = mapbuilder;
using fixtures::CapturedMessages;
using fixtures::ScriptedSaveBox;

class RecordingWindow final : public View3DWindow {
public:
    void setTitle(const std::string& text) override { title = text; }
    void setRows(const std::vector<MeshRow>& set) override {
        rows = set;
        selectedRow = -1;
    }
    void selectRow(int row) override { selectedRow = row; }
    void setStatus(const std::string& text) override { statuses.push_back(text); }
    void enableCommand(std::string_view name, bool on) override { enabled[std::string(name)] = on; }
    void checkCommand(std::string_view name, bool on) override { checked[std::string(name)] = on; }
    void showUnavailable(const std::string& text) override { unavailable = text; }
    void redraw() override { ++redraws; }
    void hideWindow() override { ++hides; }
    int meshAt(Pixel pixel) override {
        picks.push_back(pixel);
        return pickAnswer;
    }
    std::string writePicture(const fs::path& file) override {
        pictures.push_back(file);
        return pictureFailure;
    }

    std::string title, unavailable, pictureFailure;
    std::vector<MeshRow> rows;
    int selectedRow = -1, redraws = 0, hides = 0, pickAnswer = -1;
    std::vector<std::string> statuses;
    std::map<std::string, bool> enabled, checked;
    std::vector<Pixel> picks;
    std::vector<fs::path> pictures;
};

// `value` with its digits grouped in threes by commas, counted by hand.
std::string commas(std::int64_t value) {
    const std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// A run of a map of `scene` into program/ of a scratch folder, shown by a
// behaviour over a renderer with no GL (the calls used here need none).
struct Fixture {
    ScratchFolder scratch;
    fs::path program = scratch.path() / "program";
    mb::Scene scene;
    fs::path map;
    MapExtraction extraction;
    ExtractResult result;
    RecordingWindow window;
    LevelRenderer renderer;
    View3DBehaviour behaviour{window, ","};
    ScriptedSaveBox* saves = nullptr;
    CapturedMessages* messages = nullptr;
    std::vector<fs::path> opened;
    std::string openerAnswer;

    explicit Fixture(const mb::Scene& of = mb::samplescene(), bool withRenderer = true) : scene(of) {
        fs::create_directories(program);
        map = writeMap(scratch.path() / "maps" / "sample.map", scene);
        fixtures::RecordingHost host;
        ExtractSettings settings;
        settings.outputParent = program;
        result = extraction.extractmap(shownPath(map), host, settings);
        auto box = std::make_unique<ScriptedSaveBox>();
        saves = box.get();
        behaviour.setSaveBox(std::move(box));
        auto presenter = std::make_unique<CapturedMessages>();
        messages = presenter.get();
        behaviour.setMessagePresenter(std::move(presenter));
        behaviour.setFolderOpener([this](const fs::path& folder, const std::function<void(const std::string&)>& done) {
            opened.push_back(folder);
            done(openerAnswer);
        });
        if (withRenderer) behaviour.setRenderer(&renderer);
        behaviour.showRun(extraction, result);
    }
    std::string folder() const { return shownPath(program / (scene.mapname)); }
    std::string runStatus() const {
        std::int64_t vertices = 0, triangles = 0;
        for (const mb::Mesh& mesh : scene.meshes) {
            vertices += static_cast<std::int64_t>(mesh.vertices.size());
            triangles += static_cast<std::int64_t>(mesh.triangles.size());
        }
        return std::to_string(scene.meshes.size()) + " meshes, " + commas(vertices) + " vertices, " +
               commas(triangles) + " triangles in " + folder();
    }
};

TEST(View3DBehaviour, ShowsTheRunsTitleListAndStatus) {
    Fixture f;
    EXPECT_EQ(f.window.title, "sample room - 3D View");
    ASSERT_EQ(f.window.rows.size(), f.scene.meshes.size());
    for (std::size_t m = 0; m < f.scene.meshes.size(); ++m) {
        SCOPED_TRACE(m);
        const MeshRow& row = f.window.rows[m];
        EXPECT_EQ(row.name, "mesh" + std::to_string(m));
        EXPECT_EQ(row.vertices, commas(static_cast<std::int64_t>(f.scene.meshes[m].vertices.size())));
        EXPECT_EQ(row.triangles, commas(static_cast<std::int64_t>(f.scene.meshes[m].triangles.size())));
        EXPECT_EQ(row.colour, meshColour(static_cast<std::int64_t>(m)));
    }
    EXPECT_EQ(f.behaviour.status(), f.runStatus());
    EXPECT_EQ(f.window.statuses, std::vector<std::string>{f.runStatus()});
    EXPECT_TRUE(f.window.enabled.at("openfolder"));
    EXPECT_EQ(f.renderer.meshcount(), static_cast<int>(f.scene.meshes.size()));
    EXPECT_GE(f.window.redraws, 1);
    // A second run shows itself afresh.
    f.behaviour.rowSelected(3);
    Fixture second(smallMap("second", 3, {}));
    f.behaviour.showRun(second.extraction, second.result);
    EXPECT_EQ(f.window.title, "second - 3D View");
    EXPECT_EQ(f.window.rows.size(), 3u);
    EXPECT_EQ(f.behaviour.selected(), -1);
}

TEST(View3DBehaviour, StatusLineSaysWhatIsMissing) {
    const struct {
        const char* name;
        std::int64_t meshcount, meshesRead, skipped, written, failures, earlier;
        const char* folder;
        std::int64_t vertices;
        const char* separator;
        const char* expected;
        const char* elsewhere = nullptr;  // with the files written by another run; null: the counts alone
    } cases[] = {
        {"complete", 2, 2, 0, 2, 0, 0, "/out/a", 10, ",", "2 meshes, 10 vertices, 6 triangles in /out/a"},
        {"skipped", 5, 5, 3, 2, 0, 0, "/out/a", 10, ",",
         "2 meshes, 10 vertices, 6 triangles in /out/a. Incomplete: 3 meshes skipped: data outside the map file",
         "2 meshes, 10 vertices, 6 triangles. Incomplete: 3 meshes skipped: data outside the map file"},
        {"one file not written", 2, 2, 0, 1, 1, 0, "/out/a", 10, ",",
         "2 meshes, 10 vertices, 6 triangles in /out/a. Incomplete: 1 mesh file not written: see the log for why"},
        {"no folder: every mesh file counted", 10, 10, 0, 0, 1, 0, "", 10, ",",
         "2 meshes, 10 vertices, 6 triangles; no folder was written. Incomplete: "
         "10 mesh files not written: see the log for why"},
        {"a whole-level file not written", 2, 2, 0, 2, 1, 0, "/out/a", 10, ",",
         "2 meshes, 10 vertices, 6 triangles in /out/a. Incomplete: 1 file not written: see the log for why"},
        {"table cut short", 4, 2, 1, 0, 2, 0, "/out/a", 10, ",",
         "2 meshes, 10 vertices, 6 triangles in /out/a. Incomplete: "
         "2 meshes not found: the mesh table runs past the end of the map file; "
         "1 mesh skipped: data outside the map file; 1 mesh file not written: see the log for why",
         "2 meshes, 10 vertices, 6 triangles. Incomplete: "
         "2 meshes not found: the mesh table runs past the end of the map file; "
         "1 mesh skipped: data outside the map file"},
        {"earlier mesh files", 2, 2, 0, 2, 0, 3, "/out/a", 10, ",",
         "2 meshes, 10 vertices, 6 triangles in /out/a; 3 mesh files of an earlier extraction in the folder"},
        {"one earlier mesh file, incomplete", 3, 3, 1, 2, 0, 1, "/out/a", 10, ",",
         "2 meshes, 10 vertices, 6 triangles in /out/a; 1 mesh file of an earlier extraction in the folder. "
         "Incomplete: 1 mesh skipped: data outside the map file",
         "2 meshes, 10 vertices, 6 triangles. Incomplete: 1 mesh skipped: data outside the map file"},
        {"thousands by commas", 2, 2, 0, 2, 0, 0, "/out/a", 4000000, ",",
         "2 meshes, 4,000,000 vertices, 6 triangles in /out/a"},
        {"thousands by narrow spaces", 2, 2, 0, 2, 0, 0, "/out/a", 1000, "\u202F",
         "2 meshes, 1\u202F000 vertices, 6 triangles in /out/a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExtractResult result;
        result.meshcount = c.meshcount;
        result.meshesRead = c.meshesRead;
        result.meshesSkipped = c.skipped;
        result.meshesWritten = c.written;
        result.writeFailures = c.failures;
        result.earlierMeshFiles = c.earlier;
        result.outputfolder = c.folder;
        EXPECT_EQ(statusText(result, {2, c.vertices, 6}, c.separator), c.expected);
        const std::string counts = "2 meshes, " + grouped(c.vertices, c.separator) + " vertices, 6 triangles";
        EXPECT_EQ(levelStatusText(result, {2, c.vertices, 6}, c.separator),
                  c.elsewhere != nullptr ? c.elsewhere : counts);
    }
}

// The browser page's 3D View runs the map writing nothing: its status line
// speaks of the level alone, and there is no folder to open.
TEST(View3DBehaviour, FilesWrittenElsewhereLeaveThemOutOfTheStatusLine) {
    Fixture f;
    MapExtraction extraction;
    fixtures::RecordingHost host;
    ExtractSettings settings;
    settings.outputParent = f.scratch.path() / "none";
    settings.formats = {false, false, false};
    const ExtractResult result = extraction.extractmap(shownPath(f.map), host, settings);
    EXPECT_FALSE(fs::exists(settings.outputParent));
    f.behaviour.setFilesElsewhere(true);
    f.behaviour.showRun(extraction, result);
    const std::string inFolder = " in " + f.folder();
    const std::string expected = f.runStatus().substr(0, f.runStatus().size() - inFolder.size());
    EXPECT_EQ(f.behaviour.status(), expected);
    EXPECT_FALSE(f.window.enabled.at("openfolder"));
}

// Every command of the menu has its method, and each does its work.
TEST(View3DBehaviour, EveryMenuCommandIsDispatchedByName) {
    const std::map<std::string_view, std::function<bool(Fixture&)>> done = {
        {"saveas", [](Fixture& f) { return f.saves->shown == 1 && f.saves->title == "Save As"; }},
        {"saveimage", [](Fixture& f) { return f.saves->shown == 1 && f.saves->title == "Save Image"; }},
        {"openfolder", [](Fixture& f) { return f.opened.size() == 1; }},
        {"close", [](Fixture& f) { return f.window.hides == 1; }},
        {"frameAll", [](Fixture& f) { return f.renderer.camera().framed(); }},
        {"frameSelected", [](Fixture& f) { return f.renderer.camera().framed(); }},
        {"wireframe", [](Fixture& f) { return f.window.checked.at("wireframe") && f.renderer.wireframe(); }},
        {"zUp", [](Fixture& f) { return f.window.checked.at("zUp") && f.renderer.camera().zUp(); }},
        {"about",
         [](Fixture& f) {
             return f.messages->abouts.size() == 1 && f.messages->abouts[0].text == kAboutTitle &&
                    f.messages->abouts[0].reason == aboutText();
         }},
    };
    std::size_t commands = 0;
    for (const MenuItem& item : kView3DMenu) {
        if (item.parent.empty() || item.name == kSeparator) continue;
        SCOPED_TRACE(std::string(item.name));
        ++commands;
        Fixture f;
        f.renderer.camera().orbitByPixels(10, 0);
        EXPECT_FALSE(f.renderer.camera().framed());
        EXPECT_TRUE(f.behaviour.command(item.name));
        ASSERT_TRUE(done.contains(item.name));
        EXPECT_TRUE(done.at(item.name)(f));
        if (item.checkable) {
            // Again: back as it was.
            EXPECT_TRUE(f.behaviour.command(item.name));
            EXPECT_EQ(f.window.checked.at(std::string(item.name)), item.checked);
        }
    }
    EXPECT_EQ(commands, done.size());
    Fixture f;
    EXPECT_FALSE(f.behaviour.command("menufile"));
    EXPECT_FALSE(f.behaviour.command("nothing"));
}

// Both toolbars say the same: the caption without "&" and a closing "...".
TEST(View3DBehaviour, ToolbarTextIsTheCaptionWithoutItsDots) {
    const struct {
        const char* caption;
        const char* shown;
    } cases[] = {{"Save As...", "Save As"},
                 {"Save &Image...", "Save Image"},
                 {"Z Up", "Z Up"},
                 {"...", ""},
                 {"Wait... no", "Wait... no"},
                 {"Salt && &Pepper", "Salt & Pepper"}};
    for (const auto& c : cases) {
        EXPECT_EQ(toolbarText({"x", c.caption, "menufile", "", false, false}), c.shown) << c.caption;
    }
}

TEST(View3DBehaviour, WireframeAndZUpReachTheRenderer) {
    Fixture f;
    f.behaviour.command("wireframe");
    EXPECT_TRUE(f.renderer.wireframe());
    f.behaviour.command("zUp");
    EXPECT_TRUE(f.renderer.camera().zUp());
    // A new run keeps them.
    f.behaviour.showRun(f.extraction, f.result);
    EXPECT_TRUE(f.renderer.wireframe());
    EXPECT_TRUE(f.renderer.camera().zUp());
    f.behaviour.command("wireframe");
    f.behaviour.command("zUp");
    EXPECT_FALSE(f.renderer.wireframe());
    EXPECT_FALSE(f.renderer.camera().zUp());
}

// Save As writes the bytes v2bsp-extract --format writes with the view's up axis.
TEST(View3DBehaviour, SaveAsWritesWhatTheCommandLineWrites) {
    const struct {
        const char* name;
        int filter;  // 0 glb, 1 obj
        bool zUp;
        const char* written;
        bool glb;
    } cases[] = {
        {"level.glb", 0, false, "level.glb", true},  {"level.glb", 0, true, "level.glb", true},
        {"level.obj", 0, false, "level.obj", false}, {"level.obj", 0, true, "level.obj", false},
        {"level", 1, false, "level.obj", false},     {"level", 0, true, "level.glb", true},
        {"level.glb", 1, false, "level.glb", true},  {"LEVEL.OBJ", 0, false, "LEVEL.OBJ", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.zUp ? ", Z up" : "") + ", filter " + std::to_string(c.filter));
        Fixture f;
        f.saves->answer = shownPath(f.scratch.path() / c.name);
        f.saves->filter = c.filter;
        if (c.zUp) f.behaviour.command("zUp");
        f.behaviour.command("saveas");
        EXPECT_EQ(f.saves->title, "Save As");
        EXPECT_EQ(f.saves->suggested, shownPath(f.program / "sample room.glb"));
        EXPECT_EQ(f.saves->filtersset,
                  (std::vector<FileFilter>{{"glTF binary (*.glb)", "*.glb"}, {"Wavefront OBJ (*.obj)", "*.obj"}}));

        const fs::path cli = f.scratch.path() / "cli";
        fs::create_directories(cli);
        ExtractSettings settings;
        settings.outputParent = cli;
        settings.formats = {false, !c.glb, c.glb};
        settings.up = c.zUp ? UpAxis::z : UpAxis::y;
        fixtures::RecordingHost host;
        EXPECT_EQ(extractmap(shownPath(f.map), host, settings).status, ExtractStatus::complete);
        const std::string expected = readFile(cli / (c.glb ? "sample room.glb" : "sample room.obj"));
        ASSERT_FALSE(expected.empty());
        const std::string file = shownPath(f.scratch.path() / c.written);
        EXPECT_TRUE(readFile(pathFromUtf8(file)) == expected);
        EXPECT_EQ(f.behaviour.status(), "Saved " + file + ". " + f.runStatus());
    }
}

TEST(View3DBehaviour, SaveAsCancelledOrRefusedSaysSo) {
    Fixture f;
    f.behaviour.command("saveas");  // the box answers with a cancel
    EXPECT_EQ(f.saves->shown, 1);
    EXPECT_EQ(f.window.statuses, std::vector<std::string>{f.runStatus()});
    EXPECT_FALSE(fs::exists(f.program / "sample room.glb"));
    const std::string missing = shownPath(f.scratch.path() / "missing" / "level.glb");
    f.saves->answer = missing;
    f.behaviour.command("saveas");
    EXPECT_EQ(f.behaviour.status().rfind("Could not write " + missing + ": ", 0), 0u) << f.behaviour.status();
    EXPECT_GT(f.behaviour.status().size(), ("Could not write " + missing + ": ").size());
}

TEST(View3DBehaviour, SaveImageHasTheWindowWriteThePicture) {
    const struct {
        const char* answer;
        const char* written;
        const char* failure;
    } cases[] = {
        {"shot.png", "shot.png", ""},
        {"view", "view.png", ""},
        {"shot.PNG", "shot.PNG", ""},
        {"missing/shot.png", "missing/shot.png", "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        Fixture f;
        f.saves->answer = shownPath(f.scratch.path() / c.answer);
        f.window.pictureFailure = c.failure;
        f.behaviour.command("saveimage");
        EXPECT_EQ(f.saves->title, "Save Image");
        EXPECT_EQ(f.saves->suggested, "sample room.png");
        EXPECT_EQ(f.saves->filtersset, (std::vector<FileFilter>{{"PNG image (*.png)", "*.png"}}));
        const std::string name = shownPath(f.scratch.path() / c.written);
        ASSERT_EQ(f.window.pictures.size(), 1u);
        EXPECT_EQ(shownPath(f.window.pictures[0]), name);
        EXPECT_EQ(f.behaviour.status(), std::string(c.failure).empty() ? "Saved " + name + ". " + f.runStatus()
                                                                       : "Could not write " + name + ": " + c.failure);
    }
    Fixture cancelled;
    cancelled.behaviour.command("saveimage");
    EXPECT_TRUE(cancelled.window.pictures.empty());
    EXPECT_EQ(cancelled.window.statuses.size(), 1u);
}

// Without a picture the view's place says why, and the commands that need
// one stop; the list, the status line, Save As and Open Folder go on, and
// Z Up still decides what Save As writes.
TEST(View3DBehaviour, UnavailableSaysWhyAndKeepsTheRest) {
    Fixture f(mb::samplescene(), false);
    f.behaviour.unavailable("refused for the test");
    EXPECT_FALSE(f.behaviour.available());
    EXPECT_EQ(f.window.unavailable, "3D view unavailable: refused for the test");
    for (const char* name : {"saveimage", "frameAll", "frameSelected", "wireframe"}) {
        EXPECT_FALSE(f.window.enabled.at(name)) << name;
    }
    EXPECT_FALSE(f.window.enabled.contains("saveas"));
    EXPECT_FALSE(f.window.enabled.contains("zUp"));
    EXPECT_TRUE(f.window.enabled.at("openfolder"));
    EXPECT_EQ(f.window.rows.size(), f.scene.meshes.size());
    EXPECT_EQ(f.behaviour.status(), f.runStatus());
    f.behaviour.command("saveimage");
    EXPECT_EQ(f.saves->shown, 0);
    EXPECT_FALSE(f.behaviour.keyPressed(ViewKey::left, false));
    f.behaviour.command("zUp");
    f.saves->answer = shownPath(f.scratch.path() / "level.obj");
    f.behaviour.command("saveas");
    const std::string obj = readFile(f.scratch.path() / "level.obj");
    EXPECT_NE(obj.find("\nv "), std::string::npos);
    // Z up writes (x, y, z) as (x, z, -y): not the bytes of the Y-up file.
    f.behaviour.command("zUp");
    f.saves->answer = shownPath(f.scratch.path() / "level y.obj");
    f.behaviour.command("saveas");
    EXPECT_NE(readFile(f.scratch.path() / "level y.obj"), obj);
}

// The box says why (a folder since removed is named as such, and the opener
// is not asked); then the status line is the level's again.
TEST(View3DBehaviour, OpenFolderSaysWhyThenTheStatusComesBack) {
    const struct {
        const char* name;
        const char* answer;  // the opener's; empty when it showed the folder
        bool removed;
        bool asked;
        const char* reason;  // {F} for the folder; empty for no box
    } cases[] = {
        {"shown", "", false, true, ""},
        {"the opener failed", "No program is set to show folders.", false, true,
         "No program is set to show folders.\n\nThe mesh files are in:\n{F}"},
        {"the folder was removed", "", true, false, "The folder {F} no longer exists."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.openerAnswer = c.answer;
        if (c.removed) fs::remove_all(f.program / "sample room");
        std::vector<std::string> statusWhileBoxUp;
        f.messages->onFailure = [&] { statusWhileBoxUp.push_back(f.behaviour.status()); };
        f.behaviour.command("openfolder");
        EXPECT_EQ(f.opened, c.asked ? std::vector<fs::path>{f.program / "sample room"} : std::vector<fs::path>{});
        std::string reason = c.reason;
        if (const std::size_t at = reason.find("{F}"); at != std::string::npos) reason.replace(at, 3, f.folder());
        if (reason.empty()) {
            EXPECT_TRUE(f.messages->failures.empty());
            EXPECT_EQ(f.window.statuses, std::vector<std::string>{f.runStatus()});
            continue;
        }
        ASSERT_EQ(f.messages->failures.size(), 1u);
        EXPECT_EQ(f.messages->failures[0].text, "The folder could not be shown in the file manager.");
        EXPECT_EQ(f.messages->failures[0].reason, reason);
        EXPECT_EQ(statusWhileBoxUp, std::vector<std::string>{"Could not open " + f.folder() + " in the file manager"});
        EXPECT_EQ(f.window.statuses.back(), f.runStatus());
    }
}

// The opener may answer once it has ended: the answer is shown then, and
// not at all once the window has gone.
TEST(View3DBehaviour, OpenFolderAnswerMayComeLater) {
    std::function<void(const std::string&)> answer;
    RecordingWindow window;
    auto messages = std::make_unique<CapturedMessages>();
    CapturedMessages* said = messages.get();
    Fixture f;
    {
        View3DBehaviour behaviour(window, ",");
        behaviour.setMessagePresenter(std::move(messages));
        behaviour.setFolderOpener(
            [&](const fs::path&, std::function<void(const std::string&)> done) { answer = std::move(done); });
        behaviour.showRun(f.extraction, f.result);
        behaviour.openFolder();
        ASSERT_TRUE(answer);
        EXPECT_TRUE(said->failures.empty());
        answer("xdg-open ended with status 3.");
        EXPECT_EQ(said->failures.size(), 1u);
        EXPECT_EQ(window.statuses.back(), f.runStatus());
        behaviour.openFolder();
    }
    const std::size_t statuses = window.statuses.size();
    answer("too late");
    EXPECT_EQ(window.statuses.size(), statuses);
}

TEST(View3DBehaviour, NoFolderNoOpenFolder) {
    Fixture f;
    ExtractResult none = f.result;
    none.outputfolder.clear();
    f.behaviour.showRun(f.extraction, none);
    EXPECT_FALSE(f.window.enabled.at("openfolder"));
    f.behaviour.command("openfolder");
    EXPECT_TRUE(f.opened.empty());
    EXPECT_TRUE(f.messages->failures.empty());
}

// The list's boxes hide meshes, its selection lights one, a double-click
// frames it; a click in the view picks a mesh and selects its row.
TEST(View3DBehaviour, ListAndPickingGoTogether) {
    Fixture f;
    f.behaviour.rowChecked(2, false);
    EXPECT_FALSE(f.renderer.meshVisible(2));
    f.behaviour.rowChecked(2, true);
    EXPECT_TRUE(f.renderer.meshVisible(2));
    f.behaviour.rowSelected(3);
    EXPECT_EQ(f.renderer.highlighted(), 3);
    f.behaviour.rowSelected(-1);
    EXPECT_EQ(f.renderer.highlighted(), -1);

    // Pillar 6 stands at (-6, 0..8, 4.5) in the sample: framed, it is the target's column.
    f.behaviour.rowActivated(6);
    EXPECT_NEAR(f.renderer.camera().target().x, -6, 0.5f);
    EXPECT_NEAR(f.renderer.camera().target().z, 4.5f, 0.5f);
    f.behaviour.command("frameAll");
    EXPECT_NEAR(f.renderer.camera().target().x, 0, 0.5f);

    f.window.pickAnswer = 8;
    f.behaviour.pointerPressed(PointerButton::left, {100, 80}, false);
    f.behaviour.pointerReleased(PointerButton::left, {101, 81});
    EXPECT_EQ(f.window.picks, (std::vector<Pixel>{{101, 81}}));
    EXPECT_EQ(f.window.selectedRow, 8);
    EXPECT_EQ(f.renderer.highlighted(), 8);
    f.behaviour.command("frameSelected");
    EXPECT_NEAR(f.renderer.camera().target().x, 6, 0.5f);
    EXPECT_NEAR(f.renderer.camera().target().z, 4.5f, 0.5f);
}

Camera framedCamera() {
    Camera camera;
    camera.setViewport(640, 480);
    camera.setBounds({-8, 0, -6}, {8, 5, 6});
    return camera;
}

struct CameraState {
    float yaw, pitch, distance;
    Vec3 target;
};
CameraState stateOf(const Camera& camera) {
    return {camera.yaw(), camera.pitch(), camera.distance(), camera.target()};
}
bool sameTarget(const Vec3& a, const Vec3& b) {
    return std::abs(a.x - b.x) < 1e-4f && std::abs(a.y - b.y) < 1e-4f && std::abs(a.z - b.z) < 1e-4f;
}

// A press that moves at most 3 pixels (across plus down) is a click, on
// every host; one further drags from where it began.
TEST(Gestures, ClickThreshold) {
    const struct {
        Pixel to;
        bool click;
    } cases[] = {{{0, 0}, true},  {{3, 0}, true},   {{0, -3}, true}, {{2, 1}, true},
                 {{4, 0}, false}, {{2, -2}, false}, {{0, 9}, false}, {{-3, 1}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.to.x) + "," + std::to_string(c.to.y));
        Camera camera = framedCamera();
        const CameraState before = stateOf(camera);
        Gestures gestures;
        const Pixel from{200, 200}, to{200 + c.to.x, 200 + c.to.y};
        gestures.press(PointerButton::left, from, false);
        EXPECT_EQ(gestures.move(camera, to), !c.click);
        EXPECT_EQ(gestures.dragging(), !c.click);
        EXPECT_EQ(gestures.release(PointerButton::left, to), c.click);
        EXPECT_FALSE(gestures.pressed());
        if (c.click) {
            EXPECT_EQ(camera.yaw(), before.yaw);
            EXPECT_EQ(camera.pitch(), before.pitch);
        } else {
            // The whole way from the press, in the camera's degrees per pixel.
            EXPECT_NEAR(camera.yaw(), before.yaw - Camera::kDegreesPerPixel * static_cast<float>(c.to.x), 1e-3f);
            EXPECT_NEAR(camera.pitch(), before.pitch + Camera::kDegreesPerPixel * static_cast<float>(c.to.y), 1e-3f);
        }
    }
    // Back within the slack after a drag: still a drag.
    Camera camera = framedCamera();
    Gestures gestures;
    gestures.press(PointerButton::left, {10, 10}, false);
    EXPECT_TRUE(gestures.move(camera, {20, 10}));
    EXPECT_TRUE(gestures.move(camera, {10, 10}));
    EXPECT_FALSE(gestures.release(PointerButton::left, {10, 10}));
    // The middle button never picks.
    gestures.press(PointerButton::middle, {10, 10}, false);
    EXPECT_FALSE(gestures.release(PointerButton::middle, {10, 10}));
}

// Shift at the press decides, for the whole drag, whether a left drag pans.
TEST(Gestures, ShiftIsDecidedAtThePress) {
    const struct {
        const char* name;
        PointerButton button;
        bool shiftAtPress;
        bool pans;
    } cases[] = {
        {"left", PointerButton::left, false, false},
        {"Shift+left", PointerButton::left, true, true},
        {"middle", PointerButton::middle, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Camera camera = framedCamera();
        const CameraState before = stateOf(camera);
        Gestures gestures;
        gestures.press(c.button, {100, 100}, c.shiftAtPress);
        // A second press (the other button, Shift now held) changes nothing.
        gestures.press(PointerButton::middle, {100, 100}, !c.shiftAtPress);
        EXPECT_TRUE(gestures.move(camera, {140, 120}));
        EXPECT_TRUE(gestures.move(camera, {150, 90}));
        const CameraState after = stateOf(camera);
        EXPECT_EQ(after.yaw != before.yaw, !c.pans);
        EXPECT_EQ(!sameTarget(after.target, before.target), c.pans);
        EXPECT_EQ(after.distance, before.distance);
        EXPECT_FALSE(gestures.release(c.button, {150, 90}));
        EXPECT_FALSE(camera.framed());
    }
}

// The wheel zooms, a double-click frames all and its release picks nothing.
TEST(Gestures, WheelAndDoubleClick) {
    Camera camera = framedCamera();
    const float framed = camera.distance();
    Gestures::wheel(camera, {320, 240}, 2);
    EXPECT_NEAR(camera.distance(), framed * Camera::kZoomPerNotch * Camera::kZoomPerNotch, 1e-3f);
    Gestures::wheel(camera, {320, 240}, 0);
    EXPECT_NEAR(camera.distance(), framed * Camera::kZoomPerNotch * Camera::kZoomPerNotch, 1e-3f);
    Gestures gestures;
    gestures.press(PointerButton::left, {5, 5}, false);
    EXPECT_TRUE(gestures.release(PointerButton::left, {5, 5}));
    gestures.doubleClick(camera);
    EXPECT_TRUE(camera.framed());
    EXPECT_NEAR(camera.distance(), framed, 1e-3f);
    EXPECT_FALSE(gestures.release(PointerButton::left, {5, 5}));
}

// Each key moves the camera as a drag or a wheel notch of its own would.
TEST(Gestures, KeysMoveTheCamera) {
    const float step = Camera::kDegreesPerPixel * Gestures::kKeyPixels;
    const struct {
        const char* name;
        ViewKey key;
        bool shift;
        float yaw, pitch;  // change, degrees
        bool pans;
        float zoom;  // distance factor
    } cases[] = {
        {"Left", ViewKey::left, false, step, 0, false, 1},
        {"Right", ViewKey::right, false, -step, 0, false, 1},
        {"Up", ViewKey::up, false, 0, -step, false, 1},
        {"Down", ViewKey::down, false, 0, step, false, 1},
        {"Shift+Left", ViewKey::left, true, 0, 0, true, 1},
        {"Shift+Right", ViewKey::right, true, 0, 0, true, 1},
        {"Shift+Up", ViewKey::up, true, 0, 0, true, 1},
        {"Shift+Down", ViewKey::down, true, 0, 0, true, 1},
        {"+", ViewKey::zoomIn, false, 0, 0, false, Camera::kZoomPerNotch},
        {"-", ViewKey::zoomOut, false, 0, 0, false, 1 / Camera::kZoomPerNotch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Camera camera = framedCamera();
        const CameraState before = stateOf(camera);
        Gestures::key(camera, c.key, c.shift);
        EXPECT_NEAR(camera.yaw(), before.yaw + c.yaw, 1e-3f);
        EXPECT_NEAR(camera.pitch(), before.pitch + c.pitch, 1e-3f);
        EXPECT_NEAR(camera.distance(), before.distance * c.zoom, 1e-3f);
        EXPECT_EQ(!sameTarget(camera.target(), before.target), c.pans);
        if (c.pans) {
            // The target moves on the screen with the key's direction.
            const Pixel was = camera.pixelOf(before.target);
            const int dx = c.key == ViewKey::left ? -1 : c.key == ViewKey::right ? 1 : 0;
            const int dy = c.key == ViewKey::up ? -1 : c.key == ViewKey::down ? 1 : 0;
            EXPECT_NEAR(was.x, 320 + dx * Gestures::kKeyPixels, 1);
            EXPECT_NEAR(was.y, 240 + dy * Gestures::kKeyPixels, 1);
        }
    }
}

// The view's pointer through the behaviour: a drag draws cheaply until its
// release, and moves the renderer's camera.
TEST(View3DBehaviour, ADragDrawsCheaplyUntilItEnds) {
    Fixture f;
    f.renderer.camera().setViewport(640, 480);
    const float yaw = f.renderer.camera().yaw();
    f.behaviour.pointerPressed(PointerButton::left, {100, 100}, false);
    f.behaviour.pointerMoved({130, 100});
    EXPECT_TRUE(f.renderer.moving());
    EXPECT_NE(f.renderer.camera().yaw(), yaw);
    f.behaviour.pointerReleased(PointerButton::left, {130, 100});
    EXPECT_FALSE(f.renderer.moving());
    EXPECT_TRUE(f.window.picks.empty());
    f.behaviour.pointerPressed(PointerButton::left, {100, 100}, false);
    f.behaviour.pointerMoved({130, 100});
    f.behaviour.pointerLost();
    EXPECT_FALSE(f.renderer.moving());
    const float distance = f.renderer.camera().distance();
    EXPECT_TRUE(f.behaviour.keyPressed(ViewKey::zoomIn, false));
    EXPECT_LT(f.renderer.camera().distance(), distance);
    f.behaviour.wheelTurned({320, 240}, -1);
    EXPECT_NEAR(f.renderer.camera().distance(), distance, 1e-3f);
    f.behaviour.doubleClicked();
    EXPECT_TRUE(f.renderer.camera().framed());
}

}  // namespace
}  // namespace v2bsp::app
