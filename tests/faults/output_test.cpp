// Where output goes and what is left of it when things go wrong around it: a
// link planted at the map's folder or swapped in for it during a run, a
// signal while a temporary file is open, temporary names planted in advance,
// a full standard output, an address space too small for the marker index,
// and runs of every kind of scene on several threads against one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "childprocess.hpp"
#include "cli/cli.hpp"
#include "corpus.hpp"
#include "extract/extractmap.hpp"
#include "formatlists.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "memoryfiles.hpp"
#include "meshfixtures.hpp"
#include "platform/diskfiles.hpp"
#include "platform/workerpool.hpp"
#include "recordinghost.hpp"
#include "runcommand.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace {

namespace fs = std::filesystem;
namespace mb = mapbuilder;

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer reserves terabytes of address space and checks each memmem
// call against the shadow of the rest of the image.
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif

using fixtures::Outcome;

Outcome command(std::vector<std::string> args) {
    return fixtures::runcommand(std::move(args));
}

mb::Scene diskScene(int meshes) {
    mb::Scene scene;
    scene.mapname = "disk";
    scene.tagnames = {"rocks"};
    for (int m = 0; m < meshes; ++m) scene.meshes.push_back(fixtures::stripMesh(m + 1, static_cast<float>(m)));
    return scene;
}

// Everything under `folder` by path relative to it: a file's bytes, a link's
// target behind "-> ", a folder as "/".
std::map<std::string, std::string> treeOf(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().lexically_relative(folder).string();
        if (entry.is_symlink()) {
            tree[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            tree[name] = "/";
        } else {
            tree[name] = readFile(entry.path());
        }
    }
    return tree;
}

std::vector<std::string> temporaries(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& [name, content] : treeOf(folder)) {
        if (name.find(".tmp") != std::string::npos) found.push_back(name);
    }
    return found;
}

class OutputFaults : public ::testing::Test {
protected:
    fs::path path(const std::string& name) const { return scratch_.path() / name; }
    ScratchFolder scratch_;
};

TEST_F(OutputFaults, LinkAtTheMapsFolderIsNotFollowed) {
    struct Case {
        const char* name;
        std::string formats;
        bool dangling;  // the link points at nothing
    };
    const Case cases[] = {
        {"a link to a folder", "meshes", false},
        {"a dangling link", "meshes", true},
        {"a link, with the whole-level files", "meshes,obj,glb", false},
    };
    const mb::Scene scene = diskScene(2);
    const fs::path map = writeMap(path("disk.map"), mb::buildMap(scene).bytes);
    // The whole-level files as a run without the link writes them.
    const fs::path plain = path("plain");
    ASSERT_EQ(command({"--format", "obj,glb", "-o", plain.string(), map.string()}).status, 0);
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path out = path("out" + std::to_string(round));
        const fs::path elsewhere = path("elsewhere" + std::to_string(round++));
        fs::create_directories(out);
        if (!c.dangling) fs::create_directories(elsewhere);
        fs::create_directory_symlink(elsewhere, out / "disk");

        const Outcome outcome = command({"--format", c.formats, "-o", out.string(), map.string()});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.out, fixtures::logText(2, {{"Creating BSP...",
                                                      {"Could not create folder " + (out / "disk").string() +
                                                       ": It is a symbolic link, which is not followed"}}}));
        std::map<std::string, std::string> expected = {{"disk", "-> " + elsewhere.string()}};
        if (c.formats != "meshes") {
            expected["disk.obj"] = readFile(plain / "disk.obj");
            expected["disk.glb"] = readFile(plain / "disk.glb");
        }
        EXPECT_EQ(treeOf(out), expected);
        if (c.dangling) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(elsewhere)));
        } else {
            EXPECT_TRUE(fs::is_empty(elsewhere));
        }
    }
}

TEST_F(OutputFaults, OutputParentThatIsALinkIsFollowed) {
    const mb::Scene scene = diskScene(2);
    const fs::path map = writeMap(path("disk.map"), mb::buildMap(scene).bytes);
    fs::create_directories(path("real"));
    fs::create_directory_symlink(path("real"), path("link"));
    for (const fs::path& out : {path("link"), path("link") / "new" / "deeper"}) {
        SCOPED_TRACE(out.string());
        const Outcome outcome = command({"-o", out.string(), map.string()});
        EXPECT_EQ(outcome.status, 0) << outcome.out;
        EXPECT_EQ(outcome.out, fixtures::logText(2));
        const fs::path real = path("real") / fs::relative(out, path("link"));
        EXPECT_EQ(readFile(real / "disk" / "mesh0.obj"), fixtures::expectedObjText(scene.meshes[0]));
        EXPECT_EQ(readFile(real / "disk" / "mesh1.obj"), fixtures::expectedObjText(scene.meshes[1]));
    }
}

// A host that, at one log line, takes the map's folder away and puts a link
// to another folder in its place.
class SwappingHost final : public fixtures::RecordingHost {
public:
    std::function<void()> swap;
    std::string at;
    void logline(std::string_view line) override {
        RecordingHost::logline(line);
        if (line == at && swap) swap();
    }
};

TEST_F(OutputFaults, FolderSwappedForALinkDuringTheRun) {
    struct Case {
        const char* name;
        bool removed;  // the folder is removed, not renamed away
        unsigned jobs;
        std::vector<int> moved;           // the mesh files found in the folder renamed away
        std::vector<std::string> failed;  // lines after "Making Mesh #N" for N = 2, 3 ...
    };
    const std::string refused = ": It is a symbolic link, which is not followed";
    const Case cases[] = {
        {"renamed away, one job", false, 1, {0, 1, 2, 3}, {}},
        {"renamed away, three jobs", false, 3, {0, 1, 2, 3}, {}},
        {"removed, one job", true, 1, {}, {"mesh2.obj", "mesh3.obj"}},
    };
    const mb::Scene scene = diskScene(4);
    const fs::path map = writeMap(path("disk.map"), mb::buildMap(scene).bytes);
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path out = path("out" + std::to_string(round));
        const fs::path elsewhere = path("elsewhere" + std::to_string(round));
        const fs::path moved = path("moved" + std::to_string(round++));
        fs::create_directories(out);
        fs::create_directories(elsewhere);
        const fs::path folder = out / "disk";
        SwappingHost host;
        host.at = "Making Mesh #2";
        host.swap = [&] {
            if (c.removed) {
                fs::remove_all(folder);
            } else {
                fs::rename(folder, moved);
            }
            fs::create_directory_symlink(elsewhere, folder);
        };
        ExtractSettings settings;
        settings.outputParent = out;
        settings.jobs = c.jobs;
        const ExtractResult result = extractmap(map.string(), host, settings);

        EXPECT_TRUE(fs::is_empty(elsewhere));
        EXPECT_TRUE(fs::is_symlink(folder));
        std::vector<std::string> log = fixtures::logFor(4);
        for (std::size_t i = c.failed.size(); i-- > 0;) {
            log.insert(log.begin() + 10 + static_cast<std::ptrdiff_t>(i),
                       "Could not write " + (folder / c.failed[i]).string() + refused);
        }
        EXPECT_EQ(host.log, log);
        EXPECT_EQ(result.status, c.failed.empty() ? ExtractStatus::complete : ExtractStatus::incomplete);
        std::map<std::string, std::string> expected;
        for (const int m : c.moved) {
            expected["mesh" + std::to_string(m) + ".obj"] =
                fixtures::expectedObjText(scene.meshes[static_cast<std::size_t>(m)]);
        }
        if (!c.removed) {
            EXPECT_EQ(treeOf(moved), expected);
        }
    }
}

// Raises `signalToRaise` once the `raiseOnFile`-th temporary file of the
// process is open and holds its first piece.
std::atomic<int> filesBegun{0};
int raiseOnFile = 0;
int signalToRaise = 0;
void raiseWhileWriting() {
    if (++filesBegun == raiseOnFile) ::raise(signalToRaise);
}

// The same, sent to the process: the handler runs on whichever thread takes
// it, at whatever instant the others are in.
void killWhileWriting() {
    if (++filesBegun == raiseOnFile) ::kill(::getpid(), signalToRaise);
}

// Extracts `map` into `out` on `jobs` threads in a child process with the
// cleanup handlers installed, through a disk whose `whileWriting` sends
// `signal` once the `onFile`-th temporary file is open.
ChildOutcome extractSignalled(const fs::path& map, const fs::path& out, unsigned jobs, DiskFilesOptions disk_options,
                              int onFile, int signal) {
    return runForked(
        [&](std::ostream&, std::ostream&) {
            for (const int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
            installTemporaryCleanup();
            filesBegun = 0;
            raiseOnFile = onFile;
            signalToRaise = signal;
            const auto disk = makeDiskFiles(disk_options);
            fixtures::RecordingHost host;
            ExtractSettings settings;
            settings.outputParent = out;
            settings.files = disk.get();
            settings.jobs = jobs;
            extractmap(map.string(), host, settings);
            return 0;
        },
        kHangLimit);
}

// Whether the file system of `folder` has unnamed files.
bool hasUnnamedFiles(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

TEST_F(OutputFaults, SignalWhileATemporaryFileIsOpen) {
    const mb::Scene scene = diskScene(4);
    const fs::path map = writeMap(path("disk.map"), mb::buildMap(scene).bytes);
    const bool unnamed_here = hasUnnamedFiles(scratch_.path());
    struct Case {
        int signal;
        bool cleaned;  // the handlers can remove a named temporary file
    };
    // SIGKILL shows that a named temporary file left behind is seen.
    const Case cases[] = {{SIGINT, true}, {SIGTERM, true}, {SIGHUP, true}, {SIGKILL, false}};
    int round = 0;
    for (const Case& c : cases) {
        for (const bool unnamed : {false, true}) {
            SCOPED_TRACE(std::string(::strsignal(c.signal)) + (unnamed ? ", unnamed" : ", named"));
            const fs::path out = path("out" + std::to_string(round++));
            fs::create_directories(out);
            const ChildOutcome run = extractSignalled(map, out, 1, {unnamed, raiseWhileWriting}, 3, c.signal);
            ASSERT_TRUE(run.finished);
            EXPECT_EQ(run.status, -1);
            EXPECT_EQ(run.signal, c.signal);
            const bool left = !c.cleaned && !(unnamed && unnamed_here);
            EXPECT_EQ(temporaries(out / "disk").size(), left ? 1u : 0u);
            std::map<std::string, std::string> tree = treeOf(out / "disk");
            for (const std::string& temporary : temporaries(out / "disk")) tree.erase(temporary);
            const std::map<std::string, std::string> kept = {{"mesh0.obj", fixtures::expectedObjText(scene.meshes[0])},
                                                             {"mesh1.obj", fixtures::expectedObjText(scene.meshes[1])}};
            EXPECT_EQ(tree, kept);
        }
    }
}

// Eight writers create, link and rename their files while the signal comes.
TEST_F(OutputFaults, SignalAtAnyInstantWithManyWriters) {
    // Extracted once, so that extracting again gives every file a temporary name.
    constexpr int kMeshes = 400;
    const fs::path map = writeMap(path("many.map"), mb::buildMap(mb::largeScene(kMeshes, 4 * kMeshes, kMeshes)).bytes);
    const fs::path out = path("out");
    const Outcome first = command({"-q", "-j", "8", "-o", out.string(), map.string()});
    ASSERT_EQ(first.status, 0) << first.err;
    const fs::path folder = fs::directory_iterator(out)->path();
    std::mt19937 random(25);
    int round = 0;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        for (int i = 0; i < 8; ++i, ++round) {
            const bool unnamed = round % 2 == 1;
            const int on_file = std::uniform_int_distribution<int>(1, kMeshes)(random);
            SCOPED_TRACE(std::string(::strsignal(signal)) + " at file " + std::to_string(on_file) +
                         (unnamed ? ", unnamed" : ", named"));
            const ChildOutcome run = extractSignalled(map, out, 8, {unnamed, killWhileWriting}, on_file, signal);
            ASSERT_TRUE(run.finished);
            EXPECT_EQ(run.signal, signal);
            EXPECT_EQ(temporaries(folder), std::vector<std::string>{});
            for (const std::string& temporary : temporaries(folder)) fs::remove(folder / temporary);
        }
    }
}

// A link among the earlier files (to a file, or to nothing) is named as
// Windows names one; a folder, or a link to one, is not.
TEST_F(OutputFaults, EarlierFilesIncludeLinksButNoFolders) {
    const fs::path map = writeMap(path("disk.map"), mb::buildMap(diskScene(2)).bytes);
    const fs::path out = path("out");
    fs::create_directories(out / "disk" / "mesh15.obj");
    fs::create_symlink(path("nowhere"), out / "disk" / "mesh14.obj");
    fs::create_directory_symlink(out / "disk" / "mesh15.obj", out / "disk" / "mesh16.obj");
    const Outcome outcome = command({"-q", "-o", out.string(), map.string()});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "v2bsp-extract: " + map.string() + ": Mesh files of an earlier extraction are still in " +
                               (out / "disk").string() + ": mesh14.obj (1 file)\n");
    EXPECT_EQ(fs::read_symlink(out / "disk" / "mesh14.obj"), path("nowhere"));
}

TEST_F(OutputFaults, TemporaryNamesPlantedInAdvanceAreNoObstacle) {
    const mb::Scene scene = diskScene(3);
    const fs::path map = writeMap(path("disk.map"), mb::buildMap(scene).bytes);
    int round = 0;
    for (const bool unnamed : {false, true}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        const fs::path out = path("out" + std::to_string(round++));
        fs::create_directories(out / "disk");
        const ChildOutcome run = runForked(
            [&](std::ostream& stdout_text, std::ostream&) {
                // The names a scheme of the process id and a counter would use.
                const std::string pid = std::to_string(::getpid());
                for (int m = 0; m < 3; ++m) {
                    const std::string file = "mesh" + std::to_string(m) + ".obj";
                    for (int i = 0; i < 100; ++i) {
                        std::ofstream(out / "disk" / (file + ".tmp" + pid + "-" + std::to_string(i))) << "planted";
                    }
                }
                const auto disk = makeDiskFiles({unnamed, nullptr});
                fixtures::RecordingHost host;
                ExtractSettings settings;
                settings.outputParent = out;
                settings.files = disk.get();
                const ExtractResult result = extractmap(map.string(), host, settings);
                for (const std::string& line : host.log) stdout_text << line << '\n';
                return result.status == ExtractStatus::complete ? 0 : 1;
            },
            kHangLimit);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out, fixtures::logText(3));
        const std::map<std::string, std::string> tree = treeOf(out / "disk");
        EXPECT_EQ(tree.size(), 3u + 300u);
        for (int m = 0; m < 3; ++m) {
            EXPECT_EQ(tree.at("mesh" + std::to_string(m) + ".obj"),
                      fixtures::expectedObjText(scene.meshes[static_cast<std::size_t>(m)]));
        }
        for (const auto& [name, content] : tree) {
            if (name.find(".tmp") != std::string::npos) {
                EXPECT_EQ(content, "planted") << name;
            }
        }
    }
}

TEST_F(OutputFaults, FullStandardOutputFailsTheCommand) {
    const fs::path small = writeMap(path("disk.map"), mb::buildMap(diskScene(2)).bytes);
    // Its log is longer than the output's buffer, so the write fails while the
    // run goes on; every mesh is skipped, so that it writes no file.
    mb::BuiltMap skipping = mb::buildMap(mb::largeScene(2000, 6000, 2000));
    for (const mb::MeshLayout& mesh : skipping.layout.meshes) mb::pokeu32(skipping.bytes, mesh.entry + 40, 0xFFFFFFFF);
    const fs::path large = writeMap(path("large.map"), skipping.bytes);
    const std::string missing = path("missing.map").string();
    const std::string out = path("out").string();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string err_before;  // what precedes the write error on standard error
    };
    const Case cases[] = {
        {"the log", {"-o", out, small.string()}, ""},
        {"a long log", {"-o", out, large.string()}, ""},
        {"a long log, then a map that is not there",
         {"-o", out, large.string(), missing},
         "v2bsp-extract: " + missing + ": This is not a valid Vorun 2 map file: Cannot open " + missing +
             ": No such file or directory.\n"},
        {"a long log, then a map whose folder is there", {"-o", out, large.string(), small.string()}, ""},
        {"the tag list", {"--list-tags", small.string()}, ""},
        {"the help", {"--help"}, ""},
        {"the version", {"--version"}, ""},
    };
    for (const Case& c : cases) {
        // A full device, and a pipe whose reader has gone (no SIGPIPE ends the program).
        for (const bool closed_pipe : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (closed_pipe ? ", to a closed pipe" : ", to a full device"));
            std::vector<std::string> argv = {V2BSP_EXTRACT_COMMAND};
            argv.insert(argv.end(), c.args.begin(), c.args.end());
            ProgramSetup setup;
            if (closed_pipe) {
                setup.closedStdout = true;
            } else {
                setup.stdoutfile = "/dev/full";
            }
            const ChildOutcome run = runProgram(argv, kHangLimit, setup);
            ASSERT_TRUE(run.finished);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, c.err_before + "v2bsp-extract: write error: " +
                                   (closed_pipe ? "Broken pipe" : "No space left on device") + "\n");
        }
    }
}

// Past the file-size limit a write fails as any other: no SIGXFSZ ends the
// program, the log so far is printed, and nothing is left half written.
TEST_F(OutputFaults, FileSizeLimitFailsTheWrite) {
    const mb::Scene scene = diskScene(3);
    const fs::path map = writeMap(path("disk.map"), mb::buildMap(scene).bytes);
    const fs::path out = path("out");
    ProgramSetup setup;
    setup.fileSizeLimit = 300;  // each mesh file fits; the whole-level OBJ and the glb do not
    const ChildOutcome run =
        runProgram({V2BSP_EXTRACT_COMMAND, "-j", "2", "--format", "meshes,obj,glb", "-o", out.string(), map.string()},
                   kHangLimit, setup);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              fixtures::logText(3, {{"Making Mesh #2",
                                     {"Could not write " + (out / "disk.obj").string() + ": File too large",
                                      "Could not write " + (out / "disk.glb").string() + ": File too large"}}}));
    std::map<std::string, std::string> expected = {{"disk", "/"}};
    for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
        expected["disk/mesh" + std::to_string(m) + ".obj"] = fixtures::expectedObjText(scene.meshes[m]);
    }
    EXPECT_EQ(treeOf(out), expected);
}

// Under a limit of the address space or of the data, a run that cannot get
// the memory it needs says so and ends with status 1; it never aborts. A
// helper thread that cannot be made leaves its work to the threads there
// are, and the mesh files of any count of jobs fit in the map + 64 MiB.
TEST_F(OutputFaults, RunsBeyondTheAddressSpace) {
    if (kUnderSanitizer) GTEST_SKIP() << "the sanitizer's reservations exceed any limit that holds the map";
    // One mesh whose raw data, all of the file after the first map, is
    // markers: the index of their positions needs about as much again as the
    // map, and twice that while it grows.
    constexpr std::size_t kMapSize = std::size_t{64} << 20;
    mb::Scene scene;
    scene.mapname = "markers";
    scene.tagnames = {"rocks"};
    scene.meshes = {fixtures::stripMesh(1, 0)};
    mb::BuiltMap built = mb::buildMap(scene);
    std::vector<std::uint8_t>& bytes = built.bytes;
    bytes.resize((bytes.size() + 3) & ~std::size_t{3}, 0xEE);
    const std::size_t raw = bytes.size();
    bytes.resize(kMapSize);
    for (std::size_t at = raw; at + 4 <= bytes.size(); at += 4)
        mb::pokeu32(bytes, static_cast<std::int64_t>(at), mb::kSectionMarker);
    mb::pokeu32(bytes, built.layout.meshes[0].entry + 40, static_cast<std::uint32_t>(raw));
    mb::pokeu32(bytes, built.layout.meshes[0].entry + 44, static_cast<std::uint32_t>(kMapSize - raw));
    const fs::path markers = writeMap(path("markers.map"), bytes);
    bytes = {};
    // A level of a quarter of a million tiny meshes: its glb's description
    // grows with the count of meshes, its memory must not.
    const fs::path many = writeMap(path("many.map"), mb::buildMap(mb::largeScene(262000, 786000, 262000)).bytes);

    // Two jobs where the sample's every mesh is one piece, and 64 where
    // each is one long piece: the text of 64 files at once.
    const fs::path sample = writeMap(path("sample.map"), mb::buildMap(mb::samplescene()).bytes);
    const fs::path wide = writeMap(path("wide.map"), mb::buildMap(mb::largeScene(96, 3168000, 960000)).bytes);

    const std::string no_index = "Not enough memory to find the meshes' sections";
    const std::string no_glb = "Could not write " + path("out").string() + "/large test.glb: Cannot allocate memory";
    // A map that does not fit is no bad map.
    const std::string no_map = "Could not read " + markers.string() + ": There is not enough memory to hold it (" +
                               std::to_string(kMapSize) + " bytes)";
    // The data limit holds the private writable memory: the map, the heap,
    // the threads' stacks (each kStackMiB under that limit), but not the
    // code nor address space only reserved (the allocator's areas a thread).
    enum class Limit { addressSpace, data };
    constexpr int kStackMiB = 1;
    struct Case {
        const char* name;
        fs::path map;
        std::string format;
        int jobs;
        Limit limit;
        std::vector<int> extra_mib;  // the limits, as MiB past the map's size
        std::string wanted;          // a line one of the limits must give; empty: one must complete
    };
    // Measured: the map of markers loads from 72 MiB on and finds its index
    // from 168 MiB on; the many meshes find their sections from 28 MiB past
    // their map's size on and write the glb from 52 MiB past on. The sample
    // on two jobs, whose second thread's stack does not fit below 22 MiB,
    // completes on one from 8 MiB on; the mesh files of 64 jobs write from 16
    // MiB past the map and the stacks on (2 MiB a thread before the pieces
    // shrank with the count of threads).
    const Case cases[] = {
        {"the map itself", markers, "meshes", 1, Limit::addressSpace, {4}, no_map},
        {"the index of many markers", markers, "meshes", 1, Limit::addressSpace, {48}, no_index},
        {"the glb of many meshes", many, "glb", 1, Limit::addressSpace, {16, 24, 32, 40, 44, 48, 56, 96}, no_glb},
        {"two jobs without room for a thread", sample, "meshes,obj,glb", 2, Limit::addressSpace, {10, 12, 16, 21}, ""},
        {"the mesh files of 64 jobs", wide, "meshes", 64, Limit::data, {64 + 63 * kStackMiB}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool wanted_seen = false;
        for (const int extra : c.extra_mib) {
            SCOPED_TRACE(std::to_string(extra) + " MiB");
            ProgramSetup setup;
            const std::uint64_t limit = fs::file_size(c.map) + (static_cast<std::uint64_t>(extra) << 20);
            if (c.limit == Limit::addressSpace) {
                setup.addressspace = limit;
            } else {
                setup.datasize = limit;
                setup.stacksize = std::uint64_t{kStackMiB} << 20;
            }
            const fs::path out = path("out");
            fs::remove_all(out);
            const ChildOutcome run = runProgram({V2BSP_EXTRACT_COMMAND, "-q", "-j", std::to_string(c.jobs), "--format",
                                                 c.format, "-o", out.string(), c.map.string()},
                                                kHangLimit, setup);
            ASSERT_TRUE(run.finished);
            EXPECT_EQ(run.signal, 0) << run.err;
            EXPECT_TRUE(run.status == 0 || run.status == 1) << run.err;
            EXPECT_EQ(run.out, "");
            wanted_seen |= c.wanted.empty() && run.status == 0;
            if (run.status == 0) continue;
            const std::string prefix = "v2bsp-extract: " + c.map.string() + ": ";
            // Each line says that memory ran out: for the sections, or for a file.
            std::istringstream lines(run.err);
            for (std::string line; std::getline(lines, line);) {
                const bool known = line == prefix + no_index || line == prefix + no_map ||
                                   (line.starts_with(prefix + "Could not write " + out.string() + "/") &&
                                    line.ends_with(": Cannot allocate memory"));
                EXPECT_TRUE(known) << line;
            }
            wanted_seen |= !c.wanted.empty() && run.err == prefix + c.wanted + "\n";
            EXPECT_FALSE(fs::exists(out / "large test.glb"));
            if (fs::exists(out / "markers")) {
                EXPECT_TRUE(fs::is_empty(out / "markers"));
            }
            if (fs::exists(out)) {
                EXPECT_TRUE(temporaries(out).empty());
            }
        }
        EXPECT_TRUE(wanted_seen);
    }
}

// The whole outcome of a run on `jobs` threads. Through the command: its
// status, its streams and everything under its output parent, by relative
// path (treeOf). Into memory: the log, the counts, every folder and file.
struct JobsRun {
    int status = 0;
    std::string out, err;
    std::vector<std::string> log;
    ExtractResult result;
    std::set<fs::path> folders;
    std::map<fs::path, std::string> files;
};

// A map run on one thread and then on two and three.
struct JobsScene {
    std::string name;  // in test names
    std::function<std::vector<std::uint8_t>()> map;
    FormatList formats;
    bool command = false;                       // v2bsp-extract onto the disk, not extractmap into memory
    std::function<void(const JobsRun&)> first;  // what the run on one thread must give besides files
};

void PrintTo(const JobsScene& scene, std::ostream* out) {
    *out << scene.name;
}

// The objects ("o" lines) of an OBJ text.
int objectsIn(const std::string& text) {
    std::istringstream lines(text);
    int objects = 0;
    for (std::string line; std::getline(lines, line);) {
        std::string kind;
        std::istringstream(line) >> kind;
        objects += kind == "o";
    }
    return objects;
}

std::vector<JobsScene> jobsScenes() {
    const FormatList all = kFormatLists[1];
    const FormatList levels = {"levels", "obj,glb", {.meshes = false, .obj = true, .glb = true}};
    std::vector<JobsScene> scenes = {
        {"sample_room_through_the_command", [] { return mb::buildMap(mb::samplescene()).bytes; }, all, true,
         [](const JobsRun& one) {
             EXPECT_EQ(one.status, 0);
             EXPECT_EQ(one.files.size(), 3u + mb::samplescene().meshes.size());
         }},
        {"large_map", [] { return mb::buildMap(mb::largeScene(2000, 20000, 20000)).bytes; }, all, false, nullptr},
        // Meshes long enough that their lines are made in halves on two threads.
        {"long_meshes_in_the_whole_level_files",
         [] {
             mb::Scene scene = mb::largeScene(3, 60000, 50000);
             scene.mapname = "level one";
             return mb::buildMap(scene).bytes;
         },
         levels, false,
         [](const JobsRun& one) {
             ASSERT_EQ(one.result.status, ExtractStatus::complete);
             EXPECT_EQ(objectsIn(one.files.at("/out/level one.obj")), 3);
         }},
    };
    for (const fuzz::WorstCase& worst : fuzz::worstcases()) {
        if (worst.outcome != fuzz::WorstOutcome::finished) continue;
        std::string name = "worst_" + std::string(worst.name);
        std::replace(name.begin(), name.end(), '-', '_');
        scenes.push_back({name, [make = worst.make] { return make(fuzz::kMinWorstSize); }, all, false, nullptr});
    }
    return scenes;
}

// A run on `jobs` threads, or on helpers the system refuses to make.
struct JobsVariant {
    const char* name;
    unsigned jobs;
    bool refused = false;  // no helper thread can be made (into memory only)
};

class Jobs : public ::testing::TestWithParam<JobsScene> {
protected:
    JobsRun runOn(const std::vector<std::uint8_t>& bytes, unsigned jobs, bool refused = false) {
        const JobsScene& scene = GetParam();
        JobsRun run;
        if (scene.command) {
            const fs::path map = writeMap(scratch_.path() / "map.map", bytes);
            const fs::path out = scratch_.path() / ("j" + std::to_string(jobs));
            const Outcome outcome =
                command({"-j", std::to_string(jobs), "--format", scene.formats.list, "-o", out.string(), map.string()});
            run.status = outcome.status;
            run.out = outcome.out;
            run.err = outcome.err;
            for (auto& [name, content] : treeOf(out)) run.files[name] = std::move(content);
            return run;
        }
        fixtures::MemoryFiles files;
        fixtures::RecordingHost host;
        ExtractSettings settings;
        settings.outputParent = "/out";
        settings.formats = scene.formats.formats;
        settings.jobs = jobs;
        settings.files = &files;
        WorkerPool refusing(jobs - 1, [](std::function<void()>) -> std::thread {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        });
        if (refused) settings.pool = &refusing;
        run.result = extractmap(bytes, "map.map", host, settings);
        run.log = std::move(host.log);
        run.folders = std::move(files.folders);
        run.files = std::move(files.files);
        return run;
    }
    ScratchFolder scratch_;
};

TEST_P(Jobs, GiveTheOutputOfOne) {
    const JobsScene& scene = GetParam();
    const std::vector<std::uint8_t> bytes = scene.map();
    const JobsRun one = runOn(bytes, 1);
    EXPECT_FALSE(one.files.empty());
    if (scene.first) scene.first(one);
    const JobsVariant variants[] = {{"2 jobs", 2}, {"3 jobs", 3}, {"3 jobs, no helper to be had", 3, true}};
    for (const JobsVariant& variant : variants) {
        if (variant.refused && scene.command) continue;
        SCOPED_TRACE(variant.name);
        // The log names no path unless a write fails; the folders differ only by name.
        const JobsRun more = runOn(bytes, variant.jobs, variant.refused);
        EXPECT_EQ(more.status, one.status);
        EXPECT_EQ(more.out, one.out);
        EXPECT_EQ(more.err, one.err);
        EXPECT_TRUE(more.log == one.log);
        EXPECT_EQ(more.result.status, one.result.status);
        EXPECT_EQ(more.result.meshesRead, one.result.meshesRead);
        EXPECT_EQ(more.result.meshesWritten, one.result.meshesWritten);
        EXPECT_EQ(more.result.meshesSkipped, one.result.meshesSkipped);
        EXPECT_EQ(more.result.writeFailures, one.result.writeFailures);
        EXPECT_EQ(more.folders, one.folders);
        EXPECT_TRUE(more.files == one.files) << more.files.size() << " files against " << one.files.size();
    }
}

INSTANTIATE_TEST_SUITE_P(OutputFaults, Jobs, ::testing::ValuesIn(jobsScenes()),
                         [](const ::testing::TestParamInfo<JobsScene>& info) { return info.param.name; });

}  // namespace
}  // namespace v2bsp
