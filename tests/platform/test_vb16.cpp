#include "platform/Twips.h"
#include "platform/Vb16.h"

#include <gtest/gtest.h>

using namespace sonora;

TEST(Vb16, CountersStopAtTheirRangeWithAnError)
{
    EXPECT_EQ(add16(32766, 1), 32767);
    EXPECT_THROW(add16(32767, 1), OverflowError);
    EXPECT_EQ(sub16(-32767, 1), -32768);
    EXPECT_THROW(sub16(-32768, 1), OverflowError);
    EXPECT_THROW(to16(40000), OverflowError);
}

TEST(Vb16, BooleansAreMinusOneAndAnyNonZeroIsTrue)
{
    EXPECT_EQ(toBooleano(true), -1);
    EXPECT_EQ(toBooleano(false), 0);
    EXPECT_TRUE(isTrue(1));
    EXPECT_TRUE(isTrue(-1));
    EXPECT_FALSE(isTrue(0));
}

TEST(Twips, FifteenPerLogicalPixelBothWays)
{
    EXPECT_EQ(twips::toPixels(4725), 315);
    EXPECT_EQ(twips::toPixels(4680), 312);
    EXPECT_EQ(twips::fromPixels(twips::toPixels(2415)), 2415);
    EXPECT_EQ(twips::toPixels(120, 3720, 810, 495), QRect(8, 248, 54, 33));
}
