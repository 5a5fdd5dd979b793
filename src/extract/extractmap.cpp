#include "extract/extractmap.hpp"

#include <algorithm>
#include <cstring>
#include <thread>

#include "extract/meshtext.hpp"
#include "extract/meshwriters.hpp"
#include "extract/safename.hpp"
#include "writers/levelfiles.hpp"

namespace v2bsp {
namespace {

// Header fields.
constexpr std::int64_t kIndexOffsetField = 16;
constexpr std::int64_t kIndexLengthField = 20;
constexpr std::int64_t kMapNameField = 408;
constexpr std::int64_t kMapNameLength = 33;
constexpr std::int64_t kNameTableField = 708;

// The index header, its tag-class rows and its tag rows.
constexpr std::int64_t kIndexHeaderLength = 32;
constexpr std::int64_t kClassRowLength = 12;
constexpr std::int64_t kTagRowLength = 16;
// The class count becomes a signed 16-bit value, and so does its product with 12.
constexpr std::int64_t kMaxClassCount = 32767 / kClassRowLength;

// Scenario, BSP block and BSP header.
constexpr std::int64_t kScenarioBspField = 532;
constexpr std::int64_t kMeshCountField = 172;
constexpr std::int64_t kMeshTableField = 176;
constexpr std::int64_t kMeshEntryLength = 176;
constexpr std::int64_t kRawOffsetField = 40;
constexpr std::int64_t kRawSizeField = 44;

// Thrown by say() when the host asks the run to stop; not a failure.
struct RunStopped {};

// One line of the log, or the end of the run when the host asks for it.
void say(ExtractHost& host, std::string_view line) {
    host.logline(line);
    if (!host.keepgoing()) throw RunStopped{};
}

// The same for a line that reports missing output.
void sayproblem(ExtractHost& host, std::string_view line) {
    host.logproblem(line);
    if (!host.keepgoing()) throw RunStopped{};
}

// "scnr" as the little-endian value of its stored bytes. Setting bit 5 of each
// byte folds upper-case letters onto lower-case ones; no byte outside the
// letters folds onto s, c, n or r.
constexpr std::uint32_t kScenarioCode = 's' << 24 | 'c' << 16 | 'n' << 8 | 'r';

std::string decimal(std::int64_t value) { return std::to_string(value); }

// The path the user will recognise: the parent as given, "/", then the rest.
std::string shownPath(const std::filesystem::path& parent, const std::string& rest) {
    std::string shown = parent.string();
    if (shown.empty() || shown.back() != '/') shown += '/';
    return shown + rest;
}

bool isNotWritable(const std::error_code& failure) {
    return failure.value() == EACCES || failure.value() == EROFS || failure.value() == EPERM;
}

}  // namespace

ExtractResult extractmap(const std::string& path, ExtractHost& host, const ExtractSettings& settings) {
    MapExtraction extraction;
    return extraction.extractmap(path, host, settings);
}

ExtractResult extractmap(ByteView bytes, const std::string& path, ExtractHost& host,
                         const ExtractSettings& settings) {
    MapExtraction extraction;
    return extraction.extractmap(bytes, path, host, settings);
}

ExtractResult MapExtraction::extractmap(const std::string& path, ExtractHost& host,
                                        const ExtractSettings& settings) {
    return run(host, settings, [this, &path] { loadstage(path); });
}

ExtractResult MapExtraction::extractmap(ByteView bytes, const std::string& path,
                                        ExtractHost& host, const ExtractSettings& settings) {
    return run(host, settings, [this, &path, &bytes] {
        mappath = path;
        if (bytes.empty()) throw MapError::file(MapErrorKind::empty, path);
        mapbytes.assign(bytes.begin(), bytes.end());
        maplength = static_cast<std::int64_t>(mapbytes.size());
    });
}

template <typename Load>
ExtractResult MapExtraction::run(ExtractHost& host, const ExtractSettings& settings, Load load) {
    *this = MapExtraction{};
    ExtractResult result;
    try {
        try {
            say(host, "Loading Map...");
            load();
            say(host, "Finding map information...");
            mapinformationstage();
            say(host, "Getting tag information...");
            taginformationstage();
            say(host, "Loading tags...");
            tagsstage(host);
            if (settings.until == ExtractUntil::tags) return result;
            say(host, "Locating Scnr...");
            scenariostage();
            say(host, "Locating BSP...");
            bspstage();
        } catch (const std::bad_alloc&) {
            result.status = ExtractStatus::failed;
            host.mapfailed(MapFailure(MapError::outofmemory(mapbytes.size())));
            return result;
        } catch (const MapError& failure) {
            result.status = ExtractStatus::failed;
            host.mapfailed(MapFailure(failure));
            return result;
        }
        say(host, "Creating BSP...");
        meshstage(host, settings, result);
    } catch (const RunStopped&) {
        result.status = ExtractStatus::stopped;
    }
    return result;
}

void MapExtraction::loadstage(const std::string& path) {
    mappath = path;
    mapbytes = loadmapfile(path);
    maplength = static_cast<std::int64_t>(mapbytes.size());
}

void MapExtraction::mapinformationstage() {
    const ByteView image(mapbytes);
    requireinside(image, kMapNameField, kMapNameLength, "map name");
    for (std::int64_t i = 0; i < kMapNameLength; ++i) {
        const std::uint8_t byte = mapbytes[kMapNameField + i];
        if (byte != 0) mapname += static_cast<char>(byte);
    }
    indexoffset = readu32(image, kIndexOffsetField, true, "index offset");
    indexmagic = readu32(image, indexoffset, true, "index header") - (indexoffset + kIndexHeaderLength);
    const std::int64_t first_row = readu32(image, indexoffset + 8, true, "first tag row address") - indexmagic;
    const std::int64_t index_length = readu32(image, kIndexLengthField, true, "index length");
    metamagic = readu32(image, first_row + 8, true, "first tag's data address") - (index_length + indexoffset);
}

void MapExtraction::taginformationstage() {
    const ByteView image(mapbytes);
    const std::int64_t class_count_field = indexoffset + 4;
    classcount = readu32(image, class_count_field, true, "tag class count");
    if (classcount > kMaxClassCount) {
        throw MapError::toolarge("tag class count", classcount, class_count_field, kMaxClassCount,
                                 mapbytes.size());
    }
    tagindexstart = indexoffset + kIndexHeaderLength + classcount * kClassRowLength;
    tagcount = readu32(image, indexoffset + 24, true, "tag count");
}

void MapExtraction::tagsstage(ExtractHost& host) {
    const ByteView image(mapbytes);
    // The whole index must lie inside the file before anything is made for it;
    // that also bounds the count of names below by the file's length.
    if (!inside(tagindexstart, tagcount * kTagRowLength, image.size())) {
        throw MapError::pastend("the tag index of " + decimal(tagcount) + " rows", tagindexstart,
                                mapbytes.size());
    }
    const std::int64_t name_table = readu32(image, kNameTableField, true, "tag name table offset");
    std::int64_t at = name_table;
    tagnames_.reserve(static_cast<std::size_t>(tagcount));
    for (std::int64_t tag = 0; tag < tagcount; ++tag) {
        if (!inside(at, 1, image.size())) {
            throw MapError::pastend("the tag name table", name_table, mapbytes.size(),
                                    " in the name of tag " + decimal(tag));
        }
        const void* end = std::memchr(mapbytes.data() + at, 0, mapbytes.size() - at);
        if (end == nullptr) {
            throw MapError::pastend("the tag name table", name_table, mapbytes.size(),
                                    " in the name of tag " + decimal(tag));
        }
        const auto length = static_cast<const std::uint8_t*>(end) - (mapbytes.data() + at);
        tagnames_.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length)});
        at += length + 1;
    }
    for (std::int64_t tag = 0; tag < tagcount; ++tag) host.addtagname(cp1252toutf8(tagname(tag)));
}

void MapExtraction::scenariostage() {
    // Only the class-code field of each row is compared; the last match wins.
    // The code is stored little-endian, so "scnr" lies in the file as r n c s.
    scnrrow = -1;
    for (std::int64_t tag = 0; tag < tagcount; ++tag) {
        const std::int64_t row = tagindexstart + tag * kTagRowLength;
        const std::uint32_t code = loadu32le(mapbytes.data() + row) | 0x20202020;
        if (code == kScenarioCode) scnrrow = row;
    }
    if (scnrrow < 0) throw MapError::missing("scenario tag in the tag index", mapbytes.size());
    scnroffset = readu32(ByteView(mapbytes), scnrrow + 8, true, "scenario data address") - metamagic;
}

void MapExtraction::bspstage() {
    const ByteView image(mapbytes);
    const std::int64_t bsp_block =
        readu32(image, scnroffset + kScenarioBspField, true, "scenario's BSP block address") - metamagic;
    bspoffset = readu32(image, bsp_block, true, "BSP offset");
    bspmagic = readu32(image, bsp_block + 8, true, "BSP base address");
    requireinside(image, bspoffset + kMeshCountField, 8, "BSP header");
}

MarkerIndex findmarkers(ByteView image) {
    // Each candidate starts with the marker's first byte; memchr finds those
    // fast and reads no further than the next one, which keeps the scan
    // linear and cheap under a sanitizer too. The markers are counted first,
    // so that each list is made once at its size: a list grown by doubling
    // would hold its old and new copies at once, half again the memory.
    const std::uint8_t* const begin = image.data();
    const std::uint8_t* const end = begin + image.size();
    const auto scan = [&](auto&& found_marker) {
        const std::uint8_t* at = begin;
        while (end - at >= 4) {
            const void* found = std::memchr(at, 0x63, static_cast<std::size_t>(end - at - 3));
            if (found == nullptr) break;
            const auto* hit = static_cast<const std::uint8_t*>(found);
            if (loadu32le(hit) == kSectionMarker) {
                found_marker(static_cast<std::uint32_t>(hit - begin));
                at = hit + 4;  // the marker cannot overlap itself
            } else {
                at = hit + 1;
            }
        }
    };
    std::size_t counts[4] = {};
    scan([&](std::uint32_t position) { ++counts[position % 4]; });
    MarkerIndex markers;
    for (int remainder = 0; remainder < 4; ++remainder) markers.positions[remainder].reserve(counts[remainder]);
    scan([&](std::uint32_t position) { markers.positions[position % 4].push_back(position); });
    return markers;
}

MeshSections findsections(const MarkerIndex& markers, std::int64_t rawoffset, std::int64_t rawsize) {
    MeshSections sections;
    if (rawoffset < 0 || rawsize < 4) return sections;
    const auto& candidates = markers.positions[rawoffset % 4];
    const std::int64_t last = rawoffset + rawsize - 4;  // the last position whose bytes are inside
    auto it = std::lower_bound(candidates.begin(), candidates.end(), rawoffset,
                               [](std::uint32_t position, std::int64_t start) { return position < start; });
    std::int64_t hits = 0;
    for (; it != candidates.end() && static_cast<std::int64_t>(*it) <= last && hits < 8; ++it) {
        const std::int64_t k = *it;
        switch (++hits) {
            case 3: sections.facestart = k + 4; break;
            case 4: sections.facelength = k - sections.facestart; break;
            case 7: sections.vertexstart = k + 4; break;
            case 8: sections.vertexlength = k - sections.vertexstart; break;
            default: break;
        }
    }
    return sections;
}

// Where a run's files go: the parent of the map's folder and of the
// whole-level files, and whether the folder is there to take mesh files.
struct MapExtraction::Output {
    std::unique_ptr<DiskFiles> disk;  // the run's own, when the host gave none
    OutputFiles* files = nullptr;
    std::filesystem::path parent;
    bool parentready = true;  // false once the parent could not be made
    bool folderready = false;
};

// Makes the parent the user named, once, when the run first writes there.
void MapExtraction::parentstage(ExtractHost& host, const ExtractSettings& settings, Output& output,
                                ExtractResult& result) {
    if (!settings.createoutputparent || parentmade_) return;
    parentmade_ = true;
    const std::error_code failure = output.files->createpath(output.parent);
    if (!failure) return;
    output.parentready = false;
    ++result.writefailures;
    sayproblem(host, "Could not create folder " + output.parent.string() + ": " + failure.message());
}

void MapExtraction::meshstage(ExtractHost& host, const ExtractSettings& settings, ExtractResult& result) {
    Output output = outputstage(host, settings, result);
    try {
        planstage();
    } catch (const std::bad_alloc&) {
        plan = MeshPlan{};
        meshrawoffset = meshrawsize = meshfacestart = meshfacelength = meshvertexstart = meshvertexlength = {};
        result.outofmemory = true;
        sayproblem(host, "Not enough memory to find the meshes' sections");
    }
    result.meshcount = plan.meshcount;
    result.meshesread = static_cast<std::int64_t>(plan.meshes.size());
    if (result.meshesread < result.meshcount) {
        sayproblem(host, "Mesh table runs past the end of the map file; " + decimal(result.meshesread) + " of " +
                      decimal(result.meshcount) + " meshes read");
    }
    writemeshes(host, settings, output, result);
    if (!result.outofmemory) writelevelfiles(host, settings, output, result);
    for (const std::string_view line : {"Locating Collections...", "Locating Scenery...",
                                        "Initializing 3D Window..."}) {
        say(host, line);
    }
    const bool complete = result.writefailures == 0 && result.meshesskipped == 0 &&
                          result.meshesread == result.meshcount && !result.outofmemory;
    result.status = complete ? ExtractStatus::complete : ExtractStatus::incomplete;
}

MapExtraction::Output MapExtraction::outputstage(ExtractHost& host, const ExtractSettings& settings,
                                                 ExtractResult& result) {
    Output output;
    if (settings.files == nullptr) output.disk = std::make_unique<DiskFiles>();
    output.files = settings.files != nullptr ? settings.files : output.disk.get();
    output.parent = settings.outputparent;
    foldername = outputfoldername(mapname, std::filesystem::path(mappath).filename().string());
    if (!settings.formats.meshes) return output;
    parentstage(host, settings, output, result);
    if (!output.parentready) return output;

    // The map's folder. A folder already there is used as it is.
    std::error_code failure = settings.outputparentsystem && !settings.fallbackparent.empty()
                                  ? std::make_error_code(std::errc::permission_denied)
                                  : output.files->createfolder(output.parent / foldername);
    if (failure && isNotWritable(failure) && !settings.fallbackparent.empty()) {
        if (!output.files->createfolder(settings.fallbackparent / foldername)) {
            output.parent = settings.fallbackparent;
            failure = {};
            say(host, "Program folder is not writable; writing to " + shownPath(output.parent, foldername));
        }
    }
    if (failure) {
        ++result.writefailures;
        sayproblem(host, "Could not create folder " + shownPath(output.parent, foldername) + ": " + failure.message());
        return output;
    }
    output.folderready = true;
    result.outputfolder = output.parent / foldername;
    return output;
}

void MapExtraction::planstage() {
    // The mesh table: only entries that lie wholly inside the file are used.
    // The BSP header was checked to lie inside by the stage before.
    const ByteView image(mapbytes);
    plan.meshcount = readu32(image, bspoffset + kMeshCountField, true);
    const std::int64_t meshtable = readu32(image, bspoffset + kMeshTableField, true) - bspmagic;
    const std::int64_t table_start = bspoffset + meshtable;
    std::int64_t meshes_read = 0;
    if (table_start >= 0 && table_start <= maplength) {
        meshes_read = std::min(plan.meshcount, (maplength - table_start) / kMeshEntryLength);
    }
    const auto slots = static_cast<std::size_t>(meshes_read);
    meshrawoffset.assign(slots, 0);
    meshrawsize.assign(slots, 0);
    meshfacestart.assign(slots, 0);
    meshfacelength.assign(slots, 0);
    meshvertexstart.assign(slots, 0);
    meshvertexlength.assign(slots, 0);
    for (std::size_t m = 0; m < slots; ++m) {
        const std::int64_t entry = table_start + static_cast<std::int64_t>(m) * kMeshEntryLength;
        meshrawoffset[m] = loadu32le(mapbytes.data() + entry + kRawOffsetField);
        meshrawsize[m] = loadu32le(mapbytes.data() + entry + kRawSizeField);
    }
    scanmeshes();

    plan.meshes.assign(slots, PlannedMesh{});
    std::int64_t sections_planned = 0;
    for (std::size_t m = 0; m < slots; ++m) {
        PlannedMesh& mesh = plan.meshes[m];
        mesh.number = static_cast<std::int64_t>(m);
        if (!inside(meshrawoffset[m], meshrawsize[m], image.size())) {
            mesh.skip = MeshSkip::outside;
            continue;
        }
        // Sections of different meshes that do not overlap add up to at most
        // the file's length. Past that, meshes share data, and a map of many
        // entries naming the same large data would write without end.
        const std::int64_t section_bytes = meshfacelength[m] + meshvertexlength[m];
        if (section_bytes > maplength - sections_planned) {
            mesh.skip = MeshSkip::shared;
            continue;
        }
        sections_planned += section_bytes;
        mesh.vertices = image.subspan(meshvertexstart[m], meshvertexlength[m]);
        mesh.faces = image.subspan(meshfacestart[m], meshfacelength[m]);
    }
}

void MapExtraction::writemeshes(ExtractHost& host, const ExtractSettings& settings, const Output& output,
                                ExtractResult& result) {
    // What the whole-level files need of each mesh, found before any is written.
    std::vector<MeshSummary> summaries;
    if (settings.formats.levelfiles()) {
        try {
            summaries.reserve(plan.meshes.size());
            for (const PlannedMesh& mesh : plan.meshes) summaries.push_back(summarizemesh(mesh, settings.up));
        } catch (const std::bad_alloc&) {
            summaries = {};
            summariesfailed_ = true;
        }
    }
    const bool write_meshes = settings.formats.meshes && output.folderready;
    const std::filesystem::path folder = output.parent / foldername;
    const auto write = [&](const PlannedMesh& mesh, LineFormatter& formatter) {
        MeshFileText text(mesh.vertices, mesh.faces, formatter);
        // The folder is made again, in case it went away during the run.
        std::error_code failure = output.files->createfolder(folder);
        if (!failure) failure = output.files->replacefile(folder / ("mesh" + decimal(mesh.number) + ".obj"), text);
        return failure;
    };
    MeshFileWriters writers(plan, write_meshes ? settings.jobs : 1, write);
    for (const PlannedMesh& mesh : plan.meshes) {
        const std::string number = decimal(mesh.number);
        say(host, "Making Mesh #" + number);
        if (mesh.skip == MeshSkip::outside) {
            ++result.meshesskipped;
            sayproblem(host, "Mesh #" + number + " skipped: its data lies outside the map file");
            continue;
        }
        if (mesh.skip == MeshSkip::shared) {
            ++result.meshesskipped;
            sayproblem(host, "Mesh #" + number + " skipped: the meshes share more data than the map file holds");
            continue;
        }
        if (!summaries.empty() && summaries[static_cast<std::size_t>(mesh.number)].facesoutside > 0) {
            sayproblem(host, "Mesh #" + number + ": " +
                          decimal(summaries[static_cast<std::size_t>(mesh.number)].facesoutside) +
                          " faces name vertices the mesh does not have; left out of the whole-level files");
        }
        if (!write_meshes) continue;
        const std::error_code failure = writers.take(static_cast<std::size_t>(mesh.number));
        if (failure) {
            ++result.writefailures;
            sayproblem(host, "Could not write " + shownPath(output.parent, foldername + "/mesh" + number + ".obj") +
                                 ": " + failure.message());
        } else {
            ++result.mesheswritten;
        }
    }
    summaries_ = std::move(summaries);
}

void MapExtraction::writelevelfiles(ExtractHost& host, const ExtractSettings& settings, Output& output,
                                    ExtractResult& result) {
    if (!settings.formats.levelfiles()) return;
    parentstage(host, settings, output, result);
    if (!output.parentready) return;
    const std::pair<bool, LevelFormat> levels[] = {{settings.formats.obj, LevelFormat::obj},
                                                   {settings.formats.glb, LevelFormat::glb}};
    for (const auto& [wanted, format] : levels) {
        if (!wanted) continue;
        const std::string name = foldername + (format == LevelFormat::obj ? ".obj" : ".glb");
        const std::error_code failure = summariesfailed_ ? std::make_error_code(std::errc::not_enough_memory)
                                                         : writelevel(format, settings.up, summaries_,
                                                                      output.parent / name, *output.files,
                                                                      settings.jobs);
        if (failure) {
            ++result.writefailures;
            sayproblem(host, "Could not write " + shownPath(output.parent, name) + ": " + failure.message());
        } else {
            result.levelfiles.push_back(output.parent / name);
        }
    }
}

std::error_code MapExtraction::writelevel(LevelFormat format, UpAxis up, const std::filesystem::path& file,
                                          OutputFiles* files) const {
    try {
        std::vector<MeshSummary> summaries;
        summaries.reserve(plan.meshes.size());
        for (const PlannedMesh& mesh : plan.meshes) summaries.push_back(summarizemesh(mesh, up));
        const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
        if (files != nullptr) return writelevel(format, up, summaries, file, *files, threads);
        DiskFiles disk;
        return writelevel(format, up, summaries, file, disk, threads);
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

std::error_code MapExtraction::writelevel(LevelFormat format, UpAxis up, const std::vector<MeshSummary>& summaries,
                                          const std::filesystem::path& file, OutputFiles& files,
                                          unsigned threads) const {
    LevelInfo info;
    info.threads = threads;
    info.mapname = cp1252toutf8(mapname);
    info.folder = foldername;
    info.up = up;
    try {
        const std::unique_ptr<TextSource> text = format == LevelFormat::obj ? levelobjsource(plan, summaries, info)
                                                                            : levelglbsource(plan, summaries, info);
        return files.replacefile(file, *text);
    } catch (const std::length_error&) {
        return std::make_error_code(std::errc::file_too_large);  // past what a glb can state
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

void MapExtraction::scanmeshes() {
    const MarkerIndex markers = findmarkers(ByteView(mapbytes));
    for (std::size_t m = 0; m < meshrawoffset.size(); ++m) {
        if (!inside(meshrawoffset[m], meshrawsize[m], mapbytes.size())) continue;
        const MeshSections sections = findsections(markers, meshrawoffset[m], meshrawsize[m]);
        meshfacestart[m] = sections.facestart;
        meshfacelength[m] = sections.facelength;
        meshvertexstart[m] = sections.vertexstart;
        meshvertexlength[m] = sections.vertexlength;
    }
}

std::string MapExtraction::tagclass(std::int64_t tag) const {
    return readfourcc(ByteView(mapbytes), tagindexstart + tag * kTagRowLength, true, "tag row");
}

std::uint32_t MapExtraction::tagid(std::int64_t tag) const {
    return readu32(ByteView(mapbytes), tagindexstart + tag * kTagRowLength + 4, true, "tag row");
}

std::int64_t MapExtraction::tagoffset(std::int64_t tag) const {
    return readu32(ByteView(mapbytes), tagindexstart + tag * kTagRowLength + 8, true, "tag row") - metamagic;
}

std::uint32_t MapExtraction::tagsize(std::int64_t tag) const {
    return readu32(ByteView(mapbytes), tagindexstart + tag * kTagRowLength + 12, true, "tag row");
}

std::string_view MapExtraction::tagname(std::int64_t tag) const {
    const NameSpan span = tagnames_.at(static_cast<std::size_t>(tag));
    return {reinterpret_cast<const char*>(mapbytes.data()) + span.start, span.length};
}

}  // namespace v2bsp
