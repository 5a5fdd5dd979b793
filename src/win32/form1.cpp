#include "win32/form1.hpp"

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>

#include "app/placement.hpp"
#include "app/texts.hpp"
#include "platform/mapfile.hpp"
#include "platform/utf8path.hpp"
#include "platform/win32/winsystem.hpp"

namespace v2bsp::win32 {

namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

const app::Control& row(std::string_view name) {
    return *app::findControl(app::kForm1, name);
}

RECT pixels(const app::TwipsRect& place, UINT dpi) {
    const app::Rect r = app::pixelRect(place, dpi);
    return {r.x, r.y, r.right(), r.bottom()};
}

std::filesystem::path knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::filesystem::path folder;
    if (SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK) folder = path;
    CoTaskMemFree(path);
    return folder;
}

}  // namespace

std::filesystem::path programFolder() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return std::filesystem::path(path).parent_path();
}

app::SystemFolders windowsSystemFolders() {
    app::SystemFolders system;
    system.ignoreCase = true;
    for (const auto& id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_Windows}) {
        std::filesystem::path folder = knownFolder(id);
        if (!folder.empty()) system.folders.push_back(std::move(folder));
    }
    return system;
}

Form1::Form1()
    : outputParent_(programFolder()), run_([this] {
          // On the run's thread: the window may be going away meanwhile.
          if (const HWND window = runWindow_.load()) PostMessageW(window, kMsgRunPending, 0, 0);
      }) {}

Form1::~Form1() {
    runWindow_ = nullptr;
    view3d_.reset();
    if (hwnd() != nullptr) DestroyWindow(hwnd());
    if (font_ != nullptr) DeleteObject(font_);
}

bool Form1::create() {
    createMenus();
    CreateArgs args;
    args.title = wide(app::kForm1.caption);
    args.style = kStyle;
    args.menu = menus_.handle();
    args.icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    if (!Wnd::create(args)) return false;
    runWindow_ = hwnd();
    setShortcuts();
    setStartState();
    return true;
}

void Form1::onCreate() {
    createControls();
    DragAcceptFiles(hwnd(), TRUE);
    openbox_ = std::make_unique<CommonOpenBox>(hwnd());
    messages_ = std::make_unique<MessageBoxPresenter>(hwnd());
}

void Form1::setMessagePresenter(std::unique_ptr<MessagePresenter> presenter) {
    messages_ = std::move(presenter);
}

// In tab order: the system makes Tab follow the order the controls are made in.
void Form1::createControls() {
    datalog_.create({this, kIdDatalog, true, true});
    command1_.create({this, kIdCommand1, std::string(row("Command1").caption)});
    command1_.onClick = [this] { Command1_Click(); };
    cmdright_.create({this, kIdCmdright, std::string(row("cmdright").caption)});
    cmdright_.onClick = [this] { cmdright_Click(); };
    list1_.create({this, kIdList1});
    txt1_.create({this, kIdTxt1, false, row("Txt1").visible});
}

void Form1::createMenus() {
    onCommandId(commandId("mnuopen"), [this] { mnuopen_Click(); });
    onCommandId(commandId("mnuexit"), [this] { PostMessageW(hwnd(), WM_CLOSE, 0, 0); });
    onCommandId(commandId("mnu3dwindow"), [this] {
        const bool on = !menuItemChecked(menu(), commandId("mnu3dwindow"));
        checkMenuItem(menu(), commandId("mnu3dwindow"), on);
        show3dWindow(on);
    });
    onCommandId(commandId("mnuabout"), [this] { showAbout(); });
}

void Form1::setShortcuts() {
    setAccelerators(menus_.keys());
}

void Form1::setStartState() {
    command1_.setEnabled(row("Command1").enabled);
    txt1_.setText(row("Txt1").caption);
    placeControls();
    applySlide();
}

// Every control from its twips at the window's dpi, with the font of that dpi.
void Form1::placeControls() {
    // The old font goes once no control holds it.
    const HFONT old = font_;
    font_ = messageFont(dpi(), static_cast<int>(app::kForm1.fontPoints));
    const std::pair<const Control*, std::string_view> controls[] = {
        {&datalog_, "datalog"}, {&command1_, "Command1"}, {&cmdright_, "cmdright"},
        {&list1_, "List1"},     {&txt1_, "Txt1"},
    };
    for (const auto& [control, name] : controls) {
        control->setFont(font_);
        control->setBounds(pixels(row(name).place, dpi()));
    }
    if (old != nullptr) DeleteObject(old);
}

// The client area is as high as the layout says below the menu bar, and as
// wide as the slide's outer width leaves once the frame is taken off.
void Form1::setOuterWidth(double twips) {
    const int clientWidth = app::clientPixels(app::kForm1, twips, dpi());
    const int clientHeight = app::twipsToPixels(app::kForm1.clientHeight, dpi());
    RECT outer{0, 0, clientWidth, clientHeight};
    AdjustWindowRectExForDpi(&outer, kStyle, TRUE, 0, dpi());
    SetWindowPos(hwnd(), nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // A menu bar that wraps onto a second line takes from the client area.
    RECT client{};
    GetClientRect(hwnd(), &client);
    if (client.bottom != clientHeight) {
        SetWindowPos(hwnd(), nullptr, 0, 0, outer.right - outer.left,
                     outer.bottom - outer.top + clientHeight - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// Shows what the slide says: its caption, its state, its width, its timers.
// A tick changes the width; the texts and the timer that runs change only at
// the slide's ends, and setting them again would repaint the button and
// restart the timer at every tick.
void Form1::applySlide() {
    const std::pair<const Control*, std::string_view> texts[] = {{&cmdright_, slide_.caption()},
                                                                 {&txt1_, slide_.state()}};
    for (const auto& [control, shown] : texts) {
        if (control->text() != shown) control->setText(shown);
    }
    setOuterWidth(slide_.outerWidth());
    const app::Slide::Timer runs = slide_.runs();
    if (runs == timerRunning_) return;
    timerRunning_ = runs;
    KillTimer(hwnd(), kTimer1);
    KillTimer(hwnd(), kTimer2);
    const UINT interval = static_cast<UINT>(row("Timer1").intervalMs);
    if (runs == app::Slide::Timer::widening) SetTimer(hwnd(), kTimer1, interval, nullptr);
    if (runs == app::Slide::Timer::narrowing) SetTimer(hwnd(), kTimer2, interval, nullptr);
}

HWND Form1::control(std::string_view name) const {
    const std::pair<std::string_view, const Control*> controls[] = {
        {"datalog", &datalog_}, {"Command1", &command1_}, {"cmdright", &cmdright_},
        {"List1", &list1_},     {"Txt1", &txt1_},
    };
    for (const auto& [known, control] : controls) {
        if (known == name) return control->hwnd;
    }
    return nullptr;
}

void Form1::chooseMap(const std::string& path) {
    if (running()) return;
    mappath_ = path;
    // Through the \\?\ form where the path is long, as the load opens it.
    const DWORD attributes = GetFileAttributesW(systemPath(pathFromUtf8(path)).c_str());
    const bool file = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    command1_.setEnabled(file);
    if (file) return;
    // The reason the core itself gives for that path.
    try {
        loadMapFile(pathFromUtf8(path));
        command1_.setEnabled(true);  // it could be read after all
    } catch (const MapError& refused) {
        refuse(std::string(kNotAMapMessage), refused.what());
    }
}

// The box, then the same reason in the log, where it stays once the box is gone.
void Form1::refuse(const std::string& message, const std::string& reason) {
    messages_->notAMap(message, reason);
    logline(app::notAMapLine(message, reason));
}

// File > Open.
void Form1::mnuopen_Click() {
    if (running()) return;
    openbox_->setFileName({});
    openbox_->setFilter(mapFilters());
    openbox_->showOpen();
    mappath_ = openbox_->fileName();
    command1_.setEnabled(true);
}

void Form1::cmdright_Click() {
    slide_.click();
    applySlide();
}

void Form1::Timer1_Timer() {
    slide_.wideningTick();
    applySlide();
}

void Form1::Timer2_Timer() {
    slide_.narrowingTick();
    applySlide();
}

void Form1::onTimer(UINT_PTR id) {
    if (id == kTimer1) Timer1_Timer();
    if (id == kTimer2) Timer2_Timer();
    if (id == kTimerTakeMore) takeRunPending();
}

// While a run's lines are taken, they are gathered and put into the log at
// once when the taking ends, so a line costs the same however long the log
// is; the user never sees the log without them.
void Form1::logline(std::string_view text) {
    pendingLog_.append(text);
    pendingLog_.append("\r\n");
    if (!taking_) showPendingLog();
}

void Form1::showPendingLog() {
    if (pendingLog_.empty()) return;
    datalog_.append(pendingLog_);
    pendingLog_.clear();
}

void Form1::showAbout() {
    messages_->about(app::kAboutTitle, app::aboutText());
}

void Form1::onDropFiles(HDROP drop) {
    if (running() || DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 0) return;
    std::wstring name(DragQueryFileW(drop, 0, nullptr, 0) + 1, L'\0');
    name.resize(DragQueryFileW(drop, 0, name.data(), static_cast<UINT>(name.size())));
    chooseMap(utf8(name));
}

// Closing during a run ends the run at its next log line; the window closes
// when the run has returned.
bool Form1::onClose() {
    if (running()) {
        closeWhenStopped_ = true;
        run_.stop();
        return false;
    }
    KillTimer(hwnd(), kTimer1);
    KillTimer(hwnd(), kTimer2);
    timerRunning_ = app::Slide::Timer::none;
    if (view3d_ != nullptr) view3d_->hide();
    return true;
}

void Form1::onDestroy() {
    PostQuitMessage(0);
}

// On a monitor of another dpi the window keeps its twips: the controls, the
// font and the width are made again at the new dpi, at the place the system suggests.
void Form1::onDpiChanged(UINT, const RECT& suggested) {
    SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placeControls();
    setOuterWidth(slide_.outerWidth());
}

// Extract.
void Form1::Command1_Click() {
    command1_.setEnabled(false);
    app::RunRequest request;
    request.path = mappath_;
    request.settings = app::windowRunSettings(outputParent_, pathFromUtf8(mappath_), windowsSystemFolders(), files_);
    request.decodeLevel = menuItemChecked(menu(), commandId("mnu3dwindow"));
    closeWhenStopped_ = false;
    if (!run_.start(std::move(request))) return;
    enableMenuItem(menu(), commandId("mnuopen"), false);
}

bool Form1::onAppMessage(UINT msg, WPARAM, LPARAM) {
    if (msg != kMsgRunPending) return false;
    runWoken();
    return true;
}

// The run has something to take: at once when it has ended or the last take
// is long enough ago, else when the shared interval has passed.
void Form1::runWoken() {
    const auto since = std::chrono::steady_clock::now() - lastTaken_;
    if (since >= app::kYieldInterval || run_.endQueued()) {
        takeRunPending();
        return;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(app::kYieldInterval - since);
    SetTimer(hwnd(), kTimerTakeMore, std::max<UINT>(USER_TIMER_MINIMUM, static_cast<UINT>(wait.count())), nullptr);
}

// What is left after a while of taking waits behind the window's own input
// and painting: a timer's message comes only when none of those is queued,
// where a posted message would come before them and starve them.
void Form1::takeRunPending() {
    KillTimer(hwnd(), kTimerTakeMore);
    taking_ = true;
    const bool more = run_.deliver(*this);
    taking_ = false;
    lastTaken_ = std::chrono::steady_clock::now();
    showPendingLog();
    if (more && hwnd() != nullptr) SetTimer(hwnd(), kTimerTakeMore, USER_TIMER_MINIMUM, nullptr);
}

void Form1::addTagName(std::string_view name) {
    list1_.add(name);
}

// The log is up to date behind the box.
void Form1::mapFailed(const MapFailure& failure) {
    showPendingLog();
    refuse(failure.message, failure.reason);
}

void Form1::runEnded(app::RunEnd end) {
    lastResult_ = end.result;
    taking_ = false;
    enableMenuItem(menu(), commandId("mnuopen"), true);
    const bool toItsEnd = end.toItsEnd();
    if (toItsEnd) {
        extraction_ = std::move(end.extraction);
        levelResult_ = end.result;
        ++runsToTheEnd_;
        logline(app::wroteLine(end.result, groupSeparator()));
    }
    if (closeWhenStopped_) {
        DestroyWindow(hwnd());
        return;
    }
    if (toItsEnd && menuItemChecked(menu(), commandId("mnu3dwindow"))) showLevel(std::move(end.level));
}

// Checked again, the 3D View comes back as it was left when it still shows
// the last run; else it shows that run afresh.
void Form1::show3dWindow(bool shown) {
    if (!shown) {
        if (view3d_ != nullptr) view3d_->hide();
        return;
    }
    if (extraction_ == nullptr) return;
    if (view3d_ == nullptr || shownRun_ != runsToTheEnd_) {
        showLevel(std::nullopt);
        return;
    }
    view3d_->show();
}

void Form1::showLevel(std::optional<app::LevelGeometry> decoded) {
    const bool first = view3d_ == nullptr;
    if (first) {
        view3d_ = std::make_unique<View3D>(glProbe_);
        if (!view3d_->create()) {
            view3d_.reset();
            return;
        }
        // Closed by the user, it is no longer checked.
        view3d_->onClosed = [this] { checkMenuItem(menu(), commandId("mnu3dwindow"), false); };
    }
    view3d_->showRun(*extraction_, levelResult_, std::move(decoded));
    shownRun_ = runsToTheEnd_;
    if (first) placeView3d();
    view3d_->show();
}

// Beside this window with its slide open where there is room, else as it is
// now, inside the available area of its monitor (the rule is app::placeView's).
void Form1::placeView3d() {
    RECT frame{}, client{};
    GetWindowRect(hwnd(), &frame);
    GetClientRect(hwnd(), &client);
    const int widest = app::clientPixels(app::kForm1, app::kSlideWidest, dpi());
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd(), MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const app::Rect current{frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top};
    const app::FormFrames form{
        current,
        {current.x, current.y, current.width + std::max(0, widest - static_cast<int>(client.right)), current.height}};
    const app::Size preferred = view3d_->preferredFrame();
    const app::Rect at = app::placeView({work.left, work.top, work.right - work.left, work.bottom - work.top}, form,
                                        preferred, scaled(8));
    SetWindowPos(view3d_->hwnd(), nullptr, at.x, at.y, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace v2bsp::win32
