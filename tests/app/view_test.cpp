// The 3D View's toolkit-free parts: matrices and camera, the GL function
// table, colours and the mesh list.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "app/camera.hpp"
#include "app/framing.hpp"
#include "app/glfunctions.hpp"
#include "app/level.hpp"
#include "app/levelgl.hpp"
#include "app/readback.hpp"
#include "mapimage/portable.hpp"
#include "writers/levelmesh.hpp"

namespace v2bsp::app {
namespace {

void expectNear(const Vec3& got, const Vec3& expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(got.x, expected.x, tolerance);
    EXPECT_NEAR(got.y, expected.y, tolerance);
    EXPECT_NEAR(got.z, expected.z, tolerance);
}

// A 90-degree field of view, square, near 1, far 10: a point at eye depth d
// lands at x / d, y / d, and depth (11 d - 20) / (9 d).
TEST(Matrix, ProjectsKnownPoints) {
    const Mat4 projection = Mat4::perspective(90, 1, 1, 10);
    const struct {
        Vec3 eye;
        Vec3 point;
        Vec3 device;
    } cases[] = {
        {{0, 0, 5}, {0, 0, 0}, {0, 0, 7.0f / 9}},
        {{0, 0, 5}, {1, 2, 0}, {0.2f, 0.4f, 7.0f / 9}},
        {{0, 0, 5}, {0, 0, 4}, {0, 0, -1}},                // on the near plane
        {{0, 0, 5}, {3, 0, -5}, {0.3f, 0, 1}},             // on the far plane
        {{5, 0, 0}, {0, 0, -1}, {0.2f, 0, 7.0f / 9}},      // looking along -x, world -z is to the right
        {{0, 5, 0.001f}, {1, 0, 0}, {0.2f, 0, 7.0f / 9}},  // from above, nearly
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.eye.x) + " " + std::to_string(c.eye.y) + " " + std::to_string(c.eye.z));
        expectNear((projection * Mat4::lookAt(c.eye, {0, 0, 0}, {0, 1, 0})).map(c.point), c.device, 2e-4f);
    }
}

TEST(Matrix, InverseAndQuarterTurns) {
    const Mat4 m = Mat4::perspective(45, 1.5f, 0.5f, 80) * Mat4::lookAt({3, 4, 5}, {1, 0, -2}, {0, 1, 0});
    const Mat4 product = m * m.inverted();
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(product.at(r, c), r == c ? 1 : 0, 1e-5f) << r << "," << c;
    }
    const Mat4 singular = Mat4().scaled({1, 0, 1});
    EXPECT_EQ(singular.inverted().map({1, 2, 3}), (Vec3{1, 2, 3}));
    // Z up shows (x, y, z) as (x, z, -y), exactly.
    EXPECT_EQ(Mat4().rotated(-90, {1, 0, 0}).map({1, 2, 3}), (Vec3{1, 3, -2}));
    EXPECT_EQ(Mat4().rotated(270, {1, 0, 0}).map({1, 2, 3}), (Vec3{1, 3, -2}));
}

Camera cameraOf(int width, int height, float yaw, float pitch) {
    Camera camera;
    camera.setViewport(width, height);
    camera.setBounds({-8, 0, -6}, {8, 5, 6});
    camera.setOrbit(yaw, pitch);
    camera.frameAll();
    return camera;
}

// Framed, every corner of the level lies inside the view, whatever its shape
// and the camera's angle; the target is drawn at the middle.
TEST(Camera, FrameAllShowsTheWholeLevel) {
    const struct {
        int width, height;
        float yaw, pitch;
    } cases[] = {{640, 480, 35, 30}, {300, 600, 0, 90}, {1200, 300, -120, -45}, {1, 1, 0, 0}, {500, 500, 89, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const Camera camera = cameraOf(c.width, c.height, c.yaw, c.pitch);
        EXPECT_TRUE(camera.framed());
        for (int corner = 0; corner < 8; ++corner) {
            const Pixel at =
                camera.pixelOf({corner & 1 ? 8.0f : -8.0f, corner & 2 ? 5.0f : 0.0f, corner & 4 ? 6.0f : -6.0f});
            EXPECT_TRUE(at.x >= 0 && at.x <= c.width && at.y >= 0 && at.y <= c.height) << corner;
        }
        const Pixel middle = camera.pixelOf({0, 2.5f, 0});
        EXPECT_NEAR(middle.x, c.width / 2, 1);
        EXPECT_NEAR(middle.y, c.height / 2, 1);
    }
}

// The point under the cursor stays under it as the wheel zooms; a drag pans
// the target along with the cursor; a new size keeps the level framed only
// until the camera is moved.
TEST(Camera, ZoomPanAndResizeKeepWhatTheUserSees) {
    Camera camera = cameraOf(640, 480, 35, 30);
    const Mat4 inverse = camera.view().inverted();
    const Vec3 offCentre = camera.target() + inverse.mapVector({3, -1, 0});  // at the target's depth
    const Pixel cursor = camera.pixelOf(offCentre);
    for (const float notches : {1.0f, 3.0f, -2.0f}) {
        camera.zoomAt(cursor, notches);
        const Pixel after = camera.pixelOf(offCentre);
        EXPECT_NEAR(after.x, cursor.x, 1) << notches;
        EXPECT_NEAR(after.y, cursor.y, 1) << notches;
    }
    EXPECT_FALSE(camera.framed());

    const Vec3 target = camera.target();
    const Pixel before = camera.pixelOf(target);
    camera.panByPixels(40, -25);
    const Pixel panned = camera.pixelOf(target);
    EXPECT_NEAR(panned.x, before.x + 40, 1);
    EXPECT_NEAR(panned.y, before.y - 25, 1);

    Camera framed = cameraOf(640, 480, 35, 30);
    const float distance = framed.distance();
    framed.setViewport(200, 480);  // narrower: it steps back
    EXPECT_GT(framed.distance(), distance);
    framed.orbitByPixels(10, 0);
    const float moved = framed.distance();
    framed.setViewport(640, 480);
    EXPECT_EQ(framed.distance(), moved);
}

// Whoever keeps a picture drawn through the camera tells from its revision
// whether the camera still shows the same: every change counts, a query or a
// wheel turn of no notches does not.
TEST(Camera, RevisionCountsEveryChangeOfWhatItShows) {
    const struct {
        const char* name;
        void (*apply)(Camera&);
        bool changes;
    } cases[] = {
        {"setViewport", [](Camera& c) { c.setViewport(300, 200); }, true},
        {"setBounds",
         [](Camera& c) {
             c.setBounds({0, 0, 0}, {1, 1, 1});
         },
         true},
        {"setZUp", [](Camera& c) { c.setZUp(true); }, true},
        {"setOrbit", [](Camera& c) { c.setOrbit(10, 20); }, true},
        {"orbitBy", [](Camera& c) { c.orbitBy(1, 0); }, true},
        {"orbitByPixels", [](Camera& c) { c.orbitByPixels(0, 3); }, true},
        {"panByPixels", [](Camera& c) { c.panByPixels(4, 0); }, true},
        {"zoomAt",
         [](Camera& c) {
             c.zoomAt({10, 10}, 1);
         },
         true},
        {"frameAll", [](Camera& c) { c.frameAll(); }, true},
        {"frameBox",
         [](Camera& c) {
             c.frameBox({0, 0, 0}, {1, 2, 3});
         },
         true},
        {"zoomAt, no notches",
         [](Camera& c) {
             c.zoomAt({10, 10}, 0);
         },
         false},
        {"queries",
         [](Camera& c) {
             (void)c.pixelOf({1, 2, 3});
             (void)c.pickProjection({1, 1});
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Camera camera = cameraOf(640, 480, 35, 30);
        const std::uint64_t before = camera.revision();
        c.apply(camera);
        if (c.changes) {
            EXPECT_GT(camera.revision(), before);
        } else {
            EXPECT_EQ(camera.revision(), before);
        }
    }
}

// What the 1 x 1 pick buffer shows: the point drawn at the pixel, and not
// one a few pixels away.
TEST(Camera, PickProjectionNarrowsToOnePixel) {
    const Camera camera = cameraOf(640, 480, 35, 30);
    const Vec3 point{2, 1, -3};
    const Pixel at = camera.pixelOf(point);
    const struct {
        int dx, dy;
        bool inside;
    } cases[] = {{0, 0, true}, {3, 0, false}, {0, -3, false}, {-2, 2, false}};
    for (const auto& c : cases) {
        const Vec3 device =
            (camera.pickProjection({at.x + c.dx, at.y + c.dy}) * camera.view() * camera.model()).map(point);
        EXPECT_EQ(std::abs(device.x) <= 1 && std::abs(device.y) <= 1, c.inside) << c.dx << "," << c.dy;
    }
}

// A pick draws only the visible meshes whose box may cover the pixel: one
// drawn beside it is left out, one reaching behind the camera is kept
// whatever its front corners show.
TEST(Picking, MeshesAroundAPixel) {
    LevelScene scene;
    scene.camera = cameraOf(640, 480, 35, 30);
    const Mat4 inverse = scene.camera.view().inverted();
    const Vec3 eye = inverse.map({0, 0, 0}), right = inverse.mapVector({1, 0, 0}),
               forward = inverse.mapVector({0, 0, -1});
    const Vec3 under{-4, 1, -3}, beside{5, 4, 5};
    const Pixel pixel = scene.camera.pixelOf(under);
    const Pixel away = scene.camera.pixelOf(beside);
    ASSERT_GT(std::abs(away.x - pixel.x) + std::abs(away.y - pixel.y), 100);
    const Vec3 half{0.5f, 0.5f, 0.5f};
    const struct {
        const char* name;
        Vec3 a, b;  // opposite corners
        bool visible, kept;
    } cases[] = {
        {"under the pixel", under - half, under + half, true, true},
        {"under it, hidden", under - half, under + half, false, false},
        {"beside it", beside - half, beside + half, true, false},
        {"the whole level", {-8, 0, -6}, {8, 5, 6}, true, true},
        {"off to the right, reaching behind the camera", eye + right * 5 - forward, eye + right * 6 + forward * 2, true,
         true},
        {"off to the right, in front", eye + right * 5 + forward * 2, eye + right * 6 + forward * 3, true, false},
    };
    for (const auto& c : cases) {
        LevelMeshRange range;
        range.min[0] = std::min(c.a.x, c.b.x), range.max[0] = std::max(c.a.x, c.b.x);
        range.min[1] = std::min(c.a.y, c.b.y), range.max[1] = std::max(c.a.y, c.b.y);
        range.min[2] = std::min(c.a.z, c.b.z), range.max[2] = std::max(c.a.z, c.b.z);
        scene.ranges.push_back(range);
        scene.visible.push_back(c.visible);
    }
    const std::vector<bool> around = meshesAround(scene, pixel);
    ASSERT_EQ(around.size(), std::size(cases));
    for (std::size_t m = 0; m < around.size(); ++m) EXPECT_EQ(around[m], cases[m].kept) << cases[m].name;
}

// A pick reads the mesh back from the colour its id was drawn in: 1 + its
// index, low byte in red; black and ids past the level are no mesh.
TEST(Picking, MeshOfIdColour) {
    const struct {
        std::uint8_t red, green, blue;
        int meshcount, mesh;
    } cases[] = {
        {0, 0, 0, 10, -1},   {1, 0, 0, 10, 0},     {10, 0, 0, 10, 9},       {11, 0, 0, 10, -1},
        {0, 1, 0, 300, 255}, {44, 1, 0, 300, 299}, {0, 0, 1, 70000, 65535}, {255, 255, 255, 10, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(meshOfIdColour(c.red, c.green, c.blue, c.meshcount), c.mesh)
            << int(c.red) << "," << int(c.green) << "," << int(c.blue);
    }
}

// The loader's answers, one lookup away from the system.
const char* g_missing = "";
const char* g_version = "";
void anyFunction() {}
const gl::GLubyte* versionText(gl::GLenum) {
    return reinterpret_cast<const gl::GLubyte*>(g_version);
}
void* fakeResolver(const char* name) {
    if (std::string(name) == g_missing) return nullptr;
    if (std::string(name) == "glGetString") return reinterpret_cast<void*>(&versionText);
    if (std::string(g_missing) == "one" && std::string(name) == "glBlitFramebuffer") return reinterpret_cast<void*>(1);
    return reinterpret_cast<void*>(&anyFunction);
}

TEST(GlFunctions, LoadsAllOrSaysWhichIsMissing) {
    constexpr const char* kEs = "OpenGL ES 3.0 (WebGL 2.0 (OpenGL ES 3.0 Chromium))";
    const struct {
        const char* missing;
        const char* version;
        const char* reason;
        bool coreOnes;  // PolygonMode and DrawElementsBaseVertex filled
    } cases[] = {
        {"", "", "", true},
        {"glDrawElementsBaseVertex", "", "the OpenGL function glDrawElementsBaseVertex is missing", false},
        {"glClear", "", "the OpenGL function glClear is missing", false},
        {"one", "", "the OpenGL function glBlitFramebuffer is missing", false},  // a system's "1" for none
        {"glPolygonMode", "4.6 (Core Profile) Mesa", "the OpenGL function glPolygonMode is missing", false},
        // OpenGL ES has neither; the renderer does without them there.
        {"glPolygonMode", kEs, "", false},
        {"glDrawElementsBaseVertex", kEs, "", false},
        {"", kEs, "", false},
        {"glDrawElements", kEs, "the OpenGL function glDrawElements is missing", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.missing) + " / " + c.version);
        g_missing = c.missing;
        g_version = c.version;
        gl::Functions table;
        EXPECT_EQ(gl::load(fakeResolver, table), c.reason);
        const bool loaded = std::string(c.reason).empty();
        EXPECT_EQ(table.Clear != nullptr, loaded);
        EXPECT_EQ(table.BlitFramebuffer != nullptr, loaded);
        EXPECT_EQ(table.DeleteRenderbuffers != nullptr, loaded);
        EXPECT_EQ(table.DrawElements != nullptr, loaded);
        EXPECT_EQ(table.PolygonMode != nullptr, c.coreOnes);
        EXPECT_EQ(table.DrawElementsBaseVertex != nullptr, c.coreOnes);
    }
    g_version = "";
    gl::Functions table;
    EXPECT_FALSE(gl::load(nullptr, table).empty());
}

TEST(GlFunctions, ContextVersionFromItsText) {
    using gl::Dialect;
    const struct {
        const char* text;
        int major, minor;
        Dialect dialect = Dialect::core33;
    } cases[] = {{"4.5 (Core Profile) Mesa 22.3.6", 4, 5},
                 {"3.3.0 NVIDIA 535.1", 3, 3},
                 {"OpenGL ES 3.2 v1", 3, 2, Dialect::es30},
                 {"OpenGL ES 3.0 (WebGL 2.0 (OpenGL ES 3.0 Chromium))", 3, 0, Dialect::es30},
                 {"OpenGL ES 2.0 (WebGL 1.0)", 2, 0, Dialect::es30},
                 {"4.6 (Compatibility Profile) OpenGL ES emulation", 4, 6},
                 {"2.1 Mesa 20.0", 2, 1},
                 {"10.12", 10, 12},
                 {"no version", 0, 0},
                 {"", 0, 0}};
    g_missing = "";
    gl::Functions table;
    ASSERT_EQ(gl::load(fakeResolver, table), "");
    for (const auto& c : cases) {
        g_version = c.text;
        int major = -1, minor = -1;
        gl::contextVersion(table, major, minor);
        EXPECT_EQ(major, c.major) << c.text;
        EXPECT_EQ(minor, c.minor) << c.text;
        EXPECT_EQ(gl::contextDialect(table), c.dialect) << c.text;
    }
    g_version = "";
}

// Each dialect's shaders begin with its version line; OpenGL ES's states a
// float precision, which its fragment shaders must have.
TEST(GlFunctions, ShadersInEachDialect) {
    for (const auto& source : {vertexShaderSource(gl::Dialect::core33), fragmentShaderSource(gl::Dialect::core33)}) {
        EXPECT_TRUE(source.starts_with("#version 330 core\n")) << source;
        EXPECT_EQ(source.find("precision"), std::string::npos);
    }
    for (const auto& source : {vertexShaderSource(gl::Dialect::es30), fragmentShaderSource(gl::Dialect::es30)}) {
        EXPECT_TRUE(source.starts_with("#version 300 es\nprecision highp float;\n")) << source;
        EXPECT_EQ(source.find("#version", 1), std::string::npos);
    }
    EXPECT_NE(vertexShaderSource(gl::Dialect::es30), fragmentShaderSource(gl::Dialect::es30));
}

// OpenGL ES's wireframe: each triangle's three edges, in the triangles' order.
TEST(LevelGl, TriangleEdges) {
    const struct {
        std::vector<std::uint16_t> triangles;
        std::vector<std::uint16_t> edges;
    } cases[] = {
        {{}, {}},
        {{0, 1, 2}, {0, 1, 1, 2, 2, 0}},
        {{4, 9, 7, 7, 9, 65535}, {4, 9, 9, 7, 7, 4, 7, 9, 9, 65535, 65535, 7}},
        {{0, 1, 2, 3}, {0, 1, 1, 2, 2, 0}},  // an index short of a triangle adds no edge
    };
    for (const auto& c : cases) {
        const LevelArray<std::uint16_t> triangles(c.triangles.begin(), c.triangles.end());
        const LevelArray<std::uint16_t> edges = triangleEdges(triangles);
        EXPECT_EQ(std::vector<std::uint16_t>(edges.begin(), edges.end()), c.edges);
    }
}

// Hue from the colour by the usual formula, independent of how it was made.
double hueOf(const Rgb& c) {
    const float high = std::fmax(c.red, std::fmax(c.green, c.blue));
    const float low = std::fmin(c.red, std::fmin(c.green, c.blue));
    const double span = high - low;
    double hue = high == c.red     ? std::fmod((c.green - c.blue) / span, 6.0)
                 : high == c.green ? (c.blue - c.red) / span + 2
                                   : (c.red - c.green) / span + 4;
    hue /= 6;
    return hue < 0 ? hue + 1 : hue;
}

TEST(Level, ColoursKeepTheirHueApart) {
    for (std::int64_t n = 0; n < 10; ++n) {
        const Rgb c = meshColour(n);
        EXPECT_NEAR(hueOf(c), meshHue(n), 1e-5) << n;
        EXPECT_NEAR(std::fmax(c.red, std::fmax(c.green, c.blue)), 0.95f, 1e-6f) << n;
        for (std::int64_t other = 0; other < n; ++other) {
            const double gap = std::abs(meshHue(n) - meshHue(other));
            EXPECT_GE(std::min(gap, 1 - gap), 20.0 / 360) << n << " and " << other;
        }
    }
}

TEST(Level, RowsCountsAndRangesThatFit) {
    LevelGeometry level;
    level.positions.assign(3 * 1500, 0);
    level.indices.assign(3 * 1001, 0);
    level.meshes = {{7, 0, 3 * 1000, 300, 1499, 0, {}, {}}, {12, 3000, 3, 3, 1, 1499, {}, {}}};
    const std::vector<MeshRow> rows = meshRows(level, ",");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "mesh7");
    EXPECT_EQ(rows[0].vertices, "1,499");
    EXPECT_EQ(rows[0].triangles, "1,000");
    EXPECT_EQ(rows[1].name, "mesh12");
    EXPECT_EQ(rows[1].colour, meshColour(12));
    const LevelCounts counts = levelCounts(level);
    EXPECT_EQ(counts.meshes, 2);
    EXPECT_EQ(counts.vertices, 1500);
    EXPECT_EQ(counts.triangles, 1001);

    // The same level with coarse arrays of 100 triangles over 50 vertices.
    LevelGeometry coarse = level;
    coarse.coarseIndices.assign(3 * 100, 0);
    coarse.coarsePositions.assign(3 * 50, 0);
    const struct {
        const char* name;
        LevelMeshRange range;
        bool withCoarseArrays;
        bool fits;
    } cases[] = {
        {"the last index", {0, 3000, 3, 3, 1, 1499, {}, {}}, false, true},
        {"indices past the end", {0, 3000, 6, 3, 1, 0, {}, {}}, false, false},
        {"first index past the end", {0, 3004, 0, 0, 0, 0, {}, {}}, false, false},
        {"vertices past the end", {0, 0, 3, 3, 2, 1499, {}, {}}, false, false},
        {"more coarse than all", {0, 0, 3, 6, 1, 0, {}, {}}, false, false},
        {"coarse ranges without coarse arrays", {0, 0, 3, 3, 1, 0, {}, {}, 5000, 5000, 5}, false, true},
        {"the last coarse index", {0, 0, 3, 3, 1, 0, {}, {}, 297, 49, 1}, true, true},
        {"coarse indices past the end", {0, 0, 6, 6, 1, 0, {}, {}, 297, 0, 1}, true, false},
        {"coarse first index past the end", {0, 0, 3, 0, 1, 0, {}, {}, 301, 0, 0}, true, false},
        {"coarse vertices past the end", {0, 0, 3, 3, 1, 0, {}, {}, 0, 49, 2}, true, false},
    };
    for (const auto& c : cases) EXPECT_EQ(rangesFit({c.range}, c.withCoarseArrays ? coarse : level), c.fits) << c.name;
}

// Stored bytes that serve as they are (singles that decode to themselves,
// every face kept) are copied, the rest decoded: either way the level is
// what the writers decode of each mesh, each mesh's coarse triangles first.
TEST(Level, CopiedOrDecodedTheSameAsTheWriters) {
    const auto singles = [](std::initializer_list<std::uint32_t> bits) {
        std::vector<std::uint8_t> bytes(bits.size() * 4);
        std::size_t at = 0;
        for (const std::uint32_t b : bits) {
            for (int k = 0; k < 4; ++k) bytes[at++] = static_cast<std::uint8_t>(b >> (8 * k));
        }
        return bytes;
    };
    const auto faces = [](const std::vector<std::uint16_t>& indices) {
        std::vector<std::uint8_t> bytes;
        for (const std::uint16_t i : indices)
            bytes.insert(bytes.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)});
        return bytes;
    };
    const std::uint32_t one = v2bsp::bitCast<std::uint32_t>(1.0f), two = v2bsp::bitCast<std::uint32_t>(-2.5f);
    // Enough triangles in all that the coarse stride is above 1.
    std::vector<std::uint16_t> many;
    for (std::int64_t t = 0; t < kMovingTriangles + 1000; ++t)
        many.insert(many.end(), {static_cast<std::uint16_t>(t % 3), static_cast<std::uint16_t>((t + 1) % 3),
                                 static_cast<std::uint16_t>((t + 2) % 3)});
    struct Mesh {
        std::vector<std::uint8_t> vertices, faces;
        MeshSkip skip = MeshSkip::none;
    };
    const std::vector<Mesh> large = {
        {singles({one, two, 0, two, one, one, 0, 0, one}), faces(many)},         // both copied
        {singles({0x80000000, 1, one, one, 0x7F800000, two, one, one, one, 2}),  // -0, a tiny, infinity, a part group
         faces({0, 1, 2, 0, 0, 1, 2, 1, 0, 0, 1, 5})},                           // a degenerate face and one outside
        {singles({one, one, one, two, two, two, 0, one, two}),
         faces({2, 1, 0, 0, 1, 3})},  // positions copied, faces not
        {{}, {}, MeshSkip::outside},
        {singles({one, two, one}), {}},
    };
    // And a level of no triangle and no whole vertex group: nothing to copy from or to.
    const std::vector<Mesh> empty = {{{1, 2}, {0}}, {{}, {}}};
    for (const std::vector<Mesh>* meshes : {&large, &empty}) {
        SCOPED_TRACE(meshes == &large ? "large" : "empty");
        MeshPlan plan;
        for (std::size_t m = 0; m < meshes->size(); ++m) {
            plan.meshes.push_back(
                {static_cast<std::int64_t>(m), (*meshes)[m].skip, (*meshes)[m].vertices, (*meshes)[m].faces});
        }
        const LevelGeometry level = levelGeometry(plan);

        LevelGeometry expected;
        std::int64_t kept = 0;
        for (const PlannedMesh& planned : plan.meshes)
            kept += static_cast<std::int64_t>(decodeMesh(planned, UpAxis::y).triangles.size());
        for (const PlannedMesh& planned : plan.meshes) {
            if (planned.skip != MeshSkip::none) continue;
            const DecodedMesh mesh = decodeMesh(planned, UpAxis::y);
            LevelMeshRange range{planned.number,
                                 static_cast<std::uint32_t>(expected.indices.size()),
                                 static_cast<std::uint32_t>(3 * mesh.triangles.size()),
                                 0,
                                 static_cast<std::uint32_t>(mesh.positions.size()),
                                 static_cast<std::uint32_t>(expected.positions.size() / 3),
                                 {},
                                 {}};
            for (const Position& p : mesh.positions)
                expected.positions.insert(expected.positions.end(), p.begin(), p.end());
            for (const Triangle& t : mesh.triangles) {
                for (const std::uint32_t i : t) expected.indices.push_back(static_cast<std::uint16_t>(i));
            }
            range.coarseCount =
                putCoarseFirst(std::span(expected.indices).subspan(range.firstIndex), coarseStride(kept));
            expected.meshes.push_back(range);
        }
        EXPECT_EQ(coarseStride(kept) > 1, meshes == &large);
        // Bit for bit: -0 and NaN as they are.
        EXPECT_TRUE(std::equal(
            level.positions.begin(), level.positions.end(), expected.positions.begin(), expected.positions.end(),
            [](float a, float b) { return v2bsp::bitCast<std::uint32_t>(a) == v2bsp::bitCast<std::uint32_t>(b); }));
        EXPECT_EQ(level.indices, expected.indices);
        ASSERT_EQ(level.meshes.size(), expected.meshes.size());
        for (std::size_t m = 0; m < level.meshes.size(); ++m) {
            const LevelMeshRange &got = level.meshes[m], &want = expected.meshes[m];
            EXPECT_EQ(
                std::tie(got.number, got.firstIndex, got.indexCount, got.coarseCount, got.vertexCount, got.baseVertex),
                std::tie(want.number, want.firstIndex, want.indexCount, want.coarseCount, want.vertexCount,
                         want.baseVertex))
                << "mesh " << m;
        }
        if (meshes == &large) {
            EXPECT_EQ(std::tie(level.min.y, level.max.x), std::make_tuple(-2.5f, 1.0f));
        }
        // The coarse arrays hold the same coarse triangles, with each vertex they use once.
        EXPECT_EQ(level.coarseIndices.empty(), coarseStride(kept) == 1);
        EXPECT_TRUE(rangesFit(level.meshes, level));
        for (std::size_t m = 0; m < level.meshes.size() && !level.coarseIndices.empty(); ++m) {
            const LevelMeshRange& got = level.meshes[m];
            // One coarse vertex for each vertex used, and no other.
            std::map<std::uint16_t, std::uint16_t> toCoarse, fromCoarse;
            for (std::uint32_t i = 0; i < got.coarseCount; ++i) {
                const std::uint16_t vertex = level.indices[got.firstIndex + i];
                const std::uint16_t compact = level.coarseIndices[got.coarseFirstIndex + i];
                EXPECT_EQ(toCoarse.emplace(vertex, compact).first->second, compact) << "mesh " << m << ", index " << i;
                EXPECT_EQ(fromCoarse.emplace(compact, vertex).first->second, vertex) << "mesh " << m << ", index " << i;
                const float* whole = &level.positions[(got.baseVertex + vertex) * 3];
                const float* coarse = &level.coarsePositions[(got.coarseBaseVertex + compact) * 3];
                EXPECT_EQ(std::memcmp(whole, coarse, 3 * sizeof(float)), 0) << "mesh " << m << ", index " << i;
            }
            EXPECT_EQ(fromCoarse.size(), got.coarseVertexCount) << "mesh " << m;
            EXPECT_TRUE(fromCoarse.empty() || fromCoarse.rbegin()->first < got.coarseVertexCount) << "mesh " << m;
        }
        // What the first picture needs is the same without the level's own
        // arrays, which a level without coarse arrays has all the same.
        const LevelGeometry first = levelGeometry(plan, nullptr, LevelDecode::firstPicture);
        EXPECT_EQ(first.arraysToCome, meshes == &large);
        EXPECT_EQ(first.positions.empty() && first.indices.empty(), meshes == &large || level.positions.empty());
        EXPECT_EQ(first.coarsePositions, level.coarsePositions);
        EXPECT_EQ(first.coarseIndices, level.coarseIndices);
        EXPECT_EQ(std::tie(first.min.x, first.min.y, first.min.z, first.max.x, first.max.y, first.max.z),
                  std::tie(level.min.x, level.min.y, level.min.z, level.max.x, level.max.y, level.max.z));
        ASSERT_EQ(first.meshes.size(), level.meshes.size());
        for (std::size_t m = 0; m < level.meshes.size(); ++m) {
            const LevelMeshRange &got = first.meshes[m], &want = level.meshes[m];
            EXPECT_EQ(std::tie(got.number, got.firstIndex, got.indexCount, got.coarseCount, got.vertexCount,
                               got.baseVertex, got.coarseFirstIndex, got.coarseBaseVertex, got.coarseVertexCount),
                      std::tie(want.number, want.firstIndex, want.indexCount, want.coarseCount, want.vertexCount,
                               want.baseVertex, want.coarseFirstIndex, want.coarseBaseVertex, want.coarseVertexCount))
                << "mesh " << m;
            EXPECT_EQ(std::memcmp(got.min, want.min, sizeof got.min), 0) << "mesh " << m;
            EXPECT_EQ(std::memcmp(got.max, want.max, sizeof got.max), 0) << "mesh " << m;
        }
        EXPECT_TRUE(rangesFit(first.meshes, first));
    }
}

}  // namespace
}  // namespace v2bsp::app
