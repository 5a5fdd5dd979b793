#include "app/renderer.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

#include "app/framing.hpp"

namespace v2bsp::app {
namespace {

using namespace gl;

constexpr Rgb kBackground{0.16f, 0.16f, 0.16f};
constexpr Rgb kWireColour{0.05f, 0.05f, 0.05f};

constexpr char kVertexSource[] = R"(#version 330 core
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
constexpr char kFragmentSource[] = R"(#version 330 core
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

// Mesh `mesh`'s id as a colour: 1 + its index, in the three 8-bit channels.
Rgb idColour(int mesh) {
    const auto id = static_cast<std::uint32_t>(mesh + 1);
    return {static_cast<float>(id & 0xFF) / 255.0f, static_cast<float>((id >> 8) & 0xFF) / 255.0f,
            static_cast<float>((id >> 16) & 0xFF) / 255.0f};
}

std::string trimmed(std::string text) {
    const auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\0'; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    return std::string(first, text.end());
}

// A framebuffer with a colour and a depth renderbuffer.
struct Offscreen {
    GLuint framebuffer = 0, colour = 0, depth = 0;
    int width = 0, height = 0;

    bool make(const Functions& g, int w, int h) {
        g.GenFramebuffers(1, &framebuffer);
        g.GenRenderbuffers(1, &colour);
        g.GenRenderbuffers(1, &depth);
        g.BindRenderbuffer(kRenderbuffer, colour);
        g.RenderbufferStorage(kRenderbuffer, kRgba8, w, h);
        g.BindRenderbuffer(kRenderbuffer, depth);
        g.RenderbufferStorage(kRenderbuffer, kDepthComponent24, w, h);
        g.BindRenderbuffer(kRenderbuffer, 0);
        g.BindFramebuffer(kFramebuffer, framebuffer);
        g.FramebufferRenderbuffer(kFramebuffer, kColorAttachment0, kRenderbuffer, colour);
        g.FramebufferRenderbuffer(kFramebuffer, kDepthAttachment, kRenderbuffer, depth);
        const bool complete = g.CheckFramebufferStatus(kFramebuffer) == kFramebufferComplete;
        g.BindFramebuffer(kFramebuffer, 0);
        width = w;
        height = h;
        return complete;
    }
    void free(const Functions& g) {
        if (framebuffer != 0) g.DeleteFramebuffers(1, &framebuffer);
        if (colour != 0) g.DeleteRenderbuffers(1, &colour);
        if (depth != 0) g.DeleteRenderbuffers(1, &depth);
        *this = {};
    }
};

}  // namespace

struct LevelRenderer::Objects {
    GLuint program = 0;
    GLint projection = -1, modelview = -1, colour = -1, mode = -1;
    GLuint vao = 0, positions = 0, indices = 0;
    GLuint coarseVao = 0, coarsePositions = 0, coarseIndices = 0;
    Offscreen pick;   // 1 x 1, for meshAt
    Offscreen whole;  // where the full picture of a large level is drawn

    void free(const Functions& g) {
        if (program != 0) g.DeleteProgram(program);
        for (GLuint* array : {&vao, &coarseVao}) {
            if (*array != 0) g.DeleteVertexArrays(1, array);
        }
        for (GLuint* buffer : {&positions, &indices, &coarsePositions, &coarseIndices}) {
            if (*buffer != 0) g.DeleteBuffers(1, buffer);
        }
        pick.free(g);
        whole.free(g);
    }
};

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

namespace {

// A compiled shader, or 0 with the reason in `log`.
GLuint compiled(const Functions& g, GLenum type, const char* source, std::string& log) {
    const GLuint shader = g.CreateShader(type);
    g.ShaderSource(shader, 1, &source, nullptr);
    g.CompileShader(shader);
    GLint ok = 0, length = 0;
    g.GetShaderiv(shader, kCompileStatus, &ok);
    if (ok != 0) return shader;
    g.GetShaderiv(shader, kInfoLogLength, &length);
    std::string text(static_cast<std::size_t>(std::max(length, 1)), '\0');
    g.GetShaderInfoLog(shader, length, nullptr, text.data());
    log += text;
    g.DeleteShader(shader);
    return 0;
}

}  // namespace

std::string LevelRenderer::initialize(const gl::Functions& gl) {
    forget();
    failure_.clear();
    gl_ = &gl;
    const Functions& g = gl;
    int major = 0, minor = 0;
    contextVersion(g, major, minor);
    if (major < 3 || (major == 3 && minor < 3)) {
        fail("OpenGL 3.3 is needed, this system offers " + std::to_string(major) + "." + std::to_string(minor));
        return failure_;
    }
    auto objects = std::make_unique<Objects>();
    std::string log;
    const GLuint vertex = compiled(g, kVertexShader, kVertexSource, log);
    const GLuint fragment = compiled(g, kFragmentShader, kFragmentSource, log);
    if (vertex != 0 && fragment != 0) {
        objects->program = g.CreateProgram();
        g.AttachShader(objects->program, vertex);
        g.AttachShader(objects->program, fragment);
        g.LinkProgram(objects->program);
        GLint linked = 0, length = 0;
        g.GetProgramiv(objects->program, kLinkStatus, &linked);
        if (linked == 0) {
            g.GetProgramiv(objects->program, kInfoLogLength, &length);
            std::string text(static_cast<std::size_t>(std::max(length, 1)), '\0');
            g.GetProgramInfoLog(objects->program, length, nullptr, text.data());
            log += text;
            g.DeleteProgram(objects->program);
            objects->program = 0;
        }
    }
    for (const GLuint shader : {vertex, fragment}) {
        if (shader != 0) g.DeleteShader(shader);  // the program keeps what it linked
    }
    if (objects->program == 0) {
        fail("the shaders were refused: " + trimmed(log));
        return failure_;
    }
    objects->projection = g.GetUniformLocation(objects->program, "projection");
    objects->modelview = g.GetUniformLocation(objects->program, "modelview");
    objects->colour = g.GetUniformLocation(objects->program, "colour");
    objects->mode = g.GetUniformLocation(objects->program, "mode");

    for (auto [vao, positions, indices] : {std::tuple{&objects->vao, &objects->positions, &objects->indices},
                                           std::tuple{&objects->coarseVao, &objects->coarsePositions,
                                                      &objects->coarseIndices}}) {
        g.GenVertexArrays(1, vao);
        g.GenBuffers(1, positions);
        g.GenBuffers(1, indices);
        g.BindVertexArray(*vao);
        g.BindBuffer(kArrayBuffer, *positions);
        g.BindBuffer(kElementArrayBuffer, *indices);
        g.EnableVertexAttribArray(0);
        g.VertexAttribPointer(0, 3, kFloat, kFalse, 3 * sizeof(float), nullptr);
    }
    g.BindVertexArray(0);
    g.BindBuffer(kArrayBuffer, 0);
    if (!objects->pick.make(g, 1, 1)) {
        objects->free(g);
        fail("no framebuffer for picking can be made");
        return failure_;
    }
    objects_ = std::move(objects);
    ready_ = true;
    uploadLevel(false);
    return failure_;
}

void LevelRenderer::release() {
    if (objects_ == nullptr) return;
    objects_->free(*gl_);
    forget();
}

void LevelRenderer::forget() {
    if (objects_ != nullptr) {
        objects_.reset();
        // The level goes to the buffers of the next context, if one is made.
        pending_ = true;
        coarsePending_ = compact_;
    }
    ready_ = false;
    uploadedBytes_ = coarseBytes_ = 0;
}

void LevelRenderer::setLevel(LevelGeometry geometry, LevelSource source) {
    ranges_ = std::move(geometry.meshes);
    ranges_.shrink_to_fit();
    camera_.setBounds(geometry.min, geometry.max);
    compact_ = !geometry.coarseIndices.empty();
    geometry_ = std::move(geometry);
    source_ = std::move(source);
    triangles_ = 0;
    for (const LevelMeshRange& range : ranges_) triangles_ += range.indexCount / 3;
    visible_.assign(ranges_.size(), true);
    highlighted_ = -1;
    pending_ = true;
    coarsePending_ = compact_;
    changed();
}

bool LevelRenderer::upload() {
    return uploadLevel(false);
}

// The level's data goes to the GL, a large level's coarse arrays first: the
// first picture waits for nothing else. When the source can give it again,
// the copy is let go once all is uploaded, so the level is held once, by the GL.
bool LevelRenderer::uploadLevel(bool all) {
    if (!ready_) return false;
    const bool coarse = compact_ && coarsePending_, rest = pending_ && (all || !compact_);
    if (!coarse && !rest) return true;
    if (geometry_.positions.empty() && source_) {
        geometry_ = source_();
        geometry_.meshes = {};
        if (!rangesFit(ranges_, geometry_) || geometry_.coarseIndices.empty() == compact_) {
            geometry_ = {};
            fail("the level could not be had again for a new OpenGL context");
            release();
            return false;
        }
    }
    if (!rangesFit(ranges_, geometry_)) {
        geometry_ = {};
        fail("the level's meshes lie outside its data");
        release();
        return false;
    }
    const Functions& g = *gl_;
    // Each pair replaces what its buffers held; without coarse arrays those
    // buffers are emptied.
    const auto send = [&](GLuint vao, GLuint positions, GLuint indices, const LevelArray<float>& from,
                          const LevelArray<std::uint16_t>& triangles) {
        const auto positionBytes = static_cast<GLsizeiptr>(from.size() * sizeof(float));
        const auto indexBytes = static_cast<GLsizeiptr>(triangles.size() * sizeof(std::uint16_t));
        g.BindVertexArray(vao);
        g.BindBuffer(kArrayBuffer, positions);
        g.BufferData(kArrayBuffer, positionBytes, from.data(), kStaticDraw);
        g.BindBuffer(kElementArrayBuffer, indices);
        g.BufferData(kElementArrayBuffer, indexBytes, triangles.data(), kStaticDraw);
        return static_cast<std::int64_t>(positionBytes + indexBytes);
    };
    if (coarse || (rest && !compact_)) {
        coarseBytes_ = send(objects_->coarseVao, objects_->coarsePositions, objects_->coarseIndices,
                            geometry_.coarsePositions, geometry_.coarseIndices);
        coarsePending_ = false;
    }
    // An earlier level's arrays go as soon as this one's coarse arrays are there.
    if (coarse && !rest) uploadedBytes_ = send(objects_->vao, objects_->positions, objects_->indices, {}, {});
    if (rest) {
        uploadedBytes_ =
            send(objects_->vao, objects_->positions, objects_->indices, geometry_.positions, geometry_.indices);
        pending_ = false;
    }
    g.BindVertexArray(0);
    g.BindBuffer(kArrayBuffer, 0);
    if (source_ && !pending_ && !coarsePending_) geometry_ = {};
    // The rest of a large level changes no picture: what was drawn of it stands.
    if (coarse || !compact_) changed();
    return true;
}

std::int64_t LevelRenderer::levelBytes() const {
    return uploadedBytes_ + coarseBytes_ +
           static_cast<std::int64_t>((geometry_.positions.capacity() + geometry_.coarsePositions.capacity()) *
                                         sizeof(float) +
                                     (geometry_.indices.capacity() + geometry_.coarseIndices.capacity()) *
                                         sizeof(std::uint16_t) +
                                     ranges_.capacity() * sizeof(LevelMeshRange) + visible_.capacity() / 8);
}

void LevelRenderer::setMeshVisible(int mesh, bool visible) {
    if (mesh < 0 || mesh >= meshcount()) return;
    visible_[static_cast<std::size_t>(mesh)] = visible;
    changed();
}

bool LevelRenderer::meshVisible(int mesh) const {
    return mesh >= 0 && mesh < meshcount() && visible_[static_cast<std::size_t>(mesh)];
}

void LevelRenderer::setHighlighted(int mesh) {
    highlighted_ = mesh >= 0 && mesh < meshcount() ? mesh : -1;
    changed();
}

void LevelRenderer::setWireframe(bool on) {
    wireframe_ = on;
    changed();
}

void LevelRenderer::setMoving(bool moving) {
    if (moving == moving_) return;
    moving_ = moving;
    changed();
}

void LevelRenderer::frameMesh(int mesh) {
    if (mesh < 0 || mesh >= meshcount()) {
        camera_.frameAll();
        return;
    }
    const LevelMeshRange& range = ranges_[static_cast<std::size_t>(mesh)];
    camera_.frameBox({range.min[0], range.min[1], range.min[2]}, {range.max[0], range.max[1], range.max[2]});
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
    const bool cheap = ready_ && moving_ && !whole && triangles_ > kMovingTriangles;
    const bool inParts = ready_ && !moving_ && !whole && triangles_ > kPartTriangles;
    const bool adding = inParts && wholeState_ == state() && objects_->whole.framebuffer != 0 &&
                        objects_->whole.width == width && objects_->whole.height == height;
    if (adding && progress == Progress::hold) return Painted::held;
    // Every triangle is drawn but in the cheap picture. Before the first part
    // the rest of the level is uploaded, in a paint of its own.
    if (!cheap && (!inParts || adding) && pending_) {
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
    const Mat4 projection = camera_.projection();
    if (cheap) {
        drawMeshes(projection, Draw::coarse, 0, ranges_.size(), visible_);
        return Painted::cheap;
    }
    if (!inParts) {
        drawMeshes(projection, Draw::full, 0, ranges_.size(), visible_);
        return Painted::full;
    }
    Offscreen& picture = objects_->whole;
    if (!adding) {
        drawMeshes(projection, Draw::coarse, 0, ranges_.size(), visible_);
        if (picture.width != width || picture.height != height) {
            picture.free(g);
            picture.make(g, width, height);
        }
        wholeState_ = state();
        wholeNext_ = 0;
        g.BindFramebuffer(kFramebuffer, picture.framebuffer);
        g.Clear(kColorBufferBit | kDepthBufferBit);
        g.BindFramebuffer(kFramebuffer, target.framebuffer);
        return Painted::started;
    }
    g.BindFramebuffer(kFramebuffer, picture.framebuffer);
    std::int64_t drawn = 0;
    while (wholeNext_ < ranges_.size() && drawn < kPartTriangles) {
        drawn += drawMeshes(projection, Draw::full, wholeNext_, wholeNext_ + 1, visible_);
        ++wholeNext_;
    }
    if (wholeNext_ < ranges_.size()) {
        g.BindFramebuffer(kFramebuffer, target.framebuffer);
        return Painted::adding;
    }
    g.BindFramebuffer(kReadFramebuffer, picture.framebuffer);
    g.BindFramebuffer(kDrawFramebuffer, target.framebuffer);
    g.BlitFramebuffer(0, 0, width, height, 0, 0, width, height, kColorBufferBit, kNearest);
    g.BindFramebuffer(kFramebuffer, target.framebuffer);
    return Painted::full;
}

std::int64_t LevelRenderer::drawMeshes(const Mat4& projection, Draw draw, std::size_t first, std::size_t last,
                                       const std::vector<bool>& shown) {
    const Functions& g = *gl_;
    g.Enable(kDepthTest);
    g.Disable(kCullFace);
    g.UseProgram(objects_->program);
    const Mat4 modelview = camera_.view() * camera_.model();
    g.UniformMatrix4fv(objects_->projection, 1, kFalse, projection.data());
    g.UniformMatrix4fv(objects_->modelview, 1, kFalse, modelview.data());
    const bool compact = draw == Draw::coarse && compact_;
    g.BindVertexArray(compact ? objects_->coarseVao : objects_->vao);
    const bool ids = draw == Draw::ids;
    std::int64_t triangles = 0;
    const auto drawRange = [&](std::size_t m) {
        const LevelMeshRange& range = ranges_[m];
        const std::uint32_t count = draw == Draw::coarse ? range.coarseCount : range.indexCount;
        const std::uint32_t first = compact ? range.coarseFirstIndex : range.firstIndex;
        g.DrawElementsBaseVertex(kTriangles, static_cast<GLsizei>(count), kUnsignedShort,
                                 reinterpret_cast<const void*>(static_cast<std::uintptr_t>(first) * 2),
                                 static_cast<GLint>(compact ? range.coarseBaseVertex : range.baseVertex));
        triangles += count / 3;
    };
    const bool overlay = wireframe_ && !ids;
    for (std::size_t m = first; m < last && m < ranges_.size(); ++m) {
        if (!shown[m]) continue;
        const int mesh = static_cast<int>(m);
        Rgb colour = ids ? idColour(mesh) : meshColour(ranges_[m].number);
        // Towards white keeps the hue: the highlighted mesh is lighter, not another colour.
        if (!ids && mesh == highlighted_) {
            colour = {colour.red * 0.45f + 0.55f, colour.green * 0.45f + 0.55f, colour.blue * 0.45f + 0.55f};
        }
        g.Uniform1i(objects_->mode, ids ? 1 : 0);
        g.Uniform3f(objects_->colour, colour.red, colour.green, colour.blue);
        if (overlay) {
            g.Enable(kPolygonOffsetFill);
            g.PolygonOffset(1, 1);
        }
        drawRange(m);
        if (!overlay) continue;
        // The mesh's edges over its faces, which the offset put just behind them.
        g.Disable(kPolygonOffsetFill);
        g.PolygonMode(kFrontAndBack, kLine);
        g.Uniform1i(objects_->mode, 1);
        g.Uniform3f(objects_->colour, kWireColour.red, kWireColour.green, kWireColour.blue);
        drawRange(m);
        g.PolygonMode(kFrontAndBack, kFill);
    }
    g.BindVertexArray(0);
    g.UseProgram(0);
    return triangles;
}

// The visible meshes whose bounds may cover `pixel`: those whose box lies
// wholly in front of the camera and projects beside it are left out, so a
// pick in a large level draws a few meshes, not all.
std::vector<bool> LevelRenderer::meshesAround(Pixel pixel) const {
    const Mat4 transform = camera_.transform();
    float x = 0, y = 0;
    camera_.deviceOf(pixel, x, y);
    std::vector<bool> around = visible_;
    for (std::size_t m = 0; m < ranges_.size(); ++m) {
        if (!around[m]) continue;
        const LevelMeshRange& range = ranges_[m];
        float low_x = 2, high_x = -2, low_y = 2, high_y = -2;
        bool in_front = true;
        for (int corner = 0; corner < 8 && in_front; ++corner) {
            const Vec4 at =
                transform * Vec4{corner & 1 ? range.max[0] : range.min[0], corner & 2 ? range.max[1] : range.min[1],
                                 corner & 4 ? range.max[2] : range.min[2], 1};
            in_front = at.w > 0;
            if (!in_front) break;
            low_x = std::min(low_x, at.x / at.w), high_x = std::max(high_x, at.x / at.w);
            low_y = std::min(low_y, at.y / at.w), high_y = std::max(high_y, at.y / at.w);
        }
        constexpr float kSlack = 0.01f;  // of the view; rounding in the projection
        if (in_front && (x < low_x - kSlack || x > high_x + kSlack || y < low_y - kSlack || y > high_y + kSlack)) {
            around[m] = false;
        }
    }
    return around;
}

// The projection is narrowed so that the pixel fills the 1 x 1 pick buffer,
// and the mesh ids are drawn there as colours.
int LevelRenderer::meshAt(Pixel pixel) {
    uploadLevel(true);
    if (!ready_) return -1;
    const Functions& g = *gl_;
    g.BindFramebuffer(kFramebuffer, objects_->pick.framebuffer);
    g.Viewport(0, 0, 1, 1);
    g.ClearColor(0, 0, 0, 1);
    g.Clear(kColorBufferBit | kDepthBufferBit);
    drawMeshes(camera_.pickProjection(pixel), Draw::ids, 0, ranges_.size(), meshesAround(pixel));
    std::uint8_t rgba[4] = {0, 0, 0, 0};
    g.PixelStorei(kPackAlignment, 1);
    g.ReadPixels(0, 0, 1, 1, kRgba, kUnsignedByte, rgba);
    g.BindFramebuffer(kFramebuffer, 0);
    const int id = rgba[0] | (rgba[1] << 8) | (rgba[2] << 16);
    return id > 0 && id <= meshcount() ? id - 1 : -1;
}

std::vector<std::uint8_t> LevelRenderer::picture(int width, int height) {
    uploadLevel(true);
    if (!ready_ || width <= 0 || height <= 0) return {};
    const Functions& g = *gl_;
    Offscreen target;
    if (!target.make(g, width, height)) {
        target.free(g);
        return {};
    }
    paint({target.framebuffer, width, height}, Progress::whole);
    const auto row = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> pixels(row * static_cast<std::size_t>(height));
    g.BindFramebuffer(kFramebuffer, target.framebuffer);
    g.PixelStorei(kPackAlignment, 1);
    g.ReadPixels(0, 0, width, height, kRgba, kUnsignedByte, pixels.data());
    g.BindFramebuffer(kFramebuffer, 0);
    target.free(g);
    // The GL's rows run from the bottom.
    std::vector<std::uint8_t> swap(row);
    for (std::size_t top = 0, bottom = static_cast<std::size_t>(height) - 1; top < bottom; ++top, --bottom) {
        std::memcpy(swap.data(), pixels.data() + top * row, row);
        std::memcpy(pixels.data() + top * row, pixels.data() + bottom * row, row);
        std::memcpy(pixels.data() + bottom * row, swap.data(), row);
    }
    return pixels;
}

}  // namespace v2bsp::app
