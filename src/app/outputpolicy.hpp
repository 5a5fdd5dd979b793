// Where a window's run writes. The mesh files go to the program's folder, as
// the window always did; where that folder cannot take them (not writable),
// or is one programs are installed in (where files never go, even for a user
// who may write there), they go to the folder beside the map, and the run's
// log says "Program folder is not writable; writing to <path>".
#pragma once

#include <filesystem>
#include <vector>

#include "extract/extractmap.hpp"

namespace v2bsp::app {

// The folders programs are installed in, with everything under them.
struct SystemFolders {
    std::vector<std::filesystem::path> folders;
    // Names match whatever their case (ASCII letters), as Windows' do.
    bool ignoreCase = false;
};

// /usr, /bin, /sbin, /opt and /lib.
SystemFolders posixSystemFolders();

// True when `folder` is one of `system`'s folders or lies under one; compared
// part by part after "." and ".." are resolved by the names alone.
bool isSystemFolder(const std::filesystem::path& folder, const SystemFolders& system);

// The settings of a window's run of `map` (as the file system's bytes; may be
// relative, or empty when no file was chosen): into `programFolder`, falling
// back to the map's folder made absolute. Through `files` when given (one
// thread writes, as a seam may not take calls from several), else the real
// disk with a writer for each of the machine's cores.
ExtractSettings windowRunSettings(const std::filesystem::path& programFolder, const std::filesystem::path& map,
                                  const SystemFolders& system, OutputFiles* files = nullptr);

}  // namespace v2bsp::app
