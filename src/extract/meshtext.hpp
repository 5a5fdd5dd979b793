// The text of one mesh file, produced in pieces, on two threads where that helps.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "writers/outputfiles.hpp"
#include "mapimage/mapimage.hpp"

namespace v2bsp {

// Formats long runs of vertex or face groups on two threads: the calling
// thread takes the first half of the groups, a helper thread the second, and
// the text is joined in order. The result is exactly that of one thread.
class LineFormatter {
public:
    // `threads` 1 formats everything on the calling thread; 2 starts a helper.
    explicit LineFormatter(unsigned threads);
    ~LineFormatter();
    LineFormatter(const LineFormatter&) = delete;
    LineFormatter& operator=(const LineFormatter&) = delete;

    void appendvertices(std::string& out, ByteView section);
    void appendfaces(std::string& out, ByteView section);

private:
    enum class Job { none, vertices, faces, quit };
    void append(std::string& out, ByteView section, std::size_t group, Job job);
    void helperLoop();

    std::thread helper_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    Job job_ = Job::none;
    ByteView section_;
    std::string helper_text_;
    bool helper_failed_ = false;
};

// One mesh file's text: vertex lines, CR LF CR LF, face lines, CR LF, in
// pieces of a bounded size, so a mesh of any size is written without being
// held whole in memory.
class MeshFileText final : public TextSource {
public:
    MeshFileText(ByteView vertexsection, ByteView facesection, LineFormatter& formatter);
    bool next(std::string& chunk) override;

private:
    ByteView vertices_;
    ByteView faces_;
    LineFormatter& formatter_;
    enum class Stage { vertices, faces, finished } stage_ = Stage::vertices;
};

}  // namespace v2bsp
