// Every input the fuzzers ever flagged, kept under fuzz/findings/<target>/
// with a name that says what it broke, replayed through the same entry points
// the fuzzers run; and the seed corpus, so that every map the builder can
// damage passes the extraction's rules in every build, not only under the fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "corpus.hpp"
#include "fuzzentries.hpp"

namespace v2bsp {
namespace {

namespace fs = std::filesystem;

using Entry = std::string (*)(const std::uint8_t*, std::size_t);

// The saved inputs of one target; none when it never flagged one.
std::vector<fuzz::Seed> findings(const std::string& target) {
    std::vector<fuzz::Seed> saved;
    std::error_code absent;
    for (const auto& entry : fs::directory_iterator(fs::path(V2BSP_FUZZ_FINDINGS) / target, absent)) {
        std::ifstream file(entry.path(), std::ios::binary);
        saved.push_back(
            {entry.path().filename().string(), std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {})});
    }
    return saved;
}

void replay(const std::vector<fuzz::Seed>& inputs, Entry entry) {
    for (const fuzz::Seed& input : inputs) {
        SCOPED_TRACE(input.name);
        EXPECT_EQ(entry(input.bytes.data(), input.bytes.size()), "");
    }
}

TEST(FuzzFindings, FindingsStayFixed) {
    const std::vector<fuzz::Seed> extraction = findings("extract");
    const std::vector<fuzz::Seed> readers = findings("readers");
    const std::vector<fuzz::Seed> names = findings("names");
    EXPECT_GT(extraction.size() + readers.size() + names.size(), 0u) << "the findings folder was not found";
    replay(extraction, fuzz::extractBytes);
    replay(readers, fuzz::checkreaders);
    replay(names, fuzz::checknames);
}

TEST(FuzzFindings, SeedsKeepTheRules) {
    replay(fuzz::extractseeds(), fuzz::extractBytes);
    replay(fuzz::readerseeds(), fuzz::checkreaders);
    replay(fuzz::nameseeds(), fuzz::checknames);
}

}  // namespace
}  // namespace v2bsp
