// The 3D View's drawing, for any host that hands it an OpenGL 3.3 core
// context, or an OpenGL ES 3.0 one (a browser's WebGL2), and its functions.
// It knows nothing of maps, runs or windows.
//
// Drawing: each mesh in its own colour (meshColour), flat shaded by a light
// at the camera, both faces lit; an optional wireframe overlay; the
// highlighted mesh lighter. The face normal is found per fragment from
// screen-space derivatives, so no normals are stored.
//
// A level of more triangles than kMovingTriangles is drawn cheaply while
// the camera moves: only the first part of each mesh's triangles, which the
// level puts first (putCoarseFirst). One of more than kPartTriangles is
// drawn at rest off screen a part at a time, one part a paint, so that the
// window keeps answering, and shown once whole; the cheap picture stands in
// meanwhile.
//
// Memory: the level goes to the GL once per setLevel and once per context: a
// large level's coarse arrays with the first paint, the rest with the first
// paint that draws every triangle (a step of its own when the full picture
// comes in parts). Given a source to obtain it again, the renderer keeps no
// copy of it once uploaded. Other paints allocate and upload nothing (but
// the off-screen picture's buffers when the view's size changes).
//
// Threads and contexts: every call marked "GL" needs the host's context
// current on the calling thread; the others touch no GL and may come at any
// time from the host's thread. After any call that changes the picture the
// host repaints.
//
// LevelRenderer is the hosts' one door; the jobs behind it are the level in
// the GL, its upload and the drawing of its meshes (levelgl.hpp), the large
// level's picture in parts (partpicture.hpp), and picking and read-back
// (readback.hpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/camera.hpp"
#include "app/glfunctions.hpp"
#include "app/level.hpp"
#include "app/levelgl.hpp"
#include "app/partpicture.hpp"
#include "app/readback.hpp"

namespace v2bsp::app {

// "3D view unavailable: " followed by the reason.
std::string unavailableText(std::string_view reason);

// Where a paint draws: the host's framebuffer (0 for a window's own) and its
// size in the GL's pixels.
struct PaintTarget {
    gl::GLuint framebuffer = 0;
    int width = 1, height = 1;
};

enum class Painted {
    nothing,  // not ready (no context, or unavailable): only the background was cleared
    full,     // the target shows the whole picture, every triangle
    cheap,    // the camera moves, or the level's triangles are still to come: the target shows the cheap picture
    started,  // the target shows the cheap picture; paint again after the host's events
    adding,   // a part was added off screen, the target is untouched; paint again after the host's events
    held,     // as asked, no part was added: the target is untouched
};

// How far a paint of a large level goes past its cheap picture.
enum class Progress {
    addPart,  // adds the next part of the full picture off screen
    hold,     // adds none while the target still shows this picture (its last frame is not on the screen yet)
    whole,    // the full picture at once, whatever the level's size (Save Image)
};

class LevelRenderer {
public:
    LevelRenderer();
    ~LevelRenderer();
    LevelRenderer(const LevelRenderer&) = delete;
    LevelRenderer& operator=(const LevelRenderer&) = delete;

    // GL. Makes the shaders, buffers and pick buffer in the current context
    // and uploads the level. Empty on success, else the reason the view is
    // unavailable ("OpenGL 3.3 is needed, this system offers 2.1", "OpenGL
    // ES 3.0 is needed, this system offers 2.0", "the
    // shaders were refused: ...", "the OpenGL function glX is missing"),
    // also kept in failure(). `gl` must stay valid until release().
    std::string initialize(const gl::Functions& gl);
    // GL. Frees what initialize made; the level goes to the next context's
    // buffers. Harmless when not initialised.
    void release();
    // The context was lost without its objects being freed (the host can no
    // longer make it current): forget them without GL calls.
    void forget();
    bool ready() const { return ready_; }
    // Why the GL could not be used; empty while it can.
    const std::string& failure() const { return failure_; }

    // Replaces the level and frames it; no GL. A new context takes the level
    // from `source` when there is one, so the copy is let go once uploaded;
    // without one the renderer keeps it. A source that gives a level whose
    // ranges lie outside its data makes the renderer unavailable.
    void setLevel(LevelGeometry geometry, LevelSource source = {});
    // No GL. The positions and indices of a level set without them
    // (LevelGeometry::arraysToCome): until they come, every paint at rest
    // draws the cheap picture (Painted::cheap), while picking and the whole
    // picture take the level from the source. False, and they are let go,
    // when the level set does not await them; else the host repaints.
    bool setArrays(LevelGeometry arrays);
    // No GL. `wanted` is called by the first paint that draws the cheap
    // picture of the level set without its arrays; a new level drops it.
    void whenArraysWanted(std::function<void()> wanted) { arraysWanted_ = std::move(wanted); }
    // GL. Uploads what the next picture needs of a level set since the last
    // upload: a large level's coarse arrays first, the rest once a picture of
    // every triangle is drawn. paint(), meshAt() and picture() upload what
    // they need too. False (and failure() says why) when it made the view
    // unavailable.
    bool upload();

    int meshcount() const { return static_cast<int>(scene_.ranges.size()); }
    const std::vector<LevelMeshRange>& ranges() const { return scene_.ranges; }
    std::int64_t triangles() const { return triangles_; }
    // Bytes held for the level: GL buffers and any copy not yet uploaded.
    std::int64_t levelBytes() const;

    void setMeshVisible(int mesh, bool visible);
    bool meshVisible(int mesh) const;
    // -1 for none.
    void setHighlighted(int mesh);
    int highlighted() const { return scene_.highlighted; }
    void setWireframe(bool on);
    bool wireframe() const { return scene_.wireframe; }
    // The camera is being moved: draw cheaply until it is not.
    void setMoving(bool moving);
    bool moving() const { return moving_; }

    // The camera the pictures are drawn through; the renderer sees its
    // changes itself (Camera::revision). The host sets its viewport to the
    // view's size in the host's pixels and repaints after moving it.
    Camera& camera() { return scene_.camera; }
    const Camera& camera() const { return scene_.camera; }
    // Frames mesh `mesh`'s bounds; the whole level for none.
    void frameMesh(int mesh);

    // GL. Draws into `target`, going as far as `progress` says.
    Painted paint(const PaintTarget& target, Progress progress = Progress::addPart);
    // GL. The mesh drawn at `pixel`, or -1 for none: the ids of the visible
    // meshes whose bounds may cover that pixel, drawn into a 1 x 1
    // framebuffer of the renderer's own. Leaves framebuffer 0 bound.
    int meshAt(Pixel pixel);
    // GL. The whole picture drawn off screen at `width` x `height`, read back
    // as RGBA rows from the top; empty when not ready.
    std::vector<std::uint8_t> picture(int width, int height);

private:
    bool fail(std::string reason);
    // GL. The coarse arrays, or with `all` every array, that the GL lacks.
    bool uploadLevel(bool all);
    void changed() { ++content_; }
    PictureState state() const { return {content_, scene_.camera.revision()}; }

    const gl::Functions* gl_ = nullptr;
    bool ready_ = false;
    std::string failure_;
    LevelGl level_;
    PartPicture parts_;
    MeshPicker picker_;

    LevelScene scene_;
    std::int64_t triangles_ = 0;
    bool moving_ = false;
    std::uint64_t content_ = 0;  // changes of what is drawn but the camera's
    std::function<void()> arraysWanted_;
};

}  // namespace v2bsp::app
