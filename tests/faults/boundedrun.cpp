// v2bsp-boundedrun [--format LIST] MAP: one whole extraction of MAP in a
// fresh process, whose files (the mesh files, or those of LIST, a
// comma-separated set of meshes, obj and glb) are formatted piece by piece and
// then dropped instead of being written, so that a test can take this
// process's time and peak memory as those of the extraction. Prints one line:
//   outcome=<failed|complete|incomplete|stopped> meshes=<read>/<count> skipped=<n>
//   written=<mesh files> levels=<whole-level files> bytes=<text bytes> lines=<log lines>
//   tags=<names> seconds=<wall time>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "extract/extractmap.hpp"

namespace {

class DroppingFiles final : public v2bsp::OutputFiles {
public:
    std::error_code createFolder(const std::filesystem::path&) override { return {}; }
    std::error_code replaceFile(const std::filesystem::path&, v2bsp::ByteSource& text) override {
        std::string_view piece;
        while (text.nextPiece(piece)) bytes += static_cast<long long>(piece.size());
        return {};
    }
    long long bytes = 0;
};

class CountingHost final : public v2bsp::ExtractHost {
public:
    void logline(std::string_view) override { ++lines; }
    void addTagName(std::string_view) override { ++tags; }
    void mapFailed(const v2bsp::MapFailure& failure) override { reason = failure.reason; }
    long long lines = 0;
    long long tags = 0;
    std::string reason;
};

const char* outcomeName(v2bsp::ExtractStatus status) {
    switch (status) {
        case v2bsp::ExtractStatus::complete:
            return "complete";
        case v2bsp::ExtractStatus::incomplete:
            return "incomplete";
        case v2bsp::ExtractStatus::failed:
            return "failed";
        case v2bsp::ExtractStatus::stopped:
            return "stopped";
    }
    return "unknown";
}

// The formats of a --format list; false for a name it does not know.
bool parseFormats(std::string_view list, v2bsp::OutputFormats& formats) {
    formats = {.meshes = false, .obj = false, .glb = false};
    while (true) {
        const std::string_view name = list.substr(0, list.find(','));
        if (name == "meshes")
            formats.meshes = true;
        else if (name == "obj")
            formats.obj = true;
        else if (name == "glb")
            formats.glb = true;
        else
            return false;
        if (name.size() == list.size()) return true;
        list.remove_prefix(name.size() + 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    v2bsp::ExtractSettings settings;
    const bool listed = argc == 4 && std::string_view(argv[1]) == "--format";
    if (!(argc == 2 || listed) || (listed && !parseFormats(argv[2], settings.formats))) {
        std::fprintf(stderr, "usage: v2bsp-boundedrun [--format meshes,obj,glb] MAP\n");
        return 2;
    }
    DroppingFiles files;
    CountingHost host;
    settings.outputParent = "/nonexistent";
    settings.files = &files;
    const auto start = std::chrono::steady_clock::now();
    const v2bsp::ExtractResult result = v2bsp::extractmap(argv[argc - 1], host, settings);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "outcome=%s meshes=%lld/%lld skipped=%lld written=%lld levels=%zu bytes=%lld lines=%lld "
        "tags=%lld seconds=%.3f\n",
        outcomeName(result.status), static_cast<long long>(result.meshesRead), static_cast<long long>(result.meshcount),
        static_cast<long long>(result.meshesSkipped), static_cast<long long>(result.meshesWritten),
        result.levelFiles.size(), files.bytes, host.lines, host.tags, seconds);
    if (!host.reason.empty()) std::fprintf(stderr, "%s\n", host.reason.c_str());
    return 0;
}
