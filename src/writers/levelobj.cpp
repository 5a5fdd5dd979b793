#include <charconv>
#include <memory>
#include <vector>

#include "mapimage/portable.hpp"
#include "mapimage/shortestsingle.hpp"
#include "writers/writers.hpp"

namespace v2bsp {
namespace {

// The groups one thread formats at a time: about half a megabyte of text.
// Runs of this size change hands a few hundred times for a level of millions
// of vertices, however many meshes hold them.
constexpr std::size_t kRunGroups = 16384;
// "v" and three of " " plus the longest shortest single ("-1.1754944e-38").
constexpr std::size_t kMaxVertexLine = 1 + 3 * kShortestSingleMax + 1;
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
    std::uint64_t vertexCount = 0;  // the mesh's: faces naming more are left out
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
            const std::uint64_t vertexCount = vertices.size() / kVertexBytes;
            switch (stage_) {
                case Stage::object:
                    run.segments.push_back({Segment::Kind::object, mesh.number, {}, vertexCount, base_});
                    run.bound += kMaxObjectLine;
                    --room;
                    stage_ = Stage::vertices;
                    offset_ = 0;
                    break;
                case Stage::vertices:
                    room -= part(run, Segment::Kind::vertices, mesh, vertices, kVertexBytes, kMaxVertexLine, room,
                                 vertexCount);
                    if (offset_ == vertices.size()) {
                        stage_ = Stage::faces;
                        offset_ = 0;
                    }
                    break;
                case Stage::faces: {
                    const ByteView faces = wholeGroups(mesh.faces, kFaceBytes);
                    room -= part(run, Segment::Kind::faces, mesh, faces, kFaceBytes, kMaxFaceLine, room, vertexCount);
                    if (offset_ == faces.size()) {
                        // Later meshes' indices start past this mesh's vertices.
                        base_ += vertexCount;
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
                     std::size_t maxLine, std::size_t room, std::uint64_t vertexCount) {
        const std::size_t take = std::min(room, (groups.size() - offset_) / group);
        if (take > 0) {
            run.segments.push_back({kind, mesh.number, groups.subspan(offset_, take * group), vertexCount, base_});
            run.bound += take * maxLine;
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
            data_ = makeUninitialisedArray<char>(run.bound);
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
                            out = shortestSingle(out, value);
                        }
                        *out++ = '\n';
                    }
                    break;
                case Segment::Kind::faces:
                    triangles_.clear();
                    appendTriangles(segment.groups, segment.vertexCount, triangles_);
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

// The runs of the text go out in order. Each run is posted to the pool as
// soon as a slot is free for its text, at most kSlots ahead of the one going
// out, and the helpers format them oldest first; this thread writes them and,
// rather than wait for a helper, formats the next run nobody has taken, or
// its own when nobody has. So the threads share the work in whatever
// proportion the writes leave, and which thread formats a run changes
// nothing in its bytes.
class LevelObjText final : public ByteSource {
public:
    LevelObjText(const MeshPlan& plan, const LevelInfo& info) : up_(info.up), pool_(info.pool) {
        header_ =
            "# " + levelGenerator() + ": " + std::to_string(plan.writtenCount()) + " meshes of " + info.folder + "\n";
        Cursor cursor(plan);
        for (Run run; cursor.take(run, kRunGroups);) runs_.push_back(std::move(run));
        if (pool_ != nullptr && pool_->helpers() > 0) {
            while (posted_ < runs_.size() && posted_ < kSlots) post(posted_++);
        }
    }

    ~LevelObjText() override {
        for (Slot& slot : slots_) {
            if (pool_ != nullptr) pool_->cancel(slot.task);
        }
    }

    bool nextPiece(std::string_view& piece) override {
        if (!started_) {
            started_ = true;
            piece = header_;
            return true;
        }
        if (out_ == runs_.size()) return false;
        if (out_ > 0 && posted_ > 0 && posted_ < runs_.size()) post(posted_++);  // the slot of the run written last is free
        Slot& own = slots_[out_ % kSlots];
        if (out_ < posted_) {
            pool_->waitHelping(own.task, posted_ - out_ - 1,
                               [this](std::size_t later) -> PoolTask& { return slots_[(out_ + 1 + later) % kSlots].task; });
        } else {
            own.text.format(runs_[out_], up_);
        }
        piece = own.text.view();
        ++out_;
        return true;
    }

private:
    struct Slot {
        RunText text;
        std::size_t run = 0;
        PoolTask task;
    };

    void post(std::size_t run) {
        Slot& slot = slots_[run % kSlots];
        slot.run = run;
        pool_->post(slot.task, [this, &slot] { slot.text.format(runs_[slot.run], up_); });
    }

    static constexpr std::size_t kSlots = 4;

    UpAxis up_;
    WorkerPool* pool_;
    std::string header_;
    bool started_ = false;
    std::vector<Run> runs_;
    std::size_t posted_ = 0;  // the runs posted to the pool, from the first
    std::size_t out_ = 0;     // the next run to go out
    Slot slots_[kSlots];      // last: their tasks end before what they format
};

}  // namespace

std::unique_ptr<ByteSource> levelObjSource(const MeshPlan& plan, const LevelInfo& info) {
    return std::make_unique<LevelObjText>(plan, info);
}

}  // namespace v2bsp
