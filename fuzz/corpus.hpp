// Inputs made by the map builder: the seeds of the fuzz targets, and the
// worst maps of a given size that bound the work of one extraction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace v2bsp::fuzz {

struct Seed {
    std::string name;  // a file name: lower case, digits and dashes
    std::vector<std::uint8_t> bytes;
};

// Valid maps of several shapes, then each corruption the builder knows
// applied to a map of three meshes ("corrupt-<name>").
std::vector<Seed> extractseeds();

// Short inputs for the readers target: headers of valid maps, marker runs,
// hex and bit texts, float and double patterns with special values.
std::vector<Seed> readerseeds();

// Map names and file names for the names target, each "<map name>\0<file
// name>": device names in every form, names that differ only in case, names
// that are nothing but blanks and dots, bytes that are not UTF-8.
std::vector<Seed> nameseeds();

enum class WorstOutcome {
    notamap,  // ends under the first regime
    finished  // reaches the closing lines (complete or incomplete)
};

struct WorstCase {
    std::string_view name;
    std::string_view what;
    WorstOutcome outcome;
    // A map of exactly `size` bytes (at least kMinWorstSize).
    std::vector<std::uint8_t> (*make)(std::size_t size);
};

inline constexpr std::size_t kMinWorstSize = std::size_t{1} << 20;

// Maps that push one count, range or table to what a file of the size can
// hold, or far beyond it.
std::span<const WorstCase> worstcases();

}  // namespace v2bsp::fuzz
