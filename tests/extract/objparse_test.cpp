// The written OBJ files, read back by an independent OBJ parser.
#include <gtest/gtest.h>
#include <tiny_obj_loader.h>

#include <cmath>
#include <string>

#include "extract/extractmap.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "recordinghost.hpp"
#include "scratchfolder.hpp"

namespace v2bsp {
namespace {

namespace mb = mapbuilder;

TEST(ObjParse, SampleSceneReadsBackAsBuilt) {
    ScratchFolder scratch;
    const mb::Scene scene = mb::samplescene();
    const auto map = writeMap(scratch.path() / "sample.map", scene);

    fixtures::RecordingHost host;
    ExtractSettings settings;
    settings.outputParent = scratch.path();
    const ExtractResult result = extractmap(map.string(), host, settings);
    for (const MapFailure& failure : host.failures) ADD_FAILURE() << failure.reason;
    ASSERT_EQ(result.status, ExtractStatus::complete);
    ASSERT_GE(scene.meshes.size(), 5u);

    for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
        SCOPED_TRACE("mesh " + std::to_string(m));
        const mb::Mesh& mesh = scene.meshes[m];
        tinyobj::ObjReaderConfig config;
        config.triangulate = false;
        tinyobj::ObjReader reader;
        ASSERT_TRUE(
            reader.ParseFromFile((result.outputfolder / ("mesh" + std::to_string(m) + ".obj")).string(), config))
            << reader.Error();
        const tinyobj::attrib_t& attrib = reader.GetAttrib();
        ASSERT_EQ(attrib.vertices.size(), 3 * mesh.vertices.size());
        for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
            const float expected[3] = {mesh.vertices[v].x, mesh.vertices[v].y, mesh.vertices[v].z};
            for (int axis = 0; axis < 3; ++axis) {
                const float got = attrib.vertices[3 * v + axis];
                EXPECT_NEAR(got, expected[axis], 1e-6 * std::max(1.0f, std::fabs(expected[axis])))
                    << "vertex " << v << " axis " << axis;
            }
        }
        std::vector<int> indices;
        for (const tinyobj::shape_t& shape : reader.GetShapes()) {
            for (const unsigned char count : shape.mesh.num_face_vertices) ASSERT_EQ(count, 3);
            for (const tinyobj::index_t& index : shape.mesh.indices) indices.push_back(index.vertex_index);
        }
        std::vector<int> expected;
        for (const mb::Triangle& t : mesh.triangles) {
            if (t.a == t.b || t.a == t.c || t.b == t.c) continue;
            expected.insert(expected.end(), {t.a, t.b, t.c});
        }
        EXPECT_EQ(indices, expected);
    }
}

}  // namespace
}  // namespace v2bsp
