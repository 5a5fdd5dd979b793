#include "icondrawing.hpp"

#include <algorithm>
#include <cmath>

namespace v2bsp::icon {

namespace {

struct Point {
    double x, y;
};
struct Colour {
    double r, g, b;
};
struct Face {
    Point a, b, c;
    Colour fill;
};

constexpr Colour hex(unsigned rgb) {
    return {((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0};
}

// The solid's corners, its faces in drawing order, the tile and the edges.
constexpr Point kA{3.5, 14.5}, kB{10, 17.5}, kC{16.5, 14}, kD{5.5, 8.5}, kE{13.5, 7.5}, kF{9.5, 2.5};
constexpr Face kFaces[] = {
    {kA, kB, kD, hex(0xf28c28)},
    {kB, kE, kD, hex(0xf7b04a)},
    {kB, kC, kE, hex(0xc8621a)},
    {kD, kE, kF, hex(0xfbd38a)},
};
constexpr Colour kTile = hex(0x23395d);
constexpr Colour kEdge = hex(0xfff6e6);
constexpr double kTileLeft = 0.5, kTileRight = 19.5, kTileRadius = 3.5;
constexpr int kSamples = 8;  // each way, per pixel

bool insideTile(Point p) {
    if (p.x < kTileLeft || p.x > kTileRight || p.y < kTileLeft || p.y > kTileRight) return false;
    // Nearest point of the square the corners' circles are centred on.
    const double cx = std::clamp(p.x, kTileLeft + kTileRadius, kTileRight - kTileRadius);
    const double cy = std::clamp(p.y, kTileLeft + kTileRadius, kTileRight - kTileRadius);
    return (p.x - cx) * (p.x - cx) + (p.y - cy) * (p.y - cy) <= kTileRadius * kTileRadius;
}

double cross(Point o, Point a, Point b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool insideTriangle(Point p, const Face& f) {
    const double d1 = cross(f.a, f.b, p), d2 = cross(f.b, f.c, p), d3 = cross(f.c, f.a, p);
    return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
}

double distanceToSegment(Point p, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    const double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    return std::sqrt(ex * ex + ey * ey);
}

// The colour at `p` and whether anything covers it: the tile, then each
// face filled and then outlined, as a painter draws them in turn.
bool sample(Point p, double halfEdge, Colour& out) {
    bool covered = false;
    if (insideTile(p)) {
        out = kTile;
        covered = true;
    }
    for (const Face& face : kFaces) {
        if (insideTriangle(p, face)) {
            out = face.fill;
            covered = true;
        }
        if (distanceToSegment(p, face.a, face.b) <= halfEdge || distanceToSegment(p, face.b, face.c) <= halfEdge ||
            distanceToSegment(p, face.c, face.a) <= halfEdge) {
            out = kEdge;
            covered = true;
        }
    }
    return covered;
}

void put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xff));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xff));
}

void put32(std::vector<std::uint8_t>& out, unsigned value) {
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

// A 32-bit image as an icon holds it: its header (twice the height: the
// picture, then the mask), the pixels blue-green-red-alpha from the bottom
// row up, then the 1-bit mask, set where nothing is drawn.
std::vector<std::uint8_t> iconImage(const std::vector<std::uint8_t>& rgba, int size) {
    std::vector<std::uint8_t> out;
    put32(out, 40);
    put32(out, static_cast<unsigned>(size));
    put32(out, static_cast<unsigned>(size * 2));
    put16(out, 1);
    put16(out, 32);
    for (int i = 0; i < 6; ++i) put32(out, 0);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * size + x) * 4];
            out.insert(out.end(), {p[2], p[1], p[0], p[3]});
        }
    }
    const int rowBytes = (size + 31) / 32 * 4;
    for (int y = size - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes), 0);
        for (int x = 0; x < size; ++x) {
            if (rgba[(static_cast<std::size_t>(y) * size + x) * 4 + 3] == 0) row[x / 8] |= 0x80 >> (x % 8);
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> drawIcon(int size) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size) * size * 4, 0);
    const double unitsPerPixel = 20.0 / size;
    // One pixel wide on small icons, half a unit on large ones.
    const double halfEdge = (size >= 48 ? 0.5 : unitsPerPixel) / 2;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            double r = 0, g = 0, b = 0, a = 0;  // premultiplied sums
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const Point p{(x + (sx + 0.5) / kSamples) * unitsPerPixel,
                                  (y + (sy + 0.5) / kSamples) * unitsPerPixel};
                    Colour c{};
                    if (!sample(p, halfEdge, c)) continue;
                    r += c.r, g += c.g, b += c.b, a += 1;
                }
            }
            std::uint8_t* out = &pixels[(static_cast<std::size_t>(y) * size + x) * 4];
            if (a == 0) continue;
            out[0] = static_cast<std::uint8_t>(std::lround(r / a * 255));
            out[1] = static_cast<std::uint8_t>(std::lround(g / a * 255));
            out[2] = static_cast<std::uint8_t>(std::lround(b / a * 255));
            out[3] = static_cast<std::uint8_t>(std::lround(a / (kSamples * kSamples) * 255));
        }
    }
    return pixels;
}

std::vector<std::uint8_t> iconFile(const std::vector<int>& sizes, PngEncoder png) {
    std::vector<std::vector<std::uint8_t>> images;
    for (const int size : sizes) {
        const std::vector<std::uint8_t> rgba = drawIcon(size);
        images.push_back(size >= 256 ? png(rgba, size) : iconImage(rgba, size));
    }
    std::vector<std::uint8_t> out;
    put16(out, 0);
    put16(out, 1);  // an icon, not a cursor
    put16(out, static_cast<unsigned>(sizes.size()));
    std::size_t offset = 6 + 16 * sizes.size();
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto side = static_cast<std::uint8_t>(sizes[i] >= 256 ? 0 : sizes[i]);  // 0 stands for 256
        out.insert(out.end(), {side, side, 0, 0});
        put16(out, 1);
        put16(out, 32);
        put32(out, static_cast<unsigned>(images[i].size()));
        put32(out, static_cast<unsigned>(offset));
        offset += images[i].size();
    }
    for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

}  // namespace v2bsp::icon
