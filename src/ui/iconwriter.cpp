// v2bsp-icons OUTDIR: writes the program's icon as OUTDIR/hicolor/NxN/apps/v2bsp.png
// for the desktop sizes, for `cmake --install`.
#include <QDir>
#include <cstdio>

#include "ui/appicon.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: v2bsp-icons OUTDIR\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (const int size : v2bsp::ui::kIconSizes) {
        if (size == 20) continue;  // no desktop theme folder for it; the window draws its own
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
        const QString file = folder + QStringLiteral("/v2bsp.png");
        if (!QDir().mkpath(folder) || !v2bsp::ui::iconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "v2bsp-icons: could not write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
