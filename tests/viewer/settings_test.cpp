#include "viewer/settings.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace stview {
namespace {

SettingsOutcome read(std::vector<const char*> args, ViewerSettings& settings) {
    args.insert(args.begin(), "stview");
    OptionTable table;
    table.parse(static_cast<int>(args.size()), args.data());
    return readSettings(table, settings);
}

TEST(ParseFrameNumber, ReadsLikeStrtolAndClamps) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"10", 10},
        {"  -5", -5},
        {"+7", 7},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"\t\n 3", 3},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parseFrameNumber(text), expected) << '"' << text << '"';
    }
}

TEST(ParseBitRate, DecimalWithOptionalKiloOrMega) {
    const std::vector<std::pair<const char*, long long>> cases = {
        {"2M", 2000000}, {"800k", 800000}, {"1.5M", 1500000}, {"64000", 64000}, {"2.5K", 2500},
        {"x", -1},       {"M", -1},        {"", -1},          {"-2M", -1},      {"2G", -1},
        {"1e6", -1},     {" 2M", -1},      {"2MM", -1},       {"1.2.3k", -1},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parseBitRate(text), expected) << '"' << text << '"';
    }
}

TEST(ReadOutputSettings, ScaleFollowsTheOutputsCodec) {
    const auto check = [](std::vector<const char*> args) {
        args.insert(args.begin(), "stview");
        OptionTable table;
        table.parse(static_cast<int>(args.size()), args.data());
        ViewerSettings settings;
        readSettings(table, settings);
        std::string problem;
        return readOutputSettings(table, settings, problem) ? settings.quality : -2;
    };
    EXPECT_EQ(check({"-o", "a.avi", "--quality", "31"}), 31);
    EXPECT_EQ(check({"-o", "a.avi", "--quality", "32"}), -2);
    EXPECT_EQ(check({"-o", "a.avi", "--quality", "0"}), -2);
    EXPECT_EQ(check({"-o", "a.mp4", "--quality", "0"}), 0);
    EXPECT_EQ(check({"-o", "a.mkv", "--quality", "51"}), 51);
    EXPECT_EQ(check({"-o", "a.mp4", "--quality", "52"}), -2);
    EXPECT_EQ(check({"-o", "a.mp4"}), -1);
}

TEST(ReadSettings, UsageWhenHelpOrAnInputIsMissing) {
    const std::vector<std::vector<const char*>> usage = {
        {"-h", "-v", "a", "-f", "b"}, {"-help"}, {"--help"}, {"-v", "a"}, {"-f", "b"},
        {"-v", "-v", "a", "-f", "b"},
    };
    for (const auto& args : usage) {
        ViewerSettings settings;
        EXPECT_EQ(read(args, settings), SettingsOutcome::Usage) << args[0];
    }
}

TEST(ReadSettings, TakesEachOptionsFirstValue) {
    ViewerSettings settings;
    ASSERT_EQ(read({"-v", "a.avi", "-v", "b.avi", "stray", "-f", "f.txt", "-o", "o.avi", "-ff",
                    "10", "-lf", "20"},
                   settings),
              SettingsOutcome::Run);
    EXPECT_EQ(settings.videoFile, "a.avi");
    EXPECT_EQ(settings.featuresFile, "f.txt");
    EXPECT_EQ(settings.outputFile, "o.avi");
    EXPECT_EQ(settings.firstFrame, 10);
    EXPECT_EQ(settings.lastFrame, 20);
    EXPECT_FALSE(settings.pause);
    EXPECT_FALSE(settings.noWindow);
}

TEST(ReadSettings, DefaultsAndSwitches) {
    ViewerSettings plain;
    ASSERT_EQ(read({"-v", "a", "-f", "b"}, plain), SettingsOutcome::Run);
    EXPECT_EQ(plain.firstFrame, 0);
    EXPECT_EQ(plain.lastFrame, 100000000);
    EXPECT_TRUE(plain.outputFile.empty());

    for (const auto& args : std::vector<std::vector<const char*>>{
             {"-p", "-v", "a", "-f", "b"}, {"-v", "a", "-f", "b", "-p", "3"}}) {
        ViewerSettings settings;
        ASSERT_EQ(read(args, settings), SettingsOutcome::Run);
        EXPECT_TRUE(settings.pause);
    }
    ViewerSettings negative;
    ASSERT_EQ(read({"-v", "a", "-f", "b", "-ff", "-5", "-lf", "x", "--no-window"}, negative),
              SettingsOutcome::Run);
    EXPECT_EQ(negative.firstFrame, -5);
    EXPECT_EQ(negative.lastFrame, 0);
    EXPECT_TRUE(negative.noWindow);
}

}  // namespace
}  // namespace stview
