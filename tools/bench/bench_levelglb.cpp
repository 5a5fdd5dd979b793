// Speed of the whole-level glb from a plan: the summaries and the bytes, per
// vertex of a level whose meshes hold as many triangles as vertices.
#include <benchmark/benchmark.h>

#include <bit>
#include <random>
#include <string>
#include <vector>

#include "writers/writers.hpp"

namespace {

constexpr std::size_t kMeshes = 16;
constexpr std::size_t kVerticesPerMesh = 65536;

struct Level {
    std::vector<std::vector<std::uint8_t>> storage;
    v2bsp::MeshPlan plan;
};

// Coordinates from -5000 to 5000 with fractions; triangles of a grid.
Level makeLevel() {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> coordinate(-5000.0f, 5000.0f);
    Level level;
    level.storage.reserve(2 * kMeshes);
    for (std::size_t m = 0; m < kMeshes; ++m) {
        std::vector<std::uint8_t> vertices;
        for (std::size_t i = 0; i < 3 * kVerticesPerMesh; ++i) {
            const auto bits = std::bit_cast<std::uint32_t>(coordinate(random));
            for (int b = 0; b < 4; ++b) vertices.push_back(static_cast<std::uint8_t>(bits >> 8 * b));
        }
        std::vector<std::uint8_t> faces;
        for (std::size_t i = 0; i < kVerticesPerMesh; ++i) {
            for (const std::size_t index : {i, (i + 1) % kVerticesPerMesh, (i + 130) % kVerticesPerMesh}) {
                faces.push_back(static_cast<std::uint8_t>(index));
                faces.push_back(static_cast<std::uint8_t>(index >> 8));
            }
        }
        v2bsp::PlannedMesh mesh;
        mesh.number = static_cast<std::int64_t>(m);
        mesh.vertices = level.storage.emplace_back(std::move(vertices));
        mesh.faces = level.storage.emplace_back(std::move(faces));
        level.plan.meshes.push_back(mesh);
    }
    level.plan.meshcount = static_cast<std::int64_t>(kMeshes);
    return level;
}

void LevelGlb(benchmark::State& state) {
    const Level level = makeLevel();
    const v2bsp::LevelInfo info{"bench", "bench", v2bsp::UpAxis::z};
    std::string chunk;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::vector<v2bsp::MeshSummary> summaries = v2bsp::summarizePlan(level.plan, info.up);
        const auto source = v2bsp::levelSource(v2bsp::LevelFormat::glb, level.plan, summaries, info);
        bytes = 0;
        while (source->next(chunk)) bytes += chunk.size();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kMeshes * kVerticesPerMesh));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(LevelGlb)->Unit(benchmark::kMillisecond);

}  // namespace
