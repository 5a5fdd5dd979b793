// The --format lists the fault tests run each input with: the mesh files
// alone, and every format at once.
#pragma once

#include <ostream>

#include "extract/extractmap.hpp"

namespace v2bsp {

struct FormatList {
    const char* name;  // in test names
    const char* list;  // as --format takes it
    OutputFormats formats;
};

inline constexpr FormatList kFormatLists[] = {
    {"meshes", "meshes", {.meshes = true, .obj = false, .glb = false}},
    {"all", "meshes,obj,glb", {.meshes = true, .obj = true, .glb = true}},
};

inline void PrintTo(const FormatList& formats, std::ostream* out) {
    *out << formats.list;
}

}  // namespace v2bsp
