#include "engine/gauge.h"

#include <gtest/gtest.h>

namespace qtam {
namespace {

TEST(Gauge, ShowsTheWholePercentageOfItsRange) {
    Gauge g;
    EXPECT_EQ(g.Percent(), 0);
    EXPECT_TRUE(g.SetProgress(50));
    EXPECT_EQ(g.Percent(), 50);
    EXPECT_EQ(g.Text(), "50%");
    EXPECT_EQ(g.BarWidth(207), 103);  // 209 wide with a one-pixel border

    ASSERT_TRUE(g.SetMinValue(10));
    ASSERT_TRUE(g.SetMaxValue(13));
    g.SetProgress(12);
    EXPECT_EQ(g.Percent(), 66);  // truncated, not rounded
    EXPECT_EQ(g.Text(), "66%");
    EXPECT_EQ(g.BarWidth(100), 66);
}

TEST(Gauge, ProgressIsClampedIntoTheRange) {
    Gauge g;
    g.SetProgress(150);
    EXPECT_EQ(g.Progress(), 100);
    EXPECT_EQ(g.Text(), "100%");
    EXPECT_EQ(g.BarWidth(207), 207);
    g.SetProgress(-5);
    EXPECT_EQ(g.Progress(), 0);
}

TEST(Gauge, NarrowingTheRangePullsProgressIn) {
    Gauge g;
    g.SetProgress(50);
    ASSERT_TRUE(g.SetMaxValue(40));
    EXPECT_EQ(g.Progress(), 40);
    EXPECT_EQ(g.Percent(), 100);
    ASSERT_TRUE(g.SetMinValue(-10));
    g.SetProgress(-10);
    ASSERT_TRUE(g.SetMinValue(0));
    EXPECT_EQ(g.Progress(), 0);
}

TEST(Gauge, AnInvertedRangeIsRefused) {
    Gauge g;
    g.SetProgress(30);
    EXPECT_FALSE(g.SetMinValue(101));
    EXPECT_FALSE(g.SetMaxValue(-1));
    EXPECT_EQ(g.MinValue(), 0);
    EXPECT_EQ(g.MaxValue(), 100);
    EXPECT_EQ(g.Progress(), 30);

    // An empty range is allowed and shows 0%.
    ASSERT_TRUE(g.SetMaxValue(0));
    EXPECT_EQ(g.Progress(), 0);
    EXPECT_EQ(g.Percent(), 0);
}

TEST(Gauge, RepaintsOnlyWhenTheShownPercentageChanges) {
    Gauge g;
    ASSERT_TRUE(g.SetMaxValue(1000));
    EXPECT_FALSE(g.SetProgress(5));   // still 0%
    EXPECT_TRUE(g.SetProgress(10));   // 1%
    EXPECT_FALSE(g.SetProgress(19));  // still 1%
    EXPECT_FALSE(g.SetProgress(10));
    EXPECT_TRUE(g.SetProgress(999));
}

TEST(Gauge, ExtremeRangesDoNotOverflow) {
    Gauge g;
    ASSERT_TRUE(g.SetMinValue(-2147483647 - 1));
    ASSERT_TRUE(g.SetMaxValue(2147483647));
    g.SetProgress(0);
    EXPECT_EQ(g.Percent(), 50);
    g.SetProgress(2147483647);
    EXPECT_EQ(g.Percent(), 100);
}

}  // namespace
}  // namespace qtam
