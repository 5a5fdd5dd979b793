// Runs the extraction of MAP in memory (writing nothing), then measures the
// 3D window: from the end of the run to its first frame, the frames a second
// while it orbits as a drag does for SECONDS (default 5), the time to the
// full picture once it stops, and the bytes the view holds.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "ui/levelview.hpp"
#include "ui/view3d.hpp"

namespace {

class QuietHost final : public v2bsp::ExtractHost {
public:
    void logline(std::string_view) override {}
    void addTagName(std::string_view) override {}
    void mapFailed(const v2bsp::MapFailure& failure) override { std::fprintf(stderr, "%s\n", failure.reason.c_str()); }
};

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: v2bsp_bench_view MAP [SECONDS]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::stod(argv[2]) : 5.0;
    v2bsp::MapExtraction extraction;
    QuietHost host;
    v2bsp::ExtractSettings settings;
    settings.formats.meshes = false;
    const v2bsp::ExtractResult result = extraction.extractmap(argv[1], host, settings);
    if (result.status == v2bsp::ExtractStatus::failed) return 1;

    const QString refused = v2bsp::ui::probeOpenGl();
    if (!refused.isEmpty()) {
        std::fprintf(stderr, "no OpenGL: %s\n", qPrintable(refused));
        return 1;
    }
    v2bsp::ui::View3D window;
    window.resize(1024, 700);
    window.show();
    QApplication::processEvents();
    v2bsp::ui::LevelView* view = window.levelview();
    const long rss_before = residentKiB();

    // The first frame; then orbiting as a drag does (the cheap drawing of a
    // large level) for SECONDS; then the camera stops, and the full picture
    // comes a part a frame: its time, and the longest frame meanwhile.
    QElapsedTimer clock;
    clock.start();
    window.showRun(extraction, result);
    qint64 first_ms = -1, stop_ms = -1, full_ms = -1, last_ms = 0, longest_ms = 0;
    int frames = 0;
    QElapsedTimer orbit;
    QObject::connect(view, &v2bsp::ui::LevelView::fullPictureShown, view, [&] {
        if (stop_ms >= 0 && full_ms < 0) full_ms = clock.elapsed() - stop_ms;
    });
    QObject::connect(view, &QOpenGLWidget::frameSwapped, view, [&] {
        const qint64 now = clock.elapsed();
        if (first_ms < 0) {
            first_ms = now;
            orbit.start();
            view->renderer().setMoving(true);
            view->update();
        } else if (stop_ms < 0) {
            ++frames;
        } else {
            longest_ms = std::max(longest_ms, now - last_ms);
            if (full_ms >= 0) QApplication::quit();
        }
        last_ms = now;
        if (stop_ms < 0 && orbit.elapsed() >= seconds * 1000) {
            stop_ms = now;
            view->renderer().setMoving(false);
            view->update();
            return;
        }
        if (stop_ms < 0) {
            view->renderer().camera().orbitBy(3, 0);
            view->update();
        }
    });
    QApplication::exec();

    // A pick at the middle of the first mesh's bounds.
    const v2bsp::MeshSummary first = v2bsp::summarizeMesh(extraction.plan.meshes.front());
    const QPoint middle = view->pixelOf(
        QVector3D(first.min[0] + first.max[0], first.min[1] + first.max[1], first.min[2] + first.max[2]) * 0.5f);
    QElapsedTimer picking;
    picking.start();
    const int picked = view->meshAt(middle);
    const qint64 pick_ms = picking.elapsed();

    std::int64_t triangles = 0;
    for (const v2bsp::PlannedMesh& mesh : extraction.plan.meshes) triangles += v2bsp::summarizeMesh(mesh).triangles;
    const double fps = frames / (static_cast<double>(stop_ms - first_ms) / 1000.0);
    std::printf("triangles            %lld\n", static_cast<long long>(triangles));
    std::printf("first frame          %lld ms after the run\n", static_cast<long long>(first_ms));
    std::printf("orbiting (dragging)  %.2f frames/s (%d frames)\n", fps, frames);
    std::printf("full picture         %lld ms after the camera stopped; longest frame meanwhile %lld ms\n",
                static_cast<long long>(full_ms), static_cast<long long>(longest_ms));
    std::printf("a pick on mesh 0     %lld ms (mesh %d)\n", static_cast<long long>(pick_ms), picked);
    std::printf(
        "view's level bytes   %lld (%.2f per triangle)\n", static_cast<long long>(view->renderer().levelBytes()),
        triangles > 0 ? static_cast<double>(view->renderer().levelBytes()) / static_cast<double>(triangles) : 0.0);
    std::printf("resident growth      %ld KiB (GL driver copies included)\n", residentKiB() - rss_before);
    return 0;
}
