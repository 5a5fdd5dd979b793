#include <algorithm>
#include <charconv>
#include <optional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "mapimage/portable.hpp"
#include "writers/writers.hpp"

namespace v2bsp {
namespace {

using Json = nlohmann::ordered_json;

// Pieces of at most 1.5 megabytes of binary data, and of about 64 KiB of JSON.
constexpr std::size_t kPieceItems = 131072;
constexpr std::size_t kJsonPiece = 65536;
// Parts of the binary chunk shorter than this are gathered into one piece.
constexpr std::size_t kGatherBelow = 65536;
constexpr std::uint64_t kPositionBytes = 12;
constexpr std::uint64_t kGlbHeaderBytes = 12;
constexpr std::uint64_t kChunkHeaderBytes = 8;
constexpr std::uint64_t kLargestGlb = 0xFFFFFFFF;

constexpr std::uint32_t kArrayBuffer = 34962;
constexpr std::uint32_t kElementArrayBuffer = 34963;

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

// A string's JSON text, written by the JSON library: escaped, and with text
// that is not UTF-8 replaced, so the JSON stays valid whatever a caller gives.
void appendString(std::string& out, const std::string& text) {
    out += Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

void appendNumber(std::string& out, std::uint64_t value) {
    char digits[20];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// The shortest text that reads back to the same double: a float widened to
// double is exact, so its text reads back to the same float. Bounds are
// finite, so the text is a JSON number.
void appendNumber(std::string& out, double value) {
    char digits[kShortestDoubleMax];
    out.append(digits, shortestText(digits, value));
}

bool hasGeometry(const MeshSummary& summary) {
    return summary.vertices > 0 && summary.triangles > 0;
}

// The glb's JSON text, made in pieces in the order the document holds it, so
// that no tree of it is held, however many meshes the level has: the walk
// gives the same text every time, once to count its bytes for the header and
// once to write them.
//
// {"asset":{...},"scene":0,"scenes":[{"name":MAP,"nodes":[0,...]}],
//  "nodes":[...],"meshes":[...],"accessors":[...],"bufferViews":[...],
//  "buffers":[{"byteLength":B}]}, every array that would be empty left out,
// as the schema wants each array it names non-empty. Accessors are of
// componentType 5126 (float), 5123 (unsigned short) or 5125 (unsigned int);
// primitives of mode 4 (triangles).
class GlbJson {
public:
    GlbJson(const MeshPlan& plan, const std::vector<MeshSummary>& summaries, const LevelInfo& info,
            std::uint64_t binBytes)
        : plan_(plan), summaries_(summaries), info_(info), binBytes_(binBytes) {
        for (std::size_t i = 0; i < plan.meshes.size(); ++i) {
            if (plan.meshes[i].skip != MeshSkip::none) continue;
            anyNodes_ = true;
            anyGeometry_ |= hasGeometry(summaries[i]);
        }
    }

    // Appends the next items of the text to `out` until it holds at least
    // `limit` bytes; false when the text was done before this call.
    bool append(std::string& out, std::size_t limit) {
        if (part_ == Part::done) return false;
        while (part_ != Part::done && out.size() < limit) step(out);
        return true;
    }

    // The length of the whole text.
    std::uint64_t length() {
        std::uint64_t bytes = 0;
        std::string piece;
        while (true) {
            piece.clear();
            if (!append(piece, 65536)) break;
            bytes += piece.size();
        }
        restart();
        return bytes;
    }

private:
    enum class Part { head, sceneNodes, sceneEnd, nodes, meshes, accessors, views, tail, done };

    void restart() {
        part_ = Part::head;
        at_ = 0;
        count_ = 0;
        geometry_ = 0;
        binOffset_ = 0;
    }

    // One mesh of the current part, or the text between parts.
    void step(std::string& out) {
        switch (part_) {
            case Part::head:
                out += R"({"asset":{"generator":)";
                appendString(out, levelGenerator());
                out += R"(,"version":"2.0"},"scene":0,"scenes":[{"name":)";
                appendString(out, info_.mapname);
                if (anyNodes_) out += R"(,"nodes":[)";
                next(anyNodes_ ? Part::sceneNodes : Part::sceneEnd);
                return;
            case Part::sceneEnd:
                out += anyNodes_ ? "]}]" : "}]";
                if (anyNodes_) out += R"(,"nodes":[)";
                next(anyNodes_ ? Part::nodes : Part::tail);
                return;
            case Part::tail:
                if (binBytes_ > 0) {
                    out += R"(,"buffers":[{"byteLength":)";
                    appendNumber(out, binBytes_);
                    out += "}]";
                }
                out += "}";
                part_ = Part::done;
                return;
            case Part::done:
                return;
            default:
                break;
        }
        // A part of one item per mesh: the next mesh it names, or its end.
        while (at_ < plan_.meshes.size() && !inPart(at_)) ++at_;
        if (at_ == plan_.meshes.size()) {
            endPart(out);
            return;
        }
        const PlannedMesh& mesh = plan_.meshes[at_];
        const MeshSummary& summary = summaries_[at_];
        if (count_ > 0) out += ',';
        switch (part_) {
            case Part::sceneNodes:
                appendNumber(out, count_);
                break;
            case Part::nodes:
                out += R"({"name":"mesh)";
                appendNumber(out, static_cast<std::uint64_t>(mesh.number));
                out += '"';
                if (hasGeometry(summary)) {
                    out += R"(,"mesh":)";
                    appendNumber(out, geometry_++);
                }
                out += '}';
                break;
            case Part::meshes:
                out += R"({"name":"mesh)";
                appendNumber(out, static_cast<std::uint64_t>(mesh.number));
                out += R"(","primitives":[{"attributes":{"POSITION":)";
                appendNumber(out, 2 * count_);
                out += R"(},"indices":)";
                appendNumber(out, 2 * count_ + 1);
                out += R"(,"mode":4}]})";
                break;
            case Part::accessors:
                out += R"({"bufferView":)";
                appendNumber(out, 2 * count_);
                out += R"(,"componentType":5126,"count":)";
                appendNumber(out, static_cast<std::uint64_t>(summary.vertices));
                out += R"(,"type":"VEC3","min":[)";
                appendBound(out, summary.min);
                out += R"(],"max":[)";
                appendBound(out, summary.max);
                out += R"(]},{"bufferView":)";
                appendNumber(out, 2 * count_ + 1);
                out += summary.index65535 ? R"(,"componentType":5125,"count":)" : R"(,"componentType":5123,"count":)";
                appendNumber(out, 3 * static_cast<std::uint64_t>(summary.triangles));
                out += R"(,"type":"SCALAR"})";
                break;
            case Part::views: {
                const std::uint64_t positions = static_cast<std::uint64_t>(summary.vertices) * kPositionBytes;
                const std::uint64_t indices =
                    3 * static_cast<std::uint64_t>(summary.triangles) * (summary.index65535 ? 4 : 2);
                appendView(out, binOffset_, positions, kArrayBuffer);
                out += ',';
                appendView(out, binOffset_ + positions, indices, kElementArrayBuffer);
                binOffset_ += positions + indices + paddingTo4(indices);
                break;
            }
            default:
                break;
        }
        ++count_;
        ++at_;
    }

    bool inPart(std::size_t i) const {
        if (plan_.meshes[i].skip != MeshSkip::none) return false;
        return part_ == Part::sceneNodes || part_ == Part::nodes || hasGeometry(summaries_[i]);
    }

    void endPart(std::string& out) {
        switch (part_) {
            case Part::sceneNodes:
                next(Part::sceneEnd);
                return;
            case Part::nodes:
                out += ']';
                if (anyGeometry_) out += R"(,"meshes":[)";
                next(anyGeometry_ ? Part::meshes : Part::tail);
                return;
            case Part::meshes:
                out += R"(],"accessors":[)";
                next(Part::accessors);
                return;
            case Part::accessors:
                out += R"(],"bufferViews":[)";
                next(Part::views);
                return;
            case Part::views:
                out += ']';
                next(Part::tail);
                return;
            default:
                return;
        }
    }

    void next(Part part) {
        part_ = part;
        at_ = 0;
        count_ = 0;
    }

    static void appendBound(std::string& out, const Position& bound) {
        for (int axis = 0; axis < 3; ++axis) {
            if (axis > 0) out += ',';
            appendNumber(out, static_cast<double>(bound[axis]));
        }
    }

    static void appendView(std::string& out, std::uint64_t offset, std::uint64_t length, std::uint32_t target) {
        out += R"({"buffer":0,"byteOffset":)";
        appendNumber(out, offset);
        out += R"(,"byteLength":)";
        appendNumber(out, length);
        out += R"(,"target":)";
        appendNumber(out, static_cast<std::uint64_t>(target));
        out += '}';
    }

    const MeshPlan& plan_;
    const std::vector<MeshSummary>& summaries_;
    const LevelInfo& info_;
    const std::uint64_t binBytes_;
    bool anyNodes_ = false;
    bool anyGeometry_ = false;
    Part part_ = Part::head;
    std::size_t at_ = 0;          // the mesh of the part the walk is at
    std::uint64_t count_ = 0;     // items of the part written
    std::uint64_t geometry_ = 0;  // meshes with geometry the node list has named
    std::uint64_t binOffset_ = 0;
};

class LevelGlbBytes final : public ByteSource {
public:
    LevelGlbBytes(const MeshPlan& plan, const std::vector<MeshSummary>& summaries, const LevelInfo& info)
        : up_(info.up) {
        for (std::size_t i = 0; i < plan.meshes.size(); ++i) {
            const PlannedMesh& mesh = plan.meshes[i];
            const MeshSummary& summary = summaries[i];
            if (mesh.skip != MeshSkip::none || !hasGeometry(summary)) continue;
            GlbMesh glb{&mesh, static_cast<std::uint64_t>(summary.vertices),
                        3 * static_cast<std::uint64_t>(summary.triangles), summary.index65535};
            // Only where the summary and the sections agree on every length.
            glb.storedPositions = summary.storedPositions && up_ == UpAxis::y &&
                                  wholeGroups(mesh.vertices, kVertexBytes).size() == glb.positionBytes();
            glb.storedTriangles =
                summary.storedTriangles && !glb.wide && wholeGroups(mesh.faces, kFaceBytes).size() == glb.indexBytes();
            binBytes_ += glb.positionBytes() + glb.indexBytes() + paddingTo4(glb.indexBytes());
            meshes_.push_back(glb);
        }
        json_.emplace(plan, summaries, info, binBytes_);
        const std::uint64_t jsonBytes = json_->length();
        jsonPadding_ = paddingTo4(jsonBytes);
        const std::uint64_t total = kGlbHeaderBytes + kChunkHeaderBytes + jsonBytes + jsonPadding_ +
                                    (binBytes_ > 0 ? kChunkHeaderBytes + binBytes_ : 0);
        if (total > kLargestGlb) {
            throw std::length_error("the level's glb file would be " + std::to_string(total) +
                                    " bytes, more than the 4294967295 its header can state");
        }
        head_ += "glTF";
        appendu32le(head_, 2);
        appendu32le(head_, static_cast<std::uint32_t>(total));
        appendu32le(head_, static_cast<std::uint32_t>(jsonBytes + jsonPadding_));
        head_ += "JSON";
    }

    bool nextPiece(std::string_view& piece) override {
        if (!started_) {
            started_ = true;
            piece = head_;
            return true;
        }
        if (json_) {
            chunk_.clear();
            if (json_->append(chunk_, kJsonPiece)) {
                piece = chunk_;
                return true;
            }
            // The JSON chunk's padding, then the binary chunk's header.
            json_.reset();
            chunk_.assign(jsonPadding_, ' ');
            if (binBytes_ > 0) {
                appendu32le(chunk_, static_cast<std::uint32_t>(binBytes_));
                chunk_.append("BIN\0", 4);
            }
            piece = chunk_;
            return true;
        }
        // Small items are gathered into one piece: a level of many tiny
        // meshes then costs few writes. Large ones go as they are.
        chunk_.clear();
        while (true) {
            if (!pending_.empty()) {
                if (!chunk_.empty()) break;
                piece = pending_;
                pending_ = {};
                return true;
            }
            std::string_view item;
            if (!nextItem(item)) break;
            if (item.size() >= kGatherBelow) {
                pending_ = item;
                continue;
            }
            chunk_.append(item);
            if (chunk_.size() >= kGatherBelow) break;
        }
        piece = chunk_;
        return !chunk_.empty();
    }

private:
    // The next part of the binary chunk: a section as it lies in the map, or
    // bytes made in scratch_, valid until the next call.
    bool nextItem(std::string_view& item) {
        while (at_ < meshes_.size()) {
            const GlbMesh& glb = meshes_[at_];
            switch (stage_) {
                case Stage::start:
                    pieces_.emplace(*glb.mesh, up_, kPieceItems);
                    stage_ = Stage::positions;
                    left_ = glb.vertices;
                    if (glb.storedPositions) {
                        left_ = 0;
                        item = asText(wholeGroups(glb.mesh->vertices, kVertexBytes));
                        return true;
                    }
                    break;
                case Stage::positions:
                    if (left_ > 0) {
                        appendPositions(scratch_);
                        item = scratch_;
                        return true;
                    }
                    stage_ = Stage::indices;
                    left_ = glb.indices / 3;
                    if (glb.storedTriangles) {
                        left_ = 0;
                        item = asText(wholeGroups(glb.mesh->faces, kFaceBytes));
                        return true;
                    }
                    break;
                case Stage::indices:
                    if (left_ > 0) {
                        appendTriangles(scratch_, glb.wide);
                        item = scratch_;
                        return true;
                    }
                    stage_ = Stage::padding;
                    break;
                case Stage::padding:
                    pieces_.reset();
                    ++at_;
                    stage_ = Stage::start;
                    if (paddingTo4(glb.indexBytes()) > 0) {
                        scratch_.assign(paddingTo4(glb.indexBytes()), '\0');
                        item = scratch_;
                        return true;
                    }
                    break;
            }
        }
        return false;
    }

    // The buffer views' lengths come from the summaries, so exactly that many
    // items are written whatever the pieces hold: surplus ones are cut and
    // missing ones are zeros, and the file's lengths stay true.
    void appendPositions(std::string& chunk) {
        std::size_t count = 0;
        if (pieces_->nextPositions(positions_))
            count = static_cast<std::size_t>(std::min<std::uint64_t>(positions_.size(), left_));
        if (count == 0) {
            const auto zeros = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kPieceItems));
            chunk.assign(zeros * kPositionBytes, '\0');
            left_ -= zeros;
            return;
        }
        chunk.resize(count * kPositionBytes);
        char* out = chunk.data();
        for (std::size_t i = 0; i < count; ++i) {
            const Position& position = positions_[i];
            out = storeu32le(out, bitCast<std::uint32_t>(position[0]));
            out = storeu32le(out, bitCast<std::uint32_t>(position[1]));
            out = storeu32le(out, bitCast<std::uint32_t>(position[2]));
        }
        left_ -= count;
    }

    void appendTriangles(std::string& chunk, bool wide) {
        const std::size_t triangleBytes = wide ? 12 : 6;
        std::size_t count = 0;
        if (pieces_->nextTriangles(triangles_))
            count = static_cast<std::size_t>(std::min<std::uint64_t>(triangles_.size(), left_));
        if (count == 0) {
            const auto zeros = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kPieceItems));
            chunk.assign(zeros * triangleBytes, '\0');
            left_ -= zeros;
            return;
        }
        chunk.resize(count * triangleBytes);
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
    std::optional<GlbJson> json_;  // until its text is written
    std::uint64_t jsonPadding_ = 0;
    bool started_ = false;
    std::size_t at_ = 0;
    enum class Stage { start, positions, indices, padding } stage_ = Stage::start;
    std::string chunk_;
    std::string scratch_;
    std::string_view pending_;  // a large item that goes after the gathered ones
    std::optional<MeshPieces> pieces_;
    std::uint64_t left_ = 0;  // positions or triangles of the current view still to write
    std::vector<Position> positions_;
    std::vector<Triangle> triangles_;
};

}  // namespace

std::unique_ptr<ByteSource> levelGlbSource(const MeshPlan& plan, const std::vector<MeshSummary>& summaries,
                                           const LevelInfo& info) {
    return std::make_unique<LevelGlbBytes>(plan, summaries, info);
}

}  // namespace v2bsp
