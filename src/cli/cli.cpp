#include "cli/cli.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "extract/extractmap.hpp"
#include "platform/utf8path.hpp"
#include "version.hpp"

namespace v2bsp {
namespace {

constexpr std::string_view kProgram = "v2bsp-extract";

struct Settings {
    std::string outputParent = ".";
    bool quiet = false;
    bool listTags = false;
    std::vector<std::string> formats{"meshes"};
    std::string upaxis = "y";
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::string> maps;
};

constexpr std::string_view kFormatNames[] = {"meshes", "obj", "glb"};

// The names of one --format list, split at its commas.
std::vector<std::string_view> formatNames(std::string_view list) {
    std::vector<std::string_view> names;
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        names.push_back(list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) return names;
        start = comma + 1;
    }
}

// What is wrong with one --format list, or nothing.
std::string formatListProblem(std::string& list) {
    for (const std::string_view name : formatNames(list)) {
        if (std::find(std::begin(kFormatNames), std::end(kFormatNames), name) != std::end(kFormatNames)) continue;
        const std::string known = "{meshes,obj,glb}";
        if (name.empty()) return "\"" + list + "\" holds an empty name; a LIST takes names from " + known;
        return std::string(name) + " not in " + known;
    }
    return {};
}

OutputFormats chosenFormats(const std::vector<std::string>& lists) {
    OutputFormats formats;
    formats.meshes = false;
    for (const std::string& list : lists) {
        for (const std::string_view name : formatNames(list)) {
            formats.meshes |= name == "meshes";
            formats.obj |= name == "obj";
            formats.glb |= name == "glb";
        }
    }
    return formats;
}

// `text` (UTF-8) with each control character (U+0000-U+001F, U+007F-U+009F)
// written as \x and its code in two upper-case hex digits, so that a tag name
// is one line and no byte of it commands the terminal.
std::string visibleText(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string visible;
    visible.reserve(text.size());
    const auto escape = [&](unsigned code) {
        visible += "\\x";
        visible += kDigits[code >> 4];
        visible += kDigits[code & 15];
    };
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto code = static_cast<unsigned char>(text[at]);
        const auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0u;
        if (code < 0x20 || code == 0x7F) {
            escape(code);
        } else if (code == 0xC2 && next >= 0x80 && next <= 0x9F) {
            escape(next);
            ++at;
        } else {
            visible += text[at];
        }
    }
    return visible;
}

// Standard output and the reason of its first failed write. The reason is
// taken right after the write: what the run does next changes errno.
class Output {
public:
    explicit Output(std::ostream& stream) : stream_(stream) {}
    std::ostream& stream() { return stream_; }
    void check() {
        if (error_ == 0 && !stream_) error_ = errno != 0 ? errno : EIO;
    }
    int error() const { return error_; }

private:
    std::ostream& stream_;
    int error_ = 0;
};

// Log lines and tag names to standard output, failures to standard error.
class ConsoleHost final : public ExtractHost {
public:
    ConsoleHost(Output& out, std::ostream& err, std::string map, bool showlog)
        : out_(out), err_(err), map_(std::move(map)), showlog_(showlog) {}

    void logline(std::string_view line) override {
        if (showlog_) print(line);
    }
    // Without the log, lines of missing output still reach the user.
    void logProblem(std::string_view line) override {
        if (showlog_) {
            print(line);
        } else {
            // One write a line: standard error is unbuffered, and a damaged map may skip many meshes.
            std::string text;
            text.reserve(kProgram.size() + map_.size() + line.size() + 5);
            text.append(kProgram).append(": ").append(map_).append(": ").append(line).append("\n");
            err_ << text;
        }
    }
    void addTagName(std::string_view name) override {
        if (!showlog_ && listing_) print(visibleText(name));
    }
    void mapFailed(const MapFailure& failure) override {
        out_.stream().flush();
        out_.check();
        err_ << kProgram << ": " << map_ << ": " << failure.message << ": " << failure.reason << "\n";
    }
    void listTags() { listing_ = true; }

private:
    void print(std::string_view line) {
        out_.stream() << line << '\n';
        out_.check();
    }

    Output& out_;
    std::ostream& err_;
    std::string map_;
    bool showlog_;
    bool listing_ = false;
};

// A failed write to standard output is the command's failure too.
int checkedOutput(int status, Output& out, std::ostream& err) {
    out.stream().flush();
    out.check();
    if (out.error() != 0) {
        err << kProgram << ": write error: " << std::strerror(out.error()) << '\n';
        return kExitIncomplete;
    }
    return status;
}

int listTags(const Settings& settings, Output& out, std::ostream& err) {
    ConsoleHost host(out, err, settings.maps.front(), false);
    host.listTags();
    ExtractSettings extract;
    extract.until = ExtractUntil::tags;
    const ExtractResult result = extractmap(settings.maps.front(), host, extract);
    return checkedOutput(result.status == ExtractStatus::complete ? kExitComplete : kExitIncomplete, out, err);
}

int extractAll(const Settings& settings, Output& out, std::ostream& err) {
    ExtractSettings extract;
    extract.outputParent = pathFromUtf8(settings.outputParent);
    extract.createOutputParent = true;
    extract.jobs = settings.jobs;
    extract.formats = chosenFormats(settings.formats);
    extract.up = settings.upaxis == "z" ? UpAxis::z : UpAxis::y;
    FolderClaims claims;
    extract.claims = &claims;
    int status = kExitComplete;
    for (const std::string& map : settings.maps) {
        ConsoleHost host(out, err, map, !settings.quiet);
        const ExtractResult result = extractmap(map, host, extract);
        if (result.status != ExtractStatus::complete) status = kExitIncomplete;
    }
    return checkedOutput(status, out, err);
}

// The arguments with each "--NAME=" (nothing after the sign) of an option
// that takes a value split into "--NAME" and an empty value, so that the
// option takes the empty value, as with "--NAME ''", instead of the argument
// after it. Nothing after "--" is split: it holds maps.
std::vector<std::string> withEmptyValues(const CLI::App& app, int argc, const char* const* argv) {
    std::vector<std::string> args;
    bool options = true;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        options = options && arg != "--";
        const CLI::Option* option = nullptr;
        if (options && i > 0 && arg.size() > 3 && arg.starts_with("--") && arg.find('=') == arg.size() - 1) {
            option = app.get_option_no_throw(std::string(arg.substr(0, arg.size() - 1)));
        }
        if (option != nullptr && option->get_items_expected_min() > 0) {
            args.emplace_back(arg.substr(0, arg.size() - 1));
            args.emplace_back();
        } else {
            args.emplace_back(arg);
        }
    }
    return args;
}

// The first argument before any "--" that has the form of an option the
// command does not have ("-x", "--bogus", the "x" of "-qx"), or empty. An
// option's value is skipped, so that a value beginning with a dash is no option.
std::string unknownOption(const CLI::App& app, const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") break;
        if (arg.size() < 2 || arg[0] != '-') continue;
        if (arg[1] == '-') {
            const std::size_t sign = arg.find('=');
            const std::string name = arg.substr(0, sign);
            const CLI::Option* option = app.get_option_no_throw(name);
            if (option == nullptr) return name;
            if (option->get_items_expected_min() > 0 && sign == std::string::npos) ++i;
            continue;
        }
        // Short options, one after another; one that takes a value takes the rest.
        for (std::size_t at = 1; at < arg.size(); ++at) {
            const std::string name = {'-', arg[at]};
            const CLI::Option* option = app.get_option_no_throw(name);
            if (option == nullptr) return name;
            if (option->get_items_expected_min() > 0) {
                if (at + 1 == arg.size()) ++i;
                break;
            }
        }
    }
    return {};
}

}  // namespace

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    Output output(out);
    Settings settings;
    CLI::App app{
        "Extracts the level geometry of Vorun 2 maps: one OBJ file per mesh of the map's\n"
        "first BSP, written to DIR/<map name>/mesh<N>.obj, and the whole level as one OBJ\n"
        "or one binary glTF file.",
        std::string(kProgram)};
    // Options are POSIX-style on every system: "/maps/x.map" is a map, not an option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string(kProgram) + " " + std::string(kVersionText));
    app.add_option("-o,--output", settings.outputParent,
                   "Folder that receives the map's folder (made when a map first writes)")
        ->check(CLI::Validator(
            [](const std::string& folder) { return folder.empty() ? std::string("the folder name is empty") : ""; }, "",
            "DIR"))
        ->capture_default_str()
        ->type_name("DIR");
    app.add_option("--format", settings.formats,
                   "What to write, a comma-separated set of: meshes (DIR/<map name>/mesh<N>.obj),\n"
                   "obj (the whole level, DIR/<map name>.obj), glb (the whole level as binary\n"
                   "glTF, DIR/<map name>.glb)")
        ->allow_extra_args(false)
        ->check(CLI::Validator(formatListProblem, "", "LIST"))
        ->capture_default_str()
        ->type_name("LIST");
    app.add_option("--up-axis", settings.upaxis,
                   "The axis the map stores up; with z the whole-level files turn (x, y, z) into\n"
                   "(x, z, -y) so that Y is up. The mesh files never change")
        ->check(CLI::IsMember({"y", "z"}))
        ->capture_default_str()
        ->type_name("y|z");
    app.add_option("-j,--jobs", settings.jobs,
                   "Write meshes on N threads at once (default: the machine's cores); the log and\n"
                   "the files are those of one thread")
        ->check(CLI::Range(1u, 256u))
        ->type_name("N");
    app.add_flag("-q,--quiet", settings.quiet,
                 "Do not print the progress log; lines of missing output go to standard error");
    app.add_flag("--list-tags", settings.listTags, "Print the map's tag names, one a line, and nothing else");
    app.add_option("MAP", settings.maps, "Map files to extract, in turn")->required()->type_name("MAP");
    app.footer(
        "Exit status: 0 when every map was extracted completely; 1 when a map failed or\n"
        "output is missing (a file not written, a mesh skipped, a mesh table cut short);\n"
        "2 for a usage error.");

    const std::vector<std::string> args = withEmptyValues(app, argc, argv);
    std::vector<const char*> argPointers;
    for (const std::string& arg : args) argPointers.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argPointers.size()), argPointers.data());
        if (settings.listTags && settings.maps.size() != 1) {
            throw CLI::ValidationError("--list-tags", "takes exactly one MAP");
        }
        for (const char* option : {"--output", "--format", "--up-axis", "--jobs"}) {
            if (settings.listTags && app.count(option) > 0) {
                throw CLI::ValidationError("--list-tags takes only a MAP; " + std::string(option) +
                                           " cannot be given with it");
            }
        }
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return checkedOutput(kExitComplete, output, err);
    } catch (const CLI::CallForVersion&) {
        out << app.version() << '\n';
        return checkedOutput(kExitComplete, output, err);
    } catch (const CLI::ParseError& failure) {
        const std::string unknown = unknownOption(app, args);
        err << kProgram << ": " << (unknown.empty() ? failure.what() : "unknown option " + unknown) << '\n'
            << "Try '" << kProgram << " --help' for more information.\n";
        return kExitUsage;
    }
    try {
        return settings.listTags ? listTags(settings, output, err) : extractAll(settings, output, err);
    } catch (const std::bad_alloc&) {
        err << kProgram << ": " << std::strerror(ENOMEM) << '\n';
        return kExitIncomplete;
    }
}

}  // namespace v2bsp
