#include <charconv>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "mapimage/shortestsingle.hpp"
#include "writers/helperthread.hpp"
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
                            out = shortestSingle(out, value);
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

// The runs of the text go out in order. A helper thread formats them one
// after another, at most kSlots ahead of the one going out; this thread writes
// them and, rather than wait for the helper, formats the next run nobody has
// taken. So the two share the work in whatever proportion the writes leave,
// and which thread formats a run changes nothing in its bytes.
class LevelObjText final : public ByteSource {
public:
    LevelObjText(const MeshPlan& plan, const LevelInfo& info) : up_(info.up) {
        header_ =
            "# " + levelGenerator() + ": " + std::to_string(plan.writtenCount()) + " meshes of " + info.folder + "\n";
        Cursor cursor(plan);
        for (Run run; cursor.take(run, kRunGroups);) runs_.push_back(std::move(run));
        formatted_.assign(runs_.size(), false);
        if (info.threads > 1 && runs_.size() > 1) {
            helper_.emplace();
            helper_->start([this] { helpFormat(); });
        }
    }

    ~LevelObjText() override {
        if (!helper_) return;
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        try {
            helper_->wait();
        } catch (...) {
            // A failure of the helper has been thrown from nextPiece already,
            // or the text is being abandoned for another reason.
        }
    }

    bool nextPiece(std::string_view& piece) override {
        if (!started_) {
            started_ = true;
            piece = header_;
            return true;
        }
        std::unique_lock lock(mutex_);
        written_ = out_;  // the run handed out last has been written: its slot is free
        changed_.notify_all();
        if (out_ == runs_.size()) return false;
        while (!formatted_[out_]) {
            if (failure_) std::rethrow_exception(failure_);
            if (canTake()) {
                const std::size_t run = next_++;
                lock.unlock();
                slots_[run % kSlots].format(runs_[run], up_);
                lock.lock();
                formatted_[run] = true;
            } else {
                changed_.wait(lock);
            }
        }
        piece = slots_[out_ % kSlots].view();
        ++out_;
        return true;
    }

private:
    // A run may be formatted once the run kSlots before it, which used its
    // slot, has been written.
    bool canTake() const { return next_ < runs_.size() && next_ < written_ + kSlots; }

    // The helper's loop: the next free run, until none is left.
    void helpFormat() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || next_ == runs_.size() || canTake(); });
            if (quit_ || next_ == runs_.size()) return;
            const std::size_t run = next_++;
            lock.unlock();
            try {
                slots_[run % kSlots].format(runs_[run], up_);
            } catch (...) {
                lock.lock();
                failure_ = std::current_exception();
                changed_.notify_all();
                return;
            }
            lock.lock();
            formatted_[run] = true;
            changed_.notify_all();
        }
    }

    static constexpr std::size_t kSlots = 4;

    UpAxis up_;
    std::string header_;
    bool started_ = false;
    std::vector<Run> runs_;
    RunText slots_[kSlots];

    std::mutex mutex_;  // guards what follows
    std::condition_variable changed_;
    std::vector<bool> formatted_;  // of each run, its text is in its slot
    std::size_t next_ = 0;         // the first run nobody has taken
    std::size_t out_ = 0;          // the next run to go out
    std::size_t written_ = 0;      // the runs before it are written
    bool quit_ = false;
    std::exception_ptr failure_;  // the helper's

    std::optional<HelperThread> helper_;  // last: it ends before what it formats
};

}  // namespace

std::unique_ptr<ByteSource> levelObjSource(const MeshPlan& plan, const LevelInfo& info) {
    return std::make_unique<LevelObjText>(plan, info);
}

}  // namespace v2bsp
