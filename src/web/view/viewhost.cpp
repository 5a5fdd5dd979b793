// The browser page's 3D View: the third host of the 3D View's behaviour and
// renderer (src/app), on the page's main thread over a WebGL2 canvas. view.js
// makes the canvas, the list, the status line and the buttons, turns their
// events into the calls below, and carries out what the behaviour asks
// through its host object (the page* functions of the module's JS). One
// module instance a view, one thread.
//
// showMap runs the core over the map's bytes as the windows' runs do, but
// writes nothing: the page's own run (its worker) writes the files, so the
// status line speaks of the level alone (View3DBehaviour::setFilesElsewhere).
#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/dialogs.hpp"
#include "app/layout.hpp"
#include "app/level.hpp"
#include "app/renderer.hpp"
#include "app/texts.hpp"
#include "app/view3dbehaviour.hpp"
#include "extract/extraction.hpp"
#include "platform/outputfiles.hpp"
#include "platform/utf8path.hpp"
#include "platform/workerpool.hpp"

// What the view asks of its page: view.js's host object, reached through the
// module the view was made with.
// clang-format off
EM_JS(void, pageSetTitle, (const char* title), { Module.viewHost.setTitle(UTF8ToString(title)); });
EM_JS(void, pageSetRows, (const char* rows), { Module.viewHost.setRows(JSON.parse(UTF8ToString(rows))); });
EM_JS(void, pageSelectRow, (int row), { Module.viewHost.selectRow(row); });
EM_JS(void, pageSetStatus, (const char* text), { Module.viewHost.setStatus(UTF8ToString(text)); });
EM_JS(void, pageEnableCommand, (const char* name, int on), { Module.viewHost.enableCommand(UTF8ToString(name), !!on); });
EM_JS(void, pageCheckCommand, (const char* name, int on), { Module.viewHost.checkCommand(UTF8ToString(name), !!on); });
EM_JS(void, pageShowUnavailable, (const char* text), { Module.viewHost.showUnavailable(UTF8ToString(text)); });
EM_JS(void, pageRedraw, (), { Module.viewHost.redraw(); });
// The view's canvas, by the name the context is made for.
EM_JS(void, pageNameCanvas, (const char* name), { specialHTMLTargets[UTF8ToString(name)] = Module.viewHost.canvas; });
EM_JS(void, pageDownloadPicture, (const std::uint8_t* rgba, int width, int height, const char* name), {
    Module.viewHost.downloadPicture(HEAPU8.slice(rgba, rgba + width * height * 4), width, height, UTF8ToString(name));
});
// clang-format on

namespace v2bsp::web {
namespace {

using app::gl::Functions;

// The commands of kView3DMenu the page's 3D View offers, in its toolbar's
// order: the page saves the level and has no folder to open or window to close.
constexpr std::string_view kPageCommands[] = {"frameAll", "frameSelected", "wireframe", "zUp", "saveimage"};

// The canvas's name for emscripten_webgl_create_context.
constexpr char kCanvasName[] = "!v2bsp-view";

app::PointerButton buttonOf(int button) {
    return button == 0 ? app::PointerButton::left : button == 1 ? app::PointerButton::middle : app::PointerButton::other;
}

// `text` as a JSON string.
std::string jsonText(std::string_view text) {
    std::string json = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

// The run writes nothing; were it to try, it would be refused.
class NoOutput final : public OutputFiles {
public:
    std::error_code createFolder(const std::filesystem::path&) override {
        return std::make_error_code(std::errc::read_only_file_system);
    }
    std::error_code replaceFile(const std::filesystem::path&, ByteSource&) override {
        return std::make_error_code(std::errc::read_only_file_system);
    }
};

// The page's log is its own run's: this one keeps only a refusal.
class QuietHost final : public ExtractHost {
public:
    void logline(std::string_view) override {}
    void addTagName(std::string_view) override {}
    void mapFailed(const MapFailure& failure) override { refusal = app::notAMapLine(failure.message, failure.reason); }
    std::string refusal;
};

// The browser names the file it downloads: the suggestion is taken as it is.
class DownloadBox final : public app::SaveBox {
public:
    void setTitle(const std::string&) override {}
    void setFileName(const std::string& name) override { name_ = name; }
    void setFilters(const std::vector<app::FileFilter>&) override {}
    void showSave() override {}
    std::string fileName() const override { return name_; }
    int selectedFilter() const override { return 0; }

private:
    std::string name_;
};

}  // namespace

class PageView final : public app::View3DWindow {
public:
    explicit PageView(std::string separator) : behaviour_(*this, std::move(separator)) {
        behaviour_.setSaveBox(std::make_unique<DownloadBox>());
        behaviour_.setFilesElsewhere(true);
    }
    ~PageView() override {
        behaviour_.setRenderer(nullptr);
        if (context_ > 0) {
            emscripten_webgl_make_context_current(context_);
            renderer_.release();
            emscripten_webgl_destroy_context(context_);
        }
    }
    PageView(const PageView&) = delete;
    PageView& operator=(const PageView&) = delete;

    // Makes the WebGL2 context of the page's canvas and the renderer in it,
    // unless the page knows why there is none (`refused`); empty, or why the
    // view cannot draw (shown in its place).
    std::string start(const std::string& refused) {
        std::string failure = refused;
        if (failure.empty()) failure = makeContext();
        if (failure.empty()) failure = app::gl::load(&emscripten_webgl_get_proc_address, gl_);
        if (failure.empty()) failure = renderer_.initialize(gl_);
        if (failure.empty()) {
            behaviour_.setRenderer(&renderer_);
        } else {
            behaviour_.unavailable(failure);
        }
        return failure;
    }

    // The map's bytes run through the core, writing nothing, and its level
    // shown as the windows show a run's; empty, or why it is not shown.
    std::string showMap(ByteView bytes, const std::string& name, bool zUp) {
        ++generation_;
        extraction_ = std::make_unique<MapExtraction>();
        QuietHost host;
        NoOutput files;
        WorkerPool pool(0);
        ExtractSettings settings;
        settings.formats = {false, false, false};
        settings.files = &files;
        settings.pool = &pool;
        const ExtractResult result = extraction_->extractmap(bytes, name, host, settings);
        if (result.status == ExtractStatus::failed) return refuse(host.refusal);
        if (behaviour_.zUp() != zUp) behaviour_.toggleZUp();
        camera().setViewport(cssWidth_, cssHeight_);
        std::optional<app::LevelGeometry> level;
        try {
            level = levelGeometry(extraction_->plan, nullptr, app::LevelDecode::firstPicture);
        } catch (const std::bad_alloc&) {
            return refuse("Not enough memory to show the level of " + name);
        }
        behaviour_.showRun(*extraction_, result, std::move(level));
        // A large level's triangles come after its first picture, as in the windows.
        behaviour_.whenArraysWanted([this, generation = generation_] {
            emscripten_async_call(&PageView::decodeArrays, new Pending{this, generation}, 0);
        });
        return {};
    }

    // Nothing shown, and the status line says why.
    std::string refuse(const std::string& why) {
        clear();
        pageSetStatus(why.c_str());
        return why;
    }

    void clear() {
        ++generation_;
        behaviour_.rowSelected(-1);
        renderer_.setLevel({});
        extraction_.reset();
        pageSetTitle("3D View");
        pageSetRows("[]");
        pageSetStatus("");
        pageRedraw();
    }

    // The view's size in CSS pixels (the camera's) and in the canvas's.
    void resize(int cssWidth, int cssHeight, int width, int height) {
        cssWidth_ = cssWidth, cssHeight_ = cssHeight, width_ = width, height_ = height;
        camera().setViewport(cssWidth, cssHeight);
    }

    // A frame: what the renderer drew (app::Painted), so that the page asks
    // for the next one while a large level's picture comes in parts.
    int paint() {
        if (context_ <= 0 || !behaviour_.available()) return static_cast<int>(app::Painted::nothing);
        emscripten_webgl_make_context_current(context_);
        const app::Painted painted = renderer_.paint({0, width_, height_});
        if (!renderer_.failure().empty() && !renderer_.ready()) behaviour_.unavailable(renderer_.failure());
        return static_cast<int>(painted);
    }

    // The browser took the context away, or gave it back: the level goes
    // to the new one's buffers.
    void contextLost() { renderer_.forget(); }
    void contextRestored() {
        emscripten_webgl_make_context_current(context_);
        const std::string failure = renderer_.initialize(gl_);
        if (!failure.empty()) behaviour_.unavailable(failure);
        pageRedraw();
    }

    app::View3DBehaviour& behaviour() { return behaviour_; }
    std::string& keep(std::string text) { return text_ = std::move(text); }

    // View3DWindow.
    void setTitle(const std::string& title) override { pageSetTitle(title.c_str()); }
    void setRows(const std::vector<app::MeshRow>& rows) override {
        std::string json = "[";
        for (const app::MeshRow& row : rows) {
            if (json.size() > 1) json += ',';
            const auto channel = [](float value) { return std::to_string(static_cast<int>(value * 255.0f + 0.5f)); };
            json += "{\"name\":" + jsonText(row.name) + ",\"vertices\":" + jsonText(row.vertices) +
                    ",\"triangles\":" + jsonText(row.triangles) + ",\"colour\":[" + channel(row.colour.red) + "," +
                    channel(row.colour.green) + "," + channel(row.colour.blue) + "]}";
        }
        pageSetRows((json + "]").c_str());
    }
    void selectRow(int row) override { pageSelectRow(row); }
    void setStatus(const std::string& text) override { pageSetStatus(text.c_str()); }
    void enableCommand(std::string_view name, bool on) override { pageEnableCommand(std::string(name).c_str(), on); }
    void checkCommand(std::string_view name, bool on) override { pageCheckCommand(std::string(name).c_str(), on); }
    void showUnavailable(const std::string& text) override { pageShowUnavailable(text.c_str()); }
    void redraw() override { pageRedraw(); }
    void hideWindow() override {}
    int meshAt(app::Pixel pixel) override {
        if (context_ <= 0) return -1;
        emscripten_webgl_make_context_current(context_);
        return renderer_.meshAt(pixel);
    }
    std::string writePicture(const std::filesystem::path& file) override {
        if (context_ <= 0) return "the view could not be drawn";
        emscripten_webgl_make_context_current(context_);
        const std::vector<std::uint8_t> rgba = renderer_.picture(width_, height_);
        if (rgba.empty()) return "the view could not be drawn";
        pageDownloadPicture(rgba.data(), width_, height_, utf8Text(file.filename()).c_str());
        return {};
    }

private:
    struct Pending {
        PageView* view;
        unsigned generation;
    };

    app::Camera& camera() { return renderer_.camera(); }

    std::string makeContext() {
        pageNameCanvas(kCanvasName);
        EmscriptenWebGLContextAttributes attributes;
        emscripten_webgl_init_context_attributes(&attributes);
        attributes.majorVersion = 2;
        attributes.minorVersion = 0;
        attributes.depth = true;
        // A part of a large level's picture is blitted into the canvas, which
        // a multisampled one refuses; the picture stays between frames.
        attributes.antialias = false;
        attributes.preserveDrawingBuffer = true;
        context_ = emscripten_webgl_create_context(kCanvasName, &attributes);
        if (context_ <= 0) return "this browser gives the page no WebGL2";
        emscripten_webgl_make_context_current(context_);
        return {};
    }

    // The level's positions and indices, for the level shown without them;
    // none when memory runs out, so that the renderer decodes them itself.
    static void decodeArrays(void* argument) {
        const std::unique_ptr<Pending> pending(static_cast<Pending*>(argument));
        PageView& view = *pending->view;
        if (pending->generation != view.generation_ || view.extraction_ == nullptr) return;
        app::LevelGeometry arrays;
        try {
            arrays = app::levelGeometry(view.extraction_->plan);
        } catch (const std::bad_alloc&) {
            arrays = {};
        }
        view.behaviour_.levelArrays(std::move(arrays));
    }

    app::View3DBehaviour behaviour_;
    app::LevelRenderer renderer_;
    Functions gl_;
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context_ = 0;
    std::unique_ptr<MapExtraction> extraction_;
    unsigned generation_ = 0;  // of the level shown, so that a late decoding of another is dropped
    int cssWidth_ = 1, cssHeight_ = 1, width_ = 1, height_ = 1;
    std::string text_;  // the last text handed to the page
};

}  // namespace v2bsp::web

using v2bsp::web::PageView;

// The page's calls (view.js). Texts are UTF-8; a text returned stays valid
// until the view's next call that returns one.
extern "C" {

EMSCRIPTEN_KEEPALIVE PageView* v2bspViewCreate(const char* separator) {
    return new PageView(separator);
}

// `refused`: why the page already knows there is no WebGL2, or empty.
EMSCRIPTEN_KEEPALIVE const char* v2bspViewStart(PageView* view, const char* refused) {
    return view->keep(view->start(refused)).c_str();
}

// The commands the page offers, as JSON: name, caption, shortcut,
// alternate shortcut, whether it is a toggle and checked, and its tip.
EMSCRIPTEN_KEEPALIVE const char* v2bspViewCommands(PageView* view) {
    std::string json = "[";
    for (const std::string_view name : v2bsp::web::kPageCommands) {
        for (const v2bsp::app::MenuItem& item : v2bsp::app::kView3DMenu) {
            if (item.name != name) continue;
            if (json.size() > 1) json += ',';
            using v2bsp::web::jsonText;
            json += "{\"name\":" + jsonText(item.name) + ",\"caption\":" + jsonText(v2bsp::app::toolbarText(item)) +
                    ",\"shortcut\":" + jsonText(item.shortcut) + ",\"alternate\":" + jsonText(item.alternate) +
                    ",\"checkable\":" + (item.checkable ? "true" : "false") +
                    ",\"checked\":" + (item.checked ? "true" : "false") + ",\"tip\":" + jsonText(item.tooltip) + "}";
        }
    }
    return view->keep(json + "]").c_str();
}

EMSCRIPTEN_KEEPALIVE const char* v2bspViewShowMap(PageView* view, const std::uint8_t* bytes, std::size_t size,
                                                  const char* name, int zUp) {
    return view->keep(view->showMap({bytes, size}, name, zUp != 0)).c_str();
}

EMSCRIPTEN_KEEPALIVE void v2bspViewClear(PageView* view) {
    view->clear();
}

EMSCRIPTEN_KEEPALIVE void v2bspViewResize(PageView* view, int cssWidth, int cssHeight, int width, int height) {
    view->resize(cssWidth, cssHeight, width, height);
}

EMSCRIPTEN_KEEPALIVE int v2bspViewPaint(PageView* view) {
    return view->paint();
}

EMSCRIPTEN_KEEPALIVE void v2bspViewContextLost(PageView* view) {
    view->contextLost();
}

EMSCRIPTEN_KEEPALIVE void v2bspViewContextRestored(PageView* view) {
    view->contextRestored();
}

EMSCRIPTEN_KEEPALIVE int v2bspViewCommand(PageView* view, const char* name) {
    return view->behaviour().command(name) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void v2bspViewRowChecked(PageView* view, int row, int on) {
    view->behaviour().rowChecked(row, on != 0);
}

EMSCRIPTEN_KEEPALIVE void v2bspViewRowSelected(PageView* view, int row) {
    view->behaviour().rowSelected(row);
}

EMSCRIPTEN_KEEPALIVE void v2bspViewRowActivated(PageView* view, int row) {
    view->behaviour().rowActivated(row);
}

// `button`: 0 left, 1 middle, else other, as the DOM numbers them.
EMSCRIPTEN_KEEPALIVE void v2bspViewPointerPressed(PageView* view, int button, int x, int y, int shift) {
    view->behaviour().pointerPressed(v2bsp::web::buttonOf(button), {x, y}, shift != 0);
}

EMSCRIPTEN_KEEPALIVE void v2bspViewPointerMoved(PageView* view, int x, int y) {
    view->behaviour().pointerMoved({x, y});
}

EMSCRIPTEN_KEEPALIVE void v2bspViewPointerReleased(PageView* view, int button, int x, int y) {
    view->behaviour().pointerReleased(v2bsp::web::buttonOf(button), {x, y});
}

EMSCRIPTEN_KEEPALIVE void v2bspViewPointerLost(PageView* view) {
    view->behaviour().pointerLost();
}

EMSCRIPTEN_KEEPALIVE void v2bspViewDoubleClicked(PageView* view) {
    view->behaviour().doubleClicked();
}

EMSCRIPTEN_KEEPALIVE void v2bspViewWheel(PageView* view, int x, int y, float notches) {
    view->behaviour().wheelTurned({x, y}, notches);
}

// `key`: 0 left, 1 right, 2 up, 3 down, 4 zoom in, 5 zoom out (app::ViewKey).
EMSCRIPTEN_KEEPALIVE int v2bspViewKey(PageView* view, int key, int shift) {
    if (key < 0 || key > 5) return 0;
    return view->behaviour().keyPressed(static_cast<v2bsp::app::ViewKey>(key), shift != 0) ? 1 : 0;
}

}  // extern "C"
