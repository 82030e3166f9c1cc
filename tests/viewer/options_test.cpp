#include "viewer/option_table.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "viewer/settings.hpp"

namespace stview {
namespace {

using Args = std::vector<const char*>;

int parseArgs(OptionTable& table, Args args) {
    args.insert(args.begin(), "stview");
    return table.parse(static_cast<int>(args.size()), args.data());
}

// The number of entries, then each entry among a few names with its values.
std::string dump(const OptionTable& table, int entries) {
    std::string text = std::to_string(entries);
    for (const char* name : {"-v", "-f", "-o", "-ff", "-p", "-V", "--help", "-.5", "-\x80",
                             "-\xC3\xA9", "-h", "-x", "--v", "-", "-0x"}) {
        if (!table.has(name)) continue;
        text += std::string(" ") + name + "[";
        for (int i = 0; i < table.count(name); ++i)
            text += (i ? "," : "") + table.get(name, static_cast<unsigned>(i));
        text += "]";
    }
    return text;
}

TEST(OptionTable, EdgeCasesHoldExactlyTheExpectedEntries) {
    // clang-format off
    const std::pair<Args, const char*> cases[] = {
        {{}, "0"}, {{"a", "b"}, "0"},                       // only plain arguments
        {{"-v", "a", "b"}, "1 -v[a,b]"},                    // values follow their option
        {{"-v"}, "1 -v[]"},                                 // option as last argument
        {{"-v", "-f", "x"}, "2 -v[] -f[x]"},                // option right behind option
        {{"-ff", "-5"}, "1 -ff[-5]"},                       // a negative number is a value
        {{"-", "-v", "a"}, "1 -v[a]"},                      // lone minus before any option
        {{"-v", "a", "-v", "b", "c"}, "1 -v[a,c]"},         // first occurrence wins
        {{"-v", "-v", "x"}, "1 -v[]"},                      // repeat without value loses x
        {{"-v", "", "b"}, "1 -v[b]"},                       // empty right behind is dropped
        {{"-v", "a", ""}, "1 -v[a,]"},                      // empty further on is kept
        {{"x", "-p"}, "1 -p[]"},                            // plain before option ignored
        {{"-V", "a", "-v", "b"}, "2 -v[b] -V[a]"},          // names are case-sensitive
        {{"-\xC3\xA9", "1"}, "1 -\xC3\xA9[1]"},             // high bytes are not digits
        {{"--help", "-.5", "+v"}, "2 --help[] -.5[+v]"},
        {{"-0x", "-\x80"}, "1 -\x80[]"}};
    // clang-format on
    for (const auto& [args, expected] : cases) {
        OptionTable table;
        EXPECT_EQ(dump(table, parseArgs(table, args)), expected) << testing::PrintToString(args);
    }
    EXPECT_FALSE(OptionTable::isOptionLike(nullptr));
}

TEST(OptionTable, LookupsMissesAndReparsing) {
    OptionTable table;
    std::string value = "b";
    parseArgs(table, {"-v", "a", value.c_str(), "-p"});
    value.assign("X");  // the table keeps no reference into the arguments
    EXPECT_THROW(table.get("-v", 2), int);
    EXPECT_THROW(table.get("-v", static_cast<unsigned>(-1)), int);
    EXPECT_THROW(table.get("-p", 0), int);
    EXPECT_THROW(table.get("-f", 0), int);
    EXPECT_EQ(dump(table, 2), "2 -v[a,b] -p[]");  // lookups leave the table alone
    EXPECT_EQ(table.getOr("-v", 0, "z"), "a");
    EXPECT_EQ(table.getOr("-v", 2, "z"), "z");
    EXPECT_EQ(table.getOr("-f", 0, "z"), "z");
    EXPECT_EQ(table.getOr("-f", 0, nullptr), "");
    EXPECT_EQ(dump(table, parseArgs(table, {"-o", "c"})), "1 -o[c]");  // replaces the first
}

TEST(Settings, NumbersReadLikeStrtolAndBitRatesAsDecimals) {
    // clang-format off
    const std::vector<std::pair<const char*, int>> frames = {
        {"10", 10}, {"  -5", -5}, {"+7", 7}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"-", 0},
        {"\t\n 3", 3}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN}, {"99999999999999999999999", INT_MAX}};
    // clang-format on
    for (const auto& [text, expected] : frames)
        EXPECT_EQ(parseFrameNumber(text), expected) << '"' << text << '"';
    const std::vector<std::pair<const char*, long long>> rates = {
        {"2M", 2000000}, {"800k", 800000}, {"1.5M", 1500000}, {"64000", 64000}, {"2.5K", 2500},
        {"x", -1},       {"M", -1},        {"", -1},          {"-2M", -1},      {"2G", -1},
        {"1e6", -1},     {" 2M", -1},      {"2MM", -1},       {"1.2.3k", -1}};
    for (const auto& [text, expected] : rates)
        EXPECT_EQ(parseBitRate(text), expected) << '"' << text << '"';
}

// What readSettings makes of a command line: "usage", or the files, frames and
// switches it read, and whether readOutputSettings refuses the output options.
std::string summary(Args args) {
    OptionTable table;
    parseArgs(table, args);
    ViewerSettings s;
    if (readSettings(table, s) != SettingsOutcome::Run) return "usage";
    std::string problem;
    const bool ok = readOutputSettings(table, s, problem);
    return s.videoFile + " " + s.featuresFile + " " + s.outputFile + " " +
           std::to_string(s.firstFrame) + " " + std::to_string(s.lastFrame) + " " +
           std::to_string(s.pause) + std::to_string(s.noWindow) + (ok ? "" : " refused");
}

TEST(Settings, UsageFirstValuesDefaultsSwitchesAndQuality) {
    // clang-format off
    const std::vector<std::pair<Args, const char*>> cases = {
        {{"-h", "-v", "a", "-f", "b"}, "usage"}, {{"-help"}, "usage"}, {{"--help"}, "usage"},
        {{"-v", "a"}, "usage"}, {{"-f", "b"}, "usage"}, {{"-v", "-v", "a", "-f", "b"}, "usage"},
        {{"-v", "a", "-f", "b"}, "a b  0 100000000 00"},
        {{"-v", "a", "-v", "b", "stray", "-f", "f", "-o", "o.avi", "-ff", "10", "-lf", "20"},
         "a f o.avi 10 20 00"},
        {{"-p", "-v", "a", "-f", "b"}, "a b  0 100000000 10"},
        {{"-v", "a", "-f", "b", "-p", "3"}, "a b  0 100000000 10"},
        {{"-v", "a", "-f", "b", "-ff", "-5", "-lf", "x", "--no-window"}, "a b  -5 0 01"},
        {{"-v", "a", "-f", "b", "--quality", "5", "--fps"}, "a b  0 100000000 00 refused"}};
    // clang-format on
    for (const auto& [args, expected] : cases)
        EXPECT_EQ(summary(args), expected) << testing::PrintToString(args);
}

// The quality's scale follows the output's codec; -2 when refused.
TEST(Settings, QualityScaleFollowsTheOutputsCodec) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"a.avi", "31", 31}, {"a.avi", "32", -2}, {"a.avi", "0", -2}, {"a.mp4", "0", 0},
        {"a.mkv", "51", 51}, {"a.mp4", "52", -2}, {"a.mp4", "", -2}};
    for (const auto& [output, quality, expected] : cases) {
        OptionTable table;
        parseArgs(table, {"-o", output, "--quality", quality});
        ViewerSettings s;
        s.outputFile = output;
        std::string problem;
        EXPECT_EQ(readOutputSettings(table, s, problem) ? s.quality.value_or(-1) : -2, expected)
            << output << quality;
    }
}

// The output options' bounds, and each refusal's line: "ok" with the values read, or the line.
TEST(Settings, OutputOptionBoundsAndTheWordingOfTheirRefusals) {
    const std::string fps = ": give frames per second above 0 and up to 1000, or source";
    const std::string rate = ": give bits per second from 1k to 1000M, such as 2M or 800k";
    const std::string anyCodec = ": any codec takes a whole number from 0 (best) to 51 (smallest)";
    // clang-format off
    const std::pair<Args, std::string> cases[] = {
        {{}, "ok fps 25"},
        {{"--fps", "1000"}, "ok fps 1000"},
        {{"--fps", "1000.5"}, "--fps 1000.5" + fps},
        {{"--fps", "1000.0001"}, "--fps 1000.0001" + fps},
        {{"--fps", "0.001"}, "ok fps 0.001"},
        {{"--fps", "0"}, "--fps 0" + fps},
        {{"--fps", "0.0"}, "--fps 0.0" + fps},
        {{"--fps", "-5"}, "--fps -5" + fps},
        {{"--fps", "1e2"}, "--fps 1e2" + fps},
        {{"--fps", "2.5.1"}, "--fps 2.5.1" + fps},
        {{"--fps", "."}, "--fps ." + fps},
        {{"--fps", "29.97"}, "ok fps 29.97"},
        {{"--fps", "000000000000030"}, "ok fps 30"},           // 15 digits
        {{"--fps", "0000000000000030"}, "--fps 0000000000000030" + fps},
        {{"--fps", "source"}, "ok source"},
        {{"--fps", "Source"}, "--fps Source" + fps},
        {{"--fps"}, "--fps needs a value"},
        {{"--fps", ""}, "--fps needs a value"},
        {{"--bitrate", "1k"}, "ok rate 1000"},
        {{"--bitrate", "999"}, "--bitrate 999" + rate},
        {{"--bitrate", "1000M"}, "ok rate 1000000000"},
        {{"--bitrate", "1000.001M"}, "--bitrate 1000.001M" + rate},
        {{"--bitrate", "fast"}, "--bitrate fast" + rate},
        {{"--quality", "5", "--bitrate", "2M"},
         "--bitrate 2M: give at most one of a quality and a bit rate"},
        {{"--quality", "0"}, "ok quality 0"},
        {{"--quality", "51"}, "ok quality 51"},
        {{"--quality", "52"}, "--quality 52" + anyCodec},
        {{"--quality", "2.5"}, "--quality 2.5" + anyCodec},
        {{"--quality", "9999999999"}, "--quality 9999999999" + anyCodec},
        {{"-o", "a.avi", "--quality", "0"},
         "--quality 0: MPEG-4 takes a whole number from 1 (best) to 31 (smallest)"},
        {{"-o", "a.mp4", "--quality", "52"},
         "--quality 52: H.264 takes a whole number from 0 (best) to 51 (smallest)"},
        {{"-o", "a", "--fps", "10"},
         "Could not open the output video a: -o: the name has no extension to choose a video "
         "format by"},
        {{"--color-by", "scale"}, "ok fps 25 by scale"},
        {{"--color-by", "none"}, "ok fps 25"},
        {{"--color-by", "size"}, "--color-by size: give scale (or none for yellow circles)"},
        {{"--fps", "0", "--color-by", "size"}, "--fps 0" + fps}};
    // clang-format on
    for (const auto& [args, expected] : cases) {
        OptionTable table;
        parseArgs(table, args);
        ViewerSettings s;
        s.outputFile = table.getOr("-o", 0, "");
        std::string problem, got;
        if (!readOutputSettings(table, s, problem)) {
            got = problem;
        } else if (s.fpsFromSource) {
            got = "ok source";
        } else if (s.bitRate) {
            got = "ok rate " + std::to_string(*s.bitRate);
        } else if (s.quality) {
            got = "ok quality " + std::to_string(*s.quality);
        } else {
            std::ostringstream text;
            text << "ok fps " << s.fps << (s.colours == CircleColours::ByScale ? " by scale" : "");
            got = text.str();
        }
        EXPECT_EQ(got, expected) << testing::PrintToString(args);
    }
}

}  // namespace
}  // namespace stview
