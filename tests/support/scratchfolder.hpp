// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/utf8path.hpp"

namespace v2bsp {

class ScratchFolder {
public:
    ScratchFolder() {
        static std::atomic<int> counter{0};
        // Wine reuses small process ids from run to run, and a folder a run
        // could not remove may still be there: a random part keeps names apart.
        static const std::string run = std::to_string(std::random_device{}());
        path_ = std::filesystem::temp_directory_path() /
                ("v2bsp-test-" + std::to_string(::getpid()) + "-" + run + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        // Folders a test made read-only must be writable again to be removed.
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names in `folder`, as UTF-8, sorted; empty when it does not exist.
inline std::vector<std::string> listing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        names.push_back(utf8Text(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace v2bsp
