#include "app/levelgl.hpp"

#include <algorithm>
#include <tuple>

namespace v2bsp::app {
namespace {

using namespace gl;

constexpr Rgb kWireColour{0.05f, 0.05f, 0.05f};

constexpr char kCoreVersion[] = "#version 330 core\n";
// WebGL2 asks a fragment shader for its float precision; high, so that ids
// read back exactly.
constexpr char kEsVersion[] = "#version 300 es\nprecision highp float;\n";

constexpr char kVertexSource[] = R"(layout(location = 0) in vec3 position;
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
constexpr char kFragmentSource[] = R"(in vec3 eyeposition;
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

LevelArray<std::uint16_t> triangleEdges(const LevelArray<std::uint16_t>& triangles) {
    LevelArray<std::uint16_t> edges(triangles.size() / 3 * 6);
    auto* out = edges.data();
    for (std::size_t t = 0; triangles.size() - t >= 3; t += 3) {
        const std::uint16_t a = triangles[t], b = triangles[t + 1], c = triangles[t + 2];
        *out++ = a, *out++ = b, *out++ = b, *out++ = c, *out++ = c, *out++ = a;
    }
    return edges;
}

std::string vertexShaderSource(Dialect dialect) {
    return std::string(dialect == Dialect::es30 ? kEsVersion : kCoreVersion) + kVertexSource;
}

std::string fragmentShaderSource(Dialect dialect) {
    return std::string(dialect == Dialect::es30 ? kEsVersion : kCoreVersion) + kFragmentSource;
}

int meshOfIdColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue, int meshcount) {
    const int id = red | (green << 8) | (blue << 16);
    return id > 0 && id <= meshcount ? id - 1 : -1;
}

std::string LevelGl::make(const Functions& gl, Dialect dialect) {
    forget();
    gl_ = &gl;
    dialect_ = dialect;
    const Functions& g = gl;
    std::string log;
    const GLuint vertex = compiled(g, kVertexShader, vertexShaderSource(dialect).c_str(), log);
    const GLuint fragment = compiled(g, kFragmentShader, fragmentShaderSource(dialect).c_str(), log);
    GLuint program = 0;
    if (vertex != 0 && fragment != 0) {
        program = g.CreateProgram();
        g.AttachShader(program, vertex);
        g.AttachShader(program, fragment);
        g.LinkProgram(program);
        GLint linked = 0, length = 0;
        g.GetProgramiv(program, kLinkStatus, &linked);
        if (linked == 0) {
            g.GetProgramiv(program, kInfoLogLength, &length);
            std::string text(static_cast<std::size_t>(std::max(length, 1)), '\0');
            g.GetProgramInfoLog(program, length, nullptr, text.data());
            log += text;
            g.DeleteProgram(program);
            program = 0;
        }
    }
    for (const GLuint shader : {vertex, fragment}) {
        if (shader != 0) g.DeleteShader(shader);  // the program keeps what it linked
    }
    if (program == 0) return "the shaders were refused: " + trimmed(log);
    program_ = program;
    projection_ = g.GetUniformLocation(program_, "projection");
    modelview_ = g.GetUniformLocation(program_, "modelview");
    colour_ = g.GetUniformLocation(program_, "colour");
    mode_ = g.GetUniformLocation(program_, "mode");

    for (auto [vao, positions, indices] :
         {std::tuple{&vao_, &positions_, &indices_}, std::tuple{&coarseVao_, &coarsePositions_, &coarseIndices_}}) {
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
    if (dialect_ == Dialect::es30) {
        g.GenBuffers(1, &edges_);
        g.GenBuffers(1, &coarseEdges_);
    }
    return {};
}

void LevelGl::free() {
    if (!made()) return;
    const Functions& g = *gl_;
    g.DeleteProgram(program_);
    for (GLuint* array : {&vao_, &coarseVao_}) {
        if (*array != 0) g.DeleteVertexArrays(1, array);
    }
    for (GLuint* buffer : {&positions_, &indices_, &coarsePositions_, &coarseIndices_, &edges_, &coarseEdges_}) {
        if (*buffer != 0) g.DeleteBuffers(1, buffer);
    }
    forget();
}

void LevelGl::forget() {
    if (made()) {
        // The level goes to the buffers of the next context, if one is made.
        pending_ = true;
        coarsePending_ = compact_;
    }
    program_ = 0;
    projection_ = modelview_ = colour_ = mode_ = -1;
    vao_ = positions_ = indices_ = 0;
    coarseVao_ = coarsePositions_ = coarseIndices_ = 0;
    edges_ = coarseEdges_ = 0;
    uploadedBytes_ = coarseBytes_ = 0;
}

void LevelGl::setLevel(LevelGeometry geometry, LevelSource source) {
    compact_ = !geometry.coarseIndices.empty();
    geometry_ = std::move(geometry);
    source_ = std::move(source);
    pending_ = true;
    coarsePending_ = compact_;
}

// None given: the level is taken from the source once every array is wanted.
bool LevelGl::setArrays(LevelGeometry arrays) {
    if (!awaiting()) return false;
    geometry_.positions = std::move(arrays.positions);
    geometry_.indices = std::move(arrays.indices);
    geometry_.arraysToCome = false;
    return true;
}

// When the source can give the level again, the copy is let go once all is
// uploaded. Every array wanted before the level's arrays have come is taken
// from the source too.
LevelGl::Uploaded LevelGl::upload(const std::vector<LevelMeshRange>& ranges, bool all) {
    const bool coarse = compact_ && coarsePending_, rest = pending_ && (all || !compact_);
    if (!made() || (!coarse && !rest)) return {};
    if (source_ && ((geometry_.positions.empty() && !awaiting()) || (rest && awaiting()))) {
        geometry_ = source_();
        geometry_.meshes = {};
        if (geometry_.arraysToCome || !rangesFit(ranges, geometry_) || geometry_.coarseIndices.empty() == compact_) {
            geometry_ = {};
            return {false, "the level could not be had again for a new OpenGL context"};
        }
    }
    if (!rangesFit(ranges, geometry_)) {
        geometry_ = {};
        return {false, "the level's meshes lie outside its data"};
    }
    if (rest && awaiting()) {
        geometry_ = {};
        return {false, "the level's triangles are not at hand"};
    }
    const Functions& g = *gl_;
    // Each pair replaces what its buffers held; without coarse arrays those
    // buffers are emptied.
    // The edges' buffer is left bound to no array, whose indices stay the triangles'.
    const auto send = [&](GLuint vao, GLuint positions, GLuint indices, GLuint edges, const LevelArray<float>& from,
                          const LevelArray<std::uint16_t>& triangles) {
        const auto positionBytes = static_cast<GLsizeiptr>(from.size() * sizeof(float));
        const auto indexBytes = static_cast<GLsizeiptr>(triangles.size() * sizeof(std::uint16_t));
        g.BindVertexArray(vao);
        g.BindBuffer(kArrayBuffer, positions);
        g.BufferData(kArrayBuffer, positionBytes, from.data(), kStaticDraw);
        std::int64_t edgeBytes = 0;
        if (edges != 0) {
            const LevelArray<std::uint16_t> lines = triangleEdges(triangles);
            edgeBytes = static_cast<std::int64_t>(lines.size() * sizeof(std::uint16_t));
            g.BindBuffer(kElementArrayBuffer, edges);
            g.BufferData(kElementArrayBuffer, static_cast<GLsizeiptr>(edgeBytes), lines.data(), kStaticDraw);
        }
        g.BindBuffer(kElementArrayBuffer, indices);
        g.BufferData(kElementArrayBuffer, indexBytes, triangles.data(), kStaticDraw);
        return static_cast<std::int64_t>(positionBytes + indexBytes) + edgeBytes;
    };
    if (coarse || (rest && !compact_)) {
        coarseBytes_ = send(coarseVao_, coarsePositions_, coarseIndices_, coarseEdges_, geometry_.coarsePositions,
                            geometry_.coarseIndices);
        coarsePending_ = false;
    }
    // An earlier level's arrays go as soon as this one's coarse arrays are there.
    if (coarse && !rest) uploadedBytes_ = send(vao_, positions_, indices_, edges_, {}, {});
    if (rest) {
        uploadedBytes_ = send(vao_, positions_, indices_, edges_, geometry_.positions, geometry_.indices);
        pending_ = false;
    }
    g.BindVertexArray(0);
    g.BindBuffer(kArrayBuffer, 0);
    if (source_ && !pending_ && !coarsePending_) geometry_ = {};
    // The rest of a large level changes no picture: what was drawn of it stands.
    return {coarse || !compact_, {}};
}

std::int64_t LevelGl::bytes() const {
    return uploadedBytes_ + coarseBytes_ +
           static_cast<std::int64_t>(
               (geometry_.positions.capacity() + geometry_.coarsePositions.capacity()) * sizeof(float) +
               (geometry_.indices.capacity() + geometry_.coarseIndices.capacity()) * sizeof(std::uint16_t));
}

void LevelGl::drawMesh(GLuint positions, std::uint32_t first, std::uint32_t count, std::uint32_t baseVertex,
                       bool edges) const {
    const Functions& g = *gl_;
    const GLenum mode = edges ? kLines : kTriangles;
    const std::uintptr_t at = static_cast<std::uintptr_t>(first) * (edges ? 4 : 2);
    const auto drawn = static_cast<GLsizei>(edges ? count * 2 : count);
    if (dialect_ == Dialect::core33) {
        g.DrawElementsBaseVertex(mode, drawn, kUnsignedShort, reinterpret_cast<const void*>(at),
                                 static_cast<GLint>(baseVertex));
        return;
    }
    // The array's positions start at the mesh's first vertex.
    g.BindBuffer(kArrayBuffer, positions);
    g.VertexAttribPointer(0, 3, kFloat, kFalse, 3 * sizeof(float),
                          reinterpret_cast<const void*>(static_cast<std::uintptr_t>(baseVertex) * 3 * sizeof(float)));
    g.DrawElements(mode, drawn, kUnsignedShort, reinterpret_cast<const void*>(at));
}

std::int64_t LevelGl::draw(const LevelScene& scene, const Mat4& projection, MeshDraw draw, std::size_t first,
                           std::size_t last, const std::vector<bool>& shown) {
    const Functions& g = *gl_;
    const std::vector<LevelMeshRange>& ranges = scene.ranges;
    g.Enable(kDepthTest);
    g.Disable(kCullFace);
    g.UseProgram(program_);
    const Mat4 modelview = scene.camera.view() * scene.camera.model();
    g.UniformMatrix4fv(projection_, 1, kFalse, projection.data());
    g.UniformMatrix4fv(modelview_, 1, kFalse, modelview.data());
    const bool compact = draw == MeshDraw::coarse && compact_;
    g.BindVertexArray(compact ? coarseVao_ : vao_);
    const GLuint positions = compact ? coarsePositions_ : positions_;
    const GLuint indices = compact ? coarseIndices_ : indices_, edges = compact ? coarseEdges_ : edges_;
    const bool ids = draw == MeshDraw::ids;
    std::int64_t triangles = 0;
    const auto drawRange = [&](std::size_t m, bool lines) {
        const LevelMeshRange& range = ranges[m];
        const std::uint32_t count = draw == MeshDraw::coarse ? range.coarseCount : range.indexCount;
        drawMesh(positions, compact ? range.coarseFirstIndex : range.firstIndex, count,
                 compact ? range.coarseBaseVertex : range.baseVertex, lines);
        triangles += count / 3;
    };
    const bool overlay = scene.wireframe && !ids;
    for (std::size_t m = first; m < last && m < ranges.size(); ++m) {
        if (!shown[m]) continue;
        const int mesh = static_cast<int>(m);
        Rgb colour = ids ? idColour(mesh) : meshColour(ranges[m].number);
        // Towards white keeps the hue: the highlighted mesh is lighter, not another colour.
        if (!ids && mesh == scene.highlighted) {
            colour = {colour.red * 0.45f + 0.55f, colour.green * 0.45f + 0.55f, colour.blue * 0.45f + 0.55f};
        }
        g.Uniform1i(mode_, ids ? 1 : 0);
        g.Uniform3f(colour_, colour.red, colour.green, colour.blue);
        if (overlay) {
            g.Enable(kPolygonOffsetFill);
            g.PolygonOffset(1, 1);
        }
        drawRange(m, false);
        if (!overlay) continue;
        // The mesh's edges over its faces, which the offset put just behind them.
        g.Disable(kPolygonOffsetFill);
        g.Uniform1i(mode_, 1);
        g.Uniform3f(colour_, kWireColour.red, kWireColour.green, kWireColour.blue);
        if (dialect_ == Dialect::core33) {
            g.PolygonMode(kFrontAndBack, kLine);
            drawRange(m, false);
            g.PolygonMode(kFrontAndBack, kFill);
            continue;
        }
        g.BindBuffer(kElementArrayBuffer, edges);
        drawRange(m, true);
        g.BindBuffer(kElementArrayBuffer, indices);
    }
    g.BindVertexArray(0);
    g.UseProgram(0);
    return triangles;
}

}  // namespace v2bsp::app
