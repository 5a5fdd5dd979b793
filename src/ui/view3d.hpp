// View3D: the "3D View" window of a run. It shows the meshes the run wrote in
// a LevelView, lists them (number, vertices, triangles, a visibility box),
// says in its status line what the run wrote and what is missing, and offers
// Open Folder, Save As... (the whole level as one glb or OBJ, the same bytes
// as v2bsp-extract --format writes with the view's up axis) and Save Image...
//
// Where OpenGL cannot be had, the view's place says "3D view unavailable:
// <reason>"; the list, the status line, Save As and Open Folder still work.
//
// Every action is in its menu bar with a key (File: Save As... Ctrl+S, Save
// Image... Ctrl+Shift+S, Open Folder Ctrl+E, Close Ctrl+W or Esc; View: Frame
// All F, Frame Selected Shift+F or a double-click on a row, Wireframe W,
// Z Up Z; Help: About v2bsp); the toolbar repeats the first ones for the
// mouse. Tab moves between the list and the view.
#pragma once

#include <QMainWindow>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/layout.hpp"
#include "extract/extraction.hpp"
#include "ui/dialogs.hpp"
#include "ui/folderopener.hpp"
#include "ui/levelview.hpp"
#include "ui/pngfile.hpp"

class QAction;
class QLabel;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace v2bsp::ui {

// Empty when an OpenGL 3.3 context can be made here, else why not.
using GlProbe = std::function<QString()>;
QString probeOpenGl();

inline constexpr const char* kGlbFilter = app::kGlbFilter.description.data();
inline constexpr const char* kObjFilter = app::kObjFilter.description.data();
inline constexpr const char* kPngFilter = app::kPngFilter.description.data();

// The level's geometry, decoded from a run's plan (app/level.hpp).
using app::levelGeometry;

// The locale's thousands separator, as the texts of app/texts.hpp take it.
std::string groupSeparator();

class View3D final : public QMainWindow {
    Q_OBJECT

public:
    // The size it would like, in pixels at 96 dpi, frame aside.
    static constexpr int kPreferredWidth = app::kView3DWidth;
    static constexpr int kPreferredHeight = app::kView3DHeight;

    // `probe` decides whether the view is drawn with OpenGL.
    explicit View3D(GlProbe probe = probeOpenGl, QWidget* parent = nullptr);
    ~View3D() override;

    void setSaveBox(std::unique_ptr<SaveBox> box);
    void setFolderOpener(FolderOpener opener);
    void setMessagePresenter(std::unique_ptr<MessagePresenter> presenter);

    // Shows the run's level: `decoded` when given (levelGeometry of the
    // run's plan), else decoded here. `extraction` must outlive the window's
    // use of it (until the next showRun or the window's end).
    void showRun(const MapExtraction& extraction, const ExtractResult& result,
                 std::optional<LevelGeometry> decoded = std::nullopt);

    // Null when the view is unavailable.
    LevelView* levelview() const { return view_; }
    QString statusLine() const;

public slots:
    void openFolder();
    void saveLevelAs();
    void saveImage();
    void frameAll();
    void frameSelected();
    void showWireframe(bool on);
    void showZUp(bool on);
    void showAbout();

signals:
    // The user closed the window (it is hidden, and keeps what it shows).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolbar();
    void createView(const GlProbe& probe);
    void createList();
    void createStatus();
    void connectActions();

    void showUnavailable(const QString& reason);
    void fillList(const LevelGeometry& geometry);
    void measureList();
    void fitList();
    void selectPicked(int mesh);
    void listItemChanged(QTreeWidgetItem* item, int column);
    void listSelectionChanged();
    void say(const QString& text);

    QSplitter* splitter_ = nullptr;
    LevelView* view_ = nullptr;
    QLabel* notice_ = nullptr;
    QTreeWidget* list_ = nullptr;
    app::ListNeed listNeed_;  // what the list's texts need, from measureList
    int nameWidth_ = 0;       // the name column's longest text
    QLabel* status_ = nullptr;
    QString statusLine_;  // whole; the label may show it cut, with the whole in its tooltip
    QAction* openFolder_ = nullptr;
    QAction* saveAs_ = nullptr;
    QAction* saveImage_ = nullptr;
    QAction* frameAll_ = nullptr;
    QAction* wireframe_ = nullptr;
    QAction* zUp_ = nullptr;
    QAction* frameSelected_ = nullptr;
    QAction* close_ = nullptr;
    QAction* about_ = nullptr;
    std::unique_ptr<SaveBox> saveBox_;
    std::unique_ptr<MessagePresenter> messages_;
    FolderOpener opener_;

    const MapExtraction* extraction_ = nullptr;
    ExtractResult result_;
    QString runStatus_;
};

}  // namespace v2bsp::ui
