// The worst maps the builder can make, at the largest size the extraction
// promises to handle, each extracted in a fresh process with the mesh files
// alone and with every format: it must end, and its peak memory must stay
// below twice the map's size plus 64 MiB. The limit of CPU time here only
// ends a run that would never end; the tight bound of CPU time is held by the
// fuzz script, which runs the same maps through the plain build.
#include <gtest/gtest.h>

#include <tuple>

#include "childprocess.hpp"
#include "corpus.hpp"
#include "formatlists.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace fuzz {

void PrintTo(const WorstCase& worst, std::ostream* out) {
    *out << worst.name;
}

}  // namespace fuzz
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kWorstSize = 64 * kMiB;
// A run past this much CPU time would not end (the slowest takes about 5 s under the sanitizers).
const ProgramSetup kEndless = [] {
    ProgramSetup setup;
    setup.cpuSeconds = 60;
    return setup;
}();

#if defined(__SANITIZE_ADDRESS__)
// Shadow memory and the quarantine make the resident size meaningless: under
// the sanitizers the worst maps are held to ending cleanly, and the plain
// build holds them to the memory bound too.
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif

// The value after `name` in the helper's line, up to the next blank.
std::string field(const std::string& line, const std::string& name) {
    const std::size_t at = line.find(name);
    if (at == std::string::npos) return {};
    const std::size_t start = at + name.size();
    return line.substr(start, line.find_first_of(" \n", start) - start);
}

class WorstMap : public ::testing::TestWithParam<std::tuple<fuzz::WorstCase, FormatList>> {};

TEST_P(WorstMap, EndsWithinTheMemoryBound) {
    const auto& [worst, formats] = GetParam();
    SCOPED_TRACE(std::string(worst.what));
    ScratchFolder scratch;
    const auto map = scratch.path() / (std::string(worst.name) + ".map");
    {
        const std::vector<std::uint8_t> bytes = worst.make(kWorstSize);
        ASSERT_EQ(bytes.size(), kWorstSize);
        writeMap(map, bytes);
    }

    const ChildOutcome run =
        runProgram({V2BSP_BOUNDEDRUN_COMMAND, "--format", formats.list, map.string()}, kHangLimit, kEndless);
    ASSERT_TRUE(run.finished) << "no end within " << kHangLimit.count() << " min";
    ASSERT_EQ(run.signal, 0) << "ended by a signal (SIGXCPU: more than " << kEndless.cpuSeconds << " s of CPU)";
    ASSERT_EQ(run.status, 0) << run.err;

    // "outcome=<word> ... seconds=<time>"
    const std::string outcome = field(run.out, "outcome=");
    const std::string seconds = field(run.out, "seconds=");
    const std::string levels = field(run.out, "levels=");
    ASSERT_FALSE(outcome.empty() || seconds.empty() || levels.empty()) << run.out;
    if (worst.outcome == fuzz::WorstOutcome::notamap) {
        EXPECT_EQ(outcome, "failed") << run.out;
        EXPECT_FALSE(run.err.empty());
        EXPECT_EQ(levels, "0") << run.out;
    } else {
        EXPECT_TRUE(outcome == "complete" || outcome == "incomplete") << run.out << run.err;
        EXPECT_EQ(levels, formats.formats.levelFiles() ? "2" : "0") << run.out;
    }
    const std::int64_t bound = 2 * static_cast<std::int64_t>(kWorstSize) + 64 * static_cast<std::int64_t>(kMiB);
    if (!kUnderSanitizer) {
        EXPECT_LT(run.peakbytes, bound) << run.out;
    }

    RecordProperty("extraction_seconds", seconds);
    RecordProperty("peak_mib", std::to_string(run.peakbytes / static_cast<std::int64_t>(kMiB)));
    std::cout << worst.name << " (" << formats.list << "): " << run.out << "  peak "
              << run.peakbytes / static_cast<std::int64_t>(kMiB) << " MiB; "
              << "bound " << bound / static_cast<std::int64_t>(kMiB) << " MiB\n";
}

// A level of a quarter of a million tiny meshes: the glb describes each, but
// its memory is bounded by the map, not by the count of meshes.
TEST(BoundedWork, ManyMeshesInTheGlb) {
    if (kUnderSanitizer) GTEST_SKIP() << "the resident size means nothing under the sanitizers";
    ScratchFolder scratch;
    const auto map = writeMap(scratch.path() / "many.map",
                              mapbuilder::buildMap(mapbuilder::largeScene(262000, 786000, 262000)).bytes);
    const ChildOutcome run =
        runProgram({V2BSP_BOUNDEDRUN_COMMAND, "--format", "glb", map.string()}, kHangLimit, kEndless);
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(field(run.out, "outcome="), "complete") << run.out;
    EXPECT_EQ(field(run.out, "levels="), "1") << run.out;
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(map));
    EXPECT_LT(run.peakbytes, 2 * size + 64 * static_cast<std::int64_t>(kMiB)) << run.out;
    std::cout << "many meshes (glb): " << run.out << "  peak " << run.peakbytes / static_cast<std::int64_t>(kMiB)
              << " MiB; map " << size / static_cast<std::int64_t>(kMiB) << " MiB\n";
}

INSTANTIATE_TEST_SUITE_P(BoundedWork, WorstMap,
                         ::testing::Combine(::testing::ValuesIn(fuzz::worstcases().begin(), fuzz::worstcases().end()),
                                            ::testing::ValuesIn(kFormatLists)),
                         [](const ::testing::TestParamInfo<std::tuple<fuzz::WorstCase, FormatList>>& info) {
                             std::string name(std::get<0>(info.param).name);
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace v2bsp
