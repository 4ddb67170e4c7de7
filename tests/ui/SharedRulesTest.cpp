// The rules both skins compute alike: twips, centring, the frame's colours, "Open with".

#include "ui/Colours.h"
#include "ui/Desktop.h"
#include "ui/Placement.h"

#include <gtest/gtest.h>

using namespace ordana::ui;

TEST(Twips, FollowTheDpi) {
    struct Case {
        int twips;
        double dpi;
        int pixels;
    };
    const Case cases[] = {
        {6815, 96, 454},
        {5655, 96, 377},
        {7350, 96, 490},
        {3615, 96, 241},
        {345, 96, 23},
        {7350, 120, 613},
        {3615, 120, 301},
        {7350, 144, 735},
        {0, 96, 0},
        // The nearer pixel, and half a pixel up (455 twips at 150 %: 45.5 pixels).
        {112, 96, 7},
        {113, 96, 8},
        {455, 144, 46},
        {6825, 192, 910},
        {2168, 192, 289},
    };
    for (const Case& c : cases)
        EXPECT_EQ(twipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " twips at " << c.dpi;
}

// Every window's frame is centred on the whole screen; on a small screen its edges fall off both sides.
TEST(CentredOn, PlacesTheFrameInTheMiddle) {
    struct Case {
        const char* name;
        Rect screen;
        Size outer;
        Point topLeft;
    };
    const Case cases[] = {
        {"1024 x 768: 4215 and 2625 twips", {0, 0, 1024, 768}, {462, 418}, {281, 175}},
        {"800 x 600", {0, 0, 800, 600}, {462, 418}, {169, 91}},
        {"half pixels go to the nearer one up", {0, 0, 1023, 767}, {462, 418}, {281, 175}},
        {"smaller than the window", {0, 0, 400, 300}, {462, 418}, {-31, -59}},
        {"smaller by an odd count", {0, 0, 461, 417}, {462, 418}, {0, 0}},
        {"a second screen to the right", {1920, 0, 1280, 1024}, {462, 418}, {2329, 303}},
        {"the About box", {0, 0, 1024, 768}, {498, 249}, {263, 260}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(centredOn(c.screen, c.outer), c.topLeft) << c.name;
}

// The frame's captions read on every window colour: dark grey where it can be read, its mirror elsewhere.
TEST(Colours, LabelGreyReadsOnTheWindowColour) {
    EXPECT_DOUBLE_EQ(contrastRatio({0, 0, 0}, {255, 255, 255}), 21);
    EXPECT_DOUBLE_EQ(contrastRatio(kLightGrey, kLightGrey), 1);
    const struct {
        const char* name;
        Rgb window;
        Rgb label;
    } rows[] = {
        {"the classic button face", {240, 240, 240}, kDarkGrey},
        {"white", {255, 255, 255}, kDarkGrey},
        {"a middle grey", {160, 160, 160}, {191, 191, 191}},
        {"a dark theme", {45, 45, 48}, {191, 191, 191}},
        {"high contrast black", {0, 0, 0}, {191, 191, 191}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(labelGrey(r.window), r.label);
    }
    for (const auto& r : rows) {
        if (r.window.red < 100) {
            EXPECT_GE(contrastRatio(labelGrey(r.window), r.window), 4.5) << r.name;
        }
    }
    EXPECT_GE(contrastRatio(kDarkGrey, kLightGrey), 4.5) << "the path box and the list";
}

// "Open with": the first argument is the workbook, handed to the first file command only.
TEST(OpenWith, TheWorkbookGoesToTheFirstFileCommandOnly) {
    EXPECT_EQ(workbookArgument({}), "");
    EXPECT_EQ(workbookArgument({"ordana"}), "");
    EXPECT_EQ(workbookArgument({"ordana", "C:\\date\\inventar.xls"}), "C:\\date\\inventar.xls");
    EXPECT_EQ(workbookArgument({"ordana", "/a b/c.ods", "/alt.xls"}), "/a b/c.ods") << "nothing else is read";

    OpeningWorkbook opening;
    EXPECT_FALSE(opening.pending());
    EXPECT_EQ(opening.take(), std::nullopt) << "the real dialog asks";
    opening.set("/date.xls");
    EXPECT_TRUE(opening.pending());
    EXPECT_EQ(opening.take(), "/date.xls");
    EXPECT_FALSE(opening.pending());
    EXPECT_EQ(opening.take(), std::nullopt) << "a second file command asks the user";
}
