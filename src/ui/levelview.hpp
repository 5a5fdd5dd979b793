// LevelView: an OpenGL view of a level given as one array of positions and
// one array of triangles, split into meshes by index ranges. It knows nothing
// of maps or runs; the 3D window fills it.
//
// Drawing: each mesh in its own colour (meshColour), flat shaded by a light at
// the camera, both faces lit; an optional wireframe overlay. The camera orbits
// around a target, pans, zooms towards the cursor and frames the whole level
// or one mesh; framed, it stays framed as the view changes size until the
// user moves it. With Z up the positions (x, y, z) are shown as (x, z, -y).
//
// A large level (more triangles than app::kMovingTriangles) is drawn cheaply
// while the camera moves: only the first part of each mesh's triangles,
// which the level puts first (app::putCoarseFirst). When it stops, the full
// picture is drawn off screen a part at a time, one part a frame, so that the
// window keeps answering, and shown once whole; the cheap one stands in
// meanwhile.
//
// Memory: the positions and the triangles go to the GL once per setLevel and
// once per new GL context (a move to another window or screen makes one).
// Given a source to obtain them again, the widget keeps no copy of them
// (12 bytes a vertex, 6 a triangle); the face normal is found per fragment
// from screen-space derivatives, so no normals are stored. A frame allocates
// and uploads nothing.
#pragma once

#include <QColor>
#include <QImage>
#include <QMatrix4x4>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLWidget>
#include <QPoint>
#include <QString>
#include <QVector3D>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QOpenGLBuffer;
class QOpenGLFramebufferObject;
class QOpenGLShaderProgram;
class QOpenGLVertexArrayObject;

namespace v2bsp::ui {

// One mesh's part of a LevelGeometry.
struct LevelMeshRange {
    std::int64_t number = 0;        // the mesh's number in the map; chooses its colour
    std::uint32_t firstIndex = 0;   // into LevelGeometry::indices
    std::uint32_t indexCount = 0;   // three per triangle
    std::uint32_t coarseCount = 0;  // of those, the first ones drawn while the camera moves
    std::uint32_t vertexCount = 0;
    std::uint32_t baseVertex = 0;  // the mesh's first vertex in positions; its indices count from it
    float min[3] = {0, 0, 0};      // bounds of its vertices, as stored
    float max[3] = {0, 0, 0};
};

struct LevelGeometry {
    std::vector<float> positions;  // x, y, z per vertex, as stored (Y up)
    // Three per triangle, each counted from its mesh's baseVertex: the map's
    // indices are 16-bit, and half the bytes of 32-bit ones are half the
    // memory and the fetching.
    std::vector<std::uint16_t> indices;
    std::vector<LevelMeshRange> meshes;
    QVector3D min, max;  // bounds of every position; zero when there is none
};

// Gives the level given to setLevel again, for a new GL context.
using LevelSource = std::function<LevelGeometry()>;

// The colour of mesh `number`: the same for a number in every run, and far
// apart in hue for neighbouring numbers (hue steps by the golden ratio).
QColor meshColour(std::int64_t number);

class LevelView final : public QOpenGLWidget, protected QOpenGLFunctions_3_3_Core {
    Q_OBJECT

public:
    explicit LevelView(QWidget* parent = nullptr);
    ~LevelView() override;

    // Replaces the level; uploaded at once when the GL is ready, else when it
    // is. Ranges index the meshes in the calls below (0 ... count - 1).
    // A new GL context takes the level from `source` when there is one, so
    // the copy is let go once uploaded; without one the view keeps it. A
    // source that gives a level whose ranges lie outside its data makes the
    // view unavailable.
    void setLevel(LevelGeometry geometry, LevelSource source = {});
    int meshcount() const { return static_cast<int>(ranges_.size()); }

    void setMeshVisible(int mesh, bool visible);
    bool meshVisible(int mesh) const;
    // -1 for none.
    void setHighlighted(int mesh);
    int highlighted() const { return highlighted_; }

    // The mesh drawn at `pixel` (widget coordinates), or -1 for none; draws
    // the mesh ids of that one pixel into a framebuffer of its own.
    int meshAt(QPoint pixel);
    // Where the stored position `point` is drawn, in widget coordinates.
    QPoint pixelOf(QVector3D point) const;

    // Camera, in degrees: yaw about the up axis, pitch above the horizon.
    void setOrbit(float yaw, float pitch);
    void orbitBy(float yawdelta, float pitchdelta);
    void frameAll();
    // Frames mesh `mesh`'s bounds; the whole level for none.
    void frameMesh(int mesh);
    // The camera is being moved: draw cheaply until it is not.
    void setMoving(bool moving);
    bool moving() const { return moving_; }
    void setZUp(bool zUp);
    bool zUp() const { return zUp_; }
    void setWireframe(bool on);
    bool wireframe() const { return wireframe_; }

    // Bytes the view holds for the level: GL buffers and any copy not yet uploaded.
    std::int64_t levelBytes() const;
    std::int64_t triangles() const { return triangles_; }
    // The whole picture, drawn at once whatever the level's size (Save Image).
    QImage picture();
    // Why the GL could not be used; empty while it can.
    QString failure() const { return failure_; }

signals:
    void meshPicked(int mesh);
    // A frame showed the level whole, every triangle of it.
    void fullPictureShown();
    // The GL turned out unusable after all (too old, a shader refused).
    void unavailable(const QString& reason);

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void cleanup();
    void fail(const QString& reason);
    void upload();
    bool fits(const LevelGeometry& geometry) const;
    enum class Draw { full, coarse, ids };
    // The `shown` of meshes [first, last) in the bound framebuffer; returns the triangles drawn.
    std::int64_t drawMeshes(const QMatrix4x4& projection, Draw draw, std::size_t first, std::size_t last,
                            const std::vector<bool>& shown);
    std::vector<bool> meshesAround(QPoint pixel) const;
    void changed();
    void drawAPart();
    void frameBox(const QVector3D& min, const QVector3D& max);
    QMatrix4x4 projection() const;
    QMatrix4x4 view() const;
    QMatrix4x4 model() const;
    QVector3D centre() const;
    float radius() const;

    std::unique_ptr<QOpenGLShaderProgram> program_;
    std::unique_ptr<QOpenGLVertexArrayObject> vao_;
    std::unique_ptr<QOpenGLBuffer> positions_;
    std::unique_ptr<QOpenGLBuffer> indices_;
    std::unique_ptr<QOpenGLFramebufferObject> pickBuffer_;
    std::unique_ptr<QOpenGLFramebufferObject> whole_;  // where the full picture of a large level is drawn
    bool ready_ = false;
    bool pending_ = false;
    QString failure_;

    LevelGeometry geometry_;  // positions, indices; emptied once uploaded if source_ is set
    LevelSource source_;
    std::vector<LevelMeshRange> ranges_;
    std::vector<bool> visible_;
    std::int64_t triangles_ = 0;
    std::int64_t uploadedBytes_ = 0;
    QVector3D min_, max_;
    int highlighted_ = -1;

    QVector3D target_;
    float distance_ = 10;
    float yaw_ = 35;
    float pitch_ = 30;
    bool zUp_ = false;
    bool wireframe_ = false;
    bool framed_ = true;  // the camera is as frameAll put it
    bool moving_ = false;
    bool wholeNow_ = false;  // picture(): draw every triangle in this frame

    // What is drawn changes with every change of camera, size or content;
    // the full picture of a large level is of one such state.
    std::uint64_t state_ = 0;
    std::uint64_t wholeState_ = ~std::uint64_t{0};  // the state whole_ is being drawn for
    std::size_t wholeNext_ = 0;                     // the next mesh to draw into whole_

    QPoint pressAt_;
    QPoint lastAt_;
    bool dragged_ = false;
};

}  // namespace v2bsp::ui
