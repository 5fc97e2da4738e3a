#include <gtest/gtest.h>

#include "program/run.h"

using namespace vornlog;

namespace {

std::optional<Options> parse(std::vector<std::string> args) { return parseCommandLine(args); }

} // namespace

TEST(CommandLine, FewerThanTwoArgumentsShowTheUsage)
{
    EXPECT_FALSE(parse({}));
    EXPECT_FALSE(parse({"a"}));
}

TEST(CommandLine, TheLastTwoArgumentsAreAlwaysTheFiles)
{
    auto plain = parse({"a", "b"});
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->mode, 'v');
    EXPECT_EQ(plain->dump, "a");
    EXPECT_EQ(plain->dest, "b");

    auto dashS = parse({"-s", "a"}); // -s is the dump file's name here
    ASSERT_TRUE(dashS);
    EXPECT_EQ(dashS->mode, 'v');
    EXPECT_EQ(dashS->dump, "-s");
    EXPECT_EQ(dashS->dest, "a");
}

TEST(CommandLine, OptionsAreKnownByTwoCharactersAndTheLastOneCounts)
{
    EXPECT_EQ(parse({"-v", "a", "b"})->mode, 'v');
    EXPECT_EQ(parse({"-s", "a", "b"})->mode, 's');
    EXPECT_EQ(parse({"-s", "-v", "a", "b"})->mode, 'v');
    EXPECT_EQ(parse({"-v", "-s", "a", "b"})->mode, 's');
    EXPECT_EQ(parse({"-s", "-s", "a", "b"})->mode, 's');
    EXPECT_EQ(parse({"-sfoo", "a", "b"})->mode, 's');
    EXPECT_EQ(parse({"-verbose", "a", "b"})->mode, 'v');
    EXPECT_EQ(parse({"-t", "a", "b"})->mode, 't');
    EXPECT_EQ(parse({"-tx", "a", "b"})->mode, 't');
    EXPECT_EQ(parse({"-t", "-s", "a", "b"})->mode, 's');
    EXPECT_EQ(parse({"-s", "-t", "a", "b"})->mode, 't');
    EXPECT_EQ(parse({"-jsonl", "a", "b"})->mode, 'j');
    EXPECT_EQ(parse({"-j", "-v", "a", "b"})->mode, 'v');
    EXPECT_EQ(parse({"-p", "-j", "a", "b"})->mode, 'j');
    EXPECT_EQ(parse({"-web", "a", "b"})->mode, 'w');
    EXPECT_EQ(parse({"-w", "-j", "a", "b"})->mode, 'j');
    EXPECT_EQ(parse({"-j", "-w", "a", "b"})->mode, 'w');
}

TEST(CommandLine, AnyOtherArgumentBeforeTheFilesShowsTheUsage)
{
    for (const char* bad : {"-h", "-x", "-", "x", "", "--s"})
        EXPECT_FALSE(parse({bad, "a", "b"})) << '"' << bad << '"';
    EXPECT_FALSE(parse({"-s", "-h", "a", "b"}));
}

TEST(CommandLine, NoViewerAndQuietLeaveTheModeAlone)
{
    auto both = parse({"-s", "-n", "-q", "a", "b"});
    ASSERT_TRUE(both);
    EXPECT_EQ(both->mode, 's');
    EXPECT_FALSE(both->viewer);
    EXPECT_TRUE(both->quiet);

    auto packed = parse({"-nq", "a", "b"}); // two characters: -n alone
    ASSERT_TRUE(packed);
    EXPECT_FALSE(packed->viewer);
    EXPECT_FALSE(packed->quiet);

    auto plain = parse({"a", "b"});
    EXPECT_TRUE(plain->viewer);
    EXPECT_FALSE(plain->quiet);
}

TEST(CommandLine, DashDNamesAUsbDeviceInBothSpellings)
{
    auto apart = parse({"-d", "1.7", "-s", "a", "b"});
    ASSERT_TRUE(apart && apart->device);
    EXPECT_EQ(*apart->device, (UsbDevice{1, 7}));
    EXPECT_EQ(apart->mode, 's');
    EXPECT_EQ(apart->dump, "a");
    auto joined = parse({"-d3.12", "-d65535.0", "a", "b"}); // the last one counts
    ASSERT_TRUE(joined && joined->device);
    EXPECT_EQ(*joined->device, (UsbDevice{65535, 0}));
    EXPECT_FALSE(parse({"a", "b"})->device);
    // The value never comes from the two file names, and must be BUS.ADDR.
    for (std::vector<std::string> bad : {std::vector<std::string>{"-d", "1.7", "b"}, {"-d", "a", "b"},
                                         {"-d", "1", "a", "b"}, {"-d1.", "a", "b"}, {"-d.7", "a", "b"},
                                         {"-d1.7x", "a", "b"}, {"-d65536.1", "a", "b"}, {"-d-1.2", "a", "b"}})
        EXPECT_FALSE(parse(bad)) << bad[0];
}

TEST(CommandLine, DashCTakesBeforeAsItsValueAndOnlyTheModesItWrites)
{
    auto apart = parse({"-c", "monday.txt", "-d", "1.7,2.9", "tuesday.pcapng", "diff.txt"});
    ASSERT_TRUE(apart);
    EXPECT_EQ(apart->before, "monday.txt");
    EXPECT_EQ(apart->dump, "tuesday.pcapng");
    EXPECT_EQ(apart->dest, "diff.txt");
    ASSERT_TRUE(apart->device && apart->afterDevice);
    EXPECT_EQ(*apart->device, (UsbDevice{1, 7}));
    EXPECT_EQ(*apart->afterDevice, (UsbDevice{2, 9}));
    for (const char* mode : {"-v", "-j", "-w", "-n", "-q", "--fail-on=stop"})
        EXPECT_TRUE(parse({mode, "-cmonday.txt", "a", "-"})) << mode;
    for (std::vector<std::string> bad :
         {std::vector<std::string>{"-c", "-", "a", "b"}, {"-c", "a", "b"}, {"-c", "x", "-s", "a", "b"},
          {"-c", "x", "-p", "a", "b"}, {"-t", "-c", "x", "a", "b"}, {"-c", "x", "-e", "a", "b"},
          {"-c", "x", "-l", "a", "b"}, {"-c", "x", "-f", "a", "b"}, {"-c", "x", "-F", "a", "b"},
          {"-c", "x", "--keep=d", "a", "b"}, {"-d", "1.7,2.9", "a", "b"}, {"-c", "x", "-d", "1.7,", "a", "b"}})
        EXPECT_FALSE(parse(bad)) << bad[0] << " " << bad[2];
}
