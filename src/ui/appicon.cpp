#include "ui/appicon.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace v2bsp::ui {
namespace {

// The solid's corners on a 20-unit grid: a base of three points, two at
// mid-height, one at the top.
constexpr QPointF kA{3.5, 14.5}, kB{10, 17.5}, kC{16.5, 14}, kD{5.5, 8.5}, kE{13.5, 7.5}, kF{9.5, 2.5};

struct Face {
    QPointF a, b, c;
    QColor fill;
};

}  // namespace

QImage iconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 20.0, size / 20.0);

    QPainterPath tile;
    tile.addRoundedRect(QRectF(0.5, 0.5, 19, 19), 3.5, 3.5);
    painter.fillPath(tile, QColor(0x23, 0x39, 0x5d));

    const Face faces[] = {
        {kA, kB, kD, QColor(0xf2, 0x8c, 0x28)},
        {kB, kE, kD, QColor(0xf7, 0xb0, 0x4a)},
        {kB, kC, kE, QColor(0xc8, 0x62, 0x1a)},
        {kD, kE, kF, QColor(0xfb, 0xd3, 0x8a)},
    };
    QPen edge(QColor(0xff, 0xf6, 0xe6));
    edge.setWidthF(size >= 48 ? 0.5 : 20.0 / size);  // one pixel on small icons
    edge.setJoinStyle(Qt::RoundJoin);
    painter.setPen(edge);
    for (const Face& face : faces) {
        painter.setBrush(face.fill);
        painter.drawPolygon(QPolygonF({face.a, face.b, face.c}));
    }
    return image;
}

QIcon appIcon() {
    QIcon icon;
    for (const int size : kIconSizes) icon.addPixmap(QPixmap::fromImage(iconImage(size)));
    return icon;
}

}  // namespace v2bsp::ui
