#include <charconv>
#include <optional>

#include "writers/helperthread.hpp"
#include "writers/writers.hpp"

namespace v2bsp {
namespace {

// Pieces of about two megabytes of text.
constexpr std::size_t kPieceItems = 65536;
// "v" and three of " " plus the longest shortest single ("-1.1754944e-38").
constexpr std::size_t kMaxVertexLine = 1 + 3 * 16 + 1;
// "f" and three of " " plus an index of the whole file (at most 20 digits).
constexpr std::size_t kMaxFaceLine = 1 + 3 * 21 + 1;

char* writeNumber(char* out, float value) {
    return std::to_chars(out, out + 16, value).ptr;
}

char* writeIndex(char* out, std::uint64_t value) {
    return std::to_chars(out, out + 20, value).ptr;
}

// Below this many lines a piece is formatted whole: the hand-over would cost
// more than it saves.
constexpr std::size_t kSplitLines = 1024;

class LevelObjText final : public BufferedSource {
public:
    LevelObjText(const MeshPlan& plan, const LevelInfo& info) : plan_(plan), info_(info) {
        if (info.threads > 1) helper_.emplace();
    }

    bool fill(std::string& chunk) override {
        chunk.clear();
        if (!started_) {
            started_ = true;
            chunk = "# " + levelGenerator() + ": " + std::to_string(plan_.writtenCount()) + " meshes of " +
                    info_.folder + "\n";
            return true;
        }
        while (chunk.empty()) {
            if (!pieces_) {
                if (!openNextMesh(chunk)) return !chunk.empty();
                continue;
            }
            if (!inFaces_) {
                if (pieces_->nextPositions(positions_)) {
                    appendVertices(chunk);
                    continue;
                }
                inFaces_ = true;
            }
            if (pieces_->nextTriangles(triangles_)) {
                appendFaces(chunk);
                continue;
            }
            // The mesh is done: later meshes' indices start past its vertices.
            base_ += meshVertices_;
            pieces_.reset();
        }
        return true;
    }

private:
    // Starts the next written mesh with its "o" line; false when none is left.
    bool openNextMesh(std::string& chunk) {
        while (at_ < plan_.meshes.size()) {
            const PlannedMesh& mesh = plan_.meshes[at_++];
            if (mesh.skip != MeshSkip::none) continue;
            chunk += "o mesh" + std::to_string(mesh.number) + "\n";
            pieces_.emplace(mesh, info_.up, kPieceItems);
            meshVertices_ = mesh.vertices.size() / kVertexBytes;
            inFaces_ = false;
            return true;
        }
        return false;
    }

    // Formats the lines of `count` items with `lines`, in two halves on two
    // threads where the piece is long and there is a helper.
    template <typename Lines>
    void appendSplit(std::string& chunk, std::size_t count, Lines lines) {
        if (!helper_ || count < kSplitLines) {
            lines(chunk, 0, count);
            return;
        }
        helper_->appendInHalves(chunk, count, lines);
    }

    void appendVertices(std::string& chunk) {
        appendSplit(chunk, positions_.size(), [this](std::string& out, std::size_t from, std::size_t to) {
            vertexLines(out, from, to);
        });
    }

    void appendFaces(std::string& chunk) {
        appendSplit(chunk, triangles_.size(), [this](std::string& out, std::size_t from, std::size_t to) {
            faceLines(out, from, to);
        });
    }

    void vertexLines(std::string& chunk, std::size_t from, std::size_t to) const {
        const std::size_t start = chunk.size();
        chunk.resize(start + (to - from) * kMaxVertexLine);
        char* out = chunk.data() + start;
        for (std::size_t i = from; i < to; ++i) {
            const Position& position = positions_[i];
            *out++ = 'v';
            for (const float value : position) {
                *out++ = ' ';
                out = writeNumber(out, value);
            }
            *out++ = '\n';
        }
        chunk.resize(static_cast<std::size_t>(out - chunk.data()));
    }

    void faceLines(std::string& chunk, std::size_t from, std::size_t to) const {
        const std::size_t start = chunk.size();
        chunk.resize(start + (to - from) * kMaxFaceLine);
        char* out = chunk.data() + start;
        for (std::size_t i = from; i < to; ++i) {
            const Triangle& triangle = triangles_[i];
            *out++ = 'f';
            for (const std::uint32_t index : triangle) {
                *out++ = ' ';
                out = writeIndex(out, base_ + index + 1);
            }
            *out++ = '\n';
        }
        chunk.resize(static_cast<std::size_t>(out - chunk.data()));
    }

    const MeshPlan& plan_;
    const LevelInfo& info_;
    bool started_ = false;
    std::size_t at_ = 0;
    std::optional<MeshPieces> pieces_;
    bool inFaces_ = false;
    std::uint64_t base_ = 0;
    std::uint64_t meshVertices_ = 0;
    std::vector<Position> positions_;
    std::vector<Triangle> triangles_;
    std::optional<HelperThread> helper_;
};

}  // namespace

std::unique_ptr<ByteSource> levelObjSource(const MeshPlan& plan, const LevelInfo& info) {
    return std::make_unique<LevelObjText>(plan, info);
}

}  // namespace v2bsp
