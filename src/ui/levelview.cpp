#include "ui/levelview.hpp"

#include <QMouseEvent>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QVector4D>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/framing.hpp"

namespace v2bsp::ui {
namespace {

using app::kFieldOfView;
constexpr float kMaxPitch = 89.5f;
constexpr float kDegreesPerPixel = 0.4f;
constexpr float kZoomPerNotch = 0.85f;
constexpr int kClickSlack = 3;  // pixels a click may move and still pick
const QVector3D kBackground(0.16f, 0.16f, 0.16f);
const QVector3D kWireColour(0.05f, 0.05f, 0.05f);

constexpr char kVertexShader[] = R"(#version 330 core
layout(location = 0) in vec3 position;
uniform mat4 modelview;
uniform mat4 projection;
out vec3 eyeposition;
void main() {
    vec4 eye = modelview * vec4(position, 1.0);
    eyeposition = eye.xyz;
    gl_Position = projection * eye;
}
)";

// mode 0: shaded by the face's angle to the camera; 1: the colour as given
// (wireframe lines and mesh ids). Scaling the colour keeps its hue, so a mesh
// reads as the same colour at any angle.
constexpr char kFragmentShader[] = R"(#version 330 core
in vec3 eyeposition;
uniform vec3 colour;
uniform int mode;
out vec4 fragment;
void main() {
    if (mode == 1) {
        fragment = vec4(colour, 1.0);
        return;
    }
    vec3 normal = normalize(cross(dFdx(eyeposition), dFdy(eyeposition)));
    float facing = abs(dot(normal, normalize(-eyeposition)));
    fragment = vec4(colour * (0.3 + 0.7 * facing), 1.0);
}
)";

QVector3D colourOf(std::int64_t number) {
    const QColor c = meshColour(number);
    return {c.redF(), c.greenF(), c.blueF()};
}

QVector3D idColour(int mesh) {
    const auto id = static_cast<std::uint32_t>(mesh + 1);
    return {static_cast<float>(id & 0xFF) / 255.0f, static_cast<float>((id >> 8) & 0xFF) / 255.0f,
            static_cast<float>((id >> 16) & 0xFF) / 255.0f};
}

}  // namespace

QColor meshColour(std::int64_t number) {
    constexpr double kGolden = 0.6180339887498949;
    const double hue = std::fmod(0.05 + static_cast<double>(number) * kGolden, 1.0);
    return QColor::fromHsvF(static_cast<float>(hue), 0.6f, 0.95f);
}

LevelView::LevelView(QWidget* parent) : QOpenGLWidget(parent) {
    setObjectName("levelview");
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(160, 120);
    // A frame may add a part to the picture already drawn.
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    setFormat(format);
}

LevelView::~LevelView() {
    makeCurrent();
    cleanup();
    doneCurrent();
}

void LevelView::cleanup() {
    if (!ready_) return;
    makeCurrent();
    pickBuffer_.reset();
    whole_.reset();
    indices_.reset();
    positions_.reset();
    vao_.reset();
    program_.reset();
    ready_ = false;
    uploadedBytes_ = 0;
    // The level goes to the buffers of the next context, if one is made.
    pending_ = true;
}

void LevelView::fail(const QString& reason) {
    failure_ = reason;
    emit unavailable(reason);
}

void LevelView::initializeGL() {
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &LevelView::cleanup, Qt::UniqueConnection);
    const QSurfaceFormat got = context()->format();
    if (got.version() < qMakePair(3, 3) || !initializeOpenGLFunctions()) {
        fail(QStringLiteral("OpenGL 3.3 is needed, this system offers %1.%2")
                 .arg(got.majorVersion())
                 .arg(got.minorVersion()));
        return;
    }
    program_ = std::make_unique<QOpenGLShaderProgram>();
    if (!program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) || !program_->link()) {
        fail(QStringLiteral("the shaders were refused: %1").arg(program_->log().trimmed()));
        program_.reset();
        return;
    }
    vao_ = std::make_unique<QOpenGLVertexArrayObject>();
    vao_->create();
    positions_ = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
    positions_->create();
    indices_ = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::IndexBuffer);
    indices_->create();
    pickBuffer_ = std::make_unique<QOpenGLFramebufferObject>(1, 1, QOpenGLFramebufferObject::Depth);

    vao_->bind();
    positions_->bind();
    indices_->bind();
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 3 * sizeof(float), nullptr);
    vao_->release();
    ready_ = true;
    if (pending_) upload();
}

void LevelView::setLevel(LevelGeometry geometry, LevelSource source) {
    ranges_ = std::move(geometry.meshes);
    ranges_.shrink_to_fit();
    min_ = geometry.min;
    max_ = geometry.max;
    geometry_ = std::move(geometry);
    source_ = std::move(source);
    triangles_ = 0;
    for (const LevelMeshRange& range : ranges_) triangles_ += range.indexCount / 3;
    visible_.assign(ranges_.size(), true);
    highlighted_ = -1;
    pending_ = true;
    frameAll();
    if (ready_) {
        makeCurrent();
        upload();
        doneCurrent();
    }
}

// The level's data goes to the GL and, when the source can give it again, the
// copy is let go, so the level is held once, by the GL.
void LevelView::upload() {
    if (geometry_.positions.empty() && source_) {
        geometry_ = source_();
        geometry_.meshes = {};
        if (!fits(geometry_)) {
            geometry_ = {};
            fail(QStringLiteral("the level could not be had again for a new OpenGL context"));
            cleanup();
            return;
        }
    }
    positions_->bind();
    positions_->allocate(geometry_.positions.data(), static_cast<int>(geometry_.positions.size() * sizeof(float)));
    indices_->bind();
    indices_->allocate(geometry_.indices.data(), static_cast<int>(geometry_.indices.size() * sizeof(std::uint16_t)));
    uploadedBytes_ = static_cast<std::int64_t>(geometry_.positions.size() * sizeof(float) +
                                               geometry_.indices.size() * sizeof(std::uint16_t));
    if (source_) geometry_ = {};
    pending_ = false;
    changed();
}

// Every range draws inside the data, so no draw reads past the buffers.
bool LevelView::fits(const LevelGeometry& geometry) const {
    const std::size_t vertices = geometry.positions.size() / 3;
    return std::all_of(ranges_.begin(), ranges_.end(), [&](const LevelMeshRange& range) {
        return range.firstIndex <= geometry.indices.size() &&
               range.indexCount <= geometry.indices.size() - range.firstIndex && range.baseVertex <= vertices &&
               range.vertexCount <= vertices - range.baseVertex;
    });
}

std::int64_t LevelView::levelBytes() const {
    return uploadedBytes_ +
           static_cast<std::int64_t>(geometry_.positions.capacity() * sizeof(float) +
                                     geometry_.indices.capacity() * sizeof(std::uint16_t) +
                                     ranges_.capacity() * sizeof(LevelMeshRange) + visible_.capacity() / 8);
}

// Whatever is drawn has changed: a new frame, and a new full picture.
void LevelView::changed() {
    ++state_;
    update();
}

void LevelView::resizeGL(int, int) {
    if (framed_) frameAll();
    ++state_;
}

// A small level, or a moving camera, is drawn in one frame. Else the first
// frame of a new state draws the cheap picture and starts the full one off
// screen; each frame after it adds a part, and the last shows it.
void LevelView::paintGL() {
    glClearColor(kBackground.x(), kBackground.y(), kBackground.z(), 1);
    const bool large = ready_ && triangles_ > app::kMovingTriangles && !wholeNow_;
    const bool adding = large && !moving_ && wholeState_ == state_ && whole_ != nullptr;
    // A part added leaves the cheap picture in the widget's framebuffer, which keeps it between frames.
    if (!adding) glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!ready_) return;
    if (!large) {
        drawMeshes(projection(), Draw::full, 0, ranges_.size(), visible_);
        emit fullPictureShown();
        return;
    }
    if (!adding) {
        drawMeshes(projection(), Draw::coarse, 0, ranges_.size(), visible_);
        if (moving_) return;
        const QSize size(std::max(1, width()), std::max(1, height()));
        const QSize pixels = size * devicePixelRatio();
        if (whole_ == nullptr || whole_->size() != pixels) {
            whole_ = std::make_unique<QOpenGLFramebufferObject>(pixels, QOpenGLFramebufferObject::Depth);
        }
        wholeState_ = state_;
        wholeNext_ = 0;
        whole_->bind();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
        QMetaObject::invokeMethod(this, &LevelView::drawAPart, Qt::QueuedConnection);
        return;
    }
    whole_->bind();
    std::int64_t drawn = 0;
    while (wholeNext_ < ranges_.size() && drawn < app::kMovingTriangles) {
        drawn += drawMeshes(projection(), Draw::full, wholeNext_, wholeNext_ + 1, visible_);
        ++wholeNext_;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
    if (wholeNext_ < ranges_.size()) {
        QMetaObject::invokeMethod(this, &LevelView::drawAPart, Qt::QueuedConnection);
        return;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, whole_->handle());
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, defaultFramebufferObject());
    glBlitFramebuffer(0, 0, whole_->width(), whole_->height(), 0, 0, whole_->width(), whole_->height(),
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
    emit fullPictureShown();
}

// The next part of the full picture, in a frame of its own, after the window
// has answered whatever came meanwhile.
void LevelView::drawAPart() {
    if (wholeState_ == state_ && !moving_) update();
}

QImage LevelView::picture() {
    wholeNow_ = true;
    const QImage image = grabFramebuffer();
    wholeNow_ = false;
    return image;
}

std::int64_t LevelView::drawMeshes(const QMatrix4x4& projection, Draw draw, std::size_t first, std::size_t last,
                                   const std::vector<bool>& shown) {
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    program_->bind();
    program_->setUniformValue("projection", projection);
    program_->setUniformValue("modelview", view() * model());
    vao_->bind();
    const bool ids = draw == Draw::ids;
    std::int64_t triangles = 0;
    const auto drawRange = [&](std::size_t m) {
        const LevelMeshRange& range = ranges_[m];
        const std::uint32_t count = draw == Draw::coarse ? range.coarseCount : range.indexCount;
        glDrawElementsBaseVertex(GL_TRIANGLES, static_cast<GLsizei>(count), GL_UNSIGNED_SHORT,
                                 reinterpret_cast<const void*>(static_cast<std::uintptr_t>(range.firstIndex) * 2),
                                 static_cast<GLint>(range.baseVertex));
        triangles += count / 3;
    };
    const bool overlay = wireframe_ && !ids;
    for (std::size_t m = first; m < last && m < ranges_.size(); ++m) {
        if (!shown[m]) continue;
        const int mesh = static_cast<int>(m);
        QVector3D colour = ids ? idColour(mesh) : colourOf(ranges_[m].number);
        // Towards white keeps the hue: the highlighted mesh is lighter, not another colour.
        if (!ids && mesh == highlighted_) colour = colour * 0.45f + QVector3D(0.55f, 0.55f, 0.55f);
        program_->setUniformValue("mode", ids ? 1 : 0);
        program_->setUniformValue("colour", colour);
        if (overlay) {
            glEnable(GL_POLYGON_OFFSET_FILL);
            glPolygonOffset(1, 1);
        }
        drawRange(m);
        if (!overlay) continue;
        // The mesh's edges over its faces, which the offset put just behind them.
        glDisable(GL_POLYGON_OFFSET_FILL);
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        program_->setUniformValue("mode", 1);
        program_->setUniformValue("colour", kWireColour);
        drawRange(m);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }
    vao_->release();
    program_->release();
    return triangles;
}

// The ids of one pixel: the projection is narrowed so that the pixel fills the
// 1 x 1 pick buffer, and the mesh ids are drawn there as colours.
// The visible meshes whose bounds may cover `pixel`: those whose box lies
// wholly in front of the camera and projects beside it are left out, so a
// pick in a large level draws a few meshes, not all.
std::vector<bool> LevelView::meshesAround(QPoint pixel) const {
    const QMatrix4x4 transform = projection() * view() * model();
    const float x = 2 * (static_cast<float>(pixel.x()) + 0.5f) / static_cast<float>(width()) - 1;
    const float y = 1 - 2 * (static_cast<float>(pixel.y()) + 0.5f) / static_cast<float>(height());
    std::vector<bool> around = visible_;
    for (std::size_t m = 0; m < ranges_.size(); ++m) {
        if (!around[m]) continue;
        const LevelMeshRange& range = ranges_[m];
        float low_x = 2, high_x = -2, low_y = 2, high_y = -2;
        bool in_front = true;
        for (int corner = 0; corner < 8 && in_front; ++corner) {
            const QVector4D at = transform * QVector4D(corner & 1 ? range.max[0] : range.min[0],
                                                       corner & 2 ? range.max[1] : range.min[1],
                                                       corner & 4 ? range.max[2] : range.min[2], 1);
            in_front = at.w() > 0;
            if (!in_front) break;
            low_x = std::min(low_x, at.x() / at.w()), high_x = std::max(high_x, at.x() / at.w());
            low_y = std::min(low_y, at.y() / at.w()), high_y = std::max(high_y, at.y() / at.w());
        }
        constexpr float kSlack = 0.01f;  // of the view; rounding in the projection
        if (in_front && (x < low_x - kSlack || x > high_x + kSlack || y < low_y - kSlack || y > high_y + kSlack)) {
            around[m] = false;
        }
    }
    return around;
}

int LevelView::meshAt(QPoint pixel) {
    if (!ready_ || width() <= 0 || height() <= 0) return -1;
    makeCurrent();
    const float w = static_cast<float>(width()), h = static_cast<float>(height());
    const float cx = 2 * (static_cast<float>(pixel.x()) + 0.5f) / w - 1;
    const float cy = 1 - 2 * (static_cast<float>(pixel.y()) + 0.5f) / h;
    QMatrix4x4 narrow;
    narrow.scale(w, h, 1);
    narrow.translate(-cx, -cy, 0);
    pickBuffer_->bind();
    glViewport(0, 0, 1, 1);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawMeshes(narrow * projection(), Draw::ids, 0, ranges_.size(), meshesAround(pixel));
    std::uint8_t rgba[4] = {0, 0, 0, 0};
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    pickBuffer_->release();
    doneCurrent();
    const int id = rgba[0] | (rgba[1] << 8) | (rgba[2] << 16);
    return id > 0 && id <= meshcount() ? id - 1 : -1;
}

QPoint LevelView::pixelOf(QVector3D point) const {
    const QVector3D ndc = (projection() * view() * model()).map(point);
    return {static_cast<int>(std::floor((ndc.x() + 1) * 0.5f * static_cast<float>(width()))),
            static_cast<int>(std::floor((1 - ndc.y()) * 0.5f * static_cast<float>(height())))};
}

void LevelView::setMeshVisible(int mesh, bool visible) {
    if (mesh < 0 || mesh >= meshcount()) return;
    visible_[static_cast<std::size_t>(mesh)] = visible;
    changed();
}

bool LevelView::meshVisible(int mesh) const {
    return mesh >= 0 && mesh < meshcount() && visible_[static_cast<std::size_t>(mesh)];
}

void LevelView::setHighlighted(int mesh) {
    highlighted_ = mesh >= 0 && mesh < meshcount() ? mesh : -1;
    changed();
}

void LevelView::setOrbit(float yaw, float pitch) {
    yaw_ = std::fmod(yaw, 360.0f);
    pitch_ = std::clamp(pitch, -kMaxPitch, kMaxPitch);
    changed();
}

void LevelView::orbitBy(float yawdelta, float pitchdelta) {
    setOrbit(yaw_ + yawdelta, pitch_ + pitchdelta);
}

void LevelView::frameAll() {
    frameBox(min_, max_);
    framed_ = true;
}

void LevelView::frameMesh(int mesh) {
    if (mesh < 0 || mesh >= meshcount()) {
        frameAll();
        return;
    }
    const LevelMeshRange& range = ranges_[static_cast<std::size_t>(mesh)];
    frameBox({range.min[0], range.min[1], range.min[2]}, {range.max[0], range.max[1], range.max[2]});
}

void LevelView::frameBox(const QVector3D& min, const QVector3D& max) {
    target_ = model().map((min + max) * 0.5f);
    const float aspect = height() > 0 ? static_cast<float>(width()) / static_cast<float>(height()) : 1;
    distance_ = app::frameDistance((max - min).length() * 0.5f, aspect);
    framed_ = false;
    changed();
}

void LevelView::setMoving(bool moving) {
    if (moving == moving_) return;
    moving_ = moving;
    changed();
}

void LevelView::setZUp(bool zUp) {
    zUp_ = zUp;
    frameAll();
}

void LevelView::setWireframe(bool on) {
    wireframe_ = on;
    changed();
}

QVector3D LevelView::centre() const {
    return model().map((min_ + max_) * 0.5f);
}

float LevelView::radius() const {
    return (max_ - min_).length() * 0.5f;
}

QMatrix4x4 LevelView::model() const {
    QMatrix4x4 m;
    if (zUp_) m.rotate(-90, 1, 0, 0);  // (x, y, z) to (x, z, -y)
    return m;
}

QMatrix4x4 LevelView::view() const {
    const float yaw = yaw_ * 3.14159265f / 180, pitch = pitch_ * 3.14159265f / 180;
    const QVector3D towards(std::cos(pitch) * std::sin(yaw), std::sin(pitch), std::cos(pitch) * std::cos(yaw));
    QMatrix4x4 m;
    m.lookAt(target_ + towards * distance_, target_, QVector3D(0, 1, 0));
    return m;
}

QMatrix4x4 LevelView::projection() const {
    const float aspect = height() > 0 ? static_cast<float>(width()) / static_cast<float>(height()) : 1;
    const float r = std::max(radius(), 0.01f);
    // The level's sphere lies within r of the target; a framed mesh may be smaller.
    const float nearplane = std::max(distance_ - r * 1.5f, distance_ * 0.001f);
    QMatrix4x4 m;
    m.perspective(kFieldOfView, aspect, nearplane, distance_ + r * 1.5f);
    return m;
}

void LevelView::mousePressEvent(QMouseEvent* event) {
    pressAt_ = lastAt_ = event->position().toPoint();
    dragged_ = false;
}

void LevelView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QPoint delta = at - lastAt_;
    lastAt_ = at;
    if ((at - pressAt_).manhattanLength() > kClickSlack) dragged_ = true;
    if (!dragged_ || !(event->buttons() & (Qt::LeftButton | Qt::MiddleButton))) return;
    framed_ = false;
    setMoving(true);
    const bool pan = (event->buttons() & Qt::MiddleButton) ||
                     ((event->buttons() & Qt::LeftButton) && (event->modifiers() & Qt::ShiftModifier));
    if (pan) {
        // One pixel moves the target by one pixel's worth at the target's depth.
        const float perpixel =
            2 * distance_ * std::tan(kFieldOfView * 0.5f * 3.14159265f / 180) / std::max(1, height());
        const QMatrix4x4 inverse = view().inverted();
        const QVector3D right = inverse.mapVector({1, 0, 0}), up = inverse.mapVector({0, 1, 0});
        target_ += (-right * static_cast<float>(delta.x()) + up * static_cast<float>(delta.y())) * perpixel;
        changed();
    } else if (event->buttons() & Qt::LeftButton) {
        orbitBy(-static_cast<float>(delta.x()) * kDegreesPerPixel, static_cast<float>(delta.y()) * kDegreesPerPixel);
    }
}

void LevelView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->buttons() == Qt::NoButton) setMoving(false);
    if (event->button() != Qt::LeftButton || dragged_) return;
    const int mesh = meshAt(event->position().toPoint());
    setHighlighted(mesh);
    emit meshPicked(mesh);
}

void LevelView::mouseDoubleClickEvent(QMouseEvent*) {
    frameAll();
}

// The point under the cursor, at the target's depth, stays where it is.
void LevelView::wheelEvent(QWheelEvent* event) {
    const float notches = static_cast<float>(event->angleDelta().y()) / 120.0f;
    if (notches == 0) return;
    const float scale = std::pow(kZoomPerNotch, notches);
    const float aspect = height() > 0 ? static_cast<float>(width()) / static_cast<float>(height()) : 1;
    const float half = distance_ * std::tan(kFieldOfView * 0.5f * 3.14159265f / 180);
    const QPointF at = event->position();
    const float nx = 2 * static_cast<float>(at.x()) / std::max(1, width()) - 1;
    const float ny = 1 - 2 * static_cast<float>(at.y()) / std::max(1, height());
    const QVector3D under = view().inverted().map(QVector3D(nx * half * aspect, ny * half, -distance_));
    target_ = under + (target_ - under) * scale;
    distance_ *= scale;
    framed_ = false;
    changed();
}

}  // namespace v2bsp::ui
