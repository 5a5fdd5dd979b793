#include "win32/form1.hpp"

#include <commctrl.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>

#include "platform/utf8path.hpp"

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

app::Rect appRect(const RECT& r) {
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::filesystem::path knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::filesystem::path folder;
    if (SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK) folder = path;
    CoTaskMemFree(path);
    return folder;
}

// The tag list's item under the mouse, or -1.
int itemUnderMouse(HWND list) {
    POINT at{};
    GetCursorPos(&at);
    ScreenToClient(list, &at);
    const LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(at.x, at.y));
    return HIWORD(hit) != 0 ? -1 : static_cast<int>(LOWORD(hit));
}

// Over another item of the tag list, its tooltip is asked for its text again.
template <typename TagTip>
LRESULT CALLBACK followItems(HWND list, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data) {
    auto* tip = reinterpret_cast<TagTip*>(data);
    if (msg == WM_MOUSEMOVE && itemUnderMouse(list) != tip->item) SendMessageW(tip->tooltip, TTM_UPDATE, 0, 0);
    return DefSubclassProc(list, msg, wparam, lparam);
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
    : behaviour_(*this, nullptr, nullptr, [this] {
          // On the run's thread: the window may be going away meanwhile.
          if (const HWND window = runWindow_.load()) PostMessageW(window, kMsgRunPending, 0, 0);
      }) {
    behaviour_.setOutput({programFolder(), windowsSystemFolders(), nullptr});
}

Form1::~Form1() {
    runWindow_ = nullptr;
    view3d_.reset();
    if (hwnd() != nullptr) DestroyWindow(hwnd());
    if (font_ != nullptr) DeleteObject(font_);
}

bool Form1::create() {
    connectMenus();
    CreateArgs args;
    args.title = wide(app::kForm1.caption);
    args.style = kStyle;
    args.menu = menus_.handle();
    args.icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    if (!Wnd::create(args)) return false;
    runWindow_ = hwnd();
    setAccelerators(menus_.keys());
    Command1.setEnabled(row("Command1").enabled);
    Txt1.setText(row("Txt1").caption);
    placeControls();
    behaviour_.begin();
    return true;
}

void Form1::onCreate() {
    createControls();
    DragAcceptFiles(hwnd(), TRUE);
    behaviour_.setOpenBox(std::make_unique<CommonOpenBox>(hwnd()));
    behaviour_.setMessagePresenter(std::make_unique<MessageBoxPresenter>(hwnd()));
}

void Form1::setMessagePresenter(std::unique_ptr<MessagePresenter> presenter) {
    behaviour_.setMessagePresenter(std::move(presenter));
}

void Form1::setOutputParent(const std::filesystem::path& folder) {
    behaviour_.setProgramFolder(folder);
}

// In tab order: the system makes Tab follow the order the controls are made in.
void Form1::createControls() {
    datalog.create({this, kIdDatalog, true, true});
    Command1.create({this, kIdCommand1, std::string(row("Command1").caption)});
    Command1.onClick = [this] { behaviour_.click("Command1"); };
    cmdright.create({this, kIdCmdright, std::string(row("cmdright").caption)});
    cmdright.onClick = [this] { behaviour_.click("cmdright"); };
    // Long tag names scroll sideways, and the one under the mouse shows whole in a tooltip.
    List1.create({this, kIdList1, WS_HSCROLL});
    tagTip_.tooltip =
        CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr, nullptr, nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(List1.hwnd);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(tagTip_.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SetWindowSubclass(List1.hwnd, followItems<TagTip>, 1, reinterpret_cast<DWORD_PTR>(&tagTip_));
    Txt1.create({this, kIdTxt1, false, row("Txt1").visible});
}

// Every menu item reaches the behaviour by its row's name.
void Form1::connectMenus() {
    for (const app::MenuItem& item : app::kForm1.menu) {
        if (item.parent.empty() || item.name == app::kSeparator) continue;
        onCommandId(commandId(item.name), [this, name = item.name] { behaviour_.menu(name); });
    }
}

// Every control from its twips at the window's dpi, with the font of that dpi.
void Form1::placeControls() {
    // The old font goes once no control holds it.
    const HFONT old = font_;
    font_ = messageFont(dpi(), static_cast<int>(app::kForm1.fontPoints));
    for (const char* name : {"datalog", "Command1", "cmdright", "List1", "Txt1"}) {
        byName(name)->setFont(font_);
        byName(name)->setBounds(pixels(row(name).place, dpi()));
    }
    if (old != nullptr) DeleteObject(old);
}

const Control* Form1::byName(std::string_view name) const {
    const std::pair<std::string_view, const Control*> controls[] = {
        {"datalog", &datalog}, {"Command1", &Command1}, {"cmdright", &cmdright}, {"List1", &List1}, {"Txt1", &Txt1},
    };
    for (const auto& [known, control] : controls) {
        if (known == name) return control;
    }
    return nullptr;
}

HWND Form1::control(std::string_view name) const {
    const Control* found = byName(name);
    return found != nullptr ? found->hwnd : nullptr;
}

void Form1::setText(std::string_view control, std::string_view text) {
    if (const Control* found = byName(control)) found->setText(text);
}

void Form1::setEnabled(std::string_view name, bool enabled) {
    if (const Control* found = byName(name)) {
        found->setEnabled(enabled);
        return;
    }
    enableMenuItem(menu(), commandId(name), enabled);
}

void Form1::setChecked(std::string_view item, bool checked) {
    checkMenuItem(menu(), commandId(item), checked);
}

void Form1::setTabStop(std::string_view control, bool on) {
    const Control* found = byName(control);
    if (found == nullptr) return;
    const LONG_PTR style = GetWindowLongPtrW(found->hwnd, GWL_STYLE);
    SetWindowLongPtrW(found->hwnd, GWL_STYLE, on ? style | WS_TABSTOP : style & ~static_cast<LONG_PTR>(WS_TABSTOP));
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

void Form1::runTimer(std::string_view timer, bool on) {
    const UINT_PTR id = timer == "Timer1" ? kTimer1 : kTimer2;
    if (on) {
        SetTimer(hwnd(), id, static_cast<UINT>(row(timer).intervalMs), nullptr);
    } else {
        KillTimer(hwnd(), id);
    }
}

void Form1::appendLog(std::string_view text) {
    datalog.append(text);
}

// The list redraws, and sets its scroll bars, once for all the names.
void Form1::addTagNames(const std::vector<std::string>& names) {
    SendMessageW(List1.hwnd, WM_SETREDRAW, FALSE, 0);
    const HDC dc = GetDC(List1.hwnd);
    const HGDIOBJ was = SelectObject(dc, font_);
    int widest = listExtent_;
    for (const std::string& name : names) {
        List1.add(name);
        const std::wstring text = wide(name);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx) + scaled(6));
    }
    SelectObject(dc, was);
    ReleaseDC(List1.hwnd, dc);
    if (widest > listExtent_) {
        listExtent_ = widest;
        SendMessageW(List1.hwnd, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest), 0);
    }
    SendMessageW(List1.hwnd, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(List1.hwnd, nullptr, TRUE);
}

void Form1::wakeAfter(std::chrono::milliseconds delay) {
    if (hwnd() == nullptr) return;
    SetTimer(hwnd(), kTimerTakeMore, std::max<UINT>(USER_TIMER_MINIMUM, static_cast<UINT>(delay.count())), nullptr);
}

void Form1::closeNow() {
    if (hwnd() != nullptr) DestroyWindow(hwnd());
}

app::Level3DWindow* Form1::makeLevel3DWindow() {
    if (view3d_ == nullptr) {
        auto view = std::make_unique<View3D>(glProbe_);
        if (!view->create()) return nullptr;
        view3d_ = std::move(view);
        // Closed by the user, it is no longer checked.
        view3d_->onClosed = [this] { behaviour_.level3DClosed(); };
    }
    return view3d_.get();
}

app::Form1Frames Form1::frames() const {
    RECT frame{}, client{};
    GetWindowRect(hwnd(), &frame);
    GetClientRect(hwnd(), &client);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd(), MONITOR_DEFAULTTONEAREST), &monitor);
    return {appRect(monitor.rcWork), appRect(frame), static_cast<int>(client.right), static_cast<double>(dpi())};
}

void Form1::onTimer(UINT_PTR id) {
    if (id == kTimer1) behaviour_.timer("Timer1");
    if (id == kTimer2) behaviour_.timer("Timer2");
    if (id == kTimerTakeMore) {
        KillTimer(hwnd(), kTimerTakeMore);
        behaviour_.takeRunEvents();
    }
}

// The first paint: once it is on the screen, the window waits for the user.
bool Form1::onPaint() {
    if (firstPaint_) {
        firstPaint_ = false;
        PostMessageW(hwnd(), kMsgFirstShown, 0, 0);
    }
    return false;
}

// The tooltip asks for the tag name under the mouse, whole; none between names.
bool Form1::onNotify(NMHDR* header, LRESULT& result) {
    if (header->hwndFrom != tagTip_.tooltip || header->code != TTN_GETDISPINFOW) return Wnd::onNotify(header, result);
    tagTip_.item = itemUnderMouse(List1.hwnd);
    tagTip_.text = tagTip_.item < 0 ? std::wstring() : wide(List1.item(tagTip_.item));
    reinterpret_cast<NMTTDISPINFOW*>(header)->lpszText = tagTip_.text.data();
    result = 0;
    return true;
}

void Form1::onDropFiles(HDROP drop) {
    if (running() || DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 0) return;
    std::wstring name(DragQueryFileW(drop, 0, nullptr, 0) + 1, L'\0');
    name.resize(DragQueryFileW(drop, 0, name.data(), static_cast<UINT>(name.size())));
    behaviour_.chooseMap(utf8(name));
}

bool Form1::onClose() {
    return behaviour_.closeRequested();
}

void Form1::onDestroy() {
    runWindow_ = nullptr;
    PostQuitMessage(0);
}

// On a monitor of another dpi the window keeps its twips: the controls, the
// font and the width are made again at the new dpi, at the place the system suggests.
void Form1::onDpiChanged(UINT, const RECT& suggested) {
    SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placeControls();
    setOuterWidth(outerWidth());
}

bool Form1::onAppMessage(UINT msg, WPARAM, LPARAM lparam) {
    if (msg == kMsgRunPending) {
        behaviour_.runWoken();
        return true;
    }
    if (msg == kMsgFirstShown) {
        behaviour_.firstShown();
        return true;
    }
    (void)lparam;
    return false;
}

}  // namespace v2bsp::win32
