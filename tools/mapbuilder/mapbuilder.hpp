// The synthetic map builder: writes a valid "Vorun 2" map from a list of meshes,
// tells where every structure landed, and damages maps on purpose for tests.
//
// Layout of a built map, in file order (all numbers little-endian, all
// structures 4-byte aligned, `filler` extra bytes after each structure):
//   header (2048 bytes: file length at 8, indexoffset at 16, index area length
//     at 20, map name at 408..440, name-table offset at 708)
//   name table (one zero-terminated name per tag row, zero padded to 4)
//   index header (32 bytes) at indexoffset, the tag-class table (classcount
//     rows of 12 bytes), the tag rows (16 bytes each), 16 bytes of index tail
//   tag data area at indexoffset + index area length: each row's data in row
//     order; the scenario's data holds at +532 the address of its BSP block,
//     whose one element follows the scenario body
//   BSP header (192 bytes: meshcount at +172, mesh-table address at +176)
//   mesh table (176 bytes per mesh: raw data offset at +40, raw size at +44)
//   raw data of each mesh, divided by the section marker:
//     M1 M2 M3 faces M4 filler M5 M6 M7 vertices M8 tail
// Addresses are file offsets plus a magic: indexmagic in the index area,
// metamagic for tag data, bspmagic inside the BSP (relative to bspoffset).
// Bytes no structure claims hold a pattern of values 0xC0..0xFF, which never
// spells the section marker or a class code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace v2bsp::mapbuilder {

// The 32-bit value that divides a mesh's raw data; file bytes 63 72 73 72.
inline constexpr std::uint32_t kSectionMarker = 0x72737263;
inline constexpr std::size_t kMarkersPerMesh = 8;
inline constexpr std::size_t kMapNameOffset = 408;
inline constexpr std::size_t kMapNameLength = 33;
inline constexpr std::size_t kHeaderSize = 2048;
inline constexpr std::size_t kIndexHeaderSize = 32;
inline constexpr std::size_t kClassRowSize = 12;
inline constexpr std::size_t kTagRowSize = 16;
inline constexpr std::size_t kScenarioBlockField = 532;
inline constexpr std::size_t kBspHeaderSize = 192;
inline constexpr std::size_t kMeshEntrySize = 176;
// Largest classcount whose table the extractor can skip (12 * 2730 fits a signed 16-bit value).
inline constexpr std::uint32_t kMaxReadableClassCount = 2730;

struct Vertex {
    float x, y, z;
};

// Indices count from 0 within the triangle's own mesh; they are not checked
// against the mesh's vertex count.
struct Triangle {
    std::uint16_t a, b, c;
};

struct Mesh {
    std::vector<Vertex> vertices;
    std::vector<Triangle> triangles;
};

// Everything a built map holds. The tag index gets tagnames.size() + 2 rows:
// the scenario row at `scenariorow`, the BSP row at `bsprow`, and the names of
// `tagnames` in order in the remaining rows.
struct Scene {
    std::string mapname;                // at most 33 bytes, any values; zero padded
    std::vector<std::string> tagnames;  // names of the other tag rows; no zero bytes
    std::vector<Mesh> meshes;           // the BSP's meshes, in mesh-table order
    std::string scenarioname = "levels\\scenario";
    std::string bspname = "levels\\scenario bsp";
    std::size_t scenariorow = 0;     // row index, at most tagnames.size() + 1
    std::size_t bsprow = 1;          // row index, at most tagnames.size() + 1, not scenariorow
    std::uint32_t classcount = 4;    // rows of the tag-class table (above 2730 the extractor must refuse the map)
    bool uppercasescenario = false;  // store the scenario's class code as SCNR
    std::uint32_t filler = 0;        // extra bytes after every structure and between markers; multiple of 4
    std::uint32_t indexmagic = 0x11A00000;  // the three magics: non-zero and distinct
    std::uint32_t metamagic = 0x23400000;
    std::uint32_t bspmagic = 0x35C00000;
};

struct TagRowLayout {
    std::string name;
    std::uint32_t classcode = 0;  // the little-endian fourcc as stored
    std::uint32_t id = 0;
    std::int64_t row = 0;   // file offset of the 16-byte row
    std::int64_t data = 0;  // file offset of the tag's data
    std::uint32_t datasize = 0;
};

struct MeshLayout {
    std::int64_t entry = 0;                               // file offset of the 176-byte mesh-table entry
    std::int64_t raw = 0;                                 // raw data offset (entry +40)
    std::int64_t rawsize = 0;                             // raw data size (entry +44)
    std::array<std::int64_t, kMarkersPerMesh> markers{};  // file offsets of markers 1..8
    std::int64_t faceStart = 0;                           // marker 3 + 4
    std::int64_t faceLength = 0;                          // bytes up to marker 4, zero padding included
    std::int64_t vertexStart = 0;                         // marker 7 + 4
    std::int64_t vertexLength = 0;                        // bytes up to marker 8
};

// File offsets of every structure of a built map. Offsets stay those of the
// map as built; a corruption changes the bytes, not this record.
struct MapLayout {
    std::int64_t filelength = 0;
    std::int64_t nametable = 0;        // value at 708
    std::int64_t nametablelength = 0;  // names and their zero bytes, without padding
    std::int64_t indexoffset = 0;      // value at 16
    std::int64_t indexlength = 0;      // value at 20
    std::int64_t classtable = 0;       // indexoffset + 32
    std::uint32_t classcount = 0;
    std::int64_t tagindexstart = 0;  // classtable + 12 * classcount
    std::int64_t tagindexend = 0;    // tagindexstart + 16 * tagcount: the index tail
    std::int64_t tagdataarea = 0;    // indexoffset + indexlength
    std::vector<TagRowLayout> tags;  // in row order
    std::size_t scenariorow = 0;
    std::size_t bsprow = 0;
    std::int64_t scenariodata = 0;
    std::int64_t bspblock = 0;   // the BSP block element
    std::int64_t bspoffset = 0;  // the BSP header
    std::int64_t meshtable = 0;
    std::uint32_t indexmagic = 0;
    std::uint32_t metamagic = 0;
    std::uint32_t bspmagic = 0;
    std::vector<MeshLayout> meshes;
};

struct BuiltMap {
    std::vector<std::uint8_t> bytes;
    MapLayout layout;
};

// Some data would put the section marker at a 4-byte aligned position of a
// mesh's raw data, where it would be taken for a section boundary.
class MarkerCollision : public std::invalid_argument {
public:
    MarkerCollision(std::size_t mesh, std::int64_t offset, const std::string& culprit);
    std::size_t mesh() const { return mesh_; }
    std::int64_t offset() const { return offset_; }

private:
    std::size_t mesh_;
    std::int64_t offset_;
};

// Writes the map described by `scene`. Throws MarkerCollision when a vertex or
// a triangle spells the marker at an aligned raw-data position, and
// std::invalid_argument for a scene it cannot honour (name too long or holding
// a zero byte, bad row positions, filler not a multiple of 4, a zero or
// repeated magic, an address that would pass 2^32, a class code that would
// read as "scnr" outside the scenario row).
BuiltMap buildMap(const Scene& scene);

// Stores `value` little-endian at `offset`; throws std::out_of_range unless
// the four bytes lie inside `bytes`.
void pokeu32(std::vector<std::uint8_t>& bytes, std::int64_t offset, std::uint32_t value);

// Cuts the map to its first `length` bytes (no-op when it is not longer).
void truncateMap(BuiltMap& map, std::size_t length);

// The class code `text` (four characters) as the little-endian value a tag row stores.
std::uint32_t fourcc(std::string_view text);

enum class Corruption {
    TagCountHuge,
    TagIndexPastEnd,
    NameTableOffsetPastEnd,
    NameTablePastEnd,
    NameTableUnterminated,
    NoScenarioRow,
    UpperCaseScenario,
    TwoScenarioRows,
    BspBlockOutside,
    BspHeaderOutside,
    MeshCountHuge,
    MeshTableCutShort,
    RawOffsetHuge,
    RawSizeHuge,
    RawRangePastEnd,
    MeshWithoutMarkers,
    MeshWithThreeMarkers,
    MarkerInLastFourBytes,
    MarkerNotAligned,
    Truncated,
    ClassCount2731,
    MapNameWithPath,
    MapNameEmpty,
};

struct CorruptionCase {
    Corruption id;
    std::string_view name;      // the command-line name, e.g. "tagcount-huge"
    std::string_view expected;  // what the extractor is expected to do with it
    // Damages a map built by buildMap with at least one mesh. Throws
    // std::invalid_argument for a map it cannot damage that way.
    void (*apply)(BuiltMap&);
};

// Every corruption, in enum order.
std::span<const CorruptionCase> corruptions();
// The case named `name`, or nullptr.
const CorruptionCase* findCorruption(std::string_view name);
const CorruptionCase& corruptionCase(Corruption id);

// A room of about ten meshes (floor, walls, pillars, steps), a few thousand
// triangles, map name "sample room". Coordinates are in metres, y up.
Scene samplescene();

// A map of `meshes` meshes sharing `vertices` vertices and `triangles`
// triangles as evenly as possible; the vertices are distinct, non-zero
// floats of terrain patches and every triangle uses three different
// vertices of its mesh. Throws std::invalid_argument when a mesh would need
// more than 65536 vertices, or triangles without three vertices.
Scene largeScene(std::uint32_t meshes, std::uint64_t vertices, std::uint64_t triangles);

// The meshes of largeScene with what real levels hold instead of terrain
// patches, map name "scattered test": every coordinate anywhere from -5000
// to 5000 and every triangle three different vertices of its mesh anywhere
// in it, all drawn from `seed` (the same seed, the same map).
Scene scatteredScene(std::uint32_t meshes, std::uint64_t vertices, std::uint64_t triangles, std::uint64_t seed);

// Meshes of every awkward shape, map name "edge meshes": a strip whose faces
// include ones naming missing vertices (the index 65535 among them) and
// degenerate ones (each pair of corners equal in turn), a mesh with faces but
// no vertex, one with vertices but no face, one with neither, and a mesh of
// 65536 vertices whose triangles use the index 65535.
Scene edgeScene();

// The v2bsp-mkmap command, with `args` the arguments after the program name.
// Writes the map file through a temporary file renamed into place. Returns
// the exit status: 0 done, 1 failed (message on `err`), 2 bad usage.
int runMkmap(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

}  // namespace v2bsp::mapbuilder
