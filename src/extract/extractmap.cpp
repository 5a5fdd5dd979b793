#include "extract/extractmap.hpp"

#include <algorithm>
#include <optional>
#include <thread>

#include "extract/extraction.hpp"
#include "extract/outputfolder.hpp"
#include "extract/safename.hpp"
#include "platform/diskfiles.hpp"
#include "platform/utf8path.hpp"
#include "writers/meshobj.hpp"

namespace v2bsp {
namespace {

// Thrown by say() when the host asks the run to stop; not a failure.
struct RunStopped {};

// One line of the log, or the end of the run when the host asks for it.
void say(ExtractHost& host, std::string_view line) {
    host.logline(line);
    if (!host.keepGoing()) throw RunStopped{};
}

// The same for a line that reports missing output.
void sayProblem(ExtractHost& host, std::string_view line) {
    host.logProblem(line);
    if (!host.keepGoing()) throw RunStopped{};
}

std::string decimal(std::int64_t value) {
    return std::to_string(value);
}

constexpr LevelFormat kLevelFormats[] = {LevelFormat::obj, LevelFormat::glb};

bool wanted(const OutputFormats& formats, LevelFormat format) {
    return format == LevelFormat::obj ? formats.obj : formats.glb;
}

}  // namespace

ExtractResult extractmap(const std::string& path, ExtractHost& host, const ExtractSettings& settings) {
    MapExtraction extraction;
    return extraction.extractmap(path, host, settings);
}

ExtractResult extractmap(ByteView bytes, const std::string& path, ExtractHost& host, const ExtractSettings& settings) {
    MapExtraction extraction;
    return extraction.extractmap(bytes, path, host, settings);
}

ExtractResult MapExtraction::extractmap(const std::string& path, ExtractHost& host, const ExtractSettings& settings) {
    return run(host, settings, [this, &path](WorkerPool* pool) { loadStage(path, pool); });
}

ExtractResult MapExtraction::extractmap(ByteView bytes, const std::string& path, ExtractHost& host,
                                        const ExtractSettings& settings) {
    return run(host, settings, [this, &path, &bytes](WorkerPool*) { copyStage(bytes, path); });
}

// The pool the run's helpers come from: the host's, or one of the run's own.
// A large map is read in halves on two threads whatever the jobs, as the
// read comes before any writing; a run of one job writes on its own thread
// alone, whatever helpers the host has for its own work.
template <typename Load>
ExtractResult MapExtraction::run(ExtractHost& host, const ExtractSettings& settings, Load load) {
    std::optional<WorkerPool> own;
    WorkerPool& readers = settings.pool != nullptr ? *settings.pool : own.emplace(std::max(2u, settings.jobs) - 1);
    WorkerPool* const pool = settings.jobs > 1 ? &readers : nullptr;
    *this = MapExtraction{};
    ExtractResult result;
    try {
        try {
            say(host, "Loading Map...");
            load(&readers);
            say(host, "Finding map information...");
            mapInformationStage();
            say(host, "Getting tag information...");
            tagInformationStage();
            say(host, "Loading tags...");
            tagsStage(host);
            if (settings.until == ExtractUntil::tags) return result;
            say(host, "Locating Scnr...");
            scenarioStage();
            say(host, "Locating BSP...");
            bspStage();
        } catch (const std::bad_alloc&) {
            result.status = ExtractStatus::failed;
            host.mapFailed(MapFailure(MapError::outOfMemory(mapbytes.size()), mappath));
            return result;
        } catch (const MapError& failure) {
            result.status = ExtractStatus::failed;
            host.mapFailed(MapFailure(failure, mappath));
            return result;
        }
        say(host, "Creating BSP...");
        meshStage(host, settings, pool, result);
    } catch (const RunStopped&) {
        result.status = ExtractStatus::stopped;
    }
    return result;
}

// After "Creating BSP..." nothing ends the run but the host: a step that
// cannot be done is logged as missing output, and the next step runs.
void MapExtraction::meshStage(ExtractHost& host, const ExtractSettings& settings, WorkerPool* pool,
                              ExtractResult& result) {
    OutputPlace place(settings, mapIdentity_);
    folderName = outputFolderName(mapname, utf8Text(pathFromUtf8(mappath).filename()));
    const bool claimed = claimStage(host, settings, place, result);
    const bool folderReady = claimed && settings.formats.meshes && folderStage(host, place, result);
    if (folderReady) recordOutput(settings, place, place.under(folderName));
    planOrReport(host, result);
    host.meshesPlanned(plan);
    const LevelSummaries summaries = summaryStage(settings);
    writeMeshes(host, pool, place, folderReady, summaries, result);
    if (folderReady) earlierFilesStage(host, place, result);
    if (claimed && !result.outOfMemory) writeLevelFiles(host, settings, pool, place, summaries, result);
    for (const std::string_view line :
         {"Locating Collections...", "Locating Scenery...", "Initializing 3D Window..."}) {
        say(host, line);
    }
    const bool complete = result.writeFailures == 0 && result.meshesSkipped == 0 &&
                          result.meshesRead == result.meshcount && !result.outOfMemory;
    result.status = complete ? ExtractStatus::complete : ExtractStatus::incomplete;
}

// A folder name that an earlier map of the invocation took (ignoring case),
// or a folder or file name that leads to one that map wrote, is refused
// whole: its files would mix with that map's. What the names lead to is
// asked of the file system, which knows its own rules of case and its other
// names for a folder; the name rule holds also where it cannot say.
bool MapExtraction::claimStage(ExtractHost& host, const ExtractSettings& settings, const OutputPlace& place,
                               ExtractResult& result) const {
    if (settings.claims == nullptr) return true;
    std::vector<FileIdentity> present;
    if (settings.formats.meshes) present.push_back(place.files().identity(place.under(folderName)));
    for (const LevelFormat format : kLevelFormats) {
        if (wanted(settings.formats, format)) {
            present.push_back(place.files().identity(place.under(levelFileName(folderName, format))));
        }
    }
    const std::optional<std::string> earlier = settings.claims->claim(folderName, present, mappath, mapIdentity_);
    if (!earlier) return true;
    const std::string why = ": It holds the output of " + *earlier + " from this run";
    if (settings.formats.meshes) {
        ++result.writeFailures;
        sayProblem(host, "Could not create folder " + place.shown(folderName) + why);
        return false;
    }
    for (const LevelFormat format : kLevelFormats) {
        if (!wanted(settings.formats, format)) continue;
        ++result.writeFailures;
        sayProblem(host, "Could not write " + place.shown(levelFileName(folderName, format)) + why);
    }
    return false;
}

void MapExtraction::recordOutput(const ExtractSettings& settings, const OutputPlace& place,
                                 const std::filesystem::path& written) const {
    if (settings.claims != nullptr) settings.claims->record(place.files().identity(written), mappath, mapIdentity_);
}

namespace {

// N of a name "mesh<N>.obj" (N decimal without a leading zero), or empty.
std::optional<std::string> meshFileNumber(std::string_view name) {
    if (!name.starts_with("mesh") || !name.ends_with(".obj")) return std::nullopt;
    const std::string_view digits = name.substr(4, name.size() - 8);
    if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    return std::string(digits);
}

}  // namespace

// Mesh files of an earlier extraction that this run did not write over are
// named, so that nobody takes them for this map's. Nothing is deleted.
void MapExtraction::earlierFilesStage(ExtractHost& host, const OutputPlace& place, ExtractResult& result) const {
    std::vector<std::string> earlier;
    for (const std::string& name : place.files().fileNames(place.under(folderName))) {
        const std::optional<std::string> digits = meshFileNumber(name);
        if (!digits) continue;
        // Numbers of the meshes read have at most as many digits as their count.
        std::int64_t number = -1;
        if (digits->size() <= 18) number = std::stoll(*digits);
        const bool attempted = number >= 0 && number < static_cast<std::int64_t>(plan.meshes.size()) &&
                               plan.meshes[static_cast<std::size_t>(number)].skip == MeshSkip::none;
        if (!attempted) earlier.push_back(*digits);
    }
    if (earlier.empty()) return;
    std::sort(earlier.begin(), earlier.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    result.earlierMeshFiles = static_cast<std::int64_t>(earlier.size());
    const std::string first = "mesh" + earlier.front() + ".obj";
    const std::string last = "mesh" + earlier.back() + ".obj";
    const std::string names = earlier.size() == 1 ? first + " (1 file)"
                              : earlier.size() == 2
                                  ? first + ", " + last + " (2 files)"
                                  : first + " ... " + last + " (" + decimal(result.earlierMeshFiles) + " files)";
    sayProblem(host, "Mesh files of an earlier extraction are still in " + place.shown(folderName) + ": " + names);
}

bool MapExtraction::parentReady(ExtractHost& host, OutputPlace& place, ExtractResult& result) const {
    if (const std::error_code failure = place.makeParent()) {
        ++result.writeFailures;
        sayProblem(host, "Could not create folder " + shownPath(place.parent()) + ": " + failure.message());
    }
    return place.ready();
}

bool MapExtraction::folderStage(ExtractHost& host, OutputPlace& place, ExtractResult& result) const {
    if (!parentReady(host, place, result)) return false;
    const OutputPlace::Folder folder = place.makeFolder(folderName);
    if (folder.fellback) say(host, "Program folder is not writable; writing to " + place.shown(folderName));
    if (folder.failure) {
        ++result.writeFailures;
        sayProblem(host, "Could not create folder " + place.shown(folderName) + ": " + folder.failure.message());
        return false;
    }
    result.outputfolder = place.under(folderName);
    return true;
}

void MapExtraction::planOrReport(ExtractHost& host, ExtractResult& result) {
    try {
        planStage();
    } catch (const std::bad_alloc&) {
        plan = MeshPlan{};
        result.outOfMemory = true;
        sayProblem(host, "Not enough memory to find the meshes' sections");
    }
    result.meshcount = plan.meshcount;
    result.meshesRead = static_cast<std::int64_t>(plan.meshes.size());
    if (result.meshesRead < result.meshcount) {
        sayProblem(host, "Mesh table runs past the end of the map file; " + decimal(result.meshesRead) + " of " +
                             decimal(result.meshcount) + " meshes read");
    }
}

MapExtraction::LevelSummaries MapExtraction::summaryStage(const ExtractSettings& settings) const {
    LevelSummaries summaries;
    if (!settings.formats.levelFiles()) return summaries;
    try {
        summaries.meshes = summarizePlan(plan, settings.up);
    } catch (const std::bad_alloc&) {
        summaries = {{}, true};
    }
    return summaries;
}

void MapExtraction::writeMeshes(ExtractHost& host, WorkerPool* pool, const OutputPlace& place, bool folderReady,
                                const LevelSummaries& summaries, ExtractResult& result) const {
    std::optional<MeshObjWriters> writers;
    if (folderReady) writers.emplace(plan, pool, place.files(), place.under(folderName));
    for (const PlannedMesh& mesh : plan.meshes) {
        const std::string number = decimal(mesh.number);
        say(host, "Making Mesh #" + number);
        if (mesh.skip == MeshSkip::outside) {
            ++result.meshesSkipped;
            sayProblem(host, "Mesh #" + number + " skipped: Its data lies outside the map file");
            continue;
        }
        if (mesh.skip == MeshSkip::shared) {
            ++result.meshesSkipped;
            sayProblem(host, "Mesh #" + number + " skipped: The meshes share more data than the map file holds");
            continue;
        }
        if (!summaries.meshes.empty()) {
            const std::int64_t outside = summaries.meshes[static_cast<std::size_t>(mesh.number)].facesOutside;
            if (outside > 0) {
                sayProblem(host, "Mesh #" + number + ": " + decimal(outside) +
                                     " faces name vertices the mesh does not have; left out of the whole-level files");
            }
        }
        if (!writers) continue;
        const std::error_code failure = writers->take(static_cast<std::size_t>(mesh.number));
        if (failure) {
            ++result.writeFailures;
            sayProblem(host, "Could not write " +
                                 place.shown(folderName + "/" + MeshObjWriters::filename(mesh.number)) + ": " +
                                 failure.message());
        } else {
            ++result.meshesWritten;
        }
    }
}

void MapExtraction::writeLevelFiles(ExtractHost& host, const ExtractSettings& settings, WorkerPool* pool,
                                    OutputPlace& place, const LevelSummaries& summaries,
                                    ExtractResult& result) const {
    if (!settings.formats.levelFiles() || !parentReady(host, place, result)) return;
    for (const LevelFormat format : kLevelFormats) {
        if (!wanted(settings.formats, format)) continue;
        const std::string name = levelFileName(folderName, format);
        const std::error_code failure = summaries.outOfMemory ? std::make_error_code(std::errc::not_enough_memory)
                                                              : writeLevelFile(format, plan, summaries.meshes,
                                                                               levelInfo(settings.up, pool),
                                                                               place.files(), place.under(name));
        if (failure) {
            ++result.writeFailures;
            sayProblem(host, "Could not write " + place.shown(name) + ": " + failure.message());
        } else {
            result.levelFiles.push_back(place.under(name));
            recordOutput(settings, place, place.under(name));
        }
    }
}

LevelInfo MapExtraction::levelInfo(UpAxis up, WorkerPool* pool) const {
    LevelInfo info;
    info.mapname = cp1252ToUtf8(mapname);
    info.folder = folderName;
    info.up = up;
    info.pool = pool;
    return info;
}

std::error_code MapExtraction::writeLevel(LevelFormat format, UpAxis up, const std::filesystem::path& file,
                                          OutputFiles* files) const {
    return guardedWrite([&] {
        const std::vector<MeshSummary> summaries = summarizePlan(plan, up);
        std::unique_ptr<OutputFiles> disk = files == nullptr ? makeDiskFiles() : nullptr;
        WorkerPool pool(std::max(1u, std::thread::hardware_concurrency()) - 1);
        return writeLevelFile(format, plan, summaries, levelInfo(up, &pool), files != nullptr ? *files : *disk, file);
    });
}

}  // namespace v2bsp
