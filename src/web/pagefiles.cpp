#include "web/pagefiles.hpp"

#include <array>

#include "platform/utf8path.hpp"

namespace v2bsp::web {
namespace {

// The browser's reasons, as texts of an error category: the core says
// "Could not write <path>: " followed by the code's message.
class BrowserReasons final : public std::error_category {
public:
    const char* name() const noexcept override { return "browser"; }
    std::string message(int reason) const override {
        if (reason < 1 || static_cast<std::size_t>(reason) > texts_.size()) return "Unknown browser failure";
        return texts_[static_cast<std::size_t>(reason) - 1];
    }
    int add(const std::string& text) {
        texts_.push_back(text);
        return static_cast<int>(texts_.size());
    }
    void clear() { texts_.clear(); }

private:
    std::vector<std::string> texts_;
};

BrowserReasons& browserReasons() {
    static BrowserReasons reasons;
    return reasons;
}

}  // namespace

std::string pagePath(const std::filesystem::path& parent, const std::filesystem::path& path) {
    const std::filesystem::path relative = path.lexically_relative(parent);
    const bool inside = !relative.empty() && *relative.begin() != "..";
    return utf8Text((inside ? relative : path).generic_string());
}

namespace {

// Eight tables, so that eight bytes are taken a step (slicing by eight).
constexpr std::array<std::array<std::uint32_t, 256>, 8> kCrcTables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n) {
        for (int t = 1; t < 8; ++t) tables[t][n] = (tables[t - 1][n] >> 8) ^ tables[0][tables[t - 1][n] & 0xFF];
    }
    return tables;
}();

}  // namespace

std::uint32_t crc32(std::uint32_t crc, std::string_view bytes) {
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    crc = ~crc;
    for (; left >= 8; left -= 8, at += 8) {
        const std::uint32_t low = crc ^ (std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 |
                                         std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24);
        crc = kCrcTables[7][low & 0xFF] ^ kCrcTables[6][(low >> 8) & 0xFF] ^ kCrcTables[5][(low >> 16) & 0xFF] ^
              kCrcTables[4][low >> 24] ^ kCrcTables[3][at[4]] ^ kCrcTables[2][at[5]] ^ kCrcTables[1][at[6]] ^
              kCrcTables[0][at[7]];
    }
    for (; left > 0; --left, ++at) crc = kCrcTables[0][(crc ^ *at) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::error_code PostingFiles::createFolder(const std::filesystem::path& folder) {
    sink_.folderMade(pagePath(parent_, folder));
    return {};
}

std::error_code PostingFiles::replaceFile(const std::filesystem::path& file, ByteSource& source) {
    sink_.fileBegun(pagePath(parent_, file));
    std::string_view piece;
    while (source.nextPiece(piece)) {
        if (!piece.empty()) sink_.filePiece(piece);
    }
    sink_.fileEnded();
    return {};
}

void PageOutcomes::made(const std::string& path) {
    outcomes_[path] = {Kind::made, 0};
}

void PageOutcomes::existsAsFile(const std::string& path) {
    outcomes_[path] = {Kind::existsAsFile, 0};
}

void PageOutcomes::failed(const std::string& path, const std::string& reason) {
    outcomes_[path] = {Kind::failed, browserReasons().add(reason)};
}

void PageOutcomes::listed(const std::string& path, std::vector<std::string> names) {
    listings_[path] = std::move(names);
}

void PageOutcomes::clear() {
    outcomes_.clear();
    listings_.clear();
    browserReasons().clear();
}

// A path the page has no outcome for was never handed to it: the two runs
// went different ways, and nothing is claimed to be written.
std::error_code PageOutcomes::outcome(const std::string& path) const {
    const auto found = outcomes_.find(path);
    if (found == outcomes_.end()) {
        return {browserReasons().add("The page was never handed " + path), browserReasons()};
    }
    switch (found->second.kind) {
        case Kind::made:
            return {};
        case Kind::existsAsFile:
            return std::make_error_code(std::errc::file_exists);
        case Kind::failed:
            break;
    }
    return {found->second.reason, browserReasons()};
}

std::vector<std::string> PageOutcomes::names(const std::string& path) const {
    const auto found = listings_.find(path);
    return found == listings_.end() ? std::vector<std::string>{} : found->second;
}

std::error_code AnsweringFiles::createFolder(const std::filesystem::path& folder) {
    return outcomes_.outcome(pagePath(parent_, folder));
}

std::error_code AnsweringFiles::replaceFile(const std::filesystem::path& file, ByteSource&) {
    return outcomes_.outcome(pagePath(parent_, file));
}

std::vector<std::string> AnsweringFiles::fileNames(const std::filesystem::path& folder) {
    return outcomes_.names(pagePath(parent_, folder));
}

}  // namespace v2bsp::web
