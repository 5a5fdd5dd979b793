// LevelView: the 3D View's drawing in a QOpenGLWidget, a thin host over the
// toolkit-free renderer of app/renderer.hpp, which says what is drawn and
// how (colours, shading, the cheap drawing while the camera moves, picking,
// the level held once). This widget makes the GL context, hands the
// renderer the context's functions and its framebuffer, and turns the mouse
// and the wheel into camera operations: a left drag orbits, a middle drag or
// Shift+left drag pans, the wheel zooms towards the cursor, a click picks, a
// double-click frames the whole level.
//
// A new GL context (a move to another window or screen makes one) gets the
// level again from the source given with it.
#pragma once

#include <QColor>
#include <QImage>
#include <QOpenGLWidget>
#include <QPoint>
#include <QString>
#include <QVector3D>
#include <cstdint>
#include <string>

#include "app/renderer.hpp"
#include "app/view3dbehaviour.hpp"

namespace v2bsp::ui {

using app::LevelGeometry;
using app::LevelMeshRange;
using app::LevelSource;

// Empty when an OpenGL 3.3 context can be made here, else why not.
QString probeOpenGl();

// app::meshColour as the toolkit's colour.
QColor meshColour(std::int64_t number);

class LevelView final : public QOpenGLWidget {
    Q_OBJECT

public:
    explicit LevelView(QWidget* parent = nullptr);
    ~LevelView() override;

    // Replaces the level, as LevelRenderer::setLevel says, framed at the
    // view's size; uploaded at once when the GL is ready, else when it is.
    void setLevel(LevelGeometry geometry, LevelSource source = {});
    // What is drawn and how, and the camera: after a change the view is
    // updated (QWidget::update) to show it.
    app::LevelRenderer& renderer() { return renderer_; }
    // Where the mouse and keys go; none (null) leaves them to the toolkit.
    void setBehaviour(app::View3DBehaviour* behaviour) { behaviour_ = behaviour; }

    // The mesh drawn at `pixel` (widget coordinates), or -1 for none.
    int meshAt(QPoint pixel);
    // Where the stored position `point` is drawn, in widget coordinates.
    QPoint pixelOf(QVector3D point) const;

    // The whole picture, drawn at once whatever the level's size (Save Image).
    QImage picture();
    // Why the GL could not be used; empty while it can.
    QString failure() const { return failure_; }

signals:
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
    void keyPressEvent(QKeyEvent* event) override;

private:
    void cleanup();
    void fail(const QString& reason);
    void reportFailure();
    void drawAPart();

    app::gl::Functions gl_;
    app::LevelRenderer renderer_;
    QString failure_;
    std::string reported_;   // the renderer's failure already told
    bool wholeNow_ = false;  // picture(): draw every triangle in this frame
    bool partDue_ = false;   // the full picture is not yet whole: add a part after the frame is shown
    app::View3DBehaviour* behaviour_ = nullptr;
};

}  // namespace v2bsp::ui
