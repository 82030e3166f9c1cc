#include "features/features_file.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/reference_features.hpp"

namespace stview {
namespace {

// Random lines in the forms a stream accepts (and a few it does not), checked
// against the getline-and-istringstream reader record by record.
TEST(ParseFeatures, AgreesWithStreamExtraction) {
    std::mt19937 random(7);
    const char* separators[] = {" ", "\t", "  ", " \t "};
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto integer = [&] {
        const char* signs[] = {"", "", "-", "+"};
        return std::string(signs[pick(4)]) + std::to_string(random() % 100000);
    };
    auto real = [&] {
        const char* signs[] = {"", "-", "+"};
        const std::string whole = std::to_string(random() % 1000);
        const std::string part = std::to_string(random() % 1000);
        const std::string exponent = std::to_string(random() % 320);
        std::ostringstream tiny;  // subnormals and other long digit strings
        tiny << std::ldexp(static_cast<double>(random()), -pick(1000));
        const std::string forms[] = {whole,       whole + "." + part,      "." + part,
                                     whole + ".", whole + "e-" + exponent, part + "E+" + exponent,
                                     tiny.str()};
        return signs[pick(3)] + forms[pick(7)];
    };
    std::string text;
    for (int line = 0; line < 4000; ++line) {
        std::string fields[7] = {integer(), integer(), integer(), integer(),
                                 real(),    real(),    real()};
        if (pick(50) == 0) fields[pick(7)] = pick(2) ? "1e" : "x";
        for (int i = 0; i < 7; ++i) text += (i ? separators[pick(4)] : "") + fields[i];
        if (pick(4) == 0) text += " 1 2 extra";
        text += pick(3) == 0 ? "\r\n" : "\n";
    }
    std::istringstream in(text);
    const FeatureList expected = reference::readFeatures(in);
    FeatureParseReport report;
    const FeatureList actual = parseFeatures(text, report);
    // Written in the shortest form that reads back to the same double: equal text, equal bits.
    std::ostringstream actualText, expectedText;
    writeFeatures(actualText, actual);
    writeFeatures(expectedText, expected);
    EXPECT_EQ(actual.size(), expected.size());
    EXPECT_EQ(actualText.str(), expectedText.str());
}

// Comments, blank lines, line ends, a byte order mark, and what counts as malformed.
TEST(ParseFeatures, CountsRecordsAndSkippedLines) {
    // Text, then the records read, the lines skipped and the first of them.
    const std::pair<const char*, const char*> cases[] = {
        {"# 9 9 9 9 9 9 9\n1 2 3 4 5 6 7 8 9 10\r\n\n   \t\r\n # 1 2 3 4 5 6 7\n2 3 4 5 6 7 8",
         "2 1 5"},  // a blank before '#' makes it no comment; no final line break
        {"# a\n# b", "0 0 0"},
        {"", "0 0 0"},
        {"1 2 3 4 5 6 7\n1 2 3 4 5 6\n1 2 x 4 5 6 7\n1 2 3 4 nan 6 7\n1 2 3 4 1e 6 7\n"
         "1 2 3 9999999999 5 6 7\n1 2 3 4 1e400 6 7\n1 2 3 .5 6 7 8\n3 2 3 4 5 6 7\n",
         "2 7 2"},  // short, not a number, nan, 1e, beyond int or double, a real for an int
        {"\xEF\xBB\xBF# comment\n1 2 3 4 5 6 7\n", "1 0 0"},
        {"\xEF\xBB\xBF\x31 2 3 4 5 6 7\n", "1 0 0"},
    };
    for (const auto& [text, expected] : cases) {
        FeatureParseReport report;
        const std::size_t points = parseFeatures(text, report).size();
        EXPECT_EQ(std::to_string(points) + " " + std::to_string(report.skippedLines) + " " +
                      std::to_string(report.skippedLines ? report.firstSkippedLine : 0),
                  expected)
            << text;
    }
}

TEST(LoadFeatures, MessagesForMissingFilesAndSkippedLines) {
    for (const std::string path : {"/nonexistent/features.txt", "/tmp"}) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(loadFeatures(path).empty());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to open file " + path + "\n");
    }
    const std::string path = testing::TempDir() + "features_load_test.txt";
    std::ofstream(path) << "# header\n1 2 3 4 5 6 7\nbroken\n2 3 4 5 6 7 8\n";
    testing::internal::CaptureStderr();
    const FeatureList points = loadFeatures(path);
    const std::string err = testing::internal::GetCapturedStderr();
    std::remove(path.c_str());
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].id, 2);
    EXPECT_NE(err.find("Skipped 1 line"), std::string::npos) << err;
    EXPECT_NE(err.find("line 3"), std::string::npos) << err;
}

}  // namespace
}  // namespace stview
