#include "ui/pngfile.hpp"

#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

namespace v2bsp::ui {

QString writePng(const QImage& image, const QString& file) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) return out.errorString();
    QImageWriter writer(&out, "png");
    if (!writer.write(image) && out.error() == QFileDevice::NoError) return writer.errorString();
    // Every byte goes to the temporary file before commit(): commit() does not
    // hold a failed flush against the file (Qt 6.4 renames a cut file into
    // place). A write cut short has no reason of its own; the flush that tries
    // the rest meets the system's.
    if (out.error() != QFileDevice::NoError || !out.flush()) {
        out.flush();
        return out.errorString();
    }
    return out.commit() ? QString() : out.errorString();
}

}  // namespace v2bsp::ui
