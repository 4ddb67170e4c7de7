#include "gui/Placement.h"

#include <gtest/gtest.h>

using namespace ordana::gui;

TEST(Twips, FollowTheLogicalDpi) {
    struct Case {
        int twips;
        qreal dpi;
        int pixels;
    };
    const Case cases[] = {
        {6815, 96, 454},  {5655, 96, 377},  {7350, 96, 490},  {3615, 96, 241}, {345, 96, 23},
        {7350, 120, 613}, {3615, 120, 301}, {7350, 144, 735}, {0, 96, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(twipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " twips at " << c.dpi;
}

// Every window's frame is centred on the whole screen; on a small screen its edges fall off both sides.
TEST(CentredOn, PlacesTheFrameInTheMiddle) {
    struct Case {
        const char* name;
        QRect screen;
        QSize outer;
        QPoint topLeft;
    };
    const Case cases[] = {
        {"1024 x 768: 4215 and 2625 twips", {0, 0, 1024, 768}, {462, 418}, {281, 175}},
        {"800 x 600", {0, 0, 800, 600}, {462, 418}, {169, 91}},
        {"half pixels go to the nearer one up", {0, 0, 1023, 767}, {462, 418}, {281, 175}},
        {"smaller than the window", {0, 0, 400, 300}, {462, 418}, {-31, -59}},
        {"a second screen to the right", {1920, 0, 1280, 1024}, {462, 418}, {2329, 303}},
        {"the About box", {0, 0, 1024, 768}, {498, 249}, {263, 260}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(centredOn(c.screen, c.outer), c.topLeft) << c.name;
}
