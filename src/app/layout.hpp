// Form1's layout as data: its caption, its sizes, every control and menu item,
// in twips (1/1440 inch) from the top-left corner of the client area, and the
// one rule that turns twips into a host's pixels.
//
// The controls are listed in tab order. A host creates each from its row
// (kind, caption, place, initial state) and never keeps a size of its own.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "app/placement.hpp"

namespace v2bsp::app {

inline constexpr double kTwipsPerInch = 1440;

// The nearest whole pixel to `twips` at `dpi` dots per inch; a dpi not above
// zero is taken as 96.
int twipsToPixels(double twips, double dpi);

struct TwipsRect {
    double left = 0, top = 0, width = 0, height = 0;
};

// `place` in pixels, each edge rounded to the nearest pixel, so that
// controls that touch in twips touch on the screen too.
Rect pixelRect(const TwipsRect& place, double dpi);

enum class ControlKind {
    log,         // multi-line text box, both scroll bars, no wrapping
    button,      // command button
    list,        // list box
    textBox,     // one-line text box
    timer,       // no visible area
    openDialog,  // the common open-file dialog; no visible area
};

struct Control {
    std::string_view name;
    ControlKind kind;
    std::string_view caption;  // a button's caption, a text box's text at start
    TwipsRect place;           // all zero where the control has no visible area
    int tabIndex;              // -1 where it takes no focus
    bool enabled;              // at start; for a timer, whether it runs
    bool visible;
    int intervalMs;  // a timer's interval; 0 for the others
};

// A menu (no parent), an item of one, or a separator (named kSeparator).
// Shortcuts read "Ctrl+O", "Ctrl+Shift+S", "F", "Esc": modifiers first,
// joined by "+".
struct MenuItem {
    std::string_view name;
    std::string_view caption;  // "&" marks the access key
    std::string_view parent;   // empty: on the menu bar
    std::string_view shortcut;
    bool checkable;
    bool checked;                  // at start
    std::string_view alternate{};  // a second shortcut
    std::string_view tooltip{};    // where the caption alone says too little
};

inline constexpr std::string_view kSeparator = "-";

struct FormLayout {
    std::string_view caption;
    double clientWidth;                 // twips
    double clientHeight;                // twips, below the menu bar
    double outerWidth;                  // at start, frame included: the narrow width of the slide
    double frameWidth;                  // outer width minus client width
    double fontPoints;                  // small enough that "Extract" fits its 252-twip-high button at any dpi
    std::span<const Control> controls;  // in tab order, then the controls without a place
    std::span<const MenuItem> menu;     // in menu order, each menu before its items
};

inline constexpr Control kForm1Controls[] = {
    {"datalog", ControlKind::log, "", {120, 600, 4572, 1092}, 0, true, true, 0},
    {"Command1", ControlKind::button, "Extract", {1080, 240, 2292, 252}, 1, false, true, 0},
    {"cmdright", ControlKind::button, ">", {4800, 360, 252, 1332}, 2, true, true, 0},
    {"List1", ControlKind::list, "", {5160, 120, 1812, 1584}, 3, true, true, 0},
    {"Txt1", ControlKind::textBox, "0", {3480, 240, 252, 288}, 4, true, false, 0},
    {"Timer1", ControlKind::timer, "", {}, -1, false, false, 1},
    {"Timer2", ControlKind::timer, "", {}, -1, false, false, 1},
    {"openbox", ControlKind::openDialog, "", {}, -1, true, false, 0},
};

inline constexpr MenuItem kForm1Menu[] = {
    {"mnufile", "&File", "", "", false, false},
    {"mnuopen", "Open", "mnufile", "Ctrl+O", false, false},
    {"mnuexit", "Exit", "mnufile", "Ctrl+Q", false, false},
    {"mnuview", "&View", "", "", false, false},
    {"mnu3dwindow", "3D Window", "mnuview", "", true, true},
    {"mnuhelp", "&Help", "", "", false, false},
    {"mnuabout", "About v2bsp", "mnuhelp", "", false, false},
};

inline constexpr FormLayout kForm1{
    "Vorun2 BSP Extracter", 5088, 1848, 5184, 96, 8, kForm1Controls, kForm1Menu,
};

// The 3D View's menu bar; every action has a key, and Tab moves between its
// list and its view.
inline constexpr MenuItem kView3DMenu[] = {
    {"menufile", "&File", "", "", false, false},
    {"saveas", "Save As...", "menufile", "Ctrl+S", false, false},
    {"saveimage", "Save Image...", "menufile", "Ctrl+Shift+S", false, false},
    {"openfolder", "Open Folder", "menufile", "Ctrl+E", false, false},
    {kSeparator, "", "menufile", "", false, false},
    {"close", "Close", "menufile", "Ctrl+W", false, false, "Esc"},
    {"menuview", "&View", "", "", false, false},
    {"frameAll", "Frame All", "menuview", "F", false, false},
    {"frameSelected", "Frame Selected", "menuview", "Shift+F", false, false},
    {"wireframe", "Wireframe", "menuview", "W", true, false},
    {"zUp", "Z Up", "menuview", "Z", true, false, "",
     "For maps that store Z up: shows (x, y, z) as (x, z, -y), and Save As writes the level so."},
    {"menuhelp", "&Help", "", "", false, false},
    {"about", "About v2bsp", "menuhelp", "", false, false},
};

// The 3D View's toolbar, for the mouse: the names of its menu items, in order.
inline constexpr std::string_view kView3DToolbar[] = {"openfolder", "saveas",    "saveimage", kSeparator,
                                                      "frameAll",   "wireframe", "zUp"};

// What a toolbar button of menu item `item` says: its caption without the
// access key's "&" ("&&" is one "&") and without a closing "...", as
// toolbars show them.
std::string toolbarText(const MenuItem& item);

// The size the 3D View would like, in pixels at 96 dpi, frame aside; and its
// list's width.
inline constexpr int kView3DWidth = 960;
inline constexpr int kView3DHeight = 600;
inline constexpr int kView3DListWidth = 250;

// The 3D View's file filters: what the dialog shows, and the names it takes.
struct FileFilterText {
    std::string_view description;
    std::string_view pattern;
};
inline constexpr FileFilterText kGlbFilter{"glTF binary (*.glb)", "*.glb"};
inline constexpr FileFilterText kObjFilter{"Wavefront OBJ (*.obj)", "*.obj"};
inline constexpr FileFilterText kPngFilter{"PNG image (*.png)", "*.png"};

// The row named `name`, or null.
const Control* findControl(const FormLayout& form, std::string_view name);
const MenuItem* findMenuItem(const FormLayout& form, std::string_view name);

// The client width, in pixels at `dpi`, of a window `outerWidth` twips wide.
int clientPixels(const FormLayout& form, double outerWidth, double dpi);

}  // namespace v2bsp::app
