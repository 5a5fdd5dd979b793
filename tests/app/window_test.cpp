// Form1's layout in pixels and its slide, as both window hosts take them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/layout.hpp"
#include "app/slide.hpp"

namespace v2bsp::app {
namespace {

struct PlaceCase {
    const char* control;
    double dpi;
    Rect pixels;  // rounded by hand from the twips table
};

TEST(Layout, ControlsLandOnTheirPixelsAtEachDpi) {
    const PlaceCase cases[] = {
        {"datalog", 96, {8, 40, 305, 73}},     {"Command1", 96, {72, 16, 153, 17}},
        {"cmdright", 96, {320, 24, 17, 89}},   {"List1", 96, {344, 8, 121, 106}},
        {"Txt1", 96, {232, 16, 17, 19}},       {"datalog", 120, {10, 50, 381, 91}},
        {"Command1", 120, {90, 20, 191, 21}},  {"cmdright", 120, {400, 30, 21, 111}},
        {"List1", 120, {430, 10, 151, 132}},   {"Txt1", 120, {290, 20, 21, 24}},
        {"datalog", 192, {16, 80, 610, 146}},  {"Command1", 192, {144, 32, 306, 34}},
        {"cmdright", 192, {640, 48, 34, 178}}, {"List1", 192, {688, 16, 242, 211}},
        {"Txt1", 192, {464, 32, 34, 38}},      {"Txt1", 0, {232, 16, 17, 19}},  // no dpi is taken as 96
    };
    for (const PlaceCase& c : cases) {
        SCOPED_TRACE(std::string(c.control) + " at " + std::to_string(c.dpi));
        const Control* control = findControl(kForm1, c.control);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(pixelRect(control->place, c.dpi), c.pixels);
    }
}

TEST(Layout, TwipsToPixels) {
    const struct {
        const char* name;
        double dpi, twips;
        int pixels;
    } cases[] = {
        {"an inch at 96", 96, 1440, 96},        {"slide step at 120 is one pixel", 120, 12, 1},
        {"client width at 96", 96, 5088, 339},   // 339.2
        {"button height at 96", 96, 252, 17},    // 16.8
        {"wide client at 144", 144, 7128, 713},  // 712.8
        {"no dpi is taken as 96", 0, 1440, 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(twipsToPixels(c.twips, c.dpi), c.pixels);
    }
    // 7.5 px each at 96 dpi: rounding each width alone would leave a gap.
    const Rect left = pixelRect({0, 0, 112.5, 100}, 96), right = pixelRect({112.5, 0, 112.5, 100}, 96);
    EXPECT_EQ(left.right(), right.x);
}

TEST(Layout, ClientWidthFollowsTheOuterWidth) {
    const struct {
        double outer, dpi;
        int pixels;
    } cases[] = {{5184, 96, 339},  {7224, 96, 475},  {5172, 96, 338},  {5184, 120, 424},
                 {7224, 120, 594}, {5184, 192, 678}, {7224, 192, 950}, {5172, 192, 677}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.outer) + " twips at " + std::to_string(c.dpi));
        EXPECT_EQ(clientPixels(kForm1, c.outer, c.dpi), c.pixels);
    }
}

// What a host builds from the rows: the tab chain, the hidden and disabled
// controls, and a tag list out of view until the slide.
TEST(Layout, RowsHoldTheStartState) {
    int expected_tab = 0;
    for (const Control& control : kForm1.controls) {
        if (control.tabIndex >= 0) {
            EXPECT_EQ(control.tabIndex, expected_tab++) << control.name;
        }
    }
    EXPECT_EQ(expected_tab, 5);
    EXPECT_FALSE(findControl(kForm1, "Command1")->enabled);
    EXPECT_FALSE(findControl(kForm1, "Txt1")->visible);
    EXPECT_EQ(findControl(kForm1, "Txt1")->caption, "0");
    EXPECT_GE(findControl(kForm1, "List1")->place.left, kForm1.clientWidth);
    EXPECT_EQ(kForm1.outerWidth - kForm1.frameWidth, kForm1.clientWidth);
    EXPECT_EQ(findMenuItem(kForm1, "mnuopen")->shortcut, "Ctrl+O");
    EXPECT_EQ(findMenuItem(kForm1, "nothing"), nullptr);
}

// Each item under a menu listed before it, no name or key twice, and the
// toolbar made of menu items: what hosts that build the menus from the
// tables rely on.
TEST(Layout, MenusAreWellFormed) {
    const std::span<const MenuItem> menus[] = {kForm1.menu, kView3DMenu};
    for (const std::span<const MenuItem> menu : menus) {
        std::vector<std::string_view> seen, keys;
        for (const MenuItem& item : menu) {
            SCOPED_TRACE(std::string(item.name));
            if (!item.parent.empty()) {
                EXPECT_NE(std::find(seen.begin(), seen.end(), item.parent), seen.end());
            }
            if (item.name == kSeparator) continue;
            EXPECT_EQ(std::find(seen.begin(), seen.end(), item.name), seen.end());
            seen.push_back(item.name);
            for (const std::string_view key : {item.shortcut, item.alternate}) {
                if (key.empty()) continue;
                EXPECT_EQ(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
                keys.push_back(key);
            }
        }
    }
    for (const std::string_view name : kView3DToolbar) {
        const bool found = name == kSeparator || std::any_of(std::begin(kView3DMenu), std::end(kView3DMenu),
                                                             [&](const MenuItem& item) { return item.name == name; });
        EXPECT_TRUE(found) << name;
    }
}

// One tick of the timer that runs, as a host's timer delivers it.
void tickRunning(Slide& slide) {
    if (slide.runs() == Slide::Timer::widening) slide.wideningTick();
    else if (slide.runs() == Slide::Timer::narrowing) slide.narrowingTick();
}

int tickUntilStopped(Slide& slide) {
    int ticks = 0;
    while (slide.runs() != Slide::Timer::none && ticks < 10000) {
        tickRunning(slide);
        ++ticks;
    }
    return ticks;
}

TEST(Slide, WidthsAfterEachFullSlide) {
    const struct {
        int ticks;
        double width;
        const char* caption;
        const char* state;
    } slides[] = {
        {170, 7224, "<", "1"},  // the first widening, from 5184
        {171, 5172, ">", "0"},  // the narrowing after it, from 7224
        {171, 7224, "<", "1"},  // from then on, 5172 to 7224 and back
        {171, 5172, ">", "0"},
    };
    Slide slide;
    EXPECT_EQ(slide.outerWidth(), kSlideNarrow);
    EXPECT_EQ(slide.caption(), ">");
    EXPECT_EQ(slide.state(), "0");
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE("slide " + std::to_string(i + 1));
        slide.click();
        EXPECT_EQ(slide.runs(), i % 2 == 0 ? Slide::Timer::widening : Slide::Timer::narrowing);
        EXPECT_EQ(slide.caption(), slides[i].caption);
        EXPECT_EQ(slide.state(), slides[i].state);
        EXPECT_EQ(tickUntilStopped(slide), slides[i].ticks);
        EXPECT_EQ(slide.outerWidth(), slides[i].width);
        EXPECT_EQ(slide.runs(), Slide::Timer::none);
    }
}

// A click during a slide stops it and slides back from where it is.
TEST(Slide, ClickDuringASlideReverses) {
    const struct {
        int fullSlides, ticksBefore, ticksAfter;
        double width;
    } cases[] = {{0, 50, 51, 5172}, {0, 1, 2, 5172}, {1, 20, 20, 7224}, {2, 100, 100, 5172}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fullSlides) + " slides, then " + std::to_string(c.ticksBefore) + " ticks");
        Slide slide;
        for (int i = 0; i < c.fullSlides; ++i) {
            slide.click();
            tickUntilStopped(slide);
        }
        slide.click();
        for (int i = 0; i < c.ticksBefore; ++i) tickRunning(slide);
        const Slide::Timer before = slide.runs();
        slide.click();
        EXPECT_NE(slide.runs(), before);
        EXPECT_EQ(tickUntilStopped(slide), c.ticksAfter);
        EXPECT_EQ(slide.outerWidth(), c.width);
    }
}

// Every widening tick shows "<", and the ticks of the timer that does not
// run still step, as the timers' own handlers do.
TEST(Slide, TicksActAsTheirHandlers) {
    Slide slide;
    slide.narrowingTick();
    EXPECT_EQ(slide.outerWidth(), kSlideNarrow - kSlideStep);
    EXPECT_EQ(slide.caption(), ">");
    slide.wideningTick();
    EXPECT_EQ(slide.caption(), "<");
    EXPECT_EQ(slide.outerWidth(), kSlideNarrow);
    EXPECT_EQ(slide.runs(), Slide::Timer::none);
    EXPECT_EQ(slide.state(), "0");
}

}  // namespace
}  // namespace v2bsp::app
