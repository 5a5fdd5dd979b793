#include "mapbuilder/mapbuilder.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <ostream>
#include <string>

namespace v2bsp::mapbuilder {
namespace {

constexpr std::string_view kUsage =
    "usage: v2bsp-mkmap sample OUT.map [--name TEXT]\n"
    "       v2bsp-mkmap large OUT.map [--meshes N] [--vertices V] [--triangles T] [--scatter SEED]\n"
    "                                 [--name TEXT]\n"
    "       v2bsp-mkmap edge OUT.map [--name TEXT]\n"
    "       v2bsp-mkmap corrupt NAME OUT.map\n"
    "       v2bsp-mkmap list\n"
    "       v2bsp-mkmap --help\n"
    "--name stores the bytes of TEXT as the map name (at most 33, none zero).\n"
    "--scatter puts the vertices anywhere from -5000 to 5000 and makes each triangle\n"
    "of any three vertices of its mesh, drawn from SEED, as real levels are.\n";

struct UsageError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// Writes through a temporary file beside `path`, so a failed write never leaves a half map.
void writeMapFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const std::string temporary = path + ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) throw std::runtime_error("cannot create " + temporary + ": " + std::strerror(errno));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            throw std::runtime_error("cannot write " + temporary + ": " + std::strerror(errno));
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw std::runtime_error("cannot rename " + temporary + " to " + path + ": " + error.message());
    }
}

std::uint64_t parseCount(std::string_view option, std::string_view text, std::uint64_t limit) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value > limit)
        throw UsageError(std::string(option) + " needs a whole number up to " + std::to_string(limit) + ", not \"" +
                         std::string(text) + "\"");
    return value;
}

// The scene of a building command with its options applied.
Scene sceneOf(std::string_view command, std::span<const std::string_view> options) {
    std::uint64_t meshes = 2000;
    std::uint64_t vertices = 4'000'000;
    std::uint64_t triangles = 4'000'000;
    std::optional<std::string> name;
    std::optional<std::uint64_t> seed;
    for (std::size_t i = 0; i < options.size(); i += 2) {
        if (i + 1 == options.size()) throw UsageError(std::string(options[i]) + " needs a value");
        const auto option = options[i];
        const auto value = options[i + 1];
        if (option == "--name")
            name = std::string(value);
        else if (command == "large" && option == "--meshes")
            meshes = parseCount(option, value, 1'000'000);
        else if (command == "large" && option == "--vertices")
            vertices = parseCount(option, value, 100'000'000);
        else if (command == "large" && option == "--triangles")
            triangles = parseCount(option, value, 100'000'000);
        else if (command == "large" && option == "--scatter")
            seed = parseCount(option, value, std::numeric_limits<std::uint64_t>::max());
        else
            throw UsageError("unknown option " + std::string(option));
    }
    const auto count = static_cast<std::uint32_t>(meshes);
    Scene scene = command == "sample" ? samplescene()
                  : command == "edge" ? edgeScene()
                  : seed              ? scatteredScene(count, vertices, triangles, *seed)
                                      : largeScene(count, vertices, triangles);
    if (name) scene.mapname = *name;
    return scene;
}

int run(std::span<const std::string_view> args, std::ostream& out) {
    if (args.empty()) throw UsageError("no command");
    const auto command = args[0];
    if ((command == "--help" || command == "-h") && args.size() == 1) {
        out << kUsage;
        return 0;
    }
    if (command == "list" && args.size() == 1) {
        for (const auto& c : corruptions()) out << c.name << '\t' << c.expected << '\n';
        return 0;
    }
    BuiltMap map;
    std::string path;
    if ((command == "sample" || command == "large" || command == "edge") && args.size() >= 2) {
        map = buildMap(sceneOf(command, args.subspan(2)));
        path = args[1];
    } else if (command == "corrupt" && args.size() == 3) {
        const CorruptionCase* corruption = findCorruption(args[1]);
        if (corruption == nullptr)
            throw UsageError("unknown corruption \"" + std::string(args[1]) + "\" (see v2bsp-mkmap list)");
        map = buildMap(samplescene());
        corruption->apply(map);
        path = args[2];
    } else {
        throw UsageError("bad arguments for \"" + std::string(command) + "\"");
    }
    writeMapFile(path, map.bytes);
    out << "wrote " << path << " (" << map.bytes.size() << " bytes, " << map.layout.meshes.size() << " meshes)\n";
    return 0;
}

}  // namespace

int runMkmap(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    try {
        return run(args, out);
    } catch (const UsageError& e) {
        err << "v2bsp-mkmap: " << e.what() << '\n' << kUsage;
        return 2;
    } catch (const std::exception& e) {
        err << "v2bsp-mkmap: " << e.what() << '\n';
        return 1;
    }
}

}  // namespace v2bsp::mapbuilder
