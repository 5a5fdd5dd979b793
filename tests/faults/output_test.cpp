// Where output goes and what is left of it when things go wrong around it.
#include <gtest/gtest.h>

#include <fstream>

#include "childprocess.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "meshfixtures.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace {

namespace fs = std::filesystem;
namespace mb = mapbuilder;

constexpr std::chrono::seconds kChildLimit{60};

fs::path writeMap(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

mb::Scene diskScene(int meshes) {
    mb::Scene scene;
    scene.mapname = "disk";
    scene.tagnames = {"rocks"};
    for (int m = 0; m < meshes; ++m) scene.meshes.push_back(fixtures::stripMesh(m + 1, static_cast<float>(m)));
    return scene;
}

class OutputFaults : public ::testing::Test {
protected:
    fs::path path(const std::string& name) const { return scratch_.path() / name; }
    ScratchFolder scratch_;
};

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
         "v2bsp-extract: " + missing + ": This is not a valid Vorun 2 map file (cannot open " + missing +
             ": No such file or directory)\n"},
        {"a long log, then a map whose folder is there", {"-o", out, large.string(), small.string()}, ""},
        {"the tag list", {"--list-tags", small.string()}, ""},
        {"the help", {"--help"}, ""},
        {"the version", {"--version"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = {V2BSP_EXTRACT_COMMAND};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ProgramSetup setup;
        setup.stdoutfile = "/dev/full";
        const ChildOutcome run = runProgram(argv, kChildLimit, setup);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.err_before + "v2bsp-extract: write error: No space left on device\n");
    }
}

}  // namespace
}  // namespace v2bsp
