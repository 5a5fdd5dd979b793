// The 3D View on Windows: a top-level window "<folder> - 3D View" with the
// view (win32/glview.hpp), the mesh list (a list view with a colour swatch
// and a check box in each row: mesh<N>, vertices, triangles), a status line,
// a menu bar made from kView3DMenu and buttons from kView3DToolbar.
//
// What the window does is app::View3DBehaviour's: this class makes the
// controls, turns their messages into the behaviour's calls, and carries out
// what the behaviour asks. Tab moves between the list and the view.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/layout.hpp"
#include "app/level.hpp"
#include "app/level3dwindow.hpp"
#include "app/placement.hpp"
#include "app/view3dbehaviour.hpp"
#include "extract/extraction.hpp"
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
// answers at once with why that failed (the system's reason), or empty.
app::FolderOpener explorerOpener();

// The locale's thousands separator, as UTF-8.
std::string groupSeparator();

class View3D final : public Wnd, public app::Level3DWindow {
public:
    // The size it would like, in pixels at 96 dpi, frame aside.
    static constexpr int kPreferredWidth = app::kView3DWidth;
    static constexpr int kPreferredHeight = app::kView3DHeight;

    explicit View3D(GlProbe probe = {});
    ~View3D() override;

    // Makes the window, hidden.
    bool create();
    // The dialogs and the opener; the system's at first.
    void setSaveBox(std::unique_ptr<app::SaveBox> box) { behaviour_->setSaveBox(std::move(box)); }
    void setFolderOpener(app::FolderOpener opener) { behaviour_->setFolderOpener(std::move(opener)); }
    void setMessagePresenter(std::unique_ptr<app::MessagePresenter> presenter) {
        behaviour_->setMessagePresenter(std::move(presenter));
    }

    // app::Level3DWindow.
    void showRun(const MapExtraction& extraction, const ExtractResult& result,
                 std::optional<app::LevelGeometry> decoded = std::nullopt) override;
    void levelArrays(app::LevelGeometry arrays) override;
    void whenArraysWanted(std::function<void()> wanted) override;
    void show() override;
    void hide() override;
    app::Size preferredFrame() const override;
    void place(const app::Rect& frame) override;

    // Null when the view is unavailable.
    GlView* view() { return view_ != nullptr && view_->ready() ? view_.get() : nullptr; }
    ListView& list() { return list_; }
    HMENU menu() const { return menus_.handle(); }
    // The command id of the menu item named `name` ("saveas", "zUp", ...).
    int commandId(std::string_view name) const { return menus_.id(name); }
    const std::string& statusLine() const { return behaviour_->status(); }
    // "3D view unavailable: <reason>", or empty while the view draws.
    const std::string& unavailableText() const { return unavailable_; }

    // The user closed the window: it is hidden, and keeps what it shows.
    std::function<void()> onClosed;

protected:
    LRESULT windowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;
    void onCreate() override;
    void onSize(int width, int height) override;
    bool onNotify(NMHDR* header, LRESULT& result) override;
    bool onClose() override;
    void onDpiChanged(UINT dpi, const RECT& suggested) override;
    HWND firstFocus() const override { return list_.hwnd; }

private:
    class Window;

    void createToolbar();
    void createControls();
    void connectCommands();
    void setFonts();
    void layout();
    int buttonWidth(const Button& button) const;
    int toolbarWidth() const;
    void showUnavailable(const std::string& text);
    void fillList(const std::vector<app::MeshRow>& rows);
    void measureList();
    void say(const std::string& text);
    void enableCommand(std::string_view name, bool on);
    void checkCommand(std::string_view name, bool on);

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
    std::string unavailable_;
    std::unique_ptr<Window> window_;
    std::unique_ptr<app::View3DBehaviour> behaviour_;
};

}  // namespace v2bsp::win32
