// Output that cannot be written, on real file systems where the test may make
// them: a full disk and a read-only folder (a tmpfs the test mounts when it
// runs as root), and things already in the way of the map's folder or files.
// In each case the log names the path and the system's reason, the command
// exits with 1, no temporary file is left, nothing is written outside the
// output folder and no earlier file is damaged. Each runs with the mesh files
// alone and with the whole-level files too.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <charconv>
#include <functional>
#include <set>

#include "cli/cli.hpp"
#include "extract/extractmap.hpp"
#include "formatlists.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "meshfixtures.hpp"
#include "platform/diskfiles.hpp"
#include "runcommand.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace {

namespace fs = std::filesystem;
namespace mb = mapbuilder;

using fixtures::Outcome;

// The whole-level files of the map named `name` the formats write, in the order they are written.
std::vector<std::string> levelNames(const FormatList& formats, const std::string& name) {
    std::vector<std::string> names;
    if (formats.formats.obj) names.push_back(name + ".obj");
    if (formats.formats.glb) names.push_back(name + ".glb");
    return names;
}

mb::Scene diskScene(std::vector<mb::Mesh> meshes) {
    mb::Scene scene;
    scene.mapname = "disk";
    scene.tagnames = {"rocks"};
    scene.meshes = std::move(meshes);
    return scene;
}

// Paths anywhere under `folder` that look like a temporary file.
std::vector<std::string> temporaries(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(folder, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->path().filename().string().find(".tmp") != std::string::npos) found.push_back(it->path().string());
    }
    return found;
}

// Every path under `root` but those under `output`, with its size for files.
std::set<std::string> contentOutside(const fs::path& root, const fs::path& output) {
    std::set<std::string> found;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(root, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->path() == output) {
            it.disable_recursion_pending();
            continue;
        }
        const bool file = it->is_regular_file(ignored) && !it->is_symlink(ignored);
        found.insert(it->path().string() + (file ? " " + std::to_string(it->file_size(ignored)) : ""));
    }
    return found;
}

// The lines "Could not write" of each whole-level file, in `parent`, with `reason`.
std::string levelFailures(const FormatList& formats, const fs::path& parent, const std::string& name,
                          const std::string& reason) {
    std::string lines;
    for (const std::string& level : levelNames(formats, name))
        lines += "Could not write " + (parent / level).string() + ": " + reason + "\n";
    return lines;
}

bool hasLine(const std::string& log, const std::string& line) {
    return ("\n" + log).find("\n" + line + "\n") != std::string::npos;
}

// A tmpfs of the test's own, when it runs as root and may mount; unmounted at the end.
class TinyMount {
public:
    TinyMount(fs::path where, const std::string& options) : where_(std::move(where)) {
        fs::create_directories(where_);
        mounted_ = ::geteuid() == 0 && ::mount("v2bsp-test", where_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~TinyMount() {
        if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    TinyMount(const TinyMount&) = delete;
    TinyMount& operator=(const TinyMount&) = delete;

    bool mounted() const { return mounted_; }
    bool makeReadOnly() { return ::mount(nullptr, where_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

private:
    fs::path where_;
    bool mounted_ = false;
};

class DiskFaults : public ::testing::TestWithParam<FormatList> {
protected:
    fs::path path(const std::string& name) const { return scratch_.path() / name; }
    const FormatList& formats() const { return GetParam(); }
    // Runs the command, or `runner_` when a test sets one.
    Outcome extract(const fs::path& outputParent, const fs::path& map) {
        const std::set<std::string> before = contentOutside(scratch_.path(), outputParent);
        Outcome outcome =
            runner_ ? runner_(outputParent, map)
                    : fixtures::runcommand({"-o", outputParent.string(), "--format", formats().list, map.string()});
        EXPECT_EQ(contentOutside(scratch_.path(), outputParent), before) << "written outside the output folder";
        EXPECT_EQ(temporaries(outputParent), std::vector<std::string>{});
        return outcome;
    }
    std::function<Outcome(const fs::path& outputParent, const fs::path& map)> runner_;
    ScratchFolder scratch_;
};

TEST_P(DiskFaults, FullDiskKeepsTheEarlierFile) {
    TinyMount disk(path("full"), "size=256k");
    if (!disk.mounted()) GTEST_SKIP() << "needs root and a tmpfs mount";
    const fs::path out = path("full");
    const fs::path folder = out / "disk";
    // One thread: with more, a small mesh written while mesh 0's text fills
    // the disk fails for want of room too, and which one does is a race.
    runner_ = [this](const fs::path& parent, const fs::path& map) {
        return fixtures::runcommand({"-j", "1", "-o", parent.string(), "--format", formats().list, map.string()});
    };

    const mb::Scene earlier = diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(2, 1)});
    ASSERT_EQ(extract(out, writeMap(path("earlier.map"), earlier)).status, 0);
    const std::string earlier_mesh0 = readFile(folder / "mesh0.obj");
    ASSERT_EQ(earlier_mesh0, fixtures::expectedObjText(earlier.meshes[0]));
    std::vector<std::string> earlier_levels;
    for (const std::string& level : levelNames(formats(), "disk")) {
        earlier_levels.push_back(readFile(out / level));
        ASSERT_FALSE(earlier_levels.back().empty()) << level;
    }

    // Mesh 0 now needs more text than the disk holds, and so does each
    // whole-level file; meshes 1 and 2 are small.
    const mb::Scene later =
        diskScene({fixtures::stripMesh(8000, 123.25f), fixtures::stripMesh(3, 2), fixtures::stripMesh(1, 3)});
    const Outcome outcome = extract(out, writeMap(path("later.map"), later));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(hasLine(outcome.out, "Making Mesh #0\nCould not write " + folder.string() +
                                         "/mesh0.obj: No space left on device\nMaking Mesh #1"))
        << outcome.out;
    EXPECT_TRUE(hasLine(outcome.out, "Making Mesh #2\n" +
                                         levelFailures(formats(), out, "disk", "No space left on device") +
                                         "Locating Collections..."))
        << outcome.out;
    EXPECT_EQ(readFile(folder / "mesh0.obj"), earlier_mesh0);
    EXPECT_EQ(readFile(folder / "mesh1.obj"), fixtures::expectedObjText(later.meshes[1]));
    EXPECT_EQ(readFile(folder / "mesh2.obj"), fixtures::expectedObjText(later.meshes[2]));
    const std::vector<std::string> levels = levelNames(formats(), "disk");
    for (std::size_t i = 0; i < levels.size(); ++i)
        EXPECT_EQ(readFile(out / levels[i]), earlier_levels[i]) << levels[i];
}

TEST_P(DiskFaults, NoInodeLeft) {
    struct Case {
        const char* mount;  // nr_inodes counts the mount's root folder
        const char* options;
        std::vector<std::string> lines;  // {F} stands for the map's folder
    };
    const Case cases[] = {
        {"noinodes",
         "size=1m,nr_inodes=1",
         {"Creating BSP...", "Could not create folder {F}: No space left on device", "Making Mesh #0",
          "Making Mesh #1"}},
        {"oneinode",
         "size=1m,nr_inodes=2",
         {"Making Mesh #0", "Could not write {F}/mesh0.obj: No space left on device", "Making Mesh #1",
          "Could not write {F}/mesh1.obj: No space left on device"}},
    };
    const fs::path map = writeMap(path("map.map"), diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(1, 1)}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        TinyMount disk(path(c.mount), c.options);
        if (!disk.mounted()) GTEST_SKIP() << "needs root and a tmpfs mount";
        const fs::path folder = path(c.mount) / "disk";
        const Outcome outcome = extract(path(c.mount), map);
        EXPECT_EQ(outcome.status, 1);
        std::string expected;
        for (std::string line : c.lines) {
            const auto at = line.find("{F}");
            if (at != std::string::npos) line.replace(at, 3, folder.string());
            expected += line + "\n";
        }
        expected +=
            levelFailures(formats(), path(c.mount), "disk", "No space left on device") + "Locating Collections...";
        EXPECT_TRUE(hasLine(outcome.out, expected)) << outcome.out;
        EXPECT_FALSE(fs::exists(folder / "mesh0.obj"));
        for (const std::string& level : levelNames(formats(), "disk"))
            EXPECT_FALSE(fs::exists(path(c.mount) / level)) << level;
    }
}

// How the output parent is made read-only: a read-only mount where the test
// may mount, permissions where it does not run as root. As root without a
// mount, permissions do not bind, so the output seam refuses instead.
class ReadOnlyFiles final : public OutputFiles {
public:
    explicit ReadOnlyFiles(fs::path root) : root_(std::move(root)) {}
    std::error_code createFolder(const fs::path& folder) override {
        if (fs::is_directory(folder)) return {};
        return refuse(folder) ? std::make_error_code(std::errc::read_only_file_system)
                              : makeDiskFiles()->createFolder(folder);
    }
    std::error_code replaceFile(const fs::path& file, ByteSource& text) override {
        return refuse(file) ? std::make_error_code(std::errc::read_only_file_system)
                            : makeDiskFiles()->replaceFile(file, text);
    }
    bool readonly = false;

private:
    bool refuse(const fs::path& path) const { return readonly && path.string().rfind(root_.string() + "/", 0) == 0; }
    fs::path root_;
};

class CollectingHost final : public ExtractHost {
public:
    void logline(std::string_view line) override { log += std::string(line) + "\n"; }
    void addTagName(std::string_view) override {}
    void mapFailed(const MapFailure& failure) override { log += failure.reason + "\n"; }
    std::string log;
};

TEST_P(DiskFaults, ReadOnlyParentKeepsEarlierFiles) {
    const fs::path out = path("readonly");
    TinyMount disk(out, "size=1m");
    ReadOnlyFiles seam(out);
    std::string reason = "Read-only file system";
    if (!disk.mounted() && ::geteuid() == 0) {
        runner_ = [&](const fs::path& outputParent, const fs::path& map) {
            CollectingHost host;
            ExtractSettings settings;
            settings.outputParent = outputParent;
            settings.files = &seam;
            settings.formats = formats().formats;
            const bool complete = extractmap(map.string(), host, settings).status == ExtractStatus::complete;
            return Outcome{complete ? kExitComplete : kExitIncomplete, host.log, ""};
        };
    }

    const mb::Scene earlier = diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(2, 1)});
    ASSERT_EQ(extract(out, writeMap(path("earlier.map"), earlier)).status, 0);
    std::vector<std::string> earlier_levels;
    for (const std::string& level : levelNames(formats(), "disk")) {
        earlier_levels.push_back(readFile(out / level));
        ASSERT_FALSE(earlier_levels.back().empty()) << level;
    }
    if (disk.mounted()) {
        ASSERT_TRUE(disk.makeReadOnly());
    } else if (::geteuid() == 0) {
        seam.readonly = true;
    } else {
        fs::permissions(out, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        fs::permissions(out / "disk", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        reason = "Permission denied";
    }

    // The map's folder is there: each mesh file and each whole-level file
    // fails, the earlier ones stay.
    const Outcome again =
        extract(out, writeMap(path("later.map"), diskScene({fixtures::stripMesh(3, 5), fixtures::stripMesh(1, 6)})));
    EXPECT_EQ(again.status, 1);
    const std::string folder = (out / "disk").string();
    EXPECT_TRUE(hasLine(again.out, "Making Mesh #0\nCould not write " + folder + "/mesh0.obj: " + reason +
                                       "\nMaking Mesh #1\nCould not write " + folder + "/mesh1.obj: " + reason + "\n" +
                                       levelFailures(formats(), out, "disk", reason) + "Locating Collections..."))
        << again.out;
    EXPECT_EQ(readFile(out / "disk" / "mesh0.obj"), fixtures::expectedObjText(earlier.meshes[0]));
    EXPECT_EQ(readFile(out / "disk" / "mesh1.obj"), fixtures::expectedObjText(earlier.meshes[1]));
    const std::vector<std::string> levels = levelNames(formats(), "disk");
    for (std::size_t i = 0; i < levels.size(); ++i)
        EXPECT_EQ(readFile(out / levels[i]), earlier_levels[i]) << levels[i];

    // A new map's folder cannot be made: one line, then no mesh file is tried.
    mb::Scene other = diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(1, 1)});
    other.mapname = "other";
    const Outcome fresh = extract(out, writeMap(path("other.map"), other));
    EXPECT_EQ(fresh.status, 1);
    EXPECT_TRUE(hasLine(fresh.out, "Creating BSP...\nCould not create folder " + (out / "other").string() + ": " +
                                       reason + "\nMaking Mesh #0\nMaking Mesh #1\n" +
                                       levelFailures(formats(), out, "other", reason) + "Locating Collections..."))
        << fresh.out;
    EXPECT_FALSE(fs::exists(out / "other"));
    for (const std::string& level : levelNames(formats(), "other")) EXPECT_FALSE(fs::exists(out / level)) << level;
}

// The names directly in `folder`.
std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

TEST_P(DiskFaults, SomethingInTheWay) {
    using Place = std::function<void(const fs::path& folder, const fs::path& elsewhere)>;
    struct Case {
        const char* name;
        Place place;
        int status;        // with the mesh files alone
        int level_status;  // with the whole-level files too
        // Each "Could not" line, of the mesh files and of the whole-level
        // files; {F} stands for the map's folder, {O} for the output parent.
        std::string line;
        std::string level_line;
        std::function<void(const fs::path& folder, const fs::path& elsewhere, bool levels)> kept;
    };
    const auto precious = [](const fs::path&, const fs::path& elsewhere, bool) {
        EXPECT_EQ(readFile(elsewhere / "precious.txt"), "precious");
    };
    const auto nowhere = [](const fs::path&, const fs::path& elsewhere, bool) {
        EXPECT_FALSE(fs::exists(elsewhere / "nowhere.txt"));
    };
    const Case cases[] = {
        {"a file where the map's folder goes",
         [](const fs::path& folder, const fs::path&) { std::ofstream(folder) << "in the way"; }, 1, 1,
         "Could not create folder {F}: File exists", "",
         [](const fs::path& folder, const fs::path&, bool) { EXPECT_EQ(readFile(folder), "in the way"); }},
        {"a link at mesh0.obj to a file elsewhere",
         [](const fs::path& folder, const fs::path& elsewhere) {
             fs::create_directories(folder);
             std::ofstream(elsewhere / "precious.txt") << "precious";
             fs::create_symlink(elsewhere / "precious.txt", folder / "mesh0.obj");
         },
         0, 0, "", "", precious},
        {"a dangling link at mesh0.obj",
         [](const fs::path& folder, const fs::path& elsewhere) {
             fs::create_directories(folder);
             fs::create_symlink(elsewhere / "nowhere.txt", folder / "mesh0.obj");
         },
         0, 0, "", "", nowhere},
        {"a link at mesh0.obj to a folder elsewhere",
         [](const fs::path& folder, const fs::path& elsewhere) {
             fs::create_directories(folder);
             fs::create_symlink(elsewhere, folder / "mesh0.obj");
         },
         0, 0, "", "", [](const fs::path&, const fs::path& elsewhere, bool) { EXPECT_TRUE(fs::is_empty(elsewhere)); }},
        {"a folder at mesh0.obj",
         [](const fs::path& folder, const fs::path&) {
             fs::create_directories(folder / "mesh0.obj");
             std::ofstream(folder / "mesh0.obj" / "keep.txt") << "keep";
         },
         1, 1, "Could not write {F}/mesh0.obj: Is a directory", "",
         [](const fs::path& folder, const fs::path&, bool) {
             EXPECT_EQ(readFile(folder / "mesh0.obj" / "keep.txt"), "keep");
         }},
        {"a folder at the whole-level glb",
         [](const fs::path& folder, const fs::path&) {
             fs::create_directories(folder.parent_path() / "disk.glb");
             std::ofstream(folder.parent_path() / "disk.glb" / "keep.txt") << "keep";
         },
         0, 1, "", "Could not write {O}/disk.glb: Is a directory",
         [](const fs::path& folder, const fs::path&, bool) {
             EXPECT_EQ(readFile(folder.parent_path() / "disk.glb" / "keep.txt"), "keep");
         }},
        {"a link at the whole-level OBJ to a file elsewhere",
         [](const fs::path& folder, const fs::path& elsewhere) {
             std::ofstream(elsewhere / "precious.txt") << "precious";
             fs::create_symlink(elsewhere / "precious.txt", folder.parent_path() / "disk.obj");
         },
         0, 0, "", "",
         [&](const fs::path& folder, const fs::path& elsewhere, bool levels) {
             precious(folder, elsewhere, levels);
             // Without the whole-level files the link is not theirs to touch.
             if (!levels) {
                 EXPECT_TRUE(fs::is_symlink(folder.parent_path() / "disk.obj"));
             }
         }},
        {"a dangling link at the whole-level glb",
         [](const fs::path& folder, const fs::path& elsewhere) {
             fs::create_symlink(elsewhere / "nowhere.txt", folder.parent_path() / "disk.glb");
         },
         0, 0, "", "",
         [&](const fs::path& folder, const fs::path& elsewhere, bool levels) {
             nowhere(folder, elsewhere, levels);
             if (!levels) {
                 EXPECT_TRUE(fs::is_symlink(folder.parent_path() / "disk.glb"));
             }
         }},
    };
    const mb::Scene scene = diskScene({fixtures::stripMesh(1, 0), fixtures::stripMesh(2, 1)});
    const fs::path map = writeMap(path("map.map"), scene);
    const bool levels = formats().formats.levelFiles();
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path out = path("out" + std::to_string(round));
        const fs::path elsewhere = path("elsewhere" + std::to_string(round++));
        fs::create_directories(out);
        fs::create_directories(elsewhere);
        const fs::path folder = out / "disk";
        c.place(folder, elsewhere);
        std::set<std::string> made = namesIn(out);

        const Outcome outcome = extract(out, map);
        EXPECT_EQ(outcome.status, levels ? c.level_status : c.status);
        EXPECT_EQ(outcome.err, "");
        std::vector<std::string> lines;
        for (const std::string& line : {c.line, levels ? c.level_line : std::string()}) {
            if (line.empty()) continue;
            std::string text = line;
            if (const auto at = text.find("{F}"); at != std::string::npos) text.replace(at, 3, folder.string());
            if (const auto at = text.find("{O}"); at != std::string::npos) text.replace(at, 3, out.string());
            lines.push_back(text);
        }
        if (lines.empty()) {
            EXPECT_EQ(outcome.out.find("Could not"), std::string::npos) << outcome.out;
        }
        for (const std::string& line : lines) EXPECT_TRUE(hasLine(outcome.out, line)) << outcome.out;
        if (c.line.empty()) {
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / "mesh0.obj")));
            EXPECT_EQ(readFile(folder / "mesh0.obj"), fixtures::expectedObjText(scene.meshes[0]));
        }
        if (fs::is_directory(folder)) {
            EXPECT_EQ(readFile(folder / "mesh1.obj"), fixtures::expectedObjText(scene.meshes[1]));
        }
        // The output parent holds what was there, the map's folder and the
        // whole-level files, and nothing else.
        made.insert("disk");
        for (const std::string& level : levelNames(formats(), "disk")) {
            made.insert(level);
            if (fs::is_directory(out / level)) continue;
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / level))) << level;
            EXPECT_EQ(readFile(out / level).substr(0, 4), level.ends_with(".glb") ? "glTF" : "# v2") << level;
        }
        EXPECT_EQ(namesIn(out), made);
        c.kept(folder, elsewhere, levels);
    }
}

TEST_P(DiskFaults, OutputParentIsAFile) {
    const fs::path map = writeMap(path("map.map"), diskScene({fixtures::stripMesh(1, 0)}));
    std::ofstream(path("notafolder")) << "in the way";
    for (const fs::path& out : {path("notafolder"), path("notafolder") / "deeper"}) {
        SCOPED_TRACE(out.string());
        // The folder is made when the run first writes, so the log says where it failed.
        const Outcome outcome = extract(out, map);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_NE(outcome.out.find("Creating BSP...\nCould not create folder " + out.string() + ": "),
                  std::string::npos)
            << outcome.out;
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(readFile(path("notafolder")), "in the way");
    }
}

// Where a file system has no unnamed temporary files, the temporary file has
// a name from the start; a write or a rename that fails removes it and leaves
// the earlier file as it was.
TEST(NamedTemporaryFiles, GoWhenTheirWriteOrRenameFails) {
    ScratchFolder scratch;
    TinyMount full(scratch.path() / "full", "size=64k");
    fs::create_directories(scratch.path() / "disk" / "in the way");
    std::ofstream(scratch.path() / "disk" / "in the way" / "keep") << "kept";
    std::ofstream(scratch.path() / "full" / "earlier.obj") << "earlier";
    struct Case {
        const char* name;
        fs::path file;
        std::size_t bytes;
        std::string reason;
        bool needs_mount;
    };
    const Case cases[] = {
        {"the write, on a full disk", scratch.path() / "full" / "earlier.obj", 256 * 1024, "No space left on device",
         true},
        {"the rename, onto a folder", scratch.path() / "disk" / "in the way", 10, "Is a directory", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needs_mount && !full.mounted()) continue;
        const std::string before = fs::is_regular_file(c.file) ? readFile(c.file) : "";
        const auto disk = makeDiskFiles({false, nullptr});
        EXPECT_EQ(disk->replaceFile(c.file, std::string(c.bytes, 'x')).message(), c.reason);
        EXPECT_EQ(temporaries(c.file.parent_path()), std::vector<std::string>{});
        if (!before.empty()) {
            EXPECT_EQ(readFile(c.file), before);
        }
    }
    EXPECT_EQ(readFile(scratch.path() / "disk" / "in the way" / "keep"), "kept");
}

INSTANTIATE_TEST_SUITE_P(Formats, DiskFaults, ::testing::ValuesIn(kFormatLists),
                         [](const ::testing::TestParamInfo<FormatList>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace v2bsp
