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

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "platform/outputfiles.hpp"
#include "platform/workerpool.hpp"
#include "writers/meshplan.hpp"

namespace v2bsp {

// The vertex and face lines of the whole groups of a section, appended to `out`.
void appendVertexLines(std::string& out, ByteView section);
void appendFaceLines(std::string& out, ByteView section);

// How many groups a piece of a mesh file holds. The pieces of all the threads
// writing at once, with the halves made beside them, stay within a budget of
// memory whatever the count of threads: more threads, smaller pieces.
struct MeshFilePieces {
    std::size_t vertices = 0;
    std::size_t faces = 0;
    // For `threads` threads writing mesh files at once (0 counts as 1).
    static MeshFilePieces forThreads(unsigned threads);
};

// Formats the lines of a section; a long one in two halves, the second on a
// helper of `pool` when one is free, with the bytes of one thread.
class MeshObjFormatter {
public:
    // `pool` null formats everything on the calling thread.
    explicit MeshObjFormatter(WorkerPool* pool = nullptr) : pool_(pool) {}
    void appendVertices(std::string& out, ByteView section);
    void appendFaces(std::string& out, ByteView section);

private:
    template <typename Lines>
    void appendInHalves(std::string& out, std::size_t count, Lines lines);

    WorkerPool* pool_;
    std::string second_;  // the helper's half
    PoolTask half_;       // last: it ends before what it writes to
};

// One mesh file's bytes in pieces of a bounded size, so that a mesh of any
// size is written without being held whole in memory.
class MeshObjSource final : public BufferedSource {
public:
    MeshObjSource(const PlannedMesh& mesh, MeshObjFormatter& formatter,
                  MeshFilePieces pieces = MeshFilePieces::forThreads(1));
    bool fill(std::string& chunk) override;

private:
    ByteView vertices_;
    ByteView faces_;
    MeshObjFormatter& formatter_;
    MeshFilePieces pieces_;
    enum class Stage { vertices, faces, finished } stage_ = Stage::vertices;
};

// The mesh files of a run, FOLDER/mesh<N>.obj, written on the calling thread
// and the helpers of a pool with the outcome of one: the caller asks for each
// mesh's outcome in mesh order, the meshes after it are posted to the pool a
// few ahead, and the caller writes those nobody has taken, its own first. So
// a run that stops at a log line ends soon; a file a helper has begun is
// finished whole before the writers end. The folder is made again before
// each file, in case it went away during the run.
class MeshObjWriters {
public:
    // Only meshes not skipped are written. `pool` null: the calling thread
    // alone. With helpers in `pool`, `files` must take calls from several threads.
    MeshObjWriters(const MeshPlan& plan, WorkerPool* pool, OutputFiles& files, std::filesystem::path folder);
    // Drops the meshes posted and not begun, and lets the files in progress end.
    ~MeshObjWriters();
    MeshObjWriters(const MeshObjWriters&) = delete;
    MeshObjWriters& operator=(const MeshObjWriters&) = delete;

    // The outcome of writing mesh `index` (a mesh not skipped, each asked for
    // once, in increasing order).
    std::error_code take(std::size_t index);

    // The file name of mesh `number`: "mesh<N>.obj".
    static std::string filename(std::int64_t number);

private:
    // A mesh posted to the pool ahead of the caller.
    struct Ahead {
        std::size_t index = 0;
        std::error_code failure;
        PoolTask task;
    };

    std::error_code write(std::size_t index);
    void postAhead();
    Ahead& ahead(std::size_t position) { return ahead_[(first_ + position) % aheadCount_]; }

    const MeshPlan& plan_;
    WorkerPool* pool_;
    OutputFiles& files_;
    const std::filesystem::path folder_;
    const MeshFilePieces pieces_;
    // A ring of the meshes posted and not yet asked for, oldest first; none
    // without helpers.
    const std::size_t aheadCount_;
    std::unique_ptr<Ahead[]> ahead_;
    std::size_t first_ = 0;
    std::size_t posted_ = 0;
    std::size_t next_ = 0;  // the next mesh to look at for posting
};

}  // namespace v2bsp
