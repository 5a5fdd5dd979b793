// A picture saved as a PNG file, for the 3D View's Save Image.
#pragma once

#include <QString>

class QImage;

namespace v2bsp::ui {

// Makes `file` the PNG of `image` through a temporary file in its folder,
// renamed into place once whole: a failed save leaves no temporary file and
// an earlier `file` as it was. Empty on success, else why not ("No such file
// or directory", "File too large").
QString writePng(const QImage& image, const QString& file);

}  // namespace v2bsp::ui
