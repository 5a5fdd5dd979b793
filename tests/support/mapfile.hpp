// A map written to a file, for tests that run on paths.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

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

}  // namespace v2bsp
