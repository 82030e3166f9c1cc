#pragma once

#include <map>
#include <string>
#include <vector>

namespace stview {

/**
 * @brief The command line as a table from option names to their values.
 *
 * An argument is option-like when it is at least two bytes long, starts with
 * '-' and its second byte is not a decimal digit, so "-5" is a value. An option
 * takes the plain argument right behind it as its first value and every further
 * plain argument as another value; plain arguments before the first option are
 * ignored, and the first occurrence of a repeated option wins.
 */
class OptionTable {
  public:
    /// Replaces the table by the options of argv[1..argc-1]; returns the number of entries.
    int parse(int argc, const char* const* argv);
    /// True when an entry has exactly this name.
    bool has(const char* name) const;
    /// Number of values of the option, or -1 when it is absent.
    int count(const char* name) const;
    /// Copy of the value at @p index; throws the int 0 when the option or value is absent.
    std::string get(const char* name, unsigned index) const;
    /// The value at @p index, or @p fallback (empty when null) when there is none.
    std::string getOr(const char* name, unsigned index, const char* fallback) const;
    /// The option-like test; null is not option-like.
    static bool isOptionLike(const char* text);

  private:
    // std::string compares as unsigned bytes, a prefix sorting first.
    std::map<std::string, std::vector<std::string>> entries_;
};

}  // namespace stview
