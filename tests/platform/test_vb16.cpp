#include "platform/Twips.h"
#include "platform/Vb16.h"

#include <gtest/gtest.h>

using namespace sonora;

TEST(Vb16, CountersStopAtTheirRangeWithAnError)
{
    Intero top = 32766;
    EXPECT_EQ(++top, 32767);
    EXPECT_THROW(++top, OverflowError);
    EXPECT_THROW(top + 1, OverflowError);
    EXPECT_EQ(Intero(-32767) - 1, -32768);
    EXPECT_THROW(Intero(-32768) - 1, OverflowError);
    EXPECT_THROW(Intero(40000), OverflowError);
    EXPECT_THROW(Intero(65535u), OverflowError);
    EXPECT_LT(Intero(-1), Intero(0));
}

TEST(Vb16, BooleansAreMinusOneAndAnyNonZeroIsTrue)
{
    EXPECT_EQ(Vero.valore(), -1);
    EXPECT_EQ(Falso.valore(), 0);
    EXPECT_TRUE(isTrue(Booleano::conDato(1)));
    EXPECT_NE(Booleano::conDato(1), Vero);
    EXPECT_FALSE(isTrue(Booleano::conDato(0)));
}

TEST(Twips, FifteenPerLogicalPixelBothWays)
{
    EXPECT_EQ(twips::toPixels(4725), 315);
    EXPECT_EQ(twips::toPixels(4680), 312);
    EXPECT_EQ(twips::fromPixels(twips::toPixels(2415)), 2415);
    EXPECT_EQ(twips::toPixels(120, 3720, 810, 495), QRect(8, 248, 54, 33));
}
