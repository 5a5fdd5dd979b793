#include "extract/extractmap.hpp"

#include <algorithm>
#include <cstring>
#include <thread>

#include "extract/meshtext.hpp"
#include "extract/safename.hpp"

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

class NotAMap : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

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

bool MapExtraction::log(ExtractHost& host, std::string_view line) {
    host.logline(line);
    return host.keepgoing();
}

ExtractResult MapExtraction::extractmap(const std::string& path, ExtractHost& host,
                                        const ExtractSettings& settings) {
    *this = MapExtraction{};
    ExtractResult result;
    const auto stopped = [&result] {
        result.status = ExtractStatus::stopped;
        return result;
    };
    try {
        if (!log(host, "Loading Map...")) return stopped();
        loadstage(path);
        if (!log(host, "Finding map information...")) return stopped();
        mapinformationstage();
        if (!log(host, "Getting tag information...")) return stopped();
        taginformationstage();
        if (!log(host, "Loading tags...")) return stopped();
        tagsstage(host);
        if (settings.until == ExtractUntil::tags) return result;
        if (!log(host, "Locating Scnr...")) return stopped();
        scenariostage();
        if (!log(host, "Locating BSP...")) return stopped();
        bspstage();
    } catch (const std::bad_alloc&) {
        result.status = ExtractStatus::failed;
        host.mapfailed({std::string(kNotAMapMessage), "not enough memory to hold the map"});
        return result;
    } catch (const std::exception& failure) {
        result.status = ExtractStatus::failed;
        host.mapfailed({std::string(kNotAMapMessage), failure.what()});
        return result;
    }
    if (!log(host, "Creating BSP...")) return stopped();
    meshstage(host, settings, result);
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
        throw NotAMap("tag class count " + decimal(classcount) + " at offset " +
                      decimal(class_count_field) + " is too large (at most " +
                      decimal(kMaxClassCount) + ")");
    }
    tagindexstart = indexoffset + kIndexHeaderLength + classcount * kClassRowLength;
    tagcount = readu32(image, indexoffset + 24, true, "tag count");
}

void MapExtraction::tagsstage(ExtractHost& host) {
    const ByteView image(mapbytes);
    // The whole index must lie inside the file before anything is made for it;
    // that also bounds the count of names below by the file's length.
    if (!inside(tagindexstart, tagcount * kTagRowLength, image.size())) {
        throw NotAMap("the tag index of " + decimal(tagcount) + " rows at offset " +
                      decimal(tagindexstart) + " runs past the end of the file (length " +
                      decimal(maplength) + ")");
    }
    const std::int64_t name_table = readu32(image, kNameTableField, true, "tag name table offset");
    std::int64_t at = name_table;
    tagnames_.reserve(static_cast<std::size_t>(tagcount));
    for (std::int64_t tag = 0; tag < tagcount; ++tag) {
        if (!inside(at, 1, image.size())) {
            throw NotAMap("the tag name table at offset " + decimal(name_table) +
                          " runs past the end of the file (length " + decimal(maplength) +
                          ") in the name of tag " + decimal(tag));
        }
        const void* end = std::memchr(mapbytes.data() + at, 0, mapbytes.size() - at);
        if (end == nullptr) {
            throw NotAMap("the tag name table at offset " + decimal(name_table) +
                          " runs past the end of the file (length " + decimal(maplength) +
                          ") in the name of tag " + decimal(tag));
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
    if (scnrrow < 0) throw NotAMap("no scenario tag in the tag index");
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
    MarkerIndex markers;
    constexpr std::uint8_t kMarkerBytes[4] = {0x63, 0x72, 0x73, 0x72};
    const std::uint8_t* const begin = image.data();
    const std::uint8_t* at = begin;
    std::size_t left = image.size();
    while (left >= 4) {
        const void* found = ::memmem(at, left, kMarkerBytes, 4);
        if (found == nullptr) break;
        const auto* hit = static_cast<const std::uint8_t*>(found);
        const auto position = static_cast<std::uint32_t>(hit - begin);
        markers.positions[position % 4].push_back(position);
        left -= static_cast<std::size_t>(hit + 4 - at);
        at = hit + 4;
    }
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

void MapExtraction::meshstage(ExtractHost& host, const ExtractSettings& settings, ExtractResult& result) {
    OutputFiles& files = settings.files != nullptr ? *settings.files : diskfiles();
    const ByteView image(mapbytes);

    // The output folder. A folder already there is used as it is.
    const std::string folder_name = outputfoldername(mapname, std::filesystem::path(mappath).filename().string());
    std::filesystem::path parent = settings.outputparent;
    std::error_code folder_failure = files.createfolder(parent / folder_name);
    if (folder_failure && isNotWritable(folder_failure) && !settings.fallbackparent.empty()) {
        const std::error_code fallback_failure = files.createfolder(settings.fallbackparent / folder_name);
        if (!fallback_failure) {
            parent = settings.fallbackparent;
            folder_failure = {};
            if (!log(host, "Program folder is not writable; writing to " + shownPath(parent, folder_name))) {
                result.status = ExtractStatus::stopped;
                return;
            }
        }
    }
    const std::filesystem::path folder = parent / folder_name;
    if (folder_failure) {
        ++result.writefailures;
        if (!log(host, "Could not create folder " + shownPath(parent, folder_name) + ": " +
                           folder_failure.message())) {
            result.status = ExtractStatus::stopped;
            return;
        }
    } else {
        result.outputfolder = folder;
    }

    // The mesh table: only entries that lie wholly inside the file are used.
    // The BSP header was checked to lie inside by the stage before.
    const std::int64_t meshcount = readu32(image, bspoffset + kMeshCountField, true);
    const std::int64_t meshtable = readu32(image, bspoffset + kMeshTableField, true) - bspmagic;
    const std::int64_t table_start = bspoffset + meshtable;
    std::int64_t meshes_read = 0;
    if (table_start >= 0 && table_start <= maplength) {
        meshes_read = std::min(meshcount, (maplength - table_start) / kMeshEntryLength);
    }
    result.meshcount = meshcount;
    result.meshesread = meshes_read;
    if (meshes_read < meshcount) {
        if (!log(host, "Mesh table runs past the end of the map file; " + decimal(meshes_read) +
                           " of " + decimal(meshcount) + " meshes read")) {
            result.status = ExtractStatus::stopped;
            return;
        }
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

    LineFormatter formatter(folder_failure ? 1 : std::min(2u, std::max(1u, std::thread::hardware_concurrency())));
    std::int64_t sections_written = 0;
    for (std::size_t m = 0; m < slots; ++m) {
        const std::string number = decimal(static_cast<std::int64_t>(m));
        if (!log(host, "Making Mesh #" + number)) {
            result.status = ExtractStatus::stopped;
            return;
        }
        if (!inside(meshrawoffset[m], meshrawsize[m], image.size())) {
            ++result.meshesskipped;
            if (!log(host, "Mesh #" + number + " skipped: its data lies outside the map file")) {
                result.status = ExtractStatus::stopped;
                return;
            }
            continue;
        }
        // Sections of different meshes that do not overlap add up to at most
        // the file's length. Past that, meshes share data, and a map of many
        // entries naming the same large data would write without end.
        const std::int64_t section_bytes = meshfacelength[m] + meshvertexlength[m];
        if (section_bytes > maplength - sections_written) {
            ++result.meshesskipped;
            if (!log(host, "Mesh #" + number + " skipped: the meshes share more data than the map file holds")) {
                result.status = ExtractStatus::stopped;
                return;
            }
            continue;
        }
        sections_written += section_bytes;
        if (folder_failure) continue;
        MeshFileText text(image.subspan(meshvertexstart[m], meshvertexlength[m]),
                          image.subspan(meshfacestart[m], meshfacelength[m]), formatter);
        // The folder is made again, in case it went away during the run.
        std::error_code failure = files.createfolder(folder);
        if (!failure) failure = files.replacefile(folder / ("mesh" + number + ".obj"), text);
        if (failure) {
            ++result.writefailures;
            if (!log(host, "Could not write " + shownPath(parent, folder_name + "/mesh" + number + ".obj") +
                               ": " + failure.message())) {
                result.status = ExtractStatus::stopped;
                return;
            }
        } else {
            ++result.mesheswritten;
        }
    }

    for (const std::string_view line : {"Locating Collections...", "Locating Scenery...",
                                        "Initializing 3D Window..."}) {
        if (!log(host, line)) {
            result.status = ExtractStatus::stopped;
            return;
        }
    }
    const bool complete = result.writefailures == 0 && result.meshesskipped == 0 && meshes_read == meshcount;
    result.status = complete ? ExtractStatus::complete : ExtractStatus::incomplete;
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
