#include "writers/meshobj.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "mapimage/numtext.hpp"
#include "mapimage/portable.hpp"
#include "reference/numtextref.hpp"
#include "reference/objhextext.hpp"

namespace v2bsp {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fromHex(std::string_view hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

// Both routes, the hex text and the bytes, must give the same lines.
std::string vertexLines(std::string_view hex) {
    const std::string from_text = objvertextext(hex);
    std::string from_bytes;
    appendVertexLines(from_bytes, fromHex(hex));
    EXPECT_EQ(from_text, from_bytes) << "the byte route differs for " << hex;
    return from_text;
}

std::string faceLines(std::string_view hex) {
    const std::string from_text = objfacetext(hex);
    std::string from_bytes;
    appendFaceLines(from_bytes, fromHex(hex));
    EXPECT_EQ(from_text, from_bytes) << "the byte route differs for " << hex;
    return from_text;
}

TEST(ObjFile, WorkedExampleByteForByte) {
    const std::string vertexhex = "0000C03F0000803E000000C0000000000000803F00000000000000BF0000C84200007040";
    const std::string facehex = "000001000200020002000100";
    const Bytes expected = {0x76, 0x20, 0x20, 0x31, 0x2E, 0x35, 0x20, 0x20, 0x2E, 0x32, 0x35, 0x20, 0x2D,
                            0x32, 0x0D, 0x0A, 0x76, 0x20, 0x20, 0x30, 0x20, 0x20, 0x31, 0x20, 0x20, 0x30,
                            0x0D, 0x0A, 0x76, 0x20, 0x2D, 0x2E, 0x35, 0x20, 0x20, 0x31, 0x30, 0x30, 0x20,
                            0x20, 0x33, 0x2E, 0x37, 0x35, 0x0D, 0x0A, 0x0D, 0x0A, 0x0D, 0x0A, 0x66, 0x20,
                            0x20, 0x31, 0x20, 0x20, 0x32, 0x20, 0x20, 0x33, 0x20, 0x0D, 0x0A, 0x0D, 0x0A};
    ASSERT_EQ(expected.size(), 65u);
    const std::string file = objfiletext(fromHex(vertexhex), fromHex(facehex));
    EXPECT_EQ(file, std::string(expected.begin(), expected.end()));
    EXPECT_EQ(objvertextext(vertexhex) + "\r\n\r\n" + objfacetext(facehex) + "\r\n", file);
}

TEST(ObjFile, EmptySections) {
    EXPECT_EQ(objfiletext({}, {}), "\r\n\r\n\r\n");
    EXPECT_EQ(objvertextext(""), "");
    EXPECT_EQ(objfacetext(""), "");
}

TEST(ObjVertexText, Lines) {
    struct Case {
        std::string hex;
        std::string lines;
    };
    const Case cases[] = {
        {"000000000000000000000000", "v  0  0  0\r\n"},
        // Negative zero decodes to -2^-127.
        {"000000800000000000000000", "v -5.87747175411144E-39  0  0\r\n"},
        {"0000807F000000000000803F", "v  3.40282366920938E+38  0  1\r\n"},
        // Partial trailing groups write nothing: 8, 16 and 2 digits after a whole vertex.
        {"0000803F0000803F0000803F0000803F", "v  1  1  1\r\n"},
        {"0000803F0000803F0000803F0000803F0000803F", "v  1  1  1\r\n"},
        {"0000803F0000803F0000803F63", "v  1  1  1\r\n"},
        {"63", ""},
        {"0000803F0000803F0000803F0000803F0000803F000000", "v  1  1  1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(vertexLines(c.hex), c.lines);
    }
}

TEST(ObjFaceText, Lines) {
    struct Case {
        std::string hex;
        std::string lines;
    };
    const Case cases[] = {
        {"000000000500", ""},
        {"000005000000", ""},
        {"050000000000", ""},
        {"010000000200", "f  2  1  3 \r\n"},
        {"FFFF00000100", "f  65536  1  2 \r\n"},
        {"3412FFFF0000", "f  4661  65536  1 \r\n"},
        // Partial trailing groups write nothing.
        {"01000000020000000100", "f  2  1  3 \r\n"},
        {"0100000002000000", "f  2  1  3 \r\n"},
        {"01000000020000", "f  2  1  3 \r\n"},
        {"0000", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(faceLines(c.hex), c.lines);
    }
}

// Parses "v" and "f" lines back and compares them with the values put in.
TEST(ObjText, RandomSectionsParseBack) {
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> coordinate(-10000.0f, 10000.0f);
    std::uniform_int_distribution<int> index(0, 65535);
    for (int round = 0; round < 50; ++round) {
        Bytes vertices;
        std::vector<float> values;
        for (int i = 0; i < 30; ++i) {
            const float value = coordinate(random);
            values.push_back(value);
            const auto bits = v2bsp::bitCast<std::uint32_t>(value);
            for (int b = 0; b < 4; ++b) vertices.push_back(static_cast<std::uint8_t>(bits >> 8 * b));
        }
        std::string text;
        appendVertexLines(text, vertices);
        std::size_t line_start = 0;
        std::size_t value_index = 0;
        while (line_start < text.size()) {
            const std::size_t line_end = text.find("\r\n", line_start);
            ASSERT_NE(line_end, std::string::npos);
            const std::string line = text.substr(line_start, line_end - line_start);
            ASSERT_EQ(line.substr(0, 2), "v ");
            std::size_t at = 1;
            for (int axis = 0; axis < 3; ++axis, ++value_index) {
                ASSERT_EQ(line[at], ' ');
                const std::size_t next = line.find(' ', at + 2);
                const std::string number = line.substr(at + 1, next - at - 1);
                // Fifteen digits carry a single exactly back.
                EXPECT_EQ(static_cast<float>(std::stod(number)), values[value_index]) << line;
                at = next;
            }
            line_start = line_end + 2;
        }
        EXPECT_EQ(value_index, values.size());

        Bytes faces;
        std::vector<int> indices;
        for (int i = 0; i < 30; ++i) {
            const int value = index(random);
            indices.push_back(value);
            faces.push_back(static_cast<std::uint8_t>(value));
            faces.push_back(static_cast<std::uint8_t>(value >> 8));
        }
        std::string face_text;
        appendFaceLines(face_text, faces);
        std::string expected;
        for (std::size_t f = 0; f < indices.size(); f += 3) {
            const int a = indices[f], b = indices[f + 1], c = indices[f + 2];
            if (a == b || a == c || b == c) continue;
            expected +=
                "f  " + std::to_string(a + 1) + "  " + std::to_string(b + 1) + "  " + std::to_string(c + 1) + " \r\n";
        }
        EXPECT_EQ(face_text, expected);
    }
}

TEST(ObjFaceText, IndexTextIsNumtextOfTheIndex) {
    for (std::uint32_t value : {0u, 1u, 8u, 9u, 99u, 12345u, 65532u, 65535u}) {
        SCOPED_TRACE(value);
        const Bytes face = {
            static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8), 0xFE, 0xFF, 0xFD, 0xFF};
        std::string text;
        appendFaceLines(text, face);
        EXPECT_EQ(text, "f " + numtext(value + 1.0) + " " + numtext(65535.0) + " " + numtext(65534.0) + " \r\n");
    }
}

std::vector<std::uint8_t> randomBytes(std::size_t count, std::mt19937& random) {
    std::vector<std::uint8_t> bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

// Pieces join to exactly the text formatted whole, on one thread, with a
// helper for the halves, and with helpers that cannot be made.
TEST(MeshObjSource, PiecesJoinToTheWholeText) {
    struct Case {
        std::size_t vertex_bytes;
        std::size_t face_bytes;
    };
    const Case cases[] = {
        {0, 0},
        {12, 0},
        {0, 6},
        {12 * 255, 6 * 255},
        {12 * 8192, 6 * 8191},
        {12 * 8193 + 5, 6 * 16385 + 4},
        {12 * 32768, 6 * 65536},
        {12 * 32769 + 11, 6 * 65537 + 1},
        {12 * 70001, 6 * 140001},
    };
    struct Threads {
        const char* name;
        unsigned helpers;
        bool refused;  // the system makes no thread
    };
    const Threads threads[] = {{"one thread", 0, false}, {"a helper", 1, false}, {"helpers refused", 3, true}};
    const auto refuse = [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    // The pieces of one thread, and small ones of many.
    const MeshFilePieces sizes[] = {{32768, 65536}, {1000, 9000}};
    std::mt19937 random(7);
    for (const Threads& t : threads) {
        WorkerPool pool(t.helpers, t.refused ? WorkerPool::StartThread(refuse) : WorkerPool::StartThread());
        MeshObjFormatter formatter(&pool);
        for (const MeshFilePieces& size : sizes) {
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(t.name) + ", pieces of " + std::to_string(size.vertices) + ", " +
                             std::to_string(c.vertex_bytes) + " + " + std::to_string(c.face_bytes) + " bytes");
                const auto vertices = randomBytes(c.vertex_bytes, random);
                const auto faces = randomBytes(c.face_bytes, random);
                PlannedMesh mesh;
                mesh.vertices = vertices;
                mesh.faces = faces;
                MeshObjSource text(mesh, formatter, size);
                std::string joined, chunk;
                std::size_t pieces = 0;
                while (text.next(chunk)) {
                    joined += chunk;
                    ++pieces;
                }
                EXPECT_EQ(joined, objfiletext(vertices, faces));
                const std::size_t vertex_groups = c.vertex_bytes / 12, face_groups = c.face_bytes / 6;
                EXPECT_EQ(pieces, std::max<std::size_t>(1, (vertex_groups + size.vertices - 1) / size.vertices) +
                                      std::max<std::size_t>(1, (face_groups + size.faces - 1) / size.faces));
                EXPECT_FALSE(text.next(chunk));
            }
        }
        EXPECT_EQ(pool.threads(), t.refused ? 0u : t.helpers);
    }
}

}  // namespace
}  // namespace v2bsp
