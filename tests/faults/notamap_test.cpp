// Input that is not a map: each run ends with the not-a-map message and the
// precise reason, creates nothing whatever the formats, and never blocks. The command runs in a
// child process, so that a run that blocks fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "childprocess.hpp"
#include "cli/cli.hpp"
#include "extract/extractmap.hpp"
#include "formatlists.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace {

namespace fs = std::filesystem;
namespace mb = mapbuilder;

constexpr const char* kText = "hello, world\n";
const std::string kTextReason = "Map name at offset 408 (33 bytes) lies outside the file (length 13).";

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) names.insert(entry.path().string());
    return names;
}

class NotAMap : public ::testing::TestWithParam<FormatList> {};

TEST_P(NotAMap, EachGetsThePreciseReasonAndCreatesNothing) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& file)> make;  // makes the input at `file`
        std::string argument;                            // the MAP argument, relative to the test's folder
        std::string reason;                              // {M} stands for the argument
        std::string log;
        bool after_dashes = true;  // "--" before the argument
    };
    const auto text = [](const fs::path& file) { std::ofstream(file) << kText; };
    const std::string loading = "Loading Map...\n";
    const std::string two_lines = loading + "Finding map information...\n";
    const Case cases[] = {
        {"a folder", [](const fs::path& file) { fs::create_directory(file); }, "folder.map",
         "The path {M} names a folder, not a map file.", loading},
        {"a FIFO", [](const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, "fifo.map",
         "The path {M} does not name a regular file.", loading},
        {"/dev/zero", [](const fs::path&) {}, "/dev/zero", "The path {M} does not name a regular file.", loading},
        {"an empty file", [](const fs::path& file) { std::ofstream{file}; }, "empty.map", "The file is empty.",
         loading},
        {"a text file", text, "text.map", kTextReason, two_lines},
        {"no file", [](const fs::path&) {}, "missing.map", "Cannot open {M}: No such file or directory.", loading},
        {"a name with spaces", text, "with  some spaces .map", kTextReason, two_lines},
        {"a UTF-8 name", text, "\u00FCml\u00E4ut \u2713 \u5730\u56FE.map", kTextReason, two_lines},
        {"a leading dash", text, "-dash.map", kTextReason, two_lines},
        {"a leading dash behind ./", text, "./-dash2.map", kTextReason, two_lines, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch;
        const fs::path out = scratch.path() / "out";
        fs::create_directory(out);
        if (c.argument.front() != '/') c.make(scratch.path() / c.argument);
        const std::set<std::string> before = namesIn(scratch.path());

        const ChildOutcome run = runForked(
            [&](std::ostream& stdout_text, std::ostream& stderr_text) {
                if (::chdir(scratch.path().c_str()) != 0) return 99;
                // --format first: a "--" right after it would end its list, not the
                // options (see the disabled command-line test).
                std::vector<const char*> argv = {"v2bsp-extract", "--format", GetParam().list, "-o", out.c_str()};
                if (c.after_dashes) argv.push_back("--");
                argv.push_back(c.argument.c_str());
                return runCli(static_cast<int>(argv.size()), argv.data(), stdout_text, stderr_text);
            },
            kHangLimit);
        ASSERT_TRUE(run.finished) << "the run blocked";
        EXPECT_EQ(run.status, kExitIncomplete);
        std::string reason = c.reason;
        if (const auto at = reason.find("{M}"); at != std::string::npos) reason.replace(at, 3, c.argument);
        EXPECT_EQ(run.err, "v2bsp-extract: " + c.argument + ": This is not a valid Vorun 2 map file: " + reason + "\n");
        EXPECT_EQ(run.out, c.log);
        EXPECT_EQ(namesIn(scratch.path()), before);
    }
}

// A host that cuts the map file down the moment the run announces the load:
// the file was chosen whole and is loaded short.
class CuttingHost final : public ExtractHost {
public:
    CuttingHost(fs::path file, std::uintmax_t length) : file_(std::move(file)), length_(length) {}
    void logline(std::string_view line) override {
        if (line == "Loading Map...") fs::resize_file(file_, length_);
        log.emplace_back(line);
    }
    void addTagName(std::string_view) override {}
    void mapFailed(const MapFailure& failure) override { failures.push_back(failure); }
    std::vector<std::string> log;
    std::vector<MapFailure> failures;

private:
    fs::path file_;
    std::uintmax_t length_;
};

TEST_P(NotAMap, FileShrinksBetweenChoiceAndLoad) {
    mb::Scene scene;
    scene.mapname = "shrinking";
    scene.meshes.resize(1);
    const mb::BuiltMap built = mb::buildMap(scene);
    struct Case {
        std::uintmax_t length;
        std::string reason;
    };
    const std::string index = std::to_string(built.layout.indexoffset);
    const Case cases[] = {
        {0, "The file is empty."},
        {100, "Map name at offset 408 (33 bytes) lies outside the file (length 100)."},
        {1000, "Index header at offset " + index + " lies outside the file (length 1000)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        ScratchFolder scratch;
        const fs::path map = writeMap(scratch.path() / "shrinking.map", built.bytes);
        CuttingHost host(map, c.length);
        ExtractSettings settings;
        settings.outputParent = scratch.path();
        settings.formats = GetParam().formats;
        EXPECT_EQ(extractmap(map.string(), host, settings).status, ExtractStatus::failed);
        ASSERT_EQ(host.failures.size(), 1u);
        EXPECT_EQ(host.failures[0].message, kNotAMapMessage);
        EXPECT_EQ(host.failures[0].reason, c.reason);
        EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), {}), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, NotAMap, ::testing::ValuesIn(kFormatLists),
                         [](const ::testing::TestParamInfo<FormatList>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace v2bsp
