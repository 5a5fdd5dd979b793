// The page's output: a run in the worker cannot wait for the browser's file
// writes (they answer with promises), so an extraction goes twice.
//
// The first run writes through PostingFiles: every folder it makes and every
// file it writes goes to the page (the page's OutputSink), which carries them
// out in the folder the user picked, or into a zip, and notes each one's
// outcome, and what was in the map's folder before anything was written into
// it. The second run, the one the user sees, writes through AnsweringFiles:
// the same calls come in the same order and get the outcomes the page noted,
// so the log's lines, the refusals and the counts are the core's own for
// what really happened in the browser.
//
// Paths reach the page relative to the run's output parent, "/" apart, UTF-8:
// "<map folder>", "<map folder>/mesh<N>.obj", "<map folder>.glb".
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/outputfiles.hpp"

namespace v2bsp::web {

// The CRC-32 of a zip's entries, `crc` (0 at first) taken on over `bytes`.
std::uint32_t crc32(std::uint32_t crc, std::string_view bytes);

// Where PostingFiles hands the run's output.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual void folderMade(const std::string& path) = 0;
    // A file in pieces, in order: begun, its pieces, ended.
    virtual void fileBegun(const std::string& path) = 0;
    virtual void filePiece(std::string_view bytes) = 0;
    virtual void fileEnded() = 0;
};

// `path` relative to `parent`, "/" apart; `path` itself when it lies elsewhere.
std::string pagePath(const std::filesystem::path& parent, const std::filesystem::path& path);

class PostingFiles final : public OutputFiles {
public:
    PostingFiles(std::filesystem::path parent, OutputSink& sink) : parent_(std::move(parent)), sink_(sink) {}
    std::error_code createFolder(const std::filesystem::path& folder) override;
    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& source) override;
    using OutputFiles::replaceFile;

private:
    std::filesystem::path parent_;
    OutputSink& sink_;
};

// What the page did with the first run's output.
class PageOutcomes {
public:
    // The folder or file at `path` was made, or was there already as a file
    // where a folder was asked for (the core's "File exists"), or failed for
    // the browser's `reason`.
    void made(const std::string& path);
    void existsAsFile(const std::string& path);
    void failed(const std::string& path, const std::string& reason);
    // The names of the files the folder at `path` held before the run wrote.
    void listed(const std::string& path, std::vector<std::string> names);
    void clear();

    std::error_code outcome(const std::string& path) const;
    std::vector<std::string> names(const std::string& path) const;

private:
    enum class Kind { made, existsAsFile, failed };
    struct Outcome {
        Kind kind = Kind::made;
        int reason = 0;  // in the reasons' category, for a failure
    };
    std::map<std::string, Outcome> outcomes_;
    std::map<std::string, std::vector<std::string>> listings_;
};

class AnsweringFiles final : public OutputFiles {
public:
    AnsweringFiles(std::filesystem::path parent, const PageOutcomes& outcomes)
        : parent_(std::move(parent)), outcomes_(outcomes) {}
    std::error_code createFolder(const std::filesystem::path& folder) override;
    // The source is not read: its bytes went to the page in the first run.
    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& source) override;
    using OutputFiles::replaceFile;
    std::vector<std::string> fileNames(const std::filesystem::path& folder) override;

private:
    std::filesystem::path parent_;
    const PageOutcomes& outcomes_;
};

}  // namespace v2bsp::web
