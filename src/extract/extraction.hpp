// The state of one extraction, kept after the run for whoever wants to look
// (the 3D view, Save As, the tests), and the stages that fill it in order.
//
// Offsets are file offsets; values that the map stores as addresses are
// translated here once. The mesh table is held once, as the plan: one entry
// for each mesh-table entry inside the file, with its sections as views into
// mapbytes, or why it is skipped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "extract/extractmap.hpp"
#include "platform/mapfile.hpp"
#include "writers/writers.hpp"

namespace v2bsp {

class OutputPlace;

class MapExtraction {
public:
    // Loads the file at `path`, then runs as below.
    ExtractResult extractmap(const std::string& path, ExtractHost& host, const ExtractSettings& settings = {});
    // Runs over a copy of a map already in memory; `path` names it (its file
    // name is the folder's name when the map stores none). The log is the
    // same as for the file, "Loading Map..." included.
    ExtractResult extractmap(ByteView bytes, const std::string& path, ExtractHost& host,
                             const ExtractSettings& settings = {});

    // Makes `file` hold the whole-level file of this run's plan, byte for
    // byte what a run with that format and up axis writes; through `files`,
    // or the real file system when null. A failure comes back as its OS
    // reason: "File too large" for a glb longer than its header can state,
    // "Cannot allocate memory" when its description cannot be held.
    std::error_code writeLevel(LevelFormat format, UpAxis up, const std::filesystem::path& file,
                               OutputFiles* files = nullptr) const;

    // Image.
    std::string mappath;
    std::int64_t maplength = 0;
    MapBytes mapbytes;

    // Header and index.
    std::string mapname;  // the name's non-zero bytes, as stored
    std::int64_t indexoffset = 0;
    std::int64_t indexmagic = 0;
    std::int64_t metamagic = 0;
    std::int64_t classcount = 0;
    std::int64_t tagindexstart = 0;
    std::int64_t tagcount = 0;
    // Tag names as stored (Windows-1252 bytes), 0-based.
    std::string_view tagname(std::int64_t tag) const;

    // Scenario and BSP.
    std::int64_t scnrrow = 0;
    std::int64_t scnroffset = 0;
    std::int64_t bspoffset = 0;
    std::int64_t bspmagic = 0;

    // What the run decided to write, one entry per mesh-table entry inside
    // the file; its views point into mapbytes.
    MeshPlan plan;
    // The map's folder name, also the whole-level files' name.
    std::string folderName;

private:
    struct NameSpan {
        std::uint32_t start;
        std::uint32_t length;
    };
    // What the whole-level files need of each mesh, found in a step of its own.
    struct LevelSummaries {
        std::vector<MeshSummary> meshes;
        bool outOfMemory = false;
    };

    template <typename Load>
    ExtractResult run(ExtractHost& host, const ExtractSettings& settings, Load load);

    // The format's stages, up to and including the plan (stages.cpp). Each
    // throws MapError when the map cannot be read that far.
    void loadStage(const std::string& path, WorkerPool* pool);
    void copyStage(ByteView bytes, const std::string& path);
    void mapInformationStage();
    void tagInformationStage();
    void tagsStage(ExtractHost& host);
    void scenarioStage();
    void bspStage();
    void planStage();

    // The writing, after "Creating BSP..." (extractmap.cpp).
    void meshStage(ExtractHost& host, const ExtractSettings& settings, WorkerPool* pool, ExtractResult& result);
    void planOrReport(ExtractHost& host, ExtractResult& result);
    LevelSummaries summaryStage(const ExtractSettings& settings) const;
    bool parentReady(ExtractHost& host, OutputPlace& place, ExtractResult& result) const;
    bool folderStage(ExtractHost& host, OutputPlace& place, ExtractResult& result) const;
    bool claimStage(ExtractHost& host, const ExtractSettings& settings, const OutputPlace& place,
                    ExtractResult& result) const;
    // Notes `written` as this map's output in the invocation's claims.
    void recordOutput(const ExtractSettings& settings, const OutputPlace& place,
                      const std::filesystem::path& written) const;
    void earlierFilesStage(ExtractHost& host, const OutputPlace& place, ExtractResult& result) const;
    void writeMeshes(ExtractHost& host, WorkerPool* pool, const OutputPlace& place, bool folderReady,
                     const LevelSummaries& summaries, ExtractResult& result) const;
    void writeLevelFiles(ExtractHost& host, const ExtractSettings& settings, WorkerPool* pool, OutputPlace& place,
                         const LevelSummaries& summaries, ExtractResult& result) const;
    LevelInfo levelInfo(UpAxis up, WorkerPool* pool) const;

    std::vector<NameSpan> tagNames_;
    FileIdentity mapIdentity_;  // of the map file; unknown for bytes handed over
};

}  // namespace v2bsp
