// What the 3D View does, whatever toolkit shows it: what a run shows (title,
// mesh list, status line, which commands work), its menu's commands by the
// names of their rows in kView3DMenu, Save As, Save Image, Open Folder and
// their messages, the list's boxes and selection, and the view's mouse and
// keys. Each host makes the window's widgets, turns their events into calls
// of this class, and carries out what it asks through View3DWindow.
//
// Adding a command to both windows: a row in kView3DMenu (app/layout.hpp)
// and a method here, named in the table of view3dbehaviour.cpp.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialogs.hpp"
#include "app/gestures.hpp"
#include "app/level.hpp"
#include "app/renderer.hpp"
#include "extract/extraction.hpp"

namespace v2bsp::app {

// What the behaviour asks of its window. Text is UTF-8; commands are named as
// the rows of kView3DMenu, and a command's menu item and toolbar button go
// together.
class View3DWindow {
public:
    virtual ~View3DWindow() = default;
    virtual void setTitle(const std::string& title) = 0;
    // The list's rows, in this order, each box checked and none selected.
    virtual void setRows(const std::vector<MeshRow>& rows) = 0;
    // Selects row `row` (-1: none) and scrolls it into sight, without
    // telling the behaviour.
    virtual void selectRow(int row) = 0;
    // The whole status line; the window may show it cut, with the whole at hand.
    virtual void setStatus(const std::string& text) = 0;
    virtual void enableCommand(std::string_view name, bool on) = 0;
    virtual void checkCommand(std::string_view name, bool on) = 0;
    // The view's place says `text` from now on; the view is gone.
    virtual void showUnavailable(const std::string& text) = 0;
    // The picture changed: the view is drawn again.
    virtual void redraw() = 0;
    // File > Close: off the screen, keeping what it shows.
    virtual void hideWindow() = 0;
    // The mesh the view draws at `pixel`, or -1.
    virtual int meshAt(Pixel pixel) = 0;
    // Writes the whole picture, at the view's size, to `file` as a PNG;
    // empty, or why not.
    virtual std::string writePicture(const std::filesystem::path& file) = 0;
};

class View3DBehaviour {
public:
    // `separator`: the locale's thousands separator for the numbers shown.
    View3DBehaviour(View3DWindow& window, std::string separator);
    ~View3DBehaviour();
    View3DBehaviour(const View3DBehaviour&) = delete;
    View3DBehaviour& operator=(const View3DBehaviour&) = delete;

    void setSaveBox(std::unique_ptr<SaveBox> box) { saveBox_ = std::move(box); }
    void setMessagePresenter(std::unique_ptr<MessagePresenter> messages) { messages_ = std::move(messages); }
    void setFolderOpener(FolderOpener opener) { opener_ = std::move(opener); }
    // The runs shown write no files of their own, another run does (the
    // browser page's): the status line gives the level and what the map
    // lacks (levelStatusText), nothing of folders or files.
    void setFilesElsewhere(bool elsewhere) { filesElsewhere_ = elsewhere; }

    // The renderer of the window's view, or null while there is none; it
    // must outlive its use here (until the next call, unavailable() or the
    // end of this object).
    void setRenderer(LevelRenderer* renderer);
    // The view cannot draw: its place says why, and the commands that need
    // a picture stop working. The list, the status line, Save As and Open
    // Folder go on.
    void unavailable(const std::string& reason);
    bool available() const { return renderer_ != nullptr; }

    // Shows the run's level: `decoded` when given (levelGeometry of the
    // run's plan), else decoded here. `extraction` must outlive its use here
    // (until the next showRun or the end of this object).
    void showRun(const MapExtraction& extraction, const ExtractResult& result,
                 std::optional<LevelGeometry> decoded = std::nullopt);
    // The positions and indices of the level shown, when it was shown
    // without them (LevelGeometry::arraysToCome): the view draws every
    // triangle from now on. Else they are let go.
    void levelArrays(LevelGeometry arrays);
    // `wanted` is called once the level shown without its arrays has its
    // first picture drawn, which their decoding would slow; never where the
    // view draws nothing.
    void whenArraysWanted(std::function<void()> wanted);

    // The command named `name` of kView3DMenu; false for a name of none.
    bool command(std::string_view name);
    void saveLevelAs();
    void saveImage();
    void openFolder();
    void close();
    void frameAll();
    void frameSelected();
    void toggleWireframe();
    void toggleZUp();
    void about();

    // The list: a box checked or cleared, a row selected (-1: none), a row
    // double-clicked.
    void rowChecked(int row, bool on);
    void rowSelected(int row);
    void rowActivated(int row);

    // The view's pointer, wheel and keys (gestures.hpp).
    void pointerPressed(PointerButton button, Pixel at, bool shift);
    void pointerMoved(Pixel at);
    void pointerReleased(PointerButton button, Pixel at);
    void pointerLost();
    void doubleClicked();
    void wheelTurned(Pixel at, float notches);
    // False when the view has no camera to move.
    bool keyPressed(ViewKey key, bool shift);

    const std::string& status() const { return status_; }
    bool wireframe() const { return wireframe_; }
    bool zUp() const { return zUp_; }
    int selected() const { return selected_; }

private:
    void say(const std::string& text);
    void picked(int mesh);
    void changed();

    View3DWindow& window_;
    std::string separator_;
    std::unique_ptr<SaveBox> saveBox_;
    std::unique_ptr<MessagePresenter> messages_;
    FolderOpener opener_;
    LevelRenderer* renderer_ = nullptr;
    Gestures gestures_;
    // Open Folder's answer may come after this object's end: it asks this first.
    std::shared_ptr<View3DBehaviour*> self_;

    const MapExtraction* extraction_ = nullptr;
    ExtractResult result_;
    std::string runStatus_;  // what the status line says of the run
    std::string status_;
    bool wireframe_;
    bool zUp_;
    bool filesElsewhere_ = false;
    int selected_ = -1;
};

}  // namespace v2bsp::app
