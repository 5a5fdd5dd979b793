// The sentences the windows show: numbers with thousands separators, the 3D
// View's status line, the log's last line after a run, the line that keeps a
// refused map's reason in the log, and the About text.
//
// Numbers are grouped in threes with the separator the host takes from its
// locale (UTF-8, e.g. "," or "." or a narrow no-break space); an empty
// separator writes plain digits. Paths are the file system's bytes, as the
// core's log lines carry them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "extract/extractmap.hpp"

namespace v2bsp::app {

inline constexpr std::string_view kProgramName = "v2bsp";
inline constexpr std::string_view kDescription =
    "Extracts the meshes of the first BSP of a Vorun 2 map as Wavefront OBJ files";
inline constexpr std::string_view kLicence = "MIT";

// `value` in decimal, its digits grouped in threes by `separator`: 4,000,000.
std::string grouped(std::int64_t value, std::string_view separator);

// What the 3D View shows of a run.
struct LevelCounts {
    std::int64_t meshes = 0;  // the meshes drawn
    std::int64_t vertices = 0;
    std::int64_t triangles = 0;
};

// "<K> meshes, <V> vertices, <T> triangles in <folder>" (or "; no folder was
// written"), then the mesh files of an earlier extraction left in the folder,
// then what is missing: meshes not found, skipped, and every mesh file not
// written, whether its own write or its folder failed.
std::string statusText(const ExtractResult& result, const LevelCounts& counts, std::string_view separator);
// The same for a level whose files another run writes (the browser page's 3D
// View runs the map again writing nothing): the counts and what the map
// lacks, nothing of folders or files: "10 meshes, 120 vertices, 60
// triangles. Incomplete: 1 mesh skipped: data outside the map file".
std::string levelStatusText(const ExtractResult& result, const LevelCounts& counts, std::string_view separator);

// The window's log line after "Initializing 3D Window...": "Wrote 10 mesh
// files to <folder>", "Wrote 9 of 10 mesh files to <folder>; the lines above
// say what is missing", or "Wrote no mesh file; the lines above say why".
// The count is of the meshes the map's BSP says it holds.
std::string wroteLine(const ExtractResult& result, std::string_view separator);

// The log line that keeps a refused map's reason once its box is gone:
// "This is not a valid Vorun 2 map file: <reason>".
std::string notAMapLine(std::string_view message, std::string_view reason);

// Help > About: its title, and the version, what the program does, where the
// mesh files go, the licence; lines apart by "\n".
inline constexpr char kAboutTitle[] = "About v2bsp";
std::string aboutText();

// File > Open's filter for maps, as its name and its pattern.
inline constexpr char kMapFilterName[] = "Vorun 2 Map File (*.Map)";
inline constexpr char kMapFilterPattern[] = "*.Map";

// Open Folder's reason when the run's folder has gone since the run wrote it:
// "The folder <folder> no longer exists."
std::string folderGoneText(std::string_view folder);

// The 3D View's title: "<folder> - 3D View".
std::string viewTitle(std::string_view folderName);

// Save As's suggestion: "<folder name>.glb" beside the map's folder (in the
// output folder's parent), or the bare name when no folder was written.
std::filesystem::path saveLevelSuggestion(const ExtractResult& result, std::string_view folderName);
// Save Image's: "<folder name>.png", or "view.png" for no name.
std::string saveImageSuggestion(std::string_view folderName);
// `name` with `extension` (".png") appended, unless it ends in it in any case.
std::string withExtension(std::string name, std::string_view extension);
// Whether Save As writes OBJ rather than glb: the name ends in ".obj" (any
// case); or it ends in neither ".obj" nor ".glb" and the OBJ filter was chosen.
bool savesObj(std::string_view name, bool objFilterChosen);

}  // namespace v2bsp::app
