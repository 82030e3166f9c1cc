#pragma once

// Runs a program with a given argument list and environment, capturing its
// standard output and standard error separately. No shell is involved, so
// arguments may hold any bytes.

#include <functional>
#include <string>
#include <vector>

namespace stview::testing_support {

struct RunResult {
    int status = -1;  ///< exit status, or 128 + signal when killed by one
    bool signalled = false;
    std::string out;
    std::string err;
};

/// @p environment replaces the whole environment ("NAME=value" entries).
/// While the program runs, @p interruptWhen is polled every few milliseconds;
/// the first time it returns true the program gets SIGINT.
RunResult runBinary(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& environment, int timeoutSeconds = 120,
                    const std::function<bool()>& interruptWhen = {});

/// The current environment without the given variables, plus @p extra.
std::vector<std::string> environmentWithout(const std::vector<std::string>& names,
                                            const std::vector<std::string>& extra = {});

}  // namespace stview::testing_support
