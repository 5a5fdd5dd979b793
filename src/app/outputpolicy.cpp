#include "app/outputpolicy.hpp"

#include <algorithm>
#include <system_error>
#include <thread>

#include "platform/utf8path.hpp"

namespace v2bsp::app {
namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The parts of `path` after "." and ".." are resolved by the names, as UTF-8
// text; a trailing separator adds no part.
std::vector<std::string> partsOf(const std::filesystem::path& path, bool ignoreCase) {
    std::vector<std::string> parts;
    for (const std::filesystem::path& part : path.lexically_normal()) {
        std::string text = utf8Text(part);
        if (text.empty()) continue;
        if (ignoreCase) std::transform(text.begin(), text.end(), text.begin(), lowerAscii);
        parts.push_back(std::move(text));
    }
    return parts;
}

}  // namespace

SystemFolders posixSystemFolders() {
    return {{"/usr", "/bin", "/sbin", "/opt", "/lib"}, false};
}

bool isSystemFolder(const std::filesystem::path& folder, const SystemFolders& system) {
    const std::vector<std::string> parts = partsOf(folder, system.ignoreCase);
    return std::any_of(system.folders.begin(), system.folders.end(), [&](const std::filesystem::path& root) {
        const std::vector<std::string> rootParts = partsOf(root, system.ignoreCase);
        return !rootParts.empty() && rootParts.size() <= parts.size() &&
               std::equal(rootParts.begin(), rootParts.end(), parts.begin());
    });
}

ExtractSettings windowRunSettings(const std::filesystem::path& programFolder, const std::filesystem::path& map,
                                  const SystemFolders& system, OutputFiles* files) {
    ExtractSettings settings;
    settings.outputParent = programFolder;
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(map, ignored);
    settings.fallbackParent = (absolute.empty() ? map : absolute).parent_path();
    settings.outputParentSystem = isSystemFolder(programFolder, system);
    settings.files = files;
    // The real disk takes files from several threads; a seam may not.
    if (files == nullptr) settings.jobs = std::max(1u, std::thread::hardware_concurrency());
    return settings;
}

}  // namespace v2bsp::app
