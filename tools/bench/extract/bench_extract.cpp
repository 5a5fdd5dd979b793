// End-to-end benchmark of v2bsp-extract on a large map the builder makes.
//
//   v2bsp-bench-extract PATH/TO/v2bsp-extract MAP VERTICES [RUNS]
//
// Runs the command RUNS times (default 3) into a fresh output folder beside
// the map, and once more over the files it wrote, and reports wall time,
// vertices per second (VERTICES being the map's vertex count), OBJ megabytes
// per second and the peak memory of the command. The map comes from
// `v2bsp-mkmap large`; this process never holds it, because a child's peak
// memory as the system reports it includes what its parent held when it
// was started.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>


extern char** environ;

namespace {

struct RunFigures {
    double seconds = 0;
    long peak_kib = 0;
    int status = -1;
};

RunFigures runCommand(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror("cannot start the command");
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    RunFigures figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.peak_kib = usage.ru_maxrss;
    figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

std::uintmax_t folderBytes(const std::filesystem::path& folder) {
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) total += entry.file_size();
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PATH/TO/v2bsp-extract MAP VERTICES [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string command = argv[1];
    const std::filesystem::path map = argv[2];
    const double vertices = std::stod(argv[3]);
    const int runs = argc > 4 ? std::stoi(argv[4]) : 3;
    const auto map_bytes = std::filesystem::file_size(map);
    const auto out = map.parent_path() / "bench-out";
    for (int run = 0; run <= runs; ++run) {
        const bool fresh = run < runs;
        if (fresh) std::filesystem::remove_all(out);
        const RunFigures figures = runCommand({command, "-q", "-o", out.string(), map.string()});
        if (figures.status != 0) {
            std::fprintf(stderr, "the command failed with status %d\n", figures.status);
            return 1;
        }
        const double megabytes = static_cast<double>(folderBytes(out)) / 1e6;
        std::printf("%-22s %.3f s  %.2f M vertices/s  %.0f MB/s of OBJ (%.0f MB)  peak %.1f MB (map + %.1f MB)\n",
                    fresh ? "into a fresh folder:" : "over existing files:", figures.seconds,
                    vertices / figures.seconds / 1e6, megabytes / figures.seconds, megabytes,
                    figures.peak_kib / 1024.0, figures.peak_kib / 1024.0 - static_cast<double>(map_bytes) / 1048576.0);
    }
    std::filesystem::remove_all(out);
    return 0;
}
