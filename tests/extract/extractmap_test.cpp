#include "extract/extraction.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "extractionrows.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "memoryfiles.hpp"
#include "meshfixtures.hpp"
#include "platform/diskfiles.hpp"
#include "platform/utf8path.hpp"
#include "recordinghost.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace {

namespace mb = mapbuilder;
using fixtures::expectedObjText;
using fixtures::meshrow;
using fixtures::stripMesh;
using fixtures::tagrow;
using fixtures::threeMeshScene;

using fixtures::logFor;
using fixtures::RecordingHost;

class ExtractMap : public ::testing::Test {
protected:
    std::string writeMap(const std::vector<std::uint8_t>& bytes, const std::string& name = "test.map") {
        return v2bsp::writeMap(scratch_.path() / name, bytes).string();
    }

    ExtractResult run(const std::string& map) {
        ExtractSettings settings;
        settings.outputParent = output();
        settings.files = files_;
        return extractmap(map, host_, settings);
    }

    std::filesystem::path output() {
        const auto folder = scratch_.path() / "out";
        std::filesystem::create_directories(folder);
        return folder;
    }

    ScratchFolder scratch_;
    RecordingHost host_;
    OutputFiles* files_ = nullptr;
};

TEST_F(ExtractMap, ThreeMeshesGiveTheirFilesLogAndTags) {
    const mb::Scene scene = threeMeshScene();
    const mb::BuiltMap built = mb::buildMap(scene);
    const ExtractResult result = run(writeMap(built.bytes));

    EXPECT_EQ(result.status, ExtractStatus::complete);
    EXPECT_EQ(host_.log, logFor(3));
    EXPECT_TRUE(host_.failures.empty());
    std::vector<std::string> names;
    for (const mb::TagRowLayout& tag : built.layout.tags) names.push_back(tag.name);
    EXPECT_EQ(host_.tags, names);
    ASSERT_EQ(names.size(), 4u);

    const auto folder = output() / "test room";
    for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
        SCOPED_TRACE(m);
        EXPECT_EQ(readFile(folder / ("mesh" + std::to_string(m) + ".obj")), expectedObjText(scene.meshes[m]));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3);
    EXPECT_EQ(result.meshesWritten, 3);
    EXPECT_EQ(result.outputfolder, folder);
}

TEST_F(ExtractMap, StateIsKeptForTheHost) {
    const mb::BuiltMap built = mb::buildMap(threeMeshScene());
    MapExtraction extraction;
    ExtractSettings settings;
    settings.outputParent = output();
    extraction.extractmap(writeMap(built.bytes), host_, settings);
    const mb::MapLayout& layout = built.layout;
    EXPECT_EQ(extraction.mapname, "test room");
    EXPECT_EQ(extraction.maplength, layout.filelength);
    EXPECT_EQ(extraction.indexoffset, layout.indexoffset);
    EXPECT_EQ(extraction.indexmagic, layout.indexmagic);
    EXPECT_EQ(extraction.metamagic, layout.metamagic);
    EXPECT_EQ(extraction.tagindexstart, layout.tagindexstart);
    EXPECT_EQ(extraction.tagcount, static_cast<std::int64_t>(layout.tags.size()));
    for (std::size_t t = 0; t < layout.tags.size(); ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(tagrow(extraction, t).tagoffset, layout.tags[t].data);
        EXPECT_EQ(tagrow(extraction, t).tagid, layout.tags[t].id);
        EXPECT_EQ(tagrow(extraction, t).tagsize, layout.tags[t].datasize);
        EXPECT_EQ(extraction.tagname(t), layout.tags[t].name);
    }
    EXPECT_EQ(tagrow(extraction, 2).tagclass, "scnr");
    EXPECT_EQ(extraction.scnrrow, layout.tags[layout.scenariorow].row);
    EXPECT_EQ(extraction.scnroffset, layout.scenariodata);
    EXPECT_EQ(extraction.bspoffset, layout.bspoffset);
    EXPECT_EQ(extraction.bspmagic, layout.bspmagic);
    ASSERT_EQ(extraction.plan.meshes.size(), layout.meshes.size());
    for (std::size_t m = 0; m < layout.meshes.size(); ++m) {
        SCOPED_TRACE(m);
        EXPECT_EQ(meshrow(extraction, m).meshrawoffset, layout.meshes[m].raw);
        EXPECT_EQ(meshrow(extraction, m).meshrawsize, layout.meshes[m].rawsize);
        EXPECT_EQ(meshrow(extraction, m).meshfacestart, layout.meshes[m].faceStart);
        EXPECT_EQ(meshrow(extraction, m).meshfacelength, layout.meshes[m].faceLength);
        EXPECT_EQ(meshrow(extraction, m).meshvertexstart, layout.meshes[m].vertexStart);
        EXPECT_EQ(meshrow(extraction, m).meshvertexlength, layout.meshes[m].vertexLength);
    }
}

TEST_F(ExtractMap, NoMeshesStillMakesTheFolder) {
    mb::Scene scene = threeMeshScene();
    scene.meshes.clear();
    const ExtractResult result = run(writeMap(mb::buildMap(scene).bytes));
    EXPECT_EQ(result.status, ExtractStatus::complete);
    EXPECT_EQ(host_.log, logFor(0));
    EXPECT_TRUE(std::filesystem::is_directory(output() / "test room"));
    EXPECT_TRUE(std::filesystem::is_empty(output() / "test room"));
}

TEST_F(ExtractMap, TwiceGivesIdenticalFiles) {
    const std::string map = writeMap(mb::buildMap(threeMeshScene()).bytes);
    run(map);
    const std::string first = readFile(output() / "test room" / "mesh2.obj");
    host_ = RecordingHost{};
    EXPECT_EQ(run(map).status, ExtractStatus::complete);
    EXPECT_EQ(host_.log, logFor(3));
    EXPECT_EQ(readFile(output() / "test room" / "mesh2.obj"), first);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(output() / "test room"), {}), 3);
}

// Each damaged map and what the run must say: the stage it ends in (the last
// log line) and the reason, or the extra lines of the mesh stage.
TEST_F(ExtractMap, DamagedMaps) {
    // Where a failed run's reason points, from the damaged map's own layout and bytes.
    using Where = std::int64_t (*)(const mb::BuiltMap&);
    const Where tag_index = [](const mb::BuiltMap& m) { return m.layout.tagindexstart; };
    const Where name_table = [](const mb::BuiltMap& m) {
        return static_cast<std::int64_t>(readu32(m.bytes, 708, true));
    };
    const Where file_end = [](const mb::BuiltMap& m) { return static_cast<std::int64_t>(m.bytes.size()); };
    const Where bsp_header = [](const mb::BuiltMap& m) {
        return static_cast<std::int64_t>(m.bytes.size()) - 100 + 172;
    };
    const Where class_count = [](const mb::BuiltMap& m) { return m.layout.indexoffset + 4; };
    const Where nowhere = nullptr;
    struct Case {
        mb::Corruption corruption;
        bool fails;
        std::string last_line;                 // the last log line of a failed run
        MapErrorKind kind;                     // a failed run's reason: its kind,
        std::string what;                      // how it begins (what was being read),
        Where offset;                          // and where
        std::vector<std::string> extra_lines;  // lines a finished run adds to the plain log
        ExtractStatus status;
    };
    const MapErrorKind none = MapErrorKind::outside;
    const Case cases[] = {
        {mb::Corruption::TagCountHuge,
         true,
         "Loading tags...",
         MapErrorKind::pastEnd,
         "The tag index of 4294967295 rows",
         tag_index,
         {},
         ExtractStatus::failed},
        {mb::Corruption::TagIndexPastEnd,
         true,
         "Loading tags...",
         MapErrorKind::pastEnd,
         "",
         tag_index,
         {},
         ExtractStatus::failed},
        {mb::Corruption::NameTableOffsetPastEnd,
         true,
         "Loading tags...",
         MapErrorKind::pastEnd,
         "The tag name table",
         file_end,
         {},
         ExtractStatus::failed},
        {mb::Corruption::NameTablePastEnd,
         true,
         "Loading tags...",
         MapErrorKind::pastEnd,
         "The tag name table",
         name_table,
         {},
         ExtractStatus::failed},
        {mb::Corruption::NoScenarioRow,
         true,
         "Locating Scnr...",
         MapErrorKind::missing,
         "No scenario tag in the tag index",
         nowhere,
         {},
         ExtractStatus::failed},
        {mb::Corruption::BspBlockOutside,
         true,
         "Locating BSP...",
         MapErrorKind::outside,
         "BSP offset",
         file_end,
         {},
         ExtractStatus::failed},
        {mb::Corruption::BspHeaderOutside,
         true,
         "Locating BSP...",
         MapErrorKind::outside,
         "BSP header",
         bsp_header,
         {},
         ExtractStatus::failed},
        {mb::Corruption::ClassCount2731,
         true,
         "Getting tag information...",
         MapErrorKind::tooLarge,
         "Tag class count",
         class_count,
         {},
         ExtractStatus::failed},
        {mb::Corruption::NameTableUnterminated, false, "", none, "", nowhere, {}, ExtractStatus::complete},
        {mb::Corruption::UpperCaseScenario, false, "", none, "", nowhere, {}, ExtractStatus::complete},
        {mb::Corruption::TwoScenarioRows, false, "", none, "", nowhere, {}, ExtractStatus::complete},
        {mb::Corruption::MeshWithoutMarkers, false, "", none, "", nowhere, {}, ExtractStatus::complete},
        {mb::Corruption::MeshWithThreeMarkers, false, "", none, "", nowhere, {}, ExtractStatus::complete},
        {mb::Corruption::MarkerInLastFourBytes, false, "", none, "", nowhere, {}, ExtractStatus::complete},
        {mb::Corruption::MarkerNotAligned, false, "", none, "", nowhere, {}, ExtractStatus::complete},
        {mb::Corruption::RawOffsetHuge,
         false,
         "",
         none,
         "",
         nowhere,
         {"Mesh #0 skipped: Its data lies outside the map file"},
         ExtractStatus::incomplete},
        {mb::Corruption::RawSizeHuge,
         false,
         "",
         none,
         "",
         nowhere,
         {"Mesh #0 skipped: Its data lies outside the map file"},
         ExtractStatus::incomplete},
        {mb::Corruption::RawRangePastEnd,
         false,
         "",
         none,
         "",
         nowhere,
         {"Mesh #2 skipped: Its data lies outside the map file"},
         ExtractStatus::incomplete},
    };
    for (const Case& c : cases) {
        const mb::CorruptionCase& corruption = mb::corruptionCase(c.corruption);
        SCOPED_TRACE(std::string(corruption.name));
        host_ = RecordingHost{};
        std::filesystem::remove_all(output());
        mb::BuiltMap built = mb::buildMap(threeMeshScene());
        corruption.apply(built);
        const ExtractResult result = run(writeMap(built.bytes));
        EXPECT_EQ(result.status, c.status);
        if (c.fails) {
            ASSERT_EQ(host_.failures.size(), 1u);
            const MapFailure& failure = host_.failures[0];
            EXPECT_EQ(failure.message, "This is not a valid Vorun 2 map file");
            EXPECT_EQ(failure.error.kind(), c.kind) << failure.reason;
            if (!c.what.empty()) {
                EXPECT_TRUE(failure.reason.starts_with(c.what)) << failure.reason;
            }
            if (c.offset != nullptr) {
                EXPECT_EQ(failure.error.offset(), c.offset(built)) << failure.reason;
                EXPECT_NE(failure.reason.find(" at offset " + std::to_string(c.offset(built)) + " "),
                          std::string::npos)
                    << failure.reason;
            } else {
                EXPECT_EQ(failure.reason.find("offset"), std::string::npos) << failure.reason;
            }
            EXPECT_EQ(failure.reason, failure.error.what());
            EXPECT_EQ(host_.log.back(), c.last_line);
            EXPECT_TRUE(std::filesystem::is_empty(output())) << "a failed run created something";
            continue;
        }
        EXPECT_TRUE(host_.failures.empty());
        std::vector<std::string> lines = host_.log;
        std::vector<std::string> expected = logFor(3);
        for (const std::string& extra : c.extra_lines) {
            const auto at = std::find(lines.begin(), lines.end(), extra);
            ASSERT_NE(at, lines.end()) << extra;
            EXPECT_EQ(*std::prev(at), "Making Mesh #" + extra.substr(6, 1));
            lines.erase(at);
        }
        EXPECT_EQ(lines, expected);
    }
}

TEST_F(ExtractMap, SectionsFollowTheMarkers) {
    struct Case {
        mb::Corruption corruption;
        std::string mesh0;  // the expected text of mesh0.obj; empty: the plain mesh
    };
    const mb::Scene scene = threeMeshScene();
    const std::string faces_only = expectedObjText({{}, scene.meshes[0].triangles});
    const Case cases[] = {
        {mb::Corruption::MeshWithoutMarkers, "\r\n\r\n\r\n"},
        {mb::Corruption::MeshWithThreeMarkers, "\r\n\r\n\r\n"},
        {mb::Corruption::UpperCaseScenario, ""},
        {mb::Corruption::TwoScenarioRows, ""},
        // A marker in the last four bytes of the raw data still counts.
        {mb::Corruption::MarkerInLastFourBytes, ""},
        // A marker off the 4-byte grid does not: the vertex section never closes.
        {mb::Corruption::MarkerNotAligned, faces_only},
    };
    for (const Case& c : cases) {
        const mb::CorruptionCase& corruption = mb::corruptionCase(c.corruption);
        SCOPED_TRACE(std::string(corruption.name));
        std::filesystem::remove_all(output());
        mb::BuiltMap built = mb::buildMap(scene);
        corruption.apply(built);
        run(writeMap(built.bytes));
        const std::string expected = c.mesh0.empty() ? expectedObjText(scene.meshes[0]) : c.mesh0;
        EXPECT_EQ(readFile(output() / "test room" / "mesh0.obj"), expected);
    }
}

TEST_F(ExtractMap, MeshTableCutShortReadsTheWholeEntries) {
    mb::BuiltMap built = mb::buildMap(threeMeshScene());
    mb::corruptionCase(mb::Corruption::MeshTableCutShort).apply(built);
    const ExtractResult result = run(writeMap(built.bytes));
    EXPECT_EQ(result.status, ExtractStatus::incomplete);
    EXPECT_EQ(result.meshcount, 3);
    const std::string cut =
        "Mesh table runs past the end of the map file; " + std::to_string(result.meshesRead) + " of 3 meshes read";
    std::vector<std::string> expected = logFor(result.meshesRead);
    expected.insert(expected.begin() + 7, cut);
    EXPECT_EQ(host_.log, expected);
    EXPECT_LT(result.meshesRead, 3);
}

TEST_F(ExtractMap, HugeMeshCountIsBoundedByTheFile) {
    mb::BuiltMap built = mb::buildMap(threeMeshScene());
    mb::corruptionCase(mb::Corruption::MeshCountHuge).apply(built);
    const ExtractResult result = run(writeMap(built.bytes));
    EXPECT_EQ(result.status, ExtractStatus::incomplete);
    EXPECT_EQ(result.meshcount, 4294967295);
    EXPECT_LE(result.meshesRead, static_cast<std::int64_t>(built.bytes.size()) / 176);
    EXPECT_EQ(host_.log[7], "Mesh table runs past the end of the map file; " + std::to_string(result.meshesRead) +
                                " of 4294967295 meshes read");
}

TEST_F(ExtractMap, FolderNameCannotLeaveTheParent) {
    struct Case {
        mb::Corruption corruption;
        std::string folder;
    };
    const Case cases[] = {{mb::Corruption::MapNameWithPath, "_.._x"}, {mb::Corruption::MapNameEmpty, "beach"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        std::filesystem::remove_all(output());
        mb::BuiltMap built = mb::buildMap(threeMeshScene());
        mb::corruptionCase(c.corruption).apply(built);
        const ExtractResult result = run(writeMap(built.bytes, "beach.map"));
        EXPECT_EQ(result.status, ExtractStatus::complete);
        EXPECT_TRUE(std::filesystem::exists(output() / c.folder / "mesh0.obj"));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(output()), {}), 1);
    }
}

TEST_F(ExtractMap, InputThatIsNotAMap) {
    struct Case {
        std::string name;
        std::string content;
        MapErrorKind kind;
        std::int64_t offset;  // -1: none
        std::string reason;
    };
    const Case cases[] = {
        {"empty.map", "", MapErrorKind::empty, -1, "The file is empty."},
        {"text.map", "hello, world\n", MapErrorKind::outside, 408,
         "Map name at offset 408 (33 bytes) lies outside the file (length 13)."},
        {"zeros.map", std::string(1000, '\0'), MapErrorKind::missing, -1, "No scenario tag in the tag index."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host_ = RecordingHost{};
        const std::string map = writeMap(std::vector<std::uint8_t>(c.content.begin(), c.content.end()), c.name);
        EXPECT_EQ(run(map).status, ExtractStatus::failed);
        ASSERT_EQ(host_.failures.size(), 1u);
        const MapError& error = host_.failures[0].error;
        EXPECT_EQ(error.kind(), c.kind);
        if (c.offset >= 0) {
            EXPECT_EQ(error.offset(), c.offset);
        }
        EXPECT_EQ(host_.failures[0].reason, c.reason);
        EXPECT_TRUE(std::filesystem::is_empty(output()));
    }
    host_ = RecordingHost{};
    EXPECT_EQ(run("").status, ExtractStatus::failed);
    EXPECT_EQ(host_.log, std::vector<std::string>{"Loading Map..."});
}

TEST_F(ExtractMap, HostCanStopAtAnyLine) {
    const std::string map = writeMap(mb::buildMap(threeMeshScene()).bytes);
    for (std::size_t lines = 1; lines <= logFor(3).size(); ++lines) {
        SCOPED_TRACE(lines);
        std::filesystem::remove_all(output());
        host_ = RecordingHost{};
        host_.stop_after_lines = lines;
        const ExtractResult result = run(map);
        EXPECT_EQ(host_.log.size(), lines);
        EXPECT_EQ(result.status, ExtractStatus::stopped);
        // Whatever was written is whole: mesh m is written after its line.
        for (int m = 0; m < 3; ++m) {
            const auto file = output() / "test room" / ("mesh" + std::to_string(m) + ".obj");
            const bool written = lines > 8 + static_cast<std::size_t>(m);
            EXPECT_EQ(std::filesystem::exists(file), written) << file;
        }
    }
}

TEST_F(ExtractMap, MeshesSharingDataAreWrittenUpToTheFilesLength) {
    // Every entry of the table names the raw data of the large mesh 0: the
    // copies that fit in the map's length are written, the rest skipped.
    mb::Scene scene = threeMeshScene();
    scene.meshes.assign(12, stripMesh(1, 1.0f));
    scene.meshes[0] = stripMesh(1000, 1.0f);
    mb::BuiltMap built = mb::buildMap(scene);
    const mb::MeshLayout& first = built.layout.meshes[0];
    for (const mb::MeshLayout& mesh : built.layout.meshes) {
        mb::pokeu32(built.bytes, mesh.entry + 40, static_cast<std::uint32_t>(first.raw));
        mb::pokeu32(built.bytes, mesh.entry + 44, static_cast<std::uint32_t>(first.rawsize));
    }
    const std::int64_t fitting =
        static_cast<std::int64_t>(built.bytes.size()) / (first.faceLength + first.vertexLength);
    ASSERT_GE(fitting, 1);
    ASSERT_LT(fitting, 12);

    const ExtractResult result = run(writeMap(built.bytes));
    EXPECT_EQ(result.status, ExtractStatus::incomplete);
    EXPECT_EQ(result.meshesWritten, fitting);
    EXPECT_EQ(result.meshesSkipped, 12 - fitting);
    const std::string skipped =
        "Mesh #" + std::to_string(fitting) + " skipped: The meshes share more data than the map file holds";
    const auto at = std::find(host_.log.begin(), host_.log.end(), skipped);
    ASSERT_NE(at, host_.log.end());
    EXPECT_EQ(*std::prev(at), "Making Mesh #" + std::to_string(fitting));
}

// The mesh table moved to the end of the file and cut after `kept` of its
// 3 * 176 bytes: only the entries wholly inside the file are read.
TEST_F(ExtractMap, MeshTableCutShortReadsExactlyTheWholeEntries) {
    struct Case {
        std::int64_t kept;  // bytes of the table left; -1: the table starts 176 bytes past the end
        std::int64_t read;
    };
    const Case cases[] = {{528, 3}, {527, 2}, {353, 2}, {352, 2}, {351, 1}, {177, 1},
                          {176, 1}, {175, 0}, {1, 0},   {0, 0},   {-1, 0}};
    const mb::Scene scene = threeMeshScene();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kept);
        host_ = RecordingHost{};
        std::filesystem::remove_all(output());
        mb::BuiltMap built = mb::buildMap(scene);
        const mb::MapLayout& layout = built.layout;
        std::vector<std::uint8_t>& bytes = built.bytes;
        bytes.resize((bytes.size() + 3) & ~std::size_t{3}, 0xEE);
        const auto table = static_cast<std::int64_t>(bytes.size());
        const std::vector<std::uint8_t> entries(bytes.begin() + layout.meshtable,
                                                bytes.begin() + layout.meshtable + 3 * 176);
        bytes.insert(bytes.end(), entries.begin(), entries.end());
        bytes.resize(static_cast<std::size_t>(table + std::max<std::int64_t>(c.kept, 0)));
        const std::int64_t address = c.kept < 0 ? table + 176 : table;
        mb::pokeu32(bytes, layout.bspoffset + 176,
                    static_cast<std::uint32_t>(address - layout.bspoffset + layout.bspmagic));

        const ExtractResult result = run(writeMap(bytes));
        EXPECT_EQ(result.meshcount, 3);
        EXPECT_EQ(result.meshesRead, c.read);
        EXPECT_EQ(result.meshesWritten, c.read);
        std::vector<std::string> expected = logFor(c.read);
        if (c.read < 3) {
            expected.insert(expected.begin() + 7, "Mesh table runs past the end of the map file; " +
                                                      std::to_string(c.read) + " of 3 meshes read");
        }
        EXPECT_EQ(host_.log, expected);
        EXPECT_EQ(result.status, c.read == 3 ? ExtractStatus::complete : ExtractStatus::incomplete);
        for (std::int64_t m = 0; m < c.read; ++m) {
            EXPECT_EQ(readFile(output() / "test room" / ("mesh" + std::to_string(m) + ".obj")),
                      expectedObjText(scene.meshes[static_cast<std::size_t>(m)]));
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(output() / "test room"), {}), c.read);
    }
}

// Output kept in memory whose program folder (the map's folder under the
// output parent) is refused with one errno.
class RefusingFiles final : public OutputFiles {
public:
    RefusingFiles(std::filesystem::path refused, int error, std::filesystem::path fallback = {}, int fallbackError = 0)
        : refused_(std::move(refused)), error_(error), fallback_(std::move(fallback)), fallbackError_(fallbackError) {}
    std::error_code createFolder(const std::filesystem::path& folder) override {
        if (folder == refused_) return {error_, std::generic_category()};
        if (folder == fallback_ && fallbackError_ != 0) return {fallbackError_, std::generic_category()};
        return memory.createFolder(folder);
    }
    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& text) override {
        return memory.replaceFile(file, text);
    }
    using OutputFiles::replaceFile;
    fixtures::MemoryFiles memory;

private:
    std::filesystem::path refused_;
    int error_;
    std::filesystem::path fallback_;
    int fallbackError_;
};

TEST_F(ExtractMap, FallbackParentOnlyWhenTheFolderIsNotWritable) {
    struct Case {
        int error;
        bool falls_back;
        std::string reason;     // of the "Could not create folder" line when it does not
        bool system = false;    // the host says the program folder takes no output
        int fallbackError = 0;  // of the map's folder's own folder
    };
    const Case cases[] = {
        {0, true, "", true},  // writable, but an installed program's folder
        {EACCES, true, ""},
        {EROFS, true, ""},
        {EPERM, true, ""},
        // Both read-only: the files were bound for the map's folder, and the line says so.
        {EROFS, true, "Read-only file system", false, EROFS},
        {EEXIST, false, "File exists"},
        {ENOSPC, false, "No space left on device"},
        {ENOENT, false, "No such file or directory"},
    };
    const mb::Scene scene = threeMeshScene();
    const std::string map = writeMap(mb::buildMap(scene).bytes);
    const std::filesystem::path parent = "/program";
    const std::filesystem::path fallback = "/home/user/maps";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::strerror(c.error));
        host_ = RecordingHost{};
        RefusingFiles files(parent / "test room", c.error, fallback / "test room", c.fallbackError);
        ExtractSettings settings;
        settings.outputParent = parent;
        settings.fallbackParent = fallback;
        settings.outputParentSystem = c.system;
        settings.formats.obj = true;
        settings.files = &files;
        const ExtractResult result = extractmap(map, host_, settings);

        const std::filesystem::path used = c.falls_back ? fallback : parent;
        const bool made = c.reason.empty();
        std::vector<std::string> log = logFor(3);
        if (!made)
            log.insert(log.begin() + 7, "Could not create folder " + shownPath(used / "test room") + ": " + c.reason);
        if (c.falls_back)
            log.insert(log.begin() + 7,
                       "Program folder is not writable; writing to " + shownPath(fallback / "test room"));
        EXPECT_EQ(host_.log, log);
        EXPECT_EQ(result.status, made ? ExtractStatus::complete : ExtractStatus::incomplete);
        EXPECT_EQ(result.outputfolder, made ? used / "test room" : std::filesystem::path());
        EXPECT_EQ(result.writeFailures, made ? 0 : 1);
        EXPECT_EQ(result.meshesWritten, made ? 3 : 0);
        EXPECT_EQ(result.levelFiles, std::vector<std::filesystem::path>{used / "test room.obj"});
        std::vector<std::filesystem::path> written;
        for (const auto& [path, text] : files.memory.files) written.push_back(path);
        std::vector<std::filesystem::path> expected = {used / "test room.obj"};
        if (made) {
            for (int m = 0; m < 3; ++m) expected.push_back(used / "test room" / ("mesh" + std::to_string(m) + ".obj"));
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(written, expected);
        if (c.falls_back && made) {
            EXPECT_EQ(files.memory.files[fallback / "test room" / "mesh1.obj"], expectedObjText(scene.meshes[1]));
        }
    }
}

TEST_F(ExtractMap, FileInTheWayOfTheFolderGetsNoFallback) {
    const std::string map = writeMap(mb::buildMap(threeMeshScene()).bytes);
    std::ofstream(output() / "test room") << "in the way";
    // What the system says of a folder made where a file is.
    const std::error_code exists = makeDiskFiles()->createFolder(output() / "test room");
    const std::filesystem::path fallback = scratch_.path() / "fallback";
    std::filesystem::create_directories(fallback);
    ExtractSettings settings;
    settings.outputParent = output();
    settings.fallbackParent = fallback;
    const ExtractResult result = extractmap(map, host_, settings);
    std::vector<std::string> log = logFor(3);
    log.insert(log.begin() + 7,
               "Could not create folder " + shownPath(output() / "test room") + ": " + exists.message());
    EXPECT_EQ(host_.log, log);
    EXPECT_EQ(result.status, ExtractStatus::incomplete);
    EXPECT_TRUE(std::filesystem::is_empty(fallback));
    EXPECT_EQ(readFile(output() / "test room"), "in the way");
}

// The 33 name bytes at 408: the zero bytes are dropped wherever they lie.
TEST_F(ExtractMap, StoredNameKeepsTheBytesAfterAZero) {
    struct Case {
        std::string stored;  // the first bytes of the field; the rest are zero
        std::string folder;
    };
    const Case cases[] = {
        {std::string("ab\0cd", 5), "abcd"},
        {std::string("\0\0\0x", 4), "x"},
        {std::string("a\0\0\0\0b\0c", 8), "abc"},
        {std::string(32, '\0') + "z", "z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        std::filesystem::remove_all(output());
        host_ = RecordingHost{};
        mb::BuiltMap built = mb::buildMap(threeMeshScene());
        std::fill_n(built.bytes.begin() + 408, 33, std::uint8_t{0});
        std::copy(c.stored.begin(), c.stored.end(), built.bytes.begin() + 408);
        MapExtraction extraction;
        ExtractSettings settings;
        settings.outputParent = output();
        const ExtractResult result = extraction.extractmap(writeMap(built.bytes, "file.map"), host_, settings);
        EXPECT_EQ(result.status, ExtractStatus::complete);
        EXPECT_EQ(extraction.mapname, c.folder);
        EXPECT_EQ(extraction.folderName, c.folder);
        EXPECT_EQ(result.outputfolder, output() / c.folder);
        EXPECT_TRUE(std::filesystem::exists(output() / c.folder / "mesh2.obj"));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(output()), {}), 1);
    }
}

// Mesh 0's raw size ends `past` bytes after the start of its marker 8: the
// marker counts only when its four bytes all lie inside the raw data.
TEST_F(ExtractMap, MarkerCutByTheEndOfTheRawDataDoesNotCount) {
    struct Case {
        std::int64_t past;
        bool counts;
    };
    const Case cases[] = {{1, false}, {2, false}, {3, false}, {4, true}, {5, true}, {7, true}};
    const mb::Scene scene = threeMeshScene();
    const std::string faces_only = expectedObjText({{}, scene.meshes[0].triangles});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.past);
        std::filesystem::remove_all(output());
        host_ = RecordingHost{};
        mb::BuiltMap built = mb::buildMap(scene);
        const mb::MeshLayout& mesh = built.layout.meshes[0];
        mb::pokeu32(built.bytes, mesh.entry + 44, static_cast<std::uint32_t>(mesh.markers[7] + c.past - mesh.raw));
        MapExtraction extraction;
        ExtractSettings settings;
        settings.outputParent = output();
        EXPECT_EQ(extraction.extractmap(writeMap(built.bytes), host_, settings).status, ExtractStatus::complete);
        EXPECT_EQ(meshrow(extraction, 0).meshvertexstart, mesh.vertexStart);
        EXPECT_EQ(meshrow(extraction, 0).meshvertexlength, c.counts ? mesh.vertexLength : 0);
        EXPECT_EQ(readFile(output() / "test room" / "mesh0.obj"),
                  c.counts ? expectedObjText(scene.meshes[0]) : faces_only);
        EXPECT_EQ(readFile(output() / "test room" / "mesh1.obj"), expectedObjText(scene.meshes[1]));
    }
}

// Every entry names mesh 0's raw data, and the file is padded so that `copies`
// copies of its sections add up to its length, less `short_by` bytes.
TEST_F(ExtractMap, SharedDataUpToExactlyTheFilesLength) {
    struct Case {
        std::int64_t short_by;
        std::int64_t written_less;  // fewer meshes written than `copies`
    };
    const Case cases[] = {{0, 0}, {1, 1}};
    mb::Scene scene = threeMeshScene();
    scene.meshes.assign(12, stripMesh(1, 1.0f));
    scene.meshes[0] = stripMesh(1000, 1.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.short_by);
        std::filesystem::remove_all(output());
        host_ = RecordingHost{};
        mb::BuiltMap built = mb::buildMap(scene);
        const mb::MeshLayout first = built.layout.meshes[0];
        for (const mb::MeshLayout& mesh : built.layout.meshes) {
            mb::pokeu32(built.bytes, mesh.entry + 40, static_cast<std::uint32_t>(first.raw));
            mb::pokeu32(built.bytes, mesh.entry + 44, static_cast<std::uint32_t>(first.rawsize));
        }
        const std::int64_t sections = first.faceLength + first.vertexLength;
        const std::int64_t copies = static_cast<std::int64_t>(built.bytes.size()) / sections + 1;
        ASSERT_LT(copies, 12);
        built.bytes.resize(static_cast<std::size_t>(copies * sections - c.short_by), 0xEE);

        const ExtractResult result = run(writeMap(built.bytes));
        const std::int64_t written = copies - c.written_less;
        EXPECT_EQ(result.meshesWritten, written);
        EXPECT_EQ(result.meshesSkipped, 12 - written);
        std::vector<std::string> log = logFor(12);
        for (std::int64_t m = 11; m >= written; --m) {
            log.insert(log.begin() + 8 + m,
                       "Mesh #" + std::to_string(m) + " skipped: The meshes share more data than the map file holds");
        }
        EXPECT_EQ(host_.log, log);
        EXPECT_EQ(readFile(output() / "test room" / ("mesh" + std::to_string(written - 1) + ".obj")),
                  expectedObjText(scene.meshes[0]));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(output() / "test room"), {}), written);
    }
}

}  // namespace
}  // namespace v2bsp
