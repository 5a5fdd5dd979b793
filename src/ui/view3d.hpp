// View3D: the "3D View" window of a run. It shows the meshes the run wrote in
// a LevelView, lists them (number, vertices, triangles, a visibility box),
// says in its status line what the run wrote and what is missing, and offers
// Open Folder, Save As... (the whole level as one glb or OBJ, the same bytes
// as v2bsp-extract --format writes with the view's up axis) and Save Image...
//
// Where OpenGL cannot be had, the view's place says "3D view unavailable:
// <reason>"; the list, the status line, Save As and Open Folder still work.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>

#include "extract/extraction.hpp"
#include "ui/dialogs.hpp"
#include "ui/levelview.hpp"

class QAction;
class QImage;
class QLabel;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace v2bsp::ui {

// Empty when an OpenGL 3.3 context can be made here, else why not.
using GlProbe = std::function<QString()>;
QString probeOpenGl();

// Shows a folder in the system's file manager; false when that failed.
using FolderOpener = std::function<bool(const QUrl& folder)>;

inline constexpr char kGlbFilter[] = "glTF binary (*.glb)";
inline constexpr char kObjFilter[] = "Wavefront OBJ (*.obj)";
inline constexpr char kPngFilter[] = "PNG image (*.png)";

// The geometry of the meshes `plan` writes, decoded as stored (Y up).
LevelGeometry levelGeometry(const MeshPlan& plan);

// The status line of a run: "<K> meshes, <V> vertices, <T> triangles in
// <folder>", then what is missing, if anything.
QString statusText(const ExtractResult& result, std::int64_t meshes, std::int64_t vertices, std::int64_t triangles);

// Makes `file` the PNG of `image` through a temporary file in its folder,
// renamed into place once whole: a failed save leaves no temporary file and
// an earlier `file` as it was. Empty on success, else why not ("No such file
// or directory", "File too large").
QString writePng(const QImage& image, const QString& file);

class View3D final : public QMainWindow {
    Q_OBJECT

public:
    // `probe` decides whether the view is drawn with OpenGL.
    explicit View3D(GlProbe probe = probeOpenGl, QWidget* parent = nullptr);
    ~View3D() override;

    void setSaveBox(std::unique_ptr<SaveBox> box);
    void setFolderOpener(FolderOpener opener);

    // Shows the run's level. `extraction` must outlive the window's use of it
    // (until the next showRun or the window's end).
    void showRun(const MapExtraction& extraction, const ExtractResult& result);

    // Null when the view is unavailable.
    LevelView* levelview() const { return view_; }
    QString statusLine() const;

public slots:
    void openFolder();
    void saveLevelAs();
    void saveImage();
    void frameAll();
    void showWireframe(bool on);
    void showZUp(bool on);

private:
    void createActions();
    void createToolbar();
    void createView(const GlProbe& probe);
    void createList();
    void createStatus();
    void connectActions();

    void showUnavailable(const QString& reason);
    void fillList(const LevelGeometry& geometry);
    void selectPicked(int mesh);
    void listItemChanged(QTreeWidgetItem* item, int column);
    void listSelectionChanged();
    void say(const QString& text);

    QSplitter* splitter_ = nullptr;
    LevelView* view_ = nullptr;
    QLabel* notice_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QLabel* status_ = nullptr;
    QAction* openFolder_ = nullptr;
    QAction* saveAs_ = nullptr;
    QAction* saveImage_ = nullptr;
    QAction* frameAll_ = nullptr;
    QAction* wireframe_ = nullptr;
    QAction* zUp_ = nullptr;
    std::unique_ptr<SaveBox> saveBox_;
    FolderOpener opener_;

    const MapExtraction* extraction_ = nullptr;
    ExtractResult result_;
    QString runStatus_;
};

}  // namespace v2bsp::ui
