#include <gtest/gtest.h>

#include <vector>

#include "app/constants.h"
#include "unix/key_names.h"
#include "unix/options.h"

namespace {

bool parse(std::vector<const char*> args, Options& options, std::string* error)
{
    args.insert(args.begin(), "skiprail");
    return readCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

}  // namespace

// The command line wins over the file; the file's relative key file lies
// beside it; comments and blank lines are passed over.
TEST(Options, TheCommandLineWinsOverTheFile)
{
    Options options;
    std::string error;
    ASSERT_TRUE(readConfigText("# the Master\nmode = slave\npartner = desk-pc   # by name\n\nport=4470\n"
                               "position = left\nkey-file = link.key\n",
                               "/home/u/.config/skiprail/skiprail.conf", options, &error))
        << error;
    EXPECT_EQ(options.partner, "desk-pc");
    EXPECT_EQ(options.port, 4470);
    EXPECT_EQ(options.keyFile, "/home/u/.config/skiprail/link.key");
    ASSERT_TRUE(parse({"--partner", "192.0.2.1", "--port=5000", "--position", "above"}, options, &error)) << error;
    EXPECT_EQ(options.mode, MODE_SLAVE);
    EXPECT_EQ(options.partner, "192.0.2.1");
    EXPECT_EQ(options.port, 5000);
    EXPECT_EQ(options.position, POS_ABOVE);
    EXPECT_TRUE(checkRunnable(options, "", &error));
    EXPECT_EQ(options.given, (std::vector<std::string>{"--partner", "192.0.2.1", "--port", "5000", "--position", "above"}));
}

// Each bad value is refused with a line that names it (and the file's line),
// and a run without a mode or a partner never starts.
TEST(Options, BadValuesAreRefusedByName)
{
    const std::vector<std::vector<const char*>> bad = {
        {"--port", "0"}, {"--port", "65535"}, {"--port", "44x7"}, {"--port"}, {"--position", "behind"},
        {"--partner", "two words"}, {"--autostart", "maybe"}, {"--frobnicate"}, {"--slave=yes"}, {"--port2", "5"},
    };
    for (const auto& args : bad) {
        Options options;
        std::string error;
        EXPECT_FALSE(parse(args, options, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
    Options options;
    std::string error;
    EXPECT_FALSE(readConfigText("mode = slave\nport = 99999\n", "skiprail.conf", options, &error));
    EXPECT_EQ(error.find("skiprail.conf, line 2: port"), 0u) << error;
    EXPECT_FALSE(readConfigText("colour = red\n", "f", options, &error));
    EXPECT_FALSE(readConfigText("partner\n", "f", options, &error));

    Options unset;
    EXPECT_FALSE(checkRunnable(unset, "f", &error));
    ASSERT_TRUE(parse({"--slave"}, unset, &error));
    EXPECT_FALSE(checkRunnable(unset, "f", &error));
    EXPECT_NE(error.find("partner"), std::string::npos);

    EXPECT_EQ(configHome("/x/cfg", "/home/u"), "/x/cfg");
    EXPECT_EQ(configHome("relative", "/home/u"), "/home/u/.config");
}

// Combinations are read in any case into the Windows settings' form; what
// names no key, or the Windows Master would never take, is refused.
TEST(Options, KeyCombinations)
{
    const std::vector<std::pair<const char*, uint32_t>> good = {
        {"ctrl+alt+f1", HOTKEY_CTRL | HOTKEY_ALT | 0x70}, {"Scroll_Lock", 0x91}, {"none", 0},
        {"SUPER+Shift+F24", HOTKEY_WIN | HOTKEY_SHIFT | 0x87}, {"ctrl+Page_Up", HOTKEY_CTRL | 0x21},
        {"alt+prior", HOTKEY_ALT | 0x21}, {"ctrl+bracketleft", HOTKEY_CTRL | 0xDB}, {"ctrl+kp_7", HOTKEY_CTRL | 0x67},
        {"alt+A", HOTKEY_ALT | 'A'}, {"ctrl+1", HOTKEY_CTRL | '1'}, {"Pause", 0x13}, {"ctrl+kp_subtract", HOTKEY_CTRL | 0x6D},
    };
    for (const auto& [text, expected] : good) {
        uint32_t combination = 1;
        EXPECT_EQ(parseCombination(text, &combination), nullptr) << text;
        EXPECT_EQ(combination, expected) << text;
    }
    for (const char* text : {"", "ctrl+", "ctrl+alt", "hyper+f1", "ctrl+ctrl+f1", "ctrl+f25", "ctrl+f0", "ctrl+f01",
                             "ctrl+kp_10", "ctrl+Control_L", "f1+ctrl", "a", "shift+space", "ctrl+alt+delete"}) {
        uint32_t combination = 7;
        EXPECT_NE(parseCombination(text, &combination), nullptr) << text;
        EXPECT_EQ(combination, 7u) << text;
    }
}

// A Master's file: Slaves 2 to 4, keys, guards and the file limit as the
// Windows settings keep them; a desk that cannot stand is refused at the
// line of the Slave at fault; running as a Master is still refused.
TEST(Options, MasterFile)
{
    const std::string master = "mode = master\npartner = pc-one\nposition = left\n";
    Options options;
    std::string error;
    ASSERT_TRUE(readConfigText(master + "partner2 = pc-two\nposition2 = above\nnext-to2 = 1\npartner3 = PC-ONE\n"
                                        "port3 = 449\nposition3 = below\nkey-lock = none\n"
                                        "key-slave4 = Ctrl+Alt+F1\nswitch-delay = on\ndead-corners = on\n"
                                        "file-limit = 0\n",
                               "m.conf", options, &error))
        << error;
    EXPECT_EQ(options.mode, MODE_MASTER);
    EXPECT_EQ(options.more[0].position, POS_ABOVE);
    EXPECT_EQ(options.more[0].nextTo, 1);
    EXPECT_EQ(options.more[1].port, 449);
    EXPECT_TRUE(options.more[2].partner.empty());
    EXPECT_EQ(options.hotkeys[HOTKEY_TO_MASTER], HOTKEY_CTRL | HOTKEY_ALT | HOTKEY_SHIFT | 0x70);
    EXPECT_EQ(options.hotkeys[HOTKEY_TO_SLAVE1 + 3], HOTKEY_CTRL | HOTKEY_ALT | 0x70);
    EXPECT_EQ(options.hotkeys[HOTKEY_LOCK], 0u);
    EXPECT_EQ(options.guards.delayMs, DEFAULT_SWITCH_DELAY_MS);
    EXPECT_EQ(options.guards.doubleTap, 0);
    EXPECT_EQ(options.guards.corner, DEFAULT_DEAD_CORNER);
    EXPECT_EQ(options.fileLimitMB, 0u);
    EXPECT_TRUE(checkRunnable(options, "m.conf", &error)) << error;

    const std::vector<std::pair<std::string, std::string>> refused = {
        {"partner2 = pc-two\nposition2 = left\n", "m.conf, line 5: Slave 2 stands in the same cell"},
        {"partner2 = pc-two\nnext-to2 = 3\nposition2 = below\n", "m.conf, line 6: Slave 2 stands next to no PC"},
        {"partner2 = Pc-One\nposition2 = below\n", "m.conf, line 4: Slave 2 has the same computer and port as Slave 1"},
        {"partner2 = pc-two\nport2 = 448\nposition2 = below\n", "m.conf, line 5: Slave 1 and Slave 2 use ports 447 and 448"},
        {"partner2 = pc-two\n", "m.conf, line 4: Slave 2 has no position2"},
        {"port3 = 500\n", "m.conf, line 4: port3 is set, but Slave 3 has no partner3"},
        {"next-to2 = 4\n", "m.conf, line 4: next-to2 is master, 1, 2 or 3"},
        {"key-lock = ctrl+alt+shift+f2\n", "m.conf, line 4: key-lock is already the key of key-slave1"},
        {"key-master = ctrl+alt+f13\nkey-lock = Ctrl+Alt+F13\n", "m.conf, line 5: key-lock is already the key of key-master"},
        {"key-slave2 = ctrl+banana\n", "m.conf, line 4: key-slave2 cannot be \"ctrl+banana\""},
        {"double-tap = maybe\n", "m.conf, line 4: double-tap is on or off"},
        {"file-limit = -1\n", "m.conf, line 4: file-limit is"},
    };
    for (const auto& [lines, expected] : refused) {
        Options desk;
        if (readConfigText(master + lines, "m.conf", desk, &error)) EXPECT_FALSE(checkRunnable(desk, "m.conf", &error));
        EXPECT_EQ(error.find(expected), 0u) << error << " / " << expected;
    }
    // Slave 1 given on the command line clashes with Slave 2 of the file.
    Options mixed;
    ASSERT_TRUE(readConfigText("partner2 = pc-two\nposition2 = left\n", "m.conf", mixed, &error));
    ASSERT_TRUE(parse({"--master", "--partner", "pc-two"}, mixed, &error));
    EXPECT_FALSE(checkRunnable(mixed, "m.conf", &error));
    EXPECT_EQ(error.find("m.conf, line 1: Slave 2 has the same computer and port as Slave 1"), 0u) << error;
    Options alone;
    ASSERT_TRUE(parse({"--master"}, alone, &error));
    EXPECT_FALSE(checkRunnable(alone, "m.conf", &error));
    EXPECT_EQ(error.find("no Slave is named"), 0u) << error;
}
