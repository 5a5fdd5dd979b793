#include <charconv>
#include <memory>
#include <optional>

#include "writers/helperthread.hpp"
#include "writers/writers.hpp"

namespace v2bsp {
namespace {

// The groups one thread formats at a time: about two megabytes of text.
// Runs of this size hand over to the helper a few dozen times for a level of
// millions of vertices, however many meshes hold them.
constexpr std::size_t kRunGroups = 32768;
// "v" and three of " " plus the longest shortest single ("-1.1754944e-38").
constexpr std::size_t kMaxVertexLine = 1 + 3 * 16 + 1;
// "f" and three of " " plus an index of the whole file (at most 20 digits).
constexpr std::size_t kMaxFaceLine = 1 + 3 * 21 + 1;
// "o mesh", a mesh number and LF.
constexpr std::size_t kMaxObjectLine = 6 + 20 + 1;

// One part of the file's text: a mesh's "o" line, a run of its vertex
// groups, or a run of its face groups.
struct Segment {
    enum class Kind { object, vertices, faces } kind;
    std::int64_t number = 0;        // the mesh's
    ByteView groups;                // whole groups of the part
    std::uint64_t vertexcount = 0;  // the mesh's: faces naming more are left out
    std::uint64_t base = 0;         // the vertices of the file before the mesh's
};

// A run of segments that one thread formats, and the most bytes its text takes.
struct Run {
    std::vector<Segment> segments;
    std::size_t bound = 0;
};

// Walks the plan's written meshes in order, handing out runs of at most
// kRunGroups groups (an "o" line counts as one).
class Cursor {
public:
    explicit Cursor(const MeshPlan& plan) : plan_(plan) {}

    // Replaces `run` by the next run of at most `groups` groups; false when
    // the text is done.
    bool take(Run& run, std::size_t groups) {
        run.segments.clear();
        run.bound = 0;
        std::size_t room = groups;
        while (room > 0 && mesh_ < plan_.meshes.size()) {
            const PlannedMesh& mesh = plan_.meshes[mesh_];
            if (mesh.skip != MeshSkip::none) {
                ++mesh_;
                continue;
            }
            const ByteView vertices = wholeGroups(mesh.vertices, kVertexBytes);
            const std::uint64_t vertexcount = vertices.size() / kVertexBytes;
            switch (stage_) {
                case Stage::object:
                    run.segments.push_back({Segment::Kind::object, mesh.number, {}, vertexcount, base_});
                    run.bound += kMaxObjectLine;
                    --room;
                    stage_ = Stage::vertices;
                    offset_ = 0;
                    break;
                case Stage::vertices:
                    room -= part(run, Segment::Kind::vertices, mesh, vertices, kVertexBytes, kMaxVertexLine, room,
                                 vertexcount);
                    if (offset_ == vertices.size()) {
                        stage_ = Stage::faces;
                        offset_ = 0;
                    }
                    break;
                case Stage::faces: {
                    const ByteView faces = wholeGroups(mesh.faces, kFaceBytes);
                    room -= part(run, Segment::Kind::faces, mesh, faces, kFaceBytes, kMaxFaceLine, room, vertexcount);
                    if (offset_ == faces.size()) {
                        // Later meshes' indices start past this mesh's vertices.
                        base_ += vertexcount;
                        stage_ = Stage::object;
                        ++mesh_;
                    }
                    break;
                }
            }
        }
        return !run.segments.empty();
    }

private:
    enum class Stage { object, vertices, faces };

    // Adds what fits of the rest of `groups` to `run`; the groups it took.
    std::size_t part(Run& run, Segment::Kind kind, const PlannedMesh& mesh, ByteView groups, std::size_t group,
                     std::size_t max_line, std::size_t room, std::uint64_t vertexcount) {
        const std::size_t take = std::min(room, (groups.size() - offset_) / group);
        if (take > 0) {
            run.segments.push_back({kind, mesh.number, groups.subspan(offset_, take * group), vertexcount, base_});
            run.bound += take * max_line;
            offset_ += take * group;
        }
        return take;
    }

    const MeshPlan& plan_;
    std::size_t mesh_ = 0;
    Stage stage_ = Stage::object;
    std::size_t offset_ = 0;  // into the current part's groups
    std::uint64_t base_ = 0;
};

// The text of one run, made in a buffer that is reused and never zeroed.
class RunText {
public:
    std::string_view view() const { return {data_.get(), size_}; }

    void format(const Run& run, UpAxis up) {
        if (capacity_ < run.bound) {
            data_ = std::make_unique_for_overwrite<char[]>(run.bound);
            capacity_ = run.bound;
        }
        char* out = data_.get();
        for (const Segment& segment : run.segments) {
            switch (segment.kind) {
                case Segment::Kind::object:
                    out = writeText(out, "o mesh");
                    out = std::to_chars(out, out + 20, segment.number).ptr;
                    *out++ = '\n';
                    break;
                case Segment::Kind::vertices:
                    positions_.clear();
                    appendPositions(segment.groups, up, positions_);
                    for (const Position& position : positions_) {
                        *out++ = 'v';
                        for (const float value : position) {
                            *out++ = ' ';
                            out = std::to_chars(out, out + 16, value).ptr;
                        }
                        *out++ = '\n';
                    }
                    break;
                case Segment::Kind::faces:
                    triangles_.clear();
                    appendTriangles(segment.groups, segment.vertexcount, triangles_);
                    for (const Triangle& triangle : triangles_) {
                        *out++ = 'f';
                        for (const std::uint32_t index : triangle) {
                            *out++ = ' ';
                            out = std::to_chars(out, out + 20, segment.base + index + 1).ptr;
                        }
                        *out++ = '\n';
                    }
                    break;
            }
        }
        size_ = static_cast<std::size_t>(out - data_.get());
    }

private:
    static char* writeText(char* out, std::string_view text) {
        for (const char c : text) *out++ = c;
        return out;
    }

    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    std::vector<Position> positions_;
    std::vector<Triangle> triangles_;
};

// Runs go out in order A1 B1 A2 B2 ...: this thread formats each A, and where
// there is a helper it formats each B, starting on it as soon as the B before
// has gone out, so that it keeps formatting while this thread writes.
class LevelObjText final : public ByteSource {
public:
    LevelObjText(const MeshPlan& plan, const LevelInfo& info) : cursor_(plan), up_(info.up) {
        header_ =
            "# " + levelGenerator() + ": " + std::to_string(plan.writtenCount()) + " meshes of " + info.folder + "\n";
        if (info.threads > 1) helper_.emplace();
    }

    bool nextPiece(std::string_view& piece) override {
        if (!started_) {
            started_ = true;
            piece = header_;
            nextA_ = cursor_.take(runA_, aGroups());
            if (helper_ && nextA_) startB();
            return true;
        }
        if (giveB_) {
            // The B after this A is done: the next pair can begin.
            giveB_ = false;
            busyB_ = false;
            helper_->wait();
            const int done = slot_;
            slot_ ^= 1;
            nextA_ = cursor_.take(runA_, aGroups());
            if (nextA_) startB();
            piece = textB_[done].view();
            return true;
        }
        if (!nextA_) return false;
        textA_.format(runA_, up_);
        giveB_ = helper_ && busyB_;
        if (!giveB_) nextA_ = cursor_.take(runA_, aGroups());
        piece = textA_.view();
        return true;
    }

private:
    // This thread writes every piece besides formatting its own runs, so
    // where there is a helper its runs are shorter by about what the writes
    // take (on tmpfs the write of a run costs about a tenth of its formatting;
    // 7/8 measured best among 4/8 to 8/8).
    std::size_t aGroups() const { return helper_ ? kRunGroups * 7 / 8 : kRunGroups; }

    // Takes the B after the current A and sets the helper on it.
    void startB() {
        busyB_ = cursor_.take(runB_[slot_], kRunGroups);
        if (!busyB_) return;
        helper_->start([this, slot = slot_] { textB_[slot].format(runB_[slot], up_); });
    }

    Cursor cursor_;
    UpAxis up_;
    std::string header_;
    bool started_ = false;
    Run runA_;
    RunText textA_;
    bool nextA_ = false;  // runA_ holds a run not yet formatted
    Run runB_[2];
    RunText textB_[2];  // the B being formatted, and the one going out
    int slot_ = 0;      // of the B being formatted
    bool busyB_ = false;
    bool giveB_ = false;                  // the B of the A that went out is next
    std::optional<HelperThread> helper_;  // last: its end waits for a B it formats
};

}  // namespace

std::unique_ptr<ByteSource> levelObjSource(const MeshPlan& plan, const LevelInfo& info) {
    return std::make_unique<LevelObjText>(plan, info);
}

}  // namespace v2bsp
