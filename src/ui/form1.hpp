// Form1: the one window of v2bsp, the Qt host of Form1's behaviour
// (app/form1behaviour.hpp), which decides what every menu item, button and
// timer does, runs the extraction and shows the 3D View.
//
// This window makes its controls and menus from the layout's rows (each
// menu item with its shortcuts, tooltip and separators), turns the toolkit's
// signals into calls of the behaviour by the rows' names, and carries out
// what the behaviour asks. Geometry is in twips; the user cannot resize the
// window. The run's wake arrives as a queued call from the run's thread.
// A dropped file is chosen as by File > Open.
#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/form1behaviour.hpp"
#include "app/layout.hpp"
#include "extract/extraction.hpp"
#include "ui/dialogs.hpp"
#include "ui/view3d.hpp"

class QListWidget;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace v2bsp::ui {

class Form1 : public QMainWindow, private app::Form1Window {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Seams. The defaults are the toolkit's dialogs, the program's folder as
    // the output parent and the real file system.
    void setOpenBox(std::unique_ptr<app::OpenBox> box) { behaviour_.setOpenBox(std::move(box)); }
    void setMessagePresenter(std::unique_ptr<app::MessagePresenter> presenter) {
        behaviour_.setMessagePresenter(std::move(presenter));
    }
    void setOutputParent(const QString& folder);
    void setOutputFiles(OutputFiles* files) { behaviour_.setOutputFiles(files); }
    // Decides whether the 3D window draws with OpenGL; set before the first run.
    void setGlProbe(GlProbe probe);

    // `path` becomes the map, as if chosen by File > Open (the command line's
    // MAP and a dropped file).
    void chooseMap(const QString& path) { behaviour_.chooseMap(path.toStdString()); }

    app::Form1Behaviour& behaviour() { return behaviour_; }
    QString mappath() const { return QString::fromStdString(behaviour_.mappath()); }
    // The outer width in twips, frame included, as the slide keeps it.
    double outerWidth() const { return behaviour_.slide().outerWidth(); }
    bool running() const { return behaviour_.running(); }
    const ExtractResult& lastResult() const { return behaviour_.lastResult(); }
    // The 3D window, or null before it is made.
    View3D* view3d() const { return view3d_.get(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:

    void createControls();
    void placeControls();
    void createMenus();
    void createTimers();
    void setTabOrder();
    void setStartState();
    void keepView3dInside();
    QWidget* named(std::string_view name) const;

    // app::Form1Window
    void setText(std::string_view control, std::string_view text) override;
    void setEnabled(std::string_view name, bool enabled) override;
    void setChecked(std::string_view item, bool checked) override;
    void setTabStop(std::string_view control, bool on) override;
    void setOuterWidth(double twips) override;
    void runTimer(std::string_view timer, bool on) override;
    void appendLog(std::string_view text) override;
    void addTagNames(const std::vector<std::string>& names) override;
    void wakeAfter(std::chrono::milliseconds delay) override;
    void closeNow() override { close(); }
    app::Level3DWindow* makeLevel3DWindow() override;
    app::Form1Frames frames() const override;
    std::string groupSeparator() const override { return ui::groupSeparator(); }

    double dpi_;
    QPlainTextEdit* datalog = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* cmdright = nullptr;
    QListWidget* List1 = nullptr;
    QLineEdit* Txt1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QTimer* takeTimer_ = nullptr;  // takes the run's events when the behaviour asks
    GlProbe glProbe_ = probeOpenGl;
    std::unique_ptr<View3D> view3d_;
    bool view3dAsked_ = false;  // the first paint has asked for it
    // Last, so that it ends first: the run's thread is over before the rest goes.
    app::Form1Behaviour behaviour_;
};

}  // namespace v2bsp::ui
