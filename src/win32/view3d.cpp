#include "win32/view3d.hpp"

#include <shellapi.h>

#include <algorithm>

#include "app/texts.hpp"
#include "platform/utf8path.hpp"
#include "platform/win32/winsystem.hpp"
#include "win32/pngwriter.hpp"

namespace v2bsp::win32 {

namespace {

constexpr int kToolbarHeight = 28;  // at 96 dpi
constexpr int kStatusHeight = 22;
constexpr int kGap = 4;

FileFilter filterOf(const app::FileFilterText& text) {
    return {std::string(text.description), std::string(text.pattern)};
}
const FileFilter kGlb = filterOf(app::kGlbFilter);
const FileFilter kObj = filterOf(app::kObjFilter);
const FileFilter kPng = filterOf(app::kPngFilter);

}  // namespace

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

std::string groupSeparator() {
    wchar_t separator[8] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8) == 0) return ",";
    return utf8(separator);
}

// The window.

View3D::View3D(GlProbe probe) : probe_(std::move(probe)) {}

View3D::~View3D() {
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

// The menu's commands, after the toolbar: its buttons carry the same ids.
void View3D::connectCommands() {
    onCommandId(commandId("saveas"), [this] { saveLevelAs(); });
    onCommandId(commandId("saveimage"), [this] { saveImage(); });
    onCommandId(commandId("openfolder"), [this] { openFolder(); });
    onCommandId(commandId("close"), [this] { PostMessageW(hwnd(), WM_CLOSE, 0, 0); });
    onCommandId(commandId("frameAll"), [this] { frameAll(); });
    onCommandId(commandId("frameSelected"), [this] { frameSelected(); });
    onCommandId(commandId("wireframe"), [this] { toggle("wireframe", &View3D::showWireframe); });
    onCommandId(commandId("zUp"), [this] { toggle("zUp", &View3D::showZUp); });
    onCommandId(commandId("about"), [this] { showAbout(); });
    setAccelerators(menus_.keys());
}

// A checkable command: its menu item and its button show the new state.
void View3D::toggle(std::string_view name, void (View3D::*action)(bool)) {
    const int id = commandId(name);
    const bool on = !menuItemChecked(menu(), id);
    checkMenuItem(menu(), id, on);
    for (const auto& [button, control] : toolbar_) {
        if (button == name) control->setChecked(on);
    }
    (this->*action)(on);
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
    saveBox_ = std::make_unique<CommonSaveBox>(hwnd());
    messages_ = std::make_unique<MessageBoxPresenter>(hwnd());
    const std::string refused = probe_ ? probe_() : std::string();
    const std::string failure = refused.empty() ? view_->start() : refused;
    if (!failure.empty()) showUnavailable(failure);
    view_->onFailed = [this](const std::string& reason) { showUnavailable(reason); };
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
        button->create({this, commandId(name), std::string(row.caption),
                        static_cast<DWORD>(row.checkable ? BS_AUTOCHECKBOX | BS_PUSHLIKE : BS_PUSHBUTTON), false});
        toolbar_.emplace_back(name, std::move(button));
    }
}

void View3D::createControls() {
    view_ = std::make_unique<GlView>();
    view_->create(*this, kIdView);
    view_->onPicked = [this](int mesh) {
        list_.select(mesh);
        view_->renderer().setHighlighted(mesh);
        InvalidateRect(view_->hwnd(), nullptr, FALSE);
    };
    notice_.create({this, kIdNotice, SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX});
    notice_.setVisible(false);
    list_.create({this, kIdList, {{"Mesh", 90}, {"Vertices", 70}, {"Triangles", 70}}});
    list_.onChecked = [this](int row, bool on) {
        if (view() == nullptr) return;
        view_->renderer().setMeshVisible(row, on);
        InvalidateRect(view_->hwnd(), nullptr, FALSE);
    };
    list_.onSelected = [this](int row) {
        if (view() == nullptr) return;
        view_->renderer().setHighlighted(row);
        InvalidateRect(view_->hwnd(), nullptr, FALSE);
    };
    list_.onDoubleClick = [this](int) { frameSelected(); };
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

void View3D::showUnavailable(const std::string& reason) {
    unavailable_ = app::unavailableText(reason);
    notice_.setText(unavailable_);
    notice_.setVisible(true);
    ShowWindow(view_->hwnd(), SW_HIDE);
    // Z Up stays: Save As writes the level as it says.
    for (const std::string_view name : {"saveimage", "frameAll", "frameSelected", "wireframe"}) {
        enableCommand(name, false);
    }
}

std::string View3D::unavailableText() const {
    return unavailable_;
}

app::Size View3D::preferredFrame() const {
    RECT frame{0, 0, scaled(kPreferredWidth), scaled(kPreferredHeight)};
    AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, TRUE, 0, dpi());
    return {frame.right - frame.left, frame.bottom - frame.top};
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
        const int w = scaled(menus_.row(button->id)->checkable ? 72 : 96);
        button->setBounds({x, gap, x + w, bar});
        x += w + gap;
    }
    const int top = bar + gap, bottom = std::max(top, height - status);
    const int list = app::listWidth(width, listNeed_);
    // Narrower than its texts, the list's name column gives way to the numbers.
    const int least_name = listNeed_.numbers - (listNeed_.whole - nameWidth_);
    list_.setColumnWidth(0, std::clamp(list - (listNeed_.whole - nameWidth_), least_name, nameWidth_));
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
    extraction_ = &extraction;
    result_ = result;
    SetWindowTextW(hwnd(), wide(app::viewTitle(extraction.folderName)).c_str());
    app::LevelGeometry level = decoded ? std::move(*decoded) : app::levelGeometry(extraction.plan);
    fillList(level);
    runStatus_ = app::statusText(result, app::levelCounts(level), groupSeparator());
    say(runStatus_);
    enableCommand("openfolder", !result.outputfolder.empty());
    if (view() == nullptr) return;
    // A new GL context decodes the level again rather than the view keeping a copy.
    const MeshPlan* plan = &extraction.plan;
    view_->renderer().setLevel(std::move(level), [plan] { return app::levelGeometry(*plan); });
    view_->renderer().camera().setZUp(menuItemChecked(menu(), commandId("zUp")));
    view_->renderer().setWireframe(menuItemChecked(menu(), commandId("wireframe")));
    InvalidateRect(view_->hwnd(), nullptr, FALSE);
}

// Drawn once, when every row is in.
void View3D::fillList(const app::LevelGeometry& level) {
    SendMessageW(list_.hwnd, WM_SETREDRAW, FALSE, 0);
    list_.clear();
    const std::vector<app::MeshRow> rows = app::meshRows(level, groupSeparator());
    ListView_SetItemCount(list_.hwnd, static_cast<int>(rows.size()));
    for (std::string& text : longest_) text.clear();
    // The texts differ in their digits, which the list's font draws at one
    // width (or nearly: of two as long, the one of higher digits is taken), so
    // the longest is the widest, and it alone is measured.
    const auto note = [](std::string& longest, const std::string& text) {
        if (text.size() > longest.size() || (text.size() == longest.size() && text > longest)) longest = text;
    };
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
    int box = 0;
    if (const HIMAGELIST boxes = ListView_GetImageList(list_.hwnd, LVSIL_STATE); boxes != nullptr) {
        int box_height = 0;
        ImageList_GetIconSize(boxes, &box, &box_height);
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
    statusLine_ = text;
    status_.setText(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(status_.hwnd);
    std::wstring whole = wide(text);
    tool.lpszText = whole.data();
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void View3D::openFolder() {
    if (result_.outputfolder.empty()) return;
    const std::string folder = shownPath(result_.outputfolder);
    std::error_code unknown;
    const bool there = std::filesystem::is_directory(result_.outputfolder, unknown);
    const std::string failure = there ? opener_(result_.outputfolder) : app::folderGoneText(folder);
    if (failure.empty()) return;
    say("Could not open " + folder + " in the Explorer");
    messages_->failed("The folder could not be shown in the Explorer.",
                      there ? failure + "\n\nThe mesh files are in:\n" + folder : failure);
    // The box said it; the status line goes back to the level.
    say(runStatus_);
}

// The format is the type's, or the name's when it ends in .obj or .glb.
void View3D::saveLevelAs() {
    if (extraction_ == nullptr) return;
    saveBox_->setTitle("Save As");
    saveBox_->setFileName(shownPath(app::saveLevelSuggestion(result_, extraction_->folderName)));
    saveBox_->setFilters({kGlb, kObj});
    saveBox_->showSave();
    std::string name = saveBox_->fileName();
    if (name.empty()) return;
    const bool obj = app::savesObj(name, saveBox_->selectedFilter() == 1);
    name = app::withExtension(name, obj ? ".obj" : ".glb");
    const bool zUp = menuItemChecked(menu(), commandId("zUp"));
    const std::error_code failure = extraction_->writeLevel(obj ? LevelFormat::obj : LevelFormat::glb,
                                                            zUp ? UpAxis::z : UpAxis::y, pathFromUtf8(name));
    say(failure ? "Could not write " + name + ": " + failure.message() : "Saved " + name + ". " + runStatus_);
}

void View3D::saveImage() {
    if (view() == nullptr) return;
    saveBox_->setTitle("Save Image");
    saveBox_->setFileName(app::saveImageSuggestion(extraction_ != nullptr ? extraction_->folderName : ""));
    saveBox_->setFilters({kPng});
    saveBox_->showSave();
    if (saveBox_->fileName().empty()) return;
    const std::string name = app::withExtension(saveBox_->fileName(), ".png");
    int width = 0, height = 0;
    const std::vector<std::uint8_t> pixels = view_->picture(width, height);
    const std::string failure = pixels.empty() ? std::string("the view could not be drawn")
                                               : writePng(pathFromUtf8(name), width, height, pixels.data(), width * 4);
    say(failure.empty() ? "Saved " + name + ". " + runStatus_ : "Could not write " + name + ": " + failure);
}

void View3D::frameAll() {
    if (view() == nullptr) return;
    view_->renderer().camera().frameAll();
    InvalidateRect(view_->hwnd(), nullptr, FALSE);
}

void View3D::frameSelected() {
    if (view() == nullptr) return;
    view_->renderer().frameMesh(list_.selected());
    InvalidateRect(view_->hwnd(), nullptr, FALSE);
}

void View3D::showWireframe(bool on) {
    if (view() == nullptr) return;
    view_->renderer().setWireframe(on);
    InvalidateRect(view_->hwnd(), nullptr, FALSE);
}

void View3D::showZUp(bool on) {
    if (view() == nullptr) return;
    view_->renderer().camera().setZUp(on);
    InvalidateRect(view_->hwnd(), nullptr, FALSE);
}

void View3D::showAbout() {
    messages_->about(app::kAboutTitle, app::aboutText());
}

}  // namespace v2bsp::win32
