#include <algorithm>
#include <bit>
#include <optional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "writers/writers.hpp"

namespace v2bsp {
namespace {

using Json = nlohmann::ordered_json;

// Pieces of at most 1.5 megabytes of binary data.
constexpr std::size_t kPieceItems = 131072;
constexpr std::uint64_t kPositionBytes = 12;
constexpr std::uint64_t kGlbHeaderBytes = 12;
constexpr std::uint64_t kChunkHeaderBytes = 8;
constexpr std::uint64_t kLargestGlb = 0xFFFFFFFF;

constexpr std::uint32_t kFloat = 5126;
constexpr std::uint32_t kUnsignedShort = 5123;
constexpr std::uint32_t kUnsignedInt = 5125;
constexpr std::uint32_t kArrayBuffer = 34962;
constexpr std::uint32_t kElementArrayBuffer = 34963;
constexpr int kTriangles = 4;

std::string_view asText(ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

constexpr std::uint64_t paddingTo4(std::uint64_t length) {
    return (4 - length % 4) % 4;
}

char* storeu16le(char* out, std::uint32_t value) {
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>(value >> 8 & 0xFF);
    return out + 2;
}

char* storeu32le(char* out, std::uint32_t value) {
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>(value >> 8 & 0xFF);
    out[2] = static_cast<char>(value >> 16 & 0xFF);
    out[3] = static_cast<char>(value >> 24 & 0xFF);
    return out + 4;
}

void appendu32le(std::string& out, std::uint32_t value) {
    char bytes[4];
    storeu32le(bytes, value);
    out.append(bytes, 4);
}

// What the binary chunk holds of one mesh with geometry: its positions, then
// its indices padded with zeros to a multiple of 4 bytes.
struct GlbMesh {
    const PlannedMesh* mesh = nullptr;
    std::uint64_t vertices = 0;
    std::uint64_t indices = 0;  // three per kept triangle
    bool wide = false;          // UNSIGNED_INT indices
    // The file takes the section's bytes as they lie in the map image.
    bool storedPositions = false;
    bool storedTriangles = false;
    std::uint64_t positionBytes() const { return vertices * kPositionBytes; }
    std::uint64_t indexBytes() const { return indices * (wide ? 4 : 2); }
};

Json positionBounds(const Position& bound) {
    // A float widened to double is exact, and the double's shortest text reads
    // back to that double, hence to the same float.
    return Json::array({static_cast<double>(bound[0]), static_cast<double>(bound[1]),
                        static_cast<double>(bound[2])});
}

class LevelGlbBytes final : public ByteSource {
  public:
    LevelGlbBytes(const MeshPlan& plan, const std::vector<MeshSummary>& summaries,
                  const LevelInfo& info)
        : up_(info.up) {
        Json nodes = Json::array();
        Json meshes = Json::array();
        Json accessors = Json::array();
        Json views = Json::array();
        for (std::size_t i = 0; i < plan.meshes.size(); ++i) {
            const PlannedMesh& mesh = plan.meshes[i];
            if (mesh.skip != MeshSkip::none) continue;
            const MeshSummary& summary = summaries[i];
            const std::string name = "mesh" + std::to_string(mesh.number);
            Json node = {{"name", name}};
            if (summary.vertices > 0 && summary.triangles > 0) {
                GlbMesh glb{&mesh, static_cast<std::uint64_t>(summary.vertices),
                            3 * static_cast<std::uint64_t>(summary.triangles), summary.index65535};
                // Only where the summary and the sections agree on every length.
                glb.storedPositions = summary.storedPositions && up_ == UpAxis::y &&
                                      wholeGroups(mesh.vertices, kVertexBytes).size() == glb.positionBytes();
                glb.storedTriangles = summary.storedTriangles && !glb.wide &&
                                      wholeGroups(mesh.faces, kFaceBytes).size() == glb.indexBytes();
                node["mesh"] = meshes.size();
                const std::size_t position_accessor = accessors.size();
                meshes.push_back(
                    {{"name", name},
                     {"primitives", Json::array({{{"attributes", {{"POSITION", position_accessor}}},
                                                  {"indices", position_accessor + 1},
                                                  {"mode", kTriangles}}})}});
                accessors.push_back({{"bufferView", views.size()},
                                     {"componentType", kFloat},
                                     {"count", glb.vertices},
                                     {"type", "VEC3"},
                                     {"min", positionBounds(summary.min)},
                                     {"max", positionBounds(summary.max)}});
                views.push_back({{"buffer", 0},
                                 {"byteOffset", binBytes_},
                                 {"byteLength", glb.positionBytes()},
                                 {"target", kArrayBuffer}});
                binBytes_ += glb.positionBytes();
                accessors.push_back({{"bufferView", views.size()},
                                     {"componentType", glb.wide ? kUnsignedInt : kUnsignedShort},
                                     {"count", glb.indices},
                                     {"type", "SCALAR"}});
                views.push_back({{"buffer", 0},
                                 {"byteOffset", binBytes_},
                                 {"byteLength", glb.indexBytes()},
                                 {"target", kElementArrayBuffer}});
                binBytes_ += glb.indexBytes() + paddingTo4(glb.indexBytes());
                meshes_.push_back(glb);
            }
            nodes.push_back(std::move(node));
        }

        // The schema wants every array it names non-empty, so empty ones are left out.
        Json scene = {{"name", info.mapname}};
        if (!nodes.empty()) scene["nodes"] = Json::array();
        for (std::size_t node = 0; node < nodes.size(); ++node) scene["nodes"].push_back(node);
        Json document = {
            {"asset", {{"generator", levelGenerator()}, {"version", "2.0"}}},
            {"scene", 0},
            {"scenes", Json::array({std::move(scene)})}};
        if (!nodes.empty()) document["nodes"] = std::move(nodes);
        if (!meshes.empty()) document["meshes"] = std::move(meshes);
        if (!accessors.empty()) document["accessors"] = std::move(accessors);
        if (!views.empty()) document["bufferViews"] = std::move(views);
        if (binBytes_ > 0) document["buffers"] = Json::array({{{"byteLength", binBytes_}}});

        // The map name is valid UTF-8 by contract; replacing what is not keeps
        // the JSON valid even if a caller breaks it.
        std::string json = document.dump(-1, ' ', false, Json::error_handler_t::replace);
        json.append(paddingTo4(json.size()), ' ');
        const std::uint64_t total = kGlbHeaderBytes + kChunkHeaderBytes + json.size() +
                                    (binBytes_ > 0 ? kChunkHeaderBytes + binBytes_ : 0);
        if (total > kLargestGlb) {
            throw std::length_error("the level's glb file would be " + std::to_string(total) +
                                    " bytes, more than the 4294967295 its header can state");
        }

        head_.reserve(kGlbHeaderBytes + 2 * kChunkHeaderBytes + json.size());
        head_ += "glTF";
        appendu32le(head_, 2);
        appendu32le(head_, static_cast<std::uint32_t>(total));
        appendu32le(head_, static_cast<std::uint32_t>(json.size()));
        head_ += "JSON";
        head_ += json;
        if (binBytes_ > 0) {
            appendu32le(head_, static_cast<std::uint32_t>(binBytes_));
            head_.append("BIN\0", 4);
        }
    }

    bool nextPiece(std::string_view& piece) override {
        if (!started_) {
            started_ = true;
            piece = head_;
            return true;
        }
        while (at_ < meshes_.size()) {
            const GlbMesh& glb = meshes_[at_];
            switch (stage_) {
                case Stage::start:
                    pieces_.emplace(*glb.mesh, up_, kPieceItems);
                    stage_ = Stage::positions;
                    left_ = glb.vertices;
                    if (glb.storedPositions) {
                        left_ = 0;
                        piece = asText(wholeGroups(glb.mesh->vertices, kVertexBytes));
                        return true;
                    }
                    break;
                case Stage::positions:
                    if (left_ > 0) {
                        appendPositions(chunk_);
                        piece = chunk_;
                        return true;
                    }
                    stage_ = Stage::indices;
                    left_ = glb.indices / 3;
                    if (glb.storedTriangles) {
                        left_ = 0;
                        piece = asText(wholeGroups(glb.mesh->faces, kFaceBytes));
                        return true;
                    }
                    break;
                case Stage::indices:
                    if (left_ > 0) {
                        appendTriangles(chunk_, glb.wide);
                        piece = chunk_;
                        return true;
                    }
                    stage_ = Stage::padding;
                    break;
                case Stage::padding:
                    pieces_.reset();
                    ++at_;
                    stage_ = Stage::start;
                    if (paddingTo4(glb.indexBytes()) > 0) {
                        chunk_.assign(paddingTo4(glb.indexBytes()), '\0');
                        piece = chunk_;
                        return true;
                    }
                    break;
            }
        }
        return false;
    }

  private:
    // The buffer views' lengths come from the summaries, so exactly that many
    // items are written whatever the pieces hold: surplus ones are cut and
    // missing ones are zeros, and the file's lengths stay true.
    void appendPositions(std::string& chunk) {
        std::size_t count = 0;
        if (pieces_->nextPositions(positions_))
            count = static_cast<std::size_t>(std::min<std::uint64_t>(positions_.size(), left_));
        if (count == 0) {
            const auto zeros =
                static_cast<std::size_t>(std::min<std::uint64_t>(left_, kPieceItems));
            chunk.assign(zeros * kPositionBytes, '\0');
            left_ -= zeros;
            return;
        }
        chunk.resize(count * kPositionBytes);
        char* out = chunk.data();
        for (std::size_t i = 0; i < count; ++i) {
            const Position& position = positions_[i];
            out = storeu32le(out, std::bit_cast<std::uint32_t>(position[0]));
            out = storeu32le(out, std::bit_cast<std::uint32_t>(position[1]));
            out = storeu32le(out, std::bit_cast<std::uint32_t>(position[2]));
        }
        left_ -= count;
    }

    void appendTriangles(std::string& chunk, bool wide) {
        const std::size_t triangle_bytes = wide ? 12 : 6;
        std::size_t count = 0;
        if (pieces_->nextTriangles(triangles_))
            count = static_cast<std::size_t>(std::min<std::uint64_t>(triangles_.size(), left_));
        if (count == 0) {
            const auto zeros =
                static_cast<std::size_t>(std::min<std::uint64_t>(left_, kPieceItems));
            chunk.assign(zeros * triangle_bytes, '\0');
            left_ -= zeros;
            return;
        }
        chunk.resize(count * triangle_bytes);
        char* out = chunk.data();
        if (wide) {
            for (std::size_t i = 0; i < count; ++i) {
                for (const std::uint32_t index : triangles_[i]) out = storeu32le(out, index);
            }
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                for (const std::uint32_t index : triangles_[i]) out = storeu16le(out, index);
            }
        }
        left_ -= count;
    }

    UpAxis up_;
    std::string head_;
    std::uint64_t binBytes_ = 0;
    std::vector<GlbMesh> meshes_;
    bool started_ = false;
    std::size_t at_ = 0;
    enum class Stage { start, positions, indices, padding } stage_ = Stage::start;
    std::string chunk_;
    std::optional<MeshPieces> pieces_;
    std::uint64_t left_ = 0;  // positions or triangles of the current view still to write
    std::vector<Position> positions_;
    std::vector<Triangle> triangles_;
};

}  // namespace

std::unique_ptr<ByteSource> levelGlbSource(const MeshPlan& plan,
                                           const std::vector<MeshSummary>& summaries,
                                           const LevelInfo& info) {
    return std::make_unique<LevelGlbBytes>(plan, summaries, info);
}

}  // namespace v2bsp
