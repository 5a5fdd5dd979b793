// Runs the extraction of MAP in memory (writing nothing), then measures the
// 3D window: from the end of the run to its first frame, the frames a second
// while it orbits for SECONDS (default 5), and the bytes the view holds.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
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

    QElapsedTimer clock;
    clock.start();
    window.showRun(extraction, result);
    qint64 first_ms = -1;
    int frames = 0;
    QElapsedTimer orbit;
    QObject::connect(view, &QOpenGLWidget::frameSwapped, view, [&] {
        if (first_ms < 0) {
            first_ms = clock.elapsed();
            orbit.start();
        } else {
            ++frames;
        }
        if (orbit.isValid() && orbit.elapsed() >= seconds * 1000) {
            QApplication::quit();
            return;
        }
        view->orbitBy(3, 0);
    });
    QApplication::exec();

    std::int64_t triangles = 0;
    for (const v2bsp::PlannedMesh& mesh : extraction.plan.meshes) triangles += v2bsp::summarizeMesh(mesh).triangles;
    const double fps = frames / (static_cast<double>(orbit.elapsed()) / 1000.0);
    std::printf("triangles            %lld\n", static_cast<long long>(triangles));
    std::printf("first frame          %lld ms after the run\n", static_cast<long long>(first_ms));
    std::printf("orbiting             %.2f frames/s (%d frames)\n", fps, frames);
    std::printf("view's level bytes   %lld (%.2f per triangle)\n", static_cast<long long>(view->levelBytes()),
                triangles > 0 ? static_cast<double>(view->levelBytes()) / static_cast<double>(triangles) : 0.0);
    std::printf("resident growth      %ld KiB (GL driver copies included)\n", residentKiB() - rss_before);
    return 0;
}
