#include <algorithm>
#include <cstring>
#include <string>

#include "extract/extraction.hpp"
#include "extract/safename.hpp"
#include "extract/sections.hpp"
#include "platform/utf8path.hpp"

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

// "scnr" as the little-endian value of its stored bytes. Setting bit 5 of each
// byte folds upper-case letters onto lower-case ones; no byte outside the
// letters folds onto s, c, n or r.
constexpr std::uint32_t kScenarioCode = 's' << 24 | 'c' << 16 | 'n' << 8 | 'r';

std::string decimal(std::int64_t value) {
    return std::to_string(value);
}

}  // namespace

void MapExtraction::loadStage(const std::string& path, WorkerPool* pool) {
    mappath = path;
    mapbytes = loadMapFile(pathFromUtf8(path), &mapIdentity_, pool);
    maplength = static_cast<std::int64_t>(mapbytes.size());
}

void MapExtraction::copyStage(ByteView bytes, const std::string& path) {
    mappath = path;
    if (bytes.empty()) throw MapError::file(MapErrorKind::empty, path);
    mapbytes.assign(bytes.begin(), bytes.end());
    maplength = static_cast<std::int64_t>(mapbytes.size());
}

void MapExtraction::mapInformationStage() {
    const ByteView image(mapbytes);
    requireInside(image, kMapNameField, kMapNameLength, "map name");
    for (std::int64_t i = 0; i < kMapNameLength; ++i) {
        const std::uint8_t byte = mapbytes[kMapNameField + i];
        if (byte != 0) mapname += static_cast<char>(byte);
    }
    indexoffset = readu32(image, kIndexOffsetField, true, "index offset");
    indexmagic = readu32(image, indexoffset, true, "index header") - (indexoffset + kIndexHeaderLength);
    const std::int64_t firstRow = readu32(image, indexoffset + 8, true, "first tag row address") - indexmagic;
    const std::int64_t indexLength = readu32(image, kIndexLengthField, true, "index length");
    metamagic = readu32(image, firstRow + 8, true, "first tag's data address") - (indexLength + indexoffset);
}

void MapExtraction::tagInformationStage() {
    const ByteView image(mapbytes);
    const std::int64_t classCountField = indexoffset + 4;
    classcount = readu32(image, classCountField, true, "tag class count");
    if (classcount > kMaxClassCount) {
        throw MapError::tooLarge("tag class count", classcount, classCountField, kMaxClassCount, mapbytes.size());
    }
    tagindexstart = indexoffset + kIndexHeaderLength + classcount * kClassRowLength;
    tagcount = readu32(image, indexoffset + 24, true, "tag count");
}

void MapExtraction::tagsStage(ExtractHost& host) {
    const ByteView image(mapbytes);
    // The whole index must lie inside the file before anything is made for it;
    // that also bounds the count of names below by the file's length.
    if (!inside(tagindexstart, tagcount * kTagRowLength, image.size())) {
        throw MapError::pastEnd("the tag index of " + decimal(tagcount) + " rows", tagindexstart, mapbytes.size());
    }
    const std::int64_t nameTable = readu32(image, kNameTableField, true, "tag name table offset");
    std::int64_t at = nameTable;
    tagNames_.reserve(static_cast<std::size_t>(tagcount));
    for (std::int64_t tag = 0; tag < tagcount; ++tag) {
        if (!inside(at, 1, image.size())) {
            throw MapError::pastEnd("the tag name table", nameTable, mapbytes.size(),
                                    " in the name of tag " + decimal(tag));
        }
        const void* end = std::memchr(mapbytes.data() + at, 0, mapbytes.size() - at);
        if (end == nullptr) {
            throw MapError::pastEnd("the tag name table", nameTable, mapbytes.size(),
                                    " in the name of tag " + decimal(tag));
        }
        const auto length = static_cast<const std::uint8_t*>(end) - (mapbytes.data() + at);
        tagNames_.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length)});
        at += length + 1;
    }
    for (std::int64_t tag = 0; tag < tagcount; ++tag) host.addTagName(cp1252ToUtf8(tagname(tag)));
}

void MapExtraction::scenarioStage() {
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

void MapExtraction::bspStage() {
    const ByteView image(mapbytes);
    const std::int64_t bspBlock =
        readu32(image, scnroffset + kScenarioBspField, true, "scenario's BSP block address") - metamagic;
    bspoffset = readu32(image, bspBlock, true, "BSP offset");
    bspmagic = readu32(image, bspBlock + 8, true, "BSP base address");
    requireInside(image, bspoffset + kMeshCountField, 8, "BSP header");
}

void MapExtraction::planStage() {
    // The mesh table: only entries that lie wholly inside the file are used.
    // The BSP header was checked to lie inside by the stage before.
    const ByteView image(mapbytes);
    plan.meshcount = readu32(image, bspoffset + kMeshCountField, true);
    const std::int64_t meshtable = readu32(image, bspoffset + kMeshTableField, true) - bspmagic;
    const std::int64_t tableStart = bspoffset + meshtable;
    std::int64_t meshesRead = 0;
    if (tableStart >= 0 && tableStart <= maplength) {
        meshesRead = std::min(plan.meshcount, (maplength - tableStart) / kMeshEntryLength);
    }
    const MarkerIndex markers = findMarkers(image);
    plan.meshes.assign(static_cast<std::size_t>(meshesRead), PlannedMesh{});
    std::int64_t sectionsPlanned = 0;
    for (std::int64_t m = 0; m < meshesRead; ++m) {
        PlannedMesh& mesh = plan.meshes[static_cast<std::size_t>(m)];
        mesh.number = m;
        const std::uint8_t* entry = mapbytes.data() + tableStart + m * kMeshEntryLength;
        const std::int64_t rawoffset = loadu32le(entry + kRawOffsetField);
        const std::int64_t rawsize = loadu32le(entry + kRawSizeField);
        if (!inside(rawoffset, rawsize, image.size())) {
            mesh.skip = MeshSkip::outside;
            continue;
        }
        // Sections of different meshes that do not overlap add up to at most
        // the file's length. Past that, meshes share data, and a map of many
        // entries naming the same large data would write without end.
        const MeshSections sections = findSections(markers, rawoffset, rawsize);
        const std::int64_t sectionBytes = sections.faceLength + sections.vertexLength;
        if (sectionBytes > maplength - sectionsPlanned) {
            mesh.skip = MeshSkip::shared;
            continue;
        }
        sectionsPlanned += sectionBytes;
        mesh.vertices = image.subspan(sections.vertexStart, sections.vertexLength);
        mesh.faces = image.subspan(sections.faceStart, sections.faceLength);
    }
}

std::string_view MapExtraction::tagname(std::int64_t tag) const {
    const NameSpan span = tagNames_.at(static_cast<std::size_t>(tag));
    return {reinterpret_cast<const char*>(mapbytes.data()) + span.start, span.length};
}

}  // namespace v2bsp
