// Window geometry is kept in twips (1/1440 inch), as the layout tables give it,
// and turned into the toolkit's pixels here, at the logical dots per inch of
// the screen, by the rule of app/layout.hpp.
#pragma once

#include <QRect>

namespace v2bsp::ui {

inline constexpr double kTwipsPerInch = 1440.0;

class Twips {
public:
    // `dpi`: the screen's logical dots per inch (96 on most desktops, 120 on
    // some); anything not above zero is taken as 96.
    explicit Twips(double dpi);

    double dpi() const { return dpi_; }
    double twipsPerPixel() const { return kTwipsPerInch / dpi_; }

    // The nearest whole pixel to a length or position in twips.
    int pixels(double twips) const;

    // A rectangle whose edges are each rounded to the nearest pixel, so that
    // controls that touch in twips touch on the screen too.
    QRect rect(double left, double top, double width, double height) const;

private:
    double dpi_;
};

}  // namespace v2bsp::ui
