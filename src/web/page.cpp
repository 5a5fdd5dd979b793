// The page's host, in its worker: Form1's behaviour (src/app) driven by the
// page's controls, over the map file the page mounts at /map, and writing
// through the page (pagefiles.hpp). The worker's script (worker.js) calls the
// exported functions below and gets what the host says through Module.page.
//
// The worker has one thread: a run goes on it inside Extract's click, and its
// lines are taken once it is over.
#include <emscripten/emscripten.h>
#include <malloc.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/form1behaviour.hpp"
#include "app/texts.hpp"
#include "extract/extraction.hpp"
#include "platform/utf8path.hpp"
#include "web/pagefiles.hpp"

namespace {

using namespace v2bsp;

// What the page is told: an event with up to two texts, and the files.
EM_JS(void, tellPage, (const char* kind, const char* first, std::size_t firstLength, const char* second),
      { Module.page.event(UTF8ToString(kind), UTF8ToString(first, firstLength), UTF8ToString(second)); });
EM_JS(void, fileToPage, (const char* path), { Module.page.fileBegun(UTF8ToString(path)); });
EM_JS(void, pieceToPage, (const std::uint8_t* data, std::size_t length),
      { Module.page.filePiece(HEAPU8.slice(data, data + length)); });
EM_JS(void, fileEndToPage, (std::uint32_t crc), { Module.page.fileEnded(crc >>> 0); });

void tell(const char* kind, std::string_view first = {}, const std::string& second = {}) {
    tellPage(kind, first.data(), first.size(), second.c_str());
}

// The heap the page's build may grow to (MAXIMUM_MEMORY), and what a run
// needs besides the map's bytes: its plan, the log, the pieces on their way.
constexpr std::uint64_t kHeapLimit = std::uint64_t{4} << 30;
constexpr std::uint64_t kRunMargin = std::uint64_t{256} << 20;

// The files go to the page with their CRC-32 when it packs them into a zip,
// worked out here as the pieces pass, off the page's thread.
class PageSink final : public web::OutputSink {
public:
    explicit PageSink(bool checksums = false) : checksums_(checksums) {}
    void folderMade(const std::string& path) override { tell("folder", path); }
    void fileBegun(const std::string& path) override {
        crc_ = 0;
        fileToPage(path.c_str());
    }
    void filePiece(std::string_view bytes) override {
        if (checksums_) crc_ = web::crc32(crc_, bytes);
        pieceToPage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    void fileEnded() override { fileEndToPage(crc_); }

private:
    bool checksums_;
    std::uint32_t crc_ = 0;
};

// The host of the first run of an extraction: its lines and tag names show
// as it goes ("early"), until the run that is answered by the page's writes
// replaces them; the plan's size and a map too large to hold are kept.
class FirstRunHost final : public ExtractHost {
public:
    void logline(std::string_view line) override { tell("early", std::string(line) + "\r\n"); }
    void addTagName(std::string_view name) override { tell("earlyTag", name); }
    void mapFailed(const MapFailure& failure) override { outOfMemory = failure.error.kind() == MapErrorKind::outOfMemory; }
    void meshesPlanned(const MeshPlan& plan) override { tell("planned", std::to_string(plan.meshes.size())); }

    bool outOfMemory = false;
};

class PageWindow final : public app::Form1Window {
public:
    void setText(std::string_view, std::string_view) override {}
    void setEnabled(std::string_view name, bool enabled) override { tell("enabled", name, enabled ? "1" : "0"); }
    void setChecked(std::string_view, bool) override {}
    void setTabStop(std::string_view, bool) override {}
    void setOuterWidth(double) override {}
    void runTimer(std::string_view, bool) override {}
    void appendLog(std::string_view text) override { tell("log", text); }
    void addTagNames(const std::vector<std::string>& names) override {
        for (const std::string& name : names) tell("tag", name);
    }
    void wakeAfter(std::chrono::milliseconds) override { wakeDue = true; }
    void closeNow() override {}
    app::Level3DWindow* makeLevel3DWindow() override { return nullptr; }
    app::Form1Frames frames() const override { return {}; }
    std::string groupSeparator() const override { return separator; }

    std::string separator = ",";
    bool wakeDue = false;
};

class PageMessages final : public app::MessagePresenter {
public:
    void notAMap(const std::string& text, const std::string& reason) override { tell("refused", text, reason); }
    void failed(const std::string& text, const std::string& detail) override { tell("refused", text, detail); }
    void about(const std::string&, const std::string&) override {}
};

// The page never opens File > Open: the map comes from its own button or a drop.
class NoOpenBox final : public app::OpenBox {
public:
    void setFileName(const std::string&) override {}
    void setFilter(const std::vector<app::FileFilter>&) override {}
    void showOpen() override {}
    std::string fileName() const override { return {}; }
};

struct Page {
    PageWindow window;
    bool woken = false;
    app::Form1Behaviour behaviour{window, std::make_unique<NoOpenBox>(), std::make_unique<PageMessages>(),
                                  [this] { woken = true; }};
    web::PageOutcomes outcomes;
    std::uint64_t mapSize = 0;  // of the chosen map's file
};

Page& page() {
    static Page instance;
    return instance;
}

std::string tooLargeText(std::uint64_t size, const std::string& separator) {
    return "This map is too large for the browser (" + app::grouped(static_cast<std::int64_t>(size), separator) +
           " bytes); v2bsp-extract handles it";
}

std::vector<std::string> splitNames(std::string_view joined) {
    std::vector<std::string> names;
    while (!joined.empty()) {
        const std::size_t end = joined.find('/');
        names.emplace_back(joined.substr(0, end));
        if (end == std::string_view::npos) break;
        joined.remove_prefix(end + 1);
    }
    return names;
}

}  // namespace

extern "C" {

// Once, before anything else: the log's thousands separator, the page's
// locale's; the 3D View is the page's own, so the run decodes no level for it.
EMSCRIPTEN_KEEPALIVE void v2bspBegin(const char* separator) {
    Page& p = page();
    p.window.separator = separator;
    p.behaviour.begin();
    if (p.behaviour.level3DChecked()) p.behaviour.menu("mnu3dwindow");
}

// A map chosen: `path` is where the page mounted it, `size` its length. A map
// larger than the heap can still take is refused here, before any copy.
EMSCRIPTEN_KEEPALIVE void v2bspChoose(const char* path, double size) {
    Page& p = page();
    const std::uint64_t used = static_cast<std::uint64_t>(mallinfo().uordblks);
    const std::uint64_t length = static_cast<std::uint64_t>(size);
    p.mapSize = length;
    const std::uint64_t room = kHeapLimit - std::min(kHeapLimit, used + kRunMargin);
    // A map the core refuses whatever its memory (over 2 GiB) is refused by the core's own words.
    if (length > room && length <= 0x7FFFFFFFu) {
        p.window.setEnabled("Command1", false);
        tell("tooLarge", tooLargeText(length, p.window.separator));
        return;
    }
    p.behaviour.chooseMap(path);
}

// The first run of an extraction into `parent` (the name the page shows for
// the folder the files go to): its files go to the page, with their CRC-32
// when `zip`. Tells "produced" with the map's folder name, or "tooLarge" when
// its bytes could not be held.
EMSCRIPTEN_KEEPALIVE void v2bspProduce(const char* parent, int zip) {
    Page& p = page();
    PageSink sink(zip != 0);
    web::PostingFiles files(parent, sink);
    FirstRunHost host;
    std::string folder;
    {
        MapExtraction extraction;
        extraction.extractmap(p.behaviour.mappath(), host,
                              app::windowRunSettings(parent, pathFromUtf8(p.behaviour.mappath()), {}, &files));
        folder = extraction.folderName;
    }
    // The browser would not give the heap the room: the map's bytes were
    // never held, so the run the user sees would fail the same way.
    if (host.outOfMemory) {
        tell("tooLarge", tooLargeText(p.mapSize, p.window.separator));
        return;
    }
    p.outcomes.clear();
    tell("produced", folder);
}

// What the page did with the first run's output, one call a path.
EMSCRIPTEN_KEEPALIVE void v2bspMade(const char* path) {
    page().outcomes.made(path);
}
EMSCRIPTEN_KEEPALIVE void v2bspExistsAsFile(const char* path) {
    page().outcomes.existsAsFile(path);
}
EMSCRIPTEN_KEEPALIVE void v2bspFailed(const char* path, const char* reason) {
    page().outcomes.failed(path, reason);
}
// `names`: the file names apart by "/", which no name holds.
EMSCRIPTEN_KEEPALIVE void v2bspListed(const char* path, const char* names) {
    page().outcomes.listed(path, splitNames(names));
}

// Extract, as the user sees it: Form1's run, answered by the page's outcomes.
// Tells "ended" with the run's status: complete, incomplete, failed or stopped.
EMSCRIPTEN_KEEPALIVE void v2bspExtract(const char* parent) {
    Page& p = page();
    web::AnsweringFiles files(parent, p.outcomes);
    p.behaviour.setOutput({parent, {}, &files});
    p.woken = false;
    p.window.wakeDue = false;
    p.behaviour.click("Command1");
    if (p.woken) p.behaviour.runWoken();
    while (p.window.wakeDue) {
        p.window.wakeDue = false;
        p.behaviour.takeRunEvents();
    }
    p.behaviour.setOutputFiles(nullptr);
    constexpr const char* kStatus[] = {"complete", "incomplete", "failed", "stopped"};
    tell("ended", kStatus[static_cast<int>(p.behaviour.lastResult().status)]);
}

// The whole-level file of the chosen map, byte for byte what v2bsp-extract
// --format obj|glb [--up-axis z] writes; it goes to the page as a file, or
// "levelFailed" tells why not. Made from the plan of the last extraction
// (the page offers it only after one), whose map is still held.
EMSCRIPTEN_KEEPALIVE void v2bspLevel(int glb, int upZ) {
    const MapExtraction* last = page().behaviour.lastExtraction();
    if (last == nullptr) {
        tell("levelFailed", "Extract the map first");
        return;
    }
    PageSink sink;
    web::PostingFiles files(".", sink);
    const LevelFormat format = glb != 0 ? LevelFormat::glb : LevelFormat::obj;
    const std::string name = levelFileName(last->folderName, format);
    const std::error_code error = last->writeLevel(format, upZ != 0 ? UpAxis::z : UpAxis::y, name, &files);
    if (error) tell("levelFailed", "Could not write " + name + ": " + error.message());
}

}  // extern "C"
