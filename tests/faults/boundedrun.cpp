// v2bsp-boundedrun MAP: one whole extraction of MAP in a fresh process, whose
// mesh files are formatted piece by piece and then dropped instead of being
// written, so that a test can take this process's time and peak memory as
// those of the extraction. Prints one line:
//   outcome=<failed|complete|incomplete|stopped> meshes=<read>/<count> skipped=<n>
//   written=<files> bytes=<text bytes> lines=<log lines> tags=<names> seconds=<wall time>
#include <chrono>
#include <cstdio>
#include <string>

#include "extract/extractmap.hpp"

namespace {

class DroppingFiles final : public v2bsp::OutputFiles {
public:
    std::error_code createfolder(const std::filesystem::path&) override { return {}; }
    std::error_code replacefile(const std::filesystem::path&, v2bsp::TextSource& text) override {
        std::string piece;
        while (text.next(piece)) bytes += static_cast<long long>(piece.size());
        return {};
    }
    long long bytes = 0;
};

class CountingHost final : public v2bsp::ExtractHost {
public:
    void logline(std::string_view) override { ++lines; }
    void addtagname(std::string_view) override { ++tags; }
    void mapfailed(const v2bsp::MapFailure& failure) override { reason = failure.reason; }
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: v2bsp-boundedrun MAP\n");
        return 2;
    }
    DroppingFiles files;
    CountingHost host;
    v2bsp::ExtractSettings settings;
    settings.outputparent = "/nonexistent";
    settings.files = &files;
    const auto start = std::chrono::steady_clock::now();
    const v2bsp::ExtractResult result = v2bsp::extractmap(argv[1], host, settings);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "outcome=%s meshes=%lld/%lld skipped=%lld written=%lld bytes=%lld lines=%lld tags=%lld "
        "seconds=%.3f\n",
        outcomeName(result.status), static_cast<long long>(result.meshesread),
        static_cast<long long>(result.meshcount), static_cast<long long>(result.meshesskipped),
        static_cast<long long>(result.mesheswritten), files.bytes, host.lines, host.tags, seconds);
    if (!host.reason.empty()) std::fprintf(stderr, "%s\n", host.reason.c_str());
    return 0;
}
