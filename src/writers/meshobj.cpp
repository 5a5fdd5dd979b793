#include "writers/meshobj.hpp"

#include <algorithm>
#include <array>

#include "mapimage/floatdecode.hpp"
#include "mapimage/numtext.hpp"
#include "writers/writers.hpp"

namespace v2bsp {
namespace {

// The longest face line: "f " and three of " 65536 ", then CR LF.
constexpr std::size_t kMaxFaceLine = 2 + 3 * 7 + 2;
constexpr std::size_t kMaxVertexLine = 2 + 3 * (kNumTextMax + 1) + 2;

// Below this many groups the hand-over to the helper costs more than it saves:
// measured on 2 cores, meshes of 2,000 vertices ran slower split than whole,
// while meshes of 62,500 vertices ran about 1.35 times faster split.
constexpr std::size_t kSplitGroups = 8192;
// Pieces of at most about two megabytes of text, of a size where each write
// to the file costs little next to the formatting it follows.
constexpr std::size_t kVerticesPerPiece = 32768;
constexpr std::size_t kFacesPerPiece = 65536;
// What the pieces of all threads may take together, and the fewest groups a
// piece holds however many threads share that. A piece's buffer takes its
// groups' longest lines, and half as much again when it is made in halves.
constexpr std::size_t kPiecesBudget = std::size_t{32} << 20;
constexpr std::size_t kFewestPerPiece = 256;

// How far helpers may run ahead of the caller, in meshes per thread: enough
// to keep them busy past a slow file, few enough to end soon when stopped.
constexpr std::size_t kAheadPerJob = 4;

// The text numtext gives for a whole number from 1 to 65536: a blank and its digits.
char* writeIndex(char* out, std::uint32_t value) {
    std::array<char, 8> digits{};
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    *out++ = ' ';
    while (count > 0) *out++ = digits[--count];
    return out;
}

char* writeFaceLine(char* out, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    *out++ = 'f';
    *out++ = ' ';
    for (const std::uint32_t index : {a, b, c}) {
        out = writeIndex(out, index + 1);
        *out++ = ' ';
    }
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

char* writeVertexLine(char* out, double x, double y, double z) {
    *out++ = 'v';
    for (const double value : {x, y, z}) {
        *out++ = ' ';
        out = numtext(out, value);
    }
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

// Appends through a fixed-size scratch line so that `out` grows once per section.
template <typename WriteLine>
void appendLines(std::string& out, std::size_t groups, std::size_t maxLine, WriteLine writeLine) {
    const std::size_t start = out.size();
    out.resize(start + groups * maxLine);
    char* const begin = out.data() + start;
    char* cursor = begin;
    for (std::size_t i = 0; i < groups; ++i) cursor = writeLine(cursor, i);
    out.resize(start + static_cast<std::size_t>(cursor - begin));
}

}  // namespace

void appendVertexLines(std::string& out, ByteView section) {
    const std::uint8_t* data = section.data();
    appendLines(out, section.size() / kVertexBytes, kMaxVertexLine, [&](char* line, std::size_t i) {
        const std::uint8_t* p = data + i * kVertexBytes;
        return writeVertexLine(line, decodeFloat(loadu32le(p)), decodeFloat(loadu32le(p + 4)),
                               decodeFloat(loadu32le(p + 8)));
    });
}

void appendFaceLines(std::string& out, ByteView section) {
    const std::uint8_t* data = section.data();
    appendLines(out, section.size() / kFaceBytes, kMaxFaceLine, [&](char* line, std::size_t i) {
        const std::uint8_t* p = data + i * kFaceBytes;
        const std::uint32_t a = loadu16le(p);
        const std::uint32_t b = loadu16le(p + 2);
        const std::uint32_t c = loadu16le(p + 4);
        if (a == b || a == c || b == c) return line;
        return writeFaceLine(line, a, b, c);
    });
}

MeshFilePieces MeshFilePieces::forThreads(unsigned threads) {
    const std::size_t share = kPiecesBudget / std::max(1u, threads) * 2 / 3;
    return {std::clamp(share / kMaxVertexLine, kFewestPerPiece, kVerticesPerPiece),
            std::clamp(share / kMaxFaceLine, kFewestPerPiece, kFacesPerPiece)};
}

// Below kSplitGroups, or when no helper is free, the calling thread makes
// every line. Else the second half goes to the pool while this thread makes
// the first; when no helper has taken it by then, this thread makes it too,
// straight into `out`.
template <typename Lines>
void MeshObjFormatter::appendInHalves(std::string& out, std::size_t count, Lines lines) {
    if (pool_ == nullptr || count < kSplitGroups || !pool_->helperFree()) return lines(out, 0, count);
    const std::size_t half = count / 2;
    struct Second {
        Lines* lines;
        std::string* text;
        std::size_t from, to;
    } second{&lines, &second_, half, count};
    second_.clear();
    pool_->post(half_, [&second] { (*second.lines)(*second.text, second.from, second.to); },
                WorkerPool::Order::first);
    try {
        lines(out, 0, half);
    } catch (...) {
        pool_->cancel(half_);  // its job uses this frame
        throw;
    }
    if (pool_->takeBack(half_)) return lines(out, half, count);
    pool_->wait(half_);
    out += second_;
}

void MeshObjFormatter::appendVertices(std::string& out, ByteView section) {
    appendInHalves(out, section.size() / kVertexBytes, [section](std::string& text, std::size_t from, std::size_t to) {
        appendVertexLines(text, section.subspan(from * kVertexBytes, (to - from) * kVertexBytes));
    });
}

void MeshObjFormatter::appendFaces(std::string& out, ByteView section) {
    appendInHalves(out, section.size() / kFaceBytes, [section](std::string& text, std::size_t from, std::size_t to) {
        appendFaceLines(text, section.subspan(from * kFaceBytes, (to - from) * kFaceBytes));
    });
}

MeshObjSource::MeshObjSource(const PlannedMesh& mesh, MeshObjFormatter& formatter, MeshFilePieces pieces)
    // Partial trailing groups write nothing, so they are dropped here once.
    : vertices_(wholeGroups(mesh.vertices, kVertexBytes)),
      faces_(wholeGroups(mesh.faces, kFaceBytes)),
      formatter_(formatter),
      pieces_(pieces) {}

bool MeshObjSource::fill(std::string& chunk) {
    chunk.clear();
    switch (stage_) {
        case Stage::vertices: {
            const std::size_t take = std::min(vertices_.size(), pieces_.vertices * kVertexBytes);
            formatter_.appendVertices(chunk, vertices_.first(take));
            vertices_ = vertices_.subspan(take);
            if (vertices_.empty()) {
                chunk += "\r\n\r\n";
                stage_ = Stage::faces;
            }
            return true;
        }
        case Stage::faces: {
            const std::size_t take = std::min(faces_.size(), pieces_.faces * kFaceBytes);
            formatter_.appendFaces(chunk, faces_.first(take));
            faces_ = faces_.subspan(take);
            if (faces_.empty()) {
                chunk += "\r\n";
                stage_ = Stage::finished;
            }
            return true;
        }
        case Stage::finished:
            break;
    }
    return false;
}

MeshObjWriters::MeshObjWriters(const MeshPlan& plan, WorkerPool* pool, OutputFiles& files,
                               std::filesystem::path folder)
    : plan_(plan),
      pool_(pool != nullptr && pool->helpers() > 0 ? pool : nullptr),
      files_(files),
      folder_(std::move(folder)),
      pieces_(MeshFilePieces::forThreads(pool_ != nullptr ? pool_->helpers() + 1 : 1)),
      aheadCount_(pool_ != nullptr ? kAheadPerJob * (std::size_t{pool_->helpers()} + 1) : 0),
      ahead_(aheadCount_ == 0 ? nullptr : std::make_unique<Ahead[]>(aheadCount_)) {}

MeshObjWriters::~MeshObjWriters() {
    for (std::size_t position = 0; position < posted_; ++position) pool_->cancel(ahead(position).task);
}

std::string MeshObjWriters::filename(std::int64_t number) {
    return "mesh" + std::to_string(number) + ".obj";
}

std::error_code MeshObjWriters::write(std::size_t index) {
    return guardedWrite([&] {
        const PlannedMesh& mesh = plan_.meshes[index];
        MeshObjFormatter formatter(pool_);
        MeshObjSource source(mesh, formatter, pieces_);
        std::error_code failure = files_.createFolder(folder_);
        if (!failure) failure = files_.replaceFile(folder_ / filename(mesh.number), source);
        return failure;
    });
}

// Posts the meshes after the last one posted until the ring is full.
void MeshObjWriters::postAhead() {
    while (posted_ < aheadCount_ && next_ < plan_.meshes.size()) {
        const std::size_t index = next_++;
        if (plan_.meshes[index].skip != MeshSkip::none) continue;
        Ahead& slot = ahead(posted_++);
        slot.index = index;
        slot.failure = {};
        pool_->post(slot.task, [this, &slot] { slot.failure = write(slot.index); });
    }
}

std::error_code MeshObjWriters::take(std::size_t index) {
    if (aheadCount_ == 0) return write(index);
    postAhead();
    // The meshes are posted in the order they are asked for.
    Ahead& own = ahead(0);
    if (posted_ == 0 || own.index != index) return write(index);
    // This mesh here when nobody has taken it; else, while a helper writes
    // it, later ones nobody has begun.
    pool_->waitHelping(own.task, posted_ - 1, [this](std::size_t later) -> PoolTask& { return ahead(later + 1).task; });
    const std::error_code failure = own.failure;
    first_ = (first_ + 1) % aheadCount_;
    --posted_;
    postAhead();
    return failure;
}

}  // namespace v2bsp
