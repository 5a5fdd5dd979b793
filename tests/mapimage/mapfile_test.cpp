// The map load on POSIX: the whole file, and each file that is not a map
// refused with the system's reason.
#include "platform/mapfile.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <system_error>
#include <thread>
#include <string>
#include <vector>

namespace v2bsp {
namespace {

using Bytes = std::vector<std::uint8_t>;

class LoadMapFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("v2bsp-load-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::filesystem::path write(const std::string& name, const std::string& content) {
        const auto path = folder_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    static std::string reasonFor(const std::filesystem::path& path) {
        try {
            loadMapFile(path);
        } catch (const MapError& failure) {
            return failure.what();
        }
        return "loaded";
    }

    std::filesystem::path folder_;
};

TEST_F(LoadMapFile, ReadsTheWholeFile) {
    const auto path = write("a.map", std::string("\x01\x00\xFF z", 5));
    const MapBytes loaded = loadMapFile(path);
    EXPECT_EQ(Bytes(loaded.begin(), loaded.end()), (Bytes{0x01, 0x00, 0xFF, ' ', 'z'}));

    // A large map is read in two halves, at once where a helper is to be
    // had; every byte in its place.
    std::string large((std::size_t{20} << 20) + 7, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 2654435761U) >> 13);
    const auto large_path = write("large.map", large);
    const auto refuse = [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    WorkerPool one(1), refused(1, refuse), none(0);
    for (WorkerPool* pool : {&one, &refused, &none, static_cast<WorkerPool*>(nullptr)}) {
        const MapBytes read = loadMapFile(large_path, nullptr, pool);
        ASSERT_EQ(read.size(), large.size());
        EXPECT_TRUE(std::equal(read.begin(), read.end(), large.begin(), [](std::uint8_t a, char b) {
            return a == static_cast<std::uint8_t>(b);
        })) << "a byte of the large map differs";
    }
    EXPECT_EQ(one.threads(), 1u);
    EXPECT_EQ(refused.threads(), 0u);
}

TEST_F(LoadMapFile, RefusesWhatIsNotARegularFile) {
    const auto missing = folder_ / "missing.map";
    EXPECT_EQ(reasonFor(missing), "Cannot open " + missing.string() + ": No such file or directory.");
    EXPECT_FALSE(std::filesystem::exists(missing)) << "the load created the file";
    EXPECT_EQ(reasonFor(""), "No map file was chosen.");
    EXPECT_EQ(reasonFor(write("empty.map", "")), "The file is empty.");
    EXPECT_EQ(reasonFor(folder_), "The path " + folder_.string() + " names a folder, not a map file.");
    EXPECT_EQ(reasonFor("/dev/null"), "The path /dev/null does not name a regular file.");
    const auto fifo = folder_ / "pipe.map";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(reasonFor(fifo), "The path " + fifo.string() + " does not name a regular file.");
}

TEST_F(LoadMapFile, RefusesAFileOverTheSizeLimit) {
    const auto path = write("huge.map", "x");
    std::filesystem::resize_file(path, 2147483648ULL);  // sparse: takes no disk space
    EXPECT_EQ(reasonFor(path), "The file is larger than 2147483647 bytes.");
}

TEST_F(LoadMapFile, ReportsTheOsReasonWhenUnreadable) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    const auto path = write("locked.map", "abcd");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    EXPECT_EQ(reasonFor(path), "Cannot open " + path.string() + ": Permission denied.");
}

}  // namespace
}  // namespace v2bsp
