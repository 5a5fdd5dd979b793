
#include <algorithm>
#include <charconv>
#include <cmath>
#include <concepts>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "extract/extraction.hpp"
#include "extractionrows.hpp"
#include "fuzzentries.hpp"

namespace v2bsp::fuzz {
namespace {

constexpr std::int64_t kMeshEntryLength = 176;
constexpr auto kVertexGroup = static_cast<std::int64_t>(kVertexBytes);
constexpr auto kFaceGroup = static_cast<std::int64_t>(kFaceBytes);

// The first broken rule wins; later ones are not recorded.
class Verdict {
public:
    void fail(std::string_view rule) {
        if (text_.empty()) text_ = rule;
    }
    void require(bool holds, std::string_view rule) {
        if (!holds) fail(rule);
    }
    // For a rule whose sentence costs something to make: made only when it breaks.
    template <std::invocable Rule>
    void require(bool holds, Rule&& rule) {
        if (!holds) fail(rule());
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// The log held as one text and the ends of its lines: a map of many meshes
// logs a line for each, and a string apiece would cost more than the map.
class LogLines {
public:
    void add(std::string_view line) {
        text_ += line;
        ends_.push_back(text_.size());
    }
    std::size_t size() const { return ends_.size(); }
    std::string_view operator[](std::size_t i) const {
        const std::size_t start = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(text_).substr(start, ends_[i] - start);
    }

private:
    std::string text_;
    std::vector<std::size_t> ends_;
};

class RecordingHost final : public ExtractHost {
public:
    void logline(std::string_view line) override { log.add(line); }
    void addTagName(std::string_view) override { ++tagnames; }
    void mapFailed(const MapFailure& failure) override { failures.push_back(failure); }

    LogLines log;
    std::int64_t tagnames = 0;
    std::vector<MapFailure> failures;
};

bool safeFolderName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.front() == ' ' || name.front() == '.' || name.back() == ' ' || name.back() == '.') return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// One number of a vertex line: a blank or "-", then a decimal text that reads back whole.
bool numberToken(std::string_view token) {
    if (token.size() < 2 || (token.front() != ' ' && token.front() != '-')) return false;
    const std::string_view digits = token.substr(token.front() == ' ' ? 1 : 0);
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc{} && end == digits.data() + digits.size() && std::isfinite(value);
}

// "v" and three numbers, each after one blank: "v  1.5  .25 -2".
bool vertexLine(std::string_view line) {
    if (line.substr(0, 2) != "v ") return false;
    std::string_view rest = line.substr(2);
    for (int i = 0; i < 3; ++i) {
        std::size_t end = rest.find(' ', 1);
        if (i == 2) {
            if (end != std::string_view::npos) return false;
            end = rest.size();
        } else if (end == std::string_view::npos || end + 1 >= rest.size()) {
            return false;
        }
        if (!numberToken(rest.substr(0, end))) return false;
        rest = i == 2 ? std::string_view() : rest.substr(end + 1);
    }
    return true;
}

// "f" and three different indices from 1 to 65536, each as "  N", then a blank.
bool faceLine(std::string_view line) {
    if (line.substr(0, 1) != "f") return false;
    std::string_view rest = line.substr(1);
    std::uint32_t indices[3] = {};
    for (std::uint32_t& index : indices) {
        if (rest.substr(0, 2) != "  ") return false;
        rest.remove_prefix(2);
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), index);
        if (error != std::errc{} || index < 1 || index > 65536 || rest.front() == '0') return false;
        rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    }
    return rest == " " && indices[0] != indices[1] && indices[0] != indices[2] && indices[1] != indices[2];
}

struct ObjCounts {
    std::int64_t vertices = 0;
    std::int64_t faces = 0;
};

// Lines checked to the character in each file; beyond them only the shape of
// each line, so that the check of a huge mesh costs little beside its making.
constexpr std::int64_t kLinesCheckedWhole = 4096;

// Inputs up to this size are also written as whole-level files.
constexpr std::size_t kLevelFilesUpTo = std::size_t{16} << 20;

// A mesh file is: vertex lines, two empty lines, face lines, one empty line;
// CR LF after each. The text is checked as it comes, piece by piece, holding
// no more than one line.
class ObjChecker {
public:
    void feed(std::string_view piece) {
        while (!piece.empty() && problem_.empty()) {
            const std::size_t end = piece.find('\n');
            if (end == std::string_view::npos) {
                partial_ += piece;
                return;
            }
            if (partial_.empty()) {
                line(piece.substr(0, end + 1));
            } else {
                partial_ += piece.substr(0, end + 1);
                line(partial_);
                partial_.clear();
            }
            piece.remove_prefix(end + 1);
        }
    }

    // The first problem of the whole text, or "".
    std::string finish() {
        if (problem_.empty() && !partial_.empty()) problem_ = "the text does not end with CR LF";
        if (problem_.empty() && part_ != Part::end) problem_ = "the text stops before its closing empty line";
        return problem_;
    }
    const ObjCounts& counts() const { return counts_; }

private:
    enum class Part { vertices, gap, faces, end };

    void line(std::string_view text) {
        if (text.size() < 2 || text.substr(text.size() - 2) != "\r\n") {
            problem_ = "a line without CR LF";
            return;
        }
        const std::string_view body = text.substr(0, text.size() - 2);
        const bool whole = ++lines_ <= kLinesCheckedWhole;
        if (whole && body.find('\r') != std::string_view::npos) {
            problem_ = "a bare CR inside a line";
            return;
        }
        switch (part_) {
            case Part::vertices:
                if (body.empty()) {
                    part_ = Part::gap;
                } else if (whole ? vertexLine(body) : body.front() == 'v') {
                    ++counts_.vertices;
                } else {
                    problem_ = "malformed vertex line \"" + std::string(body) + "\"";
                }
                break;
            case Part::gap:
                if (body.empty()) {
                    part_ = Part::faces;
                } else {
                    problem_ = "one empty line only between vertices and faces";
                }
                break;
            case Part::faces:
                if (body.empty()) {
                    part_ = Part::end;
                } else if (whole ? faceLine(body) : body.front() == 'f') {
                    ++counts_.faces;
                } else {
                    problem_ = "malformed face line \"" + std::string(body) + "\"";
                }
                break;
            case Part::end:
                problem_ = "text after the closing empty line";
                break;
        }
    }

    Part part_ = Part::vertices;
    std::int64_t lines_ = 0;
    std::string partial_;
    std::string problem_;
    ObjCounts counts_;
};

struct WrittenFile {
    std::filesystem::path path;
    ObjCounts counts;
};

// A whole-level OBJ: its comment line, then "o", "v" and "f" lines with LF
// line ends; returns the first problem or "", and counts the "o" lines. The
// first lines are checked whole; past them only the "o" lines are counted,
// so that the check of a huge level costs little beside its making.
std::string checkLevelObj(ByteSource& text, std::int64_t& meshes) {
    std::string piece, line, problem;
    std::int64_t lines = 0;
    char last = '\n';
    const auto take = [&](std::string_view body) {
        if (lines++ == 0) {
            if (body.rfind("# v2bsp-extract ", 0) != 0) problem = "the whole-level OBJ's first line";
            return;
        }
        if (body.size() < 2 || body.find('\r') != std::string_view::npos || body.back() == ' ' ||
            std::string_view("ovf").find(body.front()) == std::string_view::npos || body[1] != ' ') {
            problem = "a malformed whole-level OBJ line \"" + std::string(body.substr(0, 80)) + "\"";
        }
        meshes += body.front() == 'o';
    };
    while (problem.empty() && text.next(piece)) {
        if (piece.empty()) continue;
        std::string_view rest = piece;
        if (lines >= kLinesCheckedWhole && line.empty()) {
            // An "o" line starts after a line end, in this piece or the last
            // (the text comes in pieces of whole lines).
            if (last == '\n' && rest.substr(0, 2) == "o ") ++meshes;
            for (std::size_t at = rest.find("\no "); at != std::string_view::npos; at = rest.find("\no ", at + 1))
                ++meshes;
            last = rest.back();
            continue;
        }
        for (std::size_t end; problem.empty() && (end = rest.find('\n')) != std::string_view::npos;) {
            if (line.empty()) {
                take(rest.substr(0, end));
            } else {
                line += rest.substr(0, end);
                take(line);
                line.clear();
            }
            rest.remove_prefix(end + 1);
        }
        line += rest;
        last = piece.back();
    }
    if (problem.empty() && last != '\n') problem = "the whole-level OBJ does not end with LF";
    return problem;
}

// A binary glTF container: the header's length is the file's, each chunk's
// length a multiple of 4 and inside the file. Read as it comes, holding no
// more than a chunk header.
std::string checkGlb(ByteSource& text) {
    std::string head;                   // the header, or the chunk header being read
    std::uint64_t total = 0, seen = 0;  // the header's length, the bytes so far
    std::uint64_t skip = 0;             // bytes of the current chunk still to come
    bool header_read = false;
    const auto u32 = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(head[at + i]);
        return value;
    };
    std::string piece;
    while (text.next(piece)) {
        std::string_view rest = piece;
        seen += rest.size();
        while (!rest.empty()) {
            if (skip > 0) {
                const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(skip, rest.size()));
                skip -= take;
                rest.remove_prefix(take);
                continue;
            }
            const std::size_t want = header_read ? 8 : 12;
            const std::size_t take = std::min(want - head.size(), rest.size());
            head += rest.substr(0, take);
            rest.remove_prefix(take);
            if (head.size() < want) break;
            if (!header_read) {
                if (head.compare(0, 4, "glTF") != 0 || u32(4) != 2) return "the glb header";
                total = u32(8);
                header_read = true;
            } else {
                skip = u32(0);
                if (skip % 4 != 0) return "a glb chunk's length";
            }
            head.clear();
        }
    }
    if (!header_read) return "the glb header";
    if (total != seen) return "the glb's length is not the file's";
    if (skip > 0 || !head.empty()) return "a glb chunk cut short";
    return {};
}

// Takes every folder and file, checks what it is given and keeps nothing.
class CheckingFiles final : public OutputFiles {
public:
    CheckingFiles(std::filesystem::path parent, Verdict& verdict) : parent_(std::move(parent)), verdict_(verdict) {}

    // Calls come from the run's writer threads; one at a time here.
    std::error_code createFolder(const std::filesystem::path& folder) override {
        const std::lock_guard lock(mutex_);
        ++calls;
        verdict_.require(folder.parent_path() == parent_,
                         [&] { return "folder " + folder.string() + " is not a child of the output parent"; });
        verdict_.require(safeFolderName(folder.filename().string()),
                         [&] { return "folder name \"" + folder.filename().string() + "\" is not safe"; });
        if (this->folder.empty()) this->folder = folder;
        verdict_.require(folder == this->folder, [&] { return "a second output folder " + folder.string(); });
        return {};
    }

    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& text) override {
        const std::lock_guard lock(mutex_);
        ++calls;
        if (file.parent_path() == parent_ && !folder.empty()) {
            const std::string name = folder.filename().string();
            if (file.filename() == name + ".obj") {
                const std::string problem = checkLevelObj(text, levelobjmeshes);
                if (!problem.empty()) verdict_.fail(problem);
                ++levelFiles;
                return {};
            }
            if (file.filename() == name + ".glb") {
                const std::string problem = checkGlb(text);
                if (!problem.empty()) verdict_.fail(problem);
                ++levelFiles;
                return {};
            }
        }
        verdict_.require(!folder.empty() && file.parent_path() == folder,
                         [&] { return "file " + file.string() + " is not in the output folder"; });
        ObjChecker checker;
        std::string piece;
        while (text.next(piece)) checker.feed(piece);
        const std::string problem = checker.finish();
        if (!problem.empty()) verdict_.fail(file.filename().string() + ": " + problem);
        files.push_back({file, checker.counts()});
        return {};
    }

    std::filesystem::path folder;
    std::vector<WrittenFile> files;
    std::int64_t calls = 0;
    std::int64_t levelFiles = 0;
    std::int64_t levelobjmeshes = 0;

private:
    std::filesystem::path parent_;
    Verdict& verdict_;
    std::mutex mutex_;
};

const std::vector<std::string> kStageLines = {
    "Loading Map...",  "Finding map information...", "Getting tag information...",
    "Loading tags...", "Locating Scnr...",           "Locating BSP...",
    "Creating BSP...",
};
constexpr std::string_view kClosingLines[] = {"Locating Collections...", "Locating Scenery...",
                                              "Initializing 3D Window..."};

void checkFailedRun(const RecordingHost& host, const CheckingFiles& files, Verdict& verdict) {
    verdict.require(host.failures.size() == 1, "a failed run reports exactly one failure");
    if (host.failures.size() == 1) {
        verdict.require(host.failures[0].message == kNotAMapMessage, "the not-a-map message");
        verdict.require(!host.failures[0].reason.empty(), "a failure comes with its reason");
    }
    verdict.require(files.calls == 0, "a failed run created something");
    const std::size_t lines = host.log.size();
    verdict.require(
        lines >= 1 && lines <= 6 &&
            [&] {
                for (std::size_t i = 0; i < lines; ++i) {
                    if (host.log[i] != kStageLines[i]) return false;
                }
                return true;
            }(),
        "a failed run's log is not a run of stage lines ending before \"Creating BSP...\"");
}

void checkFinishedRun(const MapExtraction& state, const ExtractResult& result, const RecordingHost& host,
                      const CheckingFiles& files, std::size_t size, Verdict& verdict) {
    verdict.require(host.failures.empty(), "a finished run reported a map failure");
    verdict.require(host.tagnames == state.tagcount, "one tag name per tag row");
    verdict.require(result.meshesRead >= 0 && result.meshesRead <= result.meshcount &&
                        result.meshesRead * kMeshEntryLength <= static_cast<std::int64_t>(size),
                    "more mesh-table entries read than the file holds");
    verdict.require(state.plan.meshes.size() == static_cast<std::size_t>(result.meshesRead),
                    "one per-mesh slot per entry read");
    const auto& log = host.log;
    std::size_t at = 0;
    auto next_is = [&](std::string_view line) {
        if (at < log.size() && log[at] == std::string_view(line)) {
            ++at;
            return true;
        }
        return false;
    };
    for (const std::string& stage : kStageLines) {
        if (!next_is(stage)) {
            verdict.fail("stage line \"" + stage + "\" missing or out of order");
            return;
        }
    }
    if (result.meshesRead < result.meshcount) {
        verdict.require(next_is("Mesh table runs past the end of the map file; " + std::to_string(result.meshesRead) +
                                " of " + std::to_string(result.meshcount) + " meshes read"),
                        "the cut-short mesh table line");
    }
    std::vector<std::int64_t> kept;
    std::int64_t skipped = 0;
    for (std::int64_t m = 0; m < result.meshesRead; ++m) {
        const std::string number = std::to_string(m);
        if (!next_is("Making Mesh #" + number)) {
            verdict.fail("\"Making Mesh #" + number + "\" missing or out of order");
            return;
        }
        const std::string skip = "Mesh #" + number + " skipped: ";
        const fixtures::MeshRow row = fixtures::meshrow(state, m);
        const bool outside = !inside(row.meshrawoffset, row.meshrawsize, size);
        if (next_is(skip + "Its data lies outside the map file")) {
            ++skipped;
            verdict.require(outside, [&] { return "mesh " + number + " skipped though its data lies inside"; });
        } else if (at < log.size() && log[at].rfind(skip, 0) == 0) {
            // Data inside the file may be refused for another reason the line gives.
            ++at;
            ++skipped;
            verdict.require(!outside,
                            [&] { return "mesh " + number + " outside the file skipped for another reason"; });
        } else {
            verdict.require(!outside, [&] { return "mesh " + number + " outside the file not skipped"; });
            kept.push_back(m);
            const std::string left_out = "Mesh #" + number + ": ";
            if (at < log.size() && log[at].rfind(left_out, 0) == 0) {
                const std::string_view rest = log[at].substr(left_out.size());
                std::int64_t faces = 0;
                const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), faces);
                verdict.require(error == std::errc{} && faces > 0 &&
                                    std::string_view(end, rest.data() + rest.size()) ==
                                        " faces name vertices the mesh does not have; left out of the "
                                        "whole-level files",
                                "the line of faces left out of the whole-level files");
                ++at;
            }
        }
    }
    for (const std::string_view line : kClosingLines) verdict.require(next_is(line), "the closing lines");
    verdict.require(at == log.size(), "log lines after \"Initializing 3D Window...\"");

    verdict.require(result.meshesSkipped == skipped, "the skipped count agrees with the log");
    verdict.require(result.writeFailures == 0, "a write failed on a sink that never fails");
    verdict.require(result.meshesWritten == static_cast<std::int64_t>(kept.size()) && files.files.size() == kept.size(),
                    "one file per mesh not skipped");
    const bool complete = skipped == 0 && result.meshesRead == result.meshcount;
    verdict.require((result.status == ExtractStatus::complete) == complete &&
                        (result.status == ExtractStatus::incomplete) == !complete,
                    "the status agrees with the counts");
    // Threads write mesh files in any order; each must be the file of its mesh.
    const auto number = [](const WrittenFile& file) {
        const std::string name = file.path.filename().string();
        std::int64_t value = -1;
        std::from_chars(name.data() + std::min<std::size_t>(4, name.size()), name.data() + name.size(), value);
        return value;
    };
    std::vector<std::uint32_t> order(files.files.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
    if (!std::is_sorted(files.files.begin(), files.files.end(),
                        [&](const WrittenFile& a, const WrittenFile& b) { return number(a) < number(b); })) {
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return number(files.files[a]) < number(files.files[b]); });
    }
    for (std::size_t i = 0; i < kept.size() && i < order.size(); ++i) {
        const auto m = static_cast<std::size_t>(kept[i]);
        const WrittenFile& file = files.files[order[i]];
        const std::string name = "mesh" + std::to_string(m) + ".obj";
        const fixtures::MeshRow row = fixtures::meshrow(state, static_cast<std::int64_t>(m));
        verdict.require(file.path.filename() == name,
                        [&] { return file.path.filename().string() + " written for " + name; });
        verdict.require(file.counts.vertices == row.meshvertexlength / kVertexGroup,
                        [&] { return name + ": one vertex line per whole vertex of the section"; });
        verdict.require(file.counts.faces <= row.meshfacelength / kFaceGroup,
                        [&] { return name + ": more face lines than whole faces in the section"; });
        verdict.require(row.meshfacelength >= 0 && row.meshvertexlength >= 0 &&
                            inside(row.meshfacestart, row.meshfacelength, size) &&
                            inside(row.meshvertexstart, row.meshvertexlength, size),
                        [&] { return name + ": a section outside the file"; });
    }
}

}  // namespace

std::string extractBytes(const std::uint8_t* data, std::size_t size) {
    Verdict verdict;
    RecordingHost host;
    ExtractSettings settings;
    settings.outputParent = "/v2bsp-fuzz-output";
    CheckingFiles files(settings.outputParent, verdict);
    settings.files = &files;
    // Every input the fuzzer makes is small and takes all three formats. The
    // worst maps of 64 MiB replay here under the two-second limit of the
    // extraction's own work with the mesh files alone; the bounded-work test
    // runs them with every format.
    const bool whole_level = size <= kLevelFilesUpTo;
    settings.formats = {.meshes = true, .obj = whole_level, .glb = whole_level};
    MapExtraction state;
    const ExtractResult result = state.extractmap(ByteView(data, size), "fuzz.map", host, settings);
    switch (result.status) {
        case ExtractStatus::failed:
            checkFailedRun(host, files, verdict);
            break;
        case ExtractStatus::complete:
        case ExtractStatus::incomplete:
            checkFinishedRun(state, result, host, files, size, verdict);
            break;
        case ExtractStatus::stopped:
            verdict.fail("the run stopped though the host never asked it to");
            break;
    }
    return verdict.text();
}

}  // namespace v2bsp::fuzz
