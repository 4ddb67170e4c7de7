#include "app/Layout.h"

#include <gtest/gtest.h>

using namespace ordana::app;

TEST(TwipsToPixels, FollowsTheLogicalDpi) {
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

// The window's frame is centred on the whole screen; on a small screen its edges fall off both sides.
TEST(CentredOn, PlacesTheFrameInTheMiddle) {
    struct Case {
        QRect screen;
        QSize outer;
        QPoint topLeft;
    };
    const Case cases[] = {
        {{0, 0, 1024, 768}, {462, 418}, {281, 175}}, // 4215 and 2625 twips
        {{0, 0, 800, 600}, {462, 418}, {169, 91}},
        {{0, 0, 1023, 767}, {462, 418}, {281, 175}}, // half pixels go to the nearer one up
        {{0, 0, 400, 300}, {462, 418}, {-31, -59}},
        {{1920, 0, 1280, 1024}, {462, 418}, {2329, 303}}, // a second screen to the right
        {{0, 0, 1024, 768}, {498, 249}, {263, 260}},
    };
    for (const Case& c : cases) {
        const QPoint p = centredOn(c.screen, c.outer);
        EXPECT_EQ(p, c.topLeft) << p.x() << "," << p.y();
    }
}
