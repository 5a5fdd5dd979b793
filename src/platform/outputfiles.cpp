#include "platform/outputfiles.hpp"

namespace v2bsp {
namespace {

class OutputCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "v2bsp output"; }
    std::string message(int error) const override {
        switch (static_cast<OutputError>(error)) {
            case OutputError::symbolicLink:
                return "It is a symbolic link, which is not followed";
            case OutputError::linkOrJunction:
                return "It is a link or junction, which is not followed";
            case OutputError::inputMap:
                return "It is the map being extracted";
        }
        return "Unknown output error";
    }
};

class WholeText final : public ByteSource {
public:
    explicit WholeText(std::string_view text) : text_(text) {}
    bool nextPiece(std::string_view& piece) override {
        if (done_) return false;
        piece = text_;
        done_ = true;
        return true;
    }

private:
    std::string_view text_;
    bool done_ = false;
};

}  // namespace

bool ByteSource::next(std::string& chunk) {
    std::string_view piece;
    if (!nextPiece(piece)) return false;
    chunk.assign(piece);
    return true;
}

bool BufferedSource::nextPiece(std::string_view& piece) {
    if (!fill(buffer_)) return false;
    piece = buffer_;
    return true;
}

const std::error_category& outputCategory() {
    static const OutputCategory kCategory;
    return kCategory;
}

std::error_code make_error_code(OutputError error) {
    return {static_cast<int>(error), outputCategory()};
}

std::error_code OutputFiles::createPath(const std::filesystem::path& folder) {
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    return failure;
}

bool OutputFiles::isFile(const std::filesystem::path&, const FileIdentity&) {
    return false;
}

FileIdentity OutputFiles::identity(const std::filesystem::path&) {
    return {};
}

std::vector<std::string> OutputFiles::fileNames(const std::filesystem::path&) {
    return {};
}

std::error_code OutputFiles::replaceFile(const std::filesystem::path& file, std::string_view bytes) {
    WholeText whole(bytes);
    return replaceFile(file, whole);
}

}  // namespace v2bsp
