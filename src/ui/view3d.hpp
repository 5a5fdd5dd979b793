// View3D: the "3D View" window of a run in Qt widgets: a LevelView (or, where
// OpenGL cannot be had, a notice in its place), the mesh list (a colour
// swatch, number, vertices, triangles, a visibility box), a status line, a
// menu bar made from kView3DMenu and a toolbar from kView3DToolbar.
//
// What the window does is app::View3DBehaviour's: this class makes the
// widgets, turns their events into the behaviour's calls, and carries out
// what the behaviour asks. Tab moves between the list and the view.
#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/layout.hpp"
#include "app/level3dwindow.hpp"
#include "app/view3dbehaviour.hpp"
#include "extract/extraction.hpp"
#include "ui/levelview.hpp"

class QLabel;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace v2bsp::ui {

// Empty when the view may draw with OpenGL (probeOpenGl), else why not.
using GlProbe = std::function<QString()>;

// The level's geometry, decoded from a run's plan (app/level.hpp).
using app::levelGeometry;

// The locale's thousands separator, as the texts of app/texts.hpp take it.
std::string groupSeparator();

class View3D final : public QMainWindow, public app::Level3DWindow {
    Q_OBJECT

public:
    // The size it would like, in pixels at 96 dpi, frame aside.
    static constexpr int kPreferredWidth = app::kView3DWidth;
    static constexpr int kPreferredHeight = app::kView3DHeight;

    // `probe` decides whether the view is drawn with OpenGL.
    explicit View3D(GlProbe probe = probeOpenGl, QWidget* parent = nullptr);
    ~View3D() override;

    // The dialogs and the opener; the toolkit's and the system's at first.
    void setSaveBox(std::unique_ptr<app::SaveBox> box);
    void setFolderOpener(app::FolderOpener opener);
    void setMessagePresenter(std::unique_ptr<app::MessagePresenter> presenter);

    // app::Level3DWindow.
    void showRun(const MapExtraction& extraction, const ExtractResult& result,
                 std::optional<LevelGeometry> decoded = std::nullopt) override;
    void levelArrays(LevelGeometry arrays) override;
    void whenArraysWanted(std::function<void()> wanted) override;
    // On the screen, raised and active.
    void show() override;
    void hide() override;
    // The window manager's frame is known once the window has been shown;
    // before, `margins` (another window's) stand in for it.
    app::Size preferredFrame() const override;
    void place(const app::Rect& frame) override;
    void setFrameGuess(const QMargins& margins) { frameGuess_ = margins; }

    // Null when the view is unavailable.
    LevelView* levelview() const { return view_; }
    // The whole status line, however much of it the window shows.
    QString statusLine() const;

signals:
    // The user closed the window (it is hidden, and keeps what it shows).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class Window;

    QMargins frame() const;
    // Moves back into the available area what lies past it once the frame is known.
    void keepInside();
    QMargins frameGuess_;
    bool placedNow_ = false;  // placed, not yet shown since

    void createActions();
    void createMenus();
    void createToolbar();
    void createView(const GlProbe& probe);
    void createList();
    void createStatus();
    void connectActions();

    void showUnavailable(const QString& text);
    void fillList(const std::vector<app::MeshRow>& rows);
    void measureList();
    void fitList();
    void selectRow(int row);
    int rowOf(QTreeWidgetItem* item) const;

    QSplitter* splitter_ = nullptr;
    LevelView* view_ = nullptr;
    QLabel* notice_ = nullptr;
    QTreeWidget* list_ = nullptr;
    app::ListNeed listNeed_;  // what the list's texts need, from measureList
    int nameWidth_ = 0;       // the name column's longest text
    QLabel* status_ = nullptr;
    QString statusLine_;  // whole; the label may show it cut, with the whole in its tooltip
    std::unique_ptr<Window> window_;
    std::unique_ptr<app::View3DBehaviour> behaviour_;
};

}  // namespace v2bsp::ui
