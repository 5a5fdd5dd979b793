// Extraction through the window against the command line, on one map of many
// small meshes, and through the window again with a long log already there.
//
//   v2bsp_bench_window [MESHES [RUNS]]     defaults: 10000 meshes, 5 runs
//   v2bsp_bench_window --map MAP [RUNS]    Extract to the 3D window's first and
//                                          full picture, and the longest the
//                                          window did not answer (on a display)
//
// The window runs offscreen unless QT_QPA_PLATFORM says otherwise. Prints the
// median of each and their ratio; exits 1 when the window takes more than
// 1.5 times the command line's time.
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "ui/form1.hpp"
#include "ui/levelview.hpp"
#include "ui/view3d.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kLongLog = 200000;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double commandLineRun(const fs::path& map, const fs::path& output) {
    fs::remove_all(output);
    std::ofstream out("/dev/null");
    std::ofstream err("/dev/null");
    const std::string folder = output.string(), file = map.string();
    const char* argv[] = {"v2bsp-extract", "-o", folder.c_str(), file.c_str()};
    const auto start = Clock::now();
    const int status = v2bsp::runCli(4, argv, out, err);
    const double seconds = secondsSince(start);
    if (status != v2bsp::kExitComplete) std::fprintf(stderr, "command line: exit status %d\n", status);
    return seconds;
}

// The window on the screen and what it does meanwhile done, as when a user
// clicks Extract (a user is not that quick).
void showAndSettle(v2bsp::ui::Form1& form) {
    form.show();
    const auto start = Clock::now();
    while (!(form.windowHandle() != nullptr && form.windowHandle()->isExposed()) && secondsSince(start) < 5) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const auto exposed = Clock::now();
    while (secondsSince(exposed) < 0.2) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// `loglines`: lines the log holds before the run.
double windowRun(const fs::path& map, const fs::path& output, int loglines = 0) {
    fs::remove_all(output);
    fs::create_directories(output);
    v2bsp::ui::Form1 form;
    if (loglines > 0) {
        QString text;
        for (int i = 0; i < loglines; ++i) text += QStringLiteral("earlier line %1\n").arg(i);
        form.findChild<QPlainTextEdit*>("datalog")->setPlainText(text);
    }
    form.setOutputParent(QString::fromStdString(output.string()));
    showAndSettle(form);
    form.chooseMap(QString::fromStdString(map.string()));
    const auto start = Clock::now();
    form.findChild<QPushButton*>("Command1")->click();
    // Extract returns at once; the run goes on while the window answers.
    while (form.running()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = secondsSince(start);
    if (form.lastResult().status != v2bsp::ExtractStatus::complete) std::fprintf(stderr, "window: run incomplete\n");
    return seconds;
}

struct PictureTimes {
    double first = -1, full = -1;  // seconds from Extract to the 3D window's first and full picture
    double longestStall = 0;       // the longest the window did not answer, from Extract to the full picture
};

// The 3D view is shown when the window takes the run's end: its frames are
// watched from the moment it is shown.
class ViewWatch final : public QObject {
public:
    ViewWatch(PictureTimes& times, Clock::time_point start) : times_(times), start_(start) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* view = qobject_cast<v2bsp::ui::LevelView*>(watched);
        if (view == nullptr || event->type() != QEvent::Show || watched_) return false;
        watched_ = true;
        connect(view, &QOpenGLWidget::frameSwapped, this, [this] {
            if (times_.first < 0) times_.first = secondsSince(start_);
        });
        connect(view, &v2bsp::ui::LevelView::fullPictureShown, this, [this] {
            if (times_.full < 0) times_.full = secondsSince(start_);
        });
        return false;
    }
    bool watching() const { return watched_; }

private:
    PictureTimes& times_;
    Clock::time_point start_;
    bool watched_ = false;
};

// Extract on a shown window with the 3D window on; a timer that should tick
// every 5 ms measures how long the window went without answering.
PictureTimes picturesOf(const fs::path& map, const fs::path& output) {
    fs::remove_all(output);
    fs::create_directories(output);
    v2bsp::ui::Form1 form;
    form.setOutputParent(QString::fromStdString(output.string()));
    showAndSettle(form);
    form.chooseMap(QString::fromStdString(map.string()));
    PictureTimes times;
    QTimer ticker;
    auto last = Clock::now();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        times.longestStall = std::max(times.longestStall, std::chrono::duration<double>(now - last).count());
        last = now;
    });
    ticker.start(5);
    const auto start = Clock::now();
    last = start;
    ViewWatch watch(times, start);
    QApplication::instance()->installEventFilter(&watch);
    form.findChild<QPushButton*>("Command1")->click();
    while (form.running()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!watch.watching()) {
        std::fprintf(stderr, "window: no 3D view (no OpenGL?)\n");
        return times;
    }
    while (times.full < 0 && secondsSince(start) < 60) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    return times;
}

int mapMain(const fs::path& map, int runs) {
    const fs::path work = fs::path("/dev/shm") / ("v2bsp-bench-window-" + std::to_string(::getpid()));
    std::vector<double> cli, first, full, stall;
    for (int i = 0; i < runs; ++i) {
        cli.push_back(commandLineRun(map, work / "cli"));
        const PictureTimes times = picturesOf(map, work / "window");
        first.push_back(times.first);
        full.push_back(times.full);
        stall.push_back(times.longestStall);
    }
    fs::remove_all(work);
    std::printf(
        "command line %.3f s; window: first picture %.3f s (%.2f times), full picture %.3f s, longest without "
        "answering %.3f s (medians of %d runs)\n",
        median(cli), median(first), median(first) / median(cli), median(full), median(stall), runs);
    return median(first) <= 1.5 * median(cli) && median(stall) <= 0.25 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // With --map MAP: the time to the 3D window's first picture against the
    // command line's, on a display (e.g. under xvfb-run).
    if (argc > 2 && std::string(argv[1]) == "--map") {
        QApplication app(argc, argv);
        return mapMain(argv[2], argc > 3 ? std::atoi(argv[3]) : 5);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int meshes = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (meshes <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: v2bsp_bench_window [MESHES [RUNS]]\n");
        return 2;
    }

    // Memory-backed when there is such a folder, so that both sides are timed
    // for their own work rather than for the disk's.
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = base / ("v2bsp-bench-window-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const fs::path map = work / "many.map";
    {
        v2bsp::mapbuilder::Scene scene = v2bsp::mapbuilder::largeScene(
            static_cast<std::uint32_t>(meshes), std::uint64_t(meshes) * 6, std::uint64_t(meshes) * 4);
        scene.mapname = "many";
        const auto built = v2bsp::mapbuilder::buildMap(scene);
        std::ofstream(map, std::ios::binary)
            .write(reinterpret_cast<const char*>(built.bytes.data()), static_cast<std::streamsize>(built.bytes.size()));
        std::printf("map: %d meshes of 6 vertices and 4 triangles, %zu bytes\n", meshes, built.bytes.size());
    }

    std::vector<double> cli, window;
    for (int run = 0; run < runs; ++run) {
        cli.push_back(commandLineRun(map, work / "cli"));
        window.push_back(windowRun(map, work / "window"));
    }
    const double ratio = median(window) / median(cli);
    std::printf("command line: %.3f s   window (offscreen): %.3f s   ratio %.2f (median of %d runs each)\n",
                median(cli), median(window), ratio, runs);
    // A log line must cost the same however long the log already is.
    std::vector<double> longlog;
    for (int run = 0; run < runs; ++run) longlog.push_back(windowRun(map, work / "window", kLongLog));
    std::printf("window with %d lines already in the log: %.3f s\n", kLongLog, median(longlog));
    fs::remove_all(work);
    return ratio <= 1.5 ? 0 : 1;
}
