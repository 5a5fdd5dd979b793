// A glb read back by an independent glTF parser and held, bit for bit, to the
// meshes a test made its bytes from. tinygltf's parser is compiled by the test
// binary itself: one of its sources defines TINYGLTF_IMPLEMENTATION before it
// includes this.
#pragma once

#include <tiny_gltf.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "mapimage/portable.hpp"

namespace v2bsp::fixtures {

// One written mesh as the test expects it: its node, and its mesh when it has
// a vertex and a kept triangle.
struct GlbNode {
    std::string name;
    std::vector<std::array<float, 3>> positions;
    std::vector<std::uint32_t> indices;  // the kept triangles, corner by corner
    bool wide = false;                   // a kept triangle uses the index 65535
    bool hasMesh() const { return !positions.empty() && !indices.empty(); }
};

// Adds a stored face to `node` as the whole-level files keep it: only with
// three different corners that each name one of its positions.
inline void addFace(GlbNode& node, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    const std::size_t count = node.positions.size();
    if (a == b || a == c || b == c) return;
    if (a >= count || b >= count || c >= count) return;
    node.indices.insert(node.indices.end(), {a, b, c});
    node.wide |= a == 65535 || b == 65535 || c == 65535;
}

inline std::uint32_t loadu32le(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline tinygltf::Model loadGlb(const std::string& file) {
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    EXPECT_TRUE(loader.LoadBinaryFromMemory(&model, &error, &warning,
                                            reinterpret_cast<const unsigned char*>(file.data()),
                                            static_cast<unsigned int>(file.size())))
        << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(warning, "");
    return model;
}

// The bytes of an accessor's elements of `element` bytes each, or null (and
// a failure) when they do not lie inside its buffer view and buffer.
inline const unsigned char* accessorData(const tinygltf::Model& model, const tinygltf::Accessor& accessor,
                                         std::size_t element) {
    const tinygltf::BufferView& view = model.bufferViews.at(static_cast<std::size_t>(accessor.bufferView));
    const tinygltf::Buffer& buffer = model.buffers.at(static_cast<std::size_t>(view.buffer));
    const bool in_view = accessor.byteOffset + accessor.count * element <= view.byteLength;
    const bool in_buffer = view.byteOffset + view.byteLength <= buffer.data.size();
    EXPECT_LE(accessor.byteOffset + accessor.count * element, view.byteLength);
    EXPECT_LE(view.byteOffset + view.byteLength, buffer.data.size());
    return in_view && in_buffer ? buffer.data.data() + view.byteOffset + accessor.byteOffset : nullptr;
}

// The positions of a float VEC3 accessor; none when they lie outside its buffer.
inline std::vector<std::array<float, 3>> readPositions(const tinygltf::Model& model,
                                                       const tinygltf::Accessor& accessor) {
    const unsigned char* data = accessorData(model, accessor, 12);
    if (data == nullptr) return {};
    std::vector<std::array<float, 3>> positions(accessor.count);
    for (std::size_t i = 0; i < accessor.count; ++i) {
        for (std::size_t axis = 0; axis < 3; ++axis)
            positions[i][axis] = v2bsp::bitCast<float>(loadu32le(data + 12 * i + 4 * axis));
    }
    return positions;
}

// The indices of an unsigned short or unsigned int accessor; none when they
// lie outside its buffer.
inline std::vector<std::uint32_t> readIndices(const tinygltf::Model& model, const tinygltf::Accessor& accessor) {
    const bool wide = accessor.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    const std::size_t size = wide ? 4 : 2;
    const unsigned char* data = accessorData(model, accessor, size);
    if (data == nullptr) return {};
    std::vector<std::uint32_t> indices(accessor.count);
    for (std::size_t i = 0; i < accessor.count; ++i) {
        const unsigned char* p = data + size * i;
        indices[i] = wide ? loadu32le(p) : static_cast<std::uint32_t>(p[0] | p[1] << 8);
    }
    return indices;
}

// Equal sequences, or a failure naming the first place they differ (the
// meshes are too large to print whole).
template <typename T>
void expectSame(const std::vector<T>& read, const std::vector<T>& expected, const char* what) {
    ASSERT_EQ(read.size(), expected.size()) << what;
    const auto [at, want] = std::mismatch(read.begin(), read.end(), expected.begin());
    if (at == read.end()) return;
    ADD_FAILURE() << what << " " << (at - read.begin()) << " is " << testing::PrintToString(*at) << ", expected "
                  << testing::PrintToString(*want);
}

inline std::vector<std::array<std::uint32_t, 3>> bitsOf(const std::vector<std::array<float, 3>>& positions) {
    std::vector<std::array<std::uint32_t, 3>> bits;
    bits.reserve(positions.size());
    for (const auto& [x, y, z] : positions) {
        bits.push_back(
            {v2bsp::bitCast<std::uint32_t>(x), v2bsp::bitCast<std::uint32_t>(y), v2bsp::bitCast<std::uint32_t>(z)});
    }
    return bits;
}

inline void expectGlbNode(const tinygltf::Model& model, const tinygltf::Node& node, const GlbNode& expected) {
    EXPECT_EQ(node.name, expected.name);
    EXPECT_TRUE(node.matrix.empty() && node.translation.empty() && node.rotation.empty() && node.scale.empty());
    EXPECT_TRUE(node.children.empty());
    if (!expected.hasMesh()) {
        EXPECT_EQ(node.mesh, -1);
        return;
    }
    ASSERT_GE(node.mesh, 0);
    ASSERT_LT(static_cast<std::size_t>(node.mesh), model.meshes.size());
    const tinygltf::Mesh& mesh = model.meshes[static_cast<std::size_t>(node.mesh)];
    EXPECT_EQ(mesh.name, expected.name);
    ASSERT_EQ(mesh.primitives.size(), 1u);
    const tinygltf::Primitive& primitive = mesh.primitives[0];
    EXPECT_EQ(primitive.mode, TINYGLTF_MODE_TRIANGLES);
    EXPECT_EQ(primitive.material, -1);
    ASSERT_EQ(primitive.attributes.size(), 1u);
    ASSERT_EQ(primitive.attributes.count("POSITION"), 1u);

    const tinygltf::Accessor& positions =
        model.accessors.at(static_cast<std::size_t>(primitive.attributes.at("POSITION")));
    ASSERT_EQ(positions.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
    ASSERT_EQ(positions.type, TINYGLTF_TYPE_VEC3);
    ASSERT_EQ(positions.count, expected.positions.size());
    expectSame(bitsOf(readPositions(model, positions)), bitsOf(expected.positions), "position");
    std::vector<double> min(3, std::numeric_limits<double>::infinity());
    std::vector<double> max(3, -std::numeric_limits<double>::infinity());
    for (const std::array<float, 3>& position : expected.positions) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            min[axis] = std::min(min[axis], static_cast<double>(position[axis]));
            max[axis] = std::max(max[axis], static_cast<double>(position[axis]));
        }
    }
    EXPECT_EQ(positions.minValues, min);
    EXPECT_EQ(positions.maxValues, max);
    EXPECT_EQ(model.bufferViews.at(static_cast<std::size_t>(positions.bufferView)).target,
              TINYGLTF_TARGET_ARRAY_BUFFER);

    ASSERT_GE(primitive.indices, 0);
    const tinygltf::Accessor& indices = model.accessors.at(static_cast<std::size_t>(primitive.indices));
    ASSERT_EQ(indices.componentType,
              expected.wide ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
    EXPECT_EQ(indices.type, TINYGLTF_TYPE_SCALAR);
    ASSERT_EQ(indices.count, expected.indices.size());
    expectSame(readIndices(model, indices), expected.indices, "index");
    const tinygltf::BufferView& index_view = model.bufferViews.at(static_cast<std::size_t>(indices.bufferView));
    EXPECT_EQ(index_view.target, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    EXPECT_NE(index_view.buffer, -1);
}

// The whole model: one scene named `name` of one node for each of `expected`
// in order, each as expected, and no mesh, accessor or buffer more.
inline void expectGlbLevel(const tinygltf::Model& model, const std::vector<GlbNode>& expected,
                           const std::string& name) {
    EXPECT_EQ(model.asset.version, "2.0");
    EXPECT_EQ(model.asset.generator.rfind("v2bsp-extract ", 0), 0u) << model.asset.generator;
    EXPECT_TRUE(model.materials.empty());
    EXPECT_TRUE(model.extensionsUsed.empty());
    EXPECT_TRUE(model.extensionsRequired.empty());
    EXPECT_EQ(model.defaultScene, 0);
    ASSERT_EQ(model.scenes.size(), 1u);
    EXPECT_EQ(model.scenes[0].name, name);

    ASSERT_EQ(model.nodes.size(), expected.size());
    std::vector<int> scene_nodes(expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) scene_nodes[i] = static_cast<int>(i);
    EXPECT_EQ(model.scenes[0].nodes, scene_nodes);
    std::size_t with_mesh = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        expectGlbNode(model, model.nodes[i], expected[i]);
        with_mesh += expected[i].hasMesh();
    }
    EXPECT_EQ(model.meshes.size(), with_mesh);
    EXPECT_EQ(model.accessors.size(), 2 * with_mesh);
    EXPECT_EQ(model.buffers.size(), with_mesh > 0 ? 1u : 0u);
}

}  // namespace v2bsp::fixtures
