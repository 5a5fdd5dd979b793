#include "writers/writers.hpp"

#include <new>
#include <stdexcept>

#include "version.hpp"

namespace v2bsp {

std::unique_ptr<ByteSource> levelObjSource(const MeshPlan& plan, const LevelInfo& info);
std::unique_ptr<ByteSource> levelGlbSource(const MeshPlan& plan, const std::vector<MeshSummary>& summaries,
                                           const LevelInfo& info);

std::string levelGenerator() {
    return "v2bsp-extract " + std::string(kVersionText);
}

std::string levelFileName(const std::string& folder, LevelFormat format) {
    return folder + (format == LevelFormat::obj ? ".obj" : ".glb");
}

std::vector<MeshSummary> summarizePlan(const MeshPlan& plan, UpAxis up) {
    std::vector<MeshSummary> summaries;
    summaries.reserve(plan.meshes.size());
    for (const PlannedMesh& mesh : plan.meshes) summaries.push_back(summarizeMesh(mesh, up));
    return summaries;
}

std::unique_ptr<ByteSource> levelSource(LevelFormat format, const MeshPlan& plan,
                                        const std::vector<MeshSummary>& summaries, const LevelInfo& info) {
    switch (format) {
        case LevelFormat::obj:
            return levelObjSource(plan, info);
        case LevelFormat::glb:
            return levelGlbSource(plan, summaries, info);
    }
    return nullptr;
}

std::error_code guardedWrite(const std::function<std::error_code()>& write) {
    try {
        return write();
    } catch (const std::length_error&) {
        return std::make_error_code(std::errc::file_too_large);
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

std::error_code writeLevelFile(LevelFormat format, const MeshPlan& plan, const std::vector<MeshSummary>& summaries,
                               const LevelInfo& info, OutputFiles& files, const std::filesystem::path& file) {
    return guardedWrite([&] { return files.replaceFile(file, *levelSource(format, plan, summaries, info)); });
}

}  // namespace v2bsp
