#include "app/dialogs.hpp"

#include "app/texts.hpp"

namespace v2bsp::app {

// "*" rather than "*.*": a map named without an extension is a file too,
// and the toolkit's dialog would hide it behind "*.*".
std::vector<FileFilter> mapFilters() {
    return {{kMapFilterName, kMapFilterPattern}, {"All files", "*"}};
}

}  // namespace v2bsp::app
