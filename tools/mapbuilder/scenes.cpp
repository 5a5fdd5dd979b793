#include "mapbuilder/mapbuilder.hpp"

#include <cmath>
#include <numbers>
#include <string>

namespace v2bsp::mapbuilder {
namespace {

constexpr std::uint64_t kMaxMeshVertices = 65536;

std::uint16_t index16(std::size_t value) {
    return static_cast<std::uint16_t>(value);
}

// A flat grid of nu x nv cells from `origin`, spanned by the vectors `u` and `v`.
Mesh grid(Vertex origin, Vertex u, Vertex v, std::size_t nu, std::size_t nv) {
    Mesh mesh;
    for (std::size_t j = 0; j <= nv; ++j) {
        for (std::size_t i = 0; i <= nu; ++i) {
            const auto fu = static_cast<float>(i) / static_cast<float>(nu);
            const auto fv = static_cast<float>(j) / static_cast<float>(nv);
            mesh.vertices.push_back(
                {origin.x + fu * u.x + fv * v.x, origin.y + fu * u.y + fv * v.y, origin.z + fu * u.z + fv * v.z});
        }
    }
    const std::size_t row = nu + 1;
    for (std::size_t j = 0; j < nv; ++j) {
        for (std::size_t i = 0; i < nu; ++i) {
            const std::size_t a = j * row + i;
            mesh.triangles.push_back({index16(a), index16(a + row), index16(a + 1)});
            mesh.triangles.push_back({index16(a + 1), index16(a + row), index16(a + row + 1)});
        }
    }
    return mesh;
}

// An upright cylinder standing on y = `base`, with `rings` bands and both caps.
Mesh pillar(float cx, float cz, float radius, float base, float height, std::size_t sides, std::size_t rings) {
    Mesh mesh;
    for (std::size_t r = 0; r <= rings; ++r) {
        const float y = base + height * static_cast<float>(r) / static_cast<float>(rings);
        for (std::size_t s = 0; s < sides; ++s) {
            const double angle = 2 * std::numbers::pi * static_cast<double>(s) / static_cast<double>(sides);
            mesh.vertices.push_back({cx + radius * static_cast<float>(std::cos(angle)), y,
                                     cz + radius * static_cast<float>(std::sin(angle))});
        }
    }
    for (std::size_t r = 0; r < rings; ++r) {
        for (std::size_t s = 0; s < sides; ++s) {
            const std::size_t a = r * sides + s;
            const std::size_t b = r * sides + (s + 1) % sides;
            mesh.triangles.push_back({index16(a), index16(a + sides), index16(b)});
            mesh.triangles.push_back({index16(b), index16(a + sides), index16(b + sides)});
        }
    }
    const std::size_t bottom = mesh.vertices.size();
    mesh.vertices.push_back({cx, base, cz});
    mesh.vertices.push_back({cx, base + height, cz});
    const std::size_t top_ring = rings * sides;
    for (std::size_t s = 0; s < sides; ++s) {
        const std::size_t next = (s + 1) % sides;
        mesh.triangles.push_back({index16(bottom), index16(s), index16(next)});
        mesh.triangles.push_back({index16(bottom + 1), index16(top_ring + next), index16(top_ring + s)});
    }
    return mesh;
}

// Adds the closed box from `lo` to `hi` to `mesh`.
void addBox(Mesh& mesh, Vertex lo, Vertex hi) {
    const std::size_t first = mesh.vertices.size();
    for (int k = 0; k < 8; ++k) {
        mesh.vertices.push_back({(k & 1) ? hi.x : lo.x, (k & 2) ? hi.y : lo.y, (k & 4) ? hi.z : lo.z});
    }
    static constexpr std::array<std::array<int, 4>, 6> kFaces = {{
        {0, 2, 3, 1},
        {4, 5, 7, 6},
        {0, 1, 5, 4},
        {2, 6, 7, 3},
        {0, 4, 6, 2},
        {1, 3, 7, 5},
    }};
    for (const auto& f : kFaces) {
        const auto at = [&](int k) {
            return index16(first + static_cast<std::size_t>(f[static_cast<std::size_t>(k)]));
        };
        mesh.triangles.push_back({at(0), at(1), at(2)});
        mesh.triangles.push_back({at(0), at(2), at(3)});
    }
}

// Five steps up to a dais against the north wall.
Mesh steps() {
    Mesh mesh;
    constexpr float kRise = 0.2f;
    constexpr float kTread = 0.3f;
    for (int s = 0; s < 5; ++s) {
        const float z0 = -5.0f - kTread * static_cast<float>(s + 1);
        addBox(mesh, {-1.5f, 0.0f, z0}, {1.5f, kRise * static_cast<float>(s + 1), z0 + kTread});
    }
    addBox(mesh, {-2.0f, 0.0f, -8.0f}, {2.0f, 1.0f, -6.5f});
    return mesh;
}

}  // namespace

Scene samplescene() {
    Scene scene;
    scene.mapname = "sample room";
    scene.scenarioname = "levels\\sample room\\sample room";
    scene.bspname = "levels\\sample room\\sample room bsp";
    scene.tagnames = {"shaders\\floor tiles", "shaders\\plaster wall", "shaders\\stone pillar",
                      "bitmaps\\floor tiles", "bitmaps\\plaster",      "sound\\ambience\\room tone"};
    scene.scenariorow = 2;
    scene.bsprow = 5;
    scene.classcount = 6;
    scene.filler = 8;

    constexpr float kHalfWidth = 10.0f;
    constexpr float kHalfDepth = 8.0f;
    constexpr float kHeight = 4.0f;
    // Every surface faces into the room: a grid's triangles face along v x u.
    scene.meshes.push_back(grid({-kHalfWidth, 0, -kHalfDepth}, {2 * kHalfWidth, 0, 0}, {0, 0, 2 * kHalfDepth}, 40, 32));
    scene.meshes.push_back(grid({kHalfWidth, 0, -kHalfDepth}, {-2 * kHalfWidth, 0, 0}, {0, kHeight, 0}, 40, 8));
    scene.meshes.push_back(grid({-kHalfWidth, 0, kHalfDepth}, {2 * kHalfWidth, 0, 0}, {0, kHeight, 0}, 40, 8));
    scene.meshes.push_back(grid({-kHalfWidth, 0, -kHalfDepth}, {0, 0, 2 * kHalfDepth}, {0, kHeight, 0}, 32, 8));
    scene.meshes.push_back(grid({kHalfWidth, 0, kHalfDepth}, {0, 0, -2 * kHalfDepth}, {0, kHeight, 0}, 32, 8));
    for (const float x : {-6.0f, 6.0f}) {
        for (const float z : {-4.5f, 4.5f}) scene.meshes.push_back(pillar(x, z, 0.4f, 0.0f, kHeight, 16, 8));
    }
    scene.meshes.push_back(steps());
    return scene;
}

Scene edgeScene() {
    Scene scene;
    scene.mapname = "edge meshes";
    scene.tagnames = {"shaders\\edge"};
    Mesh strip = grid({0, 0, 0}, {2, 0, 0}, {0, 0, 1}, 2, 1);
    const std::uint16_t missing = static_cast<std::uint16_t>(strip.vertices.size());
    strip.triangles.push_back({0, 1, missing});
    strip.triangles.push_back({65535, 0, 1});
    strip.triangles.push_back({2, 2, 3});
    strip.triangles.push_back({4, 0, 4});
    strip.triangles.push_back({1, 5, 5});
    strip.triangles.push_back({0, 0, 0});
    strip.triangles.push_back({3, 4, 1});
    scene.meshes.push_back(strip);

    Mesh faces_only;
    faces_only.triangles = {{0, 1, 2}, {1, 1, 2}};
    scene.meshes.push_back(faces_only);

    Mesh vertices_only = grid({-1, 2, -1}, {1, 0, 0}, {0, 0, 1}, 1, 1);
    vertices_only.triangles.clear();
    scene.meshes.push_back(vertices_only);

    scene.meshes.emplace_back();

    // 256 x 256 vertices: the last one, 65535, is the far corner of the last cell.
    Mesh wide = grid({-64, -1, -64}, {128, 0, 0}, {0, 0, 128}, 255, 255);
    wide.triangles.erase(wide.triangles.begin(), wide.triangles.end() - 4);
    wide.triangles.push_back({65535, 0, 255});
    scene.meshes.push_back(wide);
    return scene;
}

Scene largeScene(std::uint32_t meshes, std::uint64_t vertices, std::uint64_t triangles) {
    if (meshes == 0 && (vertices != 0 || triangles != 0))
        throw std::invalid_argument("vertices and triangles need at least one mesh");
    Scene scene;
    scene.mapname = "large test";
    for (int i = 0; i < 40; ++i) scene.tagnames.push_back("levels\\large\\part " + std::to_string(i));
    scene.scenariorow = 17;
    scene.bsprow = 3;
    scene.meshes.resize(meshes);

    const auto columns = static_cast<std::uint32_t>(std::ceil(std::sqrt(static_cast<double>(meshes))));
    for (std::uint32_t m = 0; m < meshes; ++m) {
        const std::uint64_t nv = vertices / meshes + (m < vertices % meshes ? 1 : 0);
        const std::uint64_t nt = triangles / meshes + (m < triangles % meshes ? 1 : 0);
        if (nv > kMaxMeshVertices)
            throw std::invalid_argument("mesh " + std::to_string(m) + " would hold " + std::to_string(nv) +
                                        " vertices, more than 16-bit indices reach");
        if (nt > 0 && nv < 3)
            throw std::invalid_argument("mesh " + std::to_string(m) + " would have triangles but " +
                                        std::to_string(nv) + " vertices");
        Mesh& mesh = scene.meshes[m];
        const auto width =
            std::max<std::uint64_t>(2, static_cast<std::uint64_t>(std::ceil(std::sqrt(static_cast<double>(nv)))));
        const float patch = 0.25f * static_cast<float>(width + 1);
        const float ox = 0.125f + patch * static_cast<float>(m % columns);
        const float oz = 0.375f + patch * static_cast<float>(m / columns);
        mesh.vertices.reserve(nv);
        for (std::uint64_t i = 0; i < nv; ++i) {
            const float x = ox + 0.25f * static_cast<float>(i % width);
            const float z = oz + 0.25f * static_cast<float>(i / width);
            const float y = 1.5f + 2.0f * std::sin(x * 0.31f) * std::cos(z * 0.17f);
            mesh.vertices.push_back({x, y, z});
        }
        std::vector<std::size_t> quads;
        for (std::uint64_t a = 0; a + width + 1 < nv; ++a) {
            if (a % width != width - 1) quads.push_back(a);
        }
        mesh.triangles.reserve(nt);
        for (std::uint64_t t = 0; t < nt; ++t) {
            if (quads.empty()) {
                mesh.triangles.push_back({index16(t % nv), index16((t + 1) % nv), index16((t + 2) % nv)});
                continue;
            }
            const std::size_t a = quads[(t / 2) % quads.size()];
            const std::size_t w = width;
            if (t % 2 == 0)
                mesh.triangles.push_back({index16(a), index16(a + w), index16(a + 1)});
            else
                mesh.triangles.push_back({index16(a + 1), index16(a + w), index16(a + w + 1)});
        }
    }
    return scene;
}

Scene scatteredScene(std::uint32_t meshes, std::uint64_t vertices, std::uint64_t triangles, std::uint64_t seed) {
    Scene scene = largeScene(meshes, vertices, triangles);
    scene.mapname = "scattered test";
    // splitmix64: the same numbers from the same seed on every system and library.
    std::uint64_t state = seed;
    const auto next = [&state] {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    };
    // A float of the whole range -5000 to 5000 from 24 random bits, so that
    // every bit of a single's fraction varies.
    const auto coordinate = [&next] { return static_cast<float>(next() >> 40) / 16777216.0f * 10000.0f - 5000.0f; };
    for (Mesh& mesh : scene.meshes) {
        for (Vertex& vertex : mesh.vertices) vertex = {coordinate(), coordinate(), coordinate()};
        const std::uint64_t count = mesh.vertices.size();
        for (Triangle& triangle : mesh.triangles) {
            const std::uint64_t a = next() % count;
            std::uint64_t b = next() % count;
            while (b == a) b = next() % count;
            std::uint64_t c = next() % count;
            while (c == a || c == b) c = next() % count;
            triangle = {index16(a), index16(b), index16(c)};
        }
    }
    return scene;
}

}  // namespace v2bsp::mapbuilder
