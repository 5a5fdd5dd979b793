// Form1's behaviour through a recording window and answering dialogs, with
// no toolkit: the slide, File > Open, the refused map, runs to their end and
// failing, the log's gathering, closing during a run, and the 3D View.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "app/form1behaviour.hpp"
#include "app/layout.hpp"
#include "app/texts.hpp"
#include "fakedialogs.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "platform/utf8path.hpp"
#include "recordinghost.hpp"
#include "refusingfiles.hpp"
#include "scratchfolder.hpp"

namespace v2bsp::app {
namespace {

namespace fs = std::filesystem;
namespace mb = mapbuilder;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using fixtures::CapturedMessages;
using fixtures::ScriptedOpenBox;

std::string u8(const fs::path& path) {
    return shownPath(path);
}

class FakeLevel3D final : public Level3DWindow {
public:
    void showRun(const MapExtraction& extraction, const ExtractResult& result,
                 std::optional<LevelGeometry> decoded) override {
        shownFolders.push_back(extraction.folderName);
        results.push_back(result);
        decodedGiven.push_back(decoded.has_value());
        arraysToCome.push_back(decoded.has_value() && decoded->arraysToCome);
    }
    void levelArrays(LevelGeometry arrays) override { arrayVertices.push_back(arrays.positions.size() / 3); }
    void whenArraysWanted(std::function<void()> wanted) override { arraysWanted.push_back(std::move(wanted)); }
    void show() override { visible = true; }
    void hide() override { visible = false; }
    Size preferredFrame() const override { return {976, 639}; }
    void place(const Rect& frame) override { placed.push_back(frame); }

    std::vector<std::string> shownFolders;
    std::vector<ExtractResult> results;
    std::vector<bool> decodedGiven;
    std::vector<bool> arraysToCome;          // of each level given
    std::vector<std::size_t> arrayVertices;  // of each levelArrays
    std::vector<std::function<void()>> arraysWanted;
    std::vector<Rect> placed;
    bool visible = false;
};

// Keeps what the behaviour shows, as a window would.
class RecordingWindow final : public Form1Window {
public:
    void setText(std::string_view control, std::string_view text) override {
        texts[std::string(control)] = text;
        ++textsSet;
    }
    void setEnabled(std::string_view name, bool on) override { enabled[std::string(name)] = on; }
    void setChecked(std::string_view item, bool on) override { checked[std::string(item)] = on; }
    void setTabStop(std::string_view control, bool on) override { tabStops[std::string(control)] = on; }
    void setOuterWidth(double twips) override { outerWidth = twips; }
    void runTimer(std::string_view timer, bool on) override {
        timers[std::string(timer)] = on;
        ++timerCalls;
    }
    void appendLog(std::string_view text) override {
        log += text;
        ++appends;
    }
    void addTagNames(const std::vector<std::string>& names) override {
        tags.insert(tags.end(), names.begin(), names.end());
        ++tagAdds;
    }
    void wakeAfter(std::chrono::milliseconds delay) override { wake = delay; }
    void closeNow() override { closed = true; }
    Level3DWindow* makeLevel3DWindow() override {
        ++made;
        if (refuse3D) return nullptr;
        level3D = std::make_unique<FakeLevel3D>();
        return level3D.get();
    }
    Form1Frames frames() const override { return placeAt; }
    std::string groupSeparator() const override { return ","; }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
            lines.push_back(log.substr(at, end - at));
        }
        return lines;
    }
    bool isEnabled(const std::string& name) const {
        const auto found = enabled.find(name);
        return found != enabled.end() ? found->second : findControl(kForm1, name)->enabled;
    }

    std::map<std::string, std::string> texts;
    std::map<std::string, bool> enabled, checked, timers, tabStops;
    int textsSet = 0, timerCalls = 0, appends = 0, tagAdds = 0, made = 0;
    double outerWidth = 0;
    std::string log;
    std::vector<std::string> tags;
    std::optional<std::chrono::milliseconds> wake;
    bool closed = false;
    bool refuse3D = false;
    std::unique_ptr<FakeLevel3D> level3D;
    Form1Frames placeAt{{0, 0, 2400, 1200}, {100, 100, 346, 180}, 339, 96};
};

// A run on the caller's thread, inside start(): no thread is to be had.
std::thread noThread(std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

// One behaviour over a recording window, its runs on the test's thread and
// its clock moved by the test.
struct Fixture {
    ScratchFolder scratch;
    fs::path program = scratch.path() / "program";
    fs::path maps = scratch.path() / "maps";
    RecordingWindow window;
    ScriptedOpenBox* openbox = nullptr;
    CapturedMessages* messages = nullptr;
    int wakes = 0;
    Clock::time_point now{};
    Form1Behaviour behaviour;

    Fixture()
        : behaviour(
              window, std::make_unique<ScriptedOpenBox>(std::vector<std::string>{}),
              std::make_unique<CapturedMessages>(), [this] { ++wakes; }, [this] { return now; }, noThread) {
        fs::create_directories(program);
        fs::create_directories(maps);
        behaviour.setOutput({program, {}, nullptr});
        behaviour.begin();
    }
    void answerOpen(std::vector<std::string> answers) {
        auto box = std::make_unique<ScriptedOpenBox>(std::move(answers));
        openbox = box.get();
        behaviour.setOpenBox(std::move(box));
    }
    CapturedMessages& captured() {
        if (messages == nullptr) {
            auto presenter = std::make_unique<CapturedMessages>();
            messages = presenter.get();
            behaviour.setMessagePresenter(std::move(presenter));
        }
        return *messages;
    }
    // Takes what the run queued as the window would: at each wake, and at
    // each wakeAfter once its delay has passed.
    void takeAll() {
        for (int guard = 0; guard < 100000 && (wakes > 0 || window.wake); ++guard) {
            if (window.wake) {
                now += *window.wake;
                window.wake.reset();
                behaviour.takeRunEvents();
            } else {
                --wakes;
                behaviour.runWoken();
            }
        }
    }
    void extract(const fs::path& map) {
        behaviour.chooseMap(u8(map));
        behaviour.click("Command1");
        takeAll();
    }
};

TEST(Form1Behaviour, StartState) {
    Fixture f;
    EXPECT_EQ(f.window.texts, (std::map<std::string, std::string>{{"cmdright", ">"}, {"Txt1", "0"}}));
    EXPECT_EQ(f.window.outerWidth, 5184.0);
    EXPECT_EQ(f.window.timerCalls, 0);
    EXPECT_EQ(f.window.tabStops, (std::map<std::string, bool>{{"List1", false}}));  // the closed list
    EXPECT_TRUE(f.behaviour.level3DChecked());
    EXPECT_FALSE(f.behaviour.running());
    EXPECT_EQ(f.behaviour.mappath(), "");
    EXPECT_EQ(f.window.log, "");
}

TEST(Form1Behaviour, EveryMenuItemAndControlHasAHandler) {
    for (const MenuItem& item : kForm1.menu) {
        if (item.parent.empty() || item.name == kSeparator) continue;
        SCOPED_TRACE(std::string(item.name));
        Fixture f;
        f.captured();
        f.answerOpen({""});
        EXPECT_TRUE(f.behaviour.menu(item.name));
    }
    Fixture f;
    for (const char* name : {"Command1", "cmdright"}) EXPECT_TRUE(f.behaviour.click(name)) << name;
    for (const char* name : {"Timer1", "Timer2"}) EXPECT_TRUE(f.behaviour.timer(name)) << name;
    EXPECT_FALSE(f.behaviour.menu("mnunothing"));
    EXPECT_FALSE(f.behaviour.click("datalog"));
    EXPECT_FALSE(f.behaviour.timer("Timer3"));
}

// Click after click, each slide ticked to its end: ticks, width, texts, and
// the timers started and stopped only at the slide's ends.
TEST(Form1Behaviour, Slide) {
    const struct {
        int ticks;
        double width;
        const char *caption, *state;
    } clicks[] = {
        {170, 7224, "<", "1"},
        {171, 5172, ">", "0"},
        {171, 7224, "<", "1"},
        {171, 5172, ">", "0"},
    };
    Fixture f;
    for (const auto& click : clicks) {
        SCOPED_TRACE(&click - clicks + 1);
        f.behaviour.click("cmdright");
        const bool widening = click.state == std::string("1");
        EXPECT_EQ(f.window.timers["Timer1"], widening);
        EXPECT_EQ(f.window.timers["Timer2"], !widening);
        const int textsBefore = f.window.textsSet, timerCallsBefore = f.window.timerCalls;
        int ticks = 0;
        for (; (f.window.timers["Timer1"] || f.window.timers["Timer2"]) && ticks < 1000; ++ticks) {
            f.behaviour.timer(f.window.timers["Timer1"] ? "Timer1" : "Timer2");
        }
        EXPECT_EQ(ticks, click.ticks);
        EXPECT_EQ(f.window.outerWidth, click.width);
        EXPECT_EQ(f.window.texts["cmdright"], click.caption);
        EXPECT_EQ(f.window.texts["Txt1"], click.state);
        EXPECT_EQ(f.window.tabStops["List1"], widening);       // a Tab stop while the slide is open
        EXPECT_EQ(f.window.textsSet, textsBefore);             // the texts changed at the click only
        EXPECT_EQ(f.window.timerCalls, timerCallsBefore + 2);  // both timers told once, at the end
    }
}

TEST(Form1Behaviour, ClickDuringASlideReverses) {
    const struct {
        const char* name;
        int fullSlides, ticksBefore, ticksAfter;
        double width;
    } rows[] = {
        {"widening reversed after 50 ticks", 0, 50, 51, 5172},
        {"widening reversed at its first tick", 0, 1, 2, 5172},
        {"narrowing reversed after 20 ticks", 1, 20, 20, 7224},
        {"widening from 5172 reversed after 100 ticks", 2, 100, 100, 5172},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        auto& timers = f.window.timers;
        const auto tickOnce = [&] {
            if (timers["Timer1"]) f.behaviour.timer("Timer1");
            if (timers["Timer2"]) f.behaviour.timer("Timer2");
        };
        for (int slide = 0; slide < row.fullSlides; ++slide) {
            f.behaviour.click("cmdright");
            while (timers["Timer1"] || timers["Timer2"]) tickOnce();
        }
        f.behaviour.click("cmdright");
        for (int tick = 0; tick < row.ticksBefore; ++tick) tickOnce();
        const std::string before = f.window.texts["Txt1"];
        f.behaviour.click("cmdright");
        EXPECT_NE(timers["Timer1"], timers["Timer2"]);  // never both
        EXPECT_EQ(f.window.texts["Txt1"], before == "1" ? "0" : "1");
        int ticks = 0;
        for (; (timers["Timer1"] || timers["Timer2"]) && ticks < 1000; ++ticks) tickOnce();
        EXPECT_EQ(ticks, row.ticksAfter);
        EXPECT_EQ(f.window.outerWidth, row.width);
    }
}

TEST(Form1Behaviour, FileOpen) {
    const struct {
        const char* name;
        std::vector<std::string> answers;
        std::string mappath;
    } rows[] = {
        {"a choice", {"/maps/a.map"}, "/maps/a.map"},
        {"a cancel", {""}, ""},
        {"twice: the second replaces the first", {"/maps/a.map", "/maps/b.MAP"}, "/maps/b.MAP"},
        {"a choice, then a cancel", {"/maps/a.map", ""}, ""},
    };
    const std::vector<FileFilter> filter{{"Vorun 2 Map File (*.Map)", "*.Map"}, {"All files", "*"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        f.answerOpen(row.answers);
        for (std::size_t i = 0; i < row.answers.size(); ++i) f.behaviour.menu("mnuopen");
        EXPECT_EQ(f.openbox->shown, static_cast<int>(row.answers.size()));
        EXPECT_EQ(f.openbox->namesSet, std::vector<std::string>(row.answers.size(), ""));
        EXPECT_EQ(f.openbox->filters, std::vector(row.answers.size(), filter));
        EXPECT_EQ(f.behaviour.mappath(), row.mappath);
        EXPECT_TRUE(f.window.isEnabled("Command1"));  // after a cancel too
    }
}

TEST(Form1Behaviour, AboutSaysWhatTheProgramIs) {
    Fixture f;
    f.captured();
    f.behaviour.menu("mnuabout");
    ASSERT_EQ(f.messages->abouts.size(), 1u);
    EXPECT_EQ(f.messages->abouts[0].text, "About v2bsp");
    for (const char* part :
         {"v2bsp 1.00", "Wavefront OBJ", "<program folder>/<map name>/mesh<N>.obj", "Licence: MIT"}) {
        EXPECT_NE(f.messages->abouts[0].reason.find(part), std::string::npos) << part;
    }
}

TEST(Form1Behaviour, ExitCloses) {
    Fixture f;
    f.behaviour.menu("mnuexit");
    EXPECT_TRUE(f.window.closed);
}

// A path that names no file is refused when chosen, with the reason the
// core gives for it, in the box and then in the log.
TEST(Form1Behaviour, MissingMapIsRefusedAtOnce) {
    Fixture f;
    std::vector<fs::path> paths = {f.maps / "missing.map", f.maps};
#ifndef _WIN32
    paths.emplace_back("/dev/null");  // a device
#endif
    for (const fs::path& path : paths) {
        SCOPED_TRACE(u8(path));
        Fixture g;
        g.captured();
        g.behaviour.chooseMap(u8(path));
        fixtures::RecordingHost core;
        extractmap(u8(path), core, {});
        ASSERT_EQ(core.failures.size(), 1u);
        ASSERT_EQ(g.messages->notices.size(), 1u);
        EXPECT_EQ(g.messages->notices[0].text, "This is not a valid Vorun 2 map file");
        EXPECT_EQ(g.messages->notices[0].reason, core.failures[0].reason);
        EXPECT_EQ(g.window.logLines(),
                  std::vector<std::string>{"This is not a valid Vorun 2 map file: " + core.failures[0].reason});
        EXPECT_FALSE(g.window.isEnabled("Command1"));
        EXPECT_EQ(g.behaviour.mappath(), u8(path));
    }
}

// Refused by the run: the box shows over an up-to-date log, and the log
// keeps the reason once the box is gone.
TEST(Form1Behaviour, InvalidMapIsReported) {
    const mb::BuiltMap built = mb::buildMap(smallMap("cut", 1, {}));
    mb::BuiltMap noscenario = built;
    mb::corruptionCase(mb::Corruption::NoScenarioRow).apply(noscenario);
    const struct {
        const char* name;
        std::string bytes;  // empty: no file (File > Open was cancelled)
    } rows[] = {
        {"no file chosen", ""},
        {"text file", "not a map at all, just a few words\n"},
        {"map cut after its header", std::string(built.bytes.begin(), built.bytes.begin() + 2100)},
        {"no scenario", std::string(noscenario.bytes.begin(), noscenario.bytes.end())},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        f.captured();
        std::vector<std::string> logBehindTheBox;
        f.messages->onNotice = [&] { logBehindTheBox = f.window.logLines(); };
        std::string path;
        if (!row.bytes.empty()) {
            path = u8(f.maps / "bad.map");
            std::ofstream(pathFromUtf8(path), std::ios::binary) << row.bytes;
            f.behaviour.chooseMap(path);
        } else {
            f.answerOpen({""});
            f.behaviour.menu("mnuopen");
        }
        f.behaviour.click("Command1");
        f.takeAll();

        fixtures::RecordingHost core;
        extractmap(path, core, {});
        ASSERT_EQ(core.failures.size(), 1u);
        ASSERT_EQ(f.messages->notices.size(), 1u);
        EXPECT_EQ(f.messages->notices[0].text, "This is not a valid Vorun 2 map file");
        EXPECT_EQ(f.messages->notices[0].reason, core.failures[0].reason);
        EXPECT_EQ(logBehindTheBox, core.log);
        std::vector<std::string> log = core.log;
        log.push_back("This is not a valid Vorun 2 map file: " + core.failures[0].reason);
        EXPECT_EQ(f.window.logLines(), log);
        EXPECT_EQ(f.behaviour.lastResult().status, ExtractStatus::failed);
        EXPECT_TRUE(listing(f.program).empty());
        EXPECT_FALSE(f.window.isEnabled("Command1"));
        EXPECT_TRUE(f.window.isEnabled("mnuopen"));
        EXPECT_EQ(f.window.made, 0);  // no 3D View for a refused map
    }
}

TEST(Form1Behaviour, ExtractWritesTheMeshesAndLog) {
    Fixture f;
    const fs::path map = writeMap(f.maps / "first.map", smallMap("first", 3, {"weapons\\rifle", "ui\\hud"}));
    f.extract(map);
    EXPECT_EQ(f.window.logLines(), fixtures::windowLog(3, u8(f.program / "first")));
    EXPECT_EQ(f.window.tags,
              (std::vector<std::string>{"levels\\scenario", "levels\\scenario bsp", "weapons\\rifle", "ui\\hud"}));
    EXPECT_LT(f.window.tagAdds, 4);  // names taken together go in together
    EXPECT_EQ(f.behaviour.lastResult().status, ExtractStatus::complete);
    EXPECT_FALSE(f.window.isEnabled("Command1"));  // until the next File > Open
    EXPECT_TRUE(f.window.isEnabled("mnuopen"));
    EXPECT_TRUE(f.captured().notices.empty());

    // The files are those the core writes on its own.
    fixtures::RecordingHost core;
    ExtractSettings settings;
    settings.outputParent = f.scratch.path() / "reference";
    fs::create_directories(settings.outputParent);
    extractmap(u8(map), core, settings);
    ASSERT_EQ(listing(f.program / "first"), (std::vector<std::string>{"mesh0.obj", "mesh1.obj", "mesh2.obj"}));
    for (const char* mesh : {"mesh0.obj", "mesh1.obj", "mesh2.obj"}) {
        EXPECT_EQ(readFile(f.program / "first" / mesh), readFile(settings.outputParent / "first" / mesh));
    }

    // A second run's lines and tags follow the first's.
    f.extract(writeMap(f.maps / "second.map", smallMap("second", 1, {"b", "c"})));
    std::vector<std::string> both = fixtures::windowLog(3, u8(f.program / "first"));
    for (const std::string& line : fixtures::windowLog(1, u8(f.program / "second"))) both.push_back(line);
    EXPECT_EQ(f.window.logLines(), both);
    EXPECT_EQ(f.window.tags.size(), 8u);
    EXPECT_EQ(listing(f.program), (std::vector<std::string>{"first", "second"}));
}

// During a run File > Open and Extract are disabled and a chosen map is
// ignored; the run's lines show only when the window takes them.
TEST(Form1Behaviour, OpenIsRefusedDuringARun) {
    Fixture f;
    f.answerOpen({"/maps/other.map"});
    const fs::path map = writeMap(f.maps / "first.map", smallMap("first", 2, {}));
    f.behaviour.chooseMap(u8(map));
    f.behaviour.click("Command1");  // the run has gone and its end waits to be taken
    EXPECT_TRUE(f.behaviour.running());
    EXPECT_FALSE(f.window.isEnabled("mnuopen"));
    EXPECT_FALSE(f.window.isEnabled("Command1"));
    EXPECT_EQ(f.window.log, "");
    f.behaviour.menu("mnuopen");
    f.behaviour.chooseMap("/maps/dropped.map");
    f.behaviour.click("Command1");
    EXPECT_EQ(f.openbox->shown, 0);
    EXPECT_EQ(f.behaviour.mappath(), u8(map));
    f.takeAll();
    EXPECT_FALSE(f.behaviour.running());
    EXPECT_EQ(f.window.logLines(), fixtures::windowLog(2, u8(f.program / "first")));
    EXPECT_TRUE(f.window.isEnabled("mnuopen"));
}

// The log's lines after "Creating BSP..." and its last line, and the end of
// the 3D View's status line; {P} is the program folder, {M} the maps'.
TEST(Form1Behaviour, OutputFolder) {
    const struct {
        const char* name;
        std::vector<std::string> refused;
        std::vector<std::string> folderLines;
        std::string lastLine;
        std::string missing;
        bool programIsSystem = false;
    } rows[] = {
        {"program folder writable", {}, {}, "Wrote 2 mesh files to {P}/room", " in {P}/room"},
        {"program folder a system one",
         {},
         {"Program folder is not writable; writing to {M}/room"},
         "Wrote 2 mesh files to {M}/room",
         " in {M}/room",
         true},
        {"program folder not writable",
         {"{P}"},
         {"Program folder is not writable; writing to {M}/room"},
         "Wrote 2 mesh files to {M}/room",
         " in {M}/room"},
        {"neither writable",
         {"{P}", "{M}"},
         {"Program folder is not writable; writing to {M}/room", "Could not create folder {M}/room: Permission denied"},
         "Wrote no mesh file; the lines above say why",
         "; no folder was written. Incomplete: 2 mesh files not written: see the log for why"},
        {"one mesh file refused",
         {"{P}/room/mesh1.obj"},
         {},
         "Wrote 1 of 2 mesh files to {P}/room; the lines above say what is missing",
         " in {P}/room. Incomplete: 1 mesh file not written: see the log for why"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        const auto resolve = [&](std::string text) {
            for (const auto& [key, folder] : {std::pair{"{P}", f.program}, std::pair{"{M}", f.maps}}) {
                for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, 3, u8(folder));
            }
            return u8(pathFromUtf8(text));  // the system's separators
        };
        fixtures::RefusingFiles files;
        for (const std::string& path : row.refused) files.refused.push_back(pathFromUtf8(resolve(path)));
        SystemFolders system;
        if (row.programIsSystem) system.folders.push_back(f.program);
        f.behaviour.setOutput({f.program, system, &files});
        f.extract(writeMap(f.maps / "room.map", smallMap("room", 2, {})));
        std::vector<std::string> expected = fixtures::logFor(2);
        auto at = std::find(expected.begin(), expected.end(), "Creating BSP...") + 1;
        for (const std::string& line : row.folderLines) at = expected.insert(at, resolve(line)) + 1;
        if (row.refused.size() == 1 && row.refused[0].ends_with(".obj")) {
            expected.insert(std::find(expected.begin(), expected.end(), "Making Mesh #1") + 1,
                            "Could not write " + resolve(row.refused[0]) + ": Permission denied");
        }
        expected.push_back(row.lastLine.starts_with("Wrote no") ? row.lastLine : resolve(row.lastLine));
        EXPECT_EQ(f.window.logLines(), expected);
        ASSERT_NE(f.window.level3D, nullptr);
        const std::string status = statusText(f.window.level3D->results.back(), {}, ",");
        const std::string missing =
            row.missing.starts_with(" in ") ? " in " + resolve(row.missing.substr(4)) : row.missing;
        EXPECT_TRUE(status.ends_with(missing)) << status;
        if (row.programIsSystem) {
            EXPECT_FALSE(fs::exists(f.program / "room"));
        }
    }
}

// Closing (or File > Exit) during a run ends the run at its next log line;
// the files written are whole, the window closes once the run's end is
// taken, and the 3D View never shows.
TEST(Form1Behaviour, ClosingDuringARunStopsItCleanly) {
    for (const bool byExit : {false, true}) {
        SCOPED_TRACE(byExit ? "File > Exit" : "the window's close");
        Fixture f;
        const fs::path map = writeMap(f.maps / "many.map", smallMap("many", 40, {}));
        fixtures::RefusingFiles files;
        bool closedAtOnce = false;
        files.afterwrite = [&](int written) {
            if (written != 5) return;
            if (byExit) {
                f.behaviour.menu("mnuexit");
                closedAtOnce = f.window.closed;
            } else {
                closedAtOnce = f.behaviour.closeRequested();
            }
        };
        f.behaviour.setOutput({f.program, {}, &files});
        f.behaviour.chooseMap(u8(map));
        f.behaviour.click("Command1");
        EXPECT_FALSE(closedAtOnce);
        EXPECT_FALSE(f.window.closed);  // not before the run's end is taken
        f.takeAll();
        EXPECT_TRUE(f.window.closed);
        EXPECT_EQ(f.behaviour.lastResult().status, ExtractStatus::stopped);
        EXPECT_EQ(f.window.logLines().back(), "Making Mesh #5");
        EXPECT_EQ(listing(f.program / "many"),
                  (std::vector<std::string>{"mesh0.obj", "mesh1.obj", "mesh2.obj", "mesh3.obj", "mesh4.obj"}));
        EXPECT_EQ(f.window.made, 0);
    }
}

// Outside a run, a line shows at once; during one, the lines of one take
// show in one append, with their CR LF, at the end of the take.
TEST(Form1Behaviour, LogLines) {
    const struct {
        const char* name;
        std::vector<std::string> lines;
        std::string shown;
    } rows[] = {
        {"first line", {"Loading Map..."}, "Loading Map...\r\n"},
        {"two lines", {"a", "b"}, "a\r\nb\r\n"},
        {"empty text adds an empty line", {"", "x"}, "\r\nx\r\n"},
        {"non-ASCII text", {"D\xC3\xA9p\xC3\xB4t"}, "D\xC3\xA9p\xC3\xB4t\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        for (const std::string& line : row.lines) f.behaviour.logline(line);
        EXPECT_EQ(f.window.log, row.shown);
        EXPECT_EQ(f.window.appends, static_cast<int>(row.lines.size()));
    }
    Fixture f;
    f.extract(writeMap(f.maps / "a.map", smallMap("a", 30, {})));
    EXPECT_EQ(f.window.logLines(), fixtures::windowLog(30, u8(f.program / "a")));
    EXPECT_LT(f.window.appends, 10);  // 41 lines in a few appends
}

// The run's wake is answered at once when no take was made in this run, or
// the last is kTakeInterval ago, or the run's end is queued; else the
// window is asked to come back when it will be.
TEST(Form1Behaviour, RunIsTakenAtMostEveryTakeInterval) {
    const struct {
        std::chrono::milliseconds since;
        std::optional<std::chrono::milliseconds> comeBack;
    } rows[] = {{0ms, kTakeInterval},
                {4ms, kTakeInterval - 4ms},
                {kTakeInterval - 1ms, 1ms},
                {kTakeInterval, std::nullopt},
                {kTakeInterval + 25ms, std::nullopt}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.since.count());
        Fixture f;
        f.behaviour.takeRunEvents();  // a take, with nothing queued
        f.window.wake.reset();
        f.now += row.since;
        f.behaviour.runWoken();
        EXPECT_EQ(f.window.wake, row.comeBack);
    }
    // A run's first wake is taken at once; the run (on this thread) has
    // ended, so its end is queued and the next wake takes at once too.
    Fixture f;
    f.behaviour.chooseMap(u8(writeMap(f.maps / "a.map", smallMap("a", 3, {}))));
    f.behaviour.click("Command1");
    f.behaviour.runWoken();
    const std::size_t firstTake = f.window.logLines().size();
    EXPECT_GE(firstTake, 1u);
    EXPECT_EQ(f.window.wake, 0ms);  // more is queued: after the window's own events
    f.window.wake.reset();
    f.behaviour.runWoken();
    EXPECT_GT(f.window.logLines().size(), firstTake);
}

// View > 3D Window checked: the 3D View is made once Form1 is first shown,
// hidden, and a run that goes to its end shows it (with the level decoded
// by the run), placed once, beside Form1 opened wide.
TEST(Form1Behaviour, Level3DMadeWhenShownAndShownAtTheEnd) {
    Fixture f;
    f.behaviour.firstShown();
    ASSERT_EQ(f.window.made, 1);
    FakeLevel3D* view = f.window.level3D.get();
    EXPECT_FALSE(view->visible);
    f.behaviour.firstShown();
    EXPECT_EQ(f.window.made, 1);

    f.extract(writeMap(f.maps / "first.map", smallMap("first", 2, {})));
    EXPECT_EQ(f.window.made, 1);
    EXPECT_TRUE(view->visible);
    EXPECT_EQ(view->shownFolders, std::vector<std::string>{"first"});
    EXPECT_EQ(view->decodedGiven, std::vector<bool>{true});
    // Form1 at (100, 100), 346 wide with a client 339 wide; opened wide, 136
    // more; the view right of that, 8 away, two thirds of 2400 x 1200.
    ASSERT_EQ(view->placed.size(), 1u);
    EXPECT_EQ(view->placed[0], (Rect{590, 100, 1600, 800}));

    // A second run refills it, where it is.
    f.behaviour.chooseMap(u8(writeMap(f.maps / "second.map", smallMap("second", 1, {}))));
    f.behaviour.click("Command1");
    f.takeAll();
    EXPECT_EQ(view->shownFolders, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(view->placed.size(), 1u);
    EXPECT_EQ(f.window.made, 1);

    // A failed run leaves it as it was.
    std::ofstream(f.maps / "bad.map") << "not a map";
    f.captured();
    f.extract(f.maps / "bad.map");
    EXPECT_EQ(view->shownFolders.size(), 2u);
    EXPECT_TRUE(view->visible);
}

// A level past the cheap drawing's budget is shown with what its first
// picture needs, and its arrays follow; a small level's come with it.
TEST(Form1Behaviour, Level3DGetsALargeLevelsArraysAfterItsFirstPicture) {
    Fixture f;
    f.behaviour.firstShown();
    FakeLevel3D* view = f.window.level3D.get();
    mb::Scene large = smallMap("large", 6, {});
    for (mb::Mesh& mesh : large.meshes) {
        mesh.triangles.clear();
        for (int t = 0; t < 50000; ++t) {
            mesh.triangles.push_back({static_cast<std::uint16_t>(t % 3), static_cast<std::uint16_t>((t + 1) % 3),
                                      static_cast<std::uint16_t>((t + 2) % 3)});
        }
    }
    std::size_t vertices = 0;
    for (const mb::Mesh& mesh : large.meshes) vertices += mesh.vertices.size();
    f.extract(writeMap(f.maps / "large.map", large));
    EXPECT_EQ(view->arraysToCome, std::vector<bool>{true});
    EXPECT_EQ(view->arrayVertices, std::vector<std::size_t>{vertices});
    ASSERT_EQ(view->arraysWanted.size(), 1u);  // the run went on this thread: they came at once
    view->arraysWanted[0]();
    f.extract(writeMap(f.maps / "small.map", smallMap("small", 2, {})));
    EXPECT_EQ(view->arraysToCome, (std::vector<bool>{true, false}));
    EXPECT_EQ(view->arrayVertices.size(), 1u);
    EXPECT_EQ(view->arraysWanted.size(), 1u);
}

// Unchecked, runs do not open it; checked again, it shows the last run
// (made then, decoded then); closed by the user, it is unchecked; checked
// again, it is back as it was, not shown afresh.
TEST(Form1Behaviour, ViewMenuDecidesWhetherRunsOpenIt) {
    Fixture f;
    f.behaviour.menu("mnu3dwindow");
    EXPECT_FALSE(f.behaviour.level3DChecked());
    EXPECT_EQ(f.window.checked["mnu3dwindow"], false);
    f.behaviour.firstShown();
    f.extract(writeMap(f.maps / "first.map", smallMap("first", 2, {})));
    EXPECT_EQ(f.window.made, 0);

    f.behaviour.menu("mnu3dwindow");
    EXPECT_EQ(f.window.checked["mnu3dwindow"], true);
    ASSERT_EQ(f.window.made, 1);
    FakeLevel3D* view = f.window.level3D.get();
    EXPECT_TRUE(view->visible);
    EXPECT_EQ(view->decodedGiven, std::vector<bool>{false});

    view->visible = false;  // the user closes it
    f.behaviour.level3DClosed();
    EXPECT_FALSE(f.behaviour.level3DChecked());
    EXPECT_EQ(f.window.checked["mnu3dwindow"], false);
    f.behaviour.menu("mnu3dwindow");
    EXPECT_TRUE(view->visible);
    EXPECT_EQ(view->shownFolders.size(), 1u);
    f.behaviour.menu("mnu3dwindow");
    EXPECT_FALSE(view->visible);

    // A run while it is unchecked: checked again, it shows that run afresh.
    f.behaviour.chooseMap(u8(writeMap(f.maps / "second.map", smallMap("second", 1, {}))));
    f.behaviour.click("Command1");
    f.takeAll();
    EXPECT_FALSE(view->visible);
    f.behaviour.menu("mnu3dwindow");
    EXPECT_EQ(view->shownFolders, (std::vector<std::string>{"first", "second"}));
    EXPECT_TRUE(view->visible);
}

// Where the window cannot make the 3D View, runs go on without it; the
// window is asked again at the next run's end.
TEST(Form1Behaviour, Level3DThatCannotBeMade) {
    Fixture f;
    f.window.refuse3D = true;
    f.behaviour.firstShown();
    f.extract(writeMap(f.maps / "first.map", smallMap("first", 1, {})));
    EXPECT_EQ(f.window.made, 2);
    EXPECT_EQ(f.window.logLines(), fixtures::windowLog(1, u8(f.program / "first")));
}

// Closing Form1 stops the slide's timer and hides the 3D View.
TEST(Form1Behaviour, CloseStopsTheSlideAndHidesTheView) {
    Fixture f;
    f.extract(writeMap(f.maps / "first.map", smallMap("first", 1, {})));
    ASSERT_TRUE(f.window.level3D->visible);
    f.behaviour.click("cmdright");
    ASSERT_TRUE(f.window.timers["Timer1"]);
    EXPECT_TRUE(f.behaviour.closeRequested());
    EXPECT_FALSE(f.window.timers["Timer1"]);
    EXPECT_FALSE(f.window.timers["Timer2"]);
    EXPECT_FALSE(f.window.level3D->visible);
}

}  // namespace
}  // namespace v2bsp::app
