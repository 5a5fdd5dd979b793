// A thin layer over raw Win32 for the windows of v2bsp.exe: a Wnd base whose
// window procedure hands each message to a named handler, one small struct
// per control (made from its CreateArgs, with named handlers), menus and key
// tables by command id, sizes at the window's dots per inch, and the message
// loop that gives Tab, Space and the keys of menus to the window with focus.
//
// Text crosses the layer as UTF-8 (std::string), as the core keeps it; the
// system gets UTF-16.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace v2bsp::win32 {

std::wstring wide(std::string_view utf8);
std::string utf8(std::wstring_view text);

// The messages of the program's own windows, above WM_APP.
enum AppMessage : UINT {
    kMsgRunPending = WM_APP + 1,  // a run has queued lines, tags or its end
};

// A top-level or child window of its own class. The window procedure hands
// each message to a named handler; a handler that returns false (or a
// message without one) goes to DefWindowProc.
class Wnd {
public:
    struct CreateArgs {
        HWND parent = nullptr;
        std::wstring title;
        DWORD style = WS_OVERLAPPEDWINDOW;
        DWORD exStyle = 0;
        RECT bounds{CW_USEDEFAULT, CW_USEDEFAULT, 0, 0};  // left, top, width, height; CW_USEDEFAULT: the system's
        HMENU menu = nullptr;
        HICON icon = nullptr;
        UINT classStyle = 0;
    };

    Wnd() = default;
    virtual ~Wnd();
    Wnd(const Wnd&) = delete;
    Wnd& operator=(const Wnd&) = delete;

    // Makes the window; false (with GetLastError) when the system refused.
    bool create(const CreateArgs& args);
    HWND hwnd() const { return hwnd_; }
    // The window's dots per inch (96 where the system does not say).
    UINT dpi() const;
    // `length` (pixels at 96 dpi) at the window's dpi.
    int scaled(int length) const { return MulDiv(length, static_cast<int>(dpi()), 96); }

    // A menu item, button or key of the window runs `handler`.
    void onCommandId(int id, std::function<void()> handler) { commands_[id] = std::move(handler); }
    // Keys of the window's menus (Ctrl+O, F, ...): ACCEL rows with their command ids.
    void setAccelerators(const std::vector<ACCEL>& keys);

    // What the message loop asks of the window first: its keys, then Tab,
    // Space and arrows among its controls. True when `msg` was used.
    bool translate(MSG& msg);

    static Wnd* fromHandle(HWND hwnd);

protected:
    virtual LRESULT windowProc(UINT msg, WPARAM wparam, LPARAM lparam);

    virtual void onCreate() {}
    // A command without a handler of its own: a control's notification.
    virtual bool onCommand(int id, int code, HWND control);
    virtual bool onNotify(NMHDR* header, LRESULT& result);
    virtual void onTimer(UINT_PTR id) { (void)id; }
    virtual void onSize(int width, int height) { (void)width, (void)height; }
    virtual bool onPaint() { return false; }
    virtual void onDropFiles(HDROP drop) { (void)drop; }
    // The user asks to close; true lets DefWindowProc destroy the window.
    virtual bool onClose() { return true; }
    virtual void onDestroy() {}
    virtual void onDpiChanged(UINT dpi, const RECT& suggested);
    virtual bool onAppMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
        (void)msg, (void)wparam, (void)lparam;
        return false;
    }
    virtual bool onMouse(UINT msg, WPARAM wparam, LPARAM lparam) {
        (void)msg, (void)wparam, (void)lparam;
        return false;
    }
    // The window became active, or stopped being so. The base keeps the
    // control that had the focus and gives it back, as a dialog box does,
    // or gives it to `firstFocus()` the first time.
    virtual void onActivate(bool active);
    virtual HWND firstFocus() const { return nullptr; }

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

    HWND hwnd_ = nullptr;
    HWND lastFocus_ = nullptr;
    HACCEL accelerators_ = nullptr;
    std::map<int, std::function<void()>> commands_;
};

// The controls. Each is made as a child of `parent` with the command id `id`
// and placed later (setBounds); the parent's commands of that id reach its handler.
struct Control {
    HWND hwnd = nullptr;
    int id = 0;

    void setBounds(const RECT& pixels) const;  // left, top, right, bottom in the parent's client area
    RECT bounds() const;                       // the same, read back
    void setText(std::string_view text) const;
    std::string text() const;
    void setEnabled(bool on) const { EnableWindow(hwnd, on ? TRUE : FALSE); }
    void setVisible(bool on) const { ShowWindow(hwnd, on ? SW_SHOWNA : SW_HIDE); }
    void setFont(HFONT font) const { SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE); }
};

struct Button : Control {
    struct CreateArgs {
        Wnd* parent = nullptr;
        int id = 0;
        std::string text;
        DWORD style = BS_PUSHBUTTON;  // BS_AUTOCHECKBOX | BS_PUSHLIKE: a button that stays down
        bool tabStop = true;
    };
    // Runs on a click. Made after the button, a handler of the parent's for
    // the same id takes the click instead.
    std::function<void()> onClick;
    void create(const CreateArgs& args);
    void setChecked(bool on) const { SendMessageW(hwnd, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }
    bool checked() const { return SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED; }
};

// A text box. Multi-line: both scroll bars, no wrapping; Tab moves on.
struct Edit : Control {
    struct CreateArgs {
        Wnd* parent = nullptr;
        int id = 0;
        bool multiline = false;
        bool visible = true;
    };
    void create(const CreateArgs& args);
    // Appends `text` at the very end, whatever the caret's place, and puts the
    // caret after it, which scrolls it into view.
    void append(std::string_view text) const;
    // The caret's place, in UTF-16 units.
    int caret() const;
};

struct ListBox : Control {
    struct CreateArgs {
        Wnd* parent = nullptr;
        int id = 0;
        DWORD style = 0;  // besides the list's own: WS_HSCROLL for items wider than the list
    };
    void create(const CreateArgs& args);
    void add(std::string_view item) const;
    int count() const { return static_cast<int>(SendMessageW(hwnd, LB_GETCOUNT, 0, 0)); }
    std::string item(int index) const;
};

// A report-style list view with a check box in every row, and optionally a
// colour swatch before each row's first text. Focused, it shows its focus
// on a row, the selected one or else the first.
struct ListView : Control {
    struct CreateArgs {
        Wnd* parent = nullptr;
        int id = 0;
        std::vector<std::pair<std::string, int>> columns;  // heading and width at 96 dpi
    };
    // A row's box was checked or cleared by the user (not by setChecked).
    std::function<void(int row, bool checked)> onChecked;
    // The selected row changed, to -1 for none.
    std::function<void(int row)> onSelected;
    std::function<void(int row)> onDoubleClick;

    void create(const CreateArgs& args);
    void clear();
    // The swatches of the rows to come, by row; none when empty.
    void setSwatches(const std::vector<COLORREF>& colours);
    void addRow(const std::vector<std::string>& cells, bool checked);
    int rows() const { return ListView_GetItemCount(hwnd); }
    void setChecked(int row, bool checked);
    bool checked(int row) const { return ListView_GetCheckState(hwnd, row) != FALSE; }
    void select(int row);
    int selected() const { return ListView_GetNextItem(hwnd, -1, LVNI_SELECTED); }
    void setColumnWidth(int column, int pixels) const { ListView_SetColumnWidth(hwnd, column, pixels); }
    // The parent's WM_NOTIFY of this list; true when it was.
    bool notify(const NMHDR* header);

private:
    bool settling_ = false;  // the program changes the boxes: no onChecked
    bool swatches_ = false;
};

// A static text, e.g. a status line.
struct Label : Control {
    struct CreateArgs {
        Wnd* parent = nullptr;
        int id = 0;
        DWORD style = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    };
    void create(const CreateArgs& args);
};

void checkMenuItem(HMENU menu, int id, bool on);
bool menuItemChecked(HMENU menu, int id);
void enableMenuItem(HMENU menu, int id, bool on);

// The font of message boxes at `dpi`, `points` high; the caller deletes it.
HFONT messageFont(UINT dpi, int points);

// Runs the message loop until WM_QUIT; returns its code.
int runMessageLoop();

}  // namespace v2bsp::win32
