#pragma once

#include <fstream>
#include <ostream>
#include <string>

namespace stview {

/**
 * @brief A file that appears under its name only once it is complete: written to a
 * temporary file beside it, renamed over the name by commit(). Until then an existing file
 * of that name is untouched; a destroyed, uncommitted output removes its temporary file. The
 * file gets the permissions a newly created file would get (0666 less the umask). The name
 * "-" writes to standard output directly.
 */
class OutputFile {
  public:
    /// @throws std::runtime_error naming the file when the temporary file cannot be created.
    explicit OutputFile(const std::string& name);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::ostream& stream();
    /// Flushes, checks that every write succeeded and renames; @throws std::runtime_error.
    void commit();

  private:
    std::string name_;
    std::string temporary_;  // empty for standard output
    std::ofstream file_;
    bool committed_ = false;
};

}  // namespace stview
