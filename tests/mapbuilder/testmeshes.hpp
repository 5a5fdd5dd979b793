// Mesh helpers shared by the map builder's tests.
#pragma once

#include <bit>
#include <string>

#include <gtest/gtest.h>

#include "mapbuilder/mapbuilder.hpp"
#include "mapimage/portable.hpp"

namespace testmeshes {

using v2bsp::mapbuilder::Mesh;

// Equal when every coordinate has the same bits and every index the same value.
inline testing::AssertionResult sameMesh(const Mesh& expected, const Mesh& actual) {
    if (expected.vertices.size() != actual.vertices.size() || expected.triangles.size() != actual.triangles.size())
        return testing::AssertionFailure() << "sizes " << expected.vertices.size() << "/" << expected.triangles.size()
                                           << " vs " << actual.vertices.size() << "/" << actual.triangles.size();
    for (std::size_t i = 0; i < expected.vertices.size(); ++i) {
        const auto& e = expected.vertices[i];
        const auto& a = actual.vertices[i];
        if (v2bsp::bitCast<std::uint32_t>(e.x) != v2bsp::bitCast<std::uint32_t>(a.x) ||
            v2bsp::bitCast<std::uint32_t>(e.y) != v2bsp::bitCast<std::uint32_t>(a.y) ||
            v2bsp::bitCast<std::uint32_t>(e.z) != v2bsp::bitCast<std::uint32_t>(a.z))
            return testing::AssertionFailure() << "vertex " << i << " differs";
    }
    for (std::size_t i = 0; i < expected.triangles.size(); ++i) {
        const auto& e = expected.triangles[i];
        const auto& a = actual.triangles[i];
        if (e.a != a.a || e.b != a.b || e.c != a.c)
            return testing::AssertionFailure() << "triangle " << i << " differs";
    }
    return testing::AssertionSuccess();
}

inline Mesh fan(std::size_t vertices, float seed) {
    Mesh mesh;
    for (std::size_t i = 0; i < vertices; ++i) {
        const auto f = static_cast<float>(i);
        mesh.vertices.push_back({seed + f, -0.5f * f, seed * f + 0.25f});
    }
    for (std::size_t i = 1; i + 1 < vertices; ++i)
        mesh.triangles.push_back({0, static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(i + 1)});
    return mesh;
}

}  // namespace testmeshes
