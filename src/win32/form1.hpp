// Form1 on Windows: the window of v2bsp.exe, the Win32 host of Form1's
// behaviour (app/form1behaviour.hpp), which decides what every menu item,
// button and timer does, runs the extraction and shows the 3D View.
//
// This window makes the controls and menus from the layout's rows, placed
// from their twips at the window's dots per inch and placed again when the
// window moves to a monitor of another dpi (the user cannot resize it); it
// turns their messages into calls of the behaviour by the rows' names, and
// carries out what the behaviour asks. The run's wake arrives as
// kMsgRunPending, posted from the run's thread; a take the behaviour puts off
// comes back on a timer, whose message comes only once the window's own
// input and painting are handled.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "app/form1behaviour.hpp"
#include "app/layout.hpp"
#include "app/outputpolicy.hpp"
#include "win32/dialogs.hpp"
#include "win32/menus.hpp"
#include "win32/view3d.hpp"
#include "win32/wingui.hpp"

namespace v2bsp::win32 {

// Command ids of Form1's controls, in tab order; its menu items' follow kFirstMenuCommand.
enum Form1Id : int {
    kFirstMenuCommand = 101,
    kIdDatalog = 201,
    kIdCommand1,
    kIdCmdright,
    kIdList1,
    kIdTxt1,
};
enum Form1Timer : UINT_PTR { kTimer1 = 1, kTimer2 = 2, kTimerTakeMore = 3 };
// Posted at Form1's first paint: the program waits for the user from then.
inline constexpr UINT kMsgFirstShown = WM_APP + 2;

class Form1 final : public Wnd, private app::Form1Window {
public:
    Form1();
    ~Form1() override;

    // Makes the window, hidden, with every control in its start state.
    bool create();

    // Seams. The defaults are the common dialogs and message boxes, the
    // program's folder as the output parent and the real file system.
    void setOpenBox(std::unique_ptr<OpenBox> box) { behaviour_.setOpenBox(std::move(box)); }
    void setMessagePresenter(std::unique_ptr<MessagePresenter> presenter);
    void setOutputParent(const std::filesystem::path& folder);
    void setOutputFiles(OutputFiles* files) { behaviour_.setOutputFiles(files); }
    void setGlProbe(GlProbe probe) { glProbe_ = std::move(probe); }

    // `path` (UTF-8) becomes the map, as if chosen by File > Open.
    void chooseMap(const std::string& path) { behaviour_.chooseMap(path); }

    app::Form1Behaviour& behaviour() { return behaviour_; }
    const std::string& mappath() const { return behaviour_.mappath(); }
    double outerWidth() const { return behaviour_.slide().outerWidth(); }
    const app::Slide& slide() const { return behaviour_.slide(); }
    bool running() const { return behaviour_.running(); }
    const ExtractResult& lastResult() const { return behaviour_.lastResult(); }
    HMENU menu() const { return menus_.handle(); }
    // The command id of the menu item named `name` ("mnuopen", "mnu3dwindow", ...).
    int commandId(std::string_view name) const { return menus_.id(name); }
    View3D* view3d() const { return view3d_.get(); }
    // A control's window by its name in the layout ("datalog", "Command1", ...).
    HWND control(std::string_view name) const;

protected:
    void onCreate() override;
    void onTimer(UINT_PTR id) override;
    bool onPaint() override;
    bool onNotify(NMHDR* header, LRESULT& result) override;
    void onDropFiles(HDROP drop) override;
    bool onClose() override;
    void onDestroy() override;
    void onDpiChanged(UINT dpi, const RECT& suggested) override;
    bool onAppMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;
    HWND firstFocus() const override { return datalog.hwnd; }

private:
    void createControls();
    void connectMenus();
    void placeControls();
    const Control* byName(std::string_view name) const;

    // app::Form1Window
    void setText(std::string_view control, std::string_view text) override;
    void setEnabled(std::string_view name, bool enabled) override;
    void setChecked(std::string_view item, bool checked) override;
    void setTabStop(std::string_view control, bool on) override;
    void setOuterWidth(double twips) override;
    void runTimer(std::string_view timer, bool on) override;
    void appendLog(std::string_view text) override;
    void addTagNames(const std::vector<std::string>& names) override;
    void wakeAfter(std::chrono::milliseconds delay) override;
    void closeNow() override;
    app::Level3DWindow* makeLevel3DWindow() override;
    app::Form1Frames frames() const override;
    std::string groupSeparator() const override { return win32::groupSeparator(); }

    Edit datalog;
    Button Command1;
    Button cmdright;
    ListBox List1;
    Edit Txt1;
    MenuBar menus_{app::kForm1.menu, kFirstMenuCommand};
    HFONT font_ = nullptr;
    // The tag list's tooltip: the name under the mouse, whole.
    struct TagTip {
        HWND tooltip = nullptr;
        int item = -1;      // the item it shows, or -1
        std::wstring text;  // what it shows now
    };
    TagTip tagTip_;
    int listExtent_ = 0;  // the widest tag name, in pixels, for the list's scroll bar
    bool firstPaint_ = true;
    std::atomic<HWND> runWindow_{nullptr};  // where the run's wake goes; read on the run's thread
    GlProbe glProbe_;
    std::unique_ptr<View3D> view3d_;
    // Last, so that it ends first: the run's thread is over before the rest goes.
    app::Form1Behaviour behaviour_;
};

// The folder of the running program.
std::filesystem::path programFolder();
// The folders programs are installed in (Program Files, the Windows folder):
// mesh files never go there, even for a user who may write there.
app::SystemFolders windowsSystemFolders();

}  // namespace v2bsp::win32
