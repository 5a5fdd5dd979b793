// Form1: the one window of v2bsp. File > Open chooses a map, Extract runs the
// extraction with the window as its host, the log shows every stage, and the
// slide button widens the window to show the map's tag names.
//
// Geometry is in twips; the window cannot be resized by the user. While a run
// is in progress the window answers events only at log lines; File > Open and
// Extract are disabled, and closing the window ends the run at its next log
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
#include <future>
#include <memory>
#include <optional>
#include <string_view>

#include "extract/extraction.hpp"
#include "ui/dialogs.hpp"
#include "ui/twips.hpp"
#include "ui/view3d.hpp"

class QAction;
class QListWidget;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace v2bsp::ui {

// Sizes in twips. The outer width is the client width plus the frame.
inline constexpr double kClientWidth = 5088;
inline constexpr double kClientHeight = 1848;
inline constexpr double kFrameWidth = 96;
inline constexpr double kNarrowWidth = 5184;  // outer width at start
inline constexpr double kWideLimit = 7212;
inline constexpr double kSlideStep = 12;
// A run yields to the window at most this often, so that a run of thousands
// of lines does not spend its time laying out and repainting the log.
inline constexpr int kYieldIntervalMs = 15;
// How long after showing the 3D window its frame is taken as known.
inline constexpr int kFrameKnownMs = 250;

inline constexpr char kCaption[] = "Vorun2 BSP Extracter";

}  // namespace v2bsp::ui

class Form1 : public QMainWindow, public v2bsp::ExtractHost {
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
    double outerWidth() const { return outerWidth_; }
    bool running() const { return running_; }
    const v2bsp::ExtractResult& lastResult() const { return lastResult_; }
    const v2bsp::ui::Twips& twips() const { return twips_; }

    // The extraction's host. logline appends `text` and a line break to the log
    // at its end, puts the caret there and lets the window handle its events.
    void logline(std::string_view text) override;
    void addTagName(std::string_view name) override;
    void mapFailed(const v2bsp::MapFailure& failure) override;
    bool keepGoing() override;
    // Starts decoding the level for the 3D View while the run writes.
    void meshesPlanned(const v2bsp::MeshPlan& plan) override;

    void announce3dwindow();

public slots:
    void mnuopen_Click();
    void Command1_Click();
    void cmdright_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    void show3dWindow(bool shown);
    void showAbout();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void placeControls();
    void createMenus();
    void createTimers();
    void setTabOrder();
    void setShortcuts();
    void setStartState();
    void connectActions();

    void setOuterWidth(double twips);
    void beginRun();
    void endRun();
    void showPendingLog();
    v2bsp::ExtractSettings runSettings() const;
    std::optional<v2bsp::ui::LevelGeometry> decodedLevel(bool wanted);
    void showLevel(std::optional<v2bsp::ui::LevelGeometry> decoded = std::nullopt);
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
    double outerWidth_ = v2bsp::ui::kNarrowWidth;
    bool running_ = false;
    bool closeWhenStopped_ = false;
    QString pendingLog_;  // lines of the run not yet in the log
    QElapsedTimer sinceYield_;
    v2bsp::ExtractResult lastResult_;
    // The last run that went to its end, for the 3D window; a failed run keeps the one before.
    std::unique_ptr<v2bsp::MapExtraction> extraction_;
    v2bsp::ExtractResult levelResult_;
    int runsToTheEnd_ = 0;  // runs that went to their end; the 3D window shows the one numbered shownRun_
    int shownRun_ = 0;
    // The 3D window's level, decoded from the run's plan on a thread of its own.
    std::future<v2bsp::ui::LevelGeometry> decoding_;
    std::atomic<bool> stopDecoding_{false};
    v2bsp::ui::GlProbe glProbe_ = v2bsp::ui::probeOpenGl;
    std::unique_ptr<v2bsp::ui::View3D> view3d_;
};
