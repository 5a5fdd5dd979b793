#include "extract/meshtext.hpp"

#include <algorithm>
#include <exception>
#include <new>

#include "extract/objtext.hpp"

namespace v2bsp {
namespace {

// Below this many groups the hand-over to the helper costs more than it saves:
// measured on 2 cores, meshes of 2,000 vertices ran slower split than whole,
// while meshes of 62,500 vertices ran about 1.35 times faster split.
constexpr std::size_t kSplitGroups = 8192;
// Pieces of about two megabytes of text.
constexpr std::size_t kVerticesPerPiece = 32768;
constexpr std::size_t kFacesPerPiece = 65536;

}  // namespace

LineFormatter::LineFormatter(unsigned threads) {
    if (threads > 1) helper_ = std::thread([this] { helperLoop(); });
}

LineFormatter::~LineFormatter() {
    if (!helper_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        job_ = Job::quit;
    }
    wake_.notify_one();
    helper_.join();
}

void LineFormatter::helperLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return job_ != Job::none; });
        if (job_ == Job::quit) return;
        const Job job = job_;
        const ByteView section = section_;
        lock.unlock();
        bool failed = false;
        try {
            helper_text_.clear();
            if (job == Job::vertices) {
                appendvertexlines(helper_text_, section);
            } else {
                appendfacelines(helper_text_, section);
            }
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        lock.lock();
        helper_failed_ = failed;
        job_ = Job::none;
        done_.notify_one();
    }
}

void LineFormatter::append(std::string& out, ByteView section, std::size_t group, Job job) {
    const std::size_t groups = section.size() / group;
    const auto format_here = [&](ByteView part) {
        if (job == Job::vertices) {
            appendvertexlines(out, part);
        } else {
            appendfacelines(out, part);
        }
    };
    if (!helper_.joinable() || groups < kSplitGroups) {
        format_here(section);
        return;
    }
    const std::size_t split = groups / 2 * group;
    {
        std::lock_guard lock(mutex_);
        section_ = section.subspan(split, (groups - groups / 2) * group);
        job_ = job;
    }
    wake_.notify_one();
    // The helper must be waited for even when this half fails: it reads the section.
    std::exception_ptr failure;
    try {
        format_here(section.first(split));
    } catch (...) {
        failure = std::current_exception();
    }
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return job_ == Job::none; });
    if (failure) std::rethrow_exception(failure);
    if (helper_failed_) throw std::bad_alloc();
    out += helper_text_;
}

void LineFormatter::appendvertices(std::string& out, ByteView section) {
    append(out, section, kVertexBytes, Job::vertices);
}

void LineFormatter::appendfaces(std::string& out, ByteView section) {
    append(out, section, kFaceBytes, Job::faces);
}

MeshFileText::MeshFileText(ByteView vertexsection, ByteView facesection, LineFormatter& formatter)
    // Partial trailing groups write nothing, so they are dropped here once.
    : vertices_(vertexsection.first(vertexsection.size() / kVertexBytes * kVertexBytes)),
      faces_(facesection.first(facesection.size() / kFaceBytes * kFaceBytes)),
      formatter_(formatter) {}

bool MeshFileText::next(std::string& chunk) {
    chunk.clear();
    switch (stage_) {
        case Stage::vertices: {
            const std::size_t take = std::min(vertices_.size(), kVerticesPerPiece * kVertexBytes);
            formatter_.appendvertices(chunk, vertices_.first(take));
            vertices_ = vertices_.subspan(take);
            if (vertices_.empty()) {
                chunk += "\r\n\r\n";
                stage_ = Stage::faces;
            }
            return true;
        }
        case Stage::faces: {
            const std::size_t take = std::min(faces_.size(), kFacesPerPiece * kFaceBytes);
            formatter_.appendfaces(chunk, faces_.first(take));
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

}  // namespace v2bsp
