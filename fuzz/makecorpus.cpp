// v2bsp-fuzz-corpus: writes the seed corpus of the fuzz targets, and on
// request the worst-case maps of one size.
//
//   v2bsp-fuzz-corpus SEEDDIR                 SEEDDIR/extract/*, SEEDDIR/readers/*, SEEDDIR/names/*
//   v2bsp-fuzz-corpus --worst MIB WORSTDIR    WORSTDIR/<case>.map, each MIB MiB
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>

#include "corpus.hpp"

namespace {

namespace fs = std::filesystem;

bool writeAll(const fs::path& folder, const std::vector<v2bsp::fuzz::Seed>& seeds) {
    fs::create_directories(folder);
    for (const v2bsp::fuzz::Seed& seed : seeds) {
        std::ofstream file(folder / seed.name, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
        if (!file.flush()) {
            std::cerr << "v2bsp-fuzz-corpus: cannot write " << (folder / seed.name).string() << ": "
                      << std::strerror(errno) << '\n';
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view usage =
        "usage: v2bsp-fuzz-corpus SEEDDIR\n"
        "       v2bsp-fuzz-corpus --worst MIB WORSTDIR\n";
    try {
        if (argc == 2) {
            const fs::path seeds = argv[1];
            return writeAll(seeds / "extract", v2bsp::fuzz::extractseeds()) &&
                           writeAll(seeds / "readers", v2bsp::fuzz::readerseeds()) &&
                           writeAll(seeds / "names", v2bsp::fuzz::nameseeds())
                       ? 0
                       : 1;
        }
        if (argc == 4 && std::string_view(argv[1]) == "--worst") {
            const std::string_view text = argv[2];
            std::size_t mib = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mib);
            if (error != std::errc{} || end != text.data() + text.size() || mib < 1 || mib > 1024) {
                std::cerr << "v2bsp-fuzz-corpus: MIB must be a whole number from 1 to 1024\n" << usage;
                return 2;
            }
            for (const v2bsp::fuzz::WorstCase& worst : v2bsp::fuzz::worstcases()) {
                if (!writeAll(argv[3], {{std::string(worst.name) + ".map", worst.make(mib << 20)}})) return 1;
            }
            return 0;
        }
    } catch (const std::exception& failure) {
        std::cerr << "v2bsp-fuzz-corpus: " << failure.what() << '\n';
        return 1;
    }
    std::cerr << usage;
    return 2;
}
