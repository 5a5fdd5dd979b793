#include "app/view3dbehaviour.hpp"

#include <algorithm>
#include <system_error>

#include "app/layout.hpp"
#include "app/texts.hpp"
#include "platform/utf8path.hpp"

namespace v2bsp::app {
namespace {

// The menu's commands by their rows' names.
struct CommandRow {
    std::string_view name;
    void (View3DBehaviour::*run)();
};
constexpr CommandRow kCommands[] = {
    {"saveas", &View3DBehaviour::saveLevelAs},
    {"saveimage", &View3DBehaviour::saveImage},
    {"openfolder", &View3DBehaviour::openFolder},
    {"close", &View3DBehaviour::close},
    {"frameAll", &View3DBehaviour::frameAll},
    {"frameSelected", &View3DBehaviour::frameSelected},
    {"wireframe", &View3DBehaviour::toggleWireframe},
    {"zUp", &View3DBehaviour::toggleZUp},
    {"about", &View3DBehaviour::about},
};

// The commands that need a picture.
constexpr std::string_view kPictureCommands[] = {"saveimage", "frameAll", "frameSelected", "wireframe"};

bool checkedAtStart(std::string_view name) {
    const auto row = std::find_if(std::begin(kView3DMenu), std::end(kView3DMenu),
                                  [name](const MenuItem& item) { return item.name == name; });
    return row != std::end(kView3DMenu) && row->checked;
}

FileFilter filterOf(const FileFilterText& text) {
    return {std::string(text.description), std::string(text.pattern)};
}

}  // namespace

View3DBehaviour::View3DBehaviour(View3DWindow& window, std::string separator)
    : window_(window),
      separator_(std::move(separator)),
      self_(std::make_shared<View3DBehaviour*>(this)),
      wireframe_(checkedAtStart("wireframe")),
      zUp_(checkedAtStart("zUp")) {}

View3DBehaviour::~View3DBehaviour() {
    *self_ = nullptr;
}

void View3DBehaviour::setRenderer(LevelRenderer* renderer) {
    renderer_ = renderer;
    if (renderer_ == nullptr) return;
    renderer_->setWireframe(wireframe_);
    renderer_->camera().setZUp(zUp_);
}

void View3DBehaviour::unavailable(const std::string& reason) {
    renderer_ = nullptr;
    window_.showUnavailable(unavailableText(reason));
    // Z Up stays: Save As writes the level as it says.
    for (const std::string_view name : kPictureCommands) window_.enableCommand(name, false);
}

void View3DBehaviour::showRun(const MapExtraction& extraction, const ExtractResult& result,
                              std::optional<LevelGeometry> decoded) {
    extraction_ = &extraction;
    result_ = result;
    selected_ = -1;
    window_.setTitle(viewTitle(extraction.folderName));
    LevelGeometry level = decoded ? std::move(*decoded) : levelGeometry(extraction.plan);
    window_.setRows(meshRows(level, separator_));
    const LevelCounts counts = levelCounts(level);
    runStatus_ = filesElsewhere_ ? levelStatusText(result, counts, separator_) : statusText(result, counts, separator_);
    say(runStatus_);
    window_.enableCommand("openfolder", !result.outputfolder.empty());
    if (renderer_ == nullptr) return;
    // A new GL context decodes the level again rather than the view keeping a copy.
    const MeshPlan* plan = &extraction.plan;
    renderer_->setLevel(std::move(level), [plan] { return levelGeometry(*plan); });
    renderer_->camera().setZUp(zUp_);
    renderer_->setWireframe(wireframe_);
    window_.redraw();
}

void View3DBehaviour::whenArraysWanted(std::function<void()> wanted) {
    if (renderer_ != nullptr) renderer_->whenArraysWanted(std::move(wanted));
}

void View3DBehaviour::levelArrays(LevelGeometry arrays) {
    if (renderer_ != nullptr && renderer_->setArrays(std::move(arrays))) window_.redraw();
}

bool View3DBehaviour::command(std::string_view name) {
    const auto row = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [name](const CommandRow& command) { return command.name == name; });
    if (row == std::end(kCommands)) return false;
    (this->*row->run)();
    return true;
}

void View3DBehaviour::say(const std::string& text) {
    status_ = text;
    window_.setStatus(text);
}

void View3DBehaviour::changed() {
    if (renderer_ != nullptr) window_.redraw();
}

// The format is the filter's, or the name's when it ends in .obj or .glb.
void View3DBehaviour::saveLevelAs() {
    if (extraction_ == nullptr || saveBox_ == nullptr) return;
    saveBox_->setTitle("Save As");
    saveBox_->setFileName(shownPath(saveLevelSuggestion(result_, extraction_->folderName)));
    saveBox_->setFilters({filterOf(kGlbFilter), filterOf(kObjFilter)});
    saveBox_->showSave();
    std::string name = saveBox_->fileName();
    if (name.empty()) return;
    const bool obj = savesObj(name, saveBox_->selectedFilter() == 1);
    name = withExtension(name, obj ? ".obj" : ".glb");
    const std::error_code failure = extraction_->writeLevel(obj ? LevelFormat::obj : LevelFormat::glb,
                                                            zUp_ ? UpAxis::z : UpAxis::y, pathFromUtf8(name));
    say(failure ? "Could not write " + name + ": " + failure.message() : "Saved " + name + ". " + runStatus_);
}

void View3DBehaviour::saveImage() {
    if (renderer_ == nullptr || saveBox_ == nullptr) return;
    saveBox_->setTitle("Save Image");
    saveBox_->setFileName(saveImageSuggestion(extraction_ != nullptr ? extraction_->folderName : ""));
    saveBox_->setFilters({filterOf(kPngFilter)});
    saveBox_->showSave();
    if (saveBox_->fileName().empty()) return;
    const std::string name = withExtension(saveBox_->fileName(), ".png");
    const std::string failure = window_.writePicture(pathFromUtf8(name));
    say(failure.empty() ? "Saved " + name + ". " + runStatus_ : "Could not write " + name + ": " + failure);
}

// A folder gone since the run is named as such, and the opener is not asked.
// The box says what failed; then the status line is the level's again.
void View3DBehaviour::openFolder() {
    if (result_.outputfolder.empty()) return;
    const std::string folder = shownPath(result_.outputfolder);
    const auto failed = [folder](View3DBehaviour& self, const std::string& failure, bool there) {
        if (failure.empty()) return;
        self.say("Could not open " + folder + " in the file manager");
        if (self.messages_ != nullptr) {
            self.messages_->failed("The folder could not be shown in the file manager.",
                                   there ? failure + "\n\nThe mesh files are in:\n" + folder : failure);
        }
        self.say(self.runStatus_);
    };
    std::error_code unknown;
    if (!std::filesystem::is_directory(result_.outputfolder, unknown)) {
        failed(*this, folderGoneText(folder), false);
        return;
    }
    if (!opener_) return;
    const std::weak_ptr<View3DBehaviour*> alive = self_;
    opener_(result_.outputfolder, [alive, failed](const std::string& failure) {
        const std::shared_ptr<View3DBehaviour*> self = alive.lock();
        if (self != nullptr && *self != nullptr) failed(**self, failure, true);
    });
}

void View3DBehaviour::close() {
    window_.hideWindow();
}

void View3DBehaviour::frameAll() {
    if (renderer_ == nullptr) return;
    renderer_->camera().frameAll();
    changed();
}

void View3DBehaviour::frameSelected() {
    if (renderer_ == nullptr) return;
    renderer_->frameMesh(selected_);
    changed();
}

void View3DBehaviour::toggleWireframe() {
    wireframe_ = !wireframe_;
    window_.checkCommand("wireframe", wireframe_);
    if (renderer_ != nullptr) renderer_->setWireframe(wireframe_);
    changed();
}

void View3DBehaviour::toggleZUp() {
    zUp_ = !zUp_;
    window_.checkCommand("zUp", zUp_);
    if (renderer_ != nullptr) renderer_->camera().setZUp(zUp_);
    changed();
}

void View3DBehaviour::about() {
    if (messages_ != nullptr) messages_->about(kAboutTitle, aboutText());
}

void View3DBehaviour::rowChecked(int row, bool on) {
    if (renderer_ == nullptr) return;
    renderer_->setMeshVisible(row, on);
    changed();
}

void View3DBehaviour::rowSelected(int row) {
    selected_ = row;
    if (renderer_ == nullptr) return;
    renderer_->setHighlighted(row);
    changed();
}

void View3DBehaviour::rowActivated(int row) {
    selected_ = row;
    frameSelected();
}

void View3DBehaviour::picked(int mesh) {
    selected_ = mesh;
    window_.selectRow(mesh);
    renderer_->setHighlighted(mesh);
    changed();
}

void View3DBehaviour::pointerPressed(PointerButton button, Pixel at, bool shift) {
    gestures_.press(button, at, shift);
}

void View3DBehaviour::pointerMoved(Pixel at) {
    if (renderer_ == nullptr || !gestures_.move(renderer_->camera(), at)) return;
    renderer_->setMoving(true);
    changed();
}

void View3DBehaviour::pointerReleased(PointerButton button, Pixel at) {
    const bool click = gestures_.release(button, at);
    if (renderer_ == nullptr) return;
    if (renderer_->moving() && !gestures_.pressed()) {
        renderer_->setMoving(false);
        changed();
    }
    if (click) picked(window_.meshAt(at));
}

void View3DBehaviour::pointerLost() {
    gestures_.cancel();
    if (renderer_ == nullptr || !renderer_->moving()) return;
    renderer_->setMoving(false);
    changed();
}

void View3DBehaviour::doubleClicked() {
    if (renderer_ == nullptr) return;
    gestures_.doubleClick(renderer_->camera());
    changed();
}

void View3DBehaviour::wheelTurned(Pixel at, float notches) {
    if (renderer_ == nullptr) return;
    Gestures::wheel(renderer_->camera(), at, notches);
    changed();
}

bool View3DBehaviour::keyPressed(ViewKey key, bool shift) {
    if (renderer_ == nullptr) return false;
    Gestures::key(renderer_->camera(), key, shift);
    changed();
    return true;
}

}  // namespace v2bsp::app
