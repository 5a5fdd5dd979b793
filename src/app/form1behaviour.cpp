#include "app/form1behaviour.hpp"

#include <algorithm>
#include <system_error>

#include "app/layout.hpp"
#include "app/texts.hpp"
#include "platform/mapfile.hpp"
#include "platform/utf8path.hpp"

namespace v2bsp::app {

namespace {

template <typename Handler>
struct Entry {
    std::string_view name;
    Handler handler;
};
using Handler = void (Form1Behaviour::*)();

// One row each: a new menu item is its row in the layout and its handler here.
constexpr Entry<Handler> kMenuHandlers[] = {
    {"mnuopen", &Form1Behaviour::mnuopen_Click},
    {"mnuexit", &Form1Behaviour::mnuexit_Click},
    {"mnu3dwindow", &Form1Behaviour::mnu3dwindow_Click},
    {"mnuabout", &Form1Behaviour::mnuabout_Click},
};
constexpr Entry<Handler> kControlHandlers[] = {
    {"Command1", &Form1Behaviour::Command1_Click},
    {"cmdright", &Form1Behaviour::cmdright_Click},
};
constexpr Entry<Handler> kTimerHandlers[] = {
    {"Timer1", &Form1Behaviour::Timer1_Timer},
    {"Timer2", &Form1Behaviour::Timer2_Timer},
};

template <std::size_t N>
bool dispatch(Form1Behaviour& behaviour, const Entry<Handler> (&table)[N], std::string_view name) {
    const auto found =
        std::find_if(std::begin(table), std::end(table), [name](const auto& e) { return e.name == name; });
    if (found == std::end(table)) return false;
    (behaviour.*(found->handler))();
    return true;
}

}  // namespace

Form1Behaviour::Form1Behaviour(Form1Window& window, std::unique_ptr<OpenBox> openbox,
                               std::unique_ptr<MessagePresenter> messages, std::function<void()> wake,
                               SteadyClock clock, WorkerPool::StartThread startThread)
    : window_(window),
      openbox_(std::move(openbox)),
      messages_(std::move(messages)),
      clock_(std::move(clock)),
      level3DChecked_(findMenuItem(kForm1, "mnu3dwindow")->checked),
      run_(std::move(wake), std::move(startThread)) {}

void Form1Behaviour::begin() {
    window_.setTabStop("List1", false);
    applySlide();
}

bool Form1Behaviour::menu(std::string_view item) {
    return dispatch(*this, kMenuHandlers, item);
}

bool Form1Behaviour::click(std::string_view control) {
    return dispatch(*this, kControlHandlers, control);
}

bool Form1Behaviour::timer(std::string_view timer) {
    return dispatch(*this, kTimerHandlers, timer);
}

// A path that is a regular file is taken as it is; any other is read, so
// that the reason shown is the one the run itself would give (and a path
// the file system's status cannot name, a long one, is still taken when the
// read succeeds).
void Form1Behaviour::chooseMap(const std::string& path) {
    if (running()) return;
    mappath_ = path;
    const std::filesystem::path file = pathFromUtf8(path);
    std::error_code ignored;
    if (std::filesystem::is_regular_file(file, ignored)) {
        window_.setEnabled("Command1", true);
        return;
    }
    window_.setEnabled("Command1", false);
    try {
        loadMapFile(file);
        window_.setEnabled("Command1", true);
    } catch (const MapError& refused) {
        refuse(std::string(kNotAMapMessage), refused.what());
    }
}

// The box, then the same reason in the log, where it stays once the box is gone.
void Form1Behaviour::refuse(const std::string& message, const std::string& reason) {
    messages_->notAMap(message, reason);
    logline(notAMapLine(message, reason));
}

void Form1Behaviour::mnuopen_Click() {
    if (running()) return;
    openbox_->setFileName({});
    openbox_->setFilter(mapFilters());
    openbox_->showOpen();
    mappath_ = openbox_->fileName();
    window_.setEnabled("Command1", true);
}

void Form1Behaviour::mnuexit_Click() {
    if (closeRequested()) window_.closeNow();
}

void Form1Behaviour::mnu3dwindow_Click() {
    level3DChecked_ = !level3DChecked_;
    window_.setChecked("mnu3dwindow", level3DChecked_);
    show3dWindow(level3DChecked_);
}

void Form1Behaviour::mnuabout_Click() {
    messages_->about(kAboutTitle, aboutText());
}

// Extract: the run goes on its own thread and this returns at once; File >
// Open and Extract stay disabled until it ends.
void Form1Behaviour::Command1_Click() {
    if (running()) return;
    window_.setEnabled("Command1", false);
    RunRequest request;
    request.path = mappath_;
    request.settings = windowRunSettings(output_.programFolder, pathFromUtf8(mappath_), output_.system, output_.files);
    request.decodeLevel = level3DChecked_;
    closeWhenStopped_ = false;
    closePending_ = false;
    lastTaken_.reset();
    // The last level's arrays, if still to come, are dropped by the start:
    // the view takes them from the plan itself when it needs them.
    if (arraysAwaited_) levelArrays({});
    if (!run_.start(std::move(request))) return;
    // The run may have gone on this thread, inside start(), and ended.
    if (running()) window_.setEnabled("mnuopen", false);
}

void Form1Behaviour::cmdright_Click() {
    slide_.click();
    applySlide();
}

void Form1Behaviour::Timer1_Timer() {
    slide_.wideningTick();
    applySlide();
}

void Form1Behaviour::Timer2_Timer() {
    slide_.narrowingTick();
    applySlide();
}

// A tick changes the width only; the texts change at a click, the running
// timer at a click or the slide's end. Each is set when it changes, so the
// button is not repainted nor the timer restarted at every tick.
void Form1Behaviour::applySlide() {
    if (shownCaption_ != slide_.caption()) {
        shownCaption_ = slide_.caption();
        window_.setText("cmdright", shownCaption_);
    }
    if (shownState_ != slide_.state()) {
        shownState_ = slide_.state();
        window_.setText("Txt1", shownState_);
    }
    // The tag list out of sight takes no focus: Tab passes it by.
    const bool open = slide_.state() == "1";
    if (listTabStop_ != open) {
        listTabStop_ = open;
        window_.setTabStop("List1", open);
    }
    window_.setOuterWidth(slide_.outerWidth());
    if (slide_.runs() == timerRunning_) return;
    timerRunning_ = slide_.runs();
    window_.runTimer("Timer1", timerRunning_ == Slide::Timer::widening);
    window_.runTimer("Timer2", timerRunning_ == Slide::Timer::narrowing);
}

bool Form1Behaviour::closeRequested() {
    if (running()) {
        closeWhenStopped_ = true;
        run_.stop();
        return false;
    }
    if (timerRunning_ != Slide::Timer::none) {
        window_.runTimer("Timer1", false);
        window_.runTimer("Timer2", false);
        timerRunning_ = Slide::Timer::none;
    }
    if (view_ != nullptr) view_->hide();
    return true;
}

// The run has something new. It is taken at most every kTakeInterval, so
// that a run of thousands of lines wakes the window a few times, not
// thousands; no other wake comes until it is taken, but for the run's end,
// which is taken at once.
void Form1Behaviour::runWoken() {
    const auto now = clock_();
    if (!lastTaken_ || now - *lastTaken_ >= kTakeInterval || run_.endQueued()) {
        takeRunEvents();
        return;
    }
    window_.wakeAfter(std::chrono::ceil<std::chrono::milliseconds>(kTakeInterval - (now - *lastTaken_)));
}

// What is left after a while of taking waits behind the window's own input
// and painting.
void Form1Behaviour::takeRunEvents() {
    lastTaken_ = clock_();
    taking_ = true;
    const bool more = run_.deliver(*this);
    taking_ = false;
    showPending();
    if (closePending_) {
        closePending_ = false;
        window_.closeNow();
        return;
    }
    if (more) window_.wakeAfter(std::chrono::milliseconds{0});
}

// While the run's events are taken, lines are gathered and put into the log
// at once when the taking ends, so a line costs the same however long the
// log is; the user never sees the log without them.
void Form1Behaviour::logline(std::string_view line) {
    pendingLog_.append(line);
    pendingLog_.append("\r\n");
    if (!taking_) showPending();
}

void Form1Behaviour::showPending() {
    if (!pendingLog_.empty()) {
        window_.appendLog(pendingLog_);
        pendingLog_.clear();
    }
    if (!pendingTags_.empty()) {
        window_.addTagNames(pendingTags_);
        pendingTags_.clear();
    }
}

// Gathered as the lines are: a list grows once a taking, not once a name.
void Form1Behaviour::addTagName(std::string_view name) {
    pendingTags_.emplace_back(name);
    if (!taking_) showPending();
}

// The log is up to date behind the box.
void Form1Behaviour::mapFailed(const MapFailure& failure) {
    showPending();
    refuse(failure.message, failure.reason);
}

void Form1Behaviour::runEnded(RunEnd end) {
    lastResult_ = end.result;
    window_.setEnabled("mnuopen", true);
    const bool toItsEnd = end.toItsEnd();
    if (toItsEnd) {
        extraction_ = std::move(end.extraction);
        levelResult_ = end.result;
        ++runsToTheEnd_;
        logline(wroteLine(end.result, window_.groupSeparator()));
    }
    if (closeWhenStopped_) {
        closePending_ = true;
        return;
    }
    // The log's last line shows before the 3D View does.
    showPending();
    if (toItsEnd && level3DChecked_) showLevel(std::move(end.level));
}

void Form1Behaviour::levelArrays(LevelGeometry arrays) {
    if (!arraysAwaited_) return;
    arraysAwaited_ = false;
    if (view_ != nullptr) view_->levelArrays(std::move(arrays));
}

void Form1Behaviour::firstShown() {
    if (level3DChecked_ && view_ == nullptr) view_ = window_.makeLevel3DWindow();
}

void Form1Behaviour::level3DClosed() {
    level3DChecked_ = false;
    window_.setChecked("mnu3dwindow", false);
}

bool Form1Behaviour::forgetUnshownLevel3D() {
    if (placed_) return false;
    view_ = nullptr;
    return true;
}

// Checked again, the 3D View comes back as it was left when it still shows
// the last run; else it shows that run afresh.
void Form1Behaviour::show3dWindow(bool shown) {
    if (!shown) {
        if (view_ != nullptr) view_->hide();
        return;
    }
    if (extraction_ == nullptr) return;
    if (view_ == nullptr || shownRun_ != runsToTheEnd_) {
        showLevel(std::nullopt);
        return;
    }
    view_->show();
}

void Form1Behaviour::showLevel(std::optional<LevelGeometry> decoded) {
    if (view_ == nullptr) view_ = window_.makeLevel3DWindow();
    if (view_ == nullptr) return;
    arraysAwaited_ = decoded && decoded->arraysToCome;
    view_->showRun(*extraction_, levelResult_, std::move(decoded));
    if (arraysAwaited_) view_->whenArraysWanted(run_.arraysWanted());
    shownRun_ = runsToTheEnd_;
    if (!placed_) placeLevel3D();
    placed_ = true;
    view_->show();
}

// Beside Form1 with its slide open where there is room (the rule is
// placeView's), from what the window system says of Form1 now.
void Form1Behaviour::placeLevel3D() {
    const Form1Frames at = window_.frames();
    const int widest = clientPixels(kForm1, kSlideWidest, at.dpi);
    const Rect& frame = at.frame;
    const FormFrames form{frame, {frame.x, frame.y, frame.width + std::max(0, widest - at.clientWidth), frame.height}};
    view_->place(placeView(at.available, form, view_->preferredFrame(), twipsToPixels(kViewGapTwips, at.dpi)));
}

}  // namespace v2bsp::app
