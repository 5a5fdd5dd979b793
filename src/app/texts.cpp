#include "app/texts.hpp"

#include <algorithm>
#include <vector>

#include "platform/utf8path.hpp"
#include "version.hpp"

namespace v2bsp::app {
namespace {

std::string counted(std::int64_t n, std::string_view one, std::string_view many, std::string_view separator) {
    return grouped(n, separator) + " " + std::string(n == 1 ? one : many);
}

bool endsWithIgnoringCase(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()), [](char a, char b) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(a) == lower(b);
           });
}

std::string joined(const std::vector<std::string>& parts, std::string_view between) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += between;
        text += part;
    }
    return text;
}

}  // namespace

std::string grouped(std::int64_t value, std::string_view separator) {
    // Digits of the magnitude, so that the most negative value has one too.
    const std::uint64_t magnitude =
        value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
    const std::string digits = std::to_string(magnitude);
    std::string text = value < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += separator;
        text += digits[i];
    }
    return text;
}

namespace {

std::string countsText(const LevelCounts& counts, std::string_view separator) {
    return counted(counts.meshes, "mesh", "meshes", separator) + ", " +
           counted(counts.vertices, "vertex", "vertices", separator) + ", " +
           counted(counts.triangles, "triangle", "triangles", separator);
}

// What the map lacks, and with `files` what the run did not write.
std::string missingText(const ExtractResult& result, std::string_view separator, bool files) {
    std::vector<std::string> missing;
    if (result.meshesRead < result.meshcount) {
        missing.push_back(counted(result.meshcount - result.meshesRead, "mesh", "meshes", separator) +
                          " not found: the mesh table runs past the end of the map file");
    }
    if (result.meshesSkipped > 0) {
        missing.push_back(counted(result.meshesSkipped, "mesh", "meshes", separator) +
                          " skipped: data outside the map file");
    }
    // A folder that could not be made costs every mesh its file.
    const std::int64_t unwritten = result.meshesRead - result.meshesSkipped - result.meshesWritten;
    if (files && unwritten > 0) {
        missing.push_back(counted(unwritten, "mesh file", "mesh files", separator) +
                          " not written: see the log for why");
    } else if (files && result.writeFailures > 0) {
        missing.push_back(counted(result.writeFailures, "file", "files", separator) +
                          " not written: see the log for why");
    }
    return missing.empty() ? std::string() : ". Incomplete: " + joined(missing, "; ");
}

}  // namespace

std::string statusText(const ExtractResult& result, const LevelCounts& counts, std::string_view separator) {
    std::string text = countsText(counts, separator);
    text +=
        result.outputfolder.empty() ? std::string("; no folder was written") : " in " + utf8Text(result.outputfolder);
    if (result.earlierMeshFiles > 0) {
        text += "; " + counted(result.earlierMeshFiles, "mesh file", "mesh files", separator) +
                " of an earlier extraction in the folder";
    }
    return text + missingText(result, separator, true);
}

std::string levelStatusText(const ExtractResult& result, const LevelCounts& counts, std::string_view separator) {
    return countsText(counts, separator) + missingText(result, separator, false);
}

std::string wroteLine(const ExtractResult& result, std::string_view separator) {
    const std::int64_t written = result.meshesWritten, total = result.meshcount;
    if (result.outputfolder.empty() || (written == 0 && total > 0)) {
        return "Wrote no mesh file; the lines above say why";
    }
    const std::string folder = utf8Text(result.outputfolder);
    if (written >= total) return "Wrote " + counted(written, "mesh file", "mesh files", separator) + " to " + folder;
    return "Wrote " + grouped(written, separator) + " of " + counted(total, "mesh file", "mesh files", separator) +
           " to " + folder + "; the lines above say what is missing";
}

std::string notAMapLine(std::string_view message, std::string_view reason) {
    return std::string(message) + ": " + std::string(reason);
}

std::string aboutText() {
    return std::string(kProgramName) + " " + std::string(kVersionText) + "\n" + std::string(kDescription) +
           ".\n"
           "The mesh files go to <program folder>/<map name>/mesh<N>.obj, or beside the map file where the "
           "program's folder cannot take them; the log's last line says where.\n"
           "Licence: " +
           std::string(kLicence) + ".";
}

std::string folderGoneText(std::string_view folder) {
    return "The folder " + std::string(folder) + " no longer exists.";
}

std::string viewTitle(std::string_view folderName) {
    return std::string(folderName) + " - 3D View";
}

std::filesystem::path saveLevelSuggestion(const ExtractResult& result, std::string_view folderName) {
    const std::filesystem::path parent =
        result.outputfolder.empty() ? std::filesystem::path() : result.outputfolder.parent_path();
    return parent / pathFromUtf8(std::string(folderName) + ".glb");
}

std::string saveImageSuggestion(std::string_view folderName) {
    return folderName.empty() ? std::string("view.png") : std::string(folderName) + ".png";
}

std::string withExtension(std::string name, std::string_view extension) {
    if (!endsWithIgnoringCase(name, extension)) name += extension;
    return name;
}

bool savesObj(std::string_view name, bool objFilterChosen) {
    return endsWithIgnoringCase(name, ".obj") || (!endsWithIgnoringCase(name, ".glb") && objFilterChosen);
}

}  // namespace v2bsp::app
