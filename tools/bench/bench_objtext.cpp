// Speed of the OBJ text from section bytes: per vertex line and per face line.
#include <benchmark/benchmark.h>

#include <bit>
#include <random>
#include <string>
#include <vector>

#include "writers/meshobj.hpp"

namespace {

constexpr std::size_t kGroups = 4096;

// Vertices of a level: coordinates from -5000 to 5000 with fractions.
std::vector<std::uint8_t> vertexSection() {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> coordinate(-5000.0f, 5000.0f);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < 3 * kGroups; ++i) {
        const auto bits = std::bit_cast<std::uint32_t>(coordinate(random));
        for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(bits >> 8 * b));
    }
    return bytes;
}

// Triangles of a grid: three different indices below 65536.
std::vector<std::uint8_t> faceSection() {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < kGroups; ++i) {
        for (const std::size_t index : {i, i + 1, i + 130}) {
            bytes.push_back(static_cast<std::uint8_t>(index));
            bytes.push_back(static_cast<std::uint8_t>(index >> 8));
        }
    }
    return bytes;
}

void VertexLines(benchmark::State& state) {
    const auto section = vertexSection();
    std::string text;
    for (auto _ : state) {
        text.clear();
        v2bsp::appendVertexLines(text, section);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kGroups));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(VertexLines);

void FaceLines(benchmark::State& state) {
    const auto section = faceSection();
    std::string text;
    for (auto _ : state) {
        text.clear();
        v2bsp::appendFaceLines(text, section);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kGroups));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(FaceLines);

}  // namespace
