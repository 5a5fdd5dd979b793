// A map written to a file, for tests that run on paths.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "mapbuilder/mapbuilder.hpp"

namespace v2bsp {

// Writes `bytes` to `file`, making its folder first; returns `file`.
inline std::filesystem::path writeMap(const std::filesystem::path& file, std::span<const std::uint8_t> bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

// Writes the map the builder makes of `scene` to `file`.
inline std::filesystem::path writeMap(const std::filesystem::path& file, const mapbuilder::Scene& scene) {
    return writeMap(file, mapbuilder::buildMap(scene).bytes);
}

// A map named `name` of `meshes` one-triangle meshes, each at its own place,
// and the given tag names.
inline mapbuilder::Scene smallMap(const std::string& name, int meshes, std::vector<std::string> tags) {
    mapbuilder::Scene scene;
    scene.mapname = name;
    scene.tagnames = std::move(tags);
    for (int m = 0; m < meshes; ++m) {
        const auto f = static_cast<float>(m);
        scene.meshes.push_back({{{f + 1, 2, 3}, {4, f + 5, 6}, {7, 8, f - 9}}, {{0, 1, 2}}});
    }
    return scene;
}

}  // namespace v2bsp
