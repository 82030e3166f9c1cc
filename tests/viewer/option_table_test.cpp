#include "viewer/option_table.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace stview {
namespace {

using Values = std::vector<std::string>;

struct ParseCase {
    const char* title;
    std::vector<const char*> args;  // without the program name
    int entries;
    std::map<std::string, Values> expected;  // every entry the table must hold
};

int parseArgs(OptionTable& table, const std::vector<const char*>& args) {
    std::vector<const char*> argv{"stview"};
    argv.insert(argv.end(), args.begin(), args.end());
    return table.parse(static_cast<int>(argv.size()), argv.data());
}

Values valuesOf(const OptionTable& table, const std::string& name) {
    Values values;
    for (int i = 0; i < table.count(name.c_str()); ++i) {
        values.push_back(table.get(name.c_str(), static_cast<unsigned>(i)));
    }
    return values;
}

const ParseCase kParseCases[] = {
    {"no arguments", {}, 0, {}},
    {"only plain arguments", {"a", "b"}, 0, {}},
    {"values follow their option", {"-v", "a", "b"}, 1, {{"-v", {"a", "b"}}}},
    {"option as last argument", {"-v"}, 1, {{"-v", {}}}},
    {"option right behind option", {"-v", "-f", "x"}, 2, {{"-v", {}}, {"-f", {"x"}}}},
    {"negative number is a value", {"-ff", "-5"}, 1, {{"-ff", {"-5"}}}},
    {"lone minus before any option", {"-", "-v", "a"}, 1, {{"-v", {"a"}}}},
    {"first occurrence wins", {"-v", "a", "-v", "b", "c"}, 1, {{"-v", {"a", "c"}}}},
    {"repeat without value loses the next", {"-v", "-v", "x"}, 1, {{"-v", {}}}},
    {"empty right behind option is dropped", {"-v", "", "b"}, 1, {{"-v", {"b"}}}},
    {"empty further on is kept", {"-v", "a", ""}, 1, {{"-v", {"a", ""}}}},
    {"plain before option ignored", {"x", "-p"}, 1, {{"-p", {}}}},
    {"names are case-sensitive", {"-V", "a", "-v", "b"}, 2, {{"-V", {"a"}}, {"-v", {"b"}}}},
    {"high bytes are not digits", {"-\xC3\xA9", "1"}, 1, {{"-\xC3\xA9", {"1"}}}},
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.title; }

class OptionTableParse : public testing::TestWithParam<ParseCase> {};

TEST_P(OptionTableParse, HoldsExactlyTheExpectedEntries) {
    const ParseCase& c = GetParam();
    OptionTable table;
    EXPECT_EQ(parseArgs(table, c.args), c.entries);
    for (const auto& [name, values] : c.expected) {
        EXPECT_TRUE(table.has(name.c_str())) << name;
        EXPECT_EQ(valuesOf(table, name), values) << name;
    }
    for (const char* absent : {"-h", "-x", "--v", "-"}) {
        if (c.expected.count(absent) == 0) {
            EXPECT_EQ(table.count(absent), -1) << absent;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, OptionTableParse, testing::ValuesIn(kParseCases),
                         [](const testing::TestParamInfo<ParseCase>& info) {
                             std::string name;
                             for (const char* p = info.param.title; *p != '\0'; ++p) {
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             }
                             return name;
                         });

TEST(OptionTableGet, ThrowsIntZeroForEveryMiss) {
    OptionTable table;
    parseArgs(table, {"-v", "a", "b", "-p"});
    EXPECT_EQ(table.get("-v", 1), "b");
    for (const auto& [name, index] : std::vector<std::pair<const char*, unsigned>>{
             {"-v", 2}, {"-v", static_cast<unsigned>(-1)}, {"-p", 0}, {"-f", 0}}) {
        try {
            table.get(name, index);
            ADD_FAILURE() << name << " " << index << " did not throw";
        } catch (int code) {
            EXPECT_EQ(code, 0);
        }
    }
    EXPECT_EQ(table.count("-v"), 2);  // lookups leave the table alone
}

TEST(OptionTableGet, GetOrFallsBack) {
    OptionTable table;
    parseArgs(table, {"-v", "a"});
    EXPECT_EQ(table.getOr("-v", 0, "z"), "a");
    EXPECT_EQ(table.getOr("-v", 1, "z"), "z");
    EXPECT_EQ(table.getOr("-f", 0, "z"), "z");
    EXPECT_EQ(table.getOr("-f", 0, nullptr), "");
}

TEST(OptionTableParse, SecondParseReplacesTheFirst) {
    OptionTable table;
    parseArgs(table, {"-v", "a", "-f", "b"});
    EXPECT_EQ(parseArgs(table, {"-o", "c"}), 1);
    EXPECT_FALSE(table.has("-v"));
    EXPECT_EQ(valuesOf(table, "-o"), Values{"c"});
}

TEST(OptionTableParse, KeepsNoReferenceIntoTheArguments) {
    OptionTable table;
    std::string value = "video.avi";
    std::vector<const char*> argv{"stview", "-v", value.c_str()};
    table.parse(3, argv.data());
    value.assign("XXXXXXXXX");
    EXPECT_EQ(table.get("-v", 0), "video.avi");
}

TEST(OptionTableIsOptionLike, FollowsTheFourRules) {
    for (const char* yes : {"-v", "-ff", "--help", "-\x80", "-.5"}) {
        EXPECT_TRUE(OptionTable::isOptionLike(yes)) << yes;
    }
    for (const char* no : {"-", "-5", "-0x", "v", "", "+v"}) {
        EXPECT_FALSE(OptionTable::isOptionLike(no)) << no;
    }
    EXPECT_FALSE(OptionTable::isOptionLike(nullptr));
}

}  // namespace
}  // namespace stview
