#include "extract/meshtext.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "extract/objtext.hpp"

namespace v2bsp {
namespace {

std::vector<std::uint8_t> randomBytes(std::size_t count, std::mt19937& random) {
    std::vector<std::uint8_t> bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

// Pieces on one or two threads join to exactly the text formatted whole.
TEST(MeshFileText, PiecesJoinToTheWholeText) {
    struct Case {
        std::size_t vertex_bytes;
        std::size_t face_bytes;
    };
    const Case cases[] = {
        {0, 0},           {12, 0},          {0, 6},           {12 * 255, 6 * 255},
        {12 * 8192, 6 * 8191}, {12 * 8193 + 5, 6 * 16385 + 4},  {12 * 32768, 6 * 65536},
        {12 * 32769 + 11, 6 * 65537 + 1}, {12 * 70001, 6 * 140001},
    };
    std::mt19937 random(7);
    for (const unsigned threads : {1u, 2u}) {
        LineFormatter formatter(threads);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(c.vertex_bytes) + " + " +
                         std::to_string(c.face_bytes) + " bytes");
            const auto vertices = randomBytes(c.vertex_bytes, random);
            const auto faces = randomBytes(c.face_bytes, random);
            MeshFileText text(vertices, faces, formatter);
            std::string joined, chunk;
            std::size_t pieces = 0;
            while (text.next(chunk)) {
                joined += chunk;
                ++pieces;
            }
            EXPECT_EQ(joined, objfiletext(vertices, faces));
            EXPECT_EQ(pieces, 2 + c.vertex_bytes / 12 / 32769 + c.face_bytes / 6 / 65537);
            EXPECT_FALSE(text.next(chunk));
        }
    }
}

}  // namespace
}  // namespace v2bsp
