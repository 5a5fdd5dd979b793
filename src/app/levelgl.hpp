// The level in one OpenGL context: the shader program, the buffers of its
// arrays, what of it is uploaded when, and drawing ranges of its meshes.
//
// Upload: a large level (one with coarse arrays) sends its coarse arrays
// first, so that the first picture waits for nothing else, and the rest only
// when a picture of every triangle needs it. Given a source to obtain the
// level again, the copy is let go once all of it is uploaded, so the level
// is held once, by the GL; a new context takes it from the source.
//
// OpenGL ES has no base vertex for a draw and no lines of a polygon mode:
// there each draw points the positions at its mesh's first vertex, and the
// wireframe is drawn as lines from a second index buffer, the edges of every
// triangle (triangleEdges), which that dialect uploads beside the triangles.
//
// Every call but setLevel, forget and the queries needs the context current
// in which make() was called.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/camera.hpp"
#include "app/glfunctions.hpp"
#include "app/level.hpp"

namespace v2bsp::app {

// What a picture shows of the level, whoever draws it: the meshes' ranges
// into the level's arrays, which of them are visible, the highlighted one
// (-1 for none), the wireframe overlay, and the camera it is seen through.
struct LevelScene {
    std::vector<LevelMeshRange> ranges;
    std::vector<bool> visible;
    int highlighted = -1;
    bool wireframe = false;
    Camera camera;
};

// How a draw colours the meshes.
enum class MeshDraw {
    full,    // every triangle, each mesh in its colour, shaded
    coarse,  // the first part of each mesh's triangles (putCoarseFirst), shaded
    ids,     // every triangle, each mesh's id as its colour (meshOfIdColour reads it back)
};

// The mesh whose id a MeshDraw::ids draw wrote as the colour (red, green,
// blue) among `meshcount` meshes, or -1 for the background or a colour that
// is no mesh's.
int meshOfIdColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue, int meshcount);

// The three edges of each triangle of `triangles` (three indices a
// triangle) as pairs of indices for lines: a b, b c, c a. The edges of
// triangles [first, first + count) of the indices are [2 first, 2 count).
LevelArray<std::uint16_t> triangleEdges(const LevelArray<std::uint16_t>& triangles);

// The shader sources of `dialect`: the version line (and for OpenGL ES the
// precision) before the same body.
std::string vertexShaderSource(gl::Dialect dialect);
std::string fragmentShaderSource(gl::Dialect dialect);

class LevelGl {
public:
    LevelGl() = default;
    LevelGl(const LevelGl&) = delete;
    LevelGl& operator=(const LevelGl&) = delete;

    // Makes the program and the arrays' buffers in the current context,
    // which is of `dialect`. Empty on success, else why not ("the shaders
    // were refused: ..."), having made nothing. `gl` must stay valid until
    // free().
    std::string make(const gl::Functions& gl, gl::Dialect dialect = gl::Dialect::core33);
    // Frees what make made; the level goes to the next context's buffers.
    void free();
    // The context was lost with its objects: forget them without GL calls.
    void forget();
    bool made() const { return program_ != 0; }
    const gl::Functions& functions() const { return *gl_; }

    // Takes the level's arrays (its meshes' ranges are the scene's); none is
    // uploaded yet. `source` gives them again for a new context. A level
    // whose arrays are to come (LevelGeometry::arraysToCome) is drawn from
    // its coarse arrays until setArrays gives them, or until an upload of
    // every array takes the whole level from the source.
    void setLevel(LevelGeometry geometry, LevelSource source);
    // The positions and indices of the level set, when it awaits them;
    // false (and they are let go) when it does not. Empty ones end the
    // waiting: every array is then taken from the source when wanted.
    bool setArrays(LevelGeometry arrays);
    // The level's positions and indices are still to come.
    bool awaiting() const { return geometry_.arraysToCome; }

    struct Uploaded {
        bool changedPicture = false;  // arrays a picture is drawn from were replaced
        std::string failure;          // why the level cannot be drawn; the arrays are let go
    };
    // Uploads the coarse arrays, or with `all` every array, that the GL
    // lacks, after checking that `ranges` fit them. Without `all`, arrays
    // still to come are not awaited.
    Uploaded upload(const std::vector<LevelMeshRange>& ranges, bool all);
    // The arrays of every triangle are not yet uploaded to this context.
    bool pending() const { return pending_; }
    // Bytes held for the level's arrays: in the GL's buffers and in any copy
    // not yet uploaded.
    std::int64_t bytes() const;

    // Draws meshes [first, last) of `scene` that `shown` marks, through its
    // camera's view and `projection`, into the bound framebuffer. Returns the
    // triangles drawn.
    std::int64_t draw(const LevelScene& scene, const Mat4& projection, MeshDraw draw, std::size_t first,
                      std::size_t last, const std::vector<bool>& shown);

private:
    // One mesh's triangles, or with `edges` their edges, from `first` of
    // the bound arrays' indices, whose positions are in `positions`.
    void drawMesh(gl::GLuint positions, std::uint32_t first, std::uint32_t count, std::uint32_t baseVertex,
                  bool edges) const;

    const gl::Functions* gl_ = nullptr;
    gl::Dialect dialect_ = gl::Dialect::core33;
    gl::GLuint program_ = 0;
    gl::GLint projection_ = -1, modelview_ = -1, colour_ = -1, mode_ = -1;
    gl::GLuint vao_ = 0, positions_ = 0, indices_ = 0;
    gl::GLuint coarseVao_ = 0, coarsePositions_ = 0, coarseIndices_ = 0;
    gl::GLuint edges_ = 0, coarseEdges_ = 0;  // OpenGL ES: the triangles' edges

    LevelGeometry geometry_;  // its arrays; emptied once all are uploaded if source_ is set
    LevelSource source_;
    bool pending_ = false;        // the level's arrays not yet uploaded to the current context
    bool compact_ = false;        // the level has coarse arrays: its cheap picture is drawn from them
    bool coarsePending_ = false;  // and those are not yet uploaded
    std::int64_t uploadedBytes_ = 0, coarseBytes_ = 0;  // in the arrays' buffers and the coarse arrays
};

}  // namespace v2bsp::app
