// Per-number costs of numtext and the float decoders, with the general
// formatters as baselines. Each iteration handles one value, so the reported
// time is the time per number.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "mapimage/floatdecode.hpp"
#include "mapimage/numtext.hpp"
#include "mapimage/shortestsingle.hpp"
#include "reference/floattext.hpp"
#include "reference/numtextref.hpp"

namespace {

constexpr std::size_t kValues = 1 << 16;  // a power of two, for the index mask

// The stored bits of coordinates as a map holds them: singles from -5000 to
// 5000, with their fractions.
const std::vector<std::uint32_t>& vertexBits() {
    static const std::vector<std::uint32_t> bits = [] {
        std::mt19937 random(1);
        std::uniform_real_distribution<float> coordinate(-5000.0F, 5000.0F);
        std::vector<std::uint32_t> values(kValues);
        for (auto& v : values) v = std::bit_cast<std::uint32_t>(coordinate(random));
        return values;
    }();
    return bits;
}

const std::vector<double>& decodedVertexValues() {
    static const std::vector<double> values = [] {
        std::vector<double> decoded;
        for (const std::uint32_t b : vertexBits()) decoded.push_back(v2bsp::decodeFloat(b));
        return decoded;
    }();
    return values;
}

// Face indices plus one, as the face lines write them.
const std::vector<double>& faceValues() {
    static const std::vector<double> values = [] {
        std::mt19937 random(2);
        std::uniform_int_distribution<int> index(1, 65536);
        std::vector<double> v(kValues);
        for (auto& x : v) x = index(random);
        return v;
    }();
    return values;
}

// Doubles of every magnitude, from random bit patterns.
const std::vector<double>& anyValues() {
    static const std::vector<double> values = [] {
        std::mt19937_64 random(3);
        std::vector<double> v;
        while (v.size() < kValues) {
            const double x = std::bit_cast<double>(random());
            if (std::isfinite(x)) v.push_back(x);
        }
        return v;
    }();
    return values;
}

template <typename Format>
void formatEach(benchmark::State& state, const std::vector<double>& values, Format format) {
    char buffer[64];
    std::size_t i = 0;
    for (auto _ : state) {
        char* end = format(buffer, values[i++ & (kValues - 1)]);
        benchmark::DoNotOptimize(end);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

char* fast(char* out, double v) {
    return v2bsp::numtext(out, v);
}
char* reference(char* out, double v) {
    return v2bsp::numtextReference(out, v);
}
char* toChars(char* out, double v) {
    return std::to_chars(out, out + 64, v, std::chars_format::scientific, 14).ptr;
}
char* printfE(char* out, double v) {
    return out + std::snprintf(out, 64, "%.14e", v);
}

void NumTextDecodedVertex(benchmark::State& s) {
    formatEach(s, decodedVertexValues(), fast);
}
void NumTextFaceIndex(benchmark::State& s) {
    formatEach(s, faceValues(), fast);
}
void NumTextAnyDouble(benchmark::State& s) {
    formatEach(s, anyValues(), fast);
}
void NumTextReferenceDecodedVertex(benchmark::State& s) {
    formatEach(s, decodedVertexValues(), reference);
}
void ToCharsDecodedVertex(benchmark::State& s) {
    formatEach(s, decodedVertexValues(), toChars);
}
void SnprintfDecodedVertex(benchmark::State& s) {
    formatEach(s, decodedVertexValues(), printfE);
}

// The whole-level OBJ's numbers: the shortest text of a single, against the
// std::to_chars it matches byte for byte.
template <typename Format>
void formatEachSingle(benchmark::State& state, Format format) {
    const std::vector<std::uint32_t>& bits = vertexBits();
    char buffer[64];
    std::size_t i = 0;
    for (auto _ : state) {
        char* end = format(buffer, std::bit_cast<float>(bits[i++ & (kValues - 1)]));
        benchmark::DoNotOptimize(end);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
void ShortestSingleVertex(benchmark::State& s) {
    formatEachSingle(s, [](char* out, float v) { return v2bsp::shortestSingle(out, v); });
}
void ToCharsShortestSingleVertex(benchmark::State& s) {
    formatEachSingle(s, [](char* out, float v) { return std::to_chars(out, out + 64, v).ptr; });
}

void DecodeFloat(benchmark::State& state) {
    const std::vector<std::uint32_t>& bits = vertexBits();
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(v2bsp::decodeFloat(bits[i++ & (kValues - 1)]));
    state.SetItemsProcessed(state.iterations());
}

void HexToFloatTextRoute(benchmark::State& state) {
    std::vector<std::string> texts;
    for (const std::uint32_t b : vertexBits()) {
        char text[9];
        std::snprintf(text, sizeof text, "%02X%02X%02X%02X", b & 0xFFU, (b >> 8) & 0xFFU, (b >> 16) & 0xFFU, b >> 24);
        texts.emplace_back(text);
    }
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(v2bsp::hextofloat(texts[i++ & (kValues - 1)]));
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(NumTextDecodedVertex);
BENCHMARK(NumTextFaceIndex);
BENCHMARK(NumTextAnyDouble);
BENCHMARK(NumTextReferenceDecodedVertex);
BENCHMARK(ToCharsDecodedVertex);
BENCHMARK(SnprintfDecodedVertex);
BENCHMARK(ShortestSingleVertex);
BENCHMARK(ToCharsShortestSingleVertex);
BENCHMARK(DecodeFloat);
BENCHMARK(HexToFloatTextRoute);

}  // namespace
