// Fuzz target for OptionTable: the bytes, split at NUL bytes, are the arguments after the program
// name. Checks the rules of its header: entries, first values, plain values, the end of a list.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

#include "viewer/option_table.hpp"

namespace {

void check(bool ok) { ok ? void() : std::abort(); }  // the stack trace names the line

bool optionLike(const std::string& a) {
    return a.size() >= 2 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"prog", ""};
    for (std::size_t i = 0; i < size; ++i)
        data[i] ? args.back().push_back(char(data[i])) : args.emplace_back().clear();
    if (size == 0) args.pop_back();
    std::vector<const char*> argv;
    std::set<std::string> options, names{"-stale"};
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
        if (optionLike(a)) options.insert(a);
        names.insert({a, a + "x"});  // and a near miss
    }
    stview::OptionTable table;
    const char* stale[] = {"prog", "-stale", "value"};
    table.parse(3, stale);
    check(table.parse(int(args.size()), argv.data()) == int(options.size()));
    for (std::size_t i = 1; i + 1 < args.size(); ++i)  // the first occurrence's first value
        if (optionLike(args[i]) && !optionLike(args[i + 1]) && !args[i + 1].empty() &&
            std::find(args.begin(), args.begin() + i, args[i]) == args.begin() + i)
            check(table.get(args[i].c_str(), 0) == args[i + 1]);
    for (const std::string& name : names) {
        const char* n = name.c_str();
        const int count = table.count(n);
        check(table.has(n) == (options.count(name) == 1) && (count == -1) == !table.has(n) &&
              count < int(args.size()));
        for (int i = 0; i < count; ++i)
            check(!optionLike(table.get(n, i)) && table.getOr(n, i, "") == table.get(n, i));
        const unsigned past = count;  // the end, or the largest index when absent
        check(table.getOr(n, past, "\x01") == "\x01" && table.getOr(n, past, nullptr).empty());
    }
    return 0;
}
