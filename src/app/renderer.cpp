#include "app/renderer.hpp"

#include <algorithm>
#include <utility>

#include "app/framing.hpp"

namespace v2bsp::app {
namespace {

using namespace gl;

constexpr Rgb kBackground{0.16f, 0.16f, 0.16f};

}  // namespace

std::string unavailableText(std::string_view reason) {
    return "3D view unavailable: " + std::string(reason);
}

LevelRenderer::LevelRenderer() = default;

LevelRenderer::~LevelRenderer() {
    forget();
}

bool LevelRenderer::fail(std::string reason) {
    failure_ = std::move(reason);
    return false;
}

std::string LevelRenderer::initialize(const gl::Functions& gl) {
    forget();
    failure_.clear();
    gl_ = &gl;
    const Functions& g = gl;
    int major = 0, minor = 0;
    contextVersion(g, major, minor);
    const Dialect dialect = contextDialect(g);
    const bool es = dialect == Dialect::es30;
    const int needMinor = es ? 0 : 3;
    if (major < 3 || (major == 3 && minor < needMinor)) {
        fail(std::string(es ? "OpenGL ES 3.0" : "OpenGL 3.3") + " is needed, this system offers " +
             std::to_string(major) + "." + std::to_string(minor));
        return failure_;
    }
    std::string refused = level_.make(g, dialect);
    if (!refused.empty()) {
        fail(std::move(refused));
        return failure_;
    }
    if (!picker_.make(g)) {
        picker_.free(g);
        level_.free();
        fail("no framebuffer for picking can be made");
        return failure_;
    }
    ready_ = true;
    uploadLevel(false);
    return failure_;
}

void LevelRenderer::release() {
    if (!ready_) return;
    const Functions& g = *gl_;
    level_.free();
    picker_.free(g);
    parts_.free(g);
    forget();
}

void LevelRenderer::forget() {
    level_.forget();
    picker_.forget();
    parts_.forget();
    ready_ = false;
}

void LevelRenderer::setLevel(LevelGeometry geometry, LevelSource source) {
    scene_.ranges = std::move(geometry.meshes);
    scene_.ranges.shrink_to_fit();
    scene_.camera.setBounds(geometry.min, geometry.max);
    level_.setLevel(std::move(geometry), std::move(source));
    triangles_ = 0;
    for (const LevelMeshRange& range : scene_.ranges) triangles_ += range.indexCount / 3;
    scene_.visible.assign(scene_.ranges.size(), true);
    scene_.highlighted = -1;
    arraysWanted_ = nullptr;
    changed();
}

bool LevelRenderer::setArrays(LevelGeometry arrays) {
    return level_.setArrays(std::move(arrays));
}

bool LevelRenderer::upload() {
    return uploadLevel(false);
}

// A level that cannot be uploaded leaves the view unavailable.
bool LevelRenderer::uploadLevel(bool all) {
    if (!ready_) return false;
    LevelGl::Uploaded uploaded = level_.upload(scene_.ranges, all);
    if (!uploaded.failure.empty()) {
        fail(std::move(uploaded.failure));
        release();
        return false;
    }
    if (uploaded.changedPicture) changed();
    return true;
}

std::int64_t LevelRenderer::levelBytes() const {
    return level_.bytes() +
           static_cast<std::int64_t>(scene_.ranges.capacity() * sizeof(LevelMeshRange) + scene_.visible.capacity() / 8);
}

void LevelRenderer::setMeshVisible(int mesh, bool visible) {
    if (mesh < 0 || mesh >= meshcount()) return;
    scene_.visible[static_cast<std::size_t>(mesh)] = visible;
    changed();
}

bool LevelRenderer::meshVisible(int mesh) const {
    return mesh >= 0 && mesh < meshcount() && scene_.visible[static_cast<std::size_t>(mesh)];
}

void LevelRenderer::setHighlighted(int mesh) {
    scene_.highlighted = mesh >= 0 && mesh < meshcount() ? mesh : -1;
    changed();
}

void LevelRenderer::setWireframe(bool on) {
    scene_.wireframe = on;
    changed();
}

void LevelRenderer::setMoving(bool moving) {
    if (moving == moving_) return;
    moving_ = moving;
    changed();
}

void LevelRenderer::frameMesh(int mesh) {
    if (mesh < 0 || mesh >= meshcount()) {
        scene_.camera.frameAll();
        return;
    }
    const LevelMeshRange& range = scene_.ranges[static_cast<std::size_t>(mesh)];
    scene_.camera.frameBox({range.min[0], range.min[1], range.min[2]}, {range.max[0], range.max[1], range.max[2]});
}

// A small level, or a moving camera, is drawn in one paint. Else the first
// paint of a new state draws the cheap picture and starts the full one off
// screen; each paint after it adds a part, and the last shows it.
Painted LevelRenderer::paint(const PaintTarget& target, Progress progress) {
    if (gl_ == nullptr) return Painted::nothing;
    uploadLevel(false);
    const Functions& g = *gl_;
    const int width = std::max(1, target.width), height = std::max(1, target.height);
    g.BindFramebuffer(kFramebuffer, target.framebuffer);
    g.Viewport(0, 0, width, height);
    g.ClearColor(kBackground.red, kBackground.green, kBackground.blue, 1);
    const bool whole = progress == Progress::whole;
    // A level whose triangles have not come yet shows its cheap picture.
    const bool cheap = ready_ && !whole && (level_.awaiting() || (moving_ && triangles_ > kMovingTriangles));
    const bool inParts = ready_ && !moving_ && !whole && triangles_ > kPartTriangles;
    const bool adding = inParts && parts_.continues(state(), width, height);
    if (adding && progress == Progress::hold) return Painted::held;
    // Every triangle is drawn but in the cheap picture. Before the first part
    // the rest of the level is uploaded, in a paint of its own.
    if (!cheap && (!inParts || adding) && level_.pending()) {
        const bool uploaded = uploadLevel(true);
        if (uploaded && adding) return Painted::adding;
        if (!uploaded) {
            g.Clear(kColorBufferBit | kDepthBufferBit);
            return Painted::nothing;
        }
    }
    // A part added leaves the cheap picture in the target, which the host keeps between paints.
    if (!adding) g.Clear(kColorBufferBit | kDepthBufferBit);
    if (!ready_) return Painted::nothing;
    const Mat4 projection = scene_.camera.projection();
    if (cheap) {
        level_.draw(scene_, projection, MeshDraw::coarse, 0, scene_.ranges.size(), scene_.visible);
        if (arraysWanted_ && level_.awaiting()) std::exchange(arraysWanted_, nullptr)();
        return Painted::cheap;
    }
    if (!inParts) {
        level_.draw(scene_, projection, MeshDraw::full, 0, scene_.ranges.size(), scene_.visible);
        return Painted::full;
    }
    if (!adding) {
        level_.draw(scene_, projection, MeshDraw::coarse, 0, scene_.ranges.size(), scene_.visible);
        parts_.start(g, state(), width, height);
        g.BindFramebuffer(kFramebuffer, target.framebuffer);
        return Painted::started;
    }
    return parts_.addPart(level_, scene_, projection, target.framebuffer) ? Painted::full : Painted::adding;
}

int LevelRenderer::meshAt(Pixel pixel) {
    uploadLevel(true);
    if (!ready_) return -1;
    return picker_.meshAt(level_, scene_, pixel);
}

std::vector<std::uint8_t> LevelRenderer::picture(int width, int height) {
    uploadLevel(true);
    if (!ready_ || width <= 0 || height <= 0) return {};
    return readPicture(*gl_, width, height, [&](GLuint framebuffer) {
        paint({framebuffer, width, height}, Progress::whole);
    });
}

}  // namespace v2bsp::app
