#include <gtest/gtest.h>

#include <vector>

#include "app/constants.h"
#include "input/key_rules.h"

namespace {

std::vector<std::pair<int32_t, int32_t>> events(uint32_t message, uint32_t flags)
{
    KeyEvent out[2];
    const int32_t n = keyEventsFor(message, 65, flags, out);
    std::vector<std::pair<int32_t, int32_t>> result;
    for (int32_t i = 0; i < n; ++i) result.emplace_back(out[i].vkCode, out[i].event);
    return result;
}

using E = std::vector<std::pair<int32_t, int32_t>>;

TEST(KeyRules, TheWholeFlagsWordDecides)
{
    for (uint32_t flags : {0u, 1u, 16u}) EXPECT_EQ(events(256, flags), (E{{65, EV_KEY_DOWN}}));
    EXPECT_EQ(events(256, 32), (E{{18, EV_KEY_DOWN}, {65, EV_KEY_DOWN}}));
    EXPECT_EQ(events(257, 128), (E{{18, EV_KEY_UP}, {65, EV_KEY_UP}}));
    for (uint32_t flags : {129u, 144u, 160u}) EXPECT_EQ(events(257, flags), (E{{65, EV_KEY_UP}}));
    EXPECT_EQ(events(260, 32), (E{{18, EV_KEY_DOWN}}));
    EXPECT_EQ(events(260, 0), E{});
    EXPECT_EQ(events(260, 33), E{});
    EXPECT_EQ(events(261, 128), (E{{18, EV_KEY_UP}}));
    EXPECT_EQ(events(261, 160), E{});
    EXPECT_EQ(events(261, 161), E{});
}

}  // namespace
