// A valid map cut at every length: each cut ends cleanly, either as not a
// map with a reason that names a read past the cut, or as a run that skips
// exactly the meshes whose data the cut removed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/extractmap.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "memoryfiles.hpp"
#include "meshfixtures.hpp"
#include "recordinghost.hpp"

namespace v2bsp {
namespace {

namespace mb = mapbuilder;

TEST(EveryPrefix, EndsAsNotAMapOrWithTheRightSkips) {
    const mb::BuiltMap built = mb::buildMap(fixtures::threeMeshScene("cut room"));
    const mb::MapLayout& layout = built.layout;
    // The last byte the first regime reads is the end of the BSP header's
    // mesh count and mesh-table address; the builder puts it after all else
    // the first regime reads.
    const std::int64_t header_end = layout.bspoffset + 180;
    std::int64_t failures = 0;
    for (std::int64_t length = 1; length <= layout.filelength; ++length) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        const std::vector<std::uint8_t> cut(built.bytes.begin(), built.bytes.begin() + length);
        fixtures::RecordingHost host;
        fixtures::MemoryFiles files;
        ExtractSettings settings;
        settings.outputParent = "out";
        settings.files = &files;
        settings.formats = {.meshes = true, .obj = true, .glb = true};
        const ExtractResult result = extractmap(cut, "cut.map", host, settings);

        if (length < header_end) {
            ASSERT_EQ(result.status, ExtractStatus::failed);
            ASSERT_EQ(host.failures.size(), 1u);
            const MapError& error = host.failures[0].error;
            EXPECT_EQ(error.imageLength(), length);
            if (error.kind() == MapErrorKind::outside) {
                EXPECT_GT(error.offset() + error.length(), length) << error.what();
            } else {
                EXPECT_EQ(error.kind(), MapErrorKind::pastEnd) << error.what();
            }
            EXPECT_TRUE(files.files.empty());
            EXPECT_TRUE(files.folders.empty());
            ++failures;
            continue;
        }
        ASSERT_TRUE(host.failures.empty()) << host.failures[0].reason;
        const std::int64_t entries_inside = std::max<std::int64_t>(0, (length - layout.meshtable) / 176);
        const std::int64_t read = std::min<std::int64_t>(3, entries_inside);
        ASSERT_EQ(result.meshesRead, read);
        std::int64_t skipped = 0;
        for (std::int64_t m = 0; m < read; ++m) {
            const mb::MeshLayout& mesh = layout.meshes[static_cast<std::size_t>(m)];
            const bool outside = mesh.raw + mesh.rawsize > length;
            skipped += outside;
            EXPECT_EQ(files.files.count("out/cut room/mesh" + std::to_string(m) + ".obj"), outside ? 0u : 1u) << m;
        }
        EXPECT_EQ(result.meshesSkipped, skipped);
        EXPECT_EQ(result.meshesWritten, read - skipped);
        EXPECT_EQ(files.files.count("out/cut room.obj"), 1u);
        EXPECT_EQ(files.files.count("out/cut room.glb"), 1u);
        const bool whole = read == 3 && skipped == 0;
        EXPECT_EQ(result.status, whole ? ExtractStatus::complete : ExtractStatus::incomplete);
    }
    EXPECT_EQ(failures, header_end - 1);
}

}  // namespace
}  // namespace v2bsp
