#include "ui/levelview.hpp"

#include <QMouseEvent>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace v2bsp::ui {
namespace {

constexpr float kFieldOfView = 45;  // vertical, degrees
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
    min_ = geometry.min;
    max_ = geometry.max;
    geometry_ = std::move(geometry);
    source_ = std::move(source);
    colours_.clear();
    for (const LevelMeshRange& range : ranges_) {
        const QColor c = meshColour(range.number);
        colours_.emplace_back(c.redF(), c.greenF(), c.blueF());
    }
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
    update();
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
                                     ranges_.capacity() * sizeof(LevelMeshRange) +
                                     colours_.capacity() * sizeof(QVector3D) + visible_.capacity() / 8);
}

void LevelView::resizeGL(int, int) {}

void LevelView::paintGL() {
    glClearColor(kBackground.x(), kBackground.y(), kBackground.z(), 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!ready_) return;
    drawMeshes(projection(), false);
}

void LevelView::drawMeshes(const QMatrix4x4& projection, bool ids) {
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    program_->bind();
    program_->setUniformValue("projection", projection);
    program_->setUniformValue("modelview", view() * model());
    vao_->bind();
    const auto draw = [this](std::size_t m) {
        const LevelMeshRange& range = ranges_[m];
        glDrawElementsBaseVertex(GL_TRIANGLES, static_cast<GLsizei>(range.indexCount), GL_UNSIGNED_SHORT,
                                 reinterpret_cast<const void*>(static_cast<std::uintptr_t>(range.firstIndex) * 2),
                                 static_cast<GLint>(range.baseVertex));
    };
    const bool overlay = wireframe_ && !ids;
    if (overlay) {
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(1, 1);
    }
    program_->setUniformValue("mode", ids ? 1 : 0);
    for (std::size_t m = 0; m < ranges_.size(); ++m) {
        if (!visible_[m]) continue;
        const int mesh = static_cast<int>(m);
        QVector3D colour = ids ? idColour(mesh) : colours_[m];
        // Towards white keeps the hue: the highlighted mesh is lighter, not another colour.
        if (!ids && mesh == highlighted_) colour = colour * 0.45f + QVector3D(0.55f, 0.55f, 0.55f);
        program_->setUniformValue("colour", colour);
        draw(m);
    }
    if (overlay) {
        glDisable(GL_POLYGON_OFFSET_FILL);
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        program_->setUniformValue("mode", 1);
        program_->setUniformValue("colour", kWireColour);
        for (std::size_t m = 0; m < ranges_.size(); ++m) {
            if (visible_[m]) draw(m);
        }
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }
    vao_->release();
    program_->release();
}

// The ids of one pixel: the projection is narrowed so that the pixel fills the
// 1 x 1 pick buffer, and the mesh ids are drawn there as colours.
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
    drawMeshes(narrow * projection(), true);
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
    update();
}

bool LevelView::meshVisible(int mesh) const {
    return mesh >= 0 && mesh < meshcount() && visible_[static_cast<std::size_t>(mesh)];
}

void LevelView::setHighlighted(int mesh) {
    highlighted_ = mesh >= 0 && mesh < meshcount() ? mesh : -1;
    update();
}

void LevelView::setOrbit(float yaw, float pitch) {
    yaw_ = std::fmod(yaw, 360.0f);
    pitch_ = std::clamp(pitch, -kMaxPitch, kMaxPitch);
    update();
}

void LevelView::orbitBy(float yawdelta, float pitchdelta) {
    setOrbit(yaw_ + yawdelta, pitch_ + pitchdelta);
}

void LevelView::frameAll() {
    target_ = centre();
    // The narrower of the two fields of view decides, so a tall view frames too.
    const float aspect = height() > 0 ? static_cast<float>(width()) / static_cast<float>(height()) : 1;
    const float half = std::tan(kFieldOfView * 0.5f * 3.14159265f / 180) * std::min(1.0f, aspect);
    distance_ = std::max(radius(), 0.01f) / std::sin(std::atan(half)) * 1.05f;
    update();
}

void LevelView::setZUp(bool zUp) {
    zUp_ = zUp;
    frameAll();
}

void LevelView::setWireframe(bool on) {
    wireframe_ = on;
    update();
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
    const bool pan = (event->buttons() & Qt::MiddleButton) ||
                     ((event->buttons() & Qt::LeftButton) && (event->modifiers() & Qt::ShiftModifier));
    if (pan) {
        // One pixel moves the target by one pixel's worth at the target's depth.
        const float perpixel =
            2 * distance_ * std::tan(kFieldOfView * 0.5f * 3.14159265f / 180) / std::max(1, height());
        const QMatrix4x4 inverse = view().inverted();
        const QVector3D right = inverse.mapVector({1, 0, 0}), up = inverse.mapVector({0, 1, 0});
        target_ += (-right * static_cast<float>(delta.x()) + up * static_cast<float>(delta.y())) * perpixel;
        update();
    } else if (event->buttons() & Qt::LeftButton) {
        orbitBy(-static_cast<float>(delta.x()) * kDegreesPerPixel, static_cast<float>(delta.y()) * kDegreesPerPixel);
    }
}

void LevelView::mouseReleaseEvent(QMouseEvent* event) {
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
    update();
}

}  // namespace v2bsp::ui
