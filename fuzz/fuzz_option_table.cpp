// Fuzz target for OptionTable: the bytes, split at NUL bytes, are the arguments after the
// program name. Checks the table against the arguments it was parsed from.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "viewer/option_table.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
    (void)what;  // visible in the stack trace of the abort
    std::abort();
}

// argc counts the program name; each value is one of the other arguments.
void checkName(const stview::OptionTable& table, const std::string& name, bool expectEntry,
               const std::set<std::string>& arguments, int argc) {
    const char* n = name.c_str();
    const bool has = table.has(n);
    const int count = table.count(n);
    if (has != expectEntry) fail("has() disagrees with the option-like arguments");
    if ((count == -1) != !has) fail("count() is -1 exactly when has() is false");
    if (count < -1) fail("count() below -1");
    if (count >= argc) fail("more values than arguments");
    // The boundary indices decide the invariant; exceptions are slow under the sanitizers.
    const unsigned values = static_cast<unsigned>(count < 0 ? 0 : count);
    std::vector<unsigned> indices{0u, 0xFFFFFFFFu};
    if (count > 0) indices.insert(indices.end(), {values - 1, values});
    for (unsigned index : indices) {
        bool threw = false;
        std::string value;
        try {
            value = table.get(n, index);
        } catch (int code) {
            if (code != 0) fail("get() threw an int other than 0");
            threw = true;
        }
        const bool absent = count < 0 || index >= static_cast<unsigned>(count);
        if (threw != absent) fail("get() throws exactly when the index is not below count()");
        std::string fallbackValue;
        std::string withNull;
        try {
            fallbackValue = table.getOr(n, index,
                                        "\x01"
                                        "fallback");
            withNull = index == 0 ? table.getOr(n, index, nullptr) : value;
        } catch (...) {
            fail("getOr() threw");
        }
        if (threw) {
            if (fallbackValue !=
                    "\x01"
                    "fallback" ||
                !withNull.empty())
                fail("getOr() does not give the fallback for an absent value");
        } else {
            if (fallbackValue != value || withNull != value)
                fail("getOr() differs from get() for a present value");
            if (arguments.count(value) == 0) fail("a value that is no argument");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"prog"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0) args.push_back(current);

    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());

    std::set<std::string> options;
    std::set<std::string> arguments(args.begin() + 1, args.end());
    for (std::size_t i = 1; i < args.size(); ++i)
        if (stview::OptionTable::isOptionLike(args[i].c_str())) options.insert(args[i]);

    stview::OptionTable table;
    table.parse(2, std::vector<const char*>{"prog", "-stale"}.data());
    const int entries = table.parse(argc, argv.data());
    if (entries != static_cast<int>(options.size()))
        fail("parse() returns the number of distinct option-like arguments");
    if (table.has("-stale") && options.count("-stale") == 0) fail("parse() kept an old entry");

    // Every argument, and as near misses a prefix and an extension of it: each is an entry
    // exactly when it is itself an option-like argument.
    std::set<std::string> names;
    for (const std::string& a : arguments) {
        names.insert(a);
        if (!a.empty()) names.insert(a.substr(0, a.size() - 1));
        names.insert(a + "x");
    }
    for (const std::string& name : names)
        checkName(table, name, options.count(name) != 0, arguments, argc);
    if (stview::OptionTable::isOptionLike(nullptr)) fail("null is option-like");
    return 0;
}
