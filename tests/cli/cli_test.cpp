#include "cli/cli.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "platform/diskfiles.hpp"
#include "platform/mapfile.hpp"
#include "platform/utf8path.hpp"
#include "recordinghost.hpp"
#include "runcommand.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace {

// What the map load says of a file that is not there: the system's reason.
std::string missingReason(const std::string& path) {
    try {
        loadMapFile(pathFromUtf8(path));
    } catch (const MapError& failure) {
        return failure.what();
    }
    return "loaded";
}

namespace mb = mapbuilder;

using fixtures::logText;
using fixtures::Outcome;

class ExtractCommand : public ::testing::Test {
protected:
    Outcome run(std::vector<std::string> args) { return fixtures::runcommand(std::move(args)); }

    std::string writeMap(const mb::BuiltMap& map, const std::string& name) {
        return utf8Text(v2bsp::writeMap(scratch_.path() / pathFromUtf8(name), map.bytes));
    }

    static mb::Scene scene(const std::string& name) {
        mb::Scene scene;
        scene.mapname = name;
        scene.tagnames = {"caf\xE9", "rocks"};
        mb::Mesh mesh;
        mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        mesh.triangles = {{0, 1, 2}};
        scene.meshes = {mesh, mesh};
        return scene;
    }

    std::string out() const { return utf8Text(scratch_.path() / "out"); }

    ScratchFolder scratch_;
};

constexpr const char* kFullLog =
    "Loading Map...\nFinding map information...\nGetting tag information...\nLoading tags...\n"
    "Locating Scnr...\nLocating BSP...\nCreating BSP...\nMaking Mesh #0\nMaking Mesh #1\n"
    "Locating Collections...\nLocating Scenery...\nInitializing 3D Window...\n";

TEST_F(ExtractCommand, ExtractsIntoTheOutputFolder) {
    const std::string map = writeMap(mb::buildMap(scene("alpha")), "alpha.map");
    const Outcome outcome = run({"-o", out() + "/new/deeper", map});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, kFullLog);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(readFile(out() + "/new/deeper/alpha/mesh1.obj"),
              "v  0  0  0\r\nv  1  0  0\r\nv  0  1  0\r\n\r\n\r\nf  1  2  3 \r\n\r\n");
}

TEST_F(ExtractCommand, QuietPrintsNothing) {
    const std::string map = writeMap(mb::buildMap(scene("alpha")), "alpha.map");
    const Outcome outcome = run({"-q", "-o", out(), map});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "");
    EXPECT_TRUE(std::filesystem::exists(out() + "/alpha/mesh0.obj"));
}

TEST_F(ExtractCommand, ABadMapDoesNotStopTheNext) {
    const std::string bad = (scratch_.path() / "missing.map").string();
    const std::string good = writeMap(mb::buildMap(scene("beta")), "beta.map");
    const Outcome outcome = run({"-o", out(), bad, good});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "v2bsp-extract: " + bad + ": This is not a valid Vorun 2 map file: " + missingReason(bad) + "\n");
    EXPECT_EQ(outcome.out, std::string("Loading Map...\n") + kFullLog);
    EXPECT_TRUE(std::filesystem::exists(out() + "/beta/mesh1.obj"));
}

TEST_F(ExtractCommand, ListsTagsOnly) {
    const mb::BuiltMap built = mb::buildMap(scene("gamma"));
    std::string expected;
    for (const mb::TagRowLayout& tag : built.layout.tags) {
        expected += (tag.name == "caf\xE9" ? std::string("caf\u00E9") : tag.name) + "\n";
    }
    const Outcome outcome = run({"--list-tags", writeMap(built, "gamma.map")});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, expected);
    EXPECT_NE(outcome.out.find("caf\u00E9\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("gamma"));

    // Control characters are shown as \x and their code, so each tag stays one line.
    mb::Scene controls = scene("gamma");
    controls.tagnames = {"two\nlines", "\x1B]0;title\x07",
                         "odd\x81"
                         "byte",
                         "back\\slash"};
    const Outcome escaped = run({"--list-tags", writeMap(mb::buildMap(controls), "controls.map")});
    EXPECT_EQ(escaped.status, 0);
    EXPECT_NE(escaped.out.find("two\\x0Alines\n\\x1B]0;title\\x07\nodd\\x81byte\nback\\slash\n"), std::string::npos)
        << escaped.out;

    // A map without a scenario still lists its tags.
    mb::BuiltMap no_scenario = mb::buildMap(scene("gamma"));
    mb::corruptionCase(mb::Corruption::NoScenarioRow).apply(no_scenario);
    const Outcome listed = run({"--list-tags", writeMap(no_scenario, "noscnr.map")});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 4);
}

TEST_F(ExtractCommand, UsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out_start;  // the start of standard output
        bool error_printed;
    };
    const Case cases[] = {
        {{}, 2, "", true},
        {{"--bogus", "x.map"}, 2, "", true},
        {{"-o"}, 2, "", true},
        {{"--list-tags", "a.map", "b.map"}, 2, "", true},
        {{"--format", "gltf", "a.map"}, 2, "", true},
        {{"--format", "meshes,obj,stl", "a.map"}, 2, "", true},
        {{"--format", "", "a.map"}, 2, "", true},
        {{"--up-axis", "x", "a.map"}, 2, "", true},
        {{"--up-axis"}, 2, "", true},
        {{"--version"}, 0, "v2bsp-extract 1.00\n", false},
        {{"--help"}, 0, "Extracts the level geometry", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.front());
        const Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out.rfind(c.out_start, 0), 0u) << outcome.out;
        EXPECT_EQ(!outcome.err.empty(), c.error_printed) << outcome.err;
    }
}

TEST_F(ExtractCommand, FormatsChooseTheFilesWritten) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> files;  // every file under out(), relative to it
    };
    const Case cases[] = {
        {{}, {"theta/mesh0.obj", "theta/mesh1.obj"}},
        {{"--format", "meshes"}, {"theta/mesh0.obj", "theta/mesh1.obj"}},
        {{"--format", "obj"}, {"theta.obj"}},
        {{"--format", "glb,obj"}, {"theta.glb", "theta.obj"}},
        {{"--format", "obj", "--format", "glb"}, {"theta.glb", "theta.obj"}},
        {{"--format", "meshes,obj,glb", "--up-axis", "z"},
         {"theta.glb", "theta.obj", "theta/mesh0.obj", "theta/mesh1.obj"}},
    };
    const std::string map = writeMap(mb::buildMap(scene("theta")), "theta.map");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(default)" : c.args[1]);
        std::filesystem::remove_all(out());
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", out(), map});
        const Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.out, kFullLog);
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(out())) {
            if (entry.is_regular_file())
                files.push_back(std::filesystem::relative(entry.path(), out()).generic_string());
        }
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.files);
    }
    // The up axis turns the whole-level files only.
    std::filesystem::remove_all(out());
    run({"--format", "obj", "-o", out() + "/y", map});
    run({"--format", "obj", "--up-axis", "z", "-o", out() + "/z", map});
    EXPECT_NE(readFile(out() + "/y/theta.obj").find("v 0 1 0\n"), std::string::npos);
    EXPECT_NE(readFile(out() + "/z/theta.obj").find("v 0 0 -1\n"), std::string::npos);
}

TEST_F(ExtractCommand, PathsWithUnusualCharacters) {
    for (const std::string name : {"-dash.map", "with space.map", "\u00FCml\u00E4ut.map"}) {
        SCOPED_TRACE(name);
        const std::string map = writeMap(mb::buildMap(scene("delta")), name);
        std::filesystem::current_path(scratch_.path());
        const Outcome outcome = run({"-q", "-o", out(), "--", name});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
    }
}

// Each --format takes one list: the maps after it are maps, and a "--" after
// it ends the options, so a map named with a leading dash is still a map.
TEST_F(ExtractCommand, FormatTakesOneListAndLeavesTheMaps) {
    const std::string one = writeMap(mb::buildMap(scene("one")), "one.map");
    writeMap(mb::buildMap(scene("two")), "-two.map");
    std::filesystem::current_path(scratch_.path());
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {{"--format", "glb", one, one}, {"one.glb"}},
        {{"--format", "glb", "--", "-two.map"}, {"two.glb"}},
        {{"--format", "obj", "--format", "glb", "--", one, "-two.map"}, {"one.glb", "one.obj", "two.glb", "two.obj"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::filesystem::remove_all(out());
        std::vector<std::string> args = {"-q", "-o", out()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        std::vector<std::string> files;
        std::error_code none;
        for (const auto& entry : std::filesystem::directory_iterator(out(), none)) {
            files.push_back(entry.path().filename().string());
        }
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.files);
    }
}

TEST_F(ExtractCommand, IncompleteOutputExitsWithOne) {
    // A file where the map's folder would go: the folder cannot be made.
    const std::string map = writeMap(mb::buildMap(scene("epsilon")), "epsilon.map");
    std::filesystem::create_directories(out());
    std::ofstream(out() + "/epsilon") << "in the way";
    // What the system says of a folder made where a file is.
    const std::error_code exists = makeDiskFiles()->createFolder(out() + "/epsilon");
    const Outcome outcome = run({"-o", out(), map});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("Creating BSP...\nCould not create folder " + shownPath(out() + "/epsilon") + ": " +
                               exists.message() + "\nMaking Mesh #0\nMaking Mesh #1\n"),
              std::string::npos)
        << outcome.out;
    EXPECT_EQ(readFile(out() + "/epsilon"), "in the way");

    // A mesh table cut short.
    mb::BuiltMap cut = mb::buildMap(scene("zeta"));
    mb::corruptionCase(mb::Corruption::MeshTableCutShort).apply(cut);
    EXPECT_EQ(run({"-q", "-o", out(), writeMap(cut, "zeta.map")}).status, 1);
}

TEST_F(ExtractCommand, QuietSendsLinesOfMissingOutputToStandardError) {
    // Mesh 0 has a face naming a vertex it lacks; mesh 1's data runs past the end.
    mb::Scene faces = scene("faces");
    faces.meshes[0].triangles.push_back({0, 1, 7});
    mb::BuiltMap skipped = mb::buildMap(faces);
    mb::corruptionCase(mb::Corruption::RawRangePastEnd).apply(skipped);
    mb::BuiltMap cut = mb::buildMap(scene("cut"));
    mb::corruptionCase(mb::Corruption::MeshTableCutShort).apply(cut);
    const std::string faces_map = writeMap(skipped, "faces.map");
    const std::string cut_map = writeMap(cut, "cut.map");
    const std::string plain_map = writeMap(mb::buildMap(scene("plain")), "plain.map");
    const std::string faces_line =
        "Mesh #0: 1 faces name vertices the mesh does not have; left out of the whole-level files";
    const std::string skipped_line = "Mesh #1 skipped: Its data lies outside the map file";
    const std::string cut_line = "Mesh table runs past the end of the map file; 1 of 2 meshes read";
    // What the system says to a folder made in /proc, as the output seam hands it on.
    const std::error_code refused = makeDiskFiles()->createFolder("/proc/plain");
    ASSERT_TRUE(refused);
    const std::string proc_line = "Could not create folder " + shownPath("/proc/plain") + ": " + refused.message();

    struct Case {
        const char* name;
        std::vector<std::string> args;  // before the maps
        std::vector<std::string> maps;
        std::string quiet_err;  // with -q; stdout stays empty
        std::string log;        // without -q, on stdout; stderr stays empty
    };
    const Case cases[] = {
        {"a face left out, a mesh skipped, a table cut short",
         {"--format", "meshes,obj", "-o", out()},
         {faces_map, plain_map, cut_map},
         "v2bsp-extract: " + faces_map + ": " + faces_line + "\n" + "v2bsp-extract: " + faces_map + ": " +
             skipped_line + "\n" + "v2bsp-extract: " + cut_map + ": " + cut_line + "\n",
         logText(2, {{"Making Mesh #0", {faces_line}}, {"Making Mesh #1", {skipped_line}}}) + logText(2) +
             logText(1, {{"Creating BSP...", {cut_line}}})},
        {"an unwritable folder",
         {"-o", "/proc"},
         {plain_map},
         "v2bsp-extract: " + plain_map + ": " + proc_line + "\n",
         logText(2, {{"Creating BSP...", {proc_line}}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool quiet : {true, false}) {
            SCOPED_TRACE(quiet ? "-q" : "with the log");
            std::filesystem::remove_all(out());
            std::vector<std::string> args = c.args;
            if (quiet) args.insert(args.begin(), "-q");
            args.insert(args.end(), c.maps.begin(), c.maps.end());
            const Outcome outcome = run(args);
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.out, quiet ? "" : c.log);
            EXPECT_EQ(outcome.err, quiet ? c.quiet_err : "");
        }
    }
}

// Within one run, two maps never share a folder name (ignoring case), no file
// replaces the map being extracted, and mesh files of an earlier run are named.
TEST_F(ExtractCommand, MapsNeverMixOrReplaceTheirInput) {
    const auto sized = [](const std::string& name, int meshes) {
        mb::Scene s = scene(name);
        s.meshes.resize(static_cast<std::size_t>(meshes), s.meshes[0]);
        return mb::buildMap(s);
    };
    const std::string same10 = writeMap(sized("same", 10), "same10.map");
    const std::string same3 = writeMap(sized("same", 3), "same3.map");
    const std::string slash = writeMap(sized("a/b", 2), "slash.map");
    const std::string colon = writeMap(sized("a:b", 2), "colon.map");
    const std::string upper = writeMap(sized("Level", 2), "upper.map");
    const std::string lower = writeMap(sized("level", 3), "lower.map");
    const std::string unnamed = writeMap(sized("", 2), "same.map");
    const std::string five = writeMap(sized("fewer", 5), "five.map");
    const std::string four = writeMap(sized("fewer", 4), "four.map");
    const std::string three = writeMap(sized("fewer", 3), "three.map");
    const std::string one = writeMap(sized("fewer", 1), "one.map");
    const std::string eleven = writeMap(sized("fewer", 11), "eleven.map");
    const std::string nine = writeMap(sized("fewer", 9), "nine.map");
    const std::string glb = writeMap(sized("x", 2), "out/x.glb");
    const std::string own = writeMap(sized("y", 2), "out/y/mesh0.obj");
    const std::string lodz = writeMap(sized("", 2), "a/\u0141\u00F3d\u017A.map");
    const std::string lodzLower = writeMap(sized("", 3), "b/\u0142\u00F3d\u017A.map");
    const std::string sigma = writeMap(sized("", 2), "a/\u03A3.map");
    const std::string sigmaLower = writeMap(sized("", 3), "b/\u03C3.map");
    const std::string linked = writeMap(sized("link", 3), "linked.map");
    const std::string all = "meshes,obj,glb";
    const std::string held = " from this run";

    struct Case {
        const char* name;
        std::vector<std::string> earlier;  // maps of a run before, with the mesh files only
        std::string formats;
        std::vector<std::string> maps;
        int status;
        std::string err;    // with -q
        std::string alone;  // the map whose files must be those of a run of its own, or none
        bool link = false;  // out/link is a symbolic link to out/same (POSIX only)
    };
    const std::string o = out();
    const Case cases[] = {
        {"one stored name",
         {},
         all,
         {same10, same3},
         1,
         "v2bsp-extract: " + same3 + ": Could not create folder " + shownPath(o + "/same") +
             ": It holds the output of " + same10 + held + "\n",
         same10},
        {"the whole-level files alone",
         {},
         "obj,glb",
         {same10, same3},
         1,
         "v2bsp-extract: " + same3 + ": Could not write " + shownPath(o + "/same.obj") + ": It holds the output of " +
             same10 + held + "\nv2bsp-extract: " + same3 + ": Could not write " + shownPath(o + "/same.glb") +
             ": It holds the output of " + same10 + held + "\n",
         same10},
        {"names made equal",
         {},
         all,
         {slash, colon},
         1,
         "v2bsp-extract: " + colon + ": Could not create folder " + shownPath(o + "/a_b") +
             ": It holds the output of " + slash + held + "\n",
         slash},
        {"names equal but for case",
         {},
         all,
         {upper, lower},
         1,
         "v2bsp-extract: " + lower + ": Could not create folder " + shownPath(o + "/level") +
             ": It holds the output of " + upper + held + "\n",
         upper},
        {"names equal by Windows' rule of case, beyond Latin-1",
         {},
         all,
         {lodz, lodzLower},
         1,
         "v2bsp-extract: " + lodzLower + ": Could not create folder " +
             shownPath(pathFromUtf8(o + "/\u0142\u00F3d\u017A")) + ": It holds the output of " + lodz + held + "\n",
         lodz},
        {"whole-level files by names equal but for a Greek case",
         {},
         "obj,glb",
         {sigma, sigmaLower},
         1,
         "v2bsp-extract: " + sigmaLower + ": Could not write " + shownPath(pathFromUtf8(o + "/\u03C3.obj")) +
             ": It holds the output of " + sigma + held + "\nv2bsp-extract: " + sigmaLower + ": Could not write " +
             shownPath(pathFromUtf8(o + "/\u03C3.glb")) + ": It holds the output of " + sigma + held + "\n",
         sigma},
#ifndef _WIN32
        {"a link to an earlier map's folder",
         {},
         all,
         {same10, linked},
         1,
         "v2bsp-extract: " + linked + ": Could not create folder " + shownPath(o + "/link") +
             ": It holds the output of " + same10 + held + "\n",
         same10,
         true},
#endif
        {"a name taken from the file",
         {},
         "meshes",
         {same10, unnamed},
         1,
         "v2bsp-extract: " + unnamed + ": Could not create folder " + shownPath(o + "/same") +
             ": It holds the output of " + same10 + held + "\n",
         same10},
        {"the map as its own glb",
         {},
         "glb",
         {glb},
         1,
         "v2bsp-extract: " + glb + ": Could not write " + shownPath(o + "/x.glb") + ": It is the map being extracted\n",
         ""},
        {"the map as its own mesh file",
         {},
         "meshes",
         {own},
         1,
         "v2bsp-extract: " + own + ": Could not write " + shownPath(o + "/y/mesh0.obj") +
             ": It is the map being extracted\n",
         ""},
        {"one earlier file",
         {four},
         "meshes",
         {three},
         0,
         "v2bsp-extract: " + three + ": Mesh files of an earlier extraction are still in " + shownPath(o + "/fewer") +
             ": mesh3.obj (1 file)\n",
         ""},
        {"two earlier files",
         {five},
         "meshes",
         {three},
         0,
         "v2bsp-extract: " + three + ": Mesh files of an earlier extraction are still in " + shownPath(o + "/fewer") +
             ": mesh3.obj, mesh4.obj (2 files)\n",
         ""},
        {"many earlier files",
         {five},
         "meshes",
         {one},
         0,
         "v2bsp-extract: " + one + ": Mesh files of an earlier extraction are still in " + shownPath(o + "/fewer") +
             ": mesh1.obj ... mesh4.obj (4 files)\n",
         ""},
        {"earlier files in the order of their numbers",
         {eleven},
         "meshes",
         {nine},
         0,
         "v2bsp-extract: " + nine + ": Mesh files of an earlier extraction are still in " + shownPath(o + "/fewer") +
             ": mesh9.obj, mesh10.obj (2 files)\n",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* folder : {"same", "a_b", "level", "Level", "fewer", "same.obj", "same.glb", "link", "link.obj",
                                   "link.glb", "\u0141\u00F3d\u017A", "\u0141\u00F3d\u017A.obj",
                                   "\u0141\u00F3d\u017A.glb", "\u03A3.obj", "\u03A3.glb"}) {
            std::filesystem::remove_all(scratch_.path() / "out" / pathFromUtf8(folder));
        }
        if (c.link) std::filesystem::create_directory_symlink("same", scratch_.path() / "out" / "link");
        if (!c.earlier.empty()) {
            std::vector<std::string> earlier = {"-q", "-o", o};
            earlier.insert(earlier.end(), c.earlier.begin(), c.earlier.end());
            ASSERT_EQ(run(earlier).status, 0);
        }
        std::vector<std::string> args = {"-q", "--format", c.formats, "-o", o};
        args.insert(args.end(), c.maps.begin(), c.maps.end());
        const std::string before = readFile(c.maps.front());
        const Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(readFile(c.maps.front()), before);
        if (!c.alone.empty()) {
            // The earlier map's files are whole, as if it had been extracted alone.
            const std::string apart = (scratch_.path() / "apart").string();
            std::filesystem::remove_all(apart);
            ASSERT_EQ(run({"-q", "--format", c.formats, "-o", apart, c.alone}).status, 0);
            for (const auto& entry : std::filesystem::recursive_directory_iterator(apart)) {
                if (!entry.is_regular_file()) continue;
                const auto relative = std::filesystem::relative(entry.path(), apart);
                EXPECT_EQ(readFile(entry.path()), readFile(std::filesystem::path(o) / relative)) << relative;
            }
        }
    }
}

TEST_F(ExtractCommand, OutputFolderIsMadeOnlyWhenAMapWrites) {
    std::ofstream(scratch_.path() / "text.map") << "hello, world\n";
    mb::BuiltMap no_bsp = mb::buildMap(scene("kappa"));
    mb::corruptionCase(mb::Corruption::BspBlockOutside).apply(no_bsp);
    const std::string text = (scratch_.path() / "text.map").string();
    const std::string bad = writeMap(no_bsp, "nobsp.map");
    const std::string good = writeMap(mb::buildMap(scene("kappa")), "kappa.map");
    struct Case {
        const char* name;
        std::vector<std::string> args;  // before "-o DIR MAP"
        std::string map;
        int status;
        std::vector<std::string> files;  // every entry under DIR; empty: DIR is not made
    };
    const Case cases[] = {
        {"a text file", {}, text, 1, {}},
        {"a map without its BSP", {"--format", "meshes,obj,glb"}, bad, 1, {}},
        {"the tag list, which takes no -o", {"--list-tags"}, good, 2, {}},
        {"the whole-level OBJ only", {"--format", "obj"}, good, 0, {"kappa.obj"}},
        {"the mesh files", {}, good, 0, {"kappa", "kappa/mesh0.obj", "kappa/mesh1.obj"}},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path dir = std::filesystem::path(out()) / std::to_string(round++) / "new";
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", dir.string(), c.map});
        EXPECT_EQ(run(args).status, c.status);
        EXPECT_EQ(std::filesystem::exists(dir), !c.files.empty());
        std::vector<std::string> files;
        if (std::filesystem::exists(dir)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
                files.push_back(std::filesystem::relative(entry.path(), dir).generic_string());
            }
        }
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.files);
    }
}

TEST_F(ExtractCommand, ListTagsOfAFileThatIsNotAMap) {
    std::ofstream(scratch_.path() / "text.map", std::ios::binary) << "hello, world\n";
    const std::string text = (scratch_.path() / "text.map").string();
    const std::string missing = (scratch_.path() / "missing.map").string();
    struct Case {
        std::string map;
        std::string reason;
    };
    const Case cases[] = {
        {text, "Map name at offset 408 (33 bytes) lies outside the file (length 13)."},
        {missing, missingReason(missing)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.map);
        const Outcome outcome = run({"--list-tags", c.map});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err,
                  "v2bsp-extract: " + c.map + ": This is not a valid Vorun 2 map file: " + c.reason + "\n");
    }
}

TEST_F(ExtractCommand, UsageMessages) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{}, "MAP is required"},
        {{"--bogus", "x.map"}, "unknown option --bogus"},
        {{"-x", "x.map"}, "unknown option -x"},
        {{"-x"}, "unknown option -x"},
        {{"-qx", "x.map"}, "unknown option -x"},
        {{"--bogus=1", "-o", "out", "x.map"}, "unknown option --bogus"},
        {{"-o", "-x", "-j", "-1", "x.map"}, "--jobs: Value -1 not in range 1 to 256"},
        {{"-o"}, "--output: 1 required DIR missing"},
        {{"--list-tags", "a.map", "b.map"}, "--list-tags: takes exactly one MAP"},
        {{"--format", "gltf", "a.map"}, "--format: gltf not in {meshes,obj,glb}"},
        {{"--format", "", "a.map"}, "--format: \"\" holds an empty name; a LIST takes names from {meshes,obj,glb}"},
        {{"--format", ",", "a.map"}, "--format: \",\" holds an empty name; a LIST takes names from {meshes,obj,glb}"},
        {{"--format", "obj,,glb", "a.map"},
         "--format: \"obj,,glb\" holds an empty name; a LIST takes names from {meshes,obj,glb}"},
        {{"--format", "obj,stl", "a.map"}, "--format: stl not in {meshes,obj,glb}"},
        {{"--up-axis", "x", "a.map"}, "--up-axis: x not in {y,z}"},
        {{"-j", "0", "a.map"}, "--jobs: Value 0 not in range 1 to 256"},
        {{"-j", "257", "a.map"}, "--jobs: Value 257 not in range 1 to 256"},
        {{"-o", "", "a.map"}, "--output: the folder name is empty"},
        {{"--output=", "a.map"}, "--output: the folder name is empty"},
        {{"--format=", "a.map"}, "--format: \"\" holds an empty name; a LIST takes names from {meshes,obj,glb}"},
        {{"--list-tags", "-o", "x", "a.map"}, "--list-tags takes only a MAP; --output cannot be given with it"},
        {{"--list-tags", "--format", "obj", "a.map"}, "--list-tags takes only a MAP; --format cannot be given with it"},
        {{"--list-tags", "--up-axis", "z", "a.map"}, "--list-tags takes only a MAP; --up-axis cannot be given with it"},
        {{"-j", "2", "--list-tags", "a.map"}, "--list-tags takes only a MAP; --jobs cannot be given with it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "v2bsp-extract: " + c.message + "\nTry 'v2bsp-extract --help' for more information.\n");
    }
}

}  // namespace
}  // namespace v2bsp
