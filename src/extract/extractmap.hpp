// extractmap: from a map file to a folder of mesh<N>.obj files.
//
// The road of one extraction, each stage announced by its log line before any
// of its work: "Loading Map...", "Finding map information...", "Getting tag
// information...", "Loading tags...", "Locating Scnr...", "Locating BSP...",
// "Creating BSP...", one "Making Mesh #N" per mesh, then "Locating
// Collections...", "Locating Scenery..." and "Initializing 3D Window...".
//
// Two failure regimes. Up to and including "Creating BSP..." any failure ends
// the run: the host is told "This is not a valid Vorun 2 map file" with the
// precise reason, and nothing has been created. After that line a step that
// cannot be done is logged and abandoned, and the next step runs.
//
// Bounded work: no count read from the map drives an allocation or a loop
// beyond what the file can hold; the work is linear in the file's length and
// the number of meshes, whatever the counts, offsets and sizes say. The
// sections written in one run add up to at most the file's length: a mesh
// that would pass that (meshes sharing data) is logged as skipped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mapimage/mapimage.hpp"
#include "platform/outputfiles.hpp"
#include "platform/workerpool.hpp"
#include "writers/levelmesh.hpp"

namespace v2bsp {

inline constexpr std::string_view kNotAMapMessage = "This is not a valid Vorun 2 map file";

// What the host is told when a run ends under the first regime: the map is
// no map, or (MapErrorKind::outOfMemory) it could not be held in memory.
struct MapFailure {
    MapFailure(MapError failure, const std::string& path)
        : error(std::move(failure)),
          message(error.kind() == MapErrorKind::outOfMemory ? "Could not read " + path : std::string(kNotAMapMessage)),
          reason(error.what()) {}
    MapError error;       // its kind, the offset, the file's length
    std::string message;  // kNotAMapMessage, or "Could not read <path>"
    // error rendered, a sentence, e.g. "Mesh count at offset 7 lies outside the file (length 10).";
    // "There is not enough memory to hold it (<length> bytes)" after "Could not read <path>"
    std::string reason;
};

// The host of an extraction: the window, the command line, or a test.
class ExtractHost {
public:
    virtual ~ExtractHost() = default;
    // One line of the progress log, without its line end.
    virtual void logline(std::string_view line) = 0;
    // A line of the log that reports missing output (a folder or file not
    // written, a mesh skipped or cut short, faces left out); in the log's order.
    virtual void logProblem(std::string_view line) { logline(line); }
    // One tag name (UTF-8), in index order, for the tag list.
    virtual void addTagName(std::string_view name) = 0;
    // The run ended under the first regime; nothing was created.
    virtual void mapFailed(const MapFailure& failure) = 0;
    // Asked after every log line: false ends the run there (the window is closing).
    virtual bool keepGoing() { return true; }
    // The run has decided what it writes: once, before the first "Making
    // Mesh #N" line, and never for a map that fails. `plan` is the run's own
    // (MapExtraction::plan): it stays as it is until that extraction runs
    // again or ends, and its views point into the map's bytes. A host may
    // read it from another thread meanwhile (the window decodes its 3D view
    // while the run writes).
    virtual void meshesPlanned(const MeshPlan& plan) { (void)plan; }
};

enum class ExtractUntil {
    everything,  // the whole job
    tags,        // stop after "Loading tags...": the tag names only
};

// What a run writes. The mesh files are DIR/<folder>/mesh<N>.obj; the
// whole-level files DIR/<folder>.obj and DIR/<folder>.glb. Only the mesh
// files make the map's folder.
struct OutputFormats {
    bool meshes = true;
    bool obj = false;
    bool glb = false;
    bool levelFiles() const { return obj || glb; }
};

// The folder names the maps of one invocation have taken, and the folders and
// files they wrote as the file system knows them. A map writes nothing when
// its folder name is, by Windows' rule of case (caseKey), one that an earlier
// map of the same invocation took, or when a folder or file it would write
// into or replace is already one that an earlier map wrote, whatever name
// leads there (a case the name rule does not know, a short name, a link): so
// two maps never mix their files in one folder. One for each invocation; it
// takes calls from one thread at a time.
class FolderClaims {
public:
    // The map (as given) whose output `folder`, or one of `present` (the
    // identities of what the map's folder and whole-level file names lead to
    // now), is; else `folder` is taken for `map` now, and the result is
    // empty. The same map file named again (the same `identity`) may write
    // its own files again.
    std::optional<std::string> claim(const std::string& folder, std::span<const FileIdentity> present,
                                     const std::string& map, const FileIdentity& identity);
    // Notes `written` (a folder made or a file written for `map`) as that
    // map's output; an unknown identity is not noted.
    void record(const FileIdentity& written, const std::string& map, const FileIdentity& identity);

private:
    struct Claim {
        std::string map;
        FileIdentity identity;
    };
    std::map<std::string, Claim> taken_;                                // by the name's case key
    std::map<std::pair<std::uint64_t, std::uint64_t>, Claim> written_;  // by device and file
};

struct ExtractSettings {
    // The folder that receives the map's folder, as the user gave it.
    std::filesystem::path outputParent = ".";
    // Used instead when `outputParent` turns out not writable; empty for none.
    std::filesystem::path fallbackParent;
    // The host knows `outputParent` must not take output although it may be
    // writable (an installed program's folder, for a user who may write
    // there): the run goes to `fallbackParent` as if it were not writable.
    bool outputParentSystem = false;
    // Make `outputParent` and its parents when the run first writes, not before.
    bool createOutputParent = false;
    ExtractUntil until = ExtractUntil::everything;
    OutputFormats formats;
    UpAxis up = UpAxis::y;  // of the whole-level files; the mesh files never change
    // Threads that write mesh files; the log, the files and the outcome are
    // those of one. With more than one, `files` must take calls from several threads.
    unsigned jobs = 1;
    // The helper threads of the run (of its map's read, and of its writing
    // when jobs is more than one): the host's, shared with the host's own
    // work beside the run (the window's decoding). Null: the run makes a
    // pool of jobs - 1 helpers of its own, at least one. Either way, threads
    // that cannot be made leave their work to the threads there are.
    WorkerPool* pool = nullptr;
    OutputFiles* files = nullptr;    // null: the real file system
    FolderClaims* claims = nullptr;  // null: no other map shares the invocation
};

enum class ExtractStatus {
    complete,    // every mesh written
    incomplete,  // the run went to its end, but some output is missing
    failed,      // ended under the first regime
    stopped,     // the host asked to stop
};

struct ExtractResult {
    ExtractStatus status = ExtractStatus::complete;
    std::filesystem::path outputfolder;  // empty when no folder was made
    std::int64_t meshcount = 0;          // as stored in the BSP header
    std::int64_t meshesRead = 0;         // mesh-table entries inside the file
    std::int64_t meshesWritten = 0;
    std::int64_t meshesSkipped = 0;                 // data outside the file, or shared past the file's length
    std::int64_t writeFailures = 0;                 // the folder, a mesh file, or a whole-level file
    bool outOfMemory = false;                       // the meshes' sections could not be found
    std::int64_t earlierMeshFiles = 0;              // mesh files of an earlier extraction left in the folder
    std::vector<std::filesystem::path> levelFiles;  // the whole-level files written
};

// One extraction with a fresh state.
ExtractResult extractmap(const std::string& path, ExtractHost& host, const ExtractSettings& settings = {});
ExtractResult extractmap(ByteView bytes, const std::string& path, ExtractHost& host,
                         const ExtractSettings& settings = {});

}  // namespace v2bsp
