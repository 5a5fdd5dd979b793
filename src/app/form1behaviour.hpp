// What Form1 does, whatever toolkit shows it: File > Open and the map it
// chooses, Extract and the run's lines, the refused map, the slide, the
// 3D View's making, showing and place, closing during a run.
//
// The window (Qt or Win32) makes the controls and menus from the rows of
// app/layout.hpp, turns its events into calls of Form1Behaviour (by the
// row's name: menu("mnuopen"), click("Command1"), timer("Timer1")), and
// carries out what the behaviour asks through Form1Window. Every text is
// UTF-8. All calls come on the window's thread; the run's own thread only
// calls the `wake` the window hands in, which must post.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/dialogs.hpp"
#include "app/extractrun.hpp"
#include "app/level3dwindow.hpp"
#include "app/outputpolicy.hpp"
#include "app/placement.hpp"
#include "app/slide.hpp"

namespace v2bsp::app {

// Where Form1 stands, as the window system has it, for placing the 3D View:
// in the host's window coordinates.
struct Form1Frames {
    Rect available;       // the screen's available area
    Rect frame;           // Form1's frame now
    int clientWidth = 0;  // Form1's client width now
    double dpi = 96;      // the dots per inch the layout's twips are turned at
};

// What the behaviour asks of Form1's window. Names are the layout's rows.
class Form1Window {
public:
    virtual ~Form1Window() = default;
    // The text of a control ("cmdright", "Txt1").
    virtual void setText(std::string_view control, std::string_view text) = 0;
    // Enables or disables a control ("Command1") or a menu item ("mnuopen").
    virtual void setEnabled(std::string_view name, bool enabled) = 0;
    // Checks a checkable menu item, without that reaching the behaviour again.
    virtual void setChecked(std::string_view item, bool checked) = 0;
    // Whether Tab stops at a control ("List1": only while the slide is open).
    virtual void setTabStop(std::string_view control, bool on) = 0;
    // The outer width, frame included; the height never changes.
    virtual void setOuterWidth(double twips) = 0;
    // Starts (at its row's interval) or stops a timer ("Timer1", "Timer2").
    virtual void runTimer(std::string_view timer, bool on) = 0;
    // Appends `text` (lines ending in CR LF) at the log's very end and puts
    // the caret after it, which scrolls it into view.
    virtual void appendLog(std::string_view text) = 0;
    // Adds the names at the tag list's end, in their order.
    virtual void addTagNames(const std::vector<std::string>& names) = 0;
    // Calls takeRunEvents() once after `delay`, after the window's own input
    // and painting; a new ask replaces one not yet answered.
    virtual void wakeAfter(std::chrono::milliseconds delay) = 0;
    // Closes the window for good, asking nothing.
    virtual void closeNow() = 0;
    // Makes the 3D View, hidden; null where it cannot be made. The window
    // owns it and tells the behaviour when the user closes it.
    virtual Level3DWindow* makeLevel3DWindow() = 0;
    virtual Form1Frames frames() const = 0;
    // The locale's thousands separator, for the log's last line.
    virtual std::string groupSeparator() const = 0;
};

// Where a window's runs write and what they write through.
struct Form1Output {
    std::filesystem::path programFolder;
    SystemFolders system;
    OutputFiles* files = nullptr;  // null: the real disk
};

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

// The gap between Form1 and the 3D View: 8 pixels at 96 dpi.
inline constexpr double kViewGapTwips = 120;

class Form1Behaviour final : public RunWindow {
public:
    // `wake`: posts a call of runWoken() to the window's thread; called on
    // the run's thread. `clock`: the time the run's lines are taken by.
    Form1Behaviour(Form1Window& window, std::unique_ptr<OpenBox> openbox, std::unique_ptr<MessagePresenter> messages,
                   std::function<void()> wake, SteadyClock clock = std::chrono::steady_clock::now,
                   WorkerPool::StartThread startThread = {});
    // Stops a run in progress and waits for its thread.
    ~Form1Behaviour() override = default;

    // Shows the start state the behaviour owns: the slide's texts and width.
    void begin();

    void setOpenBox(std::unique_ptr<OpenBox> box) { openbox_ = std::move(box); }
    void setMessagePresenter(std::unique_ptr<MessagePresenter> presenter) { messages_ = std::move(presenter); }
    void setOutput(Form1Output output) { output_ = std::move(output); }
    void setProgramFolder(std::filesystem::path folder) { output_.programFolder = std::move(folder); }
    void setOutputFiles(OutputFiles* files) { output_.files = files; }

    // The events, by the layout row's name. False for a name it has no handler for.
    bool menu(std::string_view item);
    bool click(std::string_view control);
    bool timer(std::string_view timer);
    // `path` (UTF-8) becomes the map, as if chosen by File > Open (the
    // command line's MAP, a dropped file). Ignored during a run. A path that
    // cannot be read as a file is refused at once, and Extract stays disabled.
    void chooseMap(const std::string& path);
    // The user (or the system) asks to close: true when the window may
    // close now; during a run, false, and the run ends at its next line,
    // after which the window is closed.
    bool closeRequested();
    // The run's wake, on the window's thread.
    void runWoken();
    // What wakeAfter asks for: what the run has queued, taken.
    void takeRunEvents();
    // Once Form1 is on the screen and the program waits for the user: the
    // 3D View is made then, when View > 3D Window is checked, so that no
    // run's end waits for it.
    void firstShown();
    // The user closed the 3D View: View > 3D Window is no longer checked.
    void level3DClosed();
    // A 3D View made and never shown is forgotten (the window may make it
    // again another way); false when it was shown, and stays.
    bool forgetUnshownLevel3D();

    // The handlers, named as the layout names the controls.
    void mnuopen_Click();
    void mnuexit_Click();
    void mnu3dwindow_Click();
    void mnuabout_Click();
    void Command1_Click();
    void cmdright_Click();
    void Timer1_Timer();
    void Timer2_Timer();

    // RunWindow: what a run reports. A line outside a run shows at once;
    // during one, when the window takes the run's events.
    void logline(std::string_view line) override;
    void addTagName(std::string_view name) override;
    void mapFailed(const MapFailure& failure) override;
    void runEnded(RunEnd end) override;
    void levelArrays(LevelGeometry arrays) override;

    const std::string& mappath() const { return mappath_; }
    const Slide& slide() const { return slide_; }
    bool running() const { return run_.running(); }
    const ExtractResult& lastResult() const { return lastResult_; }
    // The last run that went to its end (what the 3D View shows); null before one.
    const MapExtraction* lastExtraction() const { return extraction_.get(); }
    bool level3DChecked() const { return level3DChecked_; }
    Level3DWindow* level3D() const { return view_; }

private:
    void applySlide();
    void showPending();
    void refuse(const std::string& message, const std::string& reason);
    void show3dWindow(bool shown);
    void showLevel(std::optional<LevelGeometry> decoded);
    void placeLevel3D();

    Form1Window& window_;
    std::unique_ptr<OpenBox> openbox_;
    std::unique_ptr<MessagePresenter> messages_;
    SteadyClock clock_;
    Form1Output output_;

    Slide slide_;
    std::string_view shownCaption_, shownState_;  // what the window shows of the slide (the slide's own texts)
    Slide::Timer timerRunning_ = Slide::Timer::none;
    bool listTabStop_ = false;

    std::string mappath_;
    bool level3DChecked_ = true;
    bool closeWhenStopped_ = false;
    bool closePending_ = false;  // the run stopped for a close: close once its events are taken
    bool taking_ = false;        // the run's events are being taken
    std::optional<std::chrono::steady_clock::time_point> lastTaken_;  // none since the run started
    std::string pendingLog_;                                          // lines taken, not yet in the log
    std::vector<std::string> pendingTags_;                            // names taken, not yet in the list
    ExtractResult lastResult_;
    // The last run that went to its end, for the 3D View; a failed run keeps the one before.
    std::unique_ptr<MapExtraction> extraction_;
    bool arraysAwaited_ = false;  // the 3D View shows the last run's level without its arrays
    ExtractResult levelResult_;
    int runsToTheEnd_ = 0;  // the 3D View shows the one numbered shownRun_
    int shownRun_ = 0;
    Level3DWindow* view_ = nullptr;
    bool placed_ = false;  // the 3D View has been placed, at its first showing
    // Last, so that it ends first: its thread is over before the rest goes.
    ExtractRun run_;
};

}  // namespace v2bsp::app
