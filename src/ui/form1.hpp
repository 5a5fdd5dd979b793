// Form1: the one window of v2bsp. File > Open chooses a map, Extract runs the
// extraction with the window as its host, the log shows every stage, and the
// slide button widens the window to show the map's tag names.
//
// The layout, the slide and the run's protocol are the toolkit-free ones of
// src/app; this window creates its controls from the layout's rows, applies
// what the slide says, and shows what the run reports. Geometry is in twips;
// the window cannot be resized by the user. A run goes on a thread of its
// own while the window keeps answering; File > Open and Extract are
// disabled meanwhile, and closing the window ends the run at its next log
// line before the window closes.
//
// When a run has gone to its end and View > 3D Window is checked, the 3D View
// window opens (or is refilled) with the meshes the run wrote; the log's
// last line says what was written where. View > 3D Window follows the 3D
// View: closing it unchecks it, and checking it shows the window as it was
// left. Help > About says what the program is.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>
#include <string_view>

#include "app/extractrun.hpp"
#include "app/slide.hpp"
#include "extract/extraction.hpp"
#include "ui/dialogs.hpp"
#include "ui/twips.hpp"
#include "ui/view3d.hpp"

class QAction;
class QEventLoop;
class QListWidget;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace v2bsp::ui {

// How long after showing the 3D window its frame is taken as known.
inline constexpr int kFrameKnownMs = 250;

}  // namespace v2bsp::ui

class Form1 : public QMainWindow, public v2bsp::app::RunWindow {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Seams. The defaults are the toolkit's dialogs, the program's folder as
    // the output parent and the real file system.
    void setOpenBox(std::unique_ptr<v2bsp::ui::OpenBox> openbox);
    void setMessagePresenter(std::unique_ptr<v2bsp::ui::MessagePresenter> presenter);
    void setOutputParent(const QString& folder);
    void setOutputFiles(v2bsp::OutputFiles* files);
    // Decides whether the 3D window draws with OpenGL; set before the first run.
    void setGlProbe(v2bsp::ui::GlProbe probe);

    // The 3D window, or null before a run has opened it.
    v2bsp::ui::View3D* view3d() const { return view3d_.get(); }

    // `path` becomes the map, as if chosen by File > Open (the command line's
    // MAP and a dropped file). Ignored while a run is in progress. A path that
    // names no regular file is refused at once with the not-a-map box, and
    // Extract stays disabled.
    void chooseMap(const QString& path);

    QString mappath() const { return mappath_; }
    // The outer width in twips, frame included, as the slide keeps it.
    double outerWidth() const { return slide_.outerWidth(); }
    bool running() const { return running_; }
    const v2bsp::ExtractResult& lastResult() const { return lastResult_; }
    const v2bsp::ui::Twips& twips() const { return twips_; }

    // What a run reports, on the window's thread. logline appends `text` and
    // a line break to the log at its end and puts the caret there: at once
    // outside a run, at most every few milliseconds during one.
    void logline(std::string_view text) override;
    void addTagName(std::string_view name) override;
    void mapFailed(const v2bsp::MapFailure& failure) override;
    void runEnded(v2bsp::app::RunEnd end) override;

    void announce3dwindow();

public slots:
    void mnuopen_Click();
    // Runs the extraction and returns once it has ended; the window answers
    // meanwhile.
    void Command1_Click();
    void cmdright_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    void show3dWindow(bool shown);
    void showAbout();

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
    void connectActions();

    void applySlide();
    void setOuterWidth(double twips);
    void beginRun();
    void endRun();
    void runWoken();
    void takeRunEvents();
    void showPendingLog();
    v2bsp::ExtractSettings runSettings() const;
    void makeView3d();
    void showLevel(std::optional<v2bsp::app::LevelGeometry> decoded = std::nullopt);
    void placeView3d();
    void keepView3dInside();
    void refuse(const QString& message, const QString& reason);

    v2bsp::ui::Twips twips_;
    QPlainTextEdit* datalog = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* cmdright = nullptr;
    QListWidget* List1 = nullptr;
    QLineEdit* Txt1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QMenu* mnufile = nullptr;
    QAction* mnuopen = nullptr;
    QAction* mnuexit = nullptr;
    QMenu* mnuview = nullptr;
    QAction* mnu3dwindow = nullptr;
    QMenu* mnuhelp = nullptr;
    QAction* mnuabout = nullptr;
    std::unique_ptr<v2bsp::ui::OpenBox> openbox;
    std::unique_ptr<v2bsp::ui::MessagePresenter> messages_;

    QString mappath_;
    QString outputParent_;
    v2bsp::OutputFiles* files_ = nullptr;
    v2bsp::app::Slide slide_;
    bool running_ = false;
    // Set by a close during a run, which may come from any thread.
    std::atomic<bool> closeWhenStopped_{false};
    QString pendingLog_;           // lines of the run not yet in the log
    QElapsedTimer sinceTaken_;     // since the window last took the run's events
    QTimer* takeTimer_ = nullptr;  // takes them when it is time again
    QEventLoop* runLoop_ = nullptr;
    v2bsp::ExtractResult lastResult_;
    // The last run that went to its end, for the 3D window; a failed run keeps the one before.
    std::unique_ptr<v2bsp::MapExtraction> extraction_;
    v2bsp::ExtractResult levelResult_;
    int runsToTheEnd_ = 0;  // runs that went to their end; the 3D window shows the one numbered shownRun_
    int shownRun_ = 0;
    v2bsp::ui::GlProbe glProbe_ = v2bsp::ui::probeOpenGl;
    std::unique_ptr<v2bsp::ui::View3D> view3d_;
    bool view3dPlaced_ = false;  // placed beside this window, which its first showing does
    bool view3dAsked_ = false;   // to be made once this window is first painted
    // Last, so that it ends first: its thread is over before the rest goes.
    v2bsp::app::ExtractRun run_;
};
