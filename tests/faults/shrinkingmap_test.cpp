// A map file that shrinks after its length was taken and before it was read:
// the race that loadMapFile guards against, made certain by a wrapper around
// fstat that cuts the file right after answering. The wrapper stands in for
// the C library's fstat in this whole test program, and acts only when armed.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "runcommand.hpp"
#include "scratchfolder.hpp"

namespace {

struct Shrink {
    bool armed = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;
    off_t length = 0;
    int cuts = 0;
} shrink;

using FstatFunction = int (*)(int, struct stat*);

void cutWhenArmed(const struct stat* info) {
    if (shrink.armed && info->st_dev == shrink.device && info->st_ino == shrink.inode) {
        shrink.armed = false;
        if (::truncate(shrink.path.c_str(), shrink.length) == 0) ++shrink.cuts;
    }
}

}  // namespace

extern "C" int fstat(int fd, struct stat* info) noexcept {
    static const auto next = reinterpret_cast<FstatFunction>(::dlsym(RTLD_NEXT, "fstat"));
    const int result = next(fd, info);
    if (result == 0) cutWhenArmed(info);
    return result;
}

extern "C" int fstat64(int fd, struct stat64* info) noexcept {
    static const auto next = reinterpret_cast<int (*)(int, struct stat64*)>(::dlsym(RTLD_NEXT, "fstat64"));
    const int result = next(fd, info);
    if (result == 0) {
        struct stat same {};
        same.st_dev = info->st_dev;
        same.st_ino = info->st_ino;
        cutWhenArmed(&same);
    }
    return result;
}

namespace v2bsp {
namespace {

namespace fs = std::filesystem;
namespace mb = mapbuilder;

TEST(ShrinkingMap, ShrinksBetweenLengthAndRead) {
    ScratchFolder scratch;
    mb::Scene scene;
    scene.mapname = "shrinking";
    scene.meshes.resize(2);
    const std::vector<std::uint8_t> bytes = mb::buildMap(scene).bytes;
    const fs::path map = scratch.path() / "shrinking map.map";
    const fs::path out = scratch.path() / "out";
    fs::create_directory(out);

    for (const off_t length : {off_t{0}, off_t{1000}, static_cast<off_t>(bytes.size() - 1)}) {
        SCOPED_TRACE(length);
        writeMap(map, bytes);
        struct stat info {};
        ASSERT_EQ(::stat(map.c_str(), &info), 0);
        shrink = Shrink{true, info.st_dev, info.st_ino, map.string(), length, 0};

        const std::string file = map.string();
        const fixtures::Outcome outcome = fixtures::runcommand({"-o", out.string(), file});
        ASSERT_EQ(shrink.cuts, 1) << "fstat was not reached through the wrapper";
        EXPECT_EQ(outcome.status, kExitIncomplete);
        EXPECT_EQ(outcome.out, "Loading Map...\n");
        EXPECT_EQ(outcome.err, "v2bsp-extract: " + file + ": This is not a valid Vorun 2 map file: The file " + file +
                                   " became shorter while it was read.\n");
        EXPECT_TRUE(fs::is_empty(out));
    }
}

}  // namespace
}  // namespace v2bsp
