#include <limits.h>

#include <gtest/gtest.h>

#include "shell/layout.h"

namespace {

TEST(Layout, SixteenPixelLinesInASeventySixPixelClientArea)
{
    const LayoutMetrics layout = ComputeLayout(13, 3, 76);
    EXPECT_EQ(layout.buttonWidth, 100);
    EXPECT_EQ(layout.buttonHeight, 28);
    EXPECT_EQ(layout.button1Left, 10);
    EXPECT_EQ(layout.button2Left, 10);
    EXPECT_EQ(layout.button1Top, 6);
    EXPECT_EQ(layout.button2Top, 40);
    EXPECT_EQ(CaptionLeft(layout), 120);
    // (28 - 16) / 2 below each button's top.
    EXPECT_EQ(CaptionTop(layout, layout.button1Top, 13, 3), 12);
    EXPECT_EQ(CaptionTop(layout, layout.button2Top, 13, 3), 46);
}

TEST(Layout, IntegerArithmeticTruncates)
{
    // Line height 13: 13 * 7 / 4 = 22.75 gives 22; gap (75 - 44) / 3 = 10.33 gives 10.
    const LayoutMetrics layout = ComputeLayout(13, 0, 75);
    EXPECT_EQ(layout.buttonHeight, 22);
    EXPECT_EQ(layout.button1Top, 10);
    EXPECT_EQ(layout.button2Top, 42);
    // (22 - 13) / 2 = 4.5 gives 4.
    EXPECT_EQ(CaptionTop(layout, layout.button1Top, 13, 0), 14);
}

TEST(Layout, ClientAreaLowerThanBothButtonsGivesNegativeGap)
{
    // Gap (40 - 56) / 3 = -5.33 truncates toward zero to -5, not down to -6.
    const LayoutMetrics layout = ComputeLayout(16, 0, 40);
    EXPECT_EQ(layout.buttonHeight, 28);
    EXPECT_EQ(layout.button1Top, -5);
    EXPECT_EQ(layout.button2Top, 18);

    const LayoutMetrics empty = ComputeLayout(16, 0, 0);
    EXPECT_EQ(empty.button1Top, -18);
    EXPECT_EQ(empty.button2Top, -8);
}

TEST(Layout, ExternalLeadingCountsInTheLineHeight)
{
    EXPECT_EQ(ComputeLayout(16, 0, 100).buttonHeight, ComputeLayout(12, 4, 100).buttonHeight);
    EXPECT_EQ(ComputeLayout(12, 4, 100).buttonHeight, 28);
}

TEST(Layout, AbsurdMetricsNeitherOverflowNorWrap)
{
    // Line height 2 * INT_MAX; every result that does not fit an int is clamped to the nearest end.
    const LayoutMetrics huge = ComputeLayout(INT_MAX, INT_MAX, INT_MAX);
    EXPECT_EQ(huge.buttonHeight, INT_MAX);
    EXPECT_EQ(huge.button1Top, INT_MIN);
    EXPECT_EQ(huge.button2Top, -1073741822);
    EXPECT_EQ(CaptionTop(huge, INT_MAX, INT_MAX, INT_MAX), 1073741824);

    const LayoutMetrics negative = ComputeLayout(INT_MIN, INT_MIN, INT_MIN);
    EXPECT_EQ(negative.buttonHeight, INT_MIN);
    EXPECT_EQ(negative.button1Top, INT_MAX);
    EXPECT_EQ(negative.button2Top, 1073741824);
}

}  // namespace
