// The 3D View on Windows: a top-level window "<folder> - 3D View" that draws
// a run's level through the shared renderer (app/renderer.hpp) in a WGL 3.3
// core context, lists its meshes (a list view with check boxes: mesh<N>,
// vertices, triangles), says in its status line what the run wrote and what
// is missing, and offers Save As (the whole level as a glb or OBJ, the bytes
// v2bsp-extract.exe --format writes with the view's up axis), Save Image (a
// PNG through WIC) and Open Folder (the Explorer).
//
// Where OpenGL 3.3 cannot be had, the view's place says "3D view
// unavailable: <reason>"; the list, the status line, Save As and Open Folder
// still work.
//
// Every action is in its menu bar with a key (File: Save As... Ctrl+S, Save
// Image... Ctrl+Shift+S, Open Folder Ctrl+E, Close Ctrl+W or Esc; View: Frame
// All F, Frame Selected Shift+F or a double-click on a row, Wireframe W, Z Up
// Z; Help: About v2bsp); the buttons above repeat the first ones for the
// mouse. Tab moves between the list and the view.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/layout.hpp"
#include "app/level.hpp"
#include "app/placement.hpp"
#include "extract/extraction.hpp"
#include "win32/dialogs.hpp"
#include "win32/glview.hpp"
#include "win32/menus.hpp"
#include "win32/wingui.hpp"

namespace v2bsp::win32 {

// Command ids of the 3D View's controls; its menu items' (and toolbar
// buttons') follow kFirstView3DCommand.
enum View3DId : int {
    kFirstView3DCommand = 301,
    kIdView = 401,
    kIdList,
    kIdStatus,
    kIdNotice,
};

// Empty when the view may draw with OpenGL, else why not (a test's way to
// take the unavailable path); none, or an empty answer, and the view finds
// out for itself whether its context can be made.
using GlProbe = std::function<std::string()>;

// Shows `folder` in the Explorer, asking for no box of the shell's own;
// empty, or why that failed (the system's reason).
using FolderOpener = std::function<std::string(const std::filesystem::path& folder)>;
std::string openInExplorer(const std::filesystem::path& folder);

// The locale's thousands separator, as UTF-8.
std::string groupSeparator();

class View3D final : public Wnd {
public:
    // The size it would like, in pixels at 96 dpi, frame aside.
    static constexpr int kPreferredWidth = app::kView3DWidth;
    static constexpr int kPreferredHeight = app::kView3DHeight;

    explicit View3D(GlProbe probe = {});
    ~View3D() override;

    // Makes the window, hidden.
    bool create();
    void setSaveBox(std::unique_ptr<SaveBox> box) { saveBox_ = std::move(box); }
    void setFolderOpener(FolderOpener opener) { opener_ = std::move(opener); }
    void setMessagePresenter(std::unique_ptr<MessagePresenter> presenter) { messages_ = std::move(presenter); }

    // Shows the run's level: `decoded` when given (app::levelGeometry of the
    // run's plan), else decoded here. `extraction` must outlive the window's
    // use of it (until the next showRun or the window's end).
    void showRun(const MapExtraction& extraction, const ExtractResult& result,
                 std::optional<app::LevelGeometry> decoded = std::nullopt);

    void show();
    void hide();
    // The frame it would like at its dpi.
    app::Size preferredFrame() const;
    // Null when the view is unavailable.
    GlView* view() { return view_ != nullptr && view_->ready() ? view_.get() : nullptr; }
    ListView& list() { return list_; }
    HMENU menu() const { return menus_.handle(); }
    // The command id of the menu item named `name` ("saveas", "zUp", ...).
    int commandId(std::string_view name) const { return menus_.id(name); }
    const std::string& statusLine() const { return statusLine_; }
    // "3D view unavailable: <reason>", or empty while the view draws.
    std::string unavailableText() const;

    void openFolder();
    void saveLevelAs();
    void saveImage();
    void frameAll();
    void frameSelected();
    void showWireframe(bool on);
    void showZUp(bool on);
    void showAbout();

    // The user closed the window: it is hidden, and keeps what it shows.
    std::function<void()> onClosed;

protected:
    void onCreate() override;
    void onSize(int width, int height) override;
    bool onNotify(NMHDR* header, LRESULT& result) override;
    bool onClose() override;
    void onDpiChanged(UINT dpi, const RECT& suggested) override;
    HWND firstFocus() const override { return list_.hwnd; }

private:
    void createToolbar();
    void createControls();
    void connectCommands();
    void setFonts();
    void layout();
    void showUnavailable(const std::string& reason);
    void fillList(const app::LevelGeometry& level);
    void measureList();
    void say(const std::string& text);
    void toggle(std::string_view name, void (View3D::*action)(bool));
    void enableCommand(std::string_view name, bool on);

    GlProbe probe_;
    MenuBar menus_{app::kView3DMenu, kFirstView3DCommand};
    HFONT font_ = nullptr;
    // The toolbar's buttons, by the names of their menu items; each has its item's command id.
    std::vector<std::pair<std::string_view, std::unique_ptr<Button>>> toolbar_;
    std::unique_ptr<GlView> view_;
    Label notice_;  // in the view's place when it is unavailable
    ListView list_;
    std::string longest_[3];  // each column's longest text, measured by measureList
    app::ListNeed listNeed_;  // what the list's texts need at this dpi
    int nameWidth_ = 0;       // the name column's longest text, its margins included
    Label status_;
    HWND tooltip_ = nullptr;
    std::string statusLine_;
    std::string runStatus_;
    std::string unavailable_;
    std::unique_ptr<SaveBox> saveBox_;
    std::unique_ptr<MessagePresenter> messages_;
    FolderOpener opener_ = openInExplorer;

    const MapExtraction* extraction_ = nullptr;
    ExtractResult result_;
};

}  // namespace v2bsp::win32
