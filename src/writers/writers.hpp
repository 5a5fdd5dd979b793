// The writers: one for each format a run can write, each making the bytes of
// its files from the plan (meshplan.hpp) as a ByteSource, and each file
// written through the output seam by the one path below.
//
// - The mesh files (meshobj.hpp): FOLDER/mesh<N>.obj, one for each mesh.
// - The whole-level OBJ: a first line "# v2bsp-extract <version>: <K> meshes
//   of <folder>", then for each written mesh in mesh order "o mesh<N>", its
//   "v X Y Z" lines and its "f A B C" lines, indices counted from 1 over the
//   whole file. Numbers are the shortest text that reads back to the same
//   single ("0.5", "-2", "1e-05"), one blank between fields, LF line ends.
// - The whole-level binary glTF 2.0: one scene named after the map, one node
//   per written mesh in mesh order named "mesh<N>", each with a mesh of the
//   same name holding one triangle list (POSITION as float VEC3 with min and
//   max; indices UNSIGNED_SHORT, or UNSIGNED_INT where an index is 65535). A
//   mesh without a vertex or a kept triangle is a node without a mesh.
//
// Both whole-level files hold the kept triangles only (levelmesh.hpp), and
// neither is ever held whole: their bytes are produced in pieces from the
// plan, mesh by mesh. The plan's views must stay valid while a source is read.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/outputfiles.hpp"
#include "platform/workerpool.hpp"
#include "writers/levelmesh.hpp"

namespace v2bsp {

enum class LevelFormat { obj, glb };

struct LevelInfo {
    std::string mapname;  // UTF-8: the glTF scene's name
    std::string folder;   // the map's folder name: the OBJ's comment and the files' name
    UpAxis up = UpAxis::y;
    // The helpers that format beside the writing thread; null: that thread
    // alone. The bytes are the same.
    WorkerPool* pool = nullptr;
};

// The program and version the whole-level files name: "v2bsp-extract 1.00".
std::string levelGenerator();

// "<folder>.obj" or "<folder>.glb".
std::string levelFileName(const std::string& folder, LevelFormat format);

// What the whole-level writers need of every mesh, found before any is
// written: summarizeMesh(plan.meshes[i], up) for each i. Throws std::bad_alloc.
std::vector<MeshSummary> summarizePlan(const MeshPlan& plan, UpAxis up);

// The bytes of a whole-level file. `summaries` is summarizePlan(plan, info.up);
// the entries of skipped meshes are not read.
//
// The glb's lengths are all taken from the summaries, so its header is right
// even before its binary data is made; should a mesh hold more than its
// summary says the surplus is left out, and should it hold less the rest is
// zeros. The glb source throws std::length_error when the file would be
// longer than the 4294967295 bytes its header can state.
std::unique_ptr<ByteSource> levelSource(LevelFormat format, const MeshPlan& plan,
                                        const std::vector<MeshSummary>& summaries, const LevelInfo& info);

// Runs `write` (a writer making its file through the output seam) and turns
// what a writer may throw into the reason a user reads: memory exhausted is
// "Cannot allocate memory", a file longer than its format can state "File too large".
std::error_code guardedWrite(const std::function<std::error_code()>& write);

// Makes `file` the whole-level file of `plan` in `format` through `files`.
std::error_code writeLevelFile(LevelFormat format, const MeshPlan& plan, const std::vector<MeshSummary>& summaries,
                               const LevelInfo& info, OutputFiles& files, const std::filesystem::path& file);

}  // namespace v2bsp
