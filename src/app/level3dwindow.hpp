// What Form1's behaviour does with the 3D View, whatever toolkit makes it:
// each host's 3D View window provides this, over the 3D View's behaviour.
#pragma once

#include <functional>
#include <optional>

#include "app/level.hpp"
#include "app/placement.hpp"
#include "extract/extraction.hpp"

namespace v2bsp::app {

class Level3DWindow {
public:
    virtual ~Level3DWindow() = default;
    // Shows the run's level: `decoded` when given (levelGeometry of the
    // run's plan), else decoded here. `extraction` must outlive the window's
    // use of it (until the next showRun or the window's end).
    virtual void showRun(const MapExtraction& extraction, const ExtractResult& result,
                         std::optional<LevelGeometry> decoded) = 0;
    // The positions and indices of the level shown without them
    // (View3DBehaviour::levelArrays).
    virtual void levelArrays(LevelGeometry arrays) = 0;
    // `wanted` is called once the level shown without its arrays has its
    // first picture drawn (View3DBehaviour::whenArraysWanted).
    virtual void whenArraysWanted(std::function<void()> wanted) = 0;
    // On the screen, in front, active.
    virtual void show() = 0;
    // Off the screen, keeping what it shows.
    virtual void hide() = 0;
    // The size it would like at its dpi, its frame included.
    virtual Size preferredFrame() const = 0;
    // Moves and sizes its frame to `frame`, in the screen's pixels.
    virtual void place(const Rect& frame) = 0;
};

}  // namespace v2bsp::app
