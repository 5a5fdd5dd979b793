#include "win32/view3d.hpp"

#include <shellapi.h>

#include <algorithm>

#include "app/texts.hpp"
#include "platform/utf8path.hpp"
#include "platform/win32/winsystem.hpp"
#include "win32/dialogs.hpp"
#include "win32/pngwriter.hpp"

namespace v2bsp::win32 {

namespace {

constexpr int kToolbarHeight = 28;  // at 96 dpi
constexpr int kStatusHeight = 22;
constexpr int kGap = 4;
constexpr int kButtonMargin = 16;  // a button's caption to its edges, both sides, at 96 dpi

std::string openInExplorer(const std::filesystem::path& folder) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.lpVerb = L"explore";
    info.lpFile = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    // The window says what failed; the shell's own box would come first.
    info.fMask = SEE_MASK_FLAG_NO_UI;
    const BOOL shown = ShellExecuteExW(&info);
    const DWORD error = GetLastError();
    if (shown) return {};
    return error != ERROR_SUCCESS ? systemError(error).message() : std::string("The Explorer gave no reason.");
}

}  // namespace

app::FolderOpener explorerOpener() {
    return [](const std::filesystem::path& folder, const std::function<void(const std::string&)>& done) {
        done(openInExplorer(folder));
    };
}

std::string groupSeparator() {
    wchar_t separator[8] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8) == 0) return ",";
    return utf8(separator);
}

// What the behaviour asks of the window, carried out with its controls.
class View3D::Window final : public app::View3DWindow {
public:
    explicit Window(View3D& window) : w_(window) {}
    void setTitle(const std::string& title) override { SetWindowTextW(w_.hwnd(), wide(title).c_str()); }
    void setRows(const std::vector<app::MeshRow>& rows) override { w_.fillList(rows); }
    void selectRow(int row) override { w_.list_.select(row); }
    void setStatus(const std::string& text) override { w_.say(text); }
    void enableCommand(std::string_view name, bool on) override { w_.enableCommand(name, on); }
    void checkCommand(std::string_view name, bool on) override { w_.checkCommand(name, on); }
    void showUnavailable(const std::string& text) override { w_.showUnavailable(text); }
    void redraw() override {
        if (w_.view_ != nullptr) InvalidateRect(w_.view_->hwnd(), nullptr, FALSE);
    }
    void hideWindow() override { SendMessageW(w_.hwnd(), WM_CLOSE, 0, 0); }
    int meshAt(app::Pixel pixel) override { return w_.view() != nullptr ? w_.view_->meshAt(pixel) : -1; }
    std::string writePicture(const std::filesystem::path& file) override {
        if (w_.view() == nullptr) return "the view could not be drawn";
        int width = 0, height = 0;
        const std::vector<std::uint8_t> pixels = w_.view_->picture(width, height);
        if (pixels.empty()) return "the view could not be drawn";
        return writePng(file, width, height, pixels.data(), width * 4);
    }

private:
    View3D& w_;
};

// The window.

View3D::View3D(GlProbe probe)
    : probe_(std::move(probe)),
      window_(std::make_unique<Window>(*this)),
      behaviour_(std::make_unique<app::View3DBehaviour>(*window_, groupSeparator())) {
    behaviour_->setFolderOpener(explorerOpener());
}

View3D::~View3D() {
    behaviour_->setRenderer(nullptr);
    if (view_ != nullptr) view_->setBehaviour(nullptr);
    view_.reset();
    if (hwnd() != nullptr) DestroyWindow(hwnd());
    if (font_ != nullptr) DeleteObject(font_);
}

bool View3D::create() {
    CreateArgs args;
    args.title = L"3D View";
    args.menu = menus_.handle();
    args.icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    args.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    return Wnd::create(args);
}

// Every item of the menu runs its command of the behaviour; the toolbar's
// buttons carry the same ids.
void View3D::connectCommands() {
    for (const app::MenuItem& item : app::kView3DMenu) {
        if (item.parent.empty() || item.name == app::kSeparator) continue;
        const std::string_view name = item.name;
        onCommandId(commandId(name), [this, name] { behaviour_->command(name); });
    }
    setAccelerators(menus_.keys());
}

// A command's menu item and its button go together.
void View3D::checkCommand(std::string_view name, bool on) {
    checkMenuItem(menu(), commandId(name), on);
    for (const auto& [button, control] : toolbar_) {
        if (button == name) control->setChecked(on);
    }
}

void View3D::enableCommand(std::string_view name, bool on) {
    enableMenuItem(menu(), commandId(name), on);
    for (const auto& [button, control] : toolbar_) {
        if (button == name) control->setEnabled(on);
    }
}

void View3D::onCreate() {
    createToolbar();
    createControls();
    connectCommands();
    setFonts();
    behaviour_->setSaveBox(std::make_unique<CommonSaveBox>(hwnd()));
    behaviour_->setMessagePresenter(std::make_unique<MessageBoxPresenter>(hwnd()));
    // Focus rectangles show from the start, not only once a key was pressed.
    SendMessageW(hwnd(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    const std::string refused = probe_ ? probe_() : std::string();
    const std::string failure = refused.empty() ? view_->start() : refused;
    if (!failure.empty()) {
        behaviour_->unavailable(failure);
        return;
    }
    view_->setBehaviour(behaviour_.get());
    behaviour_->setRenderer(&view_->renderer());
    view_->onFailed = [this](const std::string& reason) { behaviour_->unavailable(reason); };
}

// The buttons are for the mouse, and Tab passes them by: the keys reach
// their commands through the menu.
void View3D::createToolbar() {
    for (const std::string_view name : app::kView3DToolbar) {
        if (name == app::kSeparator) {
            toolbar_.emplace_back(name, nullptr);
            continue;
        }
        const app::MenuItem& row = *menus_.row(commandId(name));
        auto button = std::make_unique<Button>();
        button->create({this, commandId(name), app::toolbarText(row),
                        static_cast<DWORD>(row.checkable ? BS_AUTOCHECKBOX | BS_PUSHLIKE : BS_PUSHBUTTON), false});
        toolbar_.emplace_back(name, std::move(button));
    }
}

void View3D::createControls() {
    view_ = std::make_unique<GlView>();
    view_->create(*this, kIdView);
    notice_.create({this, kIdNotice, SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX});
    notice_.setVisible(false);
    list_.create({this, kIdList, {{"Mesh", 90}, {"Vertices", 70}, {"Triangles", 70}}});
    list_.onChecked = [this](int row, bool on) { behaviour_->rowChecked(row, on); };
    list_.onSelected = [this](int row) { behaviour_->rowSelected(row); };
    list_.onDoubleClick = [this](int row) { behaviour_->rowActivated(row); };
    status_.create({this, kIdStatus, SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_ENDELLIPSIS | SS_NOTIFY});
    // The whole status line in a tooltip, for when the window cuts it.
    tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr, GetModuleHandleW(nullptr),
                               nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(status_.hwnd);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, scaled(600));
    // A button whose caption alone says too little says more when pointed at.
    for (const auto& [name, button] : toolbar_) {
        if (button == nullptr || menus_.row(button->id)->tooltip.empty()) continue;
        std::wstring text = wide(menus_.row(button->id)->tooltip);
        tool.uId = reinterpret_cast<UINT_PTR>(button->hwnd);
        tool.lpszText = text.data();
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

// The notice takes the view's place.
void View3D::showUnavailable(const std::string& text) {
    unavailable_ = text;
    notice_.setText(text);
    notice_.setVisible(true);
    if (view_ != nullptr) {
        view_->setBehaviour(nullptr);
        ShowWindow(view_->hwnd(), SW_HIDE);
    }
}

app::Size View3D::preferredFrame() const {
    RECT frame{0, 0, scaled(kPreferredWidth), scaled(kPreferredHeight)};
    AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, TRUE, 0, dpi());
    return {frame.right - frame.left, frame.bottom - frame.top};
}

void View3D::place(const app::Rect& frame) {
    SetWindowPos(hwnd(), nullptr, frame.x, frame.y, frame.width, frame.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// A button as wide as its caption in the window's font, and no narrower than
// the others' least.
int View3D::buttonWidth(const Button& button) const {
    const std::wstring caption = wide(button.text());
    HDC dc = GetDC(button.hwnd);
    const HGDIOBJ old = SelectObject(dc, font_);
    SIZE size{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(button.hwnd, dc);
    return std::max(scaled(64), static_cast<int>(size.cx) + scaled(kButtonMargin));
}

int View3D::toolbarWidth() const {
    int x = scaled(kGap);
    for (const auto& [name, button] : toolbar_) {
        x += button == nullptr ? 2 * scaled(kGap) : buttonWidth(*button) + scaled(kGap);
    }
    return x;
}

// Buttons along the top, the view and the list side by side, the status line
// at the bottom.
void View3D::layout() {
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int width = client.right, height = client.bottom;
    const int bar = scaled(kToolbarHeight), status = scaled(kStatusHeight), gap = scaled(kGap);
    int x = gap;
    for (const auto& [name, button] : toolbar_) {
        if (button == nullptr) {
            x += 2 * gap;
            continue;
        }
        const int w = buttonWidth(*button);
        button->setBounds({x, gap, x + w, bar});
        x += w + gap;
    }
    const int top = bar + gap, bottom = std::max(top, height - status);
    const int list = app::listWidth(width, listNeed_);
    // Narrower than its texts, the list's name column gives way to the numbers.
    const int leastName = listNeed_.numbers - (listNeed_.whole - nameWidth_);
    list_.setColumnWidth(0, std::clamp(list - (listNeed_.whole - nameWidth_), leastName, nameWidth_));
    const RECT view{0, top, std::max(0, width - list - gap), bottom};
    MoveWindow(view_->hwnd(), view.left, view.top, view.right - view.left, view.bottom - view.top, TRUE);
    notice_.setBounds(view);
    list_.setBounds({width - list, top, width, bottom});
    status_.setBounds({gap, bottom + gap / 2, width - gap, height});
}

void View3D::onSize(int, int) {
    layout();
}

void View3D::setFonts() {
    // The old font goes once no control holds it.
    const HFONT old = font_;
    font_ = messageFont(dpi(), 9);
    for (const Control* control : std::initializer_list<const Control*>{&notice_, &list_, &status_}) {
        control->setFont(font_);
    }
    measureList();
    for (const auto& [name, button] : toolbar_) {
        if (button != nullptr) button->setFont(font_);
    }
    if (old != nullptr) DeleteObject(old);
}

// The controls' sizes follow in onSize, at the new dpi.
void View3D::onDpiChanged(UINT dpi, const RECT& suggested) {
    setFonts();
    Wnd::onDpiChanged(dpi, suggested);
}

bool View3D::onNotify(NMHDR* header, LRESULT& result) {
    result = 0;
    return list_.notify(header);
}

// The window is never narrower than its toolbar, whose captions stay whole.
LRESULT View3D::windowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_GETMINMAXINFO && !toolbar_.empty()) {
        RECT frame{0, 0, toolbarWidth(), scaled(kToolbarHeight + kStatusHeight) + 2 * scaled(kGap)};
        AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, TRUE, 0, dpi());
        reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {frame.right - frame.left, frame.bottom - frame.top};
        return 0;
    }
    return Wnd::windowProc(msg, wparam, lparam);
}

bool View3D::onClose() {
    hide();
    if (onClosed) onClosed();
    return false;
}

void View3D::show() {
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    SetForegroundWindow(hwnd());
}

void View3D::hide() {
    ShowWindow(hwnd(), SW_HIDE);
}

void View3D::showRun(const MapExtraction& extraction, const ExtractResult& result,
                     std::optional<app::LevelGeometry> decoded) {
    behaviour_->showRun(extraction, result, std::move(decoded));
}

void View3D::levelArrays(app::LevelGeometry arrays) {
    behaviour_->levelArrays(std::move(arrays));
}

void View3D::whenArraysWanted(std::function<void()> wanted) {
    behaviour_->whenArraysWanted(std::move(wanted));
}

// Drawn once, when every row is in.
void View3D::fillList(const std::vector<app::MeshRow>& rows) {
    SendMessageW(list_.hwnd, WM_SETREDRAW, FALSE, 0);
    list_.clear();
    ListView_SetItemCount(list_.hwnd, static_cast<int>(rows.size()));
    for (std::string& text : longest_) text.clear();
    // The texts differ in their digits, which the list's font draws at one
    // width (or nearly: of two as long, the one of higher digits is taken), so
    // the longest is the widest, and it alone is measured.
    const auto note = [](std::string& longest, const std::string& text) {
        if (text.size() > longest.size() || (text.size() == longest.size() && text > longest)) longest = text;
    };
    std::vector<COLORREF> swatches;
    for (const app::MeshRow& row : rows) {
        const auto byte = [](float part) { return static_cast<BYTE>(std::clamp(part, 0.0f, 1.0f) * 255 + 0.5f); };
        swatches.push_back(RGB(byte(row.colour.red), byte(row.colour.green), byte(row.colour.blue)));
    }
    list_.setSwatches(swatches);
    for (const app::MeshRow& row : rows) {
        list_.addRow({row.name, row.vertices, row.triangles}, true);
        note(longest_[0], row.name);
        note(longest_[1], row.vertices);
        note(longest_[2], row.triangles);
    }
    measureList();
    layout();
    SendMessageW(list_.hwnd, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_.hwnd, nullptr, TRUE);
}

// Each column as wide as its longest text or its heading, with the list's
// margins (and the check box in the first); the list's need, its borders and
// a vertical scroll bar's room included.
void View3D::measureList() {
    if (list_.hwnd == nullptr) return;
    static constexpr const wchar_t* kHeadings[3] = {L"Mesh", L"Vertices", L"Triangles"};
    const int margins = scaled(12);
    // Before the first column's text: the check box and the colour swatch.
    int box = 0;
    for (const int images : {LVSIL_STATE, LVSIL_SMALL}) {
        if (const HIMAGELIST list = ListView_GetImageList(list_.hwnd, images); list != nullptr) {
            int width = 0, height = 0;
            ImageList_GetIconSize(list, &width, &height);
            box += width;
        }
    }
    int widths[3] = {}, headings[3] = {};
    for (int column = 0; column < 3; ++column) {
        const std::wstring text = wide(longest_[column]);
        const int extra = margins + (column == 0 ? box + scaled(6) : 0);
        headings[column] = ListView_GetStringWidth(list_.hwnd, kHeadings[column]) + margins;
        widths[column] = std::max(headings[column], ListView_GetStringWidth(list_.hwnd, text.c_str()) + extra);
        list_.setColumnWidth(column, widths[column]);
    }
    const UINT at = dpi();
    const int around = 2 * GetSystemMetricsForDpi(SM_CXEDGE, at) + GetSystemMetricsForDpi(SM_CXVSCROLL, at);
    nameWidth_ = widths[0];
    const int numbers = widths[1] + widths[2] + around;
    listNeed_ = {widths[0] + numbers, std::min(widths[0], headings[0] + box + scaled(6)) + numbers};
}

void View3D::say(const std::string& text) {
    status_.setText(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(status_.hwnd);
    std::wstring whole = wide(text);
    tool.lpszText = whole.data();
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace v2bsp::win32
