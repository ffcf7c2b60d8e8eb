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

// Only ports the control and the clipboard connection (port + 1) can both use
// pass; a typed port must be a plain number, since the lenient reading would
// turn "70000" into a port no partner looks at and "44x7" into 44.
TEST(PortText, TellsUsablePortsFromTheRest)
{
    EXPECT_TRUE(isUsablePort(1));
    EXPECT_TRUE(isUsablePort(65534));
    EXPECT_FALSE(isUsablePort(0));
    EXPECT_FALSE(isUsablePort(65535));
    EXPECT_FALSE(isUsablePort(-5));
    EXPECT_FALSE(isUsablePort(70000));

    EXPECT_TRUE(isUsablePortText("447"));
    EXPECT_TRUE(isUsablePortText(" 447 "));
    EXPECT_TRUE(isUsablePortText("65534"));
    EXPECT_TRUE(isUsablePortText("00080"));
    EXPECT_FALSE(isUsablePortText("65535"));
    EXPECT_FALSE(isUsablePortText("70000"));
    EXPECT_FALSE(isUsablePortText("99999999999999999999"));
    EXPECT_FALSE(isUsablePortText("0"));
    EXPECT_FALSE(isUsablePortText(""));
    EXPECT_FALSE(isUsablePortText("   "));
    EXPECT_FALSE(isUsablePortText("abc"));
    EXPECT_FALSE(isUsablePortText("44x7"));
    EXPECT_FALSE(isUsablePortText("4 47"));
    EXPECT_FALSE(isUsablePortText("-5"));
    EXPECT_FALSE(isUsablePortText("+80"));
}
