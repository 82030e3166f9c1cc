#include "features/features_file.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/reference_features.hpp"

namespace stview {
namespace {

FeatureList parse(const std::string& text, FeatureParseReport* out = nullptr) {
    FeatureParseReport report;
    FeatureList points = parseFeatures(text, report);
    if (out != nullptr) *out = report;
    return points;
}

void expectSameNumbers(const FeaturePoint& a, const FeaturePoint& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.t, b.t);
    // Bit-for-bit: both sides must convert the same text to the same double.
    EXPECT_EQ(std::memcmp(&a.spatialVariance, &b.spatialVariance, sizeof(double)), 0)
        << a.spatialVariance << " vs " << b.spatialVariance;
    EXPECT_EQ(std::memcmp(&a.temporalVariance, &b.temporalVariance, sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(&a.value, &b.value, sizeof(double)), 0);
}

TEST(ParseFeatures, ReadsTheSevenNumbersOfALine) {
    const FeatureList points = parse("0 120 45 33 8.0 2.0 1.5e-3\n");
    ASSERT_EQ(points.size(), 1u);
    const FeaturePoint& p = points[0];
    EXPECT_EQ(p.id, 0);
    EXPECT_EQ(p.x, 120);
    EXPECT_EQ(p.y, 45);
    EXPECT_EQ(p.t, 33);
    EXPECT_EQ(p.spatialVariance, 8.0);
    EXPECT_EQ(p.temporalVariance, 2.0);
    EXPECT_EQ(p.value, 0.0015);
    EXPECT_TRUE(p.flag);
    EXPECT_TRUE(p.label.empty());
}

TEST(ParseFeatures, CommentsBlankLinesAndLineEnds) {
    FeatureParseReport report;
    const std::string text =
        "# 9 9 9 9 9 9 9\n"
        "1 2 3 4 5 6 7 8 9 10\r\n"
        "\n"
        "   \t\r\n"
        " # 1 2 3 4 5 6 7\n"
        "2 3 4 5 6 7 8";  // no final line break
    const FeatureList points = parse(text, &report);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].id, 1);
    EXPECT_EQ(points[0].value, 7.0);  // extra columns ignored
    EXPECT_EQ(points[1].id, 2);
    EXPECT_EQ(points[1].value, 8.0);
    // A blank before '#' makes it no comment: that line is malformed.
    EXPECT_EQ(report.skippedLines, 1u);
    EXPECT_EQ(report.firstSkippedLine, 5u);
}

TEST(ParseFeatures, OnlyCommentsWithoutFinalBreakGiveNothing) {
    FeatureParseReport report;
    EXPECT_TRUE(parse("# a\n# b", &report).empty());
    EXPECT_EQ(report.skippedLines, 0u);
    EXPECT_TRUE(parse("", &report).empty());
}

TEST(ParseFeatures, MalformedLinesAreSkippedAndCounted) {
    FeatureParseReport report;
    const FeatureList points = parse(
        "1 2 3 4 5 6 7\n"
        "1 2 3 4 5 6\n"             // short
        "1 2 x 4 5 6 7\n"           // not a number
        "1 2 3 4 nan 6 7\n"         // stream extraction reads no nan
        "1 2 3 4 1e 6 7\n"          // dangling exponent
        "1 2 3 9999999999 5 6 7\n"  // beyond int
        "1 2 3 4 1e400 6 7\n"       // beyond double
        "3 2 3 4 5 6 7\n",
        &report);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].id, 3);
    EXPECT_EQ(report.skippedLines, 6u);
    EXPECT_EQ(report.firstSkippedLine, 2u);
}

TEST(ParseFeatures, ByteOrderMarkIsIgnored) {
    for (const char* text : {"\xEF\xBB\xBF# comment\n1 2 3 4 5 6 7\n",
                             "\xEF\xBB\xBF"
                             "1 2 3 4 5 6 7\n"}) {
        EXPECT_EQ(parse(text).size(), 1u);
    }
}

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
    const FeatureList actual = parse(text);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        SCOPED_TRACE(i);
        expectSameNumbers(actual[i], expected[i]);
    }
}

TEST(LoadFeatures, MissingFileOrFolderGivesMessageAndEmptyList) {
    for (const std::string path : {"/nonexistent/features.txt", "/tmp"}) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(loadFeatures(path).empty());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to open file " + path + "\n");
    }
}

TEST(LoadFeatures, ReadsAFileAndReportsSkippedLines) {
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
