// Form1 on Windows: the window of v2bsp.exe. File > Open chooses a map,
// Extract runs the extraction on a thread of its own, the log shows every
// stage, and the slide button widens the window to show the map's tag names.
//
// Its layout, slide, run protocol, texts and output-folder policy are those
// of src/app, shared with the Linux window; this is the Win32 host of them.
// Controls are placed from their twips at the window's dots per inch and
// placed again when the window moves to a monitor of another dpi. The user
// cannot resize the window.
//
// While a run goes on, the window answers as usual: the lines the run queues
// are shown when the window takes them (on kMsgRunPending at most every
// app::kYieldInterval, and on a timer while more is queued, so that input
// and painting come first); File > Open, a
// dropped map and Extract are refused; closing ends the run at its next log
// line, and the window closes when the run has returned.
//
// When a run has gone to its end and View > 3D Window is checked, the 3D
// View opens (or is refilled) with the meshes it wrote; closing the 3D View
// unchecks it, and checking it again shows it as it was left.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/extractrun.hpp"
#include "app/layout.hpp"
#include "app/level.hpp"
#include "app/outputpolicy.hpp"
#include "app/slide.hpp"
#include "extract/extraction.hpp"
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

class Form1 final : public Wnd, private app::RunWindow {
public:
    Form1();
    ~Form1() override;

    // Makes the window, hidden, with every control in its start state.
    bool create();

    // Seams. The defaults are the common dialogs and message boxes, the
    // program's folder as the output parent and the real file system.
    void setOpenBox(std::unique_ptr<OpenBox> box) { openbox_ = std::move(box); }
    void setMessagePresenter(std::unique_ptr<MessagePresenter> presenter);
    void setOutputParent(const std::filesystem::path& folder) { outputParent_ = folder; }
    void setOutputFiles(OutputFiles* files) { files_ = files; }
    void setGlProbe(GlProbe probe) { glProbe_ = std::move(probe); }

    // `path` (UTF-8) becomes the map, as if chosen by File > Open (the
    // command line's MAP and a dropped file). Ignored while a run goes on.
    // A path that names no regular file is refused at once with the
    // not-a-map box and its line in the log, and Extract stays disabled.
    void chooseMap(const std::string& path);

    const std::string& mappath() const { return mappath_; }
    double outerWidth() const { return slide_.outerWidth(); }
    const app::Slide& slide() const { return slide_; }
    HMENU menu() const { return menus_.handle(); }
    // The command id of the menu item named `name` ("mnuopen", "mnu3dwindow", ...).
    int commandId(std::string_view name) const { return menus_.id(name); }
    bool running() const { return run_.running(); }
    const ExtractResult& lastResult() const { return lastResult_; }
    View3D* view3d() const { return view3d_.get(); }
    // A control's window by its name in the layout ("datalog", "Command1", ...).
    HWND control(std::string_view name) const;

    // The window's handlers, named as its layout names the controls.
    void mnuopen_Click();
    void Command1_Click();
    void cmdright_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    // Appends `text` and CR LF to the log and puts the caret at its end.
    void logline(std::string_view text) override;
    void show3dWindow(bool shown);
    void showAbout();

protected:
    void onCreate() override;
    void onTimer(UINT_PTR id) override;
    void onDropFiles(HDROP drop) override;
    bool onClose() override;
    void onDestroy() override;
    void onDpiChanged(UINT dpi, const RECT& suggested) override;
    bool onAppMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;
    HWND firstFocus() const override { return datalog_.hwnd; }

private:
    void createControls();
    void createMenus();
    void setShortcuts();
    void setStartState();
    void placeControls();
    void applySlide();
    void setOuterWidth(double twips);

    // What the run reports, taken on kMsgRunPending.
    void addTagName(std::string_view name) override;
    void mapFailed(const MapFailure& failure) override;
    void runEnded(app::RunEnd end) override;
    void runWoken();
    void takeRunPending();
    void showPendingLog();

    void refuse(const std::string& message, const std::string& reason);
    void showLevel(std::optional<app::LevelGeometry> decoded);
    void placeView3d();

    Edit datalog_;
    Button command1_;
    Button cmdright_;
    ListBox list1_;
    Edit txt1_;
    MenuBar menus_{app::kForm1.menu, kFirstMenuCommand};
    HFONT font_ = nullptr;
    std::unique_ptr<OpenBox> openbox_;
    std::unique_ptr<MessagePresenter> messages_;

    app::Slide slide_;
    std::string mappath_;
    std::filesystem::path outputParent_;
    OutputFiles* files_ = nullptr;
    std::atomic<HWND> runWindow_{nullptr};                      // where the run's wake goes; read on the run's thread
    app::Slide::Timer timerRunning_ = app::Slide::Timer::none;  // of the slide's two
    app::ExtractRun run_;
    bool closeWhenStopped_ = false;
    bool taking_ = false;  // the run's reports are being taken
    std::chrono::steady_clock::time_point lastTaken_;
    std::string pendingLog_;  // lines taken, not yet in the log
    ExtractResult lastResult_;
    // The last run that went to its end, for the 3D View; a failed run keeps the one before.
    std::unique_ptr<MapExtraction> extraction_;
    ExtractResult levelResult_;
    int runsToTheEnd_ = 0;  // the 3D View shows the one numbered shownRun_
    int shownRun_ = 0;
    GlProbe glProbe_;
    std::unique_ptr<View3D> view3d_;
};

// The folder of the running program.
std::filesystem::path programFolder();
// The folders programs are installed in (Program Files, the Windows folder):
// mesh files never go there, even for a user who may write there.
app::SystemFolders windowsSystemFolders();

}  // namespace v2bsp::win32
