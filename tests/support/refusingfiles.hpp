// Output files that refuse some folders, as a read-only or foreign-owned
// folder would for a user who is not root; the rest is the real disk.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

#include "platform/diskfiles.hpp"

namespace v2bsp::fixtures {

// The real file system, except that folders under `refused` fail with EACCES,
// as a read-only or foreign-owned folder would for a user who is not root.
// `afterwrite` runs after every file written.
class RefusingFiles final : public OutputFiles {
public:
    std::vector<std::filesystem::path> refused;
    std::function<void(int)> afterwrite;
    int written = 0;

    std::error_code createFolder(const std::filesystem::path& folder) override {
        if (isRefused(folder)) return std::make_error_code(std::errc::permission_denied);
        return makeDiskFiles()->createFolder(folder);
    }
    using OutputFiles::replaceFile;
    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& text) override {
        if (isRefused(file)) return std::make_error_code(std::errc::permission_denied);
        const std::error_code failure = makeDiskFiles()->replaceFile(file, text);
        if (!failure && afterwrite) afterwrite(++written);
        return failure;
    }

private:
    bool isRefused(const std::filesystem::path& path) const {
        for (const std::filesystem::path& root : refused) {
            const auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
            if (r == root.end()) return true;
        }
        return false;
    }
};

}  // namespace v2bsp::fixtures
