// The per-mesh OBJ writer: one file mesh<N>.obj for each mesh a run writes.
//
// A mesh file holds, in order: one "v " line per vertex, two empty lines, one
// "f " line per face with three different indices, and one closing CR LF.
// Every number is written with numtext, so a non-negative value has a blank
// before it ("v  1.5  .25 -2") and every face line ends with a blank before
// its CR LF ("f  1  2  3 "). Vertices are decoded with decodeFloat; face
// indices are the stored 0-based indices plus 1, each file numbering its own
// vertices from 1, whatever vertices the index names. A partial trailing
// group of a section writes nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/outputfiles.hpp"
#include "writers/helperthread.hpp"
#include "writers/meshplan.hpp"

namespace v2bsp {

// The vertex and face lines of the whole groups of a section, appended to `out`.
void appendVertexLines(std::string& out, ByteView section);
void appendFaceLines(std::string& out, ByteView section);

// Formats the lines of a section; long ones in two halves on two threads,
// with the bytes of one.
class MeshObjFormatter {
public:
    // `threads` 1 formats everything on the calling thread; 2 starts a helper.
    explicit MeshObjFormatter(unsigned threads);
    void appendVertices(std::string& out, ByteView section);
    void appendFaces(std::string& out, ByteView section);

private:
    std::optional<HelperThread> helper_;
};

// One mesh file's bytes in pieces of a bounded size, so that a mesh of any
// size is written without being held whole in memory.
class MeshObjSource final : public BufferedSource {
public:
    MeshObjSource(const PlannedMesh& mesh, MeshObjFormatter& formatter);
    bool fill(std::string& chunk) override;

private:
    ByteView vertices_;
    ByteView faces_;
    MeshObjFormatter& formatter_;
    enum class Stage { vertices, faces, finished } stage_ = Stage::vertices;
};

// The mesh files of a run, FOLDER/mesh<N>.obj, written on several threads
// with the outcome of one: the caller asks for each mesh's outcome in mesh
// order and writes the mesh itself unless a helper thread has taken it
// ahead. Helpers run at most a few meshes ahead of the caller, so a run that
// stops at a log line ends soon; a file a helper has begun is finished whole
// before the writers end. The folder is made again before each file, in case
// it went away during the run.
class MeshObjWriters {
public:
    // `jobs` threads in all, the caller's included; only meshes not skipped
    // are written. With more than one, `files` must take calls from several threads.
    MeshObjWriters(const MeshPlan& plan, unsigned jobs, OutputFiles& files, std::filesystem::path folder);
    // Lets the files in progress end, then ends the helpers.
    ~MeshObjWriters();
    MeshObjWriters(const MeshObjWriters&) = delete;
    MeshObjWriters& operator=(const MeshObjWriters&) = delete;

    // The outcome of writing mesh `index` (a mesh not skipped, each asked for
    // once, in increasing order).
    std::error_code take(std::size_t index);

    // The file name of mesh `number`: "mesh<N>.obj".
    static std::string filename(std::int64_t number);

private:
    enum State : int { waiting = 0, taken = 1, done = 2 };
    struct Slot {
        std::atomic<int> state{waiting};
        std::error_code failure;
    };

    std::error_code write(std::size_t index, MeshObjFormatter& formatter);
    void helperLoop();
    void finish(std::size_t index, std::error_code failure);

    const MeshPlan& plan_;
    OutputFiles& files_;
    const std::filesystem::path folder_;
    std::unique_ptr<Slot[]> slots_;
    std::size_t ahead_;
    MeshObjFormatter formatter_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t position_ = 0;  // the caller's mesh
    std::size_t cursor_ = 0;    // the next mesh a helper looks at
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

}  // namespace v2bsp
