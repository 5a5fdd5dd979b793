// Meshes and maps that tests build, and the mesh file each must give, made
// from the mesh data alone (never by the OBJ writer under test).
#pragma once

#include <cstdint>
#include <iomanip>
#include <locale>
#include <sstream>
#include <string>

#include "mapbuilder/mapbuilder.hpp"

namespace v2bsp::fixtures {

// A strip of `columns` squares, two triangles each, at height `height`; its
// coordinates all have short decimal forms.
inline mapbuilder::Mesh stripMesh(int columns, float height) {
    mapbuilder::Mesh mesh;
    for (int row = 0; row <= 1; ++row) {
        for (int column = 0; column <= columns; ++column) {
            mesh.vertices.push_back(
                {static_cast<float>(column) * 0.5f - 2.0f, height, static_cast<float>(row) * 1.25f});
        }
    }
    const auto stride = static_cast<std::uint16_t>(columns + 1);
    for (std::uint16_t c = 0; c < columns; ++c) {
        const auto next = static_cast<std::uint16_t>(c + 1);
        const auto above = static_cast<std::uint16_t>(c + stride);
        mesh.triangles.push_back({c, above, next});
        mesh.triangles.push_back({next, above, static_cast<std::uint16_t>(above + 1)});
    }
    return mesh;
}

// Three strips, the second with a degenerate triangle that writes no line;
// the scenario and BSP rows after a plain first row.
inline mapbuilder::Scene threeMeshScene(std::string mapname = "test room") {
    mapbuilder::Scene scene;
    scene.mapname = std::move(mapname);
    scene.tagnames = {"textures\\floor", "sounds\\door"};
    scene.scenariorow = 2;
    scene.bsprow = 1;
    scene.meshes = {stripMesh(3, 0.0f), stripMesh(1, 2.5f), stripMesh(5, -0.125f)};
    scene.meshes[1].triangles.push_back({0, 0, 1});
    return scene;
}

// The number text of a value whose shortest decimal form has few digits.
inline std::string shortNumberText(float value) {
    std::ostringstream printed;
    printed.imbue(std::locale::classic());
    printed << std::setprecision(9) << value;
    std::string text = printed.str();
    const bool negative = text.front() == '-';
    if (negative) text.erase(0, 1);
    if (text.rfind("0.", 0) == 0) text.erase(0, 1);
    return (negative ? "-" : " ") + text;
}

// The mesh file of `mesh`, whose coordinates have short decimal forms.
inline std::string expectedObjText(const mapbuilder::Mesh& mesh) {
    std::string text;
    for (const mapbuilder::Vertex& v : mesh.vertices) {
        text += "v " + shortNumberText(v.x) + " " + shortNumberText(v.y) + " " + shortNumberText(v.z) + "\r\n";
    }
    text += "\r\n\r\n";
    for (const mapbuilder::Triangle& t : mesh.triangles) {
        if (t.a == t.b || t.a == t.c || t.b == t.c) continue;
        text +=
            "f  " + std::to_string(t.a + 1) + "  " + std::to_string(t.b + 1) + "  " + std::to_string(t.c + 1) + " \r\n";
    }
    return text + "\r\n";
}

}  // namespace v2bsp::fixtures
