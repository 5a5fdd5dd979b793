// A window's run on a thread of its own: what the window is given, in what
// order, when it stops and how it ends; and where a window's run writes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "app/extractrun.hpp"
#include "app/outputpolicy.hpp"
#include "mapfile.hpp"
#include "memoryfiles.hpp"
#include "scratchfolder.hpp"

namespace v2bsp::app {
namespace {

namespace mb = mapbuilder;
using namespace std::chrono_literals;

// How long a test waits for the run's thread before calling it hung. Every
// wait returns as soon as its condition holds, so only a hang reaches this;
// it is minutes so that a machine busy with other work never does.
constexpr std::chrono::minutes kPatience{2};

// Polls `done` until it holds; false when kPatience passes first.
bool waitUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Both sides of a run at once: the core's host of a plain run and the
// window of a threaded one, so that the two can be compared event for event.
class Recorder final : public ExtractHost, public RunWindow {
public:
    void logline(std::string_view line) override { events.push_back("line " + std::string(line)); }
    void logProblem(std::string_view line) override { events.push_back("problem " + std::string(line)); }
    void addTagName(std::string_view name) override { events.push_back("tag " + std::string(name)); }
    void mapFailed(const MapFailure& failure) override {
        events.push_back("failed " + failure.reason);
        if (onFailure) onFailure();
    }
    void runEnded(RunEnd end) override {
        events.push_back("ended");
        ends.push_back(std::move(end));
    }
    void levelArrays(LevelGeometry level) override {
        events.push_back("arrays");
        arrays.push_back(std::move(level));
    }
    std::vector<std::string> events;
    std::vector<RunEnd> ends;
    std::vector<LevelGeometry> arrays;
    std::function<void()> onFailure;
};

// Memory output that calls `afterWrite` with the count of files written.
class WatchedFiles final : public OutputFiles {
public:
    std::error_code createFolder(const std::filesystem::path& folder) override { return files.createFolder(folder); }
    using OutputFiles::replaceFile;
    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& text) override {
        const std::error_code failure = files.replaceFile(file, text);
        if (afterWrite) afterWrite(++written);
        return failure;
    }
    fixtures::MemoryFiles files;
    std::function<void(int)> afterWrite;
    int written = 0;
};

mb::Scene meshesScene(int meshes) {
    mb::Scene scene;
    scene.mapname = "room";
    scene.tagnames = {"weapons\\rifle", "ui\\hud"};
    for (int m = 0; m < meshes; ++m) {
        const auto f = static_cast<float>(m);
        scene.meshes.push_back({{{f + 1, 2, 3}, {4, f + 5, 6}, {7, 8, f - 9}}, {{0, 1, 2}}});
    }
    return scene;
}

// A window as the hosts make one: it takes the run's events when woken, and
// again at once while deliver() says more is queued.
class Window {
public:
    // Until the run's end has come, or nothing wakes the window for kPatience.
    void deliverToTheEnd() {
        deliverWhile([this] { return run.running(); });
    }
    // While `going` holds, or until nothing wakes the window for kPatience.
    void deliverWhile(const std::function<bool()>& going) {
        bool more = false;
        while (going()) {
            if (!more) {
                std::unique_lock lock(mutex_);
                if (!woken_.wait_for(lock, kPatience, [this] { return wakes > taken_; })) return;
                taken_ = wakes;
            }
            more = run.deliver(recorder);
        }
    }

    Recorder recorder;
    int wakes = 0;  // under mutex_

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    int taken_ = 0;

public:
    ExtractRun run{[this] {
        {
            const std::lock_guard lock(mutex_);
            ++wakes;
        }
        woken_.notify_all();
    }};

    int wakesSoFar() {
        const std::lock_guard lock(mutex_);
        return wakes;
    }
};

class ExtractRunTest : public ::testing::Test {
protected:
    RunRequest request(const std::filesystem::path& map, OutputFiles& files) const {
        RunRequest r;
        r.path = map.string();
        r.settings.outputParent = scratch.path() / "out";
        r.settings.files = &files;
        return r;
    }
    ScratchFolder scratch;
};

// Every line, tag and problem of the core's own run, in its order, then the
// end once; the first delivery stops after the first line.
TEST_F(ExtractRunTest, WindowGetsTheCoresEventsInOrderAndTheEndOnce) {
    const struct {
        const char* name;
        mb::Scene scene;
        bool cut;  // the map ends inside its header
        ExtractStatus status;
    } cases[] = {
        {"complete", meshesScene(3), false, ExtractStatus::complete},
        {"not a map", meshesScene(1), true, ExtractStatus::failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mb::BuiltMap built = mb::buildMap(c.scene);
        if (c.cut) mb::truncateMap(built, 100);
        const std::filesystem::path map = writeMap(scratch.path() / (std::string(c.name) + ".map"), built.bytes);
        Recorder core;
        fixtures::MemoryFiles coreFiles;
        extractmap(map.string(), core, request(map, coreFiles).settings);

        fixtures::MemoryFiles files;
        Window w;
        ASSERT_TRUE(w.run.start(request(map, files)));
        EXPECT_FALSE(w.run.start(request(map, files)));  // one at a time
        ASSERT_TRUE(w.run.waitForEvents(kPatience));
        w.run.deliver(w.recorder);
        EXPECT_EQ(w.recorder.events, std::vector<std::string>{"line Loading Map..."});
        w.deliverToTheEnd();
        core.events.push_back("ended");
        EXPECT_EQ(w.recorder.events, core.events);
        ASSERT_EQ(w.recorder.ends.size(), 1u);
        EXPECT_EQ(w.recorder.ends[0].result.status, c.status);
        EXPECT_NE(w.recorder.ends[0].extraction, nullptr);
        EXPECT_EQ(files.files, coreFiles.files);
        EXPECT_FALSE(w.run.deliver(w.recorder));
        EXPECT_EQ(w.recorder.ends.size(), 1u);
    }
}

// A stop asked for while a file is written ends the run at the next line;
// the files written are whole, and nothing is decoded for a stopped run.
TEST_F(ExtractRunTest, StopEndsTheRunAtItsNextLine) {
    const std::filesystem::path map = writeMap(scratch.path() / "many.map", meshesScene(40));
    Recorder full;
    fixtures::MemoryFiles fullFiles;
    extractmap(map.string(), full, request(map, fullFiles).settings);
    for (const int stopAfter : {1, 3, 39}) {
        SCOPED_TRACE("stop after " + std::to_string(stopAfter) + " files");
        WatchedFiles files;
        Window w;
        files.afterWrite = [&](int written) {
            if (written == stopAfter) w.run.stop();
        };
        RunRequest r = request(map, files);
        r.decodeLevel = true;
        w.run.start(std::move(r));
        w.deliverToTheEnd();
        const Recorder& window = w.recorder;
        ASSERT_EQ(window.ends.size(), 1u);
        EXPECT_EQ(window.ends[0].result.status, ExtractStatus::stopped);
        EXPECT_FALSE(window.ends[0].level.has_value());
        EXPECT_EQ(window.events[window.events.size() - 2], "line Making Mesh #" + std::to_string(stopAfter));
        ASSERT_EQ(files.files.files.size(), static_cast<std::size_t>(stopAfter));
        for (const auto& [path, bytes] : files.files.files) EXPECT_EQ(bytes, fullFiles.files.at(path)) << path;
    }
}

// The level decoded on the side is the plan's, as decoded at once.
TEST_F(ExtractRunTest, EndCarriesTheLevelDecodedWhileWriting) {
    const std::filesystem::path map = writeMap(scratch.path() / "sample.map", mb::samplescene());
    for (const bool decode : {true, false}) {
        SCOPED_TRACE(decode ? "decoded" : "not asked for");
        fixtures::MemoryFiles files;
        Window w;
        RunRequest r = request(map, files);
        r.decodeLevel = decode;
        w.run.start(std::move(r));
        w.deliverToTheEnd();
        ASSERT_EQ(w.recorder.ends.size(), 1u);
        const RunEnd& end = w.recorder.ends[0];
        ASSERT_EQ(end.level.has_value(), decode);
        if (!decode) continue;
        const LevelGeometry again = levelGeometry(end.extraction->plan);
        EXPECT_EQ(end.level->meshes.size(), 10u);
        EXPECT_EQ(end.level->positions, again.positions);
        EXPECT_EQ(end.level->indices, again.indices);
    }
}

// A level past the cheap drawing's budget ends the run with what its first
// picture needs, its positions and indices after the end; together they are
// the level decoded at once. A run started before they are taken never gets
// them, nor does a small level's run.
TEST_F(ExtractRunTest, LargeLevelsArraysFollowTheEnd) {
    mb::Scene large = meshesScene(6);
    for (mb::Mesh& mesh : large.meshes) {
        mesh.triangles.clear();
        for (int t = 0; t < 50000; ++t) {
            mesh.triangles.push_back({static_cast<std::uint16_t>(t % 3), static_cast<std::uint16_t>((t + 1) % 3),
                                      static_cast<std::uint16_t>((t + 2) % 3)});
        }
    }
    const std::filesystem::path big = writeMap(scratch.path() / "large.map", large);
    const std::filesystem::path small = writeMap(scratch.path() / "small.map", meshesScene(3));
    fixtures::MemoryFiles files;
    Window w;
    RunRequest r = request(big, files);
    r.decodeLevel = true;
    w.run.start(std::move(r));
    w.deliverWhile([&] { return w.recorder.ends.empty(); });
    // They are decoded once the window wants them, not before.
    EXPECT_FALSE(w.run.waitForEvents(std::chrono::milliseconds(100)));
    w.run.arraysWanted()();
    w.deliverWhile([&] { return w.recorder.arrays.empty(); });
    ASSERT_EQ(w.recorder.ends.size(), 1u);
    ASSERT_EQ(w.recorder.arrays.size(), 1u);
    EXPECT_EQ(std::vector<std::string>(w.recorder.events.end() - 2, w.recorder.events.end()),
              (std::vector<std::string>{"ended", "arrays"}));
    const RunEnd& end = w.recorder.ends[0];
    ASSERT_TRUE(end.level.has_value());
    const LevelGeometry whole = levelGeometry(end.extraction->plan);
    const LevelGeometry& first = *end.level;
    EXPECT_TRUE(first.arraysToCome);
    EXPECT_TRUE(first.positions.empty() && first.indices.empty());
    EXPECT_EQ(first.coarsePositions, whole.coarsePositions);
    EXPECT_EQ(first.coarseIndices, whole.coarseIndices);
    ASSERT_EQ(first.meshes.size(), 6u);
    for (std::size_t m = 0; m < first.meshes.size(); ++m) {
        const LevelMeshRange &got = first.meshes[m], &want = whole.meshes[m];
        EXPECT_EQ(std::tie(got.firstIndex, got.indexCount, got.coarseCount, got.baseVertex, got.vertexCount,
                           got.coarseFirstIndex, got.coarseBaseVertex, got.coarseVertexCount),
                  std::tie(want.firstIndex, want.indexCount, want.coarseCount, want.baseVertex, want.vertexCount,
                           want.coarseFirstIndex, want.coarseBaseVertex, want.coarseVertexCount))
            << "mesh " << m;
        EXPECT_EQ(got.indexCount, 3u * 50000) << "mesh " << m;
    }
    EXPECT_EQ(w.recorder.arrays[0].positions, whole.positions);
    EXPECT_EQ(w.recorder.arrays[0].indices, whole.indices);

    // Runs started at once, each before the window took the last one's
    // arrays: the large one's never come, and the small level has none.
    for (const auto& map : {big, small}) {
        RunRequest again = request(map, files);
        again.decodeLevel = true;
        w.run.start(std::move(again));
        w.deliverToTheEnd();
    }
    ASSERT_EQ(w.recorder.ends.size(), 3u);
    EXPECT_EQ(w.recorder.arrays.size(), 1u);
    EXPECT_EQ(w.recorder.events.back(), "ended");
    ASSERT_TRUE(w.recorder.ends[2].level.has_value());
    EXPECT_FALSE(w.recorder.ends[2].level->arraysToCome);
    EXPECT_FALSE(w.recorder.ends[2].level->positions.empty());
}

// One wake until the window takes, whatever the run queues meanwhile, and
// one for the end; a
// call from inside a delivery (a modal box shown while a line is taken runs
// the window's events) takes nothing, and what came meanwhile is not lost.
TEST_F(ExtractRunTest, WakesOnceUntilTheWindowTakes) {
    const std::filesystem::path good = writeMap(scratch.path() / "a.map", meshesScene(5));
    const std::filesystem::path bad = writeMap(scratch.path() / "bad.map", std::vector<std::uint8_t>(64, 0));
    fixtures::MemoryFiles files;
    Window w;
    std::vector<bool> inner;
    w.recorder.onFailure = [&] {
        std::this_thread::sleep_for(20ms);  // the end is queued meanwhile
        inner.push_back(w.run.deliver(w.recorder));
    };
    for (const auto& map : {good, bad, good}) {
        SCOPED_TRACE(map.filename().string());
        const int before = w.wakesSoFar();
        w.run.start(request(map, files));
        ASSERT_TRUE(waitUntil([&] { return w.run.endQueued(); }));
        EXPECT_EQ(w.wakesSoFar(), before + 2);  // the first line's, and the end's
        w.deliverToTheEnd();
        EXPECT_FALSE(w.run.running());
        EXPECT_EQ(w.recorder.events.back(), "ended");
    }
    EXPECT_EQ(inner, std::vector<bool>{false});
    EXPECT_EQ(w.recorder.ends.size(), 3u);
}

// Where no thread can be made, the run goes on the window's thread: start()
// returns once it has ended, with everything queued as a thread would.
TEST_F(ExtractRunTest, RunsOnTheWindowsThreadWhereNoThreadCanBeMade) {
    const std::filesystem::path map = writeMap(scratch.path() / "three.map", meshesScene(3));
    Recorder core;
    fixtures::MemoryFiles coreFiles;
    extractmap(map.string(), core, request(map, coreFiles).settings);
    core.events.push_back("ended");

    ExtractRun run({}, [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    fixtures::MemoryFiles files;
    Recorder recorder;
    ASSERT_TRUE(run.start(request(map, files)));
    EXPECT_TRUE(run.endQueued());
    while (run.deliver(recorder)) {
    }
    EXPECT_EQ(recorder.events, core.events);
    EXPECT_EQ(files.files, coreFiles.files);
    EXPECT_FALSE(run.running());
}

// Ended with its window, a run stops and its thread is waited for; what it
// wrote is whole. The first file's write lasts until the run object's end
// has asked the run to stop.
TEST_F(ExtractRunTest, EndingTheRunObjectStopsTheRun) {
    const std::filesystem::path map = writeMap(scratch.path() / "many.map", meshesScene(40));
    WatchedFiles files;
    std::atomic<bool> writing{false};
    {
        ExtractRun run;
        files.afterWrite = [&](int written) {
            writing = true;
            if (written == 1) waitUntil([&] { return run.stopping(); });
        };
        run.start(request(map, files));
        while (!writing) std::this_thread::sleep_for(1ms);
    }
    EXPECT_LT(files.written, 40);
    for (const auto& [path, bytes] : files.files.files) EXPECT_FALSE(bytes.empty()) << path;
}

TEST(OutputPolicy, SystemFolders) {
    const SystemFolders windows{{"C:/Program Files", "C:/Program Files (x86)", "C:/Windows"}, true};
    const struct {
        const char* folder;
        const SystemFolders* system;
        bool is;
    } cases[] = {
        {"/usr/bin", nullptr, true},
        {"/usr/local/bin", nullptr, true},
        {"/bin", nullptr, true},
        {"/work/v2bsp/build/src/ui", nullptr, false},
        {"/opt/v2bsp/bin", nullptr, true},
        {"/usr/bin/../bin", nullptr, true},
        {"/usr/", nullptr, true},
        {"/binaries/v2bsp", nullptr, false},
        {"/home/user/v2bsp", nullptr, false},
        {"/home/usr", nullptr, false},
        {"C:/Program Files/v2bsp", &windows, true},
        {"c:/PROGRAM FILES/v2bsp", &windows, true},
        {"C:/Program Files (x86)", &windows, true},
        {"C:/Program Files2/v2bsp", &windows, false},
        {"D:/Program Files/v2bsp", &windows, false},
        {"C:/Users/me/Program Files", &windows, false},
    };
    const SystemFolders posix = posixSystemFolders();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        EXPECT_EQ(isSystemFolder(c.folder, c.system != nullptr ? *c.system : posix), c.is);
    }
}

TEST(OutputPolicy, WindowRunSettings) {
    fixtures::MemoryFiles files;
    const ExtractSettings seam = windowRunSettings("/usr/bin", "/maps/a.map", posixSystemFolders(), &files);
    EXPECT_EQ(seam.outputParent, "/usr/bin");
    EXPECT_EQ(seam.fallbackParent, std::filesystem::absolute("/maps"));  // a drive is added where there are drives
    EXPECT_TRUE(seam.outputParentSystem);
    EXPECT_EQ(seam.files, &files);
    EXPECT_EQ(seam.jobs, 1u);

    const ExtractSettings disk = windowRunSettings("/home/u/v2bsp", "maps/b.map", posixSystemFolders());
    EXPECT_FALSE(disk.outputParentSystem);
    EXPECT_EQ(disk.fallbackParent, std::filesystem::current_path() / "maps");
    EXPECT_GE(disk.jobs, 1u);
    EXPECT_EQ(disk.files, nullptr);
    EXPECT_TRUE(windowRunSettings("/p", "", posixSystemFolders()).fallbackParent.empty());
}

}  // namespace
}  // namespace v2bsp::app
