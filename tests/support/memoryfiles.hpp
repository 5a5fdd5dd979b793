// Output kept in memory: every folder made and every whole file, by path.
// A path can be made to fail, to stand for a disk that refuses it. Calls may
// come from several threads at once.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>

#include "platform/outputfiles.hpp"

namespace v2bsp::fixtures {

class MemoryFiles final : public OutputFiles {
public:
    std::error_code createFolder(const std::filesystem::path& folder) override {
        std::lock_guard lock(mutex_);
        if (refused.count(folder) != 0) return std::make_error_code(std::errc::permission_denied);
        folders.insert(folder);
        return {};
    }
    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& text) override {
        std::string content, chunk;
        while (text.next(chunk)) content += chunk;
        std::lock_guard lock(mutex_);
        if (refused.count(file) != 0) return std::make_error_code(std::errc::no_space_on_device);
        files[file] = std::move(content);
        return {};
    }
    using OutputFiles::replaceFile;

    std::set<std::filesystem::path> folders;
    std::map<std::filesystem::path, std::string> files;
    std::set<std::filesystem::path> refused;  // set before the run

private:
    std::mutex mutex_;
};

}  // namespace v2bsp::fixtures
