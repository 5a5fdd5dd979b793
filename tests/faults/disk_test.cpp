// Output that cannot be written, on real file systems where the test may make
// them: a full disk and a read-only folder (a tmpfs the test mounts when it
// runs as root), and things already in the way of the map's folder or files.
// In each case the log names the path and the system's reason, the command
// exits with 1, no temporary file is left and no earlier file is damaged.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <charconv>
#include <functional>
#include <sstream>

#include "cli/cli.hpp"
#include "extract/extractmap.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "meshfixtures.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace {

namespace fs = std::filesystem;
namespace mb = mapbuilder;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome extractCommand(const fs::path& outputparent, const fs::path& map) {
    const std::string parent = outputparent.string();
    const std::string file = map.string();
    const char* argv[] = {"v2bsp-extract", "-o", parent.c_str(), file.c_str()};
    std::ostringstream out, err;
    const int status = runcli(4, argv, out, err);
    return {status, out.str(), err.str()};
}

mb::Scene diskScene(std::vector<mb::Mesh> meshes) {
    mb::Scene scene;
    scene.mapname = "disk";
    scene.tagnames = {"rocks"};
    scene.meshes = std::move(meshes);
    return scene;
}

fs::path writeMap(const fs::path& path, const mb::Scene& scene) {
    const std::vector<std::uint8_t> bytes = mb::buildMap(scene).bytes;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Names in `folder` that look like a temporary mesh file.
std::vector<std::string> temporaries(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".tmp") != std::string::npos) found.push_back(name);
    }
    return found;
}

bool hasLine(const std::string& log, const std::string& line) {
    return ("\n" + log).find("\n" + line + "\n") != std::string::npos;
}

// A tmpfs of the test's own, when it runs as root and may mount; unmounted at the end.
class TinyMount {
public:
    TinyMount(fs::path where, const std::string& options) : where_(std::move(where)) {
        fs::create_directories(where_);
        mounted_ = ::geteuid() == 0 &&
                   ::mount("v2bsp-test", where_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~TinyMount() {
        if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    TinyMount(const TinyMount&) = delete;
    TinyMount& operator=(const TinyMount&) = delete;

    bool mounted() const { return mounted_; }
    bool makeReadOnly() {
        return ::mount(nullptr, where_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    fs::path where_;
    bool mounted_ = false;
};

class DiskFaults : public ::testing::Test {
protected:
    fs::path path(const std::string& name) const { return scratch_.path() / name; }
    ScratchFolder scratch_;
};

TEST_F(DiskFaults, FullDiskKeepsTheEarlierFile) {
    TinyMount disk(path("full"), "size=256k");
    if (!disk.mounted()) GTEST_SKIP() << "needs root and a tmpfs mount";
    const fs::path out = path("full");
    const fs::path folder = out / "disk";

    const mb::Scene earlier = diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(2, 1)});
    ASSERT_EQ(extractCommand(out, writeMap(path("earlier.map"), earlier)).status, 0);
    const std::string earlier_mesh0 = readFile(folder / "mesh0.obj");
    ASSERT_EQ(earlier_mesh0, fixtures::expectedObjText(earlier.meshes[0]));

    // Mesh 0 now needs more text than the disk holds; meshes 1 and 2 are small.
    const mb::Scene later = diskScene({fixtures::stripMesh(8000, 123.25f), fixtures::stripMesh(3, 2), fixtures::stripMesh(1, 3)});
    const Outcome outcome = extractCommand(out, writeMap(path("later.map"), later));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(hasLine(outcome.out, "Making Mesh #0\nCould not write " + folder.string() +
                                         "/mesh0.obj: No space left on device\nMaking Mesh #1"))
        << outcome.out;
    EXPECT_EQ(readFile(folder / "mesh0.obj"), earlier_mesh0);
    EXPECT_EQ(readFile(folder / "mesh1.obj"), fixtures::expectedObjText(later.meshes[1]));
    EXPECT_EQ(readFile(folder / "mesh2.obj"), fixtures::expectedObjText(later.meshes[2]));
    EXPECT_EQ(temporaries(folder), std::vector<std::string>{});
}

TEST_F(DiskFaults, NoInodeLeft) {
    struct Case {
        const char* mount;  // nr_inodes counts the mount's root folder
        const char* options;
        std::vector<std::string> lines;  // {F} stands for the map's folder
    };
    const Case cases[] = {
        {"noinodes",
         "size=1m,nr_inodes=1",
         {"Creating BSP...", "Could not create folder {F}: No space left on device",
          "Making Mesh #0", "Making Mesh #1", "Locating Collections..."}},
        {"oneinode",
         "size=1m,nr_inodes=2",
         {"Making Mesh #0", "Could not write {F}/mesh0.obj: No space left on device",
          "Making Mesh #1", "Could not write {F}/mesh1.obj: No space left on device",
          "Locating Collections..."}},
    };
    const fs::path map = writeMap(path("map.map"), diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(1, 1)}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        TinyMount disk(path(c.mount), c.options);
        if (!disk.mounted()) GTEST_SKIP() << "needs root and a tmpfs mount";
        const fs::path folder = path(c.mount) / "disk";
        const Outcome outcome = extractCommand(path(c.mount), map);
        EXPECT_EQ(outcome.status, 1);
        std::string expected;
        for (std::string line : c.lines) {
            const auto at = line.find("{F}");
            if (at != std::string::npos) line.replace(at, 3, folder.string());
            expected += (expected.empty() ? "" : "\n") + line;
        }
        EXPECT_TRUE(hasLine(outcome.out, expected)) << outcome.out;
        EXPECT_EQ(temporaries(folder), std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(folder / "mesh0.obj"));
    }
}

// How the output parent is made read-only: a read-only mount where the test
// may mount, permissions where it does not run as root. As root without a
// mount, permissions do not bind, so the output seam refuses instead.
class ReadOnlyFiles final : public OutputFiles {
public:
    explicit ReadOnlyFiles(fs::path root) : root_(std::move(root)) {}
    std::error_code createfolder(const fs::path& folder) override {
        if (fs::is_directory(folder)) return {};
        return refuse(folder) ? std::make_error_code(std::errc::read_only_file_system)
                              : diskfiles().createfolder(folder);
    }
    std::error_code replacefile(const fs::path& file, TextSource& text) override {
        return refuse(file) ? std::make_error_code(std::errc::read_only_file_system)
                            : diskfiles().replacefile(file, text);
    }
    bool readonly = false;

private:
    bool refuse(const fs::path& path) const {
        return readonly && path.string().rfind(root_.string() + "/", 0) == 0;
    }
    fs::path root_;
};

class CollectingHost final : public ExtractHost {
public:
    void logline(std::string_view line) override { log += std::string(line) + "\n"; }
    void addtagname(std::string_view) override {}
    void mapfailed(const MapFailure& failure) override { log += failure.reason + "\n"; }
    std::string log;
};

TEST_F(DiskFaults, ReadOnlyParentKeepsEarlierFiles) {
    const fs::path out = path("readonly");
    TinyMount disk(out, "size=1m");
    ReadOnlyFiles seam(out);
    std::string reason = "Read-only file system";
    std::function<Outcome(const fs::path&)> extract = [&](const fs::path& map) {
        return extractCommand(out, map);
    };
    if (!disk.mounted() && ::geteuid() == 0) {
        extract = [&](const fs::path& map) {
            CollectingHost host;
            ExtractSettings settings;
            settings.outputparent = out;
            settings.files = &seam;
            const bool complete =
                extractmap(map.string(), host, settings).status == ExtractStatus::complete;
            return Outcome{complete ? kExitComplete : kExitIncomplete, host.log, ""};
        };
    }

    const mb::Scene earlier = diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(2, 1)});
    ASSERT_EQ(extract(writeMap(path("earlier.map"), earlier)).status, 0);
    if (disk.mounted()) {
        ASSERT_TRUE(disk.makeReadOnly());
    } else if (::geteuid() == 0) {
        seam.readonly = true;
    } else {
        fs::permissions(out,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        fs::permissions(out / "disk",
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        reason = "Permission denied";
    }

    // The map's folder is there: each mesh file fails, the earlier ones stay.
    const Outcome again =
        extract(writeMap(path("later.map"), diskScene({fixtures::stripMesh(3, 5), fixtures::stripMesh(1, 6)})));
    EXPECT_EQ(again.status, 1);
    const std::string folder = (out / "disk").string();
    EXPECT_TRUE(hasLine(
        again.out, "Making Mesh #0\nCould not write " + folder + "/mesh0.obj: " + reason +
                       "\nMaking Mesh #1\nCould not write " + folder + "/mesh1.obj: " + reason))
        << again.out;
    EXPECT_EQ(readFile(out / "disk" / "mesh0.obj"), fixtures::expectedObjText(earlier.meshes[0]));
    EXPECT_EQ(readFile(out / "disk" / "mesh1.obj"), fixtures::expectedObjText(earlier.meshes[1]));
    EXPECT_EQ(temporaries(out / "disk"), std::vector<std::string>{});

    // A new map's folder cannot be made: one line, then no file is tried.
    mb::Scene other = diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(1, 1)});
    other.mapname = "other";
    const Outcome fresh = extract(writeMap(path("other.map"), other));
    EXPECT_EQ(fresh.status, 1);
    EXPECT_TRUE(hasLine(fresh.out, "Creating BSP...\nCould not create folder " +
                                       (out / "other").string() + ": " + reason +
                                       "\nMaking Mesh #0\nMaking Mesh #1\nLocating Collections..."))
        << fresh.out;
    EXPECT_FALSE(fs::exists(out / "other"));
}

TEST_F(DiskFaults, SomethingInTheWay) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& folder, const fs::path& elsewhere)> place;
        int status;
        std::string line;  // {F} stands for the map's folder; empty: no "Could not" line
        std::function<void(const fs::path& folder, const fs::path& elsewhere)> kept;
    };
    const Case cases[] = {
        {"a file where the map's folder goes",
         [](const fs::path& folder, const fs::path&) { std::ofstream(folder) << "in the way"; }, 1,
         "Could not create folder {F}: File exists",
         [](const fs::path& folder, const fs::path&) {
             EXPECT_EQ(readFile(folder), "in the way");
             EXPECT_EQ(std::distance(fs::directory_iterator(folder.parent_path()), {}), 1);
         }},
        {"a link at mesh0.obj to a file elsewhere",
         [](const fs::path& folder, const fs::path& elsewhere) {
             fs::create_directories(folder);
             std::ofstream(elsewhere / "precious.txt") << "precious";
             fs::create_symlink(elsewhere / "precious.txt", folder / "mesh0.obj");
         },
         0, "",
         [](const fs::path&, const fs::path& elsewhere) {
             EXPECT_EQ(readFile(elsewhere / "precious.txt"), "precious");
         }},
        {"a dangling link at mesh0.obj",
         [](const fs::path& folder, const fs::path& elsewhere) {
             fs::create_directories(folder);
             fs::create_symlink(elsewhere / "nowhere.txt", folder / "mesh0.obj");
         },
         0, "",
         [](const fs::path&, const fs::path& elsewhere) {
             EXPECT_FALSE(fs::exists(elsewhere / "nowhere.txt"));
         }},
        {"a link at mesh0.obj to a folder elsewhere",
         [](const fs::path& folder, const fs::path& elsewhere) {
             fs::create_directories(folder);
             fs::create_symlink(elsewhere, folder / "mesh0.obj");
         },
         0, "",
         [](const fs::path&, const fs::path& elsewhere) { EXPECT_TRUE(fs::is_empty(elsewhere)); }},
        {"a folder at mesh0.obj",
         [](const fs::path& folder, const fs::path&) {
             fs::create_directories(folder / "mesh0.obj");
             std::ofstream(folder / "mesh0.obj" / "keep.txt") << "keep";
         },
         1, "Could not write {F}/mesh0.obj: Is a directory",
         [](const fs::path& folder, const fs::path&) {
             EXPECT_EQ(readFile(folder / "mesh0.obj" / "keep.txt"), "keep");
         }},
    };
    const mb::Scene scene = diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(2, 1)});
    const fs::path map = writeMap(path("map.map"), scene);
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path out = path("out" + std::to_string(round));
        const fs::path elsewhere = path("elsewhere" + std::to_string(round++));
        fs::create_directories(out);
        fs::create_directories(elsewhere);
        const fs::path folder = out / "disk";
        c.place(folder, elsewhere);

        const Outcome outcome = extractCommand(out, map);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, "");
        if (c.line.empty()) {
            EXPECT_EQ(outcome.out.find("Could not"), std::string::npos) << outcome.out;
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / "mesh0.obj")));
            EXPECT_EQ(readFile(folder / "mesh0.obj"), fixtures::expectedObjText(scene.meshes[0]));
        } else {
            std::string line = c.line;
            line.replace(line.find("{F}"), 3, folder.string());
            EXPECT_TRUE(hasLine(outcome.out, line)) << outcome.out;
        }
        if (fs::is_directory(folder)) {
            EXPECT_EQ(readFile(folder / "mesh1.obj"), fixtures::expectedObjText(scene.meshes[1]));
            EXPECT_EQ(temporaries(folder), std::vector<std::string>{});
        }
        c.kept(folder, elsewhere);
    }
}

TEST_F(DiskFaults, OutputParentIsAFile) {
    const fs::path map = writeMap(path("map.map"), diskScene({fixtures::stripMesh(1, 0)}));
    std::ofstream(path("notafolder")) << "in the way";
    for (const fs::path& out : {path("notafolder"), path("notafolder") / "deeper"}) {
        SCOPED_TRACE(out.string());
        const Outcome outcome = extractCommand(out, map);
        // The folder is made when the run first writes, so the log says where it failed.
        EXPECT_EQ(outcome.status, 1);
        EXPECT_NE(outcome.out.find("Creating BSP...\nCould not create folder " + out.string() + ": "), std::string::npos)
            << outcome.out;
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(readFile(path("notafolder")), "in the way");
    }
}

}  // namespace
}  // namespace v2bsp
