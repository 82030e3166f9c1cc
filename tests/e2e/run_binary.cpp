#include "tests/e2e/run_binary.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace stview::testing_support {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

RunResult runBinary(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& environment, int timeoutSeconds,
                    const std::function<bool()>& interruptWhen) {
    char outPath[] = "/tmp/stview-e2e-out-XXXXXX";
    char errPath[] = "/tmp/stview-e2e-err-XXXXXX";
    const int outFd = mkstemp(outPath);
    const int errFd = mkstemp(errPath);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = environment;
    std::vector<char*> argPointers = pointers(argv);
    std::vector<char*> envPointers = pointers(envp);

    const pid_t child = fork();
    if (child == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        execve(program.c_str(), argPointers.data(), envPointers.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
    RunResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool interrupted = false;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (!interrupted && interruptWhen && interruptWhen()) {
            kill(child, SIGINT);
            interrupted = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signalled = true;
        result.status = 128 + WTERMSIG(status);
    }
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    unlink(outPath);
    unlink(errPath);
    return result;
}

std::vector<std::string> environmentWithout(const std::vector<std::string>& names,
                                            const std::vector<std::string>& extra) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool dropped = false;
        for (const std::string& name : names) {
            dropped = dropped || text.compare(0, name.size() + 1, name + "=") == 0;
        }
        if (!dropped) result.push_back(text);
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

}  // namespace stview::testing_support
