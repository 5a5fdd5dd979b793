#include "win32/wingui.hpp"

#include "platform/win32/winsystem.hpp"

#include <windowsx.h>

#include <algorithm>
#include <cstdint>

namespace v2bsp::win32 {

std::wstring wide(std::string_view text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string utf8(std::wstring_view text) {
    return utf8FromWide(text);
}

namespace {

constexpr wchar_t kClassPrefix[] = L"v2bsp.Wnd.";

// One window class for each set of class styles (the GL view owns its DC).
const wchar_t* windowClass(UINT style, HICON icon, WNDPROC procedure) {
    static std::map<std::pair<UINT, HICON>, std::wstring> registered;
    auto [at, fresh] = registered.try_emplace({style, icon});
    if (fresh) {
        at->second = kClassPrefix + std::to_wstring(registered.size());
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = style | CS_DBLCLKS;
        wc.lpfnWndProc = procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.hIcon = icon;
        wc.hIconSm = icon;
        wc.lpszClassName = at->second.c_str();
        RegisterClassExW(&wc);
    }
    return at->second.c_str();
}

HWND makeChild(Wnd* parent, const wchar_t* cls, int id, DWORD style, DWORD exStyle = 0, const wchar_t* text = L"") {
    return CreateWindowExW(exStyle, cls, text, WS_CHILD | style, 0, 0, 0, 0, parent->hwnd(),
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

// A multi-line text box wants every key, Tab included, when asked by the
// dialog keys; here Tab is left to them, so that it moves to the next control
// as in a dialog box (Ctrl+Tab still types a tab).
LRESULT CALLBACK tabMovesOn(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
    LRESULT result = DefSubclassProc(hwnd, msg, wparam, lparam);
    if (msg == WM_GETDLGCODE && lparam != 0) {
        const MSG* asked = reinterpret_cast<const MSG*>(lparam);
        if (asked->message == WM_KEYDOWN && asked->wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0) {
            result &= ~(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE);
        }
    }
    return result;
}

}  // namespace

Wnd::~Wnd() {
    if (accelerators_ != nullptr) DestroyAcceleratorTable(accelerators_);
    if (hwnd_ != nullptr) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

bool Wnd::create(const CreateArgs& args) {
    const wchar_t* cls = windowClass(args.classStyle, args.icon, &Wnd::procedure);
    const RECT& b = args.bounds;
    CreateWindowExW(args.exStyle, cls, args.title.c_str(), args.style, b.left, b.top, b.right, b.bottom, args.parent,
                    args.menu, GetModuleHandleW(nullptr), this);
    return hwnd_ != nullptr;
}

UINT Wnd::dpi() const {
    const UINT value = hwnd_ != nullptr ? GetDpiForWindow(hwnd_) : 0;
    return value != 0 ? value : 96;
}

void Wnd::setAccelerators(const std::vector<ACCEL>& keys) {
    if (accelerators_ != nullptr) DestroyAcceleratorTable(accelerators_);
    std::vector<ACCEL> table = keys;
    accelerators_ = CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
}

bool Wnd::translate(MSG& msg) {
    if (accelerators_ != nullptr && TranslateAcceleratorW(hwnd_, accelerators_, &msg) != 0) return true;
    return IsDialogMessageW(hwnd_, &msg) != FALSE;
}

Wnd* Wnd::fromHandle(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    if (std::wstring_view(name).substr(0, std::size(kClassPrefix) - 1) != kClassPrefix) return nullptr;
    return reinterpret_cast<Wnd*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK Wnd::procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<Wnd*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    Wnd* self = reinterpret_cast<Wnd*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wparam, lparam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
    return self->windowProc(msg, wparam, lparam);
}

// Each message to its handler; what a handler leaves goes to DefWindowProc.
LRESULT Wnd::windowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
        case WM_CREATE:
            onCreate();
            return 0;
        case WM_COMMAND: {
            const int id = LOWORD(wparam);
            const auto handler = commands_.find(id);
            if (handler != commands_.end() && (lparam == 0 || HIWORD(wparam) == BN_CLICKED)) {
                handler->second();
                return 0;
            }
            if (onCommand(id, HIWORD(wparam), reinterpret_cast<HWND>(lparam))) return 0;
            break;
        }
        case WM_NOTIFY: {
            LRESULT result = 0;
            if (onNotify(reinterpret_cast<NMHDR*>(lparam), result)) return result;
            break;
        }
        case WM_TIMER:
            onTimer(wparam);
            return 0;
        case WM_SIZE:
            onSize(LOWORD(lparam), HIWORD(lparam));
            return 0;
        case WM_PAINT:
            if (onPaint()) return 0;
            break;
        case WM_DROPFILES:
            onDropFiles(reinterpret_cast<HDROP>(wparam));
            DragFinish(reinterpret_cast<HDROP>(wparam));
            return 0;
        case WM_CLOSE:
            if (!onClose()) return 0;
            break;
        case WM_DESTROY:
            onDestroy();
            return 0;
        case WM_DPICHANGED:
            onDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
            return 0;
        case WM_ACTIVATE:
            if (GetParent(hwnd_) != nullptr) break;
            onActivate(LOWORD(wparam) != WA_INACTIVE);
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_MOUSEMOVE:
        case WM_MOUSEWHEEL:
        case WM_CAPTURECHANGED:
            if (onMouse(msg, wparam, lparam)) return 0;
            break;
        default:
            if (msg >= WM_APP && msg <= 0xBFFF && onAppMessage(msg, wparam, lparam)) return 0;
            break;
    }
    return DefWindowProcW(hwnd_, msg, wparam, lparam);
}

bool Wnd::onCommand(int id, int code, HWND control) {
    (void)id, (void)code, (void)control;
    return false;
}

bool Wnd::onNotify(NMHDR* header, LRESULT& result) {
    (void)header, (void)result;
    return false;
}

void Wnd::onActivate(bool active) {
    if (!active) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd_, focus)) lastFocus_ = focus;
        return;
    }
    HWND focus = lastFocus_ != nullptr && IsWindow(lastFocus_) ? lastFocus_ : firstFocus();
    if (focus != nullptr && IsWindowEnabled(focus) && IsWindowVisible(focus)) {
        SetFocus(focus);
    } else {
        SetFocus(hwnd_);
    }
}

void Wnd::onDpiChanged(UINT, const RECT& suggested) {
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Control::setBounds(const RECT& r) const {
    MoveWindow(hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

RECT Control::bounds() const {
    RECT r{};
    GetWindowRect(hwnd, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void Control::setText(std::string_view text) const {
    SetWindowTextW(hwnd, wide(text).c_str());
}

std::string Control::text() const {
    std::wstring buffer(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    buffer.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, buffer.data(), static_cast<int>(buffer.size()))));
    return utf8(buffer);
}

void Button::create(const CreateArgs& args) {
    id = args.id;
    hwnd = makeChild(args.parent, WC_BUTTONW, id, WS_VISIBLE | (args.tabStop ? WS_TABSTOP : 0) | args.style, 0,
                     wide(args.text).c_str());
    args.parent->onCommandId(id, [this] {
        if (onClick) onClick();
    });
}

void Edit::create(const CreateArgs& args) {
    id = args.id;
    DWORD style = WS_TABSTOP | (args.visible ? WS_VISIBLE : 0) | ES_AUTOHSCROLL;
    if (args.multiline) style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_HSCROLL | WS_VSCROLL;
    hwnd = makeChild(args.parent, WC_EDITW, id, style, WS_EX_CLIENTEDGE);
    if (args.multiline) {
        // A log of thousands of lines passes the default limit of 32,767 characters.
        SendMessageW(hwnd, EM_SETLIMITTEXT, 0, 0);
        SetWindowSubclass(hwnd, tabMovesOn, 1, 0);
    }
}

void Edit::append(std::string_view text) const {
    const int end = GetWindowTextLengthW(hwnd);
    SendMessageW(hwnd, EM_SETSEL, end, end);
    SendMessageW(hwnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide(text).c_str()));
    const int after = GetWindowTextLengthW(hwnd);
    SendMessageW(hwnd, EM_SETSEL, after, after);
    SendMessageW(hwnd, EM_SCROLLCARET, 0, 0);
}

int Edit::caret() const {
    DWORD start = 0, end = 0;
    SendMessageW(hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(end);
}

void ListBox::create(const CreateArgs& args) {
    id = args.id;
    hwnd = makeChild(args.parent, WC_LISTBOXW, id,
                     WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | args.style, WS_EX_CLIENTEDGE);
}

void ListBox::add(std::string_view item) const {
    SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
}

std::string ListBox::item(int index) const {
    const LRESULT length = SendMessageW(hwnd, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR) return {};
    std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(hwnd, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    buffer.resize(static_cast<std::size_t>(length));
    return utf8(buffer);
}

void ListView::create(const CreateArgs& args) {
    id = args.id;
    hwnd = makeChild(args.parent, WC_LISTVIEWW, id,
                     WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE);
    ListView_SetExtendedListViewStyle(hwnd, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    const UINT dpi = GetDpiForWindow(args.parent->hwnd());
    for (std::size_t i = 0; i < args.columns.size(); ++i) {
        std::wstring heading = wide(args.columns[i].first);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = i == 0 ? LVCFMT_LEFT : LVCFMT_RIGHT;
        column.cx = MulDiv(args.columns[i].second, static_cast<int>(dpi != 0 ? dpi : 96), 96);
        column.pszText = heading.data();
        ListView_InsertColumn(hwnd, static_cast<int>(i), &column);
    }
}

void ListView::clear() {
    settling_ = true;
    ListView_DeleteAllItems(hwnd);
    settling_ = false;
}

// Each swatch a square of the colour inside a margin of the list's
// background, drawn straight into the pixels of a strip of swatches that the
// image list cuts up: a few calls of the system for a strip, not several for
// each swatch.
void ListView::setSwatches(const std::vector<COLORREF>& colours) {
    swatches_ = !colours.empty();
    HIMAGELIST images = nullptr;
    if (swatches_) {
        const UINT dpi = GetDpiForWindow(hwnd);
        const int side = GetSystemMetricsForDpi(SM_CXSMICON, dpi != 0 ? dpi : 96);
        const int margin = std::max(1, side / 8);
        images = ImageList_Create(side, side, ILC_COLOR24, static_cast<int>(colours.size()), 0);
        // Pixels as a DIB holds them: blue, green, red, unused.
        const auto pixel = [](COLORREF colour) {
            return static_cast<std::uint32_t>(GetRValue(colour)) << 16 |
                   static_cast<std::uint32_t>(GetGValue(colour)) << 8 | GetBValue(colour);
        };
        const std::uint32_t background = pixel(GetSysColor(COLOR_WINDOW));
        constexpr std::size_t kStrip = 256;
        for (std::size_t first = 0; first < colours.size(); first += kStrip) {
            const int count = static_cast<int>(std::min(kStrip, colours.size() - first));
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof info.bmiHeader;
            info.bmiHeader.biWidth = side * count;
            info.bmiHeader.biHeight = -side;  // rows from the top
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            void* bits = nullptr;
            HBITMAP strip = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
            if (strip == nullptr) break;
            auto* row = static_cast<std::uint32_t*>(bits);
            const int width = side * count;
            for (int y = 0; y < side; ++y, row += width) {
                const bool edge = y < margin || y >= side - margin;
                for (int x = 0; x < width; ++x) {
                    const int within = x % side;
                    const bool inside = !edge && within >= margin && within < side - margin;
                    row[x] = inside ? pixel(colours[first + static_cast<std::size_t>(x / side)]) : background;
                }
            }
            ImageList_Add(images, strip, nullptr);
            DeleteObject(strip);
        }
    }
    // The list ends the image list it holds at its own end; one it lets go is ended here.
    const HIMAGELIST before = ListView_SetImageList(hwnd, images, LVSIL_SMALL);
    if (before != nullptr) ImageList_Destroy(before);
}

void ListView::addRow(const std::vector<std::string>& cells, bool on) {
    settling_ = true;
    LVITEMW row{};
    row.mask = LVIF_TEXT | (swatches_ ? LVIF_IMAGE : 0);
    row.iItem = rows();
    row.iImage = row.iItem;
    std::wstring first = wide(cells.empty() ? std::string() : cells[0]);
    row.pszText = first.data();
    const int at = ListView_InsertItem(hwnd, &row);
    for (std::size_t column = 1; column < cells.size(); ++column) {
        std::wstring text = wide(cells[column]);
        ListView_SetItemText(hwnd, at, static_cast<int>(column), text.data());
    }
    ListView_SetCheckState(hwnd, at, on ? TRUE : FALSE);
    settling_ = false;
}

void ListView::setChecked(int row, bool on) {
    settling_ = true;
    ListView_SetCheckState(hwnd, row, on ? TRUE : FALSE);
    settling_ = false;
}

void ListView::select(int row) {
    settling_ = true;
    // The focus stays on the row it was on, where the list shows it when focused.
    ListView_SetItemState(hwnd, -1, 0, LVIS_SELECTED);
    if (row >= 0) {
        ListView_SetItemState(hwnd, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(hwnd, row, FALSE);
    }
    settling_ = false;
}

bool ListView::notify(const NMHDR* header) {
    if (header->hwndFrom != hwnd) return false;
    if (header->code == LVN_ITEMCHANGED && !settling_) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
        if ((change->uChanged & LVIF_STATE) == 0 || change->iItem < 0) return true;
        const UINT boxes = LVIS_STATEIMAGEMASK;
        // State image 1 is the cleared box, 2 the checked one; 0 is none yet.
        if ((change->uOldState & boxes) != (change->uNewState & boxes) && (change->uOldState & boxes) != 0 &&
            onChecked) {
            onChecked(change->iItem, (change->uNewState & boxes) == INDEXTOSTATEIMAGEMASK(2));
        }
        if ((change->uOldState & LVIS_SELECTED) != (change->uNewState & LVIS_SELECTED) && onSelected) {
            onSelected(selected());
        }
    } else if (header->code == NM_SETFOCUS && rows() > 0 && ListView_GetNextItem(hwnd, -1, LVNI_FOCUSED) < 0) {
        settling_ = true;
        ListView_SetItemState(hwnd, std::max(0, selected()), LVIS_FOCUSED, LVIS_FOCUSED);
        settling_ = false;
    } else if (header->code == NM_DBLCLK && onDoubleClick) {
        const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
        if (activate->iItem >= 0) onDoubleClick(activate->iItem);
    }
    return true;
}

void Label::create(const CreateArgs& args) {
    id = args.id;
    hwnd = makeChild(args.parent, WC_STATICW, id, WS_VISIBLE | args.style);
}

void checkMenuItem(HMENU menu, int id, bool on) {
    CheckMenuItem(menu, static_cast<UINT>(id), MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

bool menuItemChecked(HMENU menu, int id) {
    return (GetMenuState(menu, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void enableMenuItem(HMENU menu, int id, bool on) {
    EnableMenuItem(menu, static_cast<UINT>(id), MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
}

HFONT messageFont(UINT dpi, int points) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi) == FALSE) {
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    }
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = -MulDiv(points, static_cast<int>(dpi), 72);
    font.lfWidth = 0;
    return CreateFontIndirectW(&font);
}

int runMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        Wnd* root = Wnd::fromHandle(GetAncestor(msg.hwnd, GA_ROOT));
        if (root != nullptr && root->translate(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace v2bsp::win32
