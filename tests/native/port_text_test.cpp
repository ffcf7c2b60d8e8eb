#include <gtest/gtest.h>

#include "settings/port_text.h"

TEST(PortText, ReadsLikeTheDecimalTextItIs)
{
    EXPECT_EQ(parsePortText("447"), 447);
    EXPECT_EQ(parsePortText("  447"), 447);
    EXPECT_EQ(parsePortText("12a"), 12);
    EXPECT_EQ(parsePortText("abc"), 0);
    EXPECT_EQ(parsePortText(""), 0);
    EXPECT_EQ(parsePortText("-5"), -5);
    EXPECT_EQ(parsePortText("+80"), 80);
    EXPECT_EQ(parsePortText("- 5"), 0);
    EXPECT_EQ(parsePortText("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(parsePortText("-99999999999999999999"), INT32_MIN);
    EXPECT_EQ(parsePortText("-2147483648"), INT32_MIN);
}
