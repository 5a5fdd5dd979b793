// The whole-level files: every mesh a run writes, in one file.
//
// - The OBJ: a first line "# v2bsp-extract <version>: <K> meshes of <folder>",
//   then for each written mesh in mesh order "o mesh<N>", its "v X Y Z"
//   lines and its "f A B C" lines, indices counted from 1 over the whole
//   file. Numbers are the shortest text that reads back to the same single
//   ("0.5", "-2", "1e-05"), one blank between fields, LF line ends.
// - The binary glTF 2.0: one scene named after the map, one node per written
//   mesh in mesh order named "mesh<N>", each with a mesh of the same name
//   holding one triangle list (POSITION as float VEC3 with min and max;
//   indices UNSIGNED_SHORT, or UNSIGNED_INT where an index is 65535). A mesh
//   without a vertex or a kept triangle is a node without a mesh.
//
// Both hold the kept triangles only (levelmesh.hpp), and neither is ever held
// whole: their bytes are produced in pieces from the plan, mesh by mesh.
// The plan's views must stay valid while a source is read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "writers/levelmesh.hpp"
#include "writers/outputfiles.hpp"

namespace v2bsp {

struct LevelInfo {
    std::string mapname;  // UTF-8: the glTF scene's name
    std::string folder;   // the map's folder name: the OBJ's comment
    UpAxis up = UpAxis::y;
    unsigned threads = 1;  // the OBJ's text is made on up to two; its bytes are the same
};

// The program and version the whole-level files name: "v2bsp-extract 1.00".
std::string levelgenerator();

// `summaries` holds summarizemesh(plan.meshes[i], info.up) for every i; the
// entries of skipped meshes are not read.
//
// The glb's lengths are all taken from the summaries, so its header is right
// even before its binary data is made; should a mesh hold more than its
// summary says the surplus is left out, and should it hold less the rest is
// zeros. levelglbsource throws std::length_error when the file would be
// longer than the 4294967295 bytes its header can state.
std::unique_ptr<TextSource> levelobjsource(const MeshPlan& plan, const std::vector<MeshSummary>& summaries,
                                           const LevelInfo& info);
std::unique_ptr<TextSource> levelglbsource(const MeshPlan& plan, const std::vector<MeshSummary>& summaries,
                                           const LevelInfo& info);

}  // namespace v2bsp
