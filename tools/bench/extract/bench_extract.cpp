// Times a command end to end, run after run, as a person would start it:
//
//   v2bsp-bench-extract [--runs N] [--label TEXT] [--vertices V] [--map MAP]
//                       [--clean DIR] [--tsv FILE] -- COMMAND [ARGS...]
//
// Runs COMMAND N times (default 5), each time into DIR made anew when --clean
// names one, and prints the median, least and greatest wall time, the
// vertices per second at the median (V being the vertex count of the level,
// when given), the median CPU time of the command (user and system: on a
// machine shared with other work it moves less than the wall time) and the
// peak memory of the command: the greatest maximum
// resident set over the runs, as wait4 reports it. With --map, the peak less
// the map's size is set against the bound of 64 MiB. --tsv appends the same
// figures as one tab-separated line, for scripts/bench-extract.sh's table.
//
// This process never reads the map or the output and stays small, because a
// child's peak memory as the system reports it includes what its parent held
// when it was started.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kBoundOverMapMiB = 64.0;

struct RunFigures {
    double seconds = 0;
    double cpu_seconds = 0;
    long peak_kib = 0;
    int status = -1;
};

RunFigures runCommand(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // What the command prints goes nowhere, so that no terminal or pipe slows
    // it down; its errors still show. The command is searched on PATH.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int failure = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        errno = failure;
        std::perror(("cannot start " + args.front()).c_str());
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    RunFigures figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.peak_kib = usage.ru_maxrss;
    figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

[[noreturn]] void usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s [--runs N] [--label TEXT] [--vertices V] [--map MAP] [--clean DIR] [--tsv FILE]"
                 " -- COMMAND [ARGS...]\n",
                 self);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::string label;
    double vertices = 0;
    std::filesystem::path map;
    std::filesystem::path clean;
    std::string tsv;
    std::vector<std::string> command;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            command.assign(argv + i + 1, argv + argc);
            break;
        }
        if (i + 1 >= argc) usage(argv[0]);
        const char* value = argv[++i];
        if (arg == "--runs")
            runs = std::atoi(value);
        else if (arg == "--label")
            label = value;
        else if (arg == "--vertices")
            vertices = std::strtod(value, nullptr);
        else if (arg == "--map")
            map = value;
        else if (arg == "--clean")
            clean = value;
        else if (arg == "--tsv")
            tsv = value;
        else
            usage(argv[0]);
    }
    if (command.empty() || runs < 1) usage(argv[0]);
    if (label.empty()) label = command.front();

    std::vector<double> seconds;
    std::vector<double> cpu_seconds;
    long peak_kib = 0;
    for (int run = 0; run < runs; ++run) {
        if (!clean.empty()) {
            std::filesystem::remove_all(clean);
            std::filesystem::create_directories(clean);
        }
        const RunFigures figures = runCommand(command);
        if (figures.status != 0) {
            std::fprintf(stderr, "%s: the command failed with status %d\n", label.c_str(), figures.status);
            return 1;
        }
        seconds.push_back(figures.seconds);
        cpu_seconds.push_back(figures.cpu_seconds);
        peak_kib = std::max(peak_kib, figures.peak_kib);
    }

    const double middle = median(seconds);
    const double least = *std::min_element(seconds.begin(), seconds.end());
    const double most = *std::max_element(seconds.begin(), seconds.end());
    const double cpu = median(cpu_seconds);
    const double rate = vertices > 0 ? vertices / middle / 1e6 : 0;
    const double peak_mib = static_cast<double>(peak_kib) / 1024.0;
    const double map_mib = map.empty() ? 0 : static_cast<double>(std::filesystem::file_size(map)) / kMiB;
    const double over_mib = peak_mib - map_mib;

    std::printf("%-28s median %.3f s (%.3f-%.3f, %d runs), cpu %.3f s", label.c_str(), middle, least, most, runs, cpu);
    if (vertices > 0) std::printf("  %.2f M vertices/s", rate);
    std::printf("  peak %.1f MiB", peak_mib);
    if (!map.empty())
        std::printf(" = map + %.1f MiB (%s the bound of map + %.0f MiB)", over_mib,
                    over_mib <= kBoundOverMapMiB ? "within" : "OVER", kBoundOverMapMiB);
    std::printf("\n");

    if (!tsv.empty()) {
        std::FILE* file = std::fopen(tsv.c_str(), "a");
        if (file == nullptr) {
            std::perror(tsv.c_str());
            return 1;
        }
        // label, runs, median, least, greatest, M vertices/s, peak MiB, map MiB (0: none), cpu
        std::fprintf(file, "%s\t%d\t%.4f\t%.4f\t%.4f\t%.3f\t%.1f\t%.1f\t%.4f\n", label.c_str(), runs, middle, least,
                     most, rate, peak_mib, map_mib, cpu);
        std::fclose(file);
    }
    if (!clean.empty()) std::filesystem::remove_all(clean);
    return 0;
}
