#include <gtest/gtest.h>

#include <vector>

#include "app/constants.h"
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
        {"--partner", "two words"}, {"--master"}, {"--autostart", "maybe"}, {"--frobnicate"}, {"--slave=yes"},
    };
    for (const auto& args : bad) {
        Options options;
        std::string error;
        EXPECT_FALSE(parse(args, options, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
    Options options;
    std::string error;
    EXPECT_FALSE(parse({"--master"}, options, &error));
    EXPECT_NE(error.find("not supported yet"), std::string::npos);
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
