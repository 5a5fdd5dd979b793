// A host that keeps everything an extraction tells it, and the log of a
// plain run, for tests that compare whole runs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "extract/extractmap.hpp"

namespace v2bsp::fixtures {

class RecordingHost : public ExtractHost {
public:
    void logline(std::string_view line) override {
        log.emplace_back(line);
        if (stop_after_lines > 0 && log.size() >= stop_after_lines) stop = true;
    }
    void addTagName(std::string_view name) override { tags.emplace_back(name); }
    void mapFailed(const MapFailure& failure) override { failures.push_back(failure); }
    bool keepGoing() override { return !stop; }

    std::vector<std::string> log;
    std::vector<std::string> tags;
    std::vector<MapFailure> failures;
    std::size_t stop_after_lines = 0;
    bool stop = false;
};

// The log of a run over `meshes` meshes that nothing goes wrong in.
inline std::vector<std::string> logFor(std::int64_t meshes) {
    std::vector<std::string> log = {"Loading Map...",  "Finding map information...", "Getting tag information...",
                                    "Loading tags...", "Locating Scnr...",           "Locating BSP...",
                                    "Creating BSP..."};
    for (std::int64_t m = 0; m < meshes; ++m) log.push_back("Making Mesh #" + std::to_string(m));
    log.insert(log.end(), {"Locating Collections...", "Locating Scenery...", "Initializing 3D Window..."});
    return log;
}

// A window's log of such a run: those lines, then where the files went.
inline std::vector<std::string> windowLog(std::int64_t meshes, std::string_view folder) {
    std::vector<std::string> log = logFor(meshes);
    log.push_back("Wrote " + std::to_string(meshes) + " mesh file" + (meshes == 1 ? "" : "s") + " to " +
                  std::string(folder));
    return log;
}

// That log as the command prints it, `after` holding the lines that follow a
// line of it.
inline std::string logText(std::int64_t meshes, const std::map<std::string, std::vector<std::string>>& after = {}) {
    std::string text;
    for (const std::string& line : logFor(meshes)) {
        text += line + "\n";
        if (const auto extra = after.find(line); extra != after.end()) {
            for (const std::string& more : extra->second) text += more + "\n";
        }
    }
    return text;
}

}  // namespace v2bsp::fixtures
