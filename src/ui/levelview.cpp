#include "ui/levelview.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QTimer>
#include <QWheelEvent>
#include <cstring>
#include <optional>

namespace v2bsp::ui {
namespace {

// The current context's function `name`.
void* contextFunction(const char* name) {
    const QFunctionPointer found = QOpenGLContext::currentContext()->getProcAddress(name);
    void* pointer = nullptr;
    static_assert(sizeof pointer == sizeof found);
    std::memcpy(&pointer, &found, sizeof pointer);
    return pointer;
}

}  // namespace

QString probeOpenGl() {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create()) return QStringLiteral("no OpenGL context can be made on this display");
    const QSurfaceFormat got = context.format();
    if (got.version() < qMakePair(3, 3)) {
        return QStringLiteral("OpenGL 3.3 is needed, this system offers %1.%2")
            .arg(got.majorVersion())
            .arg(got.minorVersion());
    }
    QOffscreenSurface surface;
    surface.setFormat(got);
    surface.create();
    if (!context.makeCurrent(&surface)) return QStringLiteral("the OpenGL context cannot be used");
    context.doneCurrent();
    return {};
}

QColor meshColour(std::int64_t number) {
    const app::Rgb c = app::meshColour(number);
    return QColor::fromRgbF(c.red, c.green, c.blue);
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
    // The next part of a large level's picture is drawn once the one before
    // is on the screen: the first picture is not held back by a part.
    connect(this, &QOpenGLWidget::frameSwapped, this, &LevelView::drawAPart);
}

LevelView::~LevelView() {
    makeCurrent();
    cleanup();
    doneCurrent();
}

void LevelView::cleanup() {
    if (!renderer_.ready()) return;
    makeCurrent();
    renderer_.release();
}

void LevelView::fail(const QString& reason) {
    failure_ = reason;
    emit unavailable(reason);
}

// A failure the renderer met on its own (a level it could not have again).
void LevelView::reportFailure() {
    if (renderer_.failure().empty()) reported_.clear();
    if (renderer_.failure().empty() || renderer_.failure() == reported_) return;
    reported_ = renderer_.failure();
    fail(QString::fromStdString(reported_));
}

void LevelView::initializeGL() {
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &LevelView::cleanup, Qt::UniqueConnection);
    const QSurfaceFormat got = context()->format();
    if (got.version() < qMakePair(3, 3)) {
        fail(QStringLiteral("OpenGL 3.3 is needed, this system offers %1.%2")
                 .arg(got.majorVersion())
                 .arg(got.minorVersion()));
        return;
    }
    const std::string missing = app::gl::load(contextFunction, gl_);
    if (!missing.empty()) {
        fail(QString::fromStdString(missing));
        return;
    }
    renderer_.camera().setViewport(width(), height());
    renderer_.initialize(gl_);
    reportFailure();
}

void LevelView::setLevel(LevelGeometry geometry, LevelSource source) {
    renderer_.camera().setViewport(width(), height());
    renderer_.setLevel(std::move(geometry), std::move(source));
    if (renderer_.ready()) {
        makeCurrent();
        renderer_.upload();
        doneCurrent();
        reportFailure();
    }
    update();
}

void LevelView::resizeGL(int, int) {
    renderer_.camera().setViewport(width(), height());
}

// A large level's full picture is added a part a frame, each after the frame
// before is on the screen and the window has answered whatever came meanwhile.
void LevelView::paintGL() {
    const QSize pixels = QSize(std::max(1, width()), std::max(1, height())) * devicePixelRatio();
    // A paint the toolkit asks for before the last frame is on the screen
    // (the window shown, exposed) adds no part, so that no part holds back
    // the first frame.
    const app::Progress progress = wholeNow_ ? app::Progress::whole
                                   : partDue_ ? app::Progress::hold
                                              : app::Progress::addPart;
    const app::Painted painted =
        renderer_.paint({defaultFramebufferObject(), pixels.width(), pixels.height()}, progress);
    reportFailure();
    switch (painted) {
        case app::Painted::full:
            emit fullPictureShown();
            break;
        case app::Painted::started:
        case app::Painted::adding:
            partDue_ = true;
            // Where no frame is composed after this paint (a grab, a window
            // not on the screen), the part comes all the same, a little later.
            QTimer::singleShot(250, this, &LevelView::drawAPart);
            break;
        case app::Painted::nothing:
        case app::Painted::cheap:
        case app::Painted::held:
            break;
    }
}

void LevelView::drawAPart() {
    if (!partDue_) return;
    partDue_ = false;
    // After whatever came meanwhile: input and timers are not held up by a
    // run of parts.
    QTimer::singleShot(0, this, [this] {
        if (!renderer_.moving()) update();
    });
}

QImage LevelView::picture() {
    wholeNow_ = true;
    const QImage image = grabFramebuffer();
    wholeNow_ = false;
    return image;
}

int LevelView::meshAt(QPoint pixel) {
    if (!renderer_.ready() || width() <= 0 || height() <= 0) return -1;
    makeCurrent();
    const int mesh = renderer_.meshAt({pixel.x(), pixel.y()});
    doneCurrent();
    reportFailure();
    return mesh;
}

QPoint LevelView::pixelOf(QVector3D point) const {
    const app::Pixel at = renderer_.camera().pixelOf({point.x(), point.y(), point.z()});
    return {at.x, at.y};
}

namespace {

app::PointerButton buttonOf(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return app::PointerButton::left;
        case Qt::MiddleButton:
            return app::PointerButton::middle;
        default:
            return app::PointerButton::other;
    }
}

app::Pixel pixelAt(const QPointF& at) {
    const QPoint whole = at.toPoint();
    return {whole.x(), whole.y()};
}

}  // namespace

void LevelView::mousePressEvent(QMouseEvent* event) {
    if (behaviour_ == nullptr) return;
    behaviour_->pointerPressed(buttonOf(event->button()), pixelAt(event->position()),
                               (event->modifiers() & Qt::ShiftModifier) != 0);
}

void LevelView::mouseMoveEvent(QMouseEvent* event) {
    if (behaviour_ != nullptr) behaviour_->pointerMoved(pixelAt(event->position()));
}

void LevelView::mouseReleaseEvent(QMouseEvent* event) {
    if (behaviour_ != nullptr) behaviour_->pointerReleased(buttonOf(event->button()), pixelAt(event->position()));
}

void LevelView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (behaviour_ != nullptr && event->button() == Qt::LeftButton) behaviour_->doubleClicked();
}

void LevelView::wheelEvent(QWheelEvent* event) {
    if (behaviour_ == nullptr) return;
    behaviour_->wheelTurned(pixelAt(event->position()), static_cast<float>(event->angleDelta().y()) / 120.0f);
}

void LevelView::keyPressEvent(QKeyEvent* event) {
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    std::optional<app::ViewKey> key;
    switch (event->key()) {
        case Qt::Key_Left:
            key = app::ViewKey::left;
            break;
        case Qt::Key_Right:
            key = app::ViewKey::right;
            break;
        case Qt::Key_Up:
            key = app::ViewKey::up;
            break;
        case Qt::Key_Down:
            key = app::ViewKey::down;
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
        case Qt::Key_PageUp:
            key = app::ViewKey::zoomIn;
            break;
        case Qt::Key_Minus:
        case Qt::Key_PageDown:
            key = app::ViewKey::zoomOut;
            break;
        default:
            break;
    }
    if (key && behaviour_ != nullptr && behaviour_->keyPressed(*key, shift)) return;
    QOpenGLWidget::keyPressEvent(event);
}

}  // namespace v2bsp::ui
