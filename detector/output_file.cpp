#include "detector/output_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace stview {
namespace {

mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::runtime_error failure(const std::string& what, const std::string& name) {
    return std::runtime_error(what + " " + name + ": " + std::strerror(errno));
}

}  // namespace

OutputFile::OutputFile(const std::string& name) : name_(name) {
    if (name == "-") return;
    const std::size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string pattern = folder + "." + base + ".partial-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    const int fd = mkstemp(path.data());
    if (fd < 0) throw failure("cannot create the output", name);
    temporary_ = path.data();
    // The destructor does not run for a constructor that throws: the temporary file made
    // above is removed here, the cause kept for the message.
    const auto abandon = [&](const char* what) {
        const int cause = errno;
        std::remove(temporary_.c_str());
        errno = cause;
        return failure(what, name);
    };
    const bool moded = fchmod(fd, newFileMode()) == 0;
    const int cause = errno;
    close(fd);
    errno = cause;
    if (!moded) throw abandon("cannot set the permissions of the output");
    file_.open(temporary_, std::ios::binary | std::ios::trunc);
    if (!file_) throw abandon("cannot write the output");
}

OutputFile::~OutputFile() {
    if (!committed_ && !temporary_.empty()) std::remove(temporary_.c_str());
}

std::ostream& OutputFile::stream() { return temporary_.empty() ? std::cout : file_; }

void OutputFile::commit() {
    std::ostream& out = stream();
    out.flush();
    if (!out) throw failure("cannot write the output", name_);
    if (temporary_.empty()) {
        committed_ = true;
        return;
    }
    file_.close();
    if (file_.fail()) throw failure("cannot write the output", name_);
    if (std::rename(temporary_.c_str(), name_.c_str()) != 0) {
        throw failure("cannot rename the finished output to", name_);
    }
    committed_ = true;
}

}  // namespace stview
