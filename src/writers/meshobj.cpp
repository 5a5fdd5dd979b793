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
// Pieces of about two megabytes of text.
constexpr std::size_t kVerticesPerPiece = 32768;
constexpr std::size_t kFacesPerPiece = 65536;

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
void appendLines(std::string& out, std::size_t groups, std::size_t max_line, WriteLine write_line) {
    const std::size_t start = out.size();
    out.resize(start + groups * max_line);
    char* const begin = out.data() + start;
    char* cursor = begin;
    for (std::size_t i = 0; i < groups; ++i) cursor = write_line(cursor, i);
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

MeshObjFormatter::MeshObjFormatter(unsigned threads) {
    if (threads > 1) helper_.emplace();
}

void MeshObjFormatter::appendVertices(std::string& out, ByteView section) {
    const std::size_t groups = section.size() / kVertexBytes;
    if (!helper_ || groups < kSplitGroups) return appendVertexLines(out, section);
    helper_->appendInHalves(out, groups, [section](std::string& text, std::size_t from, std::size_t to) {
        appendVertexLines(text, section.subspan(from * kVertexBytes, (to - from) * kVertexBytes));
    });
}

void MeshObjFormatter::appendFaces(std::string& out, ByteView section) {
    const std::size_t groups = section.size() / kFaceBytes;
    if (!helper_ || groups < kSplitGroups) return appendFaceLines(out, section);
    helper_->appendInHalves(out, groups, [section](std::string& text, std::size_t from, std::size_t to) {
        appendFaceLines(text, section.subspan(from * kFaceBytes, (to - from) * kFaceBytes));
    });
}

MeshObjSource::MeshObjSource(const PlannedMesh& mesh, MeshObjFormatter& formatter)
    // Partial trailing groups write nothing, so they are dropped here once.
    : vertices_(wholeGroups(mesh.vertices, kVertexBytes)),
      faces_(wholeGroups(mesh.faces, kFaceBytes)),
      formatter_(formatter) {}

bool MeshObjSource::fill(std::string& chunk) {
    chunk.clear();
    switch (stage_) {
        case Stage::vertices: {
            const std::size_t take = std::min(vertices_.size(), kVerticesPerPiece * kVertexBytes);
            formatter_.appendVertices(chunk, vertices_.first(take));
            vertices_ = vertices_.subspan(take);
            if (vertices_.empty()) {
                chunk += "\r\n\r\n";
                stage_ = Stage::faces;
            }
            return true;
        }
        case Stage::faces: {
            const std::size_t take = std::min(faces_.size(), kFacesPerPiece * kFaceBytes);
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

MeshObjWriters::MeshObjWriters(const MeshPlan& plan, unsigned jobs, OutputFiles& files, std::filesystem::path folder)
    : plan_(plan),
      files_(files),
      folder_(std::move(folder)),
      // One thread needs no slots: it writes each mesh when it comes to it.
      slots_(jobs > 1 ? std::make_unique<Slot[]>(plan.meshes.size()) : nullptr),
      ahead_(kAheadPerJob * std::max(1u, jobs)),
      // The caller splits long sections with a thread of its own where there are cores for it.
      formatter_(std::min(2u, std::max(1u, jobs))) {
    for (unsigned helper = 1; helper < jobs && helper < plan.meshes.size(); ++helper) {
        helpers_.emplace_back([this] { helperLoop(); });
    }
}

MeshObjWriters::~MeshObjWriters() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
}

std::string MeshObjWriters::filename(std::int64_t number) {
    return "mesh" + std::to_string(number) + ".obj";
}

std::error_code MeshObjWriters::write(std::size_t index, MeshObjFormatter& formatter) {
    return guardedWrite([&] {
        const PlannedMesh& mesh = plan_.meshes[index];
        MeshObjSource source(mesh, formatter);
        std::error_code failure = files_.createFolder(folder_);
        if (!failure) failure = files_.replaceFile(folder_ / filename(mesh.number), source);
        return failure;
    });
}

void MeshObjWriters::finish(std::size_t index, std::error_code failure) {
    {
        std::lock_guard lock(mutex_);
        slots_[index].failure = failure;
        slots_[index].state.store(done);
    }
    changed_.notify_all();
}

void MeshObjWriters::helperLoop() {
    MeshObjFormatter formatter(1);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock,
                      [this] { return stopping_ || (cursor_ < plan_.meshes.size() && cursor_ < position_ + ahead_); });
        if (stopping_) return;
        const std::size_t index = cursor_++;
        if (plan_.meshes[index].skip != MeshSkip::none) continue;
        int expected = waiting;
        if (!slots_[index].state.compare_exchange_strong(expected, taken)) continue;
        lock.unlock();
        finish(index, write(index, formatter));
        lock.lock();
    }
}

std::error_code MeshObjWriters::take(std::size_t index) {
    if (!slots_) return write(index, formatter_);
    {
        std::lock_guard lock(mutex_);
        position_ = index;
    }
    changed_.notify_all();
    int expected = waiting;
    if (slots_[index].state.compare_exchange_strong(expected, taken)) return write(index, formatter_);
    // A helper has this mesh: write a later one meanwhile rather than wait.
    const std::size_t end = std::min(plan_.meshes.size(), index + ahead_);
    for (std::size_t later = index + 1; later < end && slots_[index].state.load() != done; ++later) {
        if (plan_.meshes[later].skip != MeshSkip::none) continue;
        expected = waiting;
        if (slots_[later].state.compare_exchange_strong(expected, taken)) finish(later, write(later, formatter_));
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return slots_[index].state.load() == done; });
    return slots_[index].failure;
}

}  // namespace v2bsp
